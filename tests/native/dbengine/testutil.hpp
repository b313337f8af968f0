#pragma once
// Temporary folders and file helpers for the table engine tests.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "tests/native/xbase_fixture.hpp"

namespace vz::db::test {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vzdb-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

using vz::test::XbaseFixture;

// Runs a shell command and returns its standard output.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = ::pclose(p);
  if (status) *status = rc;
  return out;
}

}  // namespace vz::db::test

#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "dbengine/table.hpp"

namespace vz::db::test {

inline std::vector<DbfField> PhoneFields() { return {{"NAME", 'C', 35, 0, 0}, {"PHONE", 'C', 25, 0, 0}}; }

inline TableOptions FixedDate(ShareMode mode = ShareMode::kShared, FileSystem* fs = nullptr) {
  TableOptions o;
  o.mode = mode;
  o.fs = fs;
  o.today = [] { return DbfDate{2026, 12, 7}; };
  o.lockTimeoutMs = 2000;
  return o;
}

// A phone book table: the two fields and tag NAME on NAME for .not. deleted().
inline void MakePhoneTable(const std::string& path, const TableOptions& o) {
  Table::Create(path, PhoneFields(), o);
  Table::Open(path, o)->IndexTag({"NAME", "NAME", ".not. deleted()", false, false});
}

inline std::string PhoneRecord(const Table& t, const std::string& name, const std::string& phone,
                               bool deleted = false) {
  std::string rec = t.BlankRecord();
  t.SetFieldText(rec, 0, name);
  t.SetFieldText(rec, 1, phone);
  if (deleted) rec[0] = '*';
  return rec;
}

inline std::string Trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// (record number, trimmed NAME) of every visible record, walked with Skip.
inline std::vector<std::pair<std::uint32_t, std::string>> Walk(Table& t) {
  std::vector<std::pair<std::uint32_t, std::string>> out;
  for (bool ok = t.GoTop(); ok; ok = t.Skip(1)) out.emplace_back(t.RecNo(), Trimmed(t.FieldText(0)));
  return out;
}

// The golden n2000 order: record number TAB name (with its padding) per line.
inline std::vector<std::pair<std::uint32_t, std::string>> ExpectedOrder(const std::string& tsv) {
  std::vector<std::pair<std::uint32_t, std::string>> out;
  std::istringstream in(ReadAll(tsv));
  std::string line;
  while (std::getline(in, line)) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    out.emplace_back(static_cast<std::uint32_t>(std::stoul(line.substr(0, tab))), Trimmed(line.substr(tab + 1)));
  }
  return out;
}

// A phone book of n records written straight into the file (far quicker than
// appending one by one), then its NAME tag built. Names are 12 letters drawn from a
// fixed sequence, so neighbouring keys share little and the index stays large; every
// tenth record is marked deleted.
inline void MakeLargePhoneTable(const std::string& path, std::uint32_t n) {
  Table::Create(path, PhoneFields(), FixedDate());
  const std::string header = ReadAll(path).substr(0, 98);
  std::string bytes = header;
  bytes.reserve(98 + std::size_t{n} * 61 + 1);
  std::uint64_t seed = 12345;
  for (std::uint32_t i = 1; i <= n; ++i) {
    std::string rec(61, ' ');
    if (i % 10 == 0) rec[0] = '*';
    for (int k = 0; k < 12; ++k) {
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
      rec[1 + static_cast<std::size_t>(k)] = static_cast<char>('A' + (seed >> 33) % 26);
    }
    rec.replace(36, 7, std::to_string(1000000 + i));
    bytes += rec;
  }
  bytes += '\x1a';
  for (int b = 0; b < 4; ++b) bytes[4 + static_cast<std::size_t>(b)] = static_cast<char>((n >> (8 * b)) & 0xFF);
  WriteAll(path, bytes);
  Table::Open(path, FixedDate())->IndexTag({"NAME", "NAME", ".not. deleted()", false, false});
}

// Offsets of the leaf pages of an index that are not a root (in file order).
inline std::vector<std::size_t> InnerLeafPages(const std::string& cdx) {
  std::vector<std::size_t> out;
  for (std::size_t at = 0x400; at + 512 <= cdx.size(); at += 512)
    if (cdx[at] == 2 && cdx[at + 1] == 0) out.push_back(at);
  return out;
}

// Files of another file system as a power cut would leave them: each file holds what
// it held at its last Flush (nothing before the first one).
class PowerCutFileSystem : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  // What survives of a file (by the path it was opened with).
  std::string Survivor(const std::string& path) const {
    const auto it = synced_.find(path);
    return it == synced_.end() ? std::string() : it->second;
  }
  int Flushes() const { return flushes_; }
  // Every file as it stood right after each flush, in order: what a power cut between
  // that flush and the next one would leave.
  const std::vector<std::map<std::string, std::string>>& Cuts() const { return cuts_; }

 protected:
  std::unique_ptr<File> Wrap(std::unique_ptr<File> file, const std::string& path) override {
    return std::make_unique<Tracked>(std::move(file), path, *this);
  }

 private:
  class Tracked : public ForwardingFile {
   public:
    Tracked(std::unique_ptr<File> inner, std::string path, PowerCutFileSystem& fs)
        : ForwardingFile(std::move(inner)), path_(std::move(path)), fs_(fs) {}
    void Flush() override {
      ForwardingFile::Flush();
      std::string bytes(Size(), '\0');
      bytes.resize(ReadAt(0, bytes.data(), bytes.size()));
      fs_.synced_[path_] = std::move(bytes);
      fs_.cuts_.push_back(fs_.synced_);
      ++fs_.flushes_;
    }

   private:
    std::string path_;
    PowerCutFileSystem& fs_;
  };
  std::map<std::string, std::string> synced_;
  std::vector<std::map<std::string, std::string>> cuts_;
  int flushes_ = 0;
};

// Copies a golden table and its index into dir (writable copies; never the originals).
inline std::string CopyGolden(const std::string& name, const TempDir& dir) {
  std::filesystem::copy_file(XbaseFixture(name + "/VZPB.dbf"), dir / "VZPB.dbf");
  std::filesystem::copy_file(XbaseFixture(name + "/VZPB.cdx"), dir / "VZPB.cdx");
  std::filesystem::permissions(dir / "VZPB.dbf", std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  std::filesystem::permissions(dir / "VZPB.cdx", std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  return dir / "VZPB.dbf";
}

}  // namespace vz::db::test
