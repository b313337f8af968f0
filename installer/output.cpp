// The configuration a successful run leaves: VZPD.INI, the AutoExec value and PDOK.DAT.
#include "installer/installer.hpp"

namespace vz::inst {

void Installer::WriteInstallerIni() {
  if (!sys_.WriteProfileValue(kSettingsFile, "Location", "VZOutPath", installerDir_ + "SEND\\"))
    throw Exception(std::string("Unable to write to ") + kSettingsFile);
  if (!sys_.WriteProfileValue(kSettingsFile, "Location", "VZExecutable", installerDir_ + "VZ.EXE"))
    throw Exception(std::string("Unable to write to ") + kSettingsFile);
}

void Installer::WriteAutoExec() {
  // The key path has no leading '\': the registry refuses that form.
  if (!sys_.SetLocalMachineString(kAutoExecKey, "AutoExec", installerDir_ + kControllerFile))
    throw Exception("Failed to set data for 'AutoExec'");
}

void Installer::WriteInstallOkMarker() {
  const std::string path = installerDir_ + "PDOK.DAT";
  if (!sys_.WriteWholeFile(path, "ok\r\n")) throw Exception("Cannot create file " + path);
}

}  // namespace vz::inst
