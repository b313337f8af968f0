// The phone book table operations and the adapter, over real files in a temporary
// program directory, with a fake for the program around them.
#include <gtest/gtest.h>

#include "dbengine/dbe.hpp"
#include "phonebook/phonetable.hpp"
#include "tests/native/dbengine/testutil.hpp"

namespace vz::phonebook {
namespace {

using db::test::ReadAll;
using db::test::RunCommand;
using db::test::TempDir;
using db::test::WriteAll;

class FakeUi : public PhoneBookUi {
 public:
  explicit FakeUi(std::string programPath) : path_(std::move(programPath)) {}
  std::string ProgramPath() override { return path_; }
  void ShowInfo(const std::string& text) override { infos.push_back(text); }
  void Terminate() override { ++terminated; }
  std::vector<std::string> infos;
  int terminated = 0;

 private:
  std::string path_;
};

// One browser's components: the table with its two fields, the data source and
// the adapter bound to it.
struct Browser {
  data::TTable table;
  data::TDataSource source;
  TDataEngine engine;
  Browser() {
    AddPhoneFields(table);
    source.SetDataSet(&table);
    engine.SetDataSource(&source);
  }
  void Add(const std::string& name, const std::string& phone) {
    table.Append();
    table.FieldByName("NAME").SetAsString(name);
    table.FieldByName("PHONE").SetAsString(phone);
    table.Post();
  }
  std::vector<std::string> Names() {
    std::vector<std::string> out;
    for (const auto& row : table.PeekRows(1000)) out.push_back(row[0]);
    return out;
  }
};

class PhoneBookTest : public ::testing::Test {
 protected:
  void TearDown() override {
    dbe_CloseAll();
    data::SetEngineVersionQuery(nullptr);
    data::SetDatabaseErrorBox(nullptr);
  }
  std::string Dbf() const { return dir_ / "VZPB.DBF"; }
  std::string Cdx() const { return dir_ / "VZPB.CDX"; }

  TempDir dir_;
  FakeUi ui_{dir_.Path().string() + "\\VZNTCTL.EXE"};
};

TEST(ProgramDir, CutsAfterTheLastBackslashOrColon) {
  FakeUi a("C:\\VZ\\VZNTCTL.EXE");
  EXPECT_EQ(ProgramDir(a), "C:\\VZ\\");
  FakeUi b("C:VZNTCTL.EXE");
  EXPECT_EQ(ProgramDir(b), "C:\\");
  FakeUi c("\\\\srv\\share\\dir\\x.exe");
  EXPECT_EQ(ProgramDir(c), "\\\\srv\\share\\dir\\");
}

TEST_F(PhoneBookTest, ANewPhoneBookIsCreatedIndexedAndEmpty) {
  Browser b;
  ASSERT_TRUE(OpenPhoneDBF(b.table, b.engine, ui_));
  EXPECT_TRUE(b.table.Active());
  EXPECT_EQ(b.table.DatabaseName(), ProgramDir(ui_));
  EXPECT_EQ(b.table.TableName(), "VZPB.DBF");
  EXPECT_FALSE(b.table.Exclusive());
  EXPECT_EQ(b.table.IndexName(), "NAME");
  EXPECT_EQ(b.engine.Filter(), ".not. deleted()");
  EXPECT_EQ(b.engine.QueryRecCount(), 0);
  EXPECT_TRUE(db::HostFileExists(Cdx()));
  // Exactly the two fields, as an independent reader sees them.
  const std::string bytes = ReadAll(Dbf());
  const db::DbfHeader h = db::ParseDbfHeader(bytes, bytes.size(), "VZPB.DBF");
  ASSERT_EQ(h.fields.size(), 2u);
  EXPECT_EQ(h.fields[0].name, "NAME");
  EXPECT_EQ(h.fields[0].width, 35);
  EXPECT_EQ(h.fields[1].name, "PHONE");
  EXPECT_EQ(h.fields[1].width, 25);
  EXPECT_EQ(h.flags, db::kDbfFlagStructuralCdx);
  int status = 0;
  const std::string info = RunCommand("dbf_dump --info '" + Dbf() + "' 2>&1", &status);
  ASSERT_EQ(status, 0) << "the Perl DBF tools (libdbd-xbase-perl) are missing: scripts/setup installs them";
  EXPECT_NE(info.find("NAME"), std::string::npos) << info;
  EXPECT_NE(info.find("PHONE"), std::string::npos) << info;
}

TEST_F(PhoneBookTest, EntriesShowInNameOrderAndDeletedOnesNeverShow) {
  Browser b;
  ASSERT_TRUE(OpenPhoneDBF(b.table, b.engine, ui_));
  b.Add("Smith", "+1 555");
  b.Add("adams", "+2");
  b.Add("Smith", "+3");  // the same name twice: both stored, both shown
  b.Add(std::string(35, 'Z'), std::string(25, '9'));
  b.Add("", "");  // a blank entry is allowed
  b.table.First();
  EXPECT_EQ(b.Names(), (std::vector<std::string>{"", "Smith", "Smith", std::string(35, 'Z'), "adams"}));
  EXPECT_EQ(b.engine.QueryRecCount(), 5);
  const auto sizeBefore = ReadAll(Dbf()).size();
  b.table.First();
  b.table.Next();
  ASSERT_EQ(b.table.FieldByName("NAME").AsString(), "Smith");
  b.table.Delete();
  b.table.Refresh();
  EXPECT_EQ(b.engine.QueryRecCount(), 4);
  b.table.First();
  EXPECT_EQ(b.Names(), (std::vector<std::string>{"", "Smith", std::string(35, 'Z'), "adams"}));
  EXPECT_EQ(ReadAll(Dbf()).size(), sizeBefore);  // a mark only

  // Edit then post changes the current entry in place.
  b.table.Last();
  b.table.Edit();
  b.table.FieldByName("NAME").SetAsString("Brown");
  b.table.Post();
  b.table.First();
  EXPECT_EQ(b.Names(), (std::vector<std::string>{"", "Brown", "Smith", std::string(35, 'Z')}));

  // The independent readers agree: four live records of five, four keys in the tag.
  int status = 0;
  const std::string dump = RunCommand("dbf_dump '" + Dbf() + "' 2>&1 | wc -l", &status);
  ASSERT_EQ(status, 0) << "the Perl DBF tools (libdbd-xbase-perl) are missing: scripts/setup installs them";
  EXPECT_EQ(std::stoi(dump), 4) << "dbf_dump leaves out records marked deleted";
  const std::string py = RunCommand("/usr/bin/python3 -c \"import dbfread; t = dbfread.DBF('" + Dbf() +
                                        "'); print(len(t), len(t.deleted))\" 2>&1", &status);
  ASSERT_EQ(status, 0) << "python3-dbfread is missing: scripts/setup installs it";
  EXPECT_EQ(py, "4 1\n");
  const std::string keys = RunCommand("index_dump --type=char '" + Cdx() + "' NAME 2>&1", &status);
  ASSERT_EQ(status, 0) << "the Perl DBF tools (libdbd-xbase-perl) are missing: scripts/setup installs them";
  EXPECT_EQ(keys, " 5\nBrown 2\nSmith 3\n" + std::string(35, 'Z') + " 4\n");
}

TEST_F(PhoneBookTest, AMissingIndexIsRebuiltWithoutDeletedEntries) {
  {
    Browser b;
    ASSERT_TRUE(OpenPhoneDBF(b.table, b.engine, ui_));
    b.Add("Keep", "1");
    b.Add("Gone", "2");
    b.table.Last();
    ASSERT_EQ(b.table.FieldByName("NAME").AsString(), "Keep");
    b.table.First();
    b.table.Delete();
  }
  std::filesystem::remove(Cdx());
  Browser b;
  ASSERT_TRUE(OpenPhoneDBF(b.table, b.engine, ui_));
  EXPECT_TRUE(db::HostFileExists(Cdx()));
  EXPECT_EQ(b.engine.QueryRecCount(), 1);
  EXPECT_EQ(b.Names(), std::vector<std::string>{"Keep"});
}

// An index left without tags (another program's rebuild cut short) gives the phone
// book its order back: tag NAME is built again on open.
TEST_F(PhoneBookTest, AnIndexThatLostItsTagsGetsTagNameBackOnOpen) {
  {
    Browser b;
    ASSERT_TRUE(OpenPhoneDBF(b.table, b.engine, ui_));
    b.Add("Zoe", "1");
    b.Add("Al", "2");
  }
  dbe_CloseAll();
  db::CdxOptions o;
  o.shared = false;
  db::CdxIndex::Create(db::OpenHostFile(Cdx(), db::OpenMode::kReadWrite), o);
  Browser b;
  ASSERT_TRUE(OpenPhoneDBF(b.table, b.engine, ui_));
  EXPECT_GT(b.engine.TagArea("NAME"), 0);
  EXPECT_EQ(b.Names(), (std::vector<std::string>{"Al", "Zoe"}));
  EXPECT_TRUE(b.table.FindNearestCaseless("zo"));
  EXPECT_EQ(b.table.FieldByName("NAME").AsString(), "Zoe");
}

TEST_F(PhoneBookTest, OpeningAnExistingPhoneBookRewritesNeitherFile) {
  {
    Browser b;
    ASSERT_TRUE(OpenPhoneDBF(b.table, b.engine, ui_));
    b.Add("A", "1");
  }
  const std::string dbf = ReadAll(Dbf()), cdx = ReadAll(Cdx());
  Browser b;
  ASSERT_TRUE(OpenPhoneDBF(b.table, b.engine, ui_));
  EXPECT_EQ(b.Names(), std::vector<std::string>{"A"});
  b.table.Close();
  EXPECT_EQ(ReadAll(Dbf()), dbf);
  EXPECT_EQ(ReadAll(Cdx()), cdx);
}

// A posted entry is on the device when the post returns: a power cut right after it
// leaves files that hold the entry, in the index too.
TEST_F(PhoneBookTest, APostedEntrySurvivesAPowerCut) {
  db::test::PowerCutFileSystem fs(db::HostFileSystem());
  dbe_SetFileSystem(&fs);
  Browser b;
  ASSERT_TRUE(OpenPhoneDBF(b.table, b.engine, ui_));
  b.Add("Kim", "1");
  b.Add("Al", "2");
  TempDir after;
  WriteAll(after / "VZPB.DBF", fs.Survivor(ProgramDir(ui_) + "VZPB.DBF"));
  WriteAll(after / "VZPB.CDX", fs.Survivor(ProgramDir(ui_) + "VZPB.CDX"));
  dbe_SetFileSystem(nullptr);
  db::TableOptions o;
  o.mode = db::ShareMode::kReadOnly;
  auto t = db::Table::Open(after / "VZPB.DBF", o);
  EXPECT_EQ(t->DamageReason(), "");
  t->SetOrder(t->TagOrder("NAME"));
  std::vector<std::string> names;
  for (bool ok = t->GoTop(); ok; ok = t->Skip(1)) names.push_back(db::test::Trimmed(t->FieldText(0)));
  EXPECT_EQ(names, (std::vector<std::string>{"Al", "Kim"}));
  EXPECT_TRUE(t->CheckIndex().empty());
}

// Browsing that meets a damaged index stops with the engine's error naming it; the
// index is mended where it lies, so the next look shows every entry in order.
TEST_F(PhoneBookTest, BrowsingThatMeetsDamageStopsAndTheNextLookIsWhole) {
  Browser b;
  ASSERT_TRUE(OpenPhoneDBF(b.table, b.engine, ui_));
  for (const char* n : {"Cy", "Al", "Bo"}) b.Add(n, "1");
  std::string cdx = ReadAll(Cdx());
  cdx.replace(496, 4, "PUZV");  // another program's update of several pages broke off
  WriteAll(Cdx(), cdx);
  try {
    b.table.First();
    ADD_FAILURE() << "browsed a damaged index without a word";
  } catch (const data::EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), "Database Error : 7");
    EXPECT_NE(e.Detail().find("VZPB.CDX is damaged"), std::string::npos) << e.Detail();
  }
  b.table.First();
  EXPECT_EQ(b.Names(), (std::vector<std::string>{"Al", "Bo", "Cy"}));
  EXPECT_EQ(ReadAll(Cdx() + ".BAD"), cdx);
}

TEST_F(PhoneBookTest, ADamagedIndexIsKeptAsideAndRebuilt) {
  {
    Browser b;
    ASSERT_TRUE(OpenPhoneDBF(b.table, b.engine, ui_));
    for (const char* n : {"Cy", "Al", "Bo"}) b.Add(n, "1");
  }
  std::string cdx = ReadAll(Cdx());
  cdx.replace(0x400, 64, std::string(64, '\xee'));
  WriteAll(Cdx(), cdx);
  Browser b;
  ASSERT_TRUE(OpenPhoneDBF(b.table, b.engine, ui_));
  EXPECT_EQ(ReadAll(Cdx() + ".BAD"), cdx);
  EXPECT_EQ(b.Names(), (std::vector<std::string>{"Al", "Bo", "Cy"}));
  EXPECT_EQ(b.table.IndexName(), "NAME");
}

TEST_F(PhoneBookTest, ADamagedTableIsRefusedAndLeftAlone) {
  WriteAll(Dbf(), std::string("\x03\x7e\x0c\x07\xff\xff\x00\x00", 8) + std::string(100, '\0'));
  const std::string before = ReadAll(Dbf());
  Browser b;
  EXPECT_FALSE(OpenPhoneDBF(b.table, b.engine, ui_));
  EXPECT_FALSE(OpenPhoneBookOrQuit(b.table, b.engine, ui_));
  EXPECT_EQ(ui_.infos, std::vector<std::string>{"Unable to open or create VZPB.DBF"});
  EXPECT_EQ(ui_.terminated, 1);
  EXPECT_EQ(ReadAll(Dbf()), before);
  EXPECT_FALSE(db::HostFileExists(Cdx()));
}

TEST_F(PhoneBookTest, AProgramDirectoryThatCannotHoldTheTableFails) {
  FakeUi nowhere(dir_.Path().string() + "/missing\\VZNTCTL.EXE");
  Browser b;
  EXPECT_FALSE(MakePhoneDBF(b.engine, nowhere));
  EXPECT_FALSE(OpenPhoneDBF(b.table, b.engine, nowhere));
  EXPECT_FALSE(b.table.Active());
}

TEST_F(PhoneBookTest, MakePhoneDbfWritesTheEmptyTableAndLeavesItClosed) {
  Browser b;
  ASSERT_TRUE(MakePhoneDBF(b.engine, ui_));
  const std::string bytes = ReadAll(Dbf());
  const std::string golden = ReadAll(vz::test::XbaseFixture("small/VZPB.dbf"));
  ASSERT_EQ(bytes.size(), 99u);
  EXPECT_EQ(bytes.substr(4, 24), std::string(4, '\0') + golden.substr(8, 20));  // count 0, lengths
  EXPECT_EQ(bytes.substr(29, 69), golden.substr(29, 69));                       // fields and terminator
  EXPECT_EQ(bytes.back(), '\x1a');
  EXPECT_EQ(dbe_Area(), 0);
  EXPECT_FALSE(db::HostFileExists(Cdx()));  // the index comes with the first open
  // Once more, over the existing file: a new empty table.
  EXPECT_TRUE(MakePhoneDBF(b.engine, ui_));
}

TEST_F(PhoneBookTest, AnEngineWithoutVersionCannotMakeOrOpenThePhoneBook) {
  std::vector<std::string> boxes;
  data::SetDatabaseErrorBox([&](const std::string& text) { boxes.push_back(text); });
  data::SetEngineVersionQuery(+[]() -> const char* { return ""; });
  Browser b;
  EXPECT_FALSE(OpenPhoneDBF(b.table, b.engine, ui_));
  EXPECT_FALSE(db::HostFileExists(Dbf()));
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes[0], "The table engine requires engine version 2.40.00 or later.");
}

TEST_F(PhoneBookTest, TwoBrowsersShareThePhoneBook) {
  Browser one, two;
  ASSERT_TRUE(OpenPhoneDBF(one.table, one.engine, ui_));
  ASSERT_TRUE(OpenPhoneDBF(two.table, two.engine, ui_));
  int previous = dbe_Select(one.table.WorkArea());
  EXPECT_STREQ(dbe_Alias(), "VZPB");
  dbe_Select(two.table.WorkArea());
  EXPECT_STREQ(dbe_Alias(), "VZPB_1");
  dbe_Select(previous);
  one.Add("From one", "1");
  EXPECT_EQ(two.engine.QueryRecCount(), 1);  // counts include others' posts
  two.table.Refresh();
  EXPECT_EQ(two.Names(), std::vector<std::string>{"From one"});
  two.table.Delete();
  one.table.Refresh();
  EXPECT_EQ(one.engine.QueryRecCount(), 0);
  EXPECT_TRUE(one.Names().empty());
}

// Form members go in reverse order of declaration: here the adapter outlives the
// data source it was bound to.
TEST_F(PhoneBookTest, TheAdapterMayOutliveItsDataSource) {
  data::TTable table;
  TDataEngine engine;
  {
    data::TDataSource source;
    AddPhoneFields(table);
    source.SetDataSet(&table);
    engine.SetDataSource(&source);
    ASSERT_TRUE(OpenPhoneDBF(table, engine, ui_));
  }
  EXPECT_EQ(engine.DataSource(), nullptr);
  EXPECT_THROW(engine.QueryRecCount(), data::EDatabaseError);
}

}  // namespace
}  // namespace vz::phonebook
