#include "controller/win32_desktop_env.hpp"

#include <windows.h>
#include <shellapi.h>

namespace vz {
namespace {

HWND AsHwnd(DesktopEnv::Window window) { return reinterpret_cast<HWND>(window); }
DesktopEnv::Window AsWindow(HWND wnd) { return reinterpret_cast<DesktopEnv::Window>(wnd); }

}  // namespace

DesktopEnv::Window Win32DesktopEnv::FindTopLevelWindow(const std::string& title) {
  return AsWindow(::FindWindowA(nullptr, title.c_str()));
}

DesktopEnv::Window Win32DesktopEnv::OwnerOf(Window window) {
  return AsWindow(::GetWindow(AsHwnd(window), GW_OWNER));
}

bool Win32DesktopEnv::IsMinimized(Window window) { return ::IsIconic(AsHwnd(window)) != FALSE; }

void Win32DesktopEnv::Restore(Window window) { ::ShowWindow(AsHwnd(window), SW_RESTORE); }

void Win32DesktopEnv::BringToTop(Window window) {
  ::BringWindowToTop(AsHwnd(window));
  // Only the foreground thread may hand the foreground on; the controller is it
  // while the user answers its boxes, so the program gets the keyboard too.
  ::SetForegroundWindow(AsHwnd(window));
}

void Win32DesktopEnv::SetTitle(Window window, const std::string& title) {
  ::SetWindowTextA(AsHwnd(window), title.c_str());
}

void Win32DesktopEnv::ShellOpen(const std::string& file, const std::string& directory) {
  ::ShellExecuteA(nullptr, nullptr, file.c_str(), nullptr, directory.c_str(), SW_SHOWNORMAL);
}

}  // namespace vz
