#pragma once
// Registers a window class of the program once.
#include <windows.h>

namespace vz::win {

// The class `name` with `proc` in this program: registered unless it already is.
// False when it is missing and cannot be registered.
inline bool EnsureWindowClass(const char* name, WNDPROC proc) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc{};
  if (GetClassInfoA(instance, name, &wc)) return true;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.lpszClassName = name;
  return RegisterClassA(&wc) != 0;
}

}  // namespace vz::win
