#include "controller/win32_controller_env.hpp"

#include <windows.h>
#include <shlobj.h>

#include <limits>

#include "common/text.hpp"
#include "controller/settings.hpp"
#include "platform/files.hpp"
#include "platform/handles.hpp"
#include "toolkit/dialogs.hpp"

namespace vz {
namespace {

// The Windows directory is read into 255 bytes, profile values into 256.
constexpr UINT kWindowsDirBuffer = 255;
constexpr DWORD kProfileBuffer = 256;
constexpr DWORD kAppDataBuffer = MAX_PATH;

struct FindTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Type h) noexcept { return h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::FindClose(h); }
};
using FindHandle = win::UniqueHandle<FindTraits>;

}  // namespace

Win32ControllerEnv::Win32ControllerEnv(InfoSink showInfo)
    : showInfo_(showInfo ? std::move(showInfo) : InfoSink(&::ShowInfo)) {}

std::string Win32ControllerEnv::WindowsDirectory() {
  char buffer[kWindowsDirBuffer] = {};
  const UINT length = ::GetWindowsDirectoryA(buffer, kWindowsDirBuffer);
  // A directory that does not fit leaves nothing usable in the buffer.
  if (length == 0 || length >= kWindowsDirBuffer) return std::string();
  return std::string(buffer, length);
}

bool Win32ControllerEnv::FileExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Win32ControllerEnv::DirectoryExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32ControllerEnv::EntryExists(const std::string& path) {
  return !path.empty() && ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Win32ControllerEnv::MakeDirectory(const std::string& path) {
  if (::CreateDirectoryA(path.c_str(), nullptr)) return true;
  return Failed(::GetLastError());
}

std::string Win32ControllerEnv::ReadProfileString(const std::string& section,
                                                  const std::string& key) {
  char buffer[kProfileBuffer] = {};
  const DWORD length = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer,
                                                  kProfileBuffer, kSettingsFile);
  return std::string(buffer, length < kProfileBuffer ? length : kProfileBuffer - 1);
}

bool Win32ControllerEnv::WriteWholeFile(const std::string& path, std::string_view bytes) {
  if (win::WriteWholeFile(path, bytes)) return true;
  // A short write leaves no error of the system's own.
  const DWORD error = ::GetLastError();
  return Failed(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
}

bool Win32ControllerEnv::RenameReplacing(const std::string& from, const std::string& to) {
  if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  return Failed(::GetLastError());
}

bool Win32ControllerEnv::RemoveFile(const std::string& path) {
  if (::DeleteFileA(path.c_str())) return true;
  return Failed(::GetLastError());
}

bool Win32ControllerEnv::CreateNewFile(const std::string& path) {
  win::Handle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
  if (!file) return Failed(::GetLastError());
  if (!::CloseHandle(file.Release())) return Failed(::GetLastError());
  return true;
}

bool Win32ControllerEnv::Failed(unsigned long error) {
  lastError_ = error;
  return false;
}

std::string Win32ControllerEnv::LastErrorText() { return SystemErrorText(lastError_); }

std::string SystemErrorText(unsigned long error) {
  char buffer[512] = {};
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                       buffer, sizeof(buffer), nullptr);
  std::string text(buffer, length);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  return text.empty() ? vz::Format("System error %lu.", error) : text;
}

void Win32ControllerEnv::ShowInfo(const std::string& text) { showInfo_(text); }

bool Win32ControllerEnv::ListEntryNames(const std::string& folder, const std::string& pattern,
                                       std::vector<std::string>& names) {
  names.clear();
  const std::string search = folder + pattern;
  WIN32_FIND_DATAA data{};
  // Without short names and in large batches where the system offers it.
  FindHandle find(::FindFirstFileExA(search.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!find && ::GetLastError() == ERROR_INVALID_PARAMETER)
    find.Reset(::FindFirstFileA(search.c_str(), &data));
  if (!find) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (::FindNextFileA(find.Get(), &data));
  return ::GetLastError() == ERROR_NO_MORE_FILES;
}

std::string Win32ControllerEnv::AppDataDirectory() {
  char buffer[kAppDataBuffer] = {};
  // The variable first, as %APPDATA% names it; the shell's folder when it is not set.
  DWORD length = ::GetEnvironmentVariableA("APPDATA", buffer, kAppDataBuffer);
  if (length == 0 || length >= kAppDataBuffer) {
    buffer[0] = '\0';
    if (FAILED(::SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer))) return {};
    length = static_cast<DWORD>(lstrlenA(buffer));
  }
  std::string dir(buffer, length);
  while (dir.size() > 3 && dir.back() == '\\') dir.pop_back();
  return dir;
}

bool Win32ControllerEnv::AppendToFile(const std::string& path, std::string_view bytes) {
  if (bytes.size() > std::numeric_limits<DWORD>::max()) return Failed(ERROR_INVALID_PARAMETER);
  // Others may read the log meanwhile; writes with FILE_APPEND_DATA alone always
  // go to the end, whoever else appended since.
  win::Handle file(::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return Failed(::GetLastError());
  DWORD written = 0;
  if (!::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
    return Failed(::GetLastError());
  if (written != bytes.size()) return Failed(ERROR_WRITE_FAULT);
  if (!::CloseHandle(file.Release())) return Failed(::GetLastError());
  return true;
}

bool Win32ControllerEnv::FileSize(const std::string& path, std::uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return Failed(::GetLastError());
  size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool Win32ControllerEnv::ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  win::Handle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return Failed(::GetLastError());
  char chunk[65536];
  DWORD read = 0;
  while (::ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr)) {
    if (read == 0) return true;
    bytes.append(chunk, read);
  }
  return Failed(::GetLastError());
}

LocalTime Win32ControllerEnv::Now() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace vz
