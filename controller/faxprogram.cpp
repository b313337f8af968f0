#include "controller/faxprogram.hpp"

#include "common/text.hpp"
#include "controller/settings.hpp"

namespace vz {

std::string FaxProgramDirectory(const std::string& executable) {
  return Clip255(DirectoryOf(executable));
}

void ActivateOrStartFaxProgram(DesktopEnv& desktop, ControllerEnv& env) {
  if (const DesktopEnv::Window running = desktop.FindTopLevelWindow(kFaxProgramTitle)) {
    // A minimised owner hides the windows it owns: it comes back first.
    const DesktopEnv::Window owner = desktop.OwnerOf(running);
    if (owner != 0 && desktop.IsMinimized(owner)) desktop.Restore(owner);
    desktop.BringToTop(running);
    return;
  }
  const std::string executable = ReadExecutablePath(env);
  desktop.ShellOpen(executable, FaxProgramDirectory(executable));
}

}  // namespace vz
