#include "controller/instance.hpp"

namespace vz {

namespace {
constexpr char kExeEnding[] = ".EXE";
constexpr std::size_t kExeEndingLength = 4;
}  // namespace

InstanceNames InstanceNamesFromPath(const std::string& executablePath) {
  const auto cut = executablePath.find_last_of("\\/:");
  InstanceNames names;
  names.mutexName = cut == std::string::npos ? executablePath : executablePath.substr(cut + 1);
  if (names.mutexName.find(kExeEnding) != std::string::npos)
    names.windowTitle = names.mutexName.substr(0, names.mutexName.size() - kExeEndingLength);
  return names;
}

void BringPreviousInstanceForward(DesktopEnv& desktop, const std::string& title) {
  // An empty title would match, and rename, any untitled window on the desktop.
  if (title.empty()) return;
  if (const DesktopEnv::Window first = desktop.FindTopLevelWindow(title))
    desktop.SetTitle(first, kRenamedTitle);
  const DesktopEnv::Window other = desktop.FindTopLevelWindow(title);
  if (other == 0) return;
  if (desktop.IsMinimized(other))
    desktop.Restore(other);
  else
    desktop.BringToTop(other);
}

}  // namespace vz
