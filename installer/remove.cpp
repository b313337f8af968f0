// PDINSTALL /remove: takes off what a run of the installer put on, in the order
// that leaves nothing pointing at something already gone.
#include <algorithm>

#include "common/text.hpp"
#include "installer/installer.hpp"

namespace vz::inst {
namespace {

constexpr std::uint32_t kErrorNotFound = 2;             // ERROR_FILE_NOT_FOUND
constexpr std::uint32_t kErrorInvalidPrinter = 1801;    // ERROR_INVALID_PRINTER_NAME
constexpr std::uint32_t kErrorUnknownDriver = 1797;     // ERROR_UNKNOWN_PRINTER_DRIVER
constexpr std::uint32_t kErrorUnknownMonitor = 3000;    // ERROR_UNKNOWN_PRINT_MONITOR
constexpr const char* kMonitorNames[] = {"APFMON40", "APFMON35"};

bool SameName(const std::string& a, const std::string& b) { return UpperAscii(a) == UpperAscii(b); }

// The port names of a printer's comma-separated port list, blanks trimmed.
std::vector<std::string> PortsOf(const std::string& list) {
  std::vector<std::string> ports;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    std::string port = list.substr(start, end - start);
    port.erase(0, port.find_first_not_of(' '));
    port.erase(port.find_last_not_of(' ') + 1);
    if (!port.empty()) ports.push_back(port);
    start = end + 1;
  }
  return ports;
}

}  // namespace

bool AsksForRemoval(const std::string& commandLine) {
  std::size_t pos = 0;
  while (pos < commandLine.size()) {
    const std::size_t start = commandLine.find_first_not_of(" \t", pos);
    if (start == std::string::npos) break;
    std::size_t end = commandLine.find_first_of(" \t", start);
    if (end == std::string::npos) end = commandLine.size();
    if (SameName(commandLine.substr(start, end - start), "/remove")) return true;
    pos = end;
  }
  return false;
}

int Remover::Run() {
  if (!CloseController() || !RemovePrinter()) return 1;
  // The fax printer is gone: whatever printer is left is another one.
  std::vector<PrinterUse> others;
  if (!ListPrinters(std::string("the printer driver \"") + kDriverName + "\"", others)) return 1;
  if (!RemoveDriver(others) || !RemoveMonitors(others) || !RemoveAutoExec() || !RemoveLocationKeys() ||
      !RemoveMarker())
    return 1;
  return 0;
}

bool Remover::Refuse(const std::string& what, std::uint32_t error) {
  sys_.ShowErrorBox("Could not remove " + what + ".\r" + sys_.ErrorText(error) + " (error " +
                    std::to_string(error) + ")");
  return false;
}

bool Remover::ListPrinters(const std::string& what, std::vector<PrinterUse>& printers) {
  const std::uint32_t error = sys_.SpoolerPrinters(printers);
  return error == 0 || Refuse(what + ": the list of printers could not be read", error);
}

bool Remover::CloseController() {
  if (sys_.CloseProgram(kControllerFile, "TMainForm", "MainForm") != CloseOutcome::kStillRunning) return true;
  sys_.ShowErrorBox(std::string("Could not remove the fax printer while ") + kControllerFile +
                    " is running.\rIt was asked to close but did not end. Nothing was removed.");
  return false;
}

bool Remover::RemovePrinter() {
  const std::uint32_t error = sys_.SpoolerDeletePrinter(kPrinterName);
  return error == 0 || error == kErrorInvalidPrinter ||
         Refuse(std::string("the printer \"") + kPrinterName + "\"", error);
}

bool Remover::RemoveDriver(const std::vector<PrinterUse>& others) {
  const bool used = std::any_of(others.begin(), others.end(),
                                [](const PrinterUse& p) { return SameName(p.driverName, kDriverName); });
  if (used) return true;
  const std::uint32_t error = sys_.SpoolerDeleteDriver(kDriverName);
  return error == 0 || error == kErrorUnknownDriver ||
         Refuse(std::string("the printer driver \"") + kDriverName + "\"", error);
}

bool Remover::RemoveMonitors(const std::vector<PrinterUse>& others) {
  std::vector<PortOwner> ports;
  if (const std::uint32_t error = sys_.SpoolerPorts(ports); error != 0)
    return Refuse("the port monitor: the list of ports could not be read", error);
  for (const char* monitor : kMonitorNames) {
    const auto usesMonitor = [&](const PrinterUse& printer) {
      for (const std::string& port : PortsOf(printer.ports))
        for (const PortOwner& owner : ports)
          if (SameName(owner.port, port) && SameName(owner.monitor, monitor)) return true;
      return false;
    };
    if (std::any_of(others.begin(), others.end(), usesMonitor)) continue;
    const std::uint32_t error = sys_.SpoolerDeleteMonitor(kMonitorEnvironment, monitor);
    if (error != 0 && error != kErrorUnknownMonitor)
      return Refuse(std::string("the port monitor \"") + monitor + "\"", error);
  }
  return true;
}

bool Remover::RemoveAutoExec() {
  const std::uint32_t error = sys_.DeleteLocalMachineValue(kAutoExecKey, "AutoExec");
  return error == 0 || error == kErrorNotFound ||
         Refuse(std::string("the registry value AutoExec of HKEY_LOCAL_MACHINE\\") + kAutoExecKey, error);
}

bool Remover::RemoveLocationKeys() {
  const std::optional<std::string> windowsDir = sys_.WindowsDirectory();
  // Without the file there is nothing to take out, and deleting from it would create it.
  if (windowsDir && !sys_.FileAttributes(JoinPath(*windowsDir, kSettingsFile))) return true;
  for (const char* key : {"VZOutPath", "VZExecutable"}) {
    if (const std::uint32_t error = sys_.DeleteProfileEntry(kSettingsFile, "Location", key); error != 0)
      return Refuse(std::string("the key ") + key + " of [Location] in " + kSettingsFile, error);
  }
  // A section the installer alone filled goes with its keys; other keys keep it.
  if (!sys_.ReadProfileKeys(kSettingsFile, "Location").empty()) return true;
  const std::uint32_t error = sys_.DeleteProfileEntry(kSettingsFile, "Location", "");
  return error == 0 || Refuse(std::string("the empty section [Location] of ") + kSettingsFile, error);
}

bool Remover::RemoveMarker() {
  const std::string path = DirectoryOf(sys_.ModulePath()) + "PDOK.DAT";
  const std::uint32_t error = sys_.RemoveFile(path);
  return error == 0 || error == kErrorNotFound || Refuse(path, error);
}

}  // namespace vz::inst
