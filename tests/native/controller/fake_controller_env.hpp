#pragma once
// An in-memory Windows: case-blind paths, files with contents, directories, the
// VZPD.INI values, recorded information boxes and chosen failures.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/text.hpp"
#include "controller/controller_env.hpp"

namespace vz::test {

class FakeControllerEnv : public ControllerEnv {
 public:
  std::string windowsDir = "C:\\WINNT";
  std::string appDataDir = "C:\\Users\\jane\\AppData\\Roaming";
  LocalTime now{2026, 12, 9, 10, 52, 7};
  std::map<std::string, std::string> profile;  // key -> value, section "Location"
  std::vector<std::string> infos;
  std::vector<std::string> createdDirs;
  std::set<std::string> failingWrites;   // upper-case paths
  std::set<std::string> failingMkdirs;   // upper-case paths
  bool failRenames = false;
  std::set<std::string> failingAppends;  // upper-case paths
  bool failListing = false;
  std::set<std::string> failingReads;    // upper-case paths
  // Every whole-file read, create, write, rename and removal, in order:
  // "read P", "create P", "write P", "rename A > B", "remove P".
  std::vector<std::string> journal;
  // The create, write or rename (counted from 0, removals not counted) that fails.
  int failingStep = -1;
  int steps = 0;
  int fileProbes = 0;
  int listings = 0;

  void AddFile(const std::string& path, const std::string& bytes = {}) { files_[Key(path)] = {path, bytes}; }
  void AddDir(const std::string& path) { dirs_.insert(Key(path)); }
  void AddSettingsFile() { AddFile(windowsDir + "\\VZPD.INI"); }
  bool HasFile(const std::string& path) const { return files_.count(Key(path)) != 0; }
  bool HasDir(const std::string& path) const { return dirs_.count(Key(path)) != 0; }
  std::string Contents(const std::string& path) const { return files_.at(Key(path)).bytes; }
  std::size_t FileCount() const { return files_.size(); }

  std::string WindowsDirectory() override { return windowsDir; }
  bool FileExists(const std::string& path) override {
    ++fileProbes;
    return HasFile(path);
  }
  bool DirectoryExists(const std::string& path) override { return HasDir(path); }
  bool EntryExists(const std::string& path) override {
    ++fileProbes;
    return HasFile(path) || HasDir(path);
  }
  bool MakeDirectory(const std::string& path) override {
    createdDirs.push_back(path);
    if (failingMkdirs.count(Key(path)) || HasFile(path) || HasDir(path)) return false;
    const std::string parent = Parent(path);
    if (!parent.empty() && parent.size() > 2 && !HasDir(parent)) return false;
    dirs_.insert(Key(path));
    return true;
  }
  std::string ReadProfileString(const std::string& section, const std::string& key) override {
    if (section != "Location") return {};
    auto it = profile.find(key);
    return it == profile.end() ? std::string() : it->second;
  }
  std::string AppDataDirectory() override { return appDataDir; }
  bool AppendToFile(const std::string& path, std::string_view bytes) override {
    if (failingAppends.count(Key(path)) || HasDir(path) || !HasDir(Parent(path))) return false;
    auto it = files_.find(Key(path));
    if (it == files_.end()) it = files_.emplace(Key(path), File{path, {}}).first;
    it->second.bytes += bytes;
    return true;
  }
  bool FileSize(const std::string& path, std::uint64_t& size) override {
    if (!HasFile(path)) return false;
    size = Contents(path).size();
    return true;
  }
  bool ReadWholeFile(const std::string& path, std::string& bytes) override {
    journal.push_back("read " + path);
    if (!HasFile(path) || failingReads.count(Key(path))) return false;
    bytes = Contents(path);
    return true;
  }
  LocalTime Now() override { return now; }
  bool WriteWholeFile(const std::string& path, std::string_view bytes) override {
    journal.push_back("write " + path);
    if (FailThisStep() || failingWrites.count(Key(path))) {
      files_[Key(path)] = {path, std::string(bytes.substr(0, bytes.size() / 2))};
      return false;
    }
    if (HasDir(path)) return false;
    files_[Key(path)] = {path, std::string(bytes)};
    return true;
  }
  bool RenameReplacing(const std::string& from, const std::string& to) override {
    journal.push_back("rename " + from + " > " + to);
    if (FailThisStep() || failRenames || !HasFile(from) || HasDir(to)) return false;
    File moved = files_[Key(from)];
    files_.erase(Key(from));
    moved.path = to;
    files_[Key(to)] = moved;
    return true;
  }
  bool RemoveFile(const std::string& path) override {
    journal.push_back("remove " + path);
    return files_.erase(Key(path)) != 0;
  }
  bool CreateNewFile(const std::string& path) override {
    journal.push_back("create " + path);
    if (FailThisStep() || HasFile(path) || HasDir(path) || !HasDir(Parent(path))) return false;
    files_[Key(path)] = {path, {}};
    return true;
  }
  // "NAME=bytes" for each file directly in `folder`, in name order.
  std::vector<std::string> Listing(const std::string& folder) const {
    std::vector<std::string> lines;
    const std::string prefix = Key(folder) + "\\";
    for (const auto& [key, file] : files_)
      if (key.compare(0, prefix.size(), prefix) == 0 && key.find('\\', prefix.size()) == std::string::npos)
        lines.push_back(file.path.substr(prefix.size()) + "=" + file.bytes);
    return lines;
  }
  // Every failure is put down to the one reason the test chose.
  std::string failureReason = "Access denied.";
  std::string LastErrorText() override { return failureReason; }
  void ShowInfo(const std::string& text) override { infos.push_back(text); }
  // Ignores the pattern: the logic must cope with every name in the folder.
  bool ListEntryNames(const std::string& folder, const std::string& /*pattern*/,
                      std::vector<std::string>& names) override {
    ++listings;
    names.clear();
    if (failListing) return false;
    const std::string prefix = Key(folder);
    const auto take = [&](const std::string& key, const std::string& path) {
      if (key.compare(0, prefix.size(), prefix) != 0) return;
      if (key.find('\\', prefix.size()) != std::string::npos) return;
      names.push_back(path.substr(prefix.size()));
    };
    for (const auto& [key, file] : files_) take(key, file.path);
    for (const std::string& key : dirs_) take(key, key);
    return true;
  }

 private:
  struct File {
    std::string path;
    std::string bytes;
  };
  static std::string Key(const std::string& path) { return UpperAscii(path); }
  bool FailThisStep() { return steps++ == failingStep; }
  static std::string Parent(const std::string& path) {
    const auto cut = path.find_last_of('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
  }
  std::map<std::string, File> files_;
  std::set<std::string> dirs_;
};

}  // namespace vz::test
