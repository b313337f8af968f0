// PDINSTALL: puts the fax printer onto a Windows NT machine, or with "/remove"
// takes it off again. No main window; a failure that ends the run shows the
// "Application Error" box and exits with 1.
#include <windows.h>

#include <exception>

#include "installer/installer.hpp"
#include "installer/win32_installer_system.hpp"
#include "toolkit/application.hpp"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  try {
    TApplication application;
    vz::inst::Win32InstallerSystem system;
    const bool remove = commandLine != nullptr && vz::inst::AsksForRemoval(commandLine);
    return vz::inst::RunInstaller(system, remove ? vz::inst::RunMode::kRemove : vz::inst::RunMode::kInstall);
  } catch (const std::exception& e) {
    // Only the application object's own set-up gets here.
    MessageBoxA(nullptr, e.what(), "Application Error", MB_OK | MB_ICONSTOP | MB_TASKMODAL);
    return 1;
  }
}
