// The table engine on Windows: LockFileEx locks, backslash paths, mending a damaged
// index in place, the golden tables and the phone book, under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "common/bytes.hpp"
#include "dbengine/table.hpp"
#include "phonebook/phonetable.hpp"

namespace vz::db {
namespace {

class WinTempDir {
 public:
  WinTempDir() {
    path_ = std::filesystem::temp_directory_path() /
            ("vzdb-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64()) + "-" +
             std::to_string(counter_++));
    std::filesystem::create_directories(path_);
  }
  ~WinTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  std::string Dir() const { return path_.string() + "\\"; }

 private:
  static inline int counter_ = 0;
  std::filesystem::path path_;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A golden file written by an independent xBase engine, from tests/fixtures/xbase
// in the checkout ("small\\VZPB.dbf"); a missing one ends the test naming its path.
std::string Golden(const std::string& relative) {
  std::string path = std::string("Z:") + VZ_XBASE_FIXTURES + "/" + relative;
  for (char& c : path)
    if (c == '/') c = '\\';
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    throw std::runtime_error("missing test fixture: " + path);
  return path;
}

TableOptions Options() {
  TableOptions o;
  o.today = [] { return DbfDate{2026, 12, 7}; };
  o.lockTimeoutMs = 100;
  return o;
}

std::string PhoneRecord(const Table& t, const std::string& name, const std::string& phone) {
  std::string rec = t.BlankRecord();
  t.SetFieldText(rec, 0, name);
  t.SetFieldText(rec, 1, phone);
  return rec;
}

std::vector<std::string> Names(Table& t) {
  std::vector<std::string> out;
  for (bool ok = t.GoTop(); ok; ok = t.Skip(1)) {
    std::string n = t.FieldText(0);
    while (!n.empty() && n.back() == ' ') n.pop_back();
    out.push_back(n);
  }
  return out;
}

TEST(WinHostFile, LockFileExLocksConflictBetweenHandles) {
  WinTempDir dir;
  auto a = OpenHostFile(dir / "t.dbf", OpenMode::kCreate);
  auto b = OpenHostFile(dir / "t.dbf", OpenMode::kReadWrite);
  a->WriteAt(0, "abc", 3);
  char buf[3];
  ASSERT_EQ(b->ReadAt(0, buf, 3), 3u);
  EXPECT_EQ(b->ReadAt(10, buf, 3), 0u);
  ASSERT_TRUE(a->TryLock(0x7FFFFFFE, 1, LockKind::kExclusive));
  EXPECT_FALSE(b->TryLock(0x7FFFFFFE, 1, LockKind::kShared));
  EXPECT_TRUE(b->TryLock(0x7FFFFFFD, 1, LockKind::kExclusive));
  a->Unlock(0x7FFFFFFE, 1);
  EXPECT_TRUE(b->TryLock(0x7FFFFFFE, 1, LockKind::kShared));
  EXPECT_TRUE(a->TryLock(0x7FFFFFFE, 1, LockKind::kShared));
  a->Truncate(1);
  EXPECT_EQ(b->Size(), 1u);
  EXPECT_THROW(OpenHostFile(dir / "missing.dbf", OpenMode::kReadOnly), DbError);
}

// Each read and write lands at its own offset, wherever the one before it ended, also
// after a truncation and beyond the end.
TEST(WinHostFile, ReadsAndWritesLandAtTheirOffsets) {
  WinTempDir dir;
  auto f = OpenHostFile(dir / "t.dbf", OpenMode::kCreate);
  f->WriteAt(0, "0123456789", 10);
  f->WriteAt(4, "ab", 2);
  f->WriteAt(12, "XY", 2);  // leaves a gap of two bytes
  char buf[16] = {};
  ASSERT_EQ(f->ReadAt(8, buf, 4), 4u);
  EXPECT_EQ(std::string(buf, 4), std::string("89\0\0", 4));
  ASSERT_EQ(f->ReadAt(2, buf, 4), 4u);
  EXPECT_EQ(std::string(buf, 4), "23ab");
  EXPECT_EQ(f->ReadAt(12, buf, 16), 2u);
  EXPECT_EQ(std::string(buf, 2), "XY");
  f->Truncate(5);
  f->WriteAt(1, "Z", 1);
  ASSERT_EQ(f->ReadAt(0, buf, 16), 5u);
  EXPECT_EQ(std::string(buf, 5), "0Z23a");
  auto other = OpenHostFile(dir / "t.dbf", OpenMode::kReadOnly);
  ASSERT_EQ(other->ReadAt(3, buf, 2), 2u);
  EXPECT_EQ(std::string(buf, 2), "3a");
}

TEST(WinTable, PhoneTableRoundTripAndSharedOpeners) {
  WinTempDir dir;
  const std::string path = dir / "VZPB.DBF";
  Table::Create(path, {{"NAME", 'C', 35, 0, 0}, {"PHONE", 'C', 25, 0, 0}}, Options());
  auto a = Table::Open(path, Options());
  a->IndexTag({"NAME", "NAME", ".not. deleted()", false, false});
  auto b = Table::Open(path, Options());
  b->SetOrder(b->TagOrder("NAME"));
  b->SetFilter(".not. deleted()");
  a->Append(PhoneRecord(*a, "Mueller, Hans", "+49 30 001007"));
  b->Append(PhoneRecord(*b, "Adams", "1"));
  a->Append(PhoneRecord(*a, "Zed", "2"));
  a->Delete(3);
  EXPECT_EQ(Names(*b), (std::vector<std::string>{"Adams", "Mueller, Hans"}));
  EXPECT_EQ(b->CountVisible(), 2u);
  EXPECT_TRUE(b->CheckIndex().empty());
  // The first record's bytes are those of the golden table's first record.
  EXPECT_EQ(ReadAll(path).substr(98, 61), ReadAll(Golden("small\\VZPB.dbf")).substr(98, 61));
  // A foreign record lock (another program editing record 1) is honoured.
  auto other = OpenHostFile(path, OpenMode::kReadWrite);
  ASSERT_TRUE(other->TryLock(0x7FFFFFFE - 1, 1, LockKind::kExclusive));
  EXPECT_THROW(a->Delete(1), DbError);
  other->Unlock(0x7FFFFFFE - 1, 1);
  a->Delete(1);
  EXPECT_EQ(b->CountVisible(), 1u);
}

// Shared use with LockFileEx: a change refused the index lock writes nothing; a
// read-only reader waits for the index and for a foreign record's lock (a record
// whose key is still to come is no damage); damage found by one opener is mended in
// place for all.
TEST(WinTable, SharedOpenersLockTheIndexAndMendItInPlace) {
  WinTempDir dir;
  const std::string path = dir / "VZPB.DBF";
  Table::Create(path, {{"NAME", 'C', 35, 0, 0}, {"PHONE", 'C', 25, 0, 0}}, Options());
  auto a = Table::Open(path, Options());
  a->IndexTag({"NAME", "NAME", ".not. deleted()", false, false});
  a->Append(PhoneRecord(*a, "Kim", "1"));
  auto cdx = OpenHostFile(dir / "VZPB.CDX", OpenMode::kReadWrite);
  ASSERT_TRUE(cdx->TryLock(kCdxLockOffset, 1, LockKind::kExclusive));
  const std::string before = ReadAll(path);
  EXPECT_THROW(a->Append(PhoneRecord(*a, "Al", "2")), DbError);
  EXPECT_EQ(ReadAll(path), before);
  TableOptions ro = Options();
  ro.mode = ShareMode::kReadOnly;
  cdx->Unlock(kCdxLockOffset, 1);
  auto reader = Table::Open(path, ro);
  reader->SetOrder(reader->TagOrder("NAME"));
  ASSERT_TRUE(cdx->TryLock(kCdxLockOffset, 1, LockKind::kExclusive));
  EXPECT_THROW(reader->GoTop(), DbError);
  cdx->Unlock(kCdxLockOffset, 1);

  // Another program appends record 2 and holds its lock; the key is not there yet.
  auto dbf = OpenHostFile(path, OpenMode::kReadWrite);
  ASSERT_TRUE(dbf->TryLock(0x7FFFFFFE - 2, 1, LockKind::kExclusive));
  const std::string rec = PhoneRecord(*a, "Al", "2") + '\x1a';
  dbf->WriteAt(98 + 61, rec.data(), rec.size());
  const unsigned char two[4] = {2, 0, 0, 0};
  dbf->WriteAt(4, two, 4);
  auto opener = Table::Open(path, ro);
  EXPECT_EQ(opener->DamageReason(), "");
  EXPECT_TRUE(opener->HasIndex());
  std::string key = "Al";
  key.resize(35, ' ');
  CdxIndex::Open(OpenHostFile(dir / "VZPB.CDX", OpenMode::kReadWrite))->FindTag("NAME")->Insert(key, 2);
  dbf->Unlock(0x7FFFFFFE - 2, 1);
  EXPECT_TRUE(opener->CheckIndex().empty());

  // An interrupted update of another program: mended where it lies, for both openers.
  auto b = Table::Open(path, Options());
  b->SetOrder(b->TagOrder("NAME"));
  std::string mark = "PUZV";
  cdx->WriteAt(496, mark.data(), mark.size());
  a->Append(PhoneRecord(*a, "Bo", "3"));
  EXPECT_NE(a->DamageReason(), "");
  EXPECT_EQ(Names(*b), (std::vector<std::string>{"Al", "Bo", "Kim"}));
  EXPECT_EQ(Names(*reader), (std::vector<std::string>{"Al", "Bo", "Kim"}));
  EXPECT_EQ(ReadAll(dir / "VZPB.CDX.BAD").substr(496, 4), "PUZV");
  EXPECT_EQ(Table::Open(path, Options())->DamageReason(), "");
}

TEST(WinTable, GoldenCopyListsInOrderAndADamagedIndexIsRebuiltInPlace) {
  WinTempDir dir;
  CopyFileA(Golden("small\\VZPB.dbf").c_str(), (dir / "VZPB.dbf").c_str(), FALSE);
  CopyFileA(Golden("small\\VZPB.cdx").c_str(), (dir / "VZPB.cdx").c_str(), FALSE);
  SetFileAttributesA((dir / "VZPB.dbf").c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesA((dir / "VZPB.cdx").c_str(), FILE_ATTRIBUTE_NORMAL);
  const std::vector<std::string> order = {"Adams, Ann", "Meier, Maria", "Mueller, Hans", "Oswald, Otto",
                                          "Schmidt, Sabine", "Zimmer, Zoe", "adams, al"};
  {
    auto t = Table::Open(dir / "VZPB.dbf", Options());
    ASSERT_TRUE(t->HasIndex());
    t->SetOrder(t->TagOrder("NAME"));
    t->SetFilter(".not. deleted()");
    EXPECT_EQ(Names(*t), order);
  }
  std::string cdx = ReadAll(dir / "VZPB.cdx");
  PutLE32(reinterpret_cast<unsigned char*>(cdx.data()) + 0x600, 0x12345);
  WriteAll(dir / "VZPB.cdx", cdx);
  auto t = Table::Open(dir / "VZPB.dbf", Options());
  EXPECT_TRUE(t->HasIndex());
  EXPECT_EQ(ReadAll(dir / "VZPB.cdx.BAD"), cdx);
  EXPECT_TRUE(t->CheckIndex().empty());
  t->SetOrder(t->TagOrder("NAME"));
  t->SetFilter(".not. deleted()");
  EXPECT_EQ(Names(*t), order);
}

class FakeUi : public phonebook::PhoneBookUi {
 public:
  explicit FakeUi(std::string path) : path_(std::move(path)) {}
  std::string ProgramPath() override { return path_; }
  void ShowInfo(const std::string& text) override { infos.push_back(text); }
  void Terminate() override {}
  void Beep() override {}
  std::vector<std::string> infos;

 private:
  std::string path_;
};

TEST(WinPhoneBook, OpensCreatesAndKeepsEntriesInNameOrder) {
  WinTempDir dir;
  FakeUi ui(dir.Dir() + "VZNTCTL.EXE");
  data::TTable table;
  data::TDataSource source;
  phonebook::TDataEngine engine;
  phonebook::AddPhoneFields(table);
  source.SetDataSet(&table);
  engine.SetDataSource(&source);
  ASSERT_TRUE(phonebook::OpenPhoneDBF(table, engine, ui));
  EXPECT_TRUE(std::filesystem::exists(dir / "VZPB.CDX"));
  for (const char* n : {"Smith", "Adams"}) {
    table.Append();
    table.FieldByName("NAME").SetAsString(n);
    table.FieldByName("PHONE").SetAsString("1");
    table.Post();
  }
  table.First();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "Adams");
  table.Delete();
  EXPECT_EQ(engine.QueryRecCount(), 1);
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "Smith");
  table.Close();
  FakeUi nowhere("Q:\\no\\such\\dir\\VZNTCTL.EXE");
  EXPECT_FALSE(phonebook::OpenPhoneDBF(table, engine, nowhere));
}

}  // namespace
}  // namespace vz::db
