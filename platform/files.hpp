#pragma once
// Whole-file reads and writes on Win32, shared by both programs' system layers.
#include <windows.h>

#include <limits>
#include <string>
#include <string_view>

#include "platform/handles.hpp"

namespace vz::win {

// Creates or truncates `path` and writes `bytes`; true only when every byte was
// written and the file closed without error.
inline bool WriteWholeFile(const std::string& path, std::string_view bytes) {
  if (bytes.size() > std::numeric_limits<DWORD>::max()) return false;
  Handle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  if (!::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size())
    return false;
  return ::CloseHandle(file.Release()) != FALSE;
}

// Reads the whole of `path` into `bytes`; false when it cannot be opened or read (the
// error stays in GetLastError). Others may read and write the file meanwhile.
inline bool ReadWholeFile(const std::string& path, std::string& bytes) {
  Handle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart > std::numeric_limits<DWORD>::max()) return false;
  bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() && (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                         read != bytes.size()))
    return false;
  return true;
}

}  // namespace vz::win
