// Registration with the print spooler: the driver's data file, the printer
// driver, the port monitor and the printer, then the printer check.
#include "common/text.hpp"
#include "installer/installer.hpp"

namespace vz::inst {
namespace {

constexpr std::uint32_t kDriverVersion = 0x400;
constexpr std::uint32_t kErrorDriverExists = 1795;   // ERROR_PRINTER_DRIVER_ALREADY_INSTALLED
constexpr std::uint32_t kErrorPrinterExists = 1802;  // ERROR_PRINTER_ALREADY_EXISTS

// Windows NT 3.5x: major version 3, minor at most 51.
bool IsNt35(const OsVersion& v) { return v.major == 3 && v.minor <= 51; }

}  // namespace

std::string Installer::DriverDirectoryWithSlash() {
  return JoinPath(sys_.PrinterDriverDirectory().value_or(std::string()), "");
}

void Installer::InstallFileInto(const std::string& fileName, const std::string& targetDirectory) {
  const std::uint32_t result = sys_.InstallVersionedFile(fileName, settings_.sourceDirectory, targetDirectory);
  // An older source or a file in use leaves the file already there, which will do.
  if (result == 0 || (result & (kVifSrcOld | kVifFileInUse)) != 0) return;
  if (result & kVifCannotReadSrc) throw NotFoundException();
  throw CantCopyException();
}

void Installer::RegisterFaxPrinter() {
  settings_.portName = "PRINTFAX:";
  settings_.comment.clear();
  settings_.serverName.clear();
  settings_.printProcessor = "WinPrint";
  settings_.datatype = "RAW";
  if (installError_ != 0) return;

  const std::string driverDir = DriverDirectoryWithSlash();
  InstallFileInto("APFPDENT.DLL", sys_.PrinterDriverDirectory().value_or(std::string()));

  DriverInfo2 driver;
  driver.version = kDriverVersion;
  driver.name = kDriverName;
  driver.driverPath = Clip255(driverDir + "RASDD.DLL");
  driver.dataFile = Clip255(driverDir + "APFPDENT.DLL");
  driver.configFile = Clip255(driverDir + "RASDDUI.DLL");
  const std::uint32_t driverError = sys_.SpoolerAddDriver(driver);
  if (driverError != 0 && driverError != kErrorDriverExists)
    throw Exception(Format("Failed to add printer driver. Reason: %d", static_cast<int>(driverError)));

  RegisterMonitor();

  PrinterInfo2 printer;
  printer.serverName = settings_.serverName;
  printer.printerName = kPrinterName;
  printer.portName = settings_.portName;
  printer.driverName = kDriverName;
  printer.comment = settings_.comment;
  printer.printProcessor = settings_.printProcessor;
  printer.datatype = settings_.datatype;
  const std::uint32_t printerError = sys_.SpoolerAddPrinter(printer);
  if (printerError != 0 && printerError != kErrorPrinterExists)
    throw Exception(Format("Failed to add printer. Reason: %d", static_cast<int>(printerError)));
}

void Installer::RegisterMonitor() {
  const std::string systemDir = sys_.SystemDirectory().value_or(std::string());
  const OsVersion version = sys_.Version().value_or(OsVersion{});
  const bool nt35 = IsNt35(version);
  const std::string monitorDll = nt35 ? "APFMON35.DLL" : "APFMON40.DLL";
  const auto isFile = [&](const std::string& name) {
    const std::optional<std::uint32_t> attributes = sys_.FileAttributes(JoinPath(systemDir, name));
    return attributes && (*attributes & kAttrDirectory) == 0;
  };
  if (!(isFile("APFAXCNV.DLL") && isFile(monitorDll))) {
    InstallFileInto(monitorDll, systemDir);
    InstallFileInto("APFAXCNV.DLL", systemDir);
  }
  // Registered with this version's names even when the files were there already,
  // so a monitor whose files were copied by hand becomes known too. A monitor the
  // spooler knows already, or refuses, does not stop the run.
  MonitorInfo2 monitor;
  monitor.name = nt35 ? "APFMON35" : "APFMON40";
  monitor.environment = kMonitorEnvironment;
  monitor.dllName = monitorDll;
  sys_.SpoolerAddMonitor(monitor);
}

bool Installer::CheckFaxPrinter() {
  const std::string path = DriverDirectoryWithSlash() + "APFPDENT.DLL";
  std::uint32_t error = 0;
  const std::unique_ptr<LoadedLibrary> library = sys_.OpenLibrary(path, error);
  if (!library) throw Exception(Format("Unable to load driver DLL. Reason:%d", static_cast<int>(error)));
  return sys_.CreateInformationContext("WINSPOOL", kPrinterName, settings_.portName);
}

}  // namespace vz::inst
