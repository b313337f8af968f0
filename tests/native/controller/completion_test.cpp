// The completion lookups: names from a real phone book on disk (letter case, no
// match, at most eight, deleted entries), and the recent recipients from the log.
#include <gtest/gtest.h>

#include "controller/completion.hpp"
#include "dbengine/dbe.hpp"
#include "tests/native/controller/fake_controller_env.hpp"
#include "tests/native/dbengine/testutil.hpp"

namespace vz {
namespace {

class FakeUi : public phonebook::PhoneBookUi {
 public:
  explicit FakeUi(std::string programPath) : path_(std::move(programPath)) {}
  std::string ProgramPath() override { return path_; }
  void ShowInfo(const std::string&) override {}
  void Terminate() override {}
  void Beep() override {}

 private:
  std::string path_;
};

class CompletionTest : public ::testing::Test {
 protected:
  void TearDown() override { dbe_CloseAll(); }
  // Writes the phone book as the browser does.
  void Write(const std::vector<Suggestion>& entries, int deleteAt = -1) {
    data::TTable table;
    data::TDataSource source;
    phonebook::TDataEngine engine;
    phonebook::AddPhoneFields(table);
    source.SetDataSet(&table);
    engine.SetDataSource(&source);
    ASSERT_TRUE(phonebook::OpenPhoneDBF(table, engine, ui_));
    for (std::size_t i = 0; i < entries.size(); ++i) {
      table.Append();
      table.FieldByName("NAME").SetAsString(entries[i].name);
      table.FieldByName("PHONE").SetAsString(entries[i].phone);
      table.Post();
      if (static_cast<int>(i) == deleteAt) table.Delete();
    }
    engine.SetDataSource(nullptr);
    table.Close();
  }
  db::test::TempDir dir_;
  FakeUi ui_{dir_.Path().string() + "\\VZNTCTL.EXE"};
};

TEST_F(CompletionTest, NamesStartingWithTheTextInAnyLetterCaseInNameOrder) {
  Write({{"adams, john", "1"}, {"Bader", "2"}, {"ADLER", "3"}, {"Adele", "4"}, {"Ada", "5"}, {"aD hoc", "6"}});
  PhoneBookLookup lookup(ui_);
  EXPECT_EQ(CompletionsFor(lookup, "ad"),
            (std::vector<Suggestion>{{"ADLER", "3"}, {"Ada", "5"}, {"Adele", "4"}, {"aD hoc", "6"}, {"adams, john", "1"}}));
  EXPECT_EQ(CompletionsFor(lookup, "ADE"), (std::vector<Suggestion>{{"Adele", "4"}}));
  EXPECT_EQ(CompletionsFor(lookup, "ba"), (std::vector<Suggestion>{{"Bader", "2"}}));
}

TEST_F(CompletionTest, NoMatchEmptyTextOrOverlongTextGiveNothing) {
  Write({{"Ada", "5"}, {"Bader", "2"}});
  PhoneBookLookup lookup(ui_);
  EXPECT_TRUE(CompletionsFor(lookup, "adx").empty());
  EXPECT_TRUE(CompletionsFor(lookup, "c").empty());
  EXPECT_TRUE(CompletionsFor(lookup, "").empty());
  EXPECT_TRUE(CompletionsFor(lookup, std::string(36, 'a')).empty());
}

TEST_F(CompletionTest, AtMostEightAndNoDeletedEntry) {
  std::vector<Suggestion> many;
  for (char c = 'a'; c <= 'l'; ++c) many.push_back({std::string("Mo") + c, std::string(1, c)});
  Write(many, 1);  // "Mob" deleted
  PhoneBookLookup lookup(ui_);
  EXPECT_EQ(CompletionsFor(lookup, "mo"),
            (std::vector<Suggestion>{{"Moa", "a"}, {"Moc", "c"}, {"Mod", "d"}, {"Moe", "e"},
                                     {"Mof", "f"}, {"Mog", "g"}, {"Moh", "h"}, {"Moi", "i"}}));
}

TEST_F(CompletionTest, MissingPhoneBookGivesNothingAndIsNotCreated) {
  PhoneBookLookup lookup(ui_);
  EXPECT_TRUE(CompletionsFor(lookup, "a").empty());
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() / "VZPB.DBF"));
}

class TooMany : public NameLookup {
 public:
  std::vector<Suggestion> Starting(std::string_view, std::size_t) override {
    return std::vector<Suggestion>(12, Suggestion{"A", "1"});
  }
};
class Broken : public NameLookup {
 public:
  std::vector<Suggestion> Starting(std::string_view, std::size_t) override { throw std::runtime_error("read"); }
};

TEST(CompletionsForTest, CutsToEightAndAFailingPhoneBookGivesNothing) {
  TooMany many;
  EXPECT_EQ(CompletionsFor(many, "a").size(), 8u);
  Broken broken;
  EXPECT_TRUE(CompletionsFor(broken, "a").empty());
}

TEST(RecentSuggestionsTest, QueuedPairsNewestFirstInTheAnsiCodePage) {
  test::FakeControllerEnv env;
  const std::string folder = env.appDataDir + "\\VelmorFAX";
  env.AddDir(folder);
  env.AddFile(folder + "\\jobs.csv",
              "\xEF\xBB\xBFTime,Image,Number,Recipient,Subject,Outcome\r\n"
              "2026-12-09T10:00:00,C:\\F\\FAX00000.APF,555 0100,M\xC3\xBCller,A,queued\r\n"
              "2026-12-09T10:01:00,C:\\F\\FAX00001.APF,555 0200,\xE4\xB8\xAD,B,queued\r\n"
              "2026-12-09T10:02:00,C:\\F\\FAX00002.APF,555 0300,Gone,C,cancelled\r\n"
              "2026-12-09T10:03:00,C:\\F\\FAX00003.APF,555 0400,\"Roe, Jane\",D,queued\r\n"
              "2026-12-09T10:04:00,C:\\F\\FAX00004.APF,555 0100,M\xC3\xBCller,E,queued\r\n");
  const phonebook::Windows1252 codePage;
  EXPECT_EQ(RecentSuggestions(env, codePage),
            (std::vector<Suggestion>{{"M\xFCller", "555 0100"}, {"Roe, Jane", "555 0400"}}));
}

}  // namespace
}  // namespace vz
