// Shared use: other openers' changes, the xBase lock bytes, two processes, and
// crashes or I/O failures at every write.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "common/bytes.hpp"
#include "common/text.hpp"
#include "dbengine/table.hpp"
#include "tests/native/dbengine/testutil.hpp"

namespace vz::db {
namespace {

using namespace test;

void PhoneView(Table& t) {
  t.SetOrder(t.TagOrder("NAME"));
  t.SetFilter(".not. deleted()");
}

using Listing = std::vector<std::pair<std::uint32_t, std::string>>;

// A new phone book with two openers of it.
struct TwoOpeners {
  TempDir dir;
  std::string path = dir / "VZPB.DBF";
  std::unique_ptr<Table> a = OpenNew(path);
  std::unique_ptr<Table> b = Table::Open(path, FixedDate());

  static std::unique_ptr<Table> OpenNew(const std::string& path) {
    MakePhoneTable(path, FixedDate());
    return Table::Open(path, FixedDate());
  }
};

// An opener that found no damage, shows `entries` in the phone book's view and whose
// index agrees with the records.
void ExpectSound(Table& t, const Listing& entries) {
  EXPECT_EQ(t.DamageReason(), "");
  PhoneView(t);
  EXPECT_EQ(Walk(t), entries);
  EXPECT_TRUE(t.CheckIndex().empty());
}

TEST(TableShared, OpenersSeeEachOthersChangesWhenTheyReRead) {
  TwoOpeners openers;
  auto& a = openers.a;
  auto& b = openers.b;
  PhoneView(*a);
  PhoneView(*b);
  a->Append(PhoneRecord(*a, "Miller", "1"));
  b->Append(PhoneRecord(*b, "Jones", "2"));
  EXPECT_EQ(a->CountVisible(), 2u);
  EXPECT_EQ(Walk(*a), (std::vector<std::pair<std::uint32_t, std::string>>{{2, "Jones"}, {1, "Miller"}}));
  b->Delete(1);
  a->Refresh();
  EXPECT_EQ(a->CountVisible(), 1u);
  EXPECT_EQ(Walk(*a).size(), 1u);
  EXPECT_TRUE(a->CheckIndex().empty());
}

// A seek goes to the file every time: another opener's change of the key, of the
// record or of the tag itself shows in the very next seek.
TEST(TableShared, EachSeekSeesAnotherOpenersLatestChanges) {
  TwoOpeners openers;
  auto& a = openers.a;
  auto& b = openers.b;
  PhoneView(*a);
  b->Append(PhoneRecord(*b, "Miller", "1"));
  b->Append(PhoneRecord(*b, "Jones", "2"));
  ASSERT_TRUE(a->Seek("Miller"));
  EXPECT_EQ(a->RecNo(), 1u);
  b->Update(1, PhoneRecord(*b, "Miller", "99"));
  ASSERT_TRUE(a->Seek("Miller"));
  EXPECT_EQ(Trimmed(a->FieldText(1)), "99");
  b->Update(1, PhoneRecord(*b, "Mueller", "1"));
  b->Append(PhoneRecord(*b, "Miller", "3"));
  ASSERT_TRUE(a->Seek("Miller"));
  EXPECT_EQ(a->RecNo(), 3u);
  b->Delete(3);
  EXPECT_FALSE(a->Seek("Miller"));
  EXPECT_TRUE(a->Eof());
  b->Reindex();
  ASSERT_TRUE(a->Seek("Mu"));
  EXPECT_EQ(a->RecNo(), 1u);
}

// Rebuilding starts the index file afresh: repeated rebuilds do not grow it, and an
// opener that holds the old index carries on with the rebuilt one.
TEST(TableShared, ReindexingAgainAndAgainKeepsTheIndexItsSize) {
  TwoOpeners openers;
  auto& a = openers.a;
  auto& b = openers.b;
  PhoneView(*a);
  for (int i = 0; i < 3000; ++i) b->Append(PhoneRecord(*b, vz::Format("Name %05d", (i * 7919) % 3000), "1"));
  b->Delete(5);
  b->Reindex();
  const auto size = std::filesystem::file_size(openers.dir / "VZPB.CDX");
  for (int i = 0; i < 4; ++i) b->Reindex();
  EXPECT_EQ(std::filesystem::file_size(openers.dir / "VZPB.CDX"), size);
  EXPECT_TRUE(b->CheckIndex().empty());
  EXPECT_EQ(a->CountVisible(), 2999u);
  ASSERT_TRUE(a->Seek("Name 00042"));
  EXPECT_EQ(Trimmed(a->FieldText(0)), "Name 00042");
  a->Append(PhoneRecord(*a, "Aardvark", "2"));
  PhoneView(*b);
  ASSERT_TRUE(b->Seek("Aardvark"));
  EXPECT_EQ(b->RecNo(), 3001u);
  EXPECT_TRUE(a->CheckIndex().empty());
}

std::vector<std::string> BadCopies(const TempDir& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
    if (e.path().extension() == ".BAD") out.push_back(e.path().filename().string());
  return out;
}

// One opener finds the index damaged while another has it open: the damaged file is
// kept as one copy, the index is rebuilt where it is, and both go on with it.
TEST(TableShared, ADamagedIndexIsRebuiltInPlaceForEveryOpener) {
  TwoOpeners openers;
  auto& a = openers.a;
  auto& b = openers.b;
  PhoneView(*a);
  PhoneView(*b);
  a->Append(PhoneRecord(*a, "Miller", "1"));
  b->Append(PhoneRecord(*b, "Jones", "2"));
  // Another program's update of several pages broke off half way: its mark stays set.
  std::string cdx = ReadAll(openers.dir / "VZPB.CDX");
  cdx.replace(496, 4, "PUZV");
  WriteAll(openers.dir / "VZPB.CDX", cdx);
  a->Append(PhoneRecord(*a, "Adams", "3"));
  EXPECT_NE(a->DamageReason(), "");
  b->Append(PhoneRecord(*b, "Zed", "4"));
  const std::vector<std::pair<std::uint32_t, std::string>> all{{3, "Adams"}, {2, "Jones"}, {1, "Miller"}, {4, "Zed"}};
  EXPECT_EQ(Walk(*a), all);
  EXPECT_EQ(Walk(*b), all);
  auto c = Table::Open(openers.path, FixedDate());
  ExpectSound(*c, all);
  EXPECT_EQ(BadCopies(openers.dir), std::vector<std::string>{"VZPB.CDX.BAD"});
  EXPECT_EQ(ReadAll(openers.dir / "VZPB.CDX.BAD"), cdx);
}

// A table whose index file is there but was not taken up (its move aside refused)
// builds the index over it: the change counter goes on from the old file's, so an
// opener holding pages of the old file drops them.
class NoRenameFileSystem : public ForwardingFileSystem {
 public:
  NoRenameFileSystem() : ForwardingFileSystem(HostFileSystem()) {}
  void Rename(const std::string& from, const std::string&) override { throw DbError("cannot move " + from); }
};

std::uint32_t CounterOf(const std::string& cdxPath) {
  const std::string bytes = ReadAll(cdxPath);
  return bytes.size() < 12 ? 0 : GetBE32(reinterpret_cast<const unsigned char*>(bytes.data()) + 8);
}

TEST(TableShared, AnIndexBuiltOverAnOldFileGoesOnWithItsChangeCounter) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  MakePhoneTable(path, FixedDate());
  auto a = Table::Open(path, FixedDate());
  PhoneView(*a);
  for (const char* n : {"Kim", "Al", "Bo"}) a->Append(PhoneRecord(*a, n, "1"));
  ASSERT_TRUE(a->Seek("Bo"));
  // The tag directory is overwritten: b cannot read the index and cannot move it.
  std::string cdx = ReadAll(dir / "VZPB.CDX");
  const std::uint32_t before = CounterOf(dir / "VZPB.CDX");
  cdx.replace(0x400, 512, std::string(512, '\xff'));
  WriteAll(dir / "VZPB.CDX", cdx);
  NoRenameFileSystem noRename;
  auto b = Table::Open(path, FixedDate(ShareMode::kShared, &noRename));
  ASSERT_FALSE(b->HasIndex());
  b->IndexTag({"NAME", "NAME", ".not. deleted()", false, false});
  EXPECT_GT(CounterOf(dir / "VZPB.CDX"), before);
  b->Append(PhoneRecord(*b, "Ann", "2"));
  EXPECT_EQ(Walk(*a), (std::vector<std::pair<std::uint32_t, std::string>>{{2, "Al"}, {4, "Ann"}, {3, "Bo"}, {1, "Kim"}}));
  EXPECT_TRUE(a->CheckIndex().empty());
}

TEST(TableShared, AnIndexBuiltByAnotherOpenerIsKeptUpByAll) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  Table::Create(path, PhoneFields(), FixedDate());
  auto a = Table::Open(path, FixedDate());
  auto b = Table::Open(path, FixedDate());
  a->Append(PhoneRecord(*a, "Zed", "1"));
  b->IndexTag({"NAME", "NAME", ".not. deleted()", false, false});
  EXPECT_FALSE(a->HasIndex());
  a->Append(PhoneRecord(*a, "Abe", "2"));  // a finds the new index under the header lock
  EXPECT_TRUE(a->HasIndex());
  a->Update(1, PhoneRecord(*a, "Moe", "1"));
  EXPECT_TRUE(b->CheckIndex().empty());
  PhoneView(*b);
  EXPECT_EQ(Walk(*b), (std::vector<std::pair<std::uint32_t, std::string>>{{2, "Abe"}, {1, "Moe"}}));
}

TEST(TableLocks, ForeignRecordAndHeaderLocksAreHonoured) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  MakePhoneTable(path, FixedDate());
  TableOptions o = FixedDate();
  o.lockTimeoutMs = 50;
  auto t = Table::Open(path, o);
  t->Append(PhoneRecord(*t, "A", "1"));
  t->Append(PhoneRecord(*t, "B", "2"));
  // Another xBase program edits record 2: it holds byte 0x7FFFFFFE - 2.
  auto other = OpenHostFile(path, OpenMode::kReadWrite);
  ASSERT_TRUE(other->TryLock(0x7FFFFFFE - 2, 1, LockKind::kExclusive));
  EXPECT_THROW(t->Delete(2), DbError);
  t->Delete(1);  // other records are free
  other->Unlock(0x7FFFFFFE - 2, 1);
  t->Delete(2);
  // While it appends, it holds the header byte.
  ASSERT_TRUE(other->TryLock(0x7FFFFFFE, 1, LockKind::kExclusive));
  try {
    t->Append(PhoneRecord(*t, "C", "3"));
    ADD_FAILURE() << "appended under a foreign header lock";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("locked by another user"), std::string::npos);
  }
  other->Unlock(0x7FFFFFFE, 1);
  EXPECT_EQ(t->Append(PhoneRecord(*t, "C", "3")), 3u);
  // Our locks are gone once a change returns.
  EXPECT_TRUE(other->TryLock(0x7FFFFFFE - 3, 1, LockKind::kExclusive));
  EXPECT_TRUE(other->TryLock(0x7FFFFFFE, 1, LockKind::kExclusive));
}

// Two readers of ours whose holds of the index overlap, so that the index lock is
// never free: a writer of ours that waits for it still has it well within its wait
// (the readers let a waiting writer pass), and the readers go on after it.
TEST(TableLocks, ReadersThatOverlapOneAnotherLetAWaitingWriterIn) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  MakePhoneTable(path, FixedDate());
  std::atomic<bool> stop{false};
  std::atomic<int> holds[2] = {0, 0};
  auto reader = [&](int which) {
    CdxOptions o;
    o.lockTimeoutMs = 10000;
    auto index = CdxIndex::Open(OpenHostFile(dir / "VZPB.CDX", OpenMode::kReadOnly), o);
    while (!stop) {
      CdxLock lock(*index, LockKind::kShared);
      ++holds[which];
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  };
  auto waitFor = [&](const std::atomic<int>& count, int atLeast) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (count < atLeast && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    return count >= atLeast;
  };
  std::thread first(reader, 0);
  ASSERT_TRUE(waitFor(holds[0], 1));
  std::thread second(reader, 1);
  const bool overlapping = waitFor(holds[1], 1);
  TableOptions o = FixedDate();
  o.lockTimeoutMs = 2000;
  std::string error;
  std::uint32_t recno = 0;
  if (overlapping) {
    try {
      auto t = Table::Open(path, o);
      recno = t->Append(PhoneRecord(*t, "Writer", "1"));
    } catch (const DbError& e) {
      error = e.what();
    }
  }
  const int before[2] = {holds[0], holds[1]};
  const bool goOn = waitFor(holds[0], before[0] + 2) && waitFor(holds[1], before[1] + 2);
  stop = true;
  first.join();
  second.join();
  ASSERT_TRUE(overlapping);
  EXPECT_EQ(error, "");
  EXPECT_EQ(recno, 1u);
  EXPECT_TRUE(goOn);
}

// Another program rebuilding the index holds its lock: a change that cannot have it
// writes nothing at all, and goes through once the lock is free.
TEST(TableLocks, AChangeRefusedTheIndexLockLeavesTheFilesAsTheyWere) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  MakePhoneTable(path, FixedDate());
  TableOptions o = FixedDate();
  o.lockTimeoutMs = 50;
  auto t = Table::Open(path, o);
  t->Append(PhoneRecord(*t, "Kim", "1"));
  const std::string dbf = ReadAll(path), cdx = ReadAll(dir / "VZPB.CDX");
  auto rebuilder = OpenHostFile(dir / "VZPB.CDX", OpenMode::kReadWrite);
  ASSERT_TRUE(rebuilder->TryLock(kCdxLockOffset, 1, LockKind::kExclusive));
  try {
    t->Append(PhoneRecord(*t, "Al", "2"));
    ADD_FAILURE() << "appended without the index lock";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("locked by another user"), std::string::npos) << e.what();
  }
  EXPECT_THROW(t->Update(1, PhoneRecord(*t, "Kimberley", "1")), DbError);
  EXPECT_THROW(t->Delete(1), DbError);
  EXPECT_EQ(ReadAll(path), dbf);
  EXPECT_EQ(ReadAll(dir / "VZPB.CDX"), cdx);
  rebuilder->Unlock(kCdxLockOffset, 1);
  EXPECT_EQ(t->Append(PhoneRecord(*t, "Al", "2")), 2u);
  auto next = Table::Open(path, FixedDate());
  EXPECT_EQ(next->RecordCount(), 2u);
  ExpectSound(*next, {{2, "Al"}, {1, "Kim"}});
}

TEST(TableLocks, AnExclusiveOpenerKeepsOthersFromWriting) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  MakePhoneTable(path, FixedDate());
  auto ex = Table::Open(path, FixedDate(ShareMode::kExclusive));
  EXPECT_THROW(Table::Open(path, FixedDate(ShareMode::kExclusive)), DbError);
  TableOptions o = FixedDate();
  o.lockTimeoutMs = 50;
  auto shared = Table::Open(path, o);
  EXPECT_THROW(shared->Append(shared->BlankRecord()), DbError);
  ex.reset();
  EXPECT_EQ(shared->Append(shared->BlankRecord()), 1u);
}

// Passes every call to another file system and runs `step` once, right after the
// chosen call of an opener of `target` (a size query, a write, or a lock refused):
// another opener's change then falls exactly between two of this opener's steps.
class InterleavingFileSystem : public ForwardingFileSystem {
 public:
  enum class After { kSize, kWrite, kRefusedLock };
  InterleavingFileSystem(FileSystem& inner, std::string target, After after, std::function<void()> step)
      : ForwardingFileSystem(inner), target_(std::move(target)), after_(after), step_(std::move(step)) {}
  bool Ran() const { return ran_; }
  // How often the chosen call happened.
  int Calls() const { return calls_; }
  void Rearm() { ran_ = false; }

 protected:
  std::unique_ptr<File> Wrap(std::unique_ptr<File> file, const std::string& path) override {
    if (path != target_) return file;
    return std::make_unique<HookedFile>(std::move(file), *this);
  }

 private:
  class HookedFile : public ForwardingFile {
   public:
    HookedFile(std::unique_ptr<File> inner, InterleavingFileSystem& fs) : ForwardingFile(std::move(inner)), fs_(fs) {}
    void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
      ForwardingFile::WriteAt(offset, buf, n);
      fs_.Fire(After::kWrite);
    }
    std::uint64_t Size() override {
      const std::uint64_t size = ForwardingFile::Size();
      fs_.Fire(After::kSize);
      return size;
    }
    bool TryLock(std::uint64_t offset, std::uint64_t length, LockKind kind) override {
      if (ForwardingFile::TryLock(offset, length, kind)) return true;
      fs_.Fire(After::kRefusedLock);
      return false;
    }

   private:
    InterleavingFileSystem& fs_;
  };
  void Fire(After what) {
    if (what != after_) return;
    ++calls_;
    if (ran_) return;
    ran_ = true;
    step_();
  }
  std::string target_;
  After after_;
  std::function<void()> step_;
  bool ran_ = false;
  int calls_ = 0;
};

// A counted record is always whole: an opener that sizes the file while another
// appends must not take the new count for a damaged table, and a reader that comes
// between the record write and the count write sees the table as it was.
TEST(TableShared, OpenersBetweenTheWritesOfAnAppendSeeASoundTable) {
  MemoryFileSystem mem;
  MakePhoneTable("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  auto writer = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  writer->Append(PhoneRecord(*writer, "First", "1"));
  {
    InterleavingFileSystem fs(mem, "VZPB.DBF", InterleavingFileSystem::After::kSize,
                              [&] { writer->Append(PhoneRecord(*writer, "During", "2")); });
    std::unique_ptr<Table> reader;
    ASSERT_NO_THROW(reader = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &fs)));
    ASSERT_TRUE(fs.Ran());
    EXPECT_EQ(reader->RecordCount(), 2u);
    PhoneView(*reader);
    EXPECT_EQ(reader->CountVisible(), 2u);
  }
  {
    // (An opener cannot come in between: the appender holds the index lock.)
    auto reader = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
    std::uint32_t countSeen = 0;
    InterleavingFileSystem fs(mem, "VZPB.DBF", InterleavingFileSystem::After::kWrite,
                              [&] { countSeen = reader->RecordCount(); });
    auto appender = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &fs));
    EXPECT_EQ(appender->Append(PhoneRecord(*appender, "Third", "3")), 3u);
    ASSERT_TRUE(fs.Ran());
    EXPECT_EQ(countSeen, 2u);  // the record was written, its count not yet
    EXPECT_EQ(reader->RecordCount(), 3u);
    ASSERT_TRUE(reader->Go(3));
    EXPECT_EQ(Trimmed(reader->FieldText(0)), "Third");
    EXPECT_TRUE(reader->CheckIndex().empty());
  }
}

// A read-only reader locks the index as a shared opener does, for every walk, seek
// and check: while a writer holds it, the reader waits; while the reader holds it, a
// writer cannot come in between the record count and the comparison of a check.
TEST(TableLocks, AReadOnlyReaderTakesTheIndexLock) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  MakePhoneTable(path, FixedDate());
  TableOptions quick = FixedDate();
  quick.lockTimeoutMs = 50;
  auto writer = Table::Open(path, quick);
  writer->Append(PhoneRecord(*writer, "Kim", "1"));
  bool armed = false, refused = false;
  InterleavingFileSystem fs(HostFileSystem(), path, InterleavingFileSystem::After::kSize, [&] {
    if (!armed) return;
    try {
      writer->Append(PhoneRecord(*writer, "Al", "2"));
    } catch (const DbError&) {
      refused = true;
    }
  });
  TableOptions ro = FixedDate(ShareMode::kReadOnly, &fs);
  ro.lockTimeoutMs = 50;
  auto reader = Table::Open(path, ro);
  PhoneView(*reader);
  auto rebuilder = OpenHostFile(dir / "VZPB.CDX", OpenMode::kReadWrite);
  ASSERT_TRUE(rebuilder->TryLock(kCdxLockOffset, 1, LockKind::kExclusive));
  EXPECT_THROW(reader->GoTop(), DbError);
  EXPECT_THROW(reader->Seek("Kim"), DbError);
  EXPECT_THROW(reader->CheckIndex(), DbError);
  rebuilder->Unlock(kCdxLockOffset, 1);
  fs.Rearm();
  armed = true;
  const auto problems = reader->CheckIndex();
  ASSERT_TRUE(fs.Ran());
  EXPECT_TRUE(problems.empty()) << problems.front();
  EXPECT_TRUE(refused);
  EXPECT_EQ(writer->Append(PhoneRecord(*writer, "Al", "2")), 2u);
  EXPECT_EQ(Walk(*reader), (std::vector<std::pair<std::uint32_t, std::string>>{{2, "Al"}, {1, "Kim"}}));
}

// A check, and the comparison an opener makes of a small table, hold no lock of the
// table's header: another program's appender (which waits for that lock in the
// kernel) gets it while they read the records, and their verdict is the same.
TEST(TableLocks, ChecksLeaveTheHeaderLockToAppenders) {
  for (const bool onOpen : {false, true}) {
    for (ShareMode mode : {ShareMode::kShared, ShareMode::kReadOnly}) {
      SCOPED_TRACE(onOpen ? "on open" : "check");
      TempDir dir;
      const std::string path = dir / "VZPB.DBF";
      MakePhoneTable(path, FixedDate());
      {
        auto t = Table::Open(path, FixedDate());
        t->Append(PhoneRecord(*t, "Kim", "1"));
        t->Append(PhoneRecord(*t, "Al", "2"));
      }
      auto appender = OpenHostFile(path, OpenMode::kReadWrite);
      int probes = 0, refused = 0;
      bool armed = onOpen;
      InterleavingFileSystem fs(HostFileSystem(), path, InterleavingFileSystem::After::kSize, [&] {
        if (!armed) return;
        fs.Rearm();  // at every size the reader takes
        ++probes;
        if (appender->TryLock(kDbfLockBase, 1, LockKind::kExclusive))
          appender->Unlock(kDbfLockBase, 1);
        else
          ++refused;
      });
      auto checker = Table::Open(path, FixedDate(mode, &fs));
      std::vector<std::string> problems;
      if (!onOpen) {
        fs.Rearm();
        armed = true;
        problems = checker->CheckIndex();
      }
      EXPECT_GT(probes, 0);
      EXPECT_EQ(refused, 0);
      EXPECT_EQ(checker->DamageReason(), "");
      EXPECT_TRUE(problems.empty()) << problems.front();
    }
  }
}

// Runs a step just before the opener asks for the index lock shared, from its
// `after`-th such request on (once): at that moment the opener holds no index lock.
class SharedIndexTakeFileSystem : public ForwardingFileSystem {
 public:
  SharedIndexTakeFileSystem(FileSystem& inner, std::string index, std::function<void()> step)
      : ForwardingFileSystem(inner), index_(std::move(index)), step_(std::move(step)) {}
  void Arm(int after) {
    after_ = after;
    requests_ = 0;
    ran_ = false;
  }
  bool Ran() const { return ran_; }
  int Requests() const { return requests_; }

 protected:
  std::unique_ptr<File> Wrap(std::unique_ptr<File> file, const std::string& path) override {
    if (path != index_) return file;
    return std::make_unique<Hooked>(std::move(file), *this);
  }

 private:
  class Hooked : public ForwardingFile {
   public:
    Hooked(std::unique_ptr<File> inner, SharedIndexTakeFileSystem& fs) : ForwardingFile(std::move(inner)), fs_(fs) {}
    bool TryLock(std::uint64_t offset, std::uint64_t length, LockKind kind) override {
      if (offset == kCdxLockOffset && kind == LockKind::kShared) fs_.Request();
      return ForwardingFile::TryLock(offset, length, kind);
    }

   private:
    SharedIndexTakeFileSystem& fs_;
  };
  void Request() {
    if (after_ < 0) return;
    if (++requests_ < after_ || ran_) return;
    ran_ = true;
    step_();
  }
  std::string index_;
  std::function<void()> step_;
  int after_ = -1;
  int requests_ = 0;
  bool ran_ = false;
};

std::string NumberedName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "N%05d", i);
  return name;
}

// A book of `count` entries N00000, N00001, ... appended as one batch.
void MakeNumberedBook(const std::string& path, const TableOptions& o, int count) {
  MakePhoneTable(path, o);
  auto t = Table::Open(path, o);
  std::vector<std::string> records;
  for (int i = 0; i < count; ++i) records.push_back(PhoneRecord(*t, NumberedName(i), "1"));
  Table::BatchProgress progress;
  t->AppendBatch(records, progress);
}

// A check compares the tag with the records in slices, each under its own hold of the
// index lock: a writer that comes for the lock once the tag's walk is under way gets
// in before the comparison ends (it would time out against one long hold), and the
// records and keys it changes behind the walk are no disagreement.
TEST(TableLocks, AWriterGetsInBetweenTheSlicesOfACheck) {
  for (ShareMode mode : {ShareMode::kShared, ShareMode::kReadOnly}) {
    SCOPED_TRACE(mode == ShareMode::kShared ? "shared" : "read-only");
    MemoryFileSystem mem;
    MakeNumberedBook("VZPB.DBF", FixedDate(ShareMode::kShared, &mem), 5000);
    TableOptions quick = FixedDate(ShareMode::kShared, &mem);
    quick.lockTimeoutMs = 50;
    auto writer = Table::Open("VZPB.DBF", quick);
    bool refused = false;
    SharedIndexTakeFileSystem fs(mem, "VZPB.CDX", [&] {
      try {
        writer->Append(PhoneRecord(*writer, "A0", "2"));          // before the walked part
        writer->Update(3, PhoneRecord(*writer, "A1", "3"));       // its old key walked, its new key not
        writer->Update(4900, PhoneRecord(*writer, "Z9", "4"));    // ahead of the walk
        writer->Delete(10);
      } catch (const DbError&) {
        refused = true;
      }
    });
    auto checker = Table::Open("VZPB.DBF", FixedDate(mode, &fs));
    // The tree check, the records and the first slice of the tag hold the lock one
    // after the other; the writer comes at the next request.
    fs.Arm(4);
    const auto problems = checker->CheckIndex();
    ASSERT_TRUE(fs.Ran()) << "the comparison asked for the index lock " << fs.Requests() << " times";
    EXPECT_FALSE(refused);
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_EQ(checker->RecordCount(), 5001u);
    EXPECT_TRUE(Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem))->CheckIndex().empty());
  }
}

// What disagrees is found in every slice, told in the tag's order, both ways round;
// an opener finds it too, with the first of them as its reason.
TEST(TableShared, DisagreementsInAnySliceAreFound) {
  MemoryFileSystem mem;
  MakeNumberedBook("VZPB.DBF", FixedDate(ShareMode::kShared, &mem), 9000);
  std::string& dbf = mem.Bytes("VZPB.DBF");
  dbf.replace(98 + 61 * 8499 + 1, 6, "A-Zed ");  // record 8500, N08499 in the tag
  dbf.replace(98 + 61 * 8799, 1, "*");           // record 8800 deleted, still listed
  auto checker = Table::Open("VZPB.DBF", FixedDate(ShareMode::kReadOnly, &mem));
  EXPECT_EQ(checker->DamageReason(),
            "the index disagrees with the table: tag NAME lacks record 8500 with key \"A-Zed\"");
  TableOptions once = FixedDate(ShareMode::kReadOnly, &mem);
  once.checkIndexOnOpenBytes = 0;
  EXPECT_EQ(Table::Open("VZPB.DBF", once)->CheckIndex(), (std::vector<std::string>{
                                       "tag NAME lacks record 8500 with key \"A-Zed\"",
                                       "tag NAME lists record 8500 with key \"N08499\", which the record does not give",
                                       "tag NAME lists record 8800 with key \"N08799\", which the record does not give",
                                       "tag NAME disagrees with the table in 3 entries",
                                   }));
}

// An opener that finds a disagreement on a record another program holds locked does
// not wait for it: the change is in flight, which is no verdict, and the other
// program may be waiting for the index lock meanwhile. It asks for the lock once for
// each of the two disagreements (Kim listed, Zed lacking).
TEST(TableShared, AnOpenerDoesNotWaitForALockedRecordItDisagreesOn) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  MakePhoneTable(path, FixedDate());
  {
    auto t = Table::Open(path, FixedDate());
    t->Append(PhoneRecord(*t, "Kim", "1"));
    t->Append(PhoneRecord(*t, "Lee", "2"));
  }
  std::string bytes = ReadAll(path);
  bytes.replace(98 + 1, 3, "Zed");
  WriteAll(path, bytes);
  auto other = OpenHostFile(path, OpenMode::kReadWrite);
  ASSERT_TRUE(other->TryLock(0x7FFFFFFE - 1, 1, LockKind::kExclusive));
  for (ShareMode mode : {ShareMode::kShared, ShareMode::kReadOnly}) {
    InterleavingFileSystem fs(HostFileSystem(), path, InterleavingFileSystem::After::kRefusedLock, [] {});
    auto opener = Table::Open(path, FixedDate(mode, &fs));
    EXPECT_EQ(fs.Calls(), 2);
    EXPECT_EQ(opener->DamageReason(), "");
  }
  other->Unlock(0x7FFFFFFE - 1, 1);
  EXPECT_NE(Table::Open(path, FixedDate(ShareMode::kReadOnly))->DamageReason(), "");
}

// Another xBase program's append between its record and its key: the new record
// locked, the header lock let go, the index lock still to come (it waits for it in
// the kernel, where nothing shows it). A reader of ours leaves it the index lock
// first and then sees the key; a record that stays locked holds the reader up a few
// milliseconds once.
TEST(TableLocks, ReadersLeaveTheIndexLockToAnotherProgramsAppend) {
  for (const bool keyComes : {true, false}) {
    SCOPED_TRACE(keyComes ? "the key comes" : "the record stays locked");
    TempDir dir;
    const std::string path = dir / "VZPB.DBF";
    MakePhoneTable(path, FixedDate());
    {
      auto t = Table::Open(path, FixedDate());
      t->Append(PhoneRecord(*t, "Kim", "1"));
    }
    bool keyIn = false;
    auto addKey = [&] {
      if (!keyComes || keyIn) return;
      auto cdx = OpenHostFile(dir / "VZPB.CDX", OpenMode::kReadWrite);
      if (!cdx->TryLock(kCdxLockOffset, 1, LockKind::kExclusive)) return;  // the reader holds it
      cdx->Unlock(kCdxLockOffset, 1);
      std::string key = "Al";
      key.resize(35, ' ');
      CdxIndex::Open(std::move(cdx))->FindTag("NAME")->Insert(key, 2);
      keyIn = true;
    };
    InterleavingFileSystem fs(HostFileSystem(), path, InterleavingFileSystem::After::kRefusedLock, [&] {
      fs.Rearm();
      addKey();
    });
    TableOptions o = FixedDate(ShareMode::kReadOnly, &fs);
    o.checkIndexOnOpenBytes = 0;
    auto reader = Table::Open(path, o);
    auto other = OpenHostFile(path, OpenMode::kReadWrite);
    ASSERT_TRUE(other->TryLock(0x7FFFFFFE - 2, 1, LockKind::kExclusive));
    std::string rec(61, ' ');
    rec.replace(1, 2, "Al");
    rec += '\x1a';
    other->WriteAt(98 + 61, rec.data(), rec.size());
    const unsigned char two[4] = {2, 0, 0, 0};
    other->WriteAt(4, two, 4);
    PhoneView(*reader);
    const Listing seen = Walk(*reader);
    EXPECT_GT(fs.Calls(), 0);
    EXPECT_EQ(keyIn, keyComes);
    EXPECT_EQ(seen, keyComes ? (Listing{{2, "Al"}, {1, "Kim"}}) : (Listing{{1, "Kim"}}));
    // Waited for once: from then on each hold of the lock looks at the record once.
    const int before = fs.Calls();
    reader->Seek("Kim");
    EXPECT_EQ(fs.Calls() - before, 1);
    other->Unlock(0x7FFFFFFE - 2, 1);
  }
}

// Another xBase program appends as such programs do: it locks the new record, writes
// it and the count, and adds the key later, still under the record lock. An opener
// that comes in between sees a record without its key; that is not damage.
TEST(TableShared, AnOpenerBetweenAForeignRecordAndItsKeyDeclaresNoDamage) {
  for (ShareMode mode : {ShareMode::kShared, ShareMode::kReadOnly}) {
    TempDir dir;
    const std::string path = dir / "VZPB.DBF";
    MakePhoneTable(path, FixedDate());
    {
      auto t = Table::Open(path, FixedDate());
      t->Append(PhoneRecord(*t, "Kim", "1"));
    }
    auto dbf = OpenHostFile(path, OpenMode::kReadWrite);
    ASSERT_TRUE(dbf->TryLock(0x7FFFFFFE - 2, 1, LockKind::kExclusive));
    std::string rec(61, ' ');
    rec.replace(1, 2, "Al");
    rec += '\x1a';
    dbf->WriteAt(98 + 61, rec.data(), rec.size());
    const unsigned char two[4] = {2, 0, 0, 0};
    dbf->WriteAt(4, two, 4);
    auto addKey = [&] {
      auto cdx = CdxIndex::Open(OpenHostFile(dir / "VZPB.CDX", OpenMode::kReadWrite));
      std::string key = "Al";
      key.resize(35, ' ');
      cdx->FindTag("NAME")->Insert(key, 2);
      dbf->Unlock(0x7FFFFFFE - 2, 1);
    };
    InterleavingFileSystem fs(HostFileSystem(), path, InterleavingFileSystem::After::kRefusedLock, addKey);
    auto opener = Table::Open(path, FixedDate(mode, &fs));
    EXPECT_EQ(fs.Calls(), 1);  // it waited for the record, once
    EXPECT_TRUE(opener->HasIndex());
    EXPECT_TRUE(BadCopies(dir).empty());
    ExpectSound(*opener, {{2, "Al"}, {1, "Kim"}});
  }
}

// Without a writer to wait for, a record without its key is damage all the same.
TEST(TableShared, ADisagreementThatPersistsUnderTheRecordLockIsDamage) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  MakePhoneTable(path, FixedDate());
  auto t = Table::Open(path, FixedDate());
  t->Append(PhoneRecord(*t, "Kim", "1"));
  t.reset();
  std::string dbf = ReadAll(path);
  dbf.replace(98 + 1, 3, "Zed");
  WriteAll(path, dbf);
  auto ro = Table::Open(path, FixedDate(ShareMode::kReadOnly));
  EXPECT_EQ(ro->DamageReason(),
            "the index disagrees with the table: tag NAME lists record 1 with key \"Kim\", which the record does not "
            "give");
  auto shared = Table::Open(path, FixedDate());
  EXPECT_NE(shared->DamageReason(), "");
  EXPECT_TRUE(shared->CheckIndex().empty());
}

// Watches, while the table holds the last record's lock itself (the check of a record
// it disagrees on), whether another program could lock that record at the moment the
// index lock is asked for.
class OwnRecordLockWatch : public ForwardingFileSystem {
 public:
  OwnRecordLockWatch(FileSystem& inner, std::string tablePath, std::unique_ptr<File> other)
      : ForwardingFileSystem(inner), tablePath_(std::move(tablePath)), other_(std::move(other)) {}
  int asked = 0;        // index locks asked for while the record's lock was held
  int othersGotIt = 0;  // of those, times another program could lock the record

 protected:
  std::unique_ptr<File> Wrap(std::unique_ptr<File> file, const std::string& path) override {
    return std::make_unique<Watched>(std::move(file), *this, path == tablePath_);
  }

 private:
  static constexpr std::uint64_t kLastRecord = 0x7FFFFFFE - 1;
  class Watched : public ForwardingFile {
   public:
    Watched(std::unique_ptr<File> inner, OwnRecordLockWatch& w, bool table)
        : ForwardingFile(std::move(inner)), w_(w), table_(table) {}
    bool TryLock(std::uint64_t offset, std::uint64_t length, LockKind kind) override {
      if (!table_ && offset == kCdxLockOffset && w_.depth_ > 0) {
        ++w_.asked;
        if (w_.other_->TryLock(kLastRecord, 1, LockKind::kExclusive)) {
          ++w_.othersGotIt;
          w_.other_->Unlock(kLastRecord, 1);
        }
      }
      const bool got = ForwardingFile::TryLock(offset, length, kind);
      if (got && table_ && offset == kLastRecord) ++w_.depth_;
      return got;
    }
    void Unlock(std::uint64_t offset, std::uint64_t length) override {
      if (table_ && offset == kLastRecord) --w_.depth_;
      ForwardingFile::Unlock(offset, length);
    }

   private:
    OwnRecordLockWatch& w_;
    bool table_;
  };
  std::string tablePath_;
  std::unique_ptr<File> other_;
  int depth_ = 0;
};

// A check looking again at the last record under that record's lock: the look for
// another program's append on its way (a locked last record) must not take this
// table's own lock for one, nor let it go.
TEST(TableShared, ACheckKeepsItsOwnLockOfTheLastRecord) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  MakePhoneTable(path, FixedDate());
  {
    auto t = Table::Open(path, FixedDate());
    t->Append(PhoneRecord(*t, "Kim", "1"));
  }
  std::string dbf = ReadAll(path);
  dbf.replace(98 + 1, 3, "Zed");
  WriteAll(path, dbf);
  OwnRecordLockWatch fs(HostFileSystem(), path, OpenHostFile(path, OpenMode::kReadWrite));
  TableOptions o = FixedDate(ShareMode::kShared, &fs);
  o.checkIndexOnOpenBytes = 0;
  auto t = Table::Open(path, o);
  EXPECT_FALSE(t->CheckIndex().empty());
  EXPECT_GE(fs.asked, 1);
  EXPECT_EQ(fs.othersGotIt, 0);
}

// Checks read-only beside a writer in another process, over and over: never a
// disagreement that is not there.
TEST(TableShared, ChecksBesideAWriterFindNothingWrong) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  MakePhoneTable(path, FixedDate());
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int rc = 0;
    try {
      auto t = Table::Open(path, FixedDate());
      for (int i = 0; i < 400; ++i) {
        const std::uint32_t r = t->Append(PhoneRecord(*t, "W" + std::to_string(1000 + i), "1"));
        if (i % 3 == 0) t->Update(r, PhoneRecord(*t, "V" + std::to_string(1000 + i), "2"));
        if (i % 7 == 0) t->Delete(r);
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "writer: %s\n", e.what());
      rc = 1;
    }
    ::_exit(rc);
  }
  int checks = 0, status = 0;
  std::vector<std::string> wrong;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    auto t = Table::Open(path, FixedDate(ShareMode::kReadOnly));
    if (!t->DamageReason().empty()) wrong.push_back(t->DamageReason());
    for (const auto& p : t->CheckIndex()) wrong.push_back(p);
    ++checks;
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_GT(checks, 0);
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " reports in " << checks << " checks, first: " << wrong.front();
  EXPECT_TRUE(Table::Open(path, FixedDate())->CheckIndex().empty());
}

TEST(TableShared, TwoProcessesAppendingAndDeletingLoseNothing) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  MakePhoneTable(path, FixedDate());
  constexpr int kEach = 150;
  std::vector<pid_t> children;
  for (int p = 0; p < 2; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int rc = 0;
      try {
        auto t = Table::Open(path, FixedDate());
        std::vector<std::uint32_t> mine;
        for (int i = 0; i < kEach; ++i) {
          const std::string name = "P" + std::to_string(p) + "-" + std::to_string(1000 + i);
          mine.push_back(t->Append(PhoneRecord(*t, name, std::to_string(i))));
          if (i % 5 == 4) t->Delete(mine[static_cast<std::size_t>(i) - 2]);
        }
      } catch (const std::exception& e) {
        std::fprintf(stderr, "child %d: %s\n", p, e.what());
        rc = 1;
      }
      ::_exit(rc);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto t = Table::Open(path, FixedDate());
  EXPECT_EQ(t->RecordCount(), 2u * kEach);
  PhoneView(*t);
  EXPECT_EQ(t->CountVisible(), 2u * kEach - 2 * (kEach / 5));
  std::multiset<std::string> seen;
  std::string previous;
  for (const auto& [recno, name] : Walk(*t)) {
    EXPECT_LE(previous, name);
    previous = name;
    seen.insert(name);
  }
  for (int p = 0; p < 2; ++p)
    for (int i = 0; i < kEach; ++i) {
      const bool deleted = i % 5 == 2;
      EXPECT_EQ(seen.count("P" + std::to_string(p) + "-" + std::to_string(1000 + i)), deleted ? 0u : 1u);
    }
  EXPECT_TRUE(t->CheckIndex().empty());
}

// The work done against a table in the fault tests: five appends (records 2 to 6),
// a change of record 3 and the deletion of record 4. `done` counts the steps that
// returned; those must survive whatever happens later.
struct Outcome {
  int done = 0;
  bool failed = false;
};

const char* const kNames[] = {"Kim", "Al", "Bo", "Zoe", "Ann"};

Outcome Work(FileSystem& fs, bool durable = false) {
  Outcome out;
  try {
    TableOptions o = FixedDate(ShareMode::kShared, &fs);
    o.durable = durable;
    auto t = Table::Open("VZPB.DBF", o);
    for (const char* n : kNames) {
      t->Append(PhoneRecord(*t, n, "1"));
      ++out.done;
    }
    t->Update(3, PhoneRecord(*t, "Alf", "2"));
    ++out.done;
    t->Delete(4);
    ++out.done;
  } catch (const DbError&) {
    out.failed = true;
  }
  return out;
}

// What the visible names must show after `done` steps returned (the step that
// failed may or may not have reached the file).
void ExpectSurvivors(const std::multiset<std::string>& names, const Outcome& out) {
  EXPECT_EQ(names.count("Old"), 1u);
  for (int i = 0; i < 5 && i < out.done; ++i) {
    const std::string n = kNames[i];
    if (n == "Al") {
      EXPECT_EQ(names.count("Al") + names.count("Alf"), 1u);
      if (out.done >= 6) {
        EXPECT_EQ(names.count("Alf"), 1u);
      }
    } else if (n == "Bo") {
      if (out.done >= 7) {
        EXPECT_EQ(names.count("Bo"), 0u);
      }
      if (out.done < 6) {
        EXPECT_EQ(names.count("Bo"), 1u);
      }
    } else {
      EXPECT_EQ(names.count(n), 1u) << n;
    }
  }
}

void MakeStartTable(MemoryFileSystem& mem) {
  MakePhoneTable("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  auto t = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  t->Append(PhoneRecord(*t, "Old", "0"));
}

// Crashes at every write of the work, each torn three ways; then the files as they are.
void CrashAtEveryWrite(bool durable) {
  std::uint64_t total = 0;
  {
    MemoryFileSystem mem;
    MakeStartTable(mem);
    FaultFileSystem counting(mem);
    ASSERT_FALSE(Work(counting, durable).failed);
    total = counting.Writes();
  }
  ASSERT_GT(total, 10u);
  for (std::size_t torn : {0, 1, 30}) {
    for (std::uint64_t n = 1; n <= total; ++n) {
      SCOPED_TRACE(testing::Message() << (durable ? "durable, " : "") << "crash at write " << n << ", torn " << torn);
      MemoryFileSystem mem;
      MakeStartTable(mem);
      FaultFileSystem faulty(mem, {.failWrite = n, .tornBytes = torn, .crash = true});
      const Outcome out = Work(faulty, durable);
      EXPECT_TRUE(out.failed);
      // After the "crash": reopen the files as they are.
      auto t = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
      t->SetFilter(".not. deleted()");
      std::multiset<std::string> names;
      for (bool ok = t->GoTop(); ok; ok = t->Skip(1)) names.insert(Trimmed(t->FieldText(0)));
      ExpectSurvivors(names, out);
      // Every counted record is whole: a flag byte and the blank-padded name.
      for (std::uint32_t r = 1; r <= t->RecordCount(); ++r) {
        ASSERT_TRUE(t->Go(r));
        EXPECT_TRUE(t->Record()[0] == ' ' || t->Record()[0] == '*');
      }
      // The index either agrees with the records or was found out and moved aside.
      if (t->HasIndex()) {
        const auto problems = t->CheckIndex();
        EXPECT_TRUE(problems.empty()) << problems.front();
      } else {
        EXPECT_TRUE(mem.Exists("VZPB.CDX.BAD"));
      }
    }
  }
}

// In durable mode too: its changes flush in other places, and write in the same order.
TEST(TableFaults, ACrashAtAnyWriteKeepsEveryPostedRecord) {
  CrashAtEveryWrite(false);
  CrashAtEveryWrite(true);
}

TEST(TableFaults, AFailedReadOrWriteIsReportedAndLeavesASoundTable) {
  std::uint64_t reads = 0, writes = 0;
  {
    MemoryFileSystem mem;
    MakeStartTable(mem);
    FaultFileSystem counting(mem);
    Work(counting);
    reads = counting.Reads();
    writes = counting.Writes();
  }
  for (int kind = 0; kind < 2; ++kind) {
    const std::uint64_t total = kind == 0 ? reads : writes;
    for (std::uint64_t n = 1; n <= total; ++n) {
      SCOPED_TRACE(testing::Message() << (kind == 0 ? "read " : "write ") << n);
      MemoryFileSystem mem;
      MakeStartTable(mem);
      FaultFileSystem::Plan plan;
      (kind == 0 ? plan.failRead : plan.failWrite) = n;
      FaultFileSystem faulty(mem, plan);
      EXPECT_TRUE(Work(faulty).failed);
      auto t = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
      EXPECT_GE(t->RecordCount(), 1u);
    }
  }
}

}  // namespace
}  // namespace vz::db
