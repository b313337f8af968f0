#pragma once
// The single-instance rule: the names a copy of the controller goes by, and what a
// second copy does to the first before it ends.
#include <string>

#include "controller/desktop_env.hpp"

namespace vz {

struct InstanceNames {
  // The file name without ".EXE" (the title looked for); empty when the file name
  // has no ".EXE" in these capitals.
  std::string windowTitle;
  // The file name with its extension, naming the single-instance mutex.
  std::string mutexName;
};

InstanceNames InstanceNamesFromPath(const std::string& executablePath);

inline constexpr char kRenamedTitle[] = "something else";

// Looks for a window titled `title`, renames it, and brings forward (restores when
// minimised) a further window of that title if there is one.
void BringPreviousInstanceForward(DesktopEnv& desktop, const std::string& title);

}  // namespace vz
