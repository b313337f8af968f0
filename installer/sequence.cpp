#include <exception>
#include <map>

#include "common/text.hpp"
#include "installer/installer.hpp"

namespace vz::inst {

std::string InstallErrorMessage(std::int32_t code) {
  static const std::map<std::int32_t, const char*> kMessages = {
      {kErrDriverDirectory, "Couldn't determine Windows NT printer driver directory"},
      {kErrFileNotFound, "A required printer driver file was not found"},
      {kErrBadStrings, "Printer driver file contains bad or missing string resources"},
      {kErrGenericDriver, "Could not install APFGEN.DRV as a Windows printer"},
      {kErrCantCopy, "Unable to copy printer driver to Windows system directory"},
      {kErrNotNt, "This printer driver is not compatible with Windows NT"},
      {kErrUnidriverMissing, "Unidriver files not installed.  The print driver\rmay not be configured properly."},
      {kErrNoInfEntry, "Cannot locate unidriver files in\rWindows Setup (INF) file."},
      {kErrUnknownLayout, "   -- Unknown Windows Layout --\rUnable to locate  required  support\rfiles"},
      {kErrWindowsDirectory, "Couldn't determine Windows directory"},
      {kErrSystemDirectory, "Couldn't determine Windows\\System directory"},
  };
  const auto it = kMessages.find(code);
  if (it != kMessages.end()) return it->second;
  return "Unknown installation error : " + std::to_string(code);
}

int Installer::Run() {
  installerDir_ = DirectoryOf(sys_.ModulePath());
  const std::optional<OsVersion> version = sys_.Version();
  if (version && version->platformId == kPlatformWindowsNt) {
    if (!UnidriverFilesPresent(sys_)) sys_.ShowRasddWarning();
    InstallFaxPrinter("");
  } else {
    // Nothing was installed: writing the settings would claim a printer that is not there.
    installError_ = kErrNotNt;
  }
  if (installError_ == 0 || installError_ == kFilesWerePresent) {
    WriteInstallerIni();
    WriteAutoExec();
    WriteInstallOkMarker();
    return 0;
  }
  sys_.ShowErrorBox(InstallErrorMessage(installError_));
  // A deployment script must not take a failed installation for a good one.
  return 1;
}

bool Installer::InstallFaxPrinter(const std::string& sourceDirectory) {
  bool result = false;
  installError_ = 0;
  settings_.sourceDirectory = Clip255(sourceDirectory);
  try {
    installError_ = LocateUnidriverFiles(sys_);
    if (installError_ == 0 || installError_ == kFilesWerePresent) {
      installError_ = 0;
      RegisterFaxPrinter();
    }
  } catch (const NotFoundException&) {
    installError_ = kErrFileNotFound;
  } catch (const CantCopyException&) {
    installError_ = kErrCantCopy;
  }
  if (installError_ == 0) result = CheckFaxPrinter();
  return result;
}

int RunInstaller(InstallerSystem& sys, RunMode mode) {
  try {
    if (mode == RunMode::kRemove) return Remover(sys).Run();
    Installer installer(sys);
    return installer.Run();
  } catch (const std::exception& e) {
    sys.ShowFatalError(e.what());
    return 1;
  }
}

}  // namespace vz::inst
