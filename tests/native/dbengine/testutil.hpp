#pragma once
// Temporary folders and file helpers for the table engine tests.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
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
#include <functional>
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
  // A second passes between any two looks at the clock: a walk re-reads the index's
  // change counter at every Skip, however fast the test runs.
  o.clock = [t = std::make_shared<std::chrono::steady_clock::time_point>()] { return *t += std::chrono::seconds(1); };
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

// The trimmed names of the records that are not deleted, in NAME order.
inline std::vector<std::string> VisibleNames(Table& t) {
  std::vector<std::string> names;
  t.SetOrder(t.TagOrder("NAME"));
  t.SetFilter(".not. deleted()");
  for (bool ok = t.GoTop(); ok; ok = t.Skip(1)) names.push_back(Trimmed(t.FieldText(0)));
  return names;
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
  // The file whose flush made each of Cuts().
  const std::vector<std::string>& Flushed() const { return flushed_; }

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
      fs_.flushed_.push_back(path_);
      ++fs_.flushes_;
    }

   private:
    std::string path_;
    PowerCutFileSystem& fs_;
  };
  std::map<std::string, std::string> synced_;
  std::vector<std::map<std::string, std::string>> cuts_;
  std::vector<std::string> flushed_;
  int flushes_ = 0;
};

// Puts the files of a device view (one entry of PowerCutFileSystem::Cuts()) into a
// memory file system, as the machine would find them after the power came back.
inline void LoadFiles(MemoryFileSystem& fs, const std::map<std::string, std::string>& files) {
  for (const auto& [path, bytes] : files) fs.Bytes(path) = bytes;
}

// Passes every call to another file system and calls `step` after each write,
// truncation, flush and lock release of the files it opened: the points at which
// another opener's change can fall in the middle of one of ours.
class SteppingFileSystem : public ForwardingFileSystem {
 public:
  SteppingFileSystem(FileSystem& inner, std::function<void()> step)
      : ForwardingFileSystem(inner), step_(std::move(step)) {}

 protected:
  std::unique_ptr<File> Wrap(std::unique_ptr<File> file, const std::string&) override {
    return std::make_unique<Stepped>(std::move(file), step_);
  }

 private:
  class Stepped : public ForwardingFile {
   public:
    Stepped(std::unique_ptr<File> inner, const std::function<void()>& step)
        : ForwardingFile(std::move(inner)), step_(step) {}
    void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
      ForwardingFile::WriteAt(offset, buf, n);
      step_();
    }
    void Truncate(std::uint64_t size) override {
      ForwardingFile::Truncate(size);
      step_();
    }
    void Flush() override {
      ForwardingFile::Flush();
      step_();
    }
    void Unlock(std::uint64_t offset, std::uint64_t length) override {
      ForwardingFile::Unlock(offset, length);
      step_();
    }

   private:
    const std::function<void()>& step_;
  };
  std::function<void()> step_;
};

// A DBF as another xBase program reads it from its bytes alone: the header's record
// count (offset 4, little-endian) and the records it counts.
struct RawDbf {
  bool headerWhole = false;  // the fixed header and the record layout can be read
  std::uint32_t count = 0;
  std::uint16_t headerLength = 0;
  std::uint16_t recordLength = 0;
  std::vector<std::string> counted;  // the counted records that lie whole in the file
  std::vector<std::string> past;     // whole records after the counted ones, up to the end marker
};

inline RawDbf ReadRawDbf(const std::string& bytes) {
  RawDbf raw;
  if (bytes.size() < 32) return raw;
  auto le = [&](std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
  };
  raw.count = le(4, 4);
  raw.headerLength = static_cast<std::uint16_t>(le(8, 2));
  raw.recordLength = static_cast<std::uint16_t>(le(10, 2));
  raw.headerWhole = raw.recordLength > 0 && raw.headerLength >= 32 && bytes.size() >= raw.headerLength;
  if (!raw.headerWhole) return raw;
  for (std::size_t at = raw.headerLength; at + raw.recordLength <= bytes.size(); at += raw.recordLength) {
    std::string rec = bytes.substr(at, raw.recordLength);
    if (raw.counted.size() < raw.count) {
      raw.counted.push_back(std::move(rec));
    } else {
      if (rec[0] == '\x1a') break;
      raw.past.push_back(std::move(rec));
    }
  }
  return raw;
}

// Live records of tables as an independent reader shows them: per table, each live
// record's number (0 where the reader does not tell it) and its trimmed field, in file
// order; or the reader's error.
struct IndependentReading {
  std::map<std::string, std::vector<std::pair<std::uint32_t, std::string>>> live;
  std::map<std::string, std::string> errors;
  std::string failure;  // the reader could not be run at all
};

// Reads the output of the reader scripts below: "path TAB recno TAB text" per live
// record, "path TAB 0 TAB" once per table opened, "path TAB -1 TAB error" on failure.
inline IndependentReading ParseIndependentReading(const std::string& out, int status, const std::string& reader) {
  IndependentReading r;
  if (status != 0) r.failure = reader + " ended with status " + std::to_string(status) + ": " + out.substr(0, 400);
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const auto t1 = line.find('\t');
    const auto t2 = t1 == std::string::npos ? std::string::npos : line.find('\t', t1 + 1);
    if (t2 == std::string::npos) continue;
    const std::string path = line.substr(0, t1);
    const long recno = std::stol(line.substr(t1 + 1, t2 - t1 - 1));
    const std::string text = line.substr(t2 + 1);
    if (recno < 0) {
      r.errors[path] = text;
    } else if (recno == 0) {
      r.live[path];
    } else {
      r.live[path].emplace_back(static_cast<std::uint32_t>(recno), text);
    }
  }
  return r;
}

// Python's dbfread over every table named in `list` (one path a line) in one run.
// dbfread reads records up to the end marker or the end of the file, whatever the
// header counts, and does not tell record numbers.
inline IndependentReading ReadWithDbfread(const TempDir& dir, const std::string& list, const std::string& field) {
  const std::string script = dir / "read_dbfread.py";
  WriteAll(script,
           "import sys, dbfread\n"
           "for p in open(sys.argv[1]).read().split('\\n'):\n"
           "    if not p: continue\n"
           "    try:\n"
           "        rows = [r[sys.argv[2]] for r in dbfread.DBF(p, encoding='cp1252')]\n"
           "    except Exception as e:\n"
           "        print(p + '\\t-1\\t' + repr(e)); continue\n"
           "    print(p + '\\t0\\t')\n"
           "    for v in rows: print(p + '\\t1\\t' + v.rstrip(' '))\n");
  int status = 0;
  const std::string out = RunCommand("/usr/bin/python3 '" + script + "' '" + list + "' " + field + " 2>&1", &status);
  IndependentReading r = ParseIndependentReading(out, status, "python3 dbfread");
  for (auto& [path, rows] : r.live)
    for (auto& row : rows) row.first = 0;
  return r;
}

// Perl's XBase module (DBD::XBase) over every table named in `list` in one run. It
// reads the records the header counts.
inline IndependentReading ReadWithPerlXBase(const TempDir& dir, const std::string& list, const std::string& field) {
  const std::string script = dir / "read_xbase.pl";
  WriteAll(script,
           "use strict; use XBase;\n"
           "open(my $l, '<', $ARGV[0]) or die \"list: $!\";\n"
           "while (my $p = <$l>) {\n"
           "  chomp $p; next unless length $p;\n"
           "  my $t = XBase->new(name => $p, ignorememo => 1);\n"
           "  if (!$t) { my $e = XBase->errstr; $e =~ s/\\s+/ /g; print \"$p\\t-1\\t$e\\n\"; next; }\n"
           "  print \"$p\\t0\\t\\n\";\n"
           "  for my $i (0 .. $t->last_record) {\n"
           "    my ($deleted, $v) = $t->get_record($i, $ARGV[1]);\n"
           "    if (!defined $deleted) { print \"$p\\t-1\\trecord \", $i + 1, \" unreadable\\n\"; last; }\n"
           "    next if $deleted;\n"
           "    $v =~ s/ +$//;\n"
           "    print \"$p\\t\", $i + 1, \"\\t$v\\n\";\n"
           "  }\n"
           "  $t->close;\n"
           "}\n");
  int status = 0;
  const std::string out = RunCommand("/usr/bin/perl '" + script + "' '" + list + "' " + field + " 2>&1", &status);
  return ParseIndependentReading(out, status, "perl XBase");
}

// Copies a golden table and its index into dir (writable copies; never the originals).
inline std::string CopyGolden(const std::string& name, const TempDir& dir) {
  std::filesystem::copy_file(XbaseFixture(name + "/VZPB.dbf"), dir / "VZPB.dbf");
  std::filesystem::copy_file(XbaseFixture(name + "/VZPB.cdx"), dir / "VZPB.cdx");
  std::filesystem::permissions(dir / "VZPB.dbf", std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  std::filesystem::permissions(dir / "VZPB.cdx", std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  return dir / "VZPB.dbf";
}

}  // namespace vz::db::test
