#pragma once
// What the controller's settings, fax-file and job-log logic needs from the
// operating system, and nothing more: one Win32 implementation, fakes in the tests.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vz {

// A moment in the user's local time, to the second.
struct LocalTime {
  int year = 0;
  int month = 0;  // 1 to 12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

class ControllerEnv {
 public:
  virtual ~ControllerEnv() = default;

  // The directory the system reports as the Windows directory (where VZPD.INI lies).
  virtual std::string WindowsDirectory() = 0;
  // True when `path` names an existing file; a directory or an empty path is not one.
  virtual bool FileExists(const std::string& path) = 0;
  virtual bool DirectoryExists(const std::string& path) = 0;
  // True when anything of that name is there, file or folder.
  virtual bool EntryExists(const std::string& path) = 0;
  // One directory level; the parent must exist.
  virtual bool MakeDirectory(const std::string& path) = 0;
  // A value of VZPD.INI in the Windows directory: at most 255 characters, "" when missing.
  virtual std::string ReadProfileString(const std::string& section, const std::string& key) = 0;
  // Creates or truncates `path` and writes `bytes` into it.
  virtual bool WriteWholeFile(const std::string& path, std::string_view bytes) = 0;
  // Renames `from` to `to` in one step, replacing an existing file `to`.
  virtual bool RenameReplacing(const std::string& from, const std::string& to) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
  // Creates `path` as an empty file, failing when anything of that name is already
  // there: the name is then taken by this caller alone.
  virtual bool CreateNewFile(const std::string& path) = 0;
  // The system's description of why the last failed call above failed.
  virtual std::string LastErrorText() = 0;
  // The information box (caption "Information", information icon, OK).
  virtual void ShowInfo(const std::string& text) = 0;
  // Names of the entries (files and folders) in `folder` that match the wildcard
  // `pattern`, without the folder; `folder` ends in '\'. The list may hold more
  // names than match (the system also matches short names): callers filter.
  // False when the folder cannot be read.
  virtual bool ListEntryNames(const std::string& folder, const std::string& pattern,
                             std::vector<std::string>& names) = 0;

  // The user's application data folder (%APPDATA%) without a trailing '\'; ""
  // when the system names none.
  virtual std::string AppDataDirectory() = 0;
  // Writes `bytes` at the end of `path` in one write, creating the file when it is
  // missing.
  virtual bool AppendToFile(const std::string& path, std::string_view bytes) = 0;
  // The size of the file `path` in bytes; false when it cannot be found out
  // (a missing file among other causes).
  virtual bool FileSize(const std::string& path, std::uint64_t& size) = 0;
  // The whole content of the file `path`; false when it cannot be read.
  virtual bool ReadWholeFile(const std::string& path, std::string& bytes) = 0;
  virtual LocalTime Now() = 0;
};

}  // namespace vz
