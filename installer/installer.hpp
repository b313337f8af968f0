#pragma once
// The installer: the main sequence and its result code, the raster-driver file
// locator, the spooler registration and the configuration it leaves. Portable;
// it reaches the system only through InstallerSystem.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "installer/installer_system.hpp"
#include "toolkit/exception.hpp"

namespace vz::inst {

// Result codes of a run. 0 and kFilesWerePresent mean success.
inline constexpr std::int32_t kErrDriverDirectory = -8101;
inline constexpr std::int32_t kErrFileNotFound = -8100;
inline constexpr std::int32_t kErrBadStrings = -8099;
inline constexpr std::int32_t kErrGenericDriver = -8098;
inline constexpr std::int32_t kErrCantCopy = -8097;
inline constexpr std::int32_t kErrNotNt = -8096;
inline constexpr std::int32_t kErrUnidriverMissing = -8095;
inline constexpr std::int32_t kErrNoInfEntry = -8094;
inline constexpr std::int32_t kErrUnknownLayout = -8093;
inline constexpr std::int32_t kErrWindowsDirectory = -8092;
inline constexpr std::int32_t kErrSystemDirectory = -8091;
inline constexpr std::int32_t kFilesWerePresent = -8090;

// The message the error box shows for a failure code.
std::string InstallErrorMessage(std::int32_t code);

// A driver file's source cannot be read (becomes kErrFileNotFound).
class NotFoundException : public Exception {
 public:
  NotFoundException() : Exception(std::string()) {}
};
// A driver file cannot be installed (becomes kErrCantCopy).
class CantCopyException : public Exception {
 public:
  CantCopyException() : Exception(std::string()) {}
};

// What the printer is created with; every text at most 255 characters.
struct PrinterSettings {
  std::string portName;
  std::string comment;
  std::string serverName;
  std::string printProcessor;
  std::string datatype;
  std::string sourceDirectory;
};

// Names the spooler knows the product by.
inline constexpr char kDriverName[] = "VelmorFAX APF Printer Driver";
inline constexpr char kPrinterName[] = "VelmorFAX Printer Driver";
inline constexpr char kSettingsFile[] = "VZPD.INI";
inline constexpr char kAutoExecKey[] = "SOFTWARE\\Orvane\\ApFaxCnv\\Settings";
inline constexpr char kMonitorEnvironment[] = "Windows NT x86";
inline constexpr char kControllerFile[] = "VZNTCTL.EXE";

// True when Rasdd.dll, Rasddui.dll and Rasddui.hlp are all in the printer driver
// directory; reports a driver directory that cannot be determined in the error box.
bool UnidriverFilesPresent(InstallerSystem& sys);
// 0 when the three files were expanded now, kFilesWerePresent when they were
// there already, else a failure code; INF faults are thrown.
std::int32_t LocateUnidriverFiles(InstallerSystem& sys);
// Runs the program file `program` with the command line "PROGRAM" ARGUMENTS and
// waits; the exit code, or nullopt when the process cannot be started. A program
// that is not a full path, or a command line over 511 characters, is not started.
std::optional<std::uint32_t> RunAndWait(InstallerSystem& sys, const std::string& program,
                                        const std::string& arguments, int showMode);

class Installer {
 public:
  explicit Installer(InstallerSystem& sys) : sys_(sys) {}

  // The main sequence; returns the exit status: 0 when the printer was installed
  // (also when the raster-driver files were there already), 1 after the error box
  // of a failure code. Failures other than the two installer exceptions inside
  // the install step are thrown.
  int Run();
  bool InstallFaxPrinter(const std::string& sourceDirectory);

  void RegisterFaxPrinter();
  void InstallFileInto(const std::string& fileName, const std::string& targetDirectory);
  bool CheckFaxPrinter();

  void WriteInstallerIni();
  void WriteAutoExec();
  void WriteInstallOkMarker();

  std::int32_t InstallError() const noexcept { return installError_; }
  const std::string& InstallerDir() const noexcept { return installerDir_; }
  void SetInstallerDir(const std::string& dir) { installerDir_ = dir; }
  const PrinterSettings& Settings() const noexcept { return settings_; }

 private:
  void RegisterMonitor();
  std::string DriverDirectoryWithSlash();

  InstallerSystem& sys_;
  std::string installerDir_;
  std::int32_t installError_ = 0;
  PrinterSettings settings_;
};

// Takes the product off the machine again: the controller is closed, then the
// printer, the driver and the monitor (while no other printer uses them), the
// AutoExec value, the two [Location] keys and PDOK.DAT are removed. Stops at the
// first refusal, which one error box names; returns the exit status.
class Remover {
 public:
  explicit Remover(InstallerSystem& sys) : sys_(sys) {}
  int Run();

 private:
  bool CloseController();
  bool RemovePrinter();
  bool RemoveDriver(const std::vector<PrinterUse>& others);
  bool RemoveMonitors(const std::vector<PrinterUse>& others);
  bool RemoveAutoExec();
  bool RemoveLocationKeys();
  bool RemoveMarker();
  // Shows what could not be removed and the system's reason; returns false.
  bool Refuse(const std::string& what, std::uint32_t error);
  bool ListPrinters(const std::string& what, std::vector<PrinterUse>& printers);

  InstallerSystem& sys_;
};

// True when the command line holds the removal option "/remove" (any case).
bool AsksForRemoval(const std::string& commandLine);

enum class RunMode { kInstall, kRemove };

// Runs the installer or the removal; a failure that escapes it is shown in the
// "Application Error" box and gives exit status 1.
int RunInstaller(InstallerSystem& sys, RunMode mode = RunMode::kInstall);

}  // namespace vz::inst
