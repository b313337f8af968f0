#pragma once
// A desktop of named windows with owners and a minimised flag; records every call
// that changes something, in order.
#include <string>
#include <vector>

#include "controller/desktop_env.hpp"

namespace vz::test {

class FakeDesktopEnv : public DesktopEnv {
 public:
  struct Win {
    std::string title;
    Window owner = 0;
    bool minimized = false;
  };
  std::vector<Win> windows;  // window n is windows[n - 1]
  std::vector<std::string> calls;

  Window Add(const std::string& title, Window owner = 0, bool minimized = false) {
    windows.push_back({title, owner, minimized});
    return windows.size();
  }
  Window FindTopLevelWindow(const std::string& title) override {
    for (std::size_t i = 0; i < windows.size(); ++i)
      if (windows[i].title == title) return i + 1;
    return 0;
  }
  Window OwnerOf(Window w) override { return windows.at(w - 1).owner; }
  bool IsMinimized(Window w) override { return windows.at(w - 1).minimized; }
  void Restore(Window w) override {
    windows.at(w - 1).minimized = false;
    calls.push_back("restore " + std::to_string(w));
  }
  void BringToTop(Window w) override { calls.push_back("top " + std::to_string(w)); }
  void SetTitle(Window w, const std::string& title) override {
    windows.at(w - 1).title = title;
    calls.push_back("title " + std::to_string(w) + " " + title);
  }
  void StartProgram(const std::string& path, const std::string& directory) override {
    calls.push_back("start " + path + " in " + directory);
  }
};

}  // namespace vz::test
