#pragma once
// Helpers shared by the index tests: golden fixture access and a tiny DBF reader.
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/bytes.hpp"
#include "dbengine/cdx.hpp"
#include "mem_file.hpp"
#include "tests/native/xbase_fixture.hpp"

namespace vz::db::test {

using vz::test::XbaseFixture;

struct DbfRecord {
  std::uint32_t recno;
  bool deleted;
  std::string name;  // the NAME field, 35 bytes with its blanks
};

// Reads the first field (NAME, C 35) of every record, using the header's own lengths.
inline std::vector<DbfRecord> ReadNames(const std::string& dbfPath) {
  const std::vector<unsigned char> b = ReadWholeFile(dbfPath);
  std::vector<DbfRecord> out;
  if (b.size() < 32) return out;
  const std::uint32_t count = GetLE32(b.data() + 4);
  const std::uint16_t headerLen = GetLE16(b.data() + 8);
  const std::uint16_t recordLen = GetLE16(b.data() + 10);
  const std::size_t width = b[32 + 16];
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = headerLen + static_cast<std::size_t>(i) * recordLen;
    if (at + recordLen > b.size()) break;
    out.push_back({i + 1, b[at] == '*', std::string(reinterpret_cast<const char*>(b.data() + at + 1), width)});
  }
  return out;
}

// expected.tsv: record number, tab, NAME.
inline std::vector<CdxEntry> ReadExpected(const std::string& path) {
  std::ifstream in(path);
  std::vector<CdxEntry> out;
  std::string line;
  while (std::getline(in, line)) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    std::string name = line.substr(tab + 1);
    if (!name.empty() && name.back() == '\r') name.pop_back();
    name.resize(35, ' ');
    out.push_back({name, static_cast<std::uint32_t>(std::stoul(line.substr(0, tab)))});
  }
  return out;
}

inline std::vector<CdxEntry> LiveEntries(const std::vector<DbfRecord>& records) {
  std::vector<CdxEntry> out;
  for (const auto& r : records) {
    if (!r.deleted) out.push_back({r.name, r.recno});
  }
  return out;
}

inline std::vector<CdxEntry> ListForward(CdxTag& tag) {
  std::vector<CdxEntry> out;
  for (auto e = tag.First(); e; e = tag.Next(*e)) out.push_back(*e);
  return out;
}

inline std::vector<CdxEntry> ListBackward(CdxTag& tag) {
  std::vector<CdxEntry> out;
  for (auto e = tag.Last(); e; e = tag.Prev(*e)) out.push_back(*e);
  return out;
}

inline CdxTagInfo NameTagInfo() {
  CdxTagInfo info;
  info.name = "NAME";
  info.keyExpr = "NAME";
  info.forExpr = ".not. deleted()";
  info.keyLength = 35;
  return info;
}

// Runs a shell command and returns its standard output.
inline std::string RunCommand(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

}  // namespace vz::db::test
