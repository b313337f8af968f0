#include "controller/win32_desktop_env.hpp"

#include <windows.h>

#include <vector>

#include "platform/handles.hpp"

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

void Win32DesktopEnv::StartProgram(const std::string& path, const std::string& directory) {
  // The file to run is named apart from the command line, which only repeats it
  // quoted: the system starts that very file and searches no folder for another
  // of the same name, and a blank in the path cannot cut it short.
  const std::string quoted = "\"" + path + "\"";
  std::vector<char> commandLine(quoted.begin(), quoted.end());
  commandLine.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION info{};
  // A program that cannot be started is not reported here: the settings check at
  // each print job names an entry whose file is missing.
  if (!::CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &info))
    return;
  // The program goes on by itself; the controller keeps no hold on it.
  const win::Handle process(info.hProcess);
  const win::Handle thread(info.hThread);
}

}  // namespace vz
