#pragma once
// What the controller needs from the desktop: top-level windows found by title,
// their owners and state, and starting a program. One Win32 implementation, fakes
// in the tests.
#include <cstdint>
#include <string>

namespace vz {

class DesktopEnv {
 public:
  // A top-level window; 0 is none.
  using Window = std::uintptr_t;

  virtual ~DesktopEnv() = default;

  // A top-level window of any class, shown or hidden, with exactly this title.
  virtual Window FindTopLevelWindow(const std::string& title) = 0;
  virtual Window OwnerOf(Window window) = 0;
  virtual bool IsMinimized(Window window) = 0;
  virtual void Restore(Window window) = 0;
  // Puts the window above the others and gives it the keyboard.
  virtual void BringToTop(Window window) = 0;
  virtual void SetTitle(Window window, const std::string& title) = 0;
  // Starts the program file `path` (a full path, named as the file to run so that
  // no folder is searched for it) with the command line "PATH", a normal window
  // and the working directory `directory`; the outcome is not reported.
  virtual void StartProgram(const std::string& path, const std::string& directory) = 0;
};

}  // namespace vz
