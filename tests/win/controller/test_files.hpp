#pragma once
// Plain file helpers for the Windows controller tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "common/text.hpp"

namespace vz::test {

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }
inline bool IsFile(const std::string& path) {
  return Attributes(path) != INVALID_FILE_ATTRIBUTES && !(Attributes(path) & FILE_ATTRIBUTE_DIRECTORY);
}
inline bool IsDir(const std::string& path) {
  return Attributes(path) != INVALID_FILE_ATTRIBUTES && (Attributes(path) & FILE_ATTRIBUTE_DIRECTORY);
}

inline void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA data{};
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = dir + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(path);
      else
        DeleteFileA(path.c_str());
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(dir.c_str());
}

// Owns C:\windows\VZPD.INI for one test (what was there before is put back), a
// scratch folder holding a stand-in VZ.EXE, and a scratch folder that %APPDATA%
// names for this process and the programs it starts (where the job log goes).
class SettingsFileFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    char buffer[MAX_PATH] = {};
    GetWindowsDirectoryA(buffer, MAX_PATH);
    iniPath_ = vz::JoinPath(buffer, "VZPD.INI");
    if (IsFile(iniPath_)) saved_ = ReadBytes(iniPath_);
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    root_ = vz::Format("%svzctl-%lu-%lu", temp, GetCurrentProcessId(), GetTickCount());
    ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr));
    exe_ = root_ + "\\VZ.EXE";
    WriteBytes(exe_, "MZ");
    appData_ = root_ + ".appdata";
    ASSERT_TRUE(CreateDirectoryA(appData_.c_str(), nullptr));
    char old[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("APPDATA", old, MAX_PATH);
    if (length > 0 && length < MAX_PATH) savedAppData_ = old;
    SetEnvironmentVariableA("APPDATA", appData_.c_str());
  }
  void TearDown() override {
    if (saved_)
      WriteBytes(iniPath_, *saved_);
    else
      DeleteFileA(iniPath_.c_str());
    FlushProfileCache();
    SetEnvironmentVariableA("APPDATA", savedAppData_ ? savedAppData_->c_str() : nullptr);
    RemoveTree(root_);
    RemoveTree(appData_);
  }
  // The profile functions may keep a file cached; this call writes nothing and
  // makes the next read go to the disk.
  static void FlushProfileCache() { WritePrivateProfileStringA(nullptr, nullptr, nullptr, "VZPD.INI"); }

  std::string iniPath_;
  std::optional<std::string> saved_;
  std::string root_;
  std::string exe_;
  std::string appData_;
  std::optional<std::string> savedAppData_;
};

}  // namespace vz::test
