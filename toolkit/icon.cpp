#include "toolkit/icon.hpp"

#include "toolkit/exception.hpp"

void TIcon::Changed() {
  if (OnChange) OnChange();
}

void TIcon::Clear() {
  if (!handle_) return;
  handle_.Reset();
  Changed();
}

void TIcon::Assign(const TIcon& other) {
  if (&other == this) return;
  AssignHandle(other.Handle());
}

void TIcon::AssignHandle(HICON source) {
  handle_.Reset(source != nullptr ? CopyIcon(source) : nullptr);
  Changed();
}

void TIcon::TakeHandle(HICON icon) {
  handle_.Reset(icon);
  Changed();
}

void TIcon::LoadFromFile(const std::string& path) {
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    throw EFOpenError("Cannot open file \"" + path + "\"");
  auto* icon = static_cast<HICON>(LoadImageA(nullptr, path.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE));
  if (icon == nullptr) throw Exception("\"" + path + "\" is not an icon");
  TakeHandle(icon);
}

bool TIcon::LoadFromResourceName(HINSTANCE instance, const char* name) {
  // LoadIconA's icons are shared and must not be destroyed: keep a copy of our own.
  HICON shared = LoadIconA(instance, name);
  if (shared == nullptr) return false;
  AssignHandle(shared);
  return true;
}
