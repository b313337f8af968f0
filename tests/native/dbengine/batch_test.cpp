// Appending many records as one change (bulk imports): the tags built again in one
// pass agree with the records, a power cut anywhere in it is found out and mended by
// the next opener, and a full disk leaves the counted chunks whole and indexed. A
// batch small next to its table goes in with its keys under one hold of each lock,
// the index kept in place, and a crash or power cut in it is found out the same way.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "common/bytes.hpp"
#include "dbengine/table.hpp"
#include "tests/native/dbengine/testutil.hpp"

namespace vz::db {
namespace {

using namespace test;

std::uint32_t CountIn(const std::string& dbf) {
  return dbf.size() < 8 ? 0 : GetLE32(reinterpret_cast<const unsigned char*>(dbf.data()) + 4);
}

// Writes to the table past `capacity` bytes fail as on a full disk.
class FullDiskFileSystem : public ForwardingFileSystem {
 public:
  FullDiskFileSystem(FileSystem& inner, std::uint64_t capacity) : ForwardingFileSystem(inner), capacity_(capacity) {}

 protected:
  std::unique_ptr<File> Wrap(std::unique_ptr<File> file, const std::string& path) override {
    if (path.size() < 4 || path.substr(path.size() - 4) != ".DBF") return file;
    return std::make_unique<Limited>(std::move(file), capacity_);
  }

 private:
  class Limited : public ForwardingFile {
   public:
    Limited(std::unique_ptr<File> inner, std::uint64_t capacity) : ForwardingFile(std::move(inner)), capacity_(capacity) {}
    void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
      if (offset + n > capacity_) throw DbError("cannot write " + Path() + ": No space left on device");
      ForwardingFile::WriteAt(offset, buf, n);
    }

   private:
    std::uint64_t capacity_;
  };
  std::uint64_t capacity_;
};

std::vector<std::string> Records(const Table& t, int from, int to, const char* prefix) {
  std::vector<std::string> out;
  for (int i = from; i < to; ++i) out.push_back(PhoneRecord(t, prefix + std::to_string(100000 - i), std::to_string(i)));
  return out;
}

// Options that build the tags again for a batch of any size.
TableOptions Rebuilding(FileSystem* fs) {
  TableOptions o = FixedDate(ShareMode::kShared, fs);
  o.batchIndexing = BatchIndexing::kRebuild;
  return o;
}

// Every state a power cut after flush `from` or later leaves: the table counts the
// batch whole or not at all (`without` or `with` records), and, with no comparison
// on open so that only the index's own mark can tell, shows as many entries in an
// index that agrees with them.
void ExpectEveryCutWholeOrAbsent(PowerCutFileSystem& fs, std::size_t from, std::uint32_t without,
                                 std::uint32_t with) {
  for (std::size_t cut = from; cut < fs.Cuts().size(); ++cut) {
    SCOPED_TRACE(testing::Message() << "power cut after flush " << cut + 1);
    MemoryFileSystem device;
    LoadFiles(device, fs.Cuts()[cut]);
    const std::uint32_t count = CountIn(device.Bytes("VZPB.DBF"));
    EXPECT_TRUE(count == without || count == with) << count;
    TableOptions o = FixedDate(ShareMode::kShared, &device);
    o.checkIndexOnOpenBytes = 0;
    auto opener = Table::Open("VZPB.DBF", o);
    EXPECT_GT(opener->TagOrder("NAME"), 0);
    EXPECT_EQ(VisibleNames(*opener).size(), count);
    const auto problems = opener->CheckIndex();
    EXPECT_TRUE(problems.empty()) << problems.front();
  }
}

TEST(TableBatch, TagsAreBuiltAgainFromAllRecords) {
  MemoryFileSystem mem;
  MakePhoneTable("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  auto t = Table::Open("VZPB.DBF", Rebuilding(&mem));
  t->Append(PhoneRecord(*t, "Mmm", "1"));
  t->Append(PhoneRecord(*t, "Aaa", "2", true));  // deleted: no key
  auto other = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  std::vector<std::string> batch{PhoneRecord(*t, "Zzz", "3"), PhoneRecord(*t, "Bbb", "4"),
                                 PhoneRecord(*t, "Ccc", "5", true), PhoneRecord(*t, "Mmm", "6")};
  Table::BatchProgress progress;
  t->AppendBatch(batch, progress);
  EXPECT_EQ(progress.appended, 4u);
  EXPECT_EQ(progress.firstRecNo, 3u);
  EXPECT_EQ(t->RecordCount(), 6u);
  EXPECT_EQ(VisibleNames(*t), (std::vector<std::string>{"Bbb", "Mmm", "Mmm", "Zzz"}));
  EXPECT_TRUE(t->CheckIndex().empty());
  // Another opener sees the new tag, and its own appends go on from there.
  other->Append(PhoneRecord(*other, "Aab", "7"));
  EXPECT_EQ(VisibleNames(*other), (std::vector<std::string>{"Aab", "Bbb", "Mmm", "Mmm", "Zzz"}));
  EXPECT_TRUE(other->CheckIndex().empty());
  std::string wrong = batch[0] + "x";
  EXPECT_THROW(t->AppendBatch({wrong}, progress), DbError);
  EXPECT_EQ(t->RecordCount(), 7u);
}

// At every flush of a batch, a power cut leaves a table that the next opener finds
// whole: the records counted before or after the batch, and an index that agrees
// with them (marked as being rebuilt in between, and built again on open).
TEST(TableBatch, APowerCutAnywhereIsFoundOutByTheNextOpener) {
  MemoryFileSystem mem;
  PowerCutFileSystem fs(mem);
  MakePhoneTable("VZPB.DBF", FixedDate(ShareMode::kShared, &fs));
  auto t = Table::Open("VZPB.DBF", Rebuilding(&fs));
  t->Append(PhoneRecord(*t, "Before", "1"));
  t->Flush();
  const std::size_t before = fs.Cuts().size();
  Table::BatchProgress progress;
  t->AppendBatch(Records(*t, 0, 30, "N"), progress);
  ASSERT_GT(fs.Cuts().size(), before + 2);
  ExpectEveryCutWholeOrAbsent(fs, before - 1, 1, 31);
}

// A disk that fills up part-way: the chunks counted before it are in the table and
// in its tag; nothing past them is counted.
TEST(TableBatch, AFullDiskKeepsTheCountedChunksIndexed) {
  MemoryFileSystem mem;
  MakePhoneTable("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  const std::uint64_t capacity = 98 + 20000 * 61;
  FullDiskFileSystem full(mem, capacity);
  auto t = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &full));
  Table::BatchProgress progress;
  try {
    t->AppendBatch(Records(*t, 0, 40000, "N"), progress);
    FAIL() << "the batch did not meet the full disk";
  } catch (const DbError& e) {
    EXPECT_EQ(std::string(e.what()), "cannot write VZPB.DBF: No space left on device");
  }
  EXPECT_EQ(progress.appended, 16384u);  // one chunk
  EXPECT_EQ(progress.firstRecNo, 1u);
  auto reader = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  EXPECT_EQ(reader->RecordCount(), 16384u);
  EXPECT_EQ(VisibleNames(*reader).size(), 16384u);
  EXPECT_TRUE(reader->CheckIndex().empty());
}

// Every lock, unlock, write and truncation of the files an opener opened, in order.
class RecordingFileSystem : public ForwardingFileSystem {
 public:
  struct Event {
    std::string file;
    char what;  // 'L' lock taken, 'U' unlocked, 'W' written, 'T' truncated
    std::uint64_t offset;
    std::size_t bytes;
    LockKind kind;
  };
  using ForwardingFileSystem::ForwardingFileSystem;
  std::vector<Event> events;

 protected:
  std::unique_ptr<File> Wrap(std::unique_ptr<File> file, const std::string& path) override {
    return std::make_unique<Recorded>(std::move(file), path, events);
  }

 private:
  class Recorded : public ForwardingFile {
   public:
    Recorded(std::unique_ptr<File> inner, std::string path, std::vector<Event>& events)
        : ForwardingFile(std::move(inner)), path_(std::move(path)), events_(events) {}
    bool TryLock(std::uint64_t offset, std::uint64_t length, LockKind kind) override {
      const bool got = ForwardingFile::TryLock(offset, length, kind);
      if (got) events_.push_back({path_, 'L', offset, 0, kind});
      return got;
    }
    void Unlock(std::uint64_t offset, std::uint64_t length) override {
      ForwardingFile::Unlock(offset, length);
      events_.push_back({path_, 'U', offset, 0, LockKind::kExclusive});
    }
    void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
      ForwardingFile::WriteAt(offset, buf, n);
      events_.push_back({path_, 'W', offset, n, LockKind::kExclusive});
    }
    void Truncate(std::uint64_t size) override {
      ForwardingFile::Truncate(size);
      events_.push_back({path_, 'T', size, 0, LockKind::kExclusive});
    }

   private:
    std::string path_;
    std::vector<Event>& events_;
  };
};

// A phone book of `n` records "N..." with its tag, on `mem`.
void MakeBook(MemoryFileSystem& mem, int n) {
  MakePhoneTable("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  auto t = Table::Open("VZPB.DBF", Rebuilding(&mem));
  Table::BatchProgress progress;
  t->AppendBatch(Records(*t, 0, n, "N"), progress);
}

TEST(TableBatch, TheBatchSizeDecidesHowTheTagsAreKept) {
  MemoryFileSystem mem;
  MakePhoneTable("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  auto t = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  EXPECT_FALSE(t->BatchRebuildsTags(0, 255));
  EXPECT_TRUE(t->BatchRebuildsTags(0, 256));
  EXPECT_TRUE(t->BatchRebuildsTags(20000, 646));
  EXPECT_FALSE(t->BatchRebuildsTags(20000, 645));
  EXPECT_FALSE(t->BatchRebuildsTags(1000000, 30000));
  EXPECT_TRUE(Table::Open("VZPB.DBF", Rebuilding(&mem))->BatchRebuildsTags(1000000, 1));
}

// Fifty records joining three thousand: one hold of the header lock and one of the
// index lock, taken in that order before anything is written; the header lock let go
// once the records are counted, before the keys go in; the index written in place
// (never truncated, a few of its pages), and the records in it for every opener.
TEST(TableBatch, ASmallBatchGoesInKeyByKeyUnderOneHoldOfEachLock) {
  MemoryFileSystem mem;
  MakeBook(mem, 3000);
  const std::size_t indexBytes = mem.Bytes("VZPB.CDX").size();
  RecordingFileSystem recording(mem);
  auto t = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &recording));
  auto other = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  EXPECT_EQ(VisibleNames(*other).size(), 3000u);
  recording.events.clear();
  Table::BatchProgress progress;
  t->AppendBatch(Records(*t, 3000, 3050, "M"), progress);
  EXPECT_EQ(progress.appended, 50u);
  EXPECT_EQ(progress.firstRecNo, 3001u);

  const auto& ev = recording.events;
  auto positions = [&](const std::string& file, char what, std::uint64_t offset) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < ev.size(); ++i)
      if (ev[i].file == file && ev[i].what == what && (offset == ~0ull || ev[i].offset == offset)) at.push_back(i);
    return at;
  };
  const auto headerLocks = positions("VZPB.DBF", 'L', kDbfLockBase);
  const auto headerUnlocks = positions("VZPB.DBF", 'U', kDbfLockBase);
  const auto indexLocks = positions("VZPB.CDX", 'L', kCdxLockOffset);
  const auto indexUnlocks = positions("VZPB.CDX", 'U', kCdxLockOffset);
  const auto tableWrites = positions("VZPB.DBF", 'W', ~0ull);
  const auto indexWrites = positions("VZPB.CDX", 'W', ~0ull);
  ASSERT_EQ(headerLocks.size(), 1u);
  ASSERT_EQ(headerUnlocks.size(), 1u);
  ASSERT_EQ(indexLocks.size(), 1u);
  ASSERT_EQ(indexUnlocks.size(), 1u);
  EXPECT_EQ(ev[indexLocks[0]].kind, LockKind::kExclusive);
  ASSERT_FALSE(tableWrites.empty());
  ASSERT_FALSE(indexWrites.empty());
  EXPECT_LT(headerLocks[0], indexLocks[0]);
  EXPECT_LT(indexLocks[0], tableWrites.front());
  EXPECT_LT(indexLocks[0], indexWrites.front());
  EXPECT_LT(tableWrites.back(), headerUnlocks[0]);
  EXPECT_LT(headerUnlocks[0], indexWrites.back());
  EXPECT_LT(indexWrites.back(), indexUnlocks[0]);
  EXPECT_TRUE(positions("VZPB.CDX", 'T', ~0ull).empty());
  std::set<std::uint64_t> pages;
  for (std::size_t i : indexWrites)
    for (std::uint64_t at = ev[i].offset / 512; at * 512 < ev[i].offset + ev[i].bytes; ++at) pages.insert(at);
  EXPECT_LT(pages.size(), indexBytes / 512 / 4) << pages.size() << " of " << indexBytes / 512 << " pages";

  EXPECT_EQ(VisibleNames(*other).size(), 3050u);
  EXPECT_TRUE(other->CheckIndex().empty());
  EXPECT_EQ(other->DamageReason(), "");
}

// At every flush of a durable small batch, a power cut leaves the records counted
// before or after it and an index that agrees with them, told by the index's own
// mark alone (no comparison with the records on open).
TEST(TableBatch, APowerCutAnywhereInASmallBatchIsFoundOutByTheNextOpener) {
  MemoryFileSystem mem;
  MakeBook(mem, 300);
  PowerCutFileSystem fs(mem);
  TableOptions o = FixedDate(ShareMode::kShared, &fs);
  o.durable = true;
  auto t = Table::Open("VZPB.DBF", o);
  t->Flush();
  const std::size_t before = fs.Cuts().size();
  Table::BatchProgress progress;
  t->AppendBatch(Records(*t, 300, 330, "M"), progress);
  ASSERT_GT(fs.Cuts().size(), before + 2);
  ExpectEveryCutWholeOrAbsent(fs, before - 1, 300, 330);
}

// A crash at any write of a small batch (torn three ways), durable or not: the next
// opener finds the batch whole or not at all, and an index that agrees, again from
// the mark alone.
TEST(TableBatch, ACrashAtAnyWriteOfASmallBatchLeavesItWholeOrAbsent) {
  const std::vector<std::string> start = {"N100000", "N99999", "N99998"};
  for (const bool durable : {false, true}) {
    auto run = [&](FileSystem& fs) {
      TableOptions o = FixedDate(ShareMode::kShared, &fs);
      o.durable = durable;
      auto t = Table::Open("VZPB.DBF", o);
      Table::BatchProgress progress;
      t->AppendBatch(Records(*t, 0, 20, "M"), progress);
    };
    std::uint64_t total = 0;
    {
      MemoryFileSystem mem;
      MakeBook(mem, 3);
      FaultFileSystem counting(mem);
      run(counting);
      total = counting.Writes();
    }
    ASSERT_GE(total, 4u);
    for (const std::size_t torn : {0, 1, 30}) {
      for (std::uint64_t n = 1; n <= total; ++n) {
        SCOPED_TRACE(testing::Message() << (durable ? "durable, " : "") << "crash at write " << n << ", torn " << torn);
        MemoryFileSystem mem;
        MakeBook(mem, 3);
        FaultFileSystem faulty(mem, {.failWrite = n, .tornBytes = torn, .crash = true});
        EXPECT_THROW(run(faulty), DbError);
        TableOptions opening = FixedDate(ShareMode::kShared, &mem);
        opening.checkIndexOnOpenBytes = 0;
        auto t = Table::Open("VZPB.DBF", opening);
        const std::vector<std::string> names = VisibleNames(*t);
        EXPECT_TRUE(names.size() == 3 || names.size() == 23) << names.size();
        for (const std::string& name : start) EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
        EXPECT_EQ(names.size(), t->RecordCount());
        const auto problems = t->CheckIndex();
        EXPECT_TRUE(problems.empty()) << problems.front();
      }
    }
  }
}

// A disk that fills up part-way through a batch going key by key: the chunk counted
// before it has its keys, the mark is off again, nothing past it is counted.
TEST(TableBatch, AFullDiskInAKeyByKeyBatchKeepsTheCountedChunkIndexed) {
  MemoryFileSystem mem;
  MakePhoneTable("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  FullDiskFileSystem full(mem, 98 + 17000 * 61);
  TableOptions o = FixedDate(ShareMode::kShared, &full);
  o.batchIndexing = BatchIndexing::kKeyByKey;
  auto t = Table::Open("VZPB.DBF", o);
  Table::BatchProgress progress;
  EXPECT_THROW(t->AppendBatch(Records(*t, 0, 20000, "N"), progress), DbError);
  EXPECT_EQ(progress.appended, 16384u);
  TableOptions opening = FixedDate(ShareMode::kShared, &mem);
  opening.checkIndexOnOpenBytes = 0;
  auto reader = Table::Open("VZPB.DBF", opening);
  EXPECT_EQ(reader->DamageReason(), "");
  EXPECT_EQ(reader->RecordCount(), 16384u);
  EXPECT_EQ(VisibleNames(*reader).size(), 16384u);
  EXPECT_TRUE(reader->CheckIndex().empty());
}

}  // namespace
}  // namespace vz::db
