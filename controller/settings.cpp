#include "controller/settings.hpp"

#include "common/text.hpp"

namespace vz {

std::string ReadOutputDir(ControllerEnv& env) {
  std::string dir = Clip255(env.ReadProfileString(kSettingsSection, kOutputDirKey));
  if (!dir.empty() && dir.back() == '\\') dir.pop_back();
  return dir;
}

std::string ReadExecutablePath(ControllerEnv& env) {
  return Clip255(env.ReadProfileString(kSettingsSection, kExecutableKey));
}

std::string SettingsFileName(ControllerEnv& env) {
  // The system's buffer holds 255 bytes with the terminating zero.
  std::string dir = env.WindowsDirectory().substr(0, kShortStringMax - 1);
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  return dir + kSettingsFile;
}

std::string MissingSettingsFileText(const std::string& settingsFile) {
  return Clip255("Missing VelmorFAX initialization file\r\r" + settingsFile +
                 "\r\rPlease run VelmorFAX to create or recreate this file.");
}

std::string MissingOutputDirText() {
  return Clip255(
      "VelmorFAX initialization file error (VZPD.INI).\rMissing entry for fax file output."
      "\r\rPlease run VelmorFAX to recreate this file.");
}

std::string BadExecutableText(const std::string& executable) {
  return Clip255(
      "VelmorFAX initialization file error (VZPD.INI).\rMissing or bad entry for VZ.EXE path.\r(" +
      executable + ")\rPlease run VelmorFAX to recreate this file.");
}

std::string OutputDirTooLongText(std::size_t length, std::size_t limit) {
  return Clip255("VelmorFAX initialization file error (VZPD.INI).\rThe folder for fax file output is "
                 "too long: " + std::to_string(length) + " characters, at most " + std::to_string(limit) +
                 " fit.\r\rPlease choose a shorter folder in VelmorFAX.");
}

bool CheckSettings(ControllerEnv& env) {
  const std::string settingsFile = SettingsFileName(env);
  if (!env.FileExists(settingsFile)) {
    env.ShowInfo(MissingSettingsFileText(settingsFile));
    return false;
  }
  if (ReadOutputDir(env).empty()) env.ShowInfo(MissingOutputDirText());
  const std::string executable = ReadExecutablePath(env);
  // Only a full path is ever started (see ActivateOrStartFaxProgram).
  if (!IsFullPath(executable) || !env.FileExists(executable)) env.ShowInfo(BadExecutableText(executable));
  return true;
}

}  // namespace vz
