#pragma once
// Registers a window class of the program once.
#include <windows.h>

namespace vz::win {

// The class `wanted` describes (in this program when it names no instance):
// registered unless it already is. False when it is missing and cannot be registered.
inline bool EnsureWindowClass(WNDCLASSA wanted) {
  if (wanted.hInstance == nullptr) wanted.hInstance = GetModuleHandleA(nullptr);
  WNDCLASSA existing{};
  if (GetClassInfoA(wanted.hInstance, wanted.lpszClassName, &existing)) return true;
  return RegisterClassA(&wanted) != 0;
}

// The plain class `name` with `proc` in this program.
inline bool EnsureWindowClass(const char* name, WNDPROC proc) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = proc;
  wc.lpszClassName = name;
  return EnsureWindowClass(wc);
}

}  // namespace vz::win
