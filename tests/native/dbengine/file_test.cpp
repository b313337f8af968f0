// The file layer: host files with per-opener byte-range locks, memory files and
// fault injection.
#include <gtest/gtest.h>

#include "dbengine/filesystem.hpp"
#include "tests/native/dbengine/testutil.hpp"

namespace vz::db {
namespace {

using test::TempDir;

TEST(HostFile, ReadsWritesSizesAndTruncates) {
  TempDir dir;
  auto f = OpenHostFile(dir / "a.bin", OpenMode::kCreate);
  f->WriteAt(10, "hello", 5);
  EXPECT_EQ(f->Size(), 15u);
  char buf[8] = {};
  EXPECT_EQ(f->ReadAt(10, buf, 8), 5u);  // short read at end of file
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_EQ(f->ReadAt(100, buf, 8), 0u);
  f->Truncate(12);
  EXPECT_EQ(f->Size(), 12u);
  f->Flush();
  EXPECT_THROW(OpenHostFile(dir / "missing.bin", OpenMode::kReadWrite), DbError);
  auto ro = OpenHostFile(dir / "a.bin", OpenMode::kReadOnly);
  EXPECT_THROW(ro->WriteAt(0, "x", 1), DbError);
}

TEST(HostFile, BackslashPathsWorkOnThisHost) {
  TempDir dir;
  const std::string winStyle = dir.Path().string() + "\\b.bin";
  OpenHostFile(winStyle, OpenMode::kCreate)->WriteAt(0, "x", 1);
  EXPECT_TRUE(HostFileExists(winStyle));
  EXPECT_TRUE(HostFileExists(dir / "b.bin"));
  EXPECT_FALSE(HostFileExists(dir.Path().string()));  // a folder is not a file
}

TEST(HostFile, LocksConflictBetweenOpenersOfOneFile) {
  TempDir dir;
  auto a = OpenHostFile(dir / "t.dbf", OpenMode::kCreate);
  auto b = OpenHostFile(dir / "t.dbf", OpenMode::kReadWrite);
  const std::uint64_t at = 0x7FFFFFFE;
  ASSERT_TRUE(a->TryLock(at, 1, LockKind::kExclusive));
  EXPECT_FALSE(b->TryLock(at, 1, LockKind::kExclusive));
  EXPECT_FALSE(b->TryLock(at, 1, LockKind::kShared));
  EXPECT_TRUE(b->TryLock(at - 1, 1, LockKind::kExclusive));  // the neighbouring byte is free
  {
    // Closing another descriptor of the file keeps a's lock (unlike classic POSIX locks).
    auto c = OpenHostFile(dir / "t.dbf", OpenMode::kReadOnly);
  }
  EXPECT_FALSE(b->TryLock(at, 1, LockKind::kExclusive));
  a->Unlock(at, 1);
  EXPECT_TRUE(b->TryLock(at, 1, LockKind::kShared));
  EXPECT_TRUE(a->TryLock(at, 1, LockKind::kShared));  // readers share
  EXPECT_FALSE(a->TryLock(at, 1, LockKind::kExclusive));
}

TEST(HostFileSystem, RenamesReplacingAndRemoves) {
  TempDir dir;
  auto& fs = HostFileSystem();
  test::WriteAll(dir / "x", "new");
  test::WriteAll(dir / "y", "old");
  fs.Rename(dir / "x", dir / "y");
  EXPECT_FALSE(fs.Exists(dir / "x"));
  EXPECT_EQ(test::ReadAll(dir / "y"), "new");
  fs.Remove(dir / "y");
  EXPECT_FALSE(fs.Exists(dir / "y"));
  EXPECT_THROW(fs.Remove(dir / "y"), DbError);
}

TEST(MemoryFileSystem, SharesBytesAndLocksBetweenOpeners) {
  MemoryFileSystem fs;
  auto a = fs.Open("T.DBF", OpenMode::kCreate);
  auto b = fs.Open("T.DBF", OpenMode::kReadWrite);
  a->WriteAt(0, "abc", 3);
  char buf[3];
  ASSERT_EQ(b->ReadAt(0, buf, 3), 3u);
  EXPECT_EQ(std::string(buf, 3), "abc");
  EXPECT_TRUE(a->TryLock(5, 1, LockKind::kShared));
  EXPECT_TRUE(b->TryLock(5, 1, LockKind::kShared));
  EXPECT_FALSE(b->TryLock(5, 1, LockKind::kExclusive));
  a.reset();  // closing releases a's locks
  EXPECT_TRUE(b->TryLock(5, 1, LockKind::kExclusive));
  fs.Rename("T.DBF", "U.DBF");
  EXPECT_FALSE(fs.Exists("T.DBF"));
  EXPECT_EQ(fs.Bytes("U.DBF"), "abc");
  EXPECT_THROW(fs.Open("T.DBF", OpenMode::kReadOnly), DbError);
}

TEST(FaultFileSystem, FailsExactlyTheNthWriteOrRead) {
  MemoryFileSystem mem;
  FaultFileSystem fs(mem, {.failWrite = 2});
  auto f = fs.Open("F", OpenMode::kCreate);
  f->WriteAt(0, "1", 1);
  EXPECT_THROW(f->WriteAt(1, "2", 1), DbError);
  f->WriteAt(2, "3", 1);  // not a crash: later writes go through
  EXPECT_EQ(mem.Bytes("F"), std::string("1\0003", 3));
  EXPECT_EQ(fs.Writes(), 3u);

  fs.SetPlan({.failRead = 1});
  char c;
  EXPECT_THROW(f->ReadAt(0, &c, 1), DbError);
  EXPECT_EQ(f->ReadAt(0, &c, 1), 1u);
}

TEST(FaultFileSystem, TornWriteAndCrashStopEverythingAfter) {
  MemoryFileSystem mem;
  FaultFileSystem fs(mem, {.failWrite = 1, .tornBytes = 2, .crash = true});
  auto f = fs.Open("F", OpenMode::kCreate);
  EXPECT_THROW(f->WriteAt(0, "abcd", 4), DbError);
  EXPECT_EQ(mem.Bytes("F"), "ab");
  EXPECT_TRUE(fs.Crashed());
  EXPECT_THROW(f->WriteAt(0, "x", 1), DbError);
  EXPECT_THROW(fs.Open("G", OpenMode::kCreate), DbError);
  EXPECT_EQ(mem.Bytes("F"), "ab");
}

}  // namespace
}  // namespace vz::db
