// A walk in tag order reads the tag's entries ahead, a batch under one index lock, and
// takes them without the lock while the index's change counter stands: every change
// made before a Skip, by another opener or by the walker itself, is seen by it.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "dbengine/table.hpp"
#include "tests/native/dbengine/testutil.hpp"

namespace vz::db {
namespace {

using namespace test;

std::string Name(int i) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "N%03d", i);
  return buf;
}

// Records 1..n named N000.., phone "1"; record r holds Name(r - 1).
void MakeNumberedBook(FileSystem& fs, int n) {
  MakePhoneTable("VZPB.DBF", FixedDate(ShareMode::kShared, &fs));
  auto t = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &fs));
  for (int i = 0; i < n; ++i) t->Append(PhoneRecord(*t, Name(i), "1"));
}

std::string Current(Table& t) { return Trimmed(t.FieldText(0)) + "/" + Trimmed(t.FieldText(1)); }

// The walker stands on N010; the changer appends, deletes, changes a phone and moves a
// name away, each just ahead of it, and one far ahead; the walker then walks on.
void WalkWhileChanging(Table& walker, Table& changer) {
  walker.SetOrder(walker.TagOrder("NAME"));
  walker.SetFilter(".not. deleted()");
  ASSERT_TRUE(walker.GoTop());
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(walker.Skip(1));
  ASSERT_EQ(Current(walker), "N010/1");
  changer.Append(PhoneRecord(changer, "N010A", "2"));
  ASSERT_TRUE(walker.Skip(1));
  EXPECT_EQ(Current(walker), "N010A/2");
  changer.Delete(13);  // N012
  ASSERT_TRUE(walker.Skip(1));
  EXPECT_EQ(Current(walker), "N011/1");
  ASSERT_TRUE(walker.Skip(1));
  EXPECT_EQ(Current(walker), "N013/1");
  changer.Update(15, PhoneRecord(changer, "N014", "3"));  // the phone alone: no key moves
  ASSERT_TRUE(walker.Skip(1));
  EXPECT_EQ(Current(walker), "N014/3");
  changer.Update(16, PhoneRecord(changer, "A015", "1"));  // N015 moves to the front
  changer.Append(PhoneRecord(changer, "N200X", "4"));
  std::vector<std::string> rest;
  while (walker.Skip(1)) rest.push_back(Current(walker));
  std::vector<std::string> expected;
  for (int i = 16; i < 300; ++i) {
    expected.push_back(Name(i) + "/1");
    if (i == 200) expected.push_back("N200X/4");
  }
  EXPECT_EQ(rest, expected);
  EXPECT_TRUE(walker.Eof());
}

TEST(WalkAhead, AnotherOpenersChangesAreSeenByTheWalkAfterThem) {
  MemoryFileSystem mem;
  MakeNumberedBook(mem, 300);
  auto walker = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  auto changer = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  WalkWhileChanging(*walker, *changer);
}

TEST(WalkAhead, AReadOnlyWalkerSeesAnotherOpenersChanges) {
  MemoryFileSystem mem;
  MakeNumberedBook(mem, 300);
  auto walker = Table::Open("VZPB.DBF", FixedDate(ShareMode::kReadOnly, &mem));
  auto changer = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  WalkWhileChanging(*walker, *changer);
}

TEST(WalkAhead, TheWalkersOwnChangesAreSeenByItsWalkSharedOrExclusive) {
  for (const ShareMode mode : {ShareMode::kShared, ShareMode::kExclusive}) {
    SCOPED_TRACE(mode == ShareMode::kShared ? "shared" : "exclusive");
    MemoryFileSystem mem;
    MakeNumberedBook(mem, 300);
    auto t = Table::Open("VZPB.DBF", FixedDate(mode, &mem));
    WalkWhileChanging(*t, *t);
  }
}

// Walking backward, then forward again over entries read ahead before: the same
// records as a walk from the top.
TEST(WalkAhead, TurningBackAndForthKeepsTheOrder) {
  MemoryFileSystem mem;
  MakeNumberedBook(mem, 300);
  auto t = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  t->SetOrder(t->TagOrder("NAME"));
  ASSERT_TRUE(t->GoTop());
  for (int i = 0; i < 140; ++i) ASSERT_TRUE(t->Skip(1));
  EXPECT_EQ(Current(*t), "N140/1");
  ASSERT_TRUE(t->Skip(-20));
  EXPECT_EQ(Current(*t), "N120/1");
  ASSERT_TRUE(t->Skip(30));
  EXPECT_EQ(Current(*t), "N150/1");
  ASSERT_TRUE(t->Seek("N290"));
  ASSERT_TRUE(t->Skip(9));
  EXPECT_EQ(Current(*t), "N299/1");
  EXPECT_FALSE(t->Skip(1));
  EXPECT_TRUE(t->Eof());
}

// Counts the lock requests made on each file.
class LockCounter : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  std::map<std::string, int> locks;

 protected:
  std::unique_ptr<File> Wrap(std::unique_ptr<File> file, const std::string& path) override {
    return std::make_unique<Counted>(std::move(file), locks[path]);
  }

 private:
  class Counted : public ForwardingFile {
   public:
    Counted(std::unique_ptr<File> inner, int& locks) : ForwardingFile(std::move(inner)), locks_(locks) {}
    bool TryLock(std::uint64_t offset, std::uint64_t length, LockKind kind) override {
      ++locks_;
      return ForwardingFile::TryLock(offset, length, kind);
    }

   private:
    int& locks_;
  };
};

// A shared walk of a thousand records takes the index lock once a batch of entries,
// not once a record.
TEST(WalkAhead, AWalkTakesTheIndexLockOnceABatch) {
  MemoryFileSystem mem;
  MakeNumberedBook(mem, 1000);
  LockCounter fs(mem);
  auto t = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &fs));
  t->SetOrder(t->TagOrder("NAME"));
  t->SetFilter(".not. deleted()");
  const int before = fs.locks["VZPB.CDX"];
  int walked = 0;
  for (bool ok = t->GoTop(); ok; ok = t->Skip(1)) ++walked;
  EXPECT_EQ(walked, 1000);
  EXPECT_LE(fs.locks["VZPB.CDX"] - before, 20);
}

}  // namespace
}  // namespace vz::db
