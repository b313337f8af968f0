// An exclusive opener's appends collected in runs: written in few large writes, seen
// by every call of the same opener, whole after a crash at any write or a power cut.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/bytes.hpp"
#include "dbengine/table.hpp"
#include "tests/native/dbengine/testutil.hpp"

namespace vz::db {
namespace {

using namespace test;

constexpr std::size_t kHeaderBytes = 98;  // the phone book's header
constexpr std::size_t kRecordBytes = 61;

// Runs of three records, so that a few appends make several runs.
TableOptions Collecting(FileSystem* fs, std::size_t runRecords = 3) {
  TableOptions o = FixedDate(ShareMode::kExclusive, fs);
  o.appendRunBytes = runRecords * kRecordBytes;
  return o;
}

void MakeBareTable(FileSystem& fs) { Table::Create("VZPB.DBF", PhoneFields(), FixedDate(ShareMode::kExclusive, &fs)); }

std::string Name(std::uint32_t i) { return "Name" + std::to_string(i); }

std::uint32_t CountIn(const std::string& dbf) {
  return dbf.size() < 8 ? 0 : GetLE32(reinterpret_cast<const unsigned char*>(dbf.data()) + 4);
}

// The name of record r as the bytes hold it.
std::string NameAt(const std::string& dbf, std::uint32_t r) {
  return Trimmed(dbf.substr(kHeaderBytes + (r - 1) * kRecordBytes + 1, 35));
}

// Counts the writes reaching the files.
class WriteCounter : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  int writes = 0;

 protected:
  std::unique_ptr<File> Wrap(std::unique_ptr<File> file, const std::string&) override {
    return std::make_unique<Counted>(std::move(file), writes);
  }

 private:
  class Counted : public ForwardingFile {
   public:
    Counted(std::unique_ptr<File> inner, int& writes) : ForwardingFile(std::move(inner)), writes_(writes) {}
    void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
      ++writes_;
      ForwardingFile::WriteAt(offset, buf, n);
    }

   private:
    int& writes_;
  };
};

TEST(AppendRuns, AThousandAppendsReachTheFileInAFewWritesAndWholeOnClosing) {
  MemoryFileSystem mem;
  MakeBareTable(mem);
  WriteCounter fs(mem);
  {
    auto t = Table::Open("VZPB.DBF", FixedDate(ShareMode::kExclusive, &fs));
    for (std::uint32_t i = 1; i <= 1000; ++i) EXPECT_EQ(t->Append(PhoneRecord(*t, Name(i), "1")), i);
    EXPECT_EQ(fs.writes, 0);
    EXPECT_EQ(CountIn(mem.Bytes("VZPB.DBF")), 0u);
  }
  EXPECT_EQ(fs.writes, 2);  // the records with the end marker, then date and count
  const std::string dbf = mem.Bytes("VZPB.DBF");
  EXPECT_EQ(CountIn(dbf), 1000u);
  ASSERT_EQ(dbf.size(), kHeaderBytes + 1000 * kRecordBytes + 1);
  EXPECT_EQ(dbf.back(), '\x1A');
  EXPECT_EQ(NameAt(dbf, 1), "Name1");
  EXPECT_EQ(NameAt(dbf, 1000), "Name1000");
}

// Whatever the opener does after appending sees the appended records: reading them,
// changing one, counting, building a tag, flushing.
TEST(AppendRuns, TheSameOpenerSeesCollectedRecordsInEveryCall) {
  MemoryFileSystem mem;
  MakeBareTable(mem);
  auto t = Table::Open("VZPB.DBF", Collecting(&mem, 100));
  for (std::uint32_t i = 1; i <= 5; ++i) t->Append(PhoneRecord(*t, Name(i), "1"));
  EXPECT_EQ(t->RecordCount(), 5u);
  ASSERT_TRUE(t->Go(5));
  EXPECT_EQ(Trimmed(t->FieldText(0)), "Name5");
  t->Append(PhoneRecord(*t, "Adams", "2"));
  t->Delete(2);
  t->SetFilter(".not. deleted()");
  EXPECT_EQ(t->CountVisible(), 5u);
  t->Append(PhoneRecord(*t, "Zimmer", "3"));
  t->IndexTag({"NAME", "NAME", ".not. deleted()", false, false});
  EXPECT_EQ(VisibleNames(*t), (std::vector<std::string>{"Adams", "Name1", "Name3", "Name4", "Name5", "Zimmer"}));
  // With the index open, appends go to the file at once again.
  t->Append(PhoneRecord(*t, "Baker", "4"));
  EXPECT_EQ(CountIn(mem.Bytes("VZPB.DBF")), 8u);
  EXPECT_TRUE(t->CheckIndex().empty());
}

// Appends collected, flushed, collected again: at every flush the device holds every
// record appended so far, counted; between flushes the count never covers more than
// the records written.
TEST(AppendRuns, APowerCutLeavesTheCountWithinTheRecordsWritten) {
  MemoryFileSystem mem;
  MakeBareTable(mem);
  PowerCutFileSystem fs(mem);
  std::vector<std::uint32_t> flushedAt;
  {
    auto t = Table::Open("VZPB.DBF", Collecting(&fs));
    for (std::uint32_t i = 1; i <= 11; ++i) {
      t->Append(PhoneRecord(*t, Name(i), "1"));
      if (i == 4 || i == 8) {
        t->Flush();
        flushedAt.push_back(i);
        const std::string survivor = fs.Survivor("VZPB.DBF");
        EXPECT_EQ(CountIn(survivor), i);
        EXPECT_EQ(survivor.size(), kHeaderBytes + i * kRecordBytes + 1);
      }
    }
  }
  ASSERT_EQ(fs.Cuts().size(), 2u);
  // What the machine finds after the power came back; closing flushed nothing more.
  for (const auto& cut : fs.Cuts()) {
    MemoryFileSystem device;
    LoadFiles(device, cut);
    const std::string dbf = device.Bytes("VZPB.DBF");
    ASSERT_GE(dbf.size(), kHeaderBytes + CountIn(dbf) * kRecordBytes);
    for (std::uint32_t r = 1; r <= CountIn(dbf); ++r) EXPECT_EQ(NameAt(dbf, r), Name(r));
    auto opener = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &device));
    EXPECT_EQ(opener->RecordCount(), CountIn(dbf));
  }
  const std::string closed = mem.Bytes("VZPB.DBF");
  EXPECT_EQ(CountIn(closed), 11u);
  EXPECT_EQ(closed.size(), kHeaderBytes + 11 * kRecordBytes + 1);
}

// Appends in runs of three, crashing at every write (torn three ways): the count
// covers only whole records, all of them the ones appended, in order, and no fewer
// than the runs written before the crash; the next opener appends right after them
// and leaves the file whole.
TEST(AppendRuns, ACrashAtAnyWriteLeavesTheRecordsOfTheWrittenRunsCounted) {
  auto work = [](FileSystem& fs) {
    std::uint32_t appended = 0;
    try {
      auto t = Table::Open("VZPB.DBF", Collecting(&fs));
      for (std::uint32_t i = 1; i <= 10; ++i) appended = t->Append(PhoneRecord(*t, Name(i), "1"));
    } catch (const DbError&) {
      // The crash; what is on the file is looked at below.
    }
    return appended;
  };
  std::uint64_t total = 0;
  {
    MemoryFileSystem mem;
    MakeBareTable(mem);
    FaultFileSystem counting(mem);
    EXPECT_EQ(work(counting), 10u);
    total = counting.Writes();
  }
  ASSERT_EQ(total, 8u);  // four runs (3, 3, 3, 1), each records then count
  for (std::size_t torn : {0, 1, 30}) {
    for (std::uint64_t n = 1; n <= total; ++n) {
      SCOPED_TRACE(testing::Message() << "crash at write " << n << ", torn " << torn);
      MemoryFileSystem mem;
      MakeBareTable(mem);
      FaultFileSystem faulty(mem, {.failWrite = n, .tornBytes = torn, .crash = true});
      work(faulty);
      const std::string dbf = mem.Bytes("VZPB.DBF");
      const std::uint32_t count = CountIn(dbf);
      // The runs whose count was written: those before the crash, and the crashing
      // one when its count write (date and count, 7 bytes) got through whole.
      const std::uint32_t runs[] = {3, 3, 3, 1};
      const std::uint64_t counted = (n - 1) / 2 + (n % 2 == 0 && torn >= 7 ? 1 : 0);
      std::uint32_t expected = 0;
      for (std::uint64_t i = 0; i < counted; ++i) expected += runs[i];
      EXPECT_EQ(count, expected);
      ASSERT_GE(dbf.size(), kHeaderBytes + count * kRecordBytes);
      for (std::uint32_t r = 1; r <= count; ++r) EXPECT_EQ(NameAt(dbf, r), Name(r));
      {
        auto next = Table::Open("VZPB.DBF", Collecting(&mem));
        EXPECT_EQ(next->RecordCount(), count);
        EXPECT_EQ(next->Append(PhoneRecord(*next, "Later", "2")), count + 1);
      }
      const std::string after = mem.Bytes("VZPB.DBF");
      EXPECT_EQ(CountIn(after), count + 1);
      EXPECT_EQ(NameAt(after, count + 1), "Later");
      EXPECT_GE(after.size(), kHeaderBytes + (count + 1) * kRecordBytes + 1);
      EXPECT_EQ(after[kHeaderBytes + (count + 1) * kRecordBytes], '\x1A');
    }
  }
}

}  // namespace
}  // namespace vz::db
