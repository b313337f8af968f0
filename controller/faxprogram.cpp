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
  // Only a full path is started: a bare or relative entry would be looked for in
  // the current folder, which others may be able to write to. Such an entry is
  // passed over silently, as a program that cannot be started is.
  if (IsFullPath(executable)) desktop.StartProgram(executable, FaxProgramDirectory(executable));
}

}  // namespace vz
