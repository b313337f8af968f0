#pragma once
// The controller's operating-system calls on Win32 (ANSI functions).
#include <functional>
#include <string>

#include "controller/controller_env.hpp"

namespace vz {

class Win32ControllerEnv : public ControllerEnv {
 public:
  using InfoSink = std::function<void(const std::string&)>;

  // Information boxes go to `showInfo`; by default the toolkit's ShowInfo.
  explicit Win32ControllerEnv(InfoSink showInfo = {});

  std::string WindowsDirectory() override;
  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  bool EntryExists(const std::string& path) override;
  bool MakeDirectory(const std::string& path) override;
  std::string ReadProfileString(const std::string& section, const std::string& key) override;
  bool WriteWholeFile(const std::string& path, std::string_view bytes) override;
  bool RenameReplacing(const std::string& from, const std::string& to) override;
  bool RemoveFile(const std::string& path) override;
  bool CreateNewFile(const std::string& path) override;
  std::string LastErrorText() override;
  void ShowInfo(const std::string& text) override;
  bool ListEntryNames(const std::string& folder, const std::string& pattern,
                     std::vector<std::string>& names) override;
  std::string AppDataDirectory() override;
  bool AppendToFile(const std::string& path, std::string_view bytes) override;
  bool FileSize(const std::string& path, std::uint64_t& size) override;
  bool ReadWholeFile(const std::string& path, std::string& bytes) override;
  LocalTime Now() override;

 private:
  // Records why a call failed, for LastErrorText; returns false.
  bool Failed(unsigned long error);

  InfoSink showInfo_;
  unsigned long lastError_ = 0;
};

// The system's text for an error code, without its line end ("System error N."
// when the system has none).
std::string SystemErrorText(unsigned long error);

}  // namespace vz
