#pragma once
// What the installer needs from the operating system, and nothing more: the
// version, directories, file attributes, profile files, the spooler, the
// version-checked file installer, the library loader and information context,
// the registry, a child process, the open-file dialog and the installer's boxes.
// One Win32 implementation (win32_installer_system.cpp), a recording fake in the tests.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vz::inst {

// GetVersionExA's answer; platform 2 is Windows NT.
struct OsVersion {
  std::uint32_t platformId = 0;
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
};
inline constexpr std::uint32_t kPlatformWindowsNt = 2;

// File attribute bits the presence test looks at.
inline constexpr std::uint32_t kAttrSystem = 0x4;
inline constexpr std::uint32_t kAttrDirectory = 0x10;

// The spooler's level-2 records (ANSI). An absent text is std::nullopt, which is
// not the same as an empty one.
using OptText = std::optional<std::string>;

struct DriverInfo2 {
  std::uint32_t version = 0;
  OptText name, environment, driverPath, dataFile, configFile;
};

struct MonitorInfo2 {
  OptText name, environment, dllName;
};

struct PrinterInfo2 {
  OptText serverName, printerName, shareName, portName, driverName, comment, location;
  bool hasDevMode = false;
  OptText sepFile, printProcessor, datatype, parameters;
  bool hasSecurityDescriptor = false;
  std::uint32_t attributes = 0, priority = 0, defaultPriority = 0, startTime = 0, untilTime = 0,
                status = 0, jobs = 0, averagePpm = 0;
};

// VerInstallFileA result bits the installer tells apart.
inline constexpr std::uint32_t kVifSrcOld = 0x4;
inline constexpr std::uint32_t kVifFileInUse = 0x80;
inline constexpr std::uint32_t kVifCannotReadSrc = 0x10000;

// What the open-file dialog is asked: its title, the file name it starts with,
// and a filter of "|"-separated description|pattern pairs.
struct OpenFileRequest {
  std::string title;
  std::string fileName;
  std::string filter;
};

// A local printer as the spooler lists it: its name, its driver and the ports it
// prints to (a comma-separated list).
struct PrinterUse {
  std::string name, driverName, ports;
};
// A port and the monitor that serves it.
struct PortOwner {
  std::string port, monitor;
};

// What became of a program asked to close.
enum class CloseOutcome { kNotRunning, kClosed, kStillRunning };

// A loaded library; releasing the object unloads it.
class LoadedLibrary {
 public:
  virtual ~LoadedLibrary() = default;
};

class InstallerSystem {
 public:
  virtual ~InstallerSystem() = default;

  // The installer's own executable path.
  virtual std::string ModulePath() = 0;
  virtual std::optional<OsVersion> Version() = 0;

  // Directory queries; nullopt when the system refuses or the answer does not fit
  // the buffer of 256 bytes.
  virtual std::optional<std::string> PrinterDriverDirectory() = 0;
  virtual std::optional<std::string> SystemDirectory() = 0;
  virtual std::optional<std::string> WindowsDirectory() = 0;
  virtual std::optional<std::uint32_t> FileAttributes(const std::string& path) = 0;
  virtual std::string CurrentDirectory() = 0;
  virtual bool ChangeDirectory(const std::string& path) = 0;

  // Profile files (INI, INF). A value is read through a 1024-character buffer,
  // "" when missing; quotes around the whole value are removed by the reader.
  virtual std::string ReadProfileString(const std::string& file, const std::string& section,
                                        const std::string& key) = 0;
  // The keys of a section in file order (duplicates as they come), read through
  // an 8192-byte buffer.
  virtual std::vector<std::string> ReadProfileKeys(const std::string& file, const std::string& section) = 0;
  virtual bool WriteProfileValue(const std::string& file, const std::string& section, const std::string& key,
                                  const std::string& value) = 0;
  // A whole text file; nullopt when it cannot be opened.
  virtual std::optional<std::string> ReadTextFile(const std::string& path) = 0;
  // Creates or replaces `path` with `bytes`.
  virtual bool WriteWholeFile(const std::string& path, const std::string& bytes) = 0;

  // Spooler calls on the local machine; each returns 0 or the system error number.
  // AddPrinter closes the handle it gets.
  virtual std::uint32_t SpoolerAddDriver(const DriverInfo2& info) = 0;
  virtual std::uint32_t SpoolerAddMonitor(const MonitorInfo2& info) = 0;
  virtual std::uint32_t SpoolerAddPrinter(const PrinterInfo2& info) = 0;

  // For the removal: the local printers and ports (0 or the system error number),
  // and the deletions, each returning 0 or the system error number.
  virtual std::uint32_t SpoolerPrinters(std::vector<PrinterUse>& printers) = 0;
  virtual std::uint32_t SpoolerPorts(std::vector<PortOwner>& ports) = 0;
  virtual std::uint32_t SpoolerDeletePrinter(const std::string& name) = 0;
  virtual std::uint32_t SpoolerDeleteDriver(const std::string& name) = 0;
  virtual std::uint32_t SpoolerDeleteMonitor(const std::string& environment, const std::string& name) = 0;

  // VerInstallFileA without flags: the file name as source and destination name;
  // returns its result bits.
  virtual std::uint32_t InstallVersionedFile(const std::string& fileName, const std::string& sourceDir,
                                       const std::string& destDir) = 0;
  // LoadLibraryA; null and the system error number when it fails.
  virtual std::unique_ptr<LoadedLibrary> OpenLibrary(const std::string& path, std::uint32_t& error) = 0;
  // CreateICA with no device mode; true when a context was made (it is deleted at once).
  virtual bool CreateInformationContext(const std::string& driver, const std::string& device,
                                        const std::string& output) = 0;

  // Opens (creating when missing) `keyPath` under HKEY_LOCAL_MACHINE with full
  // access, sets a REG_SZ value and closes the key; false when the value was not set.
  virtual bool SetLocalMachineString(const std::string& keyPath, const std::string& valueName,
                                     const std::string& data) = 0;

  // Deletes a value of `keyPath` under HKEY_LOCAL_MACHINE; 0 or the system error
  // number (2 when the key or the value is not there).
  virtual std::uint32_t DeleteLocalMachineValue(const std::string& keyPath, const std::string& valueName) = 0;
  // Deletes one key of a profile file's section, or the whole section when `key`
  // is empty; 0 or the system error number.
  virtual std::uint32_t DeleteProfileEntry(const std::string& file, const std::string& section,
                                           const std::string& key) = 0;
  // Deletes a file; 0 or the system error number (2 when it is not there).
  virtual std::uint32_t RemoveFile(const std::string& path) = 0;
  // The system's text for an error number.
  virtual std::string ErrorText(std::uint32_t error) = 0;
  // Posts WM_CLOSE to every top-level window of class `windowClass` titled `title`
  // that belongs to a process running a program named `fileName`, and waits a
  // bounded time for those processes to end.
  virtual CloseOutcome CloseProgram(const std::string& fileName, const std::string& windowClass,
                                    const std::string& title) = 0;

  // Starts the program file `program` (a full path, given as the application
  // name so that no search order is asked) with `commandLine`, the installer's
  // environment and current directory, in a new console, with the given show
  // mode, and waits without a time limit; its exit code, or nullopt when it
  // cannot be started.
  virtual std::optional<std::uint32_t> RunProcess(const std::string& program, const std::string& commandLine,
                                                  int showMode) = 0;

  // The open-file dialog (file must exist); the chosen path, or nullopt on Cancel.
  virtual std::optional<std::string> OpenFile(const OpenFileRequest& request) = 0;
  // The installer's error box: caption "Error", error icon, OK, centred on the screen.
  virtual void ShowErrorBox(const std::string& text) = 0;
  // The TRASDDWarning dialog, shown modally and destroyed when it closes.
  virtual void ShowRasddWarning() = 0;
  // The "Application Error" stop box for a failure that ends the run.
  virtual void ShowFatalError(const std::string& message) = 0;
};

}  // namespace vz::inst
