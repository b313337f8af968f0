// The dbe_ call surface and the data layer over it.
#include <gtest/gtest.h>

#include "common/bytes.hpp"
#include "dbengine/dataset.hpp"
#include "dbengine/dbe.hpp"
#include "tests/native/dbengine/testutil.hpp"

namespace vz::db {
namespace {

using namespace test;

class DbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "VZPB.DBF";
    dbe_SetStringType(1);
  }
  void TearDown() override { dbe_CloseAll(); }

  // Creates the phone table through the call surface and returns 1 on success.
  int CreatePhoneTable() {
    if (!dbe_CreateNew(path_.c_str(), "XXXXXXXXXX", 2, 2)) return 0;
    dbe_CreateField("NAME", "C", 35, 0);
    dbe_CreateField("PHONE", "C", 25, 0);
    const int area = dbe_CreateExec();
    if (area == 0) return 0;
    dbe_Close();
    return 1;
  }

  std::string Record(const std::string& name, const std::string& phone) {
    std::string rec(61, ' ');
    rec.replace(1, name.size(), name);
    rec.replace(36, phone.size(), phone);
    return rec;
  }

  std::string Name() {
    char buf[64];
    EXPECT_EQ(dbe_GetField(1, buf, sizeof buf), 1);
    return buf;
  }

  TempDir dir_;
  std::string path_;
};

TEST_F(DbeTest, CreatesTablesFieldByFieldUnderTheGivenAlias) {
  ASSERT_EQ(dbe_CreateNew(path_.c_str(), "XXXXXXXXXX", 2, 2), 1);
  EXPECT_EQ(dbe_CreateField("NAME", "C", 35, 0), 1);
  EXPECT_EQ(dbe_CreateField("PHONE", "C", 25, 0), 1);
  EXPECT_EQ(dbe_CreateField("EXTRA", "C", 5, 0), 0);  // declared with two fields
  EXPECT_EQ(dbe_Error(), kDbeErrArgument);
  const int area = dbe_CreateExec();
  ASSERT_NE(area, 0);
  EXPECT_EQ(dbe_Area(), area);
  EXPECT_STREQ(dbe_Alias(), "XXXXXXXXXX");
  EXPECT_EQ(dbe_FieldCount(), 2);
  EXPECT_STREQ(dbe_FieldName(2), "PHONE");
  EXPECT_STREQ(dbe_FieldType(1), "C");
  EXPECT_EQ(dbe_FieldWidth(1), 35);
  EXPECT_EQ(dbe_FieldOffset(2), 36);
  EXPECT_EQ(dbe_RecSize(), 61);
  EXPECT_EQ(dbe_Close(), 1);
  EXPECT_EQ(dbe_Area(), 0);
  EXPECT_EQ(ReadAll(path_).size(), 99u);

  EXPECT_EQ(dbe_CreateField("NAME", "C", 35, 0), 0);  // no dbe_CreateNew
  EXPECT_EQ(dbe_CreateExec(), 0);
  EXPECT_EQ(dbe_CreateNew(path_.c_str(), "X", 1, 2), 0);
  EXPECT_EQ(dbe_Error(), kDbeErrDriver);
  ASSERT_EQ(dbe_CreateNew((dir_ / "M.DBF").c_str(), "X", 2, 1), 1);
  dbe_CreateField("NOTES", "M", 10, 0);
  EXPECT_EQ(dbe_CreateExec(), 0);
  EXPECT_EQ(dbe_Error(), kDbeErrCreate);
  EXPECT_NE(std::string(dbe_ErrorText()).find("NOTES"), std::string::npos);
  ASSERT_EQ(dbe_CreateNew((dir_ / "nowhere/N.DBF").c_str(), "X", 2, 1), 1);
  dbe_CreateField("A", "C", 1, 0);
  EXPECT_EQ(dbe_CreateExec(), 0);
}

// The setting holds for the opens made while it is on; the check runs in the current
// area, once.
TEST_F(DbeTest, AnOpenMayLeaveItsIndexCheckToALaterCall) {
  const std::string golden = CopyGolden("small", dir_);
  std::string dbf = ReadAll(golden);
  dbf.replace(98 + 1, 5, "Xaver");  // a record renamed behind the index's back
  WriteAll(golden, dbf);
  const std::string stale = ReadAll(dir_ / "VZPB.cdx");
  EXPECT_EQ(dbe_SetDeferIndexCheck(1), 0);
  const int deferred = dbe_Use(golden.c_str(), "", 0, 2);
  EXPECT_EQ(dbe_SetDeferIndexCheck(0), 1);
  ASSERT_NE(deferred, 0);
  EXPECT_FALSE(HostFileExists(dir_ / "VZPB.cdx.BAD"));
  EXPECT_EQ(dbe_CheckIndexAsOnOpen(), 1);
  EXPECT_EQ(dbe_Error(), kDbeOk);
  EXPECT_EQ(ReadAll(dir_ / "VZPB.cdx.BAD"), stale);
  EXPECT_EQ(dbe_CheckIndexAsOnOpen(), 0);
  WriteAll(dir_ / "VZPB.cdx", stale);
  ASSERT_NE(dbe_Use(golden.c_str(), "", 0, 2), 0);  // checked (and mended) at once
  EXPECT_EQ(dbe_CheckIndexAsOnOpen(), 0);
  dbe_Close();
  dbe_Select(deferred);
  dbe_Close();
  EXPECT_EQ(dbe_CheckIndexAsOnOpen(), 0);
  EXPECT_NE(dbe_Error(), kDbeOk);  // no table in the current area
}

TEST_F(DbeTest, EachOpenTakesAnAliasOfItsOwn) {
  ASSERT_EQ(CreatePhoneTable(), 1);
  const int a = dbe_Use(path_.c_str(), "", 0, 2);
  const int b = dbe_Use(path_.c_str(), "", 0, 2);
  const int c = dbe_Use(path_.c_str(), "", 1, 2);
  ASSERT_TRUE(a && b && c);
  EXPECT_STREQ(dbe_Alias(), "VZPB_2");
  EXPECT_EQ(dbe_Select(b), c);
  EXPECT_STREQ(dbe_Alias(), "VZPB_1");
  dbe_Select(a);
  EXPECT_STREQ(dbe_Alias(), "VZPB");
  dbe_Close();
  EXPECT_EQ(dbe_Use(path_.c_str(), nullptr, 0, 2), a);  // the free area and the free alias
  EXPECT_STREQ(dbe_Alias(), "VZPB");
  EXPECT_EQ(dbe_SelectAlias("vzpb_1"), b);
  EXPECT_EQ(dbe_SelectAlias("nobody"), 0);
  EXPECT_EQ(dbe_Area(), b);

  EXPECT_EQ(dbe_Use((dir_ / "missing.dbf").c_str(), "", 0, 2), 0);
  EXPECT_EQ(dbe_Error(), kDbeErrOpen);
  EXPECT_EQ(dbe_Use(path_.c_str(), "", 7, 2), 0);
  EXPECT_EQ(dbe_Error(), kDbeErrArgument);
  EXPECT_EQ(dbe_Use(path_.c_str(), "", 0, 0), 0);
  EXPECT_EQ(dbe_Error(), kDbeErrDriver);
  WriteAll(dir_ / "BAD.DBF", "\x03junk");
  EXPECT_EQ(dbe_Use((dir_ / "BAD.DBF").c_str(), "", 0, 2), 0);
  EXPECT_EQ(dbe_Error(), kDbeErrDamaged);
  EXPECT_EQ(dbe_Area(), b);  // failures leave the selection alone
  dbe_Select(c);
  EXPECT_EQ(dbe_AppendBlank(), 0);
  EXPECT_EQ(dbe_Error(), kDbeErrReadOnly);
}

TEST_F(DbeTest, AppendEditDeleteQueryAndOrder) {
  ASSERT_EQ(CreatePhoneTable(), 1);
  ASSERT_NE(dbe_Use(path_.c_str(), "", 0, 2), 0);
  ASSERT_EQ(dbe_IndexTag("", "NAME", "NAME", 0, 0, ".not. deleted()"), 1);
  EXPECT_TRUE(HostFileExists(dir_ / "VZPB.CDX"));
  EXPECT_EQ(dbe_Order(), 1);
  EXPECT_EQ(dbe_TagArea("name"), 1);
  EXPECT_EQ(dbe_TagArea("OTHER"), 0);
  EXPECT_STREQ(dbe_TagName(1), "NAME");
  ASSERT_EQ(dbe_Query(".not. deleted()"), 1);

  // A new record starts as blanks and reaches the file at dbe_PutRecord.
  ASSERT_EQ(dbe_AppendBlank(), 1);
  std::string buf(62, 'x');
  dbe_GetRecord(buf.data());
  EXPECT_EQ(buf.substr(0, 61), std::string(61, ' '));
  EXPECT_EQ(dbe_Eof(), 0);
  ASSERT_EQ(dbe_PutRecord(Record("Smith", "1").c_str()), 1);
  EXPECT_EQ(dbe_RecNo(), 1);
  ASSERT_EQ(dbe_AppendBlank(), 1);
  ASSERT_EQ(dbe_PutRecord(Record("Adams", "2").c_str()), 1);
  EXPECT_EQ(dbe_QueryRecCount(), 2);
  dbe_GoTop();
  EXPECT_EQ(Name(), "Adams");
  dbe_Skip(1);
  EXPECT_EQ(Name(), "Smith");
  EXPECT_EQ(dbe_Skip(1), 0);
  EXPECT_EQ(dbe_Eof(), 1);

  // Change: the current record is replaced and moves in the order.
  dbe_Go(1);
  ASSERT_EQ(dbe_PutRecord(Record("Aaron", "1").c_str()), 1);
  ASSERT_EQ(dbe_Unlock(), 1);
  dbe_GoTop();
  EXPECT_EQ(Name(), "Aaron");
  ASSERT_EQ(dbe_Delete(), 1);
  EXPECT_EQ(dbe_Deleted(), 1);
  EXPECT_EQ(dbe_QueryRecCount(), 1);
  EXPECT_EQ(dbe_RecCount(), 2);
  dbe_GoTop();
  EXPECT_EQ(Name(), "Adams");
  dbe_SetStringType(0);  // field texts with their padding
  EXPECT_EQ(Name(), "Adams" + std::string(30, ' '));
  dbe_SetStringType(1);
  EXPECT_EQ(dbe_Seek("Ad"), 1);
  EXPECT_EQ(dbe_Seek("Aaron"), 0);  // deleted: no key

  // Record order shows the deleted record again when the filter is cleared.
  ASSERT_EQ(dbe_SetOrder(0), 1);
  ASSERT_EQ(dbe_Query(""), 1);
  EXPECT_EQ(dbe_QueryRecCount(), 2);
  dbe_GoTop();
  EXPECT_EQ(dbe_RecNo(), 1);
  EXPECT_EQ(dbe_Recall(), 1);
  EXPECT_EQ(dbe_SetOrder(5), 0);
  EXPECT_EQ(dbe_Error(), kDbeErrIndex);
  EXPECT_EQ(dbe_Query("NAME +"), 0);
  EXPECT_EQ(dbe_Error(), kDbeErrExpression);

  // A pending blank append becomes a real blank record when the area moves on.
  ASSERT_EQ(dbe_AppendBlank(), 1);
  dbe_GoTop();
  EXPECT_EQ(dbe_RecCount(), 3);
  EXPECT_EQ(dbe_IndexTag("OTHER.CDX", "X", "NAME", 0, 0, ""), 0);
  EXPECT_EQ(dbe_Error(), kDbeErrIndex);
}

TEST_F(DbeTest, CallsWithoutATableFailCleanly) {
  EXPECT_EQ(dbe_GoTop(), 0);
  EXPECT_EQ(dbe_Error(), kDbeErrIo);
  EXPECT_NE(std::string(dbe_ErrorText()).find("no table"), std::string::npos);
  EXPECT_EQ(dbe_Close(), 0);
  EXPECT_EQ(dbe_RecSize(), 0);
  EXPECT_STREQ(dbe_FieldName(1), "");
  EXPECT_EQ(dbe_Select(42), 0);
  EXPECT_EQ(dbe_Error(), kDbeErrNoTable);
  EXPECT_STREQ(dbe_Version(), "2.40.00");
}

// ---- data layer -----------------------------------------------------------------

struct Counter : data::TDataLink {
  int active = 0, data = 0, state = 0;
  void ActiveChanged(data::TTable&) override { ++active; }
  void DataSetChanged(data::TTable&) override { ++data; }
  void StateChanged(data::TTable&) override { ++state; }
};

class DataSetTest : public DbeTest {
 protected:
  void SetUp() override {
    DbeTest::SetUp();
    ASSERT_EQ(CreatePhoneTable(), 1);
    table_.SetDatabaseName(dir_.Path().string() + "\\");
    table_.SetTableName("VZPB.DBF");
    table_.AddStringField("NAME", 35, "Name", 32);
    table_.AddStringField("PHONE", 25, "Fax #", 25);
    source_.SetDataSet(&table_);
    source_.AddLink(&counter_);
  }
  void TearDown() override {
    table_.Close();
    data::SetEngineVersionQuery(nullptr);
    data::SetDatabaseErrorBox(nullptr);
    DbeTest::TearDown();
  }
  void Add(const std::string& name, const std::string& phone) {
    table_.Append();
    table_.FieldByName("NAME").SetAsString(name);
    table_.FieldByName("PHONE").SetAsString(phone);
    table_.Post();
  }

  data::TTable table_;
  data::TDataSource source_;
  Counter counter_;
};

TEST_F(DataSetTest, AppendEditPostDeleteAndNavigate) {
  table_.Open();
  EXPECT_EQ(counter_.active, 1);
  EXPECT_TRUE(table_.IsEmpty());
  EXPECT_EQ(table_.FieldByName("NAME").AsString(), "");
  EXPECT_EQ(table_.FieldByName("name").DisplayLabel(), "Name");
  EXPECT_EQ(table_.FieldByName("PHONE").DisplayWidth(), 25);
  EXPECT_THROW(table_.FieldByName("NOPE"), data::EDatabaseError);
  EXPECT_THROW(table_.FieldByName("NAME").SetAsString("x"), data::EDatabaseError);  // not editing
  Add("Zoe  ", "1");
  Add("Al", "2");
  EXPECT_EQ(table_.RecordCount(), 2);
  EXPECT_EQ(table_.FieldByName("NAME").AsString(), "Al");  // the new record is current
  table_.First();
  EXPECT_EQ(table_.FieldByName("NAME").AsString(), "Zoe");  // record order; trailing blanks dropped
  EXPECT_TRUE(table_.Bof());
  table_.Next();
  table_.Next();  // past the last: it stays current, marked as the end
  EXPECT_TRUE(table_.Eof());
  EXPECT_EQ(table_.FieldByName("NAME").AsString(), "Al");
  table_.Edit();
  EXPECT_EQ(table_.State(), data::TDataSetState::dsEdit);
  table_.FieldByName("NAME").SetAsString(std::string(40, 'n'));  // clipped to the field's size
  table_.Post();
  EXPECT_EQ(table_.FieldByName("NAME").AsString(), std::string(35, 'n'));
  EXPECT_EQ(table_.PeekRows(5).size(), 1u);
  table_.First();
  EXPECT_EQ(table_.PeekRows(5), (std::vector<std::vector<std::string>>{{"Zoe", "1"}, {std::string(35, 'n'), "2"}}));
  EXPECT_EQ(table_.FieldByName("NAME").AsString(), "Zoe");
  table_.Append();
  table_.Cancel();
  EXPECT_EQ(table_.RecordCount(), 2);
  table_.Delete();  // marks it; the table file keeps it
  EXPECT_EQ(table_.RecordCount(), 2);  // no filter here: deleted records count
  EXPECT_GT(counter_.data, 5);
  EXPECT_GT(counter_.state, 2);
  table_.Close();
  EXPECT_EQ(counter_.active, 2);
  EXPECT_FALSE(table_.Active());
  EXPECT_EQ(dbe_Area(), 0);
}

TEST_F(DataSetTest, OpenFailuresAndUnservedCalls) {
  table_.SetTableName("MISSING.DBF");
  try {
    table_.Open();
    ADD_FAILURE();
  } catch (const data::EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "File Open Error");
    EXPECT_EQ(e.Code(), kDbeErrOpen);
  }
  table_.SetTableName("VZPB.DBF");
  table_.Open();
  EXPECT_THROW(table_.SetTableName("X.DBF"), data::EDatabaseError);  // only while closed
  try {
    table_.SetRange("a", "b");
    ADD_FAILURE();
  } catch (const data::EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "This function not supported by the table engine : SetRange");
  }
  // A table damaged behind our back: posting fails with the engine's number.
  Add("A", "1");
  std::string dbf = ReadAll(path_);
  PutLE32(reinterpret_cast<unsigned char*>(dbf.data()) + 4, 77);
  WriteAll(path_, dbf);
  table_.Append();
  try {
    table_.Post();
    ADD_FAILURE();
  } catch (const data::EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Database Error : 2");
    EXPECT_NE(e.Detail().find("not a sound table"), std::string::npos);
  }
  EXPECT_EQ(table_.State(), data::TDataSetState::dsInsert);
}

TEST_F(DataSetTest, AnEngineWithoutVersionRefusesTheFirstOpen) {
  std::vector<std::string> boxes;
  data::SetDatabaseErrorBox([&](const std::string& text) { boxes.push_back(text); });
  for (const char* (*query)() : {+[]() -> const char* { return ""; }, +[]() -> const char* { return "2.39.99"; }}) {
    data::SetEngineVersionQuery(query);
    EXPECT_THROW(table_.Open(), data::EDatabaseError);
    EXPECT_FALSE(table_.Active());
  }
  EXPECT_EQ(boxes, (std::vector<std::string>(2, "The table engine requires engine version 2.40.00 or later.")));
  data::SetEngineVersionQuery(+[]() -> const char* { return "2.40.00"; });
  table_.Open();
  EXPECT_TRUE(table_.Active());
}

TEST_F(DataSetTest, TwoTablesOnOneFileSeeEachOthersPostsOnRefresh) {
  table_.Open();
  data::TTable other;
  other.SetDatabaseName(table_.DatabaseName());
  other.SetTableName("VZPB.DBF");
  other.Open();
  Add("First", "1");
  EXPECT_TRUE(other.IsEmpty());
  other.Refresh();
  EXPECT_EQ(other.FieldByName("NAME").AsString(), "First");
  EXPECT_EQ(other.RecordCount(), 1);
  other.Delete();
  table_.Refresh();
  EXPECT_EQ(table_.RecordBuffer()[0], '*');
}

// Links and sources destroyed in either order, as form members and owned components
// are: neither side touches the other after it has gone (AddressSanitizer watches).
TEST_F(DataSetTest, ALinkThatGoesFirstUnbindsFromItsSource) {
  table_.Open();
  {
    Counter early;
    source_.AddLink(&early);
    EXPECT_EQ(early.LinkedSource(), &source_);
  }
  Add("A", "1");  // the source tells only the links still bound
  EXPECT_GT(counter_.data, 0);
  EXPECT_TRUE(source_.HasLink(&counter_));
}

TEST_F(DataSetTest, ASourceThatGoesFirstUnbindsItsLinks) {
  table_.Open();
  auto link = std::make_unique<Counter>();
  {
    data::TDataSource early;
    early.SetDataSet(&table_);
    early.AddLink(link.get());
    Add("A", "1");
    EXPECT_EQ(link->data, 1);
  }
  EXPECT_EQ(link->LinkedSource(), nullptr);
  Add("B", "2");  // the table no longer knows the gone source
  EXPECT_EQ(link->data, 1);
  link.reset();  // nothing to unbind from
}

TEST_F(DataSetTest, ALinkMovesBetweenSourcesAndMayUnbindWhileBeingTold) {
  data::TDataSource second;
  second.SetDataSet(&table_);
  Counter moving;
  source_.AddLink(&moving);
  second.AddLink(&moving);  // one source at a time
  EXPECT_FALSE(source_.HasLink(&moving));
  EXPECT_EQ(moving.LinkedSource(), &second);
  struct Leaving : Counter {
    void ActiveChanged(data::TTable& t) override {
      Counter::ActiveChanged(t);
      if (LinkedSource()) LinkedSource()->RemoveLink(this);
    }
  } leaving;
  source_.AddLink(&leaving);
  table_.Open();
  table_.Close();
  EXPECT_EQ(leaving.active, 1);  // told once, then gone
  EXPECT_EQ(moving.active, 2);
}

// What the grid asks of the table: the order from the index, rows by record number,
// the case-blind search for typed letters, and a second look at the current record.
TEST_F(DataSetTest, TheGridsQuestionsAreAnsweredFromTheIndexAndLeaveTheCurrentRecord) {
  table_.Open();
  for (const char* name : {"bobby", "Carol", "alice", "Bob", "ALAN", "al"}) Add(name, "1");
  EXPECT_EQ(table_.OrderRecNos(), (std::vector<int>{1, 2, 3, 4, 5, 6}));  // record order: walked
  ASSERT_EQ(dbe_Select(table_.WorkArea()), 0);
  ASSERT_TRUE(dbe_IndexTag("", "NAME", "NAME", 0, 0, ".not. deleted()"));
  dbe_Select(0);
  table_.SetIndexName("NAME");
  EXPECT_EQ(table_.OrderRecNos(), (std::vector<int>{5, 4, 2, 6, 3, 1}));  // ALAN Bob Carol al alice bobby
  table_.GotoBookmark(1);
  const data::TTable::TopRows top = table_.ReadTopRows(3);
  EXPECT_EQ(top.recnos, (std::vector<int>{5, 4, 2}));
  EXPECT_EQ(top.rows, (std::vector<std::vector<std::string>>{{"ALAN", "1"}, {"Bob", "1"}, {"Carol", "1"}}));
  EXPECT_EQ(table_.FieldByName("NAME").AsString(), "bobby");
  EXPECT_EQ(table_.ReadTopRows(99).recnos, (std::vector<int>{5, 4, 2, 6, 3, 1}));
  table_.GotoBookmark(2);
  const unsigned changes = table_.ChangeCount();
  EXPECT_EQ(table_.ReadRows({1, 99, 3}),
            (std::vector<std::vector<std::string>>{{"bobby", "1"}, {}, {"alice", "1"}}));
  EXPECT_EQ(table_.FieldByName("NAME").AsString(), "Carol");
  EXPECT_TRUE(table_.FindNearestCaseless("bO"));
  EXPECT_EQ(table_.FieldByName("NAME").AsString(), "Bob");
  EXPECT_TRUE(table_.FindNearestCaseless("aLi"));
  EXPECT_EQ(table_.FieldByName("NAME").AsString(), "alice");
  EXPECT_TRUE(table_.FindNearestCaseless("A"));
  EXPECT_EQ(table_.FieldByName("NAME").AsString(), "ALAN");
  EXPECT_TRUE(table_.FindNearestCaseless("BOBB"));
  EXPECT_EQ(table_.FieldByName("NAME").AsString(), "bobby");
  EXPECT_FALSE(table_.FindNearestCaseless("x"));
  EXPECT_EQ(table_.FieldByName("NAME").AsString(), "bobby");  // nothing found: nothing moved
  EXPECT_EQ(table_.ChangeCount(), changes);  // moves are not changes
  // Another opener deletes the current record: the second look says so.
  EXPECT_TRUE(table_.RecheckCurrent());
  data::TTable other;
  other.SetDatabaseName(table_.DatabaseName());
  other.SetTableName("VZPB.DBF");
  other.Open();
  other.GotoBookmark(table_.RecNo());
  other.Delete();
  EXPECT_FALSE(table_.RecheckCurrent());
  table_.Refresh();
  EXPECT_NE(table_.ChangeCount(), changes);
  EXPECT_EQ(table_.OrderRecNos(), (std::vector<int>{5, 4, 2, 6, 3}));
}

// The index's change counter tells a reader what the table's own change count
// cannot: that another opener changed the table. Reading and moving leave it be.
TEST_F(DataSetTest, TheIndexChangeCounterMovesForEveryOpenersChangeAndForNothingElse) {
  table_.Open();
  Add("Keller", "1");
  EXPECT_EQ(table_.IndexChangeCounter(), 0u);  // no index yet
  ASSERT_EQ(dbe_Select(table_.WorkArea()), 0);
  ASSERT_TRUE(dbe_IndexTag("", "NAME", "NAME", 0, 0, ".not. deleted()"));
  dbe_Select(0);
  table_.SetIndexName("NAME");
  const std::string cdx = dir_ / "VZPB.CDX";
  const auto fileCounter = [&] {
    const std::string header = ReadAll(cdx).substr(0, 12);
    return GetBE32(reinterpret_cast<const unsigned char*>(header.data()) + 8);
  };
  const std::uint32_t start = table_.IndexChangeCounter();
  EXPECT_EQ(start, fileCounter());
  table_.First();
  table_.FindNearestCaseless("k");
  table_.OrderRecNos();
  table_.ReadRows({1});
  table_.RecheckCurrent();
  EXPECT_EQ(table_.IndexChangeCounter(), start);

  data::TTable other;
  other.SetDatabaseName(table_.DatabaseName());
  other.SetTableName("VZPB.DBF");
  other.SetIndexName("NAME");
  other.Open();
  const unsigned changes = table_.ChangeCount();
  other.Append();
  other.FieldByName("NAME").SetAsString("Albrecht");
  other.Post();
  const std::uint32_t afterAppend = table_.IndexChangeCounter();
  EXPECT_NE(afterAppend, start);
  EXPECT_EQ(afterAppend, fileCounter());
  EXPECT_EQ(table_.ChangeCount(), changes);  // the table's own count never sees it
  other.Delete();
  const std::uint32_t afterDelete = table_.IndexChangeCounter();
  EXPECT_NE(afterDelete, afterAppend);
  Add("Zeller", "3");  // this table's own post moves it too
  EXPECT_NE(table_.IndexChangeCounter(), afterDelete);
  EXPECT_EQ(table_.IndexChangeCounter(), fileCounter());

  dbe_Select(0);
  EXPECT_EQ(dbe_IndexChangeCounter(), 0u);
  EXPECT_NE(dbe_Error(), kDbeOk);
  table_.Close();
  EXPECT_THROW(table_.IndexChangeCounter(), data::EDatabaseError);
}

}  // namespace
}  // namespace vz::db
