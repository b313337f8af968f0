#pragma once
// An icon image: owns its HICON; copies are real copies of the image.
#include <windows.h>

#include <functional>
#include <string>

#include "platform/handles.hpp"

class TIcon {
 public:
  TIcon() = default;
  TIcon(const TIcon&) = delete;
  TIcon& operator=(const TIcon&) = delete;

  bool Empty() const noexcept { return !handle_; }
  HICON Handle() const noexcept { return handle_.Get(); }

  void Clear();
  void Assign(const TIcon& other);
  // Copies the icon; the source stays with the caller (null empties the image).
  void AssignHandle(HICON source);
  // Takes ownership of `icon`.
  void TakeHandle(HICON icon);
  // The first image of an .ico file at the system's icon size. A file that cannot
  // be opened raises EFOpenError; one that is not an icon raises Exception.
  void LoadFromFile(const std::string& path);
  // An icon resource by name (or MAKEINTRESOURCE id) of `instance`; false (and the
  // image unchanged) when there is none.
  bool LoadFromResourceName(HINSTANCE instance, const char* name);

  // Called after the image changes.
  std::function<void()> OnChange;

 private:
  void Changed();
  vz::win::Icon handle_;
};
