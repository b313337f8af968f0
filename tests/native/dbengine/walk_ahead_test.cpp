// A walk in tag order reads the tag's entries ahead, a batch under one index lock, and
// takes them without the lock while the index's change counter stands, read again once
// a millisecond has passed: every change made that long before a Skip, by another
// opener, and every change by the walker itself, is seen by it.
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

// A clock that stands still until the test moves it.
struct ManualClock {
  std::shared_ptr<std::chrono::steady_clock::time_point> now = std::make_shared<std::chrono::steady_clock::time_point>();
  TableOptions Options(TableOptions o) const {
    o.clock = [t = now] { return *t; };
    return o;
  }
  void Pass(std::chrono::microseconds d) const { *now += d; }
};

std::string Current(Table& t) { return Trimmed(t.FieldText(0)) + "/" + Trimmed(t.FieldText(1)); }

// The walker stands on N010; the changer appends, deletes, changes a phone and moves a
// name away, each just ahead of it, and one far ahead; the walker then walks on.
void WalkWhileChanging(Table& walker, Table& changer, const ManualClock& walkersClock) {
  const auto changed = [&] { walkersClock.Pass(std::chrono::microseconds(1000)); };
  walker.SetOrder(walker.TagOrder("NAME"));
  walker.SetFilter(".not. deleted()");
  ASSERT_TRUE(walker.GoTop());
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(walker.Skip(1));
  ASSERT_EQ(Current(walker), "N010/1");
  changer.Append(PhoneRecord(changer, "N010A", "2"));
  changed();
  ASSERT_TRUE(walker.Skip(1));
  EXPECT_EQ(Current(walker), "N010A/2");
  changer.Delete(13);  // N012
  changed();
  ASSERT_TRUE(walker.Skip(1));
  EXPECT_EQ(Current(walker), "N011/1");
  ASSERT_TRUE(walker.Skip(1));
  EXPECT_EQ(Current(walker), "N013/1");
  changer.Update(15, PhoneRecord(changer, "N014", "3"));  // the phone alone: no key moves
  changed();
  ASSERT_TRUE(walker.Skip(1));
  EXPECT_EQ(Current(walker), "N014/3");
  changer.Update(16, PhoneRecord(changer, "A015", "1"));  // N015 moves to the front
  changer.Append(PhoneRecord(changer, "N200X", "4"));
  changed();
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
  ManualClock clock;
  auto walker = Table::Open("VZPB.DBF", clock.Options(FixedDate(ShareMode::kShared, &mem)));
  auto changer = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  WalkWhileChanging(*walker, *changer, clock);
}

TEST(WalkAhead, AReadOnlyWalkerSeesAnotherOpenersChanges) {
  MemoryFileSystem mem;
  MakeNumberedBook(mem, 300);
  ManualClock clock;
  auto walker = Table::Open("VZPB.DBF", clock.Options(FixedDate(ShareMode::kReadOnly, &mem)));
  auto changer = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  WalkWhileChanging(*walker, *changer, clock);
}

TEST(WalkAhead, TheWalkersOwnChangesAreSeenByItsWalkSharedOrExclusive) {
  for (const ShareMode mode : {ShareMode::kShared, ShareMode::kExclusive}) {
    SCOPED_TRACE(mode == ShareMode::kShared ? "shared" : "exclusive");
    MemoryFileSystem mem;
    MakeNumberedBook(mem, 300);
    // The clock never moves: the walker forgets what it read ahead at its own changes.
    ManualClock clock;
    auto t = Table::Open("VZPB.DBF", clock.Options(FixedDate(mode, &mem)));
    WalkWhileChanging(*t, *t, ManualClock{});
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

// Counts, for each file, the lock requests and the reads of the index's change counter
// (4 bytes at offset 8).
class CallCounter : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  struct Calls {
    int locks = 0;
    int counterReads = 0;
  };
  std::map<std::string, Calls> calls;

 protected:
  std::unique_ptr<File> Wrap(std::unique_ptr<File> file, const std::string& path) override {
    return std::make_unique<Counted>(std::move(file), calls[path]);
  }

 private:
  class Counted : public ForwardingFile {
   public:
    Counted(std::unique_ptr<File> inner, Calls& calls) : ForwardingFile(std::move(inner)), calls_(calls) {}
    bool TryLock(std::uint64_t offset, std::uint64_t length, LockKind kind) override {
      ++calls_.locks;
      return ForwardingFile::TryLock(offset, length, kind);
    }
    std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override {
      if (offset == 8 && n == 4) ++calls_.counterReads;
      return ForwardingFile::ReadAt(offset, buf, n);
    }

   private:
    Calls& calls_;
  };
};

// A shared walk of a thousand records takes the index lock once a batch of entries,
// not once a record; within a millisecond of its last look it reads the change counter
// once a batch too, and at every Skip once that time has passed.
TEST(WalkAhead, AWalkTakesTheIndexLockAndReadsTheCounterOnceABatch) {
  MemoryFileSystem mem;
  MakeNumberedBook(mem, 1000);
  for (const bool clockRuns : {false, true}) {
    SCOPED_TRACE(clockRuns ? "a second between Skips" : "no time between Skips");
    CallCounter fs(mem);
    ManualClock clock;
    TableOptions options = FixedDate(ShareMode::kShared, &fs);
    if (!clockRuns) options = clock.Options(options);
    auto t = Table::Open("VZPB.DBF", options);
    t->SetOrder(t->TagOrder("NAME"));
    t->SetFilter(".not. deleted()");
    const CallCounter::Calls before = fs.calls["VZPB.CDX"];
    int walked = 0;
    for (bool ok = t->GoTop(); ok; ok = t->Skip(1)) ++walked;
    EXPECT_EQ(walked, 1000);
    const CallCounter::Calls& after = fs.calls["VZPB.CDX"];
    EXPECT_LE(after.locks - before.locks, 20);
    if (clockRuns)
      EXPECT_GE(after.counterReads - before.counterReads, 1000);
    else
      EXPECT_LE(after.counterReads - before.counterReads, 20);
  }
}

// The walker's own batch of new entries just ahead of it, with its clock standing
// still: the walk lands on them.
TEST(WalkAhead, TheWalkersOwnBatchIsSeenAtOnce) {
  MemoryFileSystem mem;
  MakeNumberedBook(mem, 300);
  ManualClock clock;
  auto t = Table::Open("VZPB.DBF", clock.Options(FixedDate(ShareMode::kShared, &mem)));
  t->SetOrder(t->TagOrder("NAME"));
  ASSERT_TRUE(t->GoTop());
  ASSERT_TRUE(t->Skip(1));
  ASSERT_EQ(Current(*t), "N001/1");
  Table::BatchProgress progress;
  t->AppendBatch({PhoneRecord(*t, "N001A", "5"), PhoneRecord(*t, "N001B", "6")}, progress);
  ASSERT_TRUE(t->Skip(1));
  EXPECT_EQ(Current(*t), "N001A/5");
  ASSERT_TRUE(t->Skip(1));
  EXPECT_EQ(Current(*t), "N001B/6");
  ASSERT_TRUE(t->Skip(1));
  EXPECT_EQ(Current(*t), "N002/1");
}

}  // namespace
}  // namespace vz::db
