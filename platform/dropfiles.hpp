#pragma once
// Files dropped on a window (WM_DROPFILES): the drop's owner and its file names.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "platform/handles.hpp"

namespace vz::win {

struct DropTraits {
  using Type = HDROP;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::DragFinish(h); }
};
// The drop handed over in WM_DROPFILES's wParam, finished when it goes.
using Drop = UniqueHandle<DropTraits>;

// The full paths of the dropped files in the order the drop lists them (ANSI).
inline std::vector<std::string> DroppedFileNames(HDROP drop) {
  std::vector<std::string> names;
  const UINT count = ::DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT length = ::DragQueryFileA(drop, i, nullptr, 0);
    std::string name(length + 1, '\0');
    const UINT copied = ::DragQueryFileA(drop, i, name.data(), length + 1);
    name.resize(copied);
    if (!name.empty()) names.push_back(std::move(name));
  }
  return names;
}

}  // namespace vz::win
