#pragma once
// The desktop on Win32: FindWindowA, the window state calls and CreateProcessA.
#include "controller/desktop_env.hpp"

namespace vz {

class Win32DesktopEnv : public DesktopEnv {
 public:
  Window FindTopLevelWindow(const std::string& title) override;
  Window OwnerOf(Window window) override;
  bool IsMinimized(Window window) override;
  void Restore(Window window) override;
  void BringToTop(Window window) override;
  void SetTitle(Window window, const std::string& title) override;
  void StartProgram(const std::string& path, const std::string& directory) override;
};

}  // namespace vz
