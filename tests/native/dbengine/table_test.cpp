// The table: exact bytes, the golden tables, index upkeep, navigation and damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "common/bytes.hpp"
#include "dbengine/table.hpp"
#include "tests/native/dbengine/testutil.hpp"

namespace vz::db {
namespace {

using namespace test;
using Listing = std::vector<std::pair<std::uint32_t, std::string>>;

int NameOrder(Table& t) { return t.TagOrder("NAME"); }

void PhoneView(Table& t) {
  t.SetOrder(NameOrder(t));
  t.SetFilter(".not. deleted()");
}

TEST(TableFiles, NewPhoneTableHasTheGoldenLayoutByteForByte) {
  TempDir dir;
  const std::string golden = ReadAll(XbaseFixture("small/VZPB.dbf"));
  const std::string path = dir / "VZPB.DBF";
  Table::Create(path, PhoneFields(), FixedDate());
  std::string header = golden.substr(0, 98);
  PutLE32(reinterpret_cast<unsigned char*>(header.data()) + 4, 0);
  header[28] = 0;
  EXPECT_EQ(ReadAll(path), header + '\x1a');

  auto t = Table::Open(path, FixedDate());
  t->IndexTag({"NAME", "NAME", ".not. deleted()", false, false});
  EXPECT_TRUE(HostFileExists(dir / "VZPB.CDX"));
  // The golden table's first record, appended through the engine.
  EXPECT_EQ(t->Append(PhoneRecord(*t, "Mueller, Hans", "+49 30 001007")), 1u);
  header[28] = 1;
  PutLE32(reinterpret_cast<unsigned char*>(header.data()) + 4, 1);
  EXPECT_EQ(ReadAll(path), header + golden.substr(98, 61) + '\x1a');
}

TEST(TableFiles, ProductionIndexFollowsTheExtensionsLetterCase) {
  EXPECT_EQ(Table::ProductionIndexPath("C:\\VZ\\VZPB.DBF"), "C:\\VZ\\VZPB.CDX");
  EXPECT_EQ(Table::ProductionIndexPath("vzpb.dbf"), "vzpb.cdx");
  EXPECT_EQ(Table::ProductionIndexPath("/x/VZPB.dbf"), "/x/VZPB.cdx");
  EXPECT_EQ(Table::ProductionIndexPath("a.b\\Table.Dbf"), "a.b\\Table.CDX");
  EXPECT_EQ(Table::ProductionIndexPath("a.b\\NOEXT"), "a.b\\NOEXT.CDX");
}

TEST(TableFiles, CreatingATableRemovesAStaleIndexOfTheSameName) {
  TempDir dir;
  MakePhoneTable(dir / "VZPB.DBF", FixedDate());
  ASSERT_TRUE(HostFileExists(dir / "VZPB.CDX"));
  Table::Create(dir / "VZPB.DBF", PhoneFields(), FixedDate());
  EXPECT_FALSE(HostFileExists(dir / "VZPB.CDX"));
}

TEST(GoldenTables, ListInTheIndependentSystemsTagOrder) {
  TempDir dir;
  auto t = Table::Open(CopyGolden("n2000", dir), FixedDate());
  ASSERT_TRUE(t->HasIndex());
  PhoneView(*t);
  const Listing expected = ExpectedOrder(XbaseFixture("n2000/expected.tsv"));
  ASSERT_EQ(expected.size(), 1756u);
  EXPECT_EQ(Walk(*t), expected);
  EXPECT_EQ(t->CountVisible(), expected.size());
  EXPECT_EQ(t->RecordCount(), 2050u);
  EXPECT_TRUE(t->CheckIndex().empty());

  // Backwards from the bottom gives the same order reversed.
  Listing back;
  for (bool ok = t->GoBottom(); ok; ok = t->Skip(-1)) back.emplace_back(t->RecNo(), Trimmed(t->FieldText(0)));
  std::reverse(back.begin(), back.end());
  EXPECT_EQ(back, expected);

  TempDir dir2;
  auto s = Table::Open(CopyGolden("small", dir2), FixedDate());
  PhoneView(*s);
  const Listing smallOrder = {{7, "Adams, Ann"},      {6, "Meier, Maria"}, {1, "Mueller, Hans"}, {8, "Oswald, Otto"},
                              {10, "Schmidt, Sabine"}, {3, "Zimmer, Zoe"},  {5, "adams, al"}};
  EXPECT_EQ(Walk(*s), smallOrder);
}

TEST(GoldenTables, OpeningChangesNeitherFile) {
  TempDir dir;
  const std::string path = CopyGolden("small", dir);
  {
    auto t = Table::Open(path, FixedDate());
    PhoneView(*t);
    Walk(*t);
    t->CountVisible();
  }
  EXPECT_EQ(ReadAll(path), ReadAll(XbaseFixture("small/VZPB.dbf")));
  EXPECT_EQ(ReadAll(dir / "VZPB.cdx"), ReadAll(XbaseFixture("small/VZPB.cdx")));
}

// index_dump's view of tag NAME: "key recno" per entry, key without trailing blanks.
Listing IndependentTagOrder(const std::string& cdx, int* status) {
  std::istringstream in(RunCommand("index_dump --type=char '" + cdx + "' NAME 2>/dev/null", status));
  Listing out;
  std::string line;
  while (std::getline(in, line)) {
    const auto space = line.rfind(' ');
    out.emplace_back(static_cast<std::uint32_t>(std::stoul(line.substr(space + 1))), Trimmed(line.substr(0, space)));
  }
  return out;
}

TEST(GoldenTables, CopiesStayValidForIndependentReadersAfterChanges) {
  TempDir dir;
  const std::string path = CopyGolden("n2000", dir);
  {
    auto t = Table::Open(path, FixedDate());
    std::uint64_t seed = 7;
    auto next = [&] { return seed = seed * 6364136223846793005ULL + 1442695040888963407ULL; };
    for (int i = 0; i < 300; ++i) {
      std::string name;
      for (int k = 0; k < 3 + static_cast<int>(next() >> 60); ++k) name += static_cast<char>('a' + (next() >> 59) % 26);
      name[0] = static_cast<char>(name[0] - 'a' + 'A');
      t->Append(PhoneRecord(*t, name + ", Neu", "+1 " + std::to_string(i)));
    }
    for (std::uint32_t r = 3; r <= 2350; r += 97) t->Delete(r);
    for (std::uint32_t r = 10; r <= 2350; r += 131) t->Update(r, PhoneRecord(*t, "Changed " + std::to_string(r), "0"));
    EXPECT_TRUE(t->CheckIndex().empty());
  }
  auto t = Table::Open(path, FixedDate());
  PhoneView(*t);
  const Listing ours = Walk(*t);
  EXPECT_EQ(ours.size(), t->CountVisible());
  int status = 0;
  const Listing theirs = IndependentTagOrder(dir / "VZPB.cdx", &status);
  ASSERT_EQ(status, 0) << "index_dump (libdbd-xbase-perl) is missing: scripts/setup installs it";
  EXPECT_EQ(theirs, ours);
  const std::string dumped = RunCommand("dbf_dump --fields NAME '" + path + "' | wc -l", &status);
  EXPECT_EQ(std::stoul(dumped), ours.size());  // dbf_dump leaves out deleted records
  const std::string py = RunCommand("/usr/bin/python3 -c \"import dbfread; t = dbfread.DBF('" + path +
                                    "'); print(len(t) + len(t.deleted))\" 2>&1", &status);
  ASSERT_EQ(status, 0) << "python3-dbfread is missing: scripts/setup installs it";
  EXPECT_EQ(py, "2350\n");
}

TEST(TableChanges, EveryChangeKeepsTheTagInOrder) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  MakePhoneTable(path, FixedDate());
  auto t = Table::Open(path, FixedDate());
  PhoneView(*t);
  for (const char* n : {"Smith", "adams", "Brown", "Smith", "Zed"}) t->Append(PhoneRecord(*t, n, "1"));
  EXPECT_EQ(Walk(*t), (Listing{{3, "Brown"}, {1, "Smith"}, {4, "Smith"}, {5, "Zed"}, {2, "adams"}}));

  t->Update(5, PhoneRecord(*t, "Able", "2"));  // moves to the front
  t->Delete(1);                               // hidden, but still in the file
  EXPECT_EQ(Walk(*t), (Listing{{5, "Able"}, {3, "Brown"}, {4, "Smith"}, {2, "adams"}}));
  EXPECT_EQ(t->CountVisible(), 4u);
  EXPECT_EQ(t->RecordCount(), 5u);
  t->Recall(1);
  EXPECT_EQ(t->CountVisible(), 5u);
  EXPECT_TRUE(t->CheckIndex().empty());

  // A full-width name is stored whole; longer text is refused.
  const std::string full(35, 'x');
  t->Append(PhoneRecord(*t, full, std::string(25, '9')));
  ASSERT_TRUE(t->Go(6));
  EXPECT_EQ(t->FieldText(0), full);
  std::string rec = t->BlankRecord();
  EXPECT_THROW(t->SetFieldText(rec, 0, full + "y"), DbError);

  // Seek: exact and partial keys in the current order.
  EXPECT_TRUE(t->Seek("Smith"));
  EXPECT_EQ(t->RecNo(), 1u);
  EXPECT_TRUE(t->Seek("Br"));
  EXPECT_EQ(t->RecNo(), 3u);
  EXPECT_FALSE(t->Seek("Nobody"));
  EXPECT_TRUE(t->Eof());
}

TEST(TableChanges, TagsWithExpressionsDescendingAndUnique) {
  TempDir dir;
  const std::string path = dir / "T.DBF";
  Table::Create(path, PhoneFields(), FixedDate());
  auto t = Table::Open(path, FixedDate());
  for (const char* n : {"bob", "Alice", "carol", "BOB"}) t->Append(PhoneRecord(*t, n, n));
  t->IndexTag({"UNAME", "UPPER(NAME)", "", false, false});
  t->IndexTag({"DESC", "NAME", "", true, false});
  t->IndexTag({"UNIQ", "UPPER(TRIM(NAME))", "", false, true});
  t->IndexTag({"SHORT", "SUBSTR(NAME,1,1)+PHONE", "NAME # 'c'", false, false});
  t->SetOrder(t->TagOrder("UNAME"));
  EXPECT_EQ(Walk(*t), (Listing{{2, "Alice"}, {1, "bob"}, {4, "BOB"}, {3, "carol"}}));
  t->SetOrder(t->TagOrder("DESC"));
  EXPECT_EQ(Walk(*t), (Listing{{3, "carol"}, {1, "bob"}, {4, "BOB"}, {2, "Alice"}}));
  t->SetOrder(t->TagOrder("UNIQ"));
  EXPECT_EQ(Walk(*t), (Listing{{2, "Alice"}, {1, "bob"}, {3, "carol"}}));
  t->SetOrder(t->TagOrder("SHORT"));
  EXPECT_EQ(Walk(*t), (Listing{{2, "Alice"}, {4, "BOB"}, {1, "bob"}}));
  t->Update(3, PhoneRecord(*t, "Aaron", "x"));
  t->Delete(2);  // no FOR on deletion here: deleted records keep their keys
  EXPECT_EQ(Walk(*t), (Listing{{2, "Alice"}, {3, "Aaron"}, {4, "BOB"}, {1, "bob"}}));
  EXPECT_TRUE(t->CheckIndex().empty());
  EXPECT_THROW(t->IndexTag({"BAD", "NAME + 1", "", false, false}), DbError);
  EXPECT_THROW(t->IndexTag({"BAD", "NAME", "NAME", false, false}), DbError);
  EXPECT_THROW(t->IndexTag({"TOO LONG NAME", "NAME", "", false, false}), DbError);
  EXPECT_THROW(t->SetOrder(9), DbError);
  EXPECT_THROW(t->SetFilter("NAME"), DbError);
}

TEST(TableNavigation, BeginningAndEndBehaveAsInXbase) {
  TempDir dir;
  MakePhoneTable(dir / "P.DBF", FixedDate());
  auto t = Table::Open(dir / "P.DBF", FixedDate());
  PhoneView(*t);
  EXPECT_FALSE(t->GoTop());
  EXPECT_TRUE(t->Bof());
  EXPECT_TRUE(t->Eof());
  EXPECT_EQ(t->RecNo(), 1u);  // the phantom record after the last
  EXPECT_EQ(t->Record(), t->BlankRecord());
  t->Append(PhoneRecord(*t, "B", "1"));
  t->Append(PhoneRecord(*t, "A", "2"));
  t->Append(PhoneRecord(*t, "C", "3", true));
  ASSERT_TRUE(t->GoTop());
  EXPECT_EQ(t->RecNo(), 2u);
  EXPECT_FALSE(t->Skip(-1));  // before the first: stays on it, marked
  EXPECT_TRUE(t->Bof());
  EXPECT_EQ(t->RecNo(), 2u);
  EXPECT_TRUE(t->Skip(1));
  EXPECT_EQ(t->RecNo(), 1u);
  EXPECT_FALSE(t->Skip(1));  // the deleted record is not visited
  EXPECT_TRUE(t->Eof());
  EXPECT_EQ(t->RecNo(), 4u);
  EXPECT_TRUE(t->Skip(-1));  // back from the end to the last
  EXPECT_EQ(t->RecNo(), 1u);
  EXPECT_TRUE(t->Go(3));  // Go reaches any record, filter or not
  EXPECT_TRUE(t->Deleted());
  EXPECT_TRUE(t->Skip(-1));  // and walks on from where its key would stand
  EXPECT_EQ(t->RecNo(), 1u);
  EXPECT_FALSE(t->Go(9));
  EXPECT_TRUE(t->Eof());
  t->SetOrder(0);
  EXPECT_EQ(Walk(*t), (Listing{{1, "B"}, {2, "A"}}));
  t->SetFilter("");
  EXPECT_EQ(Walk(*t), (Listing{{1, "B"}, {2, "A"}, {3, "C"}}));
}

// A damaged index whose tags can still be read is copied aside and rebuilt in place;
// one whose tag directory is gone is moved aside and the table opens without it.
// Without the durable option changes wait in the system's buffers until Flush, which
// puts the table and its index on the device at once.
TEST(TableFiles, ChangesMadeWithoutTheDurableOptionReachTheDeviceAtFlush) {
  MemoryFileSystem mem;
  PowerCutFileSystem fs(mem);
  MakePhoneTable("VZPB.DBF", FixedDate(ShareMode::kShared, &fs));
  auto t = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &fs));
  t->Flush();
  const int flushes = fs.Flushes();
  for (const char* n : {"Kim", "Al", "Bo"}) t->Append(PhoneRecord(*t, n, "1"));
  EXPECT_EQ(fs.Flushes(), flushes);
  EXPECT_EQ(fs.Survivor("VZPB.DBF").substr(4, 4), std::string(4, '\0'));
  t->Flush();
  MemoryFileSystem after;
  after.Bytes("VZPB.DBF") = fs.Survivor("VZPB.DBF");
  after.Bytes("VZPB.CDX") = fs.Survivor("VZPB.CDX");
  auto survivor = Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &after));
  PhoneView(*survivor);
  EXPECT_EQ(Walk(*survivor), (Listing{{2, "Al"}, {3, "Bo"}, {1, "Kim"}}));
  EXPECT_TRUE(survivor->CheckIndex().empty());
}

// Durable changes of a shared phone book: appends spread over the tag (leaves split),
// some appended deleted (no key), then a change of name and a deletion. `visible` holds
// the visible names after each step.
struct DurableSteps {
  std::vector<std::multiset<std::string>> visible{{}};
  std::vector<int> returnedAfterFlush;  // flushes made when each step returned
};

DurableSteps RunDurableSteps(PowerCutFileSystem& fs) {
  TableOptions o = FixedDate(ShareMode::kShared, &fs);
  o.durable = true;
  auto t = Table::Open("VZPB.DBF", o);
  DurableSteps run;
  auto step = [&](const std::function<void(std::multiset<std::string>&)>& change) {
    std::multiset<std::string> names = run.visible.back();
    change(names);
    run.visible.push_back(names);
    run.returnedAfterFlush.push_back(fs.Flushes());
  };
  for (int i = 0; i < 150; ++i) {
    const std::string name = "N" + std::to_string(1000 + (i * 37) % 150);
    step([&](auto& names) {
      t->Append(PhoneRecord(*t, name, "1", i % 7 == 3));
      if (i % 7 != 3) names.insert(name);
    });
  }
  step([&](auto& names) {
    t->Update(1, PhoneRecord(*t, "Renamed", "2"));
    names.erase(names.find("N1000"));
    names.insert("Renamed");
  });
  step([&](auto& names) {
    t->Delete(2);
    names.erase(names.find("N1037"));
  });
  return run;
}

std::multiset<std::string> VisibleNames(Table& t) {
  std::multiset<std::string> names;
  t.SetFilter(".not. deleted()");
  if (t.HasIndex()) t.SetOrder(NameOrder(t));
  for (bool ok = t.GoTop(); ok; ok = t.Skip(1)) names.insert(Trimmed(t.FieldText(0)));
  return names;
}

// A power cut after any flush of durable changes leaves every change that returned
// (and the one under way at most besides) and every counted record whole, whether a
// reader or a writer opens the files after.
TEST(TableFiles, APowerCutDuringDurableChangesKeepsEveryChangeThatReturned) {
  MemoryFileSystem mem;
  PowerCutFileSystem fs(mem);
  MakePhoneTable("VZPB.DBF", FixedDate(ShareMode::kShared, &fs));
  Table::Open("VZPB.DBF", FixedDate(ShareMode::kShared, &fs))->Flush();
  const int start = fs.Flushes();
  const DurableSteps run = RunDurableSteps(fs);
  ASSERT_EQ(fs.Cuts().size(), static_cast<std::size_t>(fs.Flushes()));
  for (int cut = start; cut <= fs.Flushes(); ++cut) {
    SCOPED_TRACE(testing::Message() << "power cut after flush " << cut);
    std::size_t returned = 0;
    while (returned < run.returnedAfterFlush.size() && run.returnedAfterFlush[returned] <= cut) ++returned;
    for (const ShareMode mode : {ShareMode::kReadOnly, ShareMode::kShared}) {
      MemoryFileSystem after;
      for (const auto& [path, bytes] : fs.Cuts()[static_cast<std::size_t>(cut) - 1]) after.Bytes(path) = bytes;
      auto t = Table::Open("VZPB.DBF", FixedDate(mode, &after));
      const auto names = VisibleNames(*t);
      const bool inFlight = returned + 1 < run.visible.size() && names == run.visible[returned + 1];
      EXPECT_TRUE(names == run.visible[returned] || inFlight) << returned << " steps returned";
      for (std::uint32_t r = 1; r <= t->RecordCount(); ++r) {
        ASSERT_TRUE(t->Go(r));
        EXPECT_TRUE(t->Record()[0] == ' ' || t->Record()[0] == '*') << "record " << r;
      }
      // A writer finds the index agreeing with the records, or one cut in the middle of
      // an update of several pages found out and moved aside (to be built again).
      if (mode == ShareMode::kShared && t->HasIndex()) {
        const auto problems = t->CheckIndex();
        EXPECT_TRUE(problems.empty()) << problems.front();
      } else if (mode == ShareMode::kShared) {
        EXPECT_TRUE(after.Exists("VZPB.CDX.BAD"));
        EXPECT_EQ(t->DamageReason(), "index damaged: an update was interrupted");
      }
    }
  }
}

TEST(TableDamage, DamagedIndexIsRebuiltInPlaceOrMovedAside) {
  struct Case {
    const char* what;
    bool tagsReadable;
    std::function<void(std::string&)> damage;
  } cases[] = {
      {"tag root not page aligned", true,
       [](std::string& c) { PutLE32(reinterpret_cast<unsigned char*>(c.data()) + 0x600, 0xA01); }},
      {"cut short", false, [](std::string& c) { c.resize(700); }},
      {"all 0xFF", false, [](std::string& c) { c.assign(c.size(), '\xff'); }},
      {"empty", false, [](std::string& c) { c.clear(); }},
      {"leaf key count wrong", true, [](std::string& c) { c[0xA00 + 2] = 99; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = CopyGolden("small", dir);
    std::string cdx = ReadAll(dir / "VZPB.cdx");
    c.damage(cdx);
    WriteAll(dir / "VZPB.cdx", cdx);
    auto t = Table::Open(path, FixedDate());
    EXPECT_NE(t->DamageReason(), "");
    EXPECT_EQ(t->DamagedIndexPath(), dir / "VZPB.cdx.BAD");
    EXPECT_EQ(ReadAll(dir / "VZPB.cdx.BAD"), cdx);
    EXPECT_EQ(t->HasIndex(), c.tagsReadable);
    EXPECT_EQ(HostFileExists(dir / "VZPB.cdx"), c.tagsReadable);
    EXPECT_EQ(t->TagOrder("NAME"), c.tagsReadable ? 1 : 0);
    t->SetFilter(".not. deleted()");
    EXPECT_EQ(Walk(*t).size(), 7u);
    // Building the tag again mends it; a writer keeps it up to date from then on.
    t->IndexTag({"NAME", "NAME", ".not. deleted()", false, false});
    t->Append(PhoneRecord(*t, "Baker", "5"));
    EXPECT_EQ(Walk(*t).front(), (std::pair<std::uint32_t, std::string>{7, "Adams, Ann"}));
    EXPECT_EQ(t->CountVisible(), 8u);
    EXPECT_TRUE(t->CheckIndex().empty());
  }
}

TEST(TableDamage, AnIndexThatDisagreesWithTheRecordsIsRebuilt) {
  TempDir dir;
  const std::string path = CopyGolden("small", dir);
  // Rename a record behind the index's back: structure sound, content stale.
  std::string dbf = ReadAll(path);
  dbf.replace(98 + 1, 5, "Xaver");
  WriteAll(path, dbf);
  const std::string stale = ReadAll(dir / "VZPB.cdx");
  auto t = Table::Open(path, FixedDate(ShareMode::kExclusive));
  EXPECT_NE(t->DamageReason().find("disagrees"), std::string::npos) << t->DamageReason();
  EXPECT_EQ(ReadAll(dir / "VZPB.cdx.BAD"), stale);
  EXPECT_TRUE(t->HasIndex());
  EXPECT_TRUE(t->CheckIndex().empty());
}

// An opener that shows the table first leaves the check to later: the open neither
// checks nor mends, the later call finds the stale index and mends it as an open
// would, once; a sound index is left as it is.
TEST(TableDamage, ADeferredCheckFindsAndMendsTheIndexOnlyWhenAsked) {
  TempDir dir;
  const std::string path = CopyGolden("small", dir);
  TableOptions o = FixedDate();
  o.deferIndexCheck = true;
  {
    auto sound = Table::Open(path, o);
    EXPECT_FALSE(sound->CheckIndexAsOnOpen());
    EXPECT_EQ(sound->DamageReason(), "");
  }
  EXPECT_FALSE(HostFileExists(dir / "VZPB.cdx.BAD"));
  std::string dbf = ReadAll(path);
  dbf.replace(98 + 1, 5, "Xaver");
  WriteAll(path, dbf);
  const std::string stale = ReadAll(dir / "VZPB.cdx");
  auto t = Table::Open(path, o);
  EXPECT_EQ(t->DamageReason(), "");
  EXPECT_FALSE(HostFileExists(dir / "VZPB.cdx.BAD"));
  EXPECT_FALSE(t->CheckIndex().empty());
  EXPECT_TRUE(t->CheckIndexAsOnOpen());
  EXPECT_NE(t->DamageReason().find("disagrees"), std::string::npos) << t->DamageReason();
  EXPECT_EQ(ReadAll(dir / "VZPB.cdx.BAD"), stale);
  EXPECT_TRUE(t->CheckIndex().empty());
  EXPECT_FALSE(t->CheckIndexAsOnOpen());
  // Without the option the open checks as before, and there is nothing left to do.
  WriteAll(dir / "VZPB.cdx", stale);
  auto now = Table::Open(path, FixedDate());
  EXPECT_NE(now->DamageReason().find("disagrees"), std::string::npos) << now->DamageReason();
  EXPECT_FALSE(now->CheckIndexAsOnOpen());
}

// A walk in tag order that meets damage stops with an error naming the index; what
// it showed before is in order, once each, and live. A writable opener mends the index
// on the way, so the next walk shows everything.
TEST(TableDamage, AWalkThatMeetsDamageStopsAndSaysSo) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  MakeLargePhoneTable(path, 6000);
  const std::string good = ReadAll(dir / "VZPB.CDX");
  const auto leaves = InnerLeafPages(good);
  ASSERT_GT(leaves.size(), 20u);
  const std::size_t mid = leaves.size() / 2;
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
  } cases[] = {
      {"cut in half", [&](std::string& c) { c.resize(leaves[mid]); }},
      {"pages overwritten", [&](std::string& c) {
         for (std::size_t i = 0; i < 4; ++i) c.replace(leaves[mid + i], 512, std::string(512, '\x5a'));
       }},
      {"a page overwritten by a later one", [&](std::string& c) {
         c.replace(leaves[mid - 3], 512, good.substr(leaves[mid + 3], 512));
       }},
      {"a page overwritten by an earlier one", [&](std::string& c) {
         c.replace(leaves[mid + 3], 512, good.substr(leaves[mid - 3], 512));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string cdx = good;
    c.damage(cdx);
    for (ShareMode mode : {ShareMode::kReadOnly, ShareMode::kShared}) {
      WriteAll(dir / "VZPB.CDX", cdx);
      TableOptions o = FixedDate(mode);
      o.checkIndexOnOpenBytes = 0;  // as for a large index: found only on the way
      auto t = Table::Open(path, o);
      t->SetOrder(NameOrder(*t));
      std::vector<std::pair<std::string, std::uint32_t>> seen;
      try {
        for (bool ok = t->GoTop(); ok; ok = t->Skip(1)) {
          EXPECT_FALSE(t->Deleted()) << t->RecNo();
          seen.emplace_back(t->FieldText(0), t->RecNo());
        }
        ADD_FAILURE() << "the walk ended without a word after " << seen.size() << " records";
      } catch (const DbError& e) {
        EXPECT_NE(std::string(e.what()).find("the index " + (dir / "VZPB.CDX") + " is damaged"), std::string::npos)
            << e.what();
      }
      EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
      EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
      EXPECT_LT(seen.size(), 5400u);
      if (mode == ShareMode::kReadOnly) {
        auto grid = Table::Open(path, o);
        grid->SetOrder(NameOrder(*grid));
        EXPECT_THROW(grid->OrderRecNos(), DbError);
      }
      if (mode == ShareMode::kShared) {
        EXPECT_EQ(Walk(*t).size(), 5400u);
        EXPECT_TRUE(t->CheckIndex().empty());
      }
    }
  }
}

TEST(TableDamage, DamagedTablesAreRefusedAndNeverWritten) {
  const std::string golden = ReadAll(XbaseFixture("small/VZPB.dbf"));
  std::vector<std::string> bad;
  for (std::size_t cut : {0, 1, 31, 32, 60, 97, 150, 707}) bad.push_back(golden.substr(0, cut));
  std::string overCount = golden;
  PutLE32(reinterpret_cast<unsigned char*>(overCount.data()) + 4, 11);
  bad.push_back(overCount);
  std::string badLength = golden;
  PutLE16(reinterpret_cast<unsigned char*>(badLength.data()) + 10, 5);
  bad.push_back(badLength);
  for (const auto& bytes : bad) {
    TempDir dir;
    WriteAll(dir / "VZPB.DBF", bytes);
    EXPECT_THROW(Table::Open(dir / "VZPB.DBF", FixedDate()), DbfDamaged) << bytes.size();
    EXPECT_EQ(ReadAll(dir / "VZPB.DBF"), bytes);
  }
  // Without its end marker the table is sound; the next append writes a new one.
  TempDir dir;
  WriteAll(dir / "VZPB.DBF", golden.substr(0, 708));
  auto t = Table::Open(dir / "VZPB.DBF", FixedDate());
  t->Append(PhoneRecord(*t, "New", "1"));
  EXPECT_EQ(ReadAll(dir / "VZPB.DBF").size(), 709u + 61);
}

TEST(TableDamage, ATableDamagedWhileOpenIsNotWritten) {
  TempDir dir;
  const std::string path = CopyGolden("small", dir);
  auto t = Table::Open(path, FixedDate());
  std::string dbf = ReadAll(path);
  PutLE32(reinterpret_cast<unsigned char*>(dbf.data()) + 4, 500);  // someone else broke the count
  WriteAll(path, dbf);
  EXPECT_THROW(t->Append(PhoneRecord(*t, "X", "1")), DbfDamaged);
  EXPECT_THROW(t->Delete(1), DbfDamaged);
  EXPECT_EQ(ReadAll(path), dbf);
}

TEST(TableReadOnly, ReadOnlyAndForeignTablesAreNotWritten) {
  TempDir dir;
  const std::string path = CopyGolden("small", dir);
  auto t = Table::Open(path, FixedDate(ShareMode::kReadOnly));
  EXPECT_THROW(t->Append(t->BlankRecord()), DbError);
  EXPECT_THROW(t->IndexTag({"X", "NAME", "", false, false}), DbError);
  std::string memo = ReadAll(path);
  memo[0] = static_cast<char>(0xF5);
  WriteAll(path, memo);
  auto m = Table::Open(path, FixedDate());
  EXPECT_FALSE(m->Writable());
  EXPECT_THROW(m->Delete(1), DbError);
  EXPECT_EQ(ReadAll(path), memo);
}

TEST(TableFilter, CountingThroughTheTagReadsNoRecords) {
  TempDir dir;
  const std::string path = CopyGolden("n2000", dir);
  auto t = Table::Open(path, FixedDate());
  t->SetFilter(".NOT.DELETED()");  // another spelling of the tag's condition
  // Mark every record deleted behind the engine's back: a count that read the
  // records would now be 0; the tag's count is still the tag's.
  std::string dbf = ReadAll(path);
  for (std::uint32_t r = 0; r < 2050; ++r) dbf[98 + r * 61] = '*';
  WriteAll(path, dbf);
  EXPECT_EQ(t->CountVisible(), 1756u);
  t->SetFilter("NAME >= ' '");  // no tag has this condition: records are read
  EXPECT_EQ(t->CountVisible(), 2050u);
  t->SetFilter(".not. deleted() .and. NAME >= ' '");
  EXPECT_EQ(t->CountVisible(), 0u);
}

}  // namespace
}  // namespace vz::db
