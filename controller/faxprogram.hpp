#pragma once
// Switching to the main fax program: the window titled "VelmorFAX" when it runs,
// else the program whose full path VZPD.INI names, started in its own folder.
#include <string>

#include "controller/controller_env.hpp"
#include "controller/desktop_env.hpp"

namespace vz {

inline constexpr char kFaxProgramTitle[] = "VelmorFAX";

// The working directory for the program file: its folder with a trailing '\'.
std::string FaxProgramDirectory(const std::string& executable);

void ActivateOrStartFaxProgram(DesktopEnv& desktop, ControllerEnv& env);

}  // namespace vz
