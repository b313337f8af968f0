#pragma once
// A recording Windows for the installer: directories, files with attributes,
// INI/INF contents, a spooler with chosen refusals, the file installer, a
// registry, an expand tool that "expands" into the files it was given, queued
// answers to the open-file dialog, and every box. `log` keeps the calls in order.
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/text.hpp"
#include "installer/installer_system.hpp"

namespace vz::test {

using namespace vz::inst;

class FakeInstallerSystem : public InstallerSystem {
 public:
  std::string modulePath = "C:\\FAXPROD\\PDINSTALL.EXE";
  std::optional<OsVersion> version = OsVersion{kPlatformWindowsNt, 4, 0};
  std::optional<std::string> driverDir = std::string("C:\\WINNT\\system32\\spool\\drivers\\w32x86");
  std::optional<std::string> systemDir = std::string("C:\\WINNT\\system32");
  std::optional<std::string> windowsDir = std::string("C:\\WINNT");
  std::string currentDir = "C:\\FAXPROD\\";
  std::set<std::string> sourceFiles{"APFPDENT.DLL", "APFAXCNV.DLL", "APFMON35.DLL", "APFMON40.DLL"};
  std::map<std::string, std::uint32_t> verResults;  // file name -> forced result
  std::uint32_t driverError = 0, monitorError = 0, printerError = 0;
  std::uint32_t loadError = 0;  // 0: the library loads
  bool icResult = true;
  bool registryFails = false;
  std::set<std::string> failingProfileKeys;
  bool markerFails = false;
  bool expandStarts = true;
  bool expandWorks = true;
  std::set<std::string> diskFiles;  // upper-case full paths the expand tool can read
  std::deque<std::optional<std::string>> openAnswers;

  // What the removal finds: the spooler's printers, ports, drivers and monitors,
  // forced refusals keyed "printer NAME", "driver NAME", "monitor NAME",
  // "value NAME", "profile KEY" ("profile [SECTION]" for a whole section) and
  // "file PATH", and what a running controller does when asked to close.
  std::vector<PrinterUse> spoolPrinters;
  std::vector<PortOwner> spoolPorts;
  std::set<std::string> spoolDrivers, spoolMonitors;
  std::uint32_t listPrintersError = 0, listPortsError = 0;
  std::map<std::string, std::uint32_t> deleteErrors;
  CloseOutcome closeOutcome = CloseOutcome::kNotRunning;
  std::vector<std::string> otherLocationKeys;  // keys of [Location] the installer did not write

  std::vector<std::string> log;
  std::vector<DriverInfo2> drivers;
  std::vector<MonitorInfo2> monitors;
  std::vector<PrinterInfo2> printers;
  std::vector<OpenFileRequest> prompts;
  std::vector<std::string> programs;  // the program file of each run
  std::vector<std::string> commandLines;
  std::vector<std::string> errorBoxes;
  std::vector<std::string> fatalErrors;
  int warnings = 0;
  std::map<std::string, std::string> writtenProfile;  // key -> value (VZPD.INI, Location)
  std::map<std::string, std::string> registry;        // key path + "\\" + value name -> data
  std::map<std::string, std::string> writtenFiles;

  void AddDiskFile(const std::string& path) { diskFiles.insert(UpperAscii(path)); }
  void AddFile(const std::string& path, std::uint32_t attributes = 0) { files_[UpperAscii(path)] = attributes; }
  bool HasFile(const std::string& path) const { return files_.count(UpperAscii(path)) != 0; }
  void DropFile(const std::string& path) { files_.erase(UpperAscii(path)); }
  void AddUnidriverFiles() {
    for (const char* name : {"Rasdd.dll", "Rasddui.dll", "Rasddui.hlp"}) AddFile(*driverDir + "\\" + name);
  }
  void AddMonitorFiles(const char* monitorDll) {
    AddFile(*systemDir + "\\APFAXCNV.DLL");
    AddFile(*systemDir + "\\" + monitorDll);
  }
  // Lines of an INF/INI section, "key=value" or bare; the profile reader and the
  // line reader see the same text.
  void SetInf(const std::string& path, const std::string& text) { texts_[UpperAscii(path)] = text; }

  std::string ModulePath() override { return modulePath; }
  std::optional<OsVersion> Version() override { return version; }
  std::optional<std::string> PrinterDriverDirectory() override { return driverDir; }
  std::optional<std::string> SystemDirectory() override { return systemDir; }
  std::optional<std::string> WindowsDirectory() override { return windowsDir; }
  std::optional<std::uint32_t> FileAttributes(const std::string& path) override {
    const auto it = files_.find(UpperAscii(path));
    if (it == files_.end()) return std::nullopt;
    return it->second;
  }
  std::string CurrentDirectory() override { return currentDir; }
  bool ChangeDirectory(const std::string& path) override {
    log.push_back("cd " + path);
    currentDir = path;
    return true;
  }

  std::string ReadProfileString(const std::string& file, const std::string& section, const std::string& key) override {
    for (const auto& [k, v] : Section(file, section))
      if (UpperAscii(k) == UpperAscii(key)) return v;
    return {};
  }
  std::vector<std::string> ReadProfileKeys(const std::string& file, const std::string& section) override {
    if (UpperAscii(file) == "VZPD.INI" && !texts_.count("VZPD.INI")) {
      log.push_back("keys " + file + " [" + section + "]");
      std::vector<std::string> keys = otherLocationKeys;
      for (const auto& [k, v] : writtenProfile) keys.push_back(k);
      return keys;
    }
    std::vector<std::string> keys;
    for (const auto& [k, v] : Section(file, section)) keys.push_back(k);
    return keys;
  }
  bool WriteProfileValue(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& value) override {
    log.push_back("profile " + file + " [" + section + "] " + key);
    if (failingProfileKeys.count(key)) return false;
    writtenProfile[key] = value;
    if (windowsDir) AddFile(*windowsDir + "\\" + file);
    return true;
  }
  std::optional<std::string> ReadTextFile(const std::string& path) override {
    const auto it = texts_.find(UpperAscii(path));
    if (it == texts_.end()) return std::nullopt;
    return it->second;
  }
  bool WriteWholeFile(const std::string& path, const std::string& bytes) override {
    log.push_back("file " + path);
    if (markerFails) return false;
    writtenFiles[path] = bytes;
    AddFile(path);
    return true;
  }

  std::uint32_t SpoolerAddDriver(const DriverInfo2& info) override {
    log.push_back("AddPrinterDriver");
    drivers.push_back(info);
    if (driverError == 0) spoolDrivers.insert(info.name.value_or(""));
    return driverError;
  }
  std::uint32_t SpoolerAddMonitor(const MonitorInfo2& info) override {
    log.push_back("AddMonitor");
    monitors.push_back(info);
    if (monitorError == 0) spoolMonitors.insert(info.name.value_or(""));
    return monitorError;
  }
  std::uint32_t SpoolerAddPrinter(const PrinterInfo2& info) override {
    log.push_back("AddPrinter");
    printers.push_back(info);
    if (printerError == 0)
      spoolPrinters.push_back({info.printerName.value_or(""), info.driverName.value_or(""), info.portName.value_or("")});
    return printerError;
  }
  std::uint32_t SpoolerPrinters(std::vector<PrinterUse>& out) override {
    log.push_back("list printers");
    if (listPrintersError == 0) out = spoolPrinters;
    return listPrintersError;
  }
  std::uint32_t SpoolerPorts(std::vector<PortOwner>& out) override {
    log.push_back("list ports");
    if (listPortsError == 0) out = spoolPorts;
    return listPortsError;
  }
  std::uint32_t SpoolerDeletePrinter(const std::string& name) override {
    for (auto it = spoolPrinters.begin(); it != spoolPrinters.end(); ++it)
      if (it->name == name) return Delete("printer " + name, [&] { spoolPrinters.erase(it); });
    return Delete("printer " + name, nullptr, 1801);
  }
  std::uint32_t SpoolerDeleteDriver(const std::string& name) override {
    return Delete("driver " + name, spoolDrivers.count(name) ? [&] { spoolDrivers.erase(name); } : Action(), 1797);
  }
  std::uint32_t SpoolerDeleteMonitor(const std::string& environment, const std::string& name) override {
    if (environment != "Windows NT x86") return 1805;  // ERROR_INVALID_ENVIRONMENT
    return Delete("monitor " + name, spoolMonitors.count(name) ? [&] { spoolMonitors.erase(name); } : Action(), 3000);
  }
  std::uint32_t DeleteLocalMachineValue(const std::string& keyPath, const std::string& valueName) override {
    const std::string id = keyPath + "\\" + valueName;
    return Delete("value " + valueName, registry.count(id) ? [&] { registry.erase(id); } : Action(), 2);
  }
  std::uint32_t DeleteProfileEntry(const std::string& file, const std::string& section,
                                   const std::string& key) override {
    // The system's profile writer reports success for a key or section that is not there.
    const std::string what = "profile " + (key.empty() ? "[" + section + "]" : key) + " of " + file;
    const auto forced = deleteErrors.find("profile " + (key.empty() ? "[" + section + "]" : key));
    log.push_back("delete " + what);
    if (forced != deleteErrors.end()) return forced->second;
    writtenProfile.erase(key);
    return 0;
  }
  std::uint32_t RemoveFile(const std::string& path) override {
    return Delete("file " + path, HasFile(path) ? [&] { files_.erase(UpperAscii(path)); } : Action(), 2);
  }
  std::string ErrorText(std::uint32_t error) override { return "System text " + std::to_string(error) + "."; }
  CloseOutcome CloseProgram(const std::string& fileName, const std::string& windowClass,
                            const std::string& title) override {
    log.push_back("close " + fileName + " " + windowClass + " \"" + title + "\"");
    return closeOutcome;
  }

  std::uint32_t InstallVersionedFile(const std::string& fileName, const std::string& sourceDir,
                               const std::string& destDir) override {
    log.push_back("install " + fileName + " from '" + sourceDir + "' to " + destDir);
    const auto forced = verResults.find(fileName);
    if (forced != verResults.end()) return forced->second;
    if (!sourceFiles.count(fileName)) return kVifCannotReadSrc;
    AddFile(destDir + "\\" + fileName);
    return 0;
  }
  std::unique_ptr<LoadedLibrary> OpenLibrary(const std::string& path, std::uint32_t& error) override {
    log.push_back("load " + path);
    error = loadError;
    if (loadError != 0) return nullptr;
    return std::make_unique<Library>(log, path);
  }
  bool CreateInformationContext(const std::string& driver, const std::string& device,
                                const std::string& output) override {
    log.push_back("ic " + driver + "," + device + "," + output);
    return icResult;
  }
  bool SetLocalMachineString(const std::string& keyPath, const std::string& valueName,
                             const std::string& data) override {
    log.push_back("registry " + keyPath + " " + valueName);
    if (registryFails) return false;
    registry[keyPath + "\\" + valueName] = data;
    return true;
  }
  // Only the system folder's expand.exe is there to run; any other program file
  // (one in the installer's or the current folder) cannot be started.
  std::optional<std::uint32_t> RunProcess(const std::string& program, const std::string& commandLine,
                                          int showMode) override {
    log.push_back("run " + commandLine);
    programs.push_back(program);
    commandLines.push_back(commandLine);
    if (!systemDir || UpperAscii(program) != UpperAscii(*systemDir + "\\expand.exe")) return std::nullopt;
    if (!expandStarts || showMode != 0) return std::nullopt;
    // The arguments follow the quoted program path; read otherwise, they are not.
    const std::string head = "\"" + program + "\" ";
    if (expandWorks && commandLine.rfind(head, 0) == 0) ExpandInto(commandLine.substr(head.size()));
    return 0;
  }
  std::optional<std::string> OpenFile(const OpenFileRequest& request) override {
    log.push_back("prompt " + request.title);
    prompts.push_back(request);
    if (openAnswers.empty()) return std::nullopt;
    std::optional<std::string> answer = openAnswers.front();
    openAnswers.pop_front();
    return answer;
  }
  void ShowErrorBox(const std::string& text) override {
    log.push_back("error " + text);
    errorBoxes.push_back(text);
  }
  void ShowRasddWarning() override {
    log.push_back("warning");
    ++warnings;
  }
  void ShowFatalError(const std::string& message) override {
    log.push_back("fatal " + message);
    fatalErrors.push_back(message);
  }

  // Calls in the log that begin with `prefix`.
  std::vector<std::string> Calls(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& entry : log)
      if (entry.rfind(prefix, 0) == 0) out.push_back(entry);
    return out;
  }

 private:
  using Action = std::function<void()>;
  // One deletion: logged; a forced refusal wins, else `remove` runs when the item
  // is there, or `missing` is returned when it is not.
  std::uint32_t Delete(const std::string& what, const Action& remove, std::uint32_t missing = 0) {
    log.push_back("delete " + what);
    const auto forced = deleteErrors.find(what);
    if (forced != deleteErrors.end()) return forced->second;
    if (!remove) return missing;
    remove();
    return 0;
  }

  class Library : public LoadedLibrary {
   public:
    Library(std::vector<std::string>& log, std::string path) : log_(log), path_(std::move(path)) {}
    ~Library() override { log_.push_back("free " + path_); }

   private:
    std::vector<std::string>& log_;
    std::string path_;
  };

  // The key=value lines of one section of a stored text, keys in file order.
  std::vector<std::pair<std::string, std::string>> Section(const std::string& file, const std::string& section) const {
    std::vector<std::pair<std::string, std::string>> lines;
    const auto it = texts_.find(UpperAscii(file));
    if (it == texts_.end()) return lines;
    bool inSection = false;
    std::size_t pos = 0;
    const std::string& text = it->second;
    while (pos < text.size()) {
      std::size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      pos = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty() && line.front() == '[') {
        inSection = UpperAscii(line) == "[" + UpperAscii(section) + "]";
        continue;
      }
      const std::size_t eq = line.find('=');
      if (!inSection || eq == std::string::npos) continue;
      lines.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return lines;
  }

  // The arguments "SRC" "DST": the target appears when the source, taken relative
  // to the current directory unless it is a full path, is a file on the "disk".
  void ExpandInto(const std::string& arguments) {
    const std::size_t open1 = arguments.find('"');
    const std::size_t close1 = arguments.find('"', open1 + 1);
    const std::size_t open2 = arguments.find('"', close1 + 1);
    if (open1 == std::string::npos || close1 == std::string::npos || open2 == std::string::npos) return;
    std::string source = arguments.substr(open1 + 1, close1 - open1 - 1);
    if (source.find(':') == std::string::npos) source = JoinPath(currentDir, source);
    if (!diskFiles.count(UpperAscii(source))) return;
    AddFile(arguments.substr(open2 + 1, arguments.size() - open2 - 2));
  }

  std::map<std::string, std::uint32_t> files_;
  std::map<std::string, std::string> texts_;
};

}  // namespace vz::test
