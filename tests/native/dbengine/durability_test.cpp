// What the device holds after each durable change and each rebuild, whoever else has
// the table open; crashes in a rebuild; an index that cannot be mended.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>

#include "common/bytes.hpp"
#include "dbengine/table.hpp"
#include "tests/native/dbengine/testutil.hpp"

namespace vz::db {
namespace {

using namespace test;

constexpr std::size_t kHeaderBytes = 98;  // the phone book's header
constexpr std::size_t kRecordBytes = 61;

TableOptions Durable(FileSystem* fs, ShareMode mode = ShareMode::kShared) {
  TableOptions o = FixedDate(mode, fs);
  o.durable = true;
  return o;
}

std::uint32_t CountIn(const std::string& dbf) {
  return dbf.size() < 8 ? 0 : GetLE32(reinterpret_cast<const unsigned char*>(dbf.data()) + 4);
}

// The files as a power cut would leave them, in memory of their own.
struct DeviceView {
  MemoryFileSystem files;
  explicit DeviceView(const std::map<std::string, std::string>& survivors) {
    for (const auto& [path, bytes] : survivors) files.Bytes(path) = bytes;
  }
  DeviceView(const PowerCutFileSystem& fs, std::initializer_list<const char*> paths) {
    for (const char* path : paths) files.Bytes(path) = fs.Survivor(path);
  }
};

// The visible names in NAME order are `names`, and the index agrees with the records.
void ExpectSoundPhoneBook(Table& t, const std::vector<std::string>& names) {
  EXPECT_GT(t.TagOrder("NAME"), 0);
  EXPECT_EQ(VisibleNames(t), names);
  const auto problems = t.CheckIndex();
  EXPECT_TRUE(problems.empty()) << problems.front();
}

// Every durable change is whole on the device when it returns, read as any xBase
// program reads it: the record in place, the header's own count covering it, and the
// index (read from the device alone) listing what the record gives.
TEST(TableDurability, EveryReturnedDurableChangeIsWholeOnTheDevice) {
  MemoryFileSystem mem;
  PowerCutFileSystem fs(mem);
  MakePhoneTable("VZPB.DBF", Durable(&fs));
  auto t = Table::Open("VZPB.DBF", Durable(&fs));
  const std::vector<std::pair<std::string, std::function<void()>>> steps{
      {"append Miller", [&] { t->Append(PhoneRecord(*t, "Miller", "1")); }},
      {"append Jones", [&] { t->Append(PhoneRecord(*t, "Jones", "2")); }},
      {"append Adams", [&] { t->Append(PhoneRecord(*t, "Adams", "3")); }},
      {"update Jones", [&] { t->Update(2, PhoneRecord(*t, "Jonas", "22")); }},
      {"delete Miller", [&] { t->Delete(1); }}};
  const std::vector<std::vector<std::string>> visible{{"Miller"},
                                                      {"Jones", "Miller"},
                                                      {"Adams", "Jones", "Miller"},
                                                      {"Adams", "Jonas", "Miller"},
                                                      {"Adams", "Jonas"}};
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(steps[i].first);
    steps[i].second();
    const std::string dbf = fs.Survivor("VZPB.DBF");
    EXPECT_EQ(CountIn(dbf), std::min<std::size_t>(i + 1, 3));
    EXPECT_EQ(dbf.size(), kHeaderBytes + CountIn(dbf) * kRecordBytes + 1);
    for (std::uint32_t r = 1; r <= CountIn(dbf); ++r) {
      ASSERT_TRUE(t->Go(r));
      EXPECT_EQ(dbf.substr(kHeaderBytes + (r - 1) * kRecordBytes, kRecordBytes), t->Record());
    }
    DeviceView device(fs, {"VZPB.DBF", "VZPB.CDX"});
    auto reader = Table::Open("VZPB.DBF", FixedDate(ShareMode::kReadOnly, &device.files));
    EXPECT_EQ(reader->DamageReason(), "");
    ExpectSoundPhoneBook(*reader, visible[i]);
  }
}

// Another opener rebuilds the index after a durable append returned: at no moment of
// the rebuild does the device lose the entry, and an opener of what a power cut leaves
// finds the index sound or mends it, tag NAME included. The rebuild flushes what it
// removes only after the table, durable opener or not.
TEST(TableDurability, AnotherOpenersRebuildLosesNoReturnedAppend) {
  for (const bool durableRebuilder : {false, true}) {
    SCOPED_TRACE(durableRebuilder ? "durable rebuilder" : "rebuilder without syncs");
    MemoryFileSystem mem;
    PowerCutFileSystem fs(mem);
    MakePhoneTable("VZPB.DBF", Durable(&fs));
    auto writer = Table::Open("VZPB.DBF", Durable(&fs));
    auto rebuilder = Table::Open("VZPB.DBF", durableRebuilder ? Durable(&fs) : FixedDate(ShareMode::kShared, &fs));
    writer->Append(PhoneRecord(*writer, "Miller", "1"));
    writer->Append(PhoneRecord(*writer, "Adams", "2"));
    const std::size_t before = fs.Cuts().size();
    rebuilder->Reindex();
    ASSERT_GT(fs.Cuts().size(), before + 2);
    for (std::size_t cut = before - 1; cut < fs.Cuts().size(); ++cut) {
      SCOPED_TRACE(testing::Message() << "power cut after flush " << cut + 1);
      DeviceView device(fs.Cuts()[cut]);
      EXPECT_EQ(CountIn(device.files.Bytes("VZPB.DBF")), 2u);
      auto opener = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &device.files));
      ExpectSoundPhoneBook(*opener, {"Adams", "Miller"});
    }
  }
}

// Another program's write left the leaf holding `name` unreadable (its key count no
// longer fits the page) and moved the change counter, as every writer does.
void DamageLeafHolding(const std::string& cdxPath, const std::string& name) {
  std::string cdx = ReadAll(cdxPath);
  const std::size_t at = cdx.find(name);
  ASSERT_NE(at, std::string::npos);
  auto* bytes = reinterpret_cast<unsigned char*>(cdx.data());
  PutLE16(bytes + at / 512 * 512 + 2, 0x7FFF);
  PutBE32(bytes + 8, GetBE32(bytes + 8) + 1);
  WriteAll(cdxPath, cdx);
}

// A change that meets a damaged index mends it first; when the mend cannot finish
// (here the copy VZPB.CDX.BAD cannot be made: a folder of that name is in the way) the
// change is refused with the reason and neither file is touched. Once the way is
// clear, the same opener mends the index and the change goes through.
TEST(TableDurability, AMendThatCannotFinishRefusesTheChangeAndTouchesNothing) {
  const std::vector<std::pair<std::string, std::function<void(Table&)>>> changes{
      {"append", [](Table& t) { t.Append(PhoneRecord(t, "Baker", "4")); }},
      {"update", [](Table& t) { t.Update(2, PhoneRecord(t, "Jonas", "2")); }},
      {"delete", [](Table& t) { t.Delete(1); }}};
  for (const auto& [what, change] : changes) {
    SCOPED_TRACE(what);
    TempDir dir;
    const std::string path = dir / "VZPB.DBF";
    MakePhoneTable(path, FixedDate());
    auto t = Table::Open(path, FixedDate());
    for (const char* name : {"Miller", "Jones", "Adams"}) t->Append(PhoneRecord(*t, name, "1"));
    std::filesystem::create_directory(dir / "VZPB.CDX.BAD");
    DamageLeafHolding(dir / "VZPB.CDX", "Adams");
    const std::string dbf = ReadAll(path);
    const std::string cdx = ReadAll(dir / "VZPB.CDX");
    try {
      change(*t);
      ADD_FAILURE() << "the change went through beside a damaged index";
    } catch (const DbError& e) {
      const std::string text = e.what();
      EXPECT_NE(text.find("VZPB.CDX is damaged and could not be rebuilt"), std::string::npos) << text;
      EXPECT_NE(text.find("nothing was changed"), std::string::npos) << text;
    }
    EXPECT_EQ(ReadAll(path), dbf);
    EXPECT_EQ(ReadAll(dir / "VZPB.CDX"), cdx);

    std::filesystem::remove(dir / "VZPB.CDX.BAD");
    change(*t);
    EXPECT_EQ(ReadAll(dir / "VZPB.CDX.BAD"), cdx);
    auto other = Table::Open(path, FixedDate());
    EXPECT_EQ(other->DamageReason(), "");
    EXPECT_TRUE(other->CheckIndex().empty());
  }
}

// A file system whose copies set aside (*.BAD) cannot be made.
class NoBadCopyFileSystem : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".BAD") == 0) throw DbError("cannot create " + path);
    return ForwardingFileSystem::Open(path, mode);
  }
};

const std::vector<std::string> kStartNames{"Adams", "Baker", "Jones", "Miller"};

void MakeStartBook(FileSystem& fs) {
  MakePhoneTable("VZPB.DBF", FixedDate(ShareMode::kShared, &fs));
  auto t = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &fs));
  for (const std::string& name : kStartNames) t->Append(PhoneRecord(*t, name, "1"));
}

// An update of several pages broke off half way, its mark left set: the next change
// must mend the index in place.
void MarkUpdateCutShort(MemoryFileSystem& mem) { mem.Bytes("VZPB.CDX").replace(496, 4, "PUZV"); }

struct RebuildWork {
  std::string name;
  // Opens the table on `fs` and works; `mem` holds the files underneath.
  std::function<void(MemoryFileSystem& mem, const TableOptions& o)> run;
};

std::vector<RebuildWork> RebuildWorks() {
  return {{"reindex", [](MemoryFileSystem&, const TableOptions& o) { Table::Open("VZPB.DBF", o)->Reindex(); }},
          {"mend in place on append", [](MemoryFileSystem& mem, const TableOptions& o) {
             auto t = Table::Open("VZPB.DBF", o);
             MarkUpdateCutShort(mem);
             t->Append(PhoneRecord(*t, "Zed", "9"));
           }}};
}

// A crash at any write of a rebuild (torn three ways), made by the opener itself or by
// a change that mends the index in place: whatever is left, the next opener finds
// every entry, tag NAME and an index that agrees with the records.
TEST(TableDurability, ACrashAtAnyWriteOfARebuildLeavesAnIndexTheNextOpenerCanUse) {
  for (const RebuildWork& work : RebuildWorks()) {
    for (const bool durable : {false, true}) {
      std::uint64_t total = 0;
      {
        MemoryFileSystem mem;
        MakeStartBook(mem);
        FaultFileSystem counting(mem);
        TableOptions o = FixedDate(ShareMode::kShared, &counting);
        o.durable = durable;
        work.run(mem, o);
        total = counting.Writes();
      }
      ASSERT_GE(total, 3u);
      for (const std::size_t torn : {0, 1, 30}) {
        for (std::uint64_t n = 1; n <= total; ++n) {
          SCOPED_TRACE(testing::Message() << work.name << (durable ? ", durable" : "") << ", crash at write " << n
                                          << ", torn " << torn);
          MemoryFileSystem mem;
          MakeStartBook(mem);
          FaultFileSystem faulty(mem, {.failWrite = n, .tornBytes = torn, .crash = true});
          TableOptions o = FixedDate(ShareMode::kShared, &faulty);
          o.durable = durable;
          EXPECT_THROW(work.run(mem, o), DbError);
          auto t = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
          std::vector<std::string> names = VisibleNames(*t);
          std::erase(names, "Zed");  // a change that did not return may or may not be there
          EXPECT_EQ(names, kStartNames);
          EXPECT_GT(t->TagOrder("NAME"), 0);
          EXPECT_TRUE(t->CheckIndex().empty());
        }
      }
    }
  }
}

// A rebuild whose copy of the damaged file cannot be made writes nothing at all: the
// change is refused, and the next opener still finds the damage for itself.
TEST(TableDurability, AMendRefusedItsCopyWritesNothing) {
  MemoryFileSystem mem;
  MakeStartBook(mem);
  MarkUpdateCutShort(mem);
  const std::string dbf = mem.Bytes("VZPB.DBF");
  const std::string cdx = mem.Bytes("VZPB.CDX");
  NoBadCopyFileSystem refusing(mem);
  FaultFileSystem counting(refusing);
  auto t = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &counting));
  EXPECT_THROW(t->Append(PhoneRecord(*t, "Zed", "9")), DbError);
  EXPECT_THROW(t->Delete(1), DbError);
  EXPECT_EQ(counting.Writes(), 0u);
  EXPECT_EQ(mem.Bytes("VZPB.DBF"), dbf);
  EXPECT_EQ(mem.Bytes("VZPB.CDX"), cdx);
  auto next = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  EXPECT_EQ(next->DamageReason(), "index damaged: an update was interrupted");
  ExpectSoundPhoneBook(*next, kStartNames);
}

// A production index that lost its tags (a rebuild cut short before this version
// marked rebuilds) is damage: found on open, rebuilt from the tags an opener knew, and
// reported by a check until then.
TEST(TableDurability, AnIndexWithoutTagsIsDamage) {
  MemoryFileSystem mem;
  MakeStartBook(mem);
  auto knowing = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  {
    CdxOptions o;
    o.shared = false;
    CdxIndex::Create(mem.Open("VZPB.CDX", OpenMode::kReadWrite), o);
  }
  auto reader = Table::Open("VZPB.DBF", FixedDate(ShareMode::kReadOnly, &mem));
  EXPECT_EQ(reader->DamageReason(), "index damaged: the production index has no tags");
  EXPECT_FALSE(reader->HasIndex());
  EXPECT_FALSE(reader->CheckIndex().empty());
  // The opener that knew tag NAME gives it back when its next change meets the loss.
  knowing->Append(PhoneRecord(*knowing, "Zed", "9"));
  auto after = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &mem));
  EXPECT_EQ(after->DamageReason(), "");
  ExpectSoundPhoneBook(*after, {"Adams", "Baker", "Jones", "Miller", "Zed"});
}

}  // namespace
}  // namespace vz::db
