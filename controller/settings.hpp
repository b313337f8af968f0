#pragma once
// The controller's two settings, read afresh from VZPD.INI whenever needed, and
// the check that runs at every document start.
#include <string>

#include "controller/controller_env.hpp"

namespace vz {

inline constexpr char kSettingsSection[] = "Location";
inline constexpr char kOutputDirKey[] = "VZOutPath";
inline constexpr char kExecutableKey[] = "VZExecutable";
inline constexpr char kSettingsFile[] = "VZPD.INI";

// VZOutPath with exactly one trailing backslash removed ("C:\FAX\" -> "C:\FAX",
// "C:\" -> "C:"); "" when missing.
std::string ReadOutputDir(ControllerEnv& env);
// VZExecutable as stored; "" when missing.
std::string ReadExecutablePath(ControllerEnv& env);
// Full name of VZPD.INI: the Windows directory with a '\' appended when it has none.
std::string SettingsFileName(ControllerEnv& env);

// The information texts, already cut after their 255th character.
std::string MissingSettingsFileText(const std::string& settingsFile);
std::string MissingOutputDirText();
std::string BadExecutableText(const std::string& executable);
std::string OutputDirTooLongText(std::size_t length, std::size_t limit);

// Runs the document-start check, showing one information box per problem found.
// False when VZPD.INI itself is missing (then nothing else is checked).
bool CheckSettings(ControllerEnv& env);

}  // namespace vz
