// DBF headers: the exact bytes we write, the golden tables, and refusal of damage.
#include <gtest/gtest.h>

#include "common/bytes.hpp"
#include "dbengine/dbf.hpp"
#include "tests/native/dbengine/testutil.hpp"

namespace vz::db {
namespace {

std::vector<DbfField> PhoneFields() { return {{"NAME", 'C', 35, 0, 0}, {"PHONE", 'C', 25, 0, 0}}; }

TEST(GoldenFixtures, AreReadFromTheRepositoryAndAMissingOneIsNamed) {
  const std::string path = test::XbaseFixture("n2000/expected.tsv");
  EXPECT_NE(path.find("/tests/fixtures/xbase/n2000/expected.tsv"), std::string::npos) << path;
  try {
    test::XbaseFixture("n2000/NOSUCH.DBF");
    FAIL() << "a missing fixture was handed out";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "missing test fixture: " + std::string(VZ_XBASE_FIXTURES) + "/n2000/NOSUCH.DBF");
  }
}

TEST(DbfHeader, NewPhoneTableHeaderMatchesTheGoldenTableByteForByte) {
  const std::string golden = test::ReadAll(test::XbaseFixture("small/VZPB.dbf"));
  ASSERT_EQ(golden.size(), 709u);
  DbfHeader h = MakeDbfHeader(PhoneFields(), {2026, 12, 7});
  h.recordCount = 10;
  h.flags = kDbfFlagStructuralCdx;
  EXPECT_EQ(BuildDbfHeader(h), golden.substr(0, 98));
  EXPECT_EQ(h.headerLength, 98);
  EXPECT_EQ(h.recordLength, 61);
}

TEST(DbfHeader, ParsesTheGoldenTables) {
  for (const char* name : {"small", "n2000"}) {
    const std::string bytes = test::ReadAll(test::XbaseFixture(std::string(name) + "/VZPB.dbf"));
    const DbfHeader h = ParseDbfHeader(bytes, bytes.size(), name);
    EXPECT_EQ(h.version, 0x03);
    ASSERT_EQ(h.fields.size(), 2u);
    EXPECT_EQ(h.fields[0].name, "NAME");
    EXPECT_EQ(h.fields[0].offset, 1);
    EXPECT_EQ(h.fields[1].name, "PHONE");
    EXPECT_EQ(h.fields[1].width, 25);
    EXPECT_EQ(h.fields[1].offset, 36);
    EXPECT_EQ(h.flags, kDbfFlagStructuralCdx);
    // The records, then the end marker (the larger golden table was written without one).
    const std::uint64_t end = h.RecordOffset(h.recordCount + 1);
    EXPECT_TRUE(bytes.size() == end || (bytes.size() == end + 1 && static_cast<unsigned char>(bytes.back()) == kDbfEndOfFile));
    EXPECT_TRUE(h.Writable());
  }
}

// A header with the given tweak applied to a sound two-field table of 2 records.
std::string Tweaked(const std::function<void(std::string&)>& tweak) {
  DbfHeader h = MakeDbfHeader(PhoneFields(), {2024, 1, 2});
  h.recordCount = 2;
  std::string bytes = BuildDbfHeader(h) + std::string(2 * 61, ' ') + '\x1a';
  tweak(bytes);
  return bytes;
}

TEST(DbfHeader, RefusesDamagedHeadersNamingTheFault) {
  auto u = [](std::string& b) { return reinterpret_cast<unsigned char*>(b.data()); };
  struct Case {
    const char* what;
    std::function<void(std::string&)> tweak;
    const char* message;
  } cases[] = {
      {"short file", [](std::string& b) { b.resize(20); }, "too few"},
      {"unknown version", [](std::string& b) { b[0] = 0x47; }, "version"},
      {"header too small", [&](std::string& b) { PutLE16(u(b) + 8, 40); }, "too small"},
      {"header past end", [&](std::string& b) { PutLE16(u(b) + 8, 9000); }, "exceeds"},
      {"descriptor past header", [](std::string& b) { b[96] = 'X'; }, "past the header"},
      {"no terminator", [&](std::string& b) { PutLE16(u(b) + 8, 96); b.erase(96, 2); }, "terminator"},
      {"width zero", [](std::string& b) { b[32 + 16] = 0; }, "width 0"},
      {"bad name byte", [](std::string& b) { b[33] = '\x01'; }, "name"},
      {"empty name", [](std::string& b) { b[32] = 0; }, "no name"},
      {"record too short", [&](std::string& b) { PutLE16(u(b) + 10, 30); }, "shorter"},
      {"count past end", [&](std::string& b) { PutLE32(u(b) + 4, 3); }, "counts 3"},
      {"huge count", [&](std::string& b) { PutLE32(u(b) + 4, 0xFFFFFFFF); }, "counts"},
      {"zero record length", [&](std::string& b) { PutLE16(u(b) + 10, 0); }, "shorter"},
  };
  for (const auto& c : cases) {
    const std::string bytes = Tweaked(c.tweak);
    try {
      ParseDbfHeader(bytes, bytes.size(), "X.DBF");
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const DbfDamaged& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.what << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find("X.DBF"), std::string::npos);
    }
  }
}

TEST(DbfHeader, ReadsLenientlyWhatOtherWritersProduce) {
  // Visual FoxPro layout: version 0x30, 263 bytes of backlink after the terminator,
  // field displacements filled in, N, D and L fields.
  DbfHeader h = MakeDbfHeader({{"ID", 'N', 6, 0, 0}, {"BORN", 'D', 8, 0, 0}, {"OK", 'L', 1, 0, 0}}, {2024, 5, 6});
  h.version = 0x30;
  h.headerLength = static_cast<std::uint16_t>(32 + 3 * 32 + 1 + 263);
  h.recordCount = 1;
  std::string bytes = BuildDbfHeader(h);
  PutLE32(reinterpret_cast<unsigned char*>(bytes.data()) + 32 + 12, 1);
  bytes += " 12345" "20240506" "T" "\x1a";
  const DbfHeader p = ParseDbfHeader(bytes, bytes.size(), "V.DBF");
  ASSERT_EQ(p.fields.size(), 3u);
  EXPECT_EQ(p.fields[1].type, 'D');
  EXPECT_EQ(p.fields[2].offset, 15);
  EXPECT_EQ(p.RecordOffset(1), 32u + 96 + 1 + 263);
  EXPECT_TRUE(p.Writable());

  // A longer stored record than its fields need, and a file without the end marker.
  std::string loose = Tweaked([](std::string& b) {
    PutLE16(reinterpret_cast<unsigned char*>(b.data()) + 10, 62);
    b.back() = ' ';
    b += ' ';
  });
  EXPECT_EQ(ParseDbfHeader(loose, loose.size(), "L.DBF").recordLength, 62);

  // A memo table opens for reading but is not ours to write.
  std::string memo = Tweaked([](std::string& b) {
    b[0] = static_cast<char>(0xF5);
    b[32 + 32 + 11] = 'M';
  });
  EXPECT_FALSE(ParseDbfHeader(memo, memo.size(), "M.DBF").Writable());
}

TEST(DbfHeader, NewTablesAreCheckedStrictly) {
  const DbfDate d{2024, 1, 1};
  EXPECT_THROW(MakeDbfHeader({}, d), DbError);
  EXPECT_THROW(MakeDbfHeader({{"TOOLONGNAME", 'C', 5, 0, 0}}, d), DbError);
  EXPECT_THROW(MakeDbfHeader({{"1ST", 'C', 5, 0, 0}}, d), DbError);
  EXPECT_THROW(MakeDbfHeader({{"A B", 'C', 5, 0, 0}}, d), DbError);
  EXPECT_THROW(MakeDbfHeader({{"NAME", 'C', 255, 0, 0}}, d), DbError);
  EXPECT_THROW(MakeDbfHeader({{"NAME", 'C', 0, 0, 0}}, d), DbError);
  EXPECT_THROW(MakeDbfHeader({{"NAME", 'C', 5, 0, 0}, {"name", 'C', 5, 0, 0}}, d), DbError);
  EXPECT_THROW(MakeDbfHeader({{"NOTES", 'M', 10, 0, 0}}, d), DbError);
  const DbfHeader h = MakeDbfHeader({{"name", 'c', 5, 3, 0}, {"n", 'N', 8, 2, 0}, {"d", 'D', 1, 0, 0}}, d);
  EXPECT_EQ(h.fields[0].name, "NAME");
  EXPECT_EQ(h.fields[0].type, 'C');
  EXPECT_EQ(h.fields[0].decimals, 0);
  EXPECT_EQ(h.fields[2].width, 8);
  EXPECT_EQ(h.recordLength, 1 + 5 + 8 + 8);
  const std::string dc = BuildDateAndCount({2025, 3, 4}, 0x01020304);
  EXPECT_EQ(dc, std::string("\x7d\x03\x04\x04\x03\x02\x01", 7));
}

}  // namespace
}  // namespace vz::db
