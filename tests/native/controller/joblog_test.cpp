// The job log over a fake system: the bytes of the file, its rotation, its
// failures, and the recent recipients read back from it.
#include "controller/joblog.hpp"

#include <gtest/gtest.h>

#include "fake_controller_env.hpp"

namespace {

using vz::JobLogLine;
using vz::JobOutcome;
using vz::RecentRecipient;

constexpr char kAppData[] = "C:\\Users\\jane\\AppData\\Roaming";
constexpr char kFolder[] = "C:\\Users\\jane\\AppData\\Roaming\\VelmorFAX";
constexpr char kLog[] = "C:\\Users\\jane\\AppData\\Roaming\\VelmorFAX\\jobs.csv";
constexpr char kOlder[] = "C:\\Users\\jane\\AppData\\Roaming\\VelmorFAX\\jobs.1.csv";
constexpr char kStart[] = "\xEF\xBB\xBFTime,Image,Number,Recipient,Subject,Outcome\r\n";

class JobLogTest : public ::testing::Test {
 protected:
  void SetUp() override { env.AddDir(kAppData); }
  vz::test::FakeControllerEnv env;
  vz::phonebook::Windows1252 codePage;
  vz::JobLog log{codePage};
};

TEST_F(JobLogTest, NewLogGetsMarkAndHeaderOnceAndEachLineAfter) {
  EXPECT_TRUE(log.Append(env, {"C:\\SEND\\FAX00000.APF", "+1 555 0100", "Jane Roe", "Offer", JobOutcome::jbSent}));
  EXPECT_TRUE(env.HasDir(kFolder)) << "the folder is created when missing";
  EXPECT_EQ(env.Contents(kLog), std::string(kStart) + "2026-12-09T10:52:07,C:\\SEND\\FAX00000.APF,+1 555 0100,Jane Roe,Offer,queued\r\n");
  env.now = {2027, 1, 2, 3, 4, 5};
  EXPECT_TRUE(log.Append(env, {"C:\\SEND\\FAX00001.APF", "", "", "", JobOutcome::jbCancelled}));
  EXPECT_EQ(env.Contents(kLog), std::string(kStart) +
                                    "2026-12-09T10:52:07,C:\\SEND\\FAX00000.APF,+1 555 0100,Jane Roe,Offer,queued\r\n"
                                    "2027-01-02T03:04:05,C:\\SEND\\FAX00001.APF,,,,cancelled\r\n");
  EXPECT_TRUE(env.infos.empty());
}

TEST_F(JobLogTest, EmptyExistingFileIsStartedAsANewOneAndAnOldOneOnlyAppendedTo) {
  env.AddDir(kFolder);
  env.AddFile(kLog, "");
  log.Append(env, {"X", "1", "R", "S", JobOutcome::jbDiscarded});
  EXPECT_EQ(env.Contents(kLog), std::string(kStart) + "2026-12-09T10:52:07,X,1,R,S,discarded\r\n");
  env.AddFile(kLog, "written by an older run\r\n");
  log.Append(env, {"X", "1", "R", "S", JobOutcome::jbDiscarded});
  EXPECT_EQ(env.Contents(kLog), "written by an older run\r\n2026-12-09T10:52:07,X,1,R,S,discarded\r\n");
}

TEST(JobLogFieldTest, QuotesOnlyWhatCsvNeeds) {
  EXPECT_EQ(vz::CsvField("plain text; 50% off"), "plain text; 50% off");
  EXPECT_EQ(vz::CsvField(" spaces kept "), " spaces kept ");
  EXPECT_EQ(vz::CsvField("Roe, Jane"), "\"Roe, Jane\"");
  EXPECT_EQ(vz::CsvField("Offer \"Q3\""), "\"Offer \"\"Q3\"\"\"");
  EXPECT_EQ(vz::CsvField("two\r\nlines"), "\"two\r\nlines\"");
  EXPECT_EQ(vz::CsvField("lf\nonly"), "\"lf\nonly\"");
  EXPECT_EQ(vz::CsvField("cr\ronly"), "\"cr\ronly\"");
  EXPECT_EQ(vz::CsvField("\""), "\"\"\"\"");
  EXPECT_EQ(vz::CsvField(""), "");
}

TEST(JobLogFieldTest, AnsiTextIsWrittenAsUtf8) {
  vz::phonebook::Windows1252 codePage;
  const vz::LocalTime time{2026, 12, 9, 10, 52, 7};
  EXPECT_EQ(vz::JobLogRecord(time, {"C:\\\xC4MTER\\FAX00000.APF", "0\x96" "1", "M\xFCller, J\xFCrgen",
                                    "\x80 100 \x84quoted\x93", JobOutcome::jbSent},
                             codePage),
            "2026-12-09T10:52:07,C:\\\xC3\x84MTER\\FAX00000.APF,0\xE2\x80\x93" "1,\"M\xC3\xBCller, J\xC3\xBCrgen\","
            "\xE2\x82\xAC 100 \xE2\x80\x9Equoted\xE2\x80\x9C,queued\r\n");
}

// The limit is 1,048,576 bytes: a line that would take the file past it starts a
// new one, a line that makes it exactly that long does not.
TEST_F(JobLogTest, FileMovesAsideBeforeTheLineThatWouldPassTheLimit) {
  env.AddDir(kFolder);
  const std::string line = "2026-12-09T10:52:07,X,1,R,S,queued\r\n";  // 36 bytes
  ASSERT_EQ(line.size(), 36u);
  const std::string upToLimit(1048576 - 36, 'a');
  env.AddFile(kLog, upToLimit);
  env.AddFile(kOlder, "the older log before");
  log.Append(env, {"X", "1", "R", "S", JobOutcome::jbSent});
  EXPECT_EQ(env.Contents(kLog).size(), 1048576u);
  EXPECT_EQ(env.Contents(kOlder), "the older log before");

  log.Append(env, {"X", "1", "R", "S", JobOutcome::jbSent});
  EXPECT_EQ(env.Contents(kOlder), upToLimit + line) << "the older file is replaced";
  EXPECT_EQ(env.Contents(kLog), std::string(kStart) + line);
  EXPECT_TRUE(env.infos.empty());
}

TEST_F(JobLogTest, LogThatCannotMoveAsideStillTakesTheLineAndTellsOnce) {
  env.AddDir(kFolder);
  env.AddFile(kLog, std::string(1048570, 'a'));
  env.failRenames = true;
  env.failureReason = "Sharing violation.";
  EXPECT_TRUE(log.Append(env, {"X", "1", "R", "S", JobOutcome::jbSent}));
  EXPECT_EQ(env.Contents(kLog), std::string(1048570, 'a') + "2026-12-09T10:52:07,X,1,R,S,queued\r\n");
  ASSERT_EQ(env.infos.size(), 1u);
  EXPECT_EQ(env.infos[0],
            "The job log could not be written:\r"
            "C:\\Users\\jane\\AppData\\Roaming\\VelmorFAX\\jobs.1.csv\r"
            "Sharing violation.\r\r"
            "Faxes are not affected. This is not shown again until the controller is started again.");
}

TEST_F(JobLogTest, FailuresAreToldOnceWithTheFileAndTheReason) {
  env.AddDir(kFolder);
  env.failingAppends.insert(vz::UpperAscii(kLog));
  env.failureReason = "There is not enough space on the disk.";
  EXPECT_FALSE(log.Append(env, {"X", "1", "R", "S", JobOutcome::jbSent}));
  EXPECT_FALSE(log.Append(env, {"X", "1", "R", "S", JobOutcome::jbSent}));
  EXPECT_EQ(env.infos, std::vector<std::string>{
                           "The job log could not be written:\r"
                           "C:\\Users\\jane\\AppData\\Roaming\\VelmorFAX\\jobs.csv\r"
                           "There is not enough space on the disk.\r\r"
                           "Faxes are not affected. This is not shown again until the controller is started again."});
  // Once the cause is gone the lines go in again, the file still new.
  env.failingAppends.clear();
  EXPECT_TRUE(log.Append(env, {"X", "1", "R", "S", JobOutcome::jbSent}));
  EXPECT_EQ(env.Contents(kLog), std::string(kStart) + "2026-12-09T10:52:07,X,1,R,S,queued\r\n");
}

TEST_F(JobLogTest, NoApplicationDataFolderIsToldAsSuch) {
  env.appDataDir.clear();
  EXPECT_FALSE(log.Append(env, {"X", "1", "R", "S", JobOutcome::jbSent}));
  EXPECT_EQ(env.infos, std::vector<std::string>{
                           "The job log could not be written:\r%APPDATA%\\VelmorFAX\\jobs.csv\r"
                           "The system names no application data folder.\r\r"
                           "Faxes are not affected. This is not shown again until the controller is started again."});
  EXPECT_EQ(env.FileCount(), 0u);
}

TEST(JobLogCsvTest, ParsesQuotesLineBreaksAndACutLastLine) {
  const auto rows = vz::ParseCsv(
      "\xEF\xBB\xBF" "a,\"b,c\",\"d \"\"e\"\"\"\r\n"
      "\"two\r\nlines\",,x\n"
      "last,\"cut sho");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"a", "b,c", "d \"e\""}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{"two\r\nlines", "", "x"}));
  EXPECT_EQ(rows[2], (std::vector<std::string>{"last", "cut sho"}));
}

// A log as two runs left it: jobs.csv newer, jobs.1.csv older.
constexpr char kNewer[] =
    "\xEF\xBB\xBFTime,Image,Number,Recipient,Subject,Outcome\r\n"
    "2026-12-09T10:00:00,C:\\S\\FAX00003.APF,555 0100,\"Roe, Jane\",a,queued\r\n"
    "2026-12-09T10:01:00,C:\\S\\FAX00004.APF,555 0199,Cancelled Corp,b,cancelled\r\n"
    "2026-12-09T10:02:00,C:\\S\\FAX00005.APF,555 0300,M\xC3\xBCller,c,queued\r\n"
    "2026-12-09T10:03:00,C:\\S\\FAX00006.APF,555 0100,\"Roe, Jane\",d,queued\r\n"
    "2026-12-09T10:04:00,C:\\S\\FAX00007.APF,555 0400,Discarded Ltd,e,discarded\r\n"
    "2026-12-09T10:05:00,C:\\S\\FAX00008.APF,555 0100,Jane Roe,\"two\r\nlines\",queued\r\n";
constexpr char kOlderText[] =
    "\xEF\xBB\xBFTime,Image,Number,Recipient,Subject,Outcome\r\n"
    "2026-12-08T09:00:00,C:\\S\\FAX00000.APF,555 0900,Oldest,a,queued\r\n"
    "2026-12-08T09:01:00,C:\\S\\FAX00001.APF,555 0300,M\xC3\xBCller,b,queued\r\n"
    "2026-12-08T09:02:00,C:\\S\\FAX00002.APF,555 0800,Older,c,queued\r\n";

TEST(RecentRecipientsTest, DistinctQueuedPairsNewestFirstAcrossBothFiles) {
  EXPECT_EQ(vz::RecentRecipients({kNewer, kOlderText}, 10),
            (std::vector<RecentRecipient>{{"555 0100", "Jane Roe"},
                                          {"555 0100", "Roe, Jane"},
                                          {"555 0300", "M\xC3\xBCller"},
                                          {"555 0800", "Older"},
                                          {"555 0900", "Oldest"}}));
  EXPECT_EQ(vz::RecentRecipients({kNewer, kOlderText}, 2),
            (std::vector<RecentRecipient>{{"555 0100", "Jane Roe"}, {"555 0100", "Roe, Jane"}}));
  EXPECT_EQ(vz::RecentRecipients({kNewer, kOlderText}, 4).back(), (RecentRecipient{"555 0800", "Older"}));
  EXPECT_TRUE(vz::RecentRecipients({"", ""}, 5).empty());
}

TEST_F(JobLogTest, RecentRecipientsAreReadFromBothFilesOfTheLog) {
  env.AddDir(kFolder);
  env.AddFile(kOlder, kOlderText);
  EXPECT_EQ(vz::ReadRecentRecipients(env, 2),
            (std::vector<RecentRecipient>{{"555 0800", "Older"}, {"555 0300", "M\xC3\xBCller"}}))
      << "no jobs.csv: jobs.1.csv alone";
  env.AddFile(kLog, kNewer);
  EXPECT_EQ(vz::ReadRecentRecipients(env, 4),
            (std::vector<RecentRecipient>{{"555 0100", "Jane Roe"},
                                          {"555 0100", "Roe, Jane"},
                                          {"555 0300", "M\xC3\xBCller"},
                                          {"555 0800", "Older"}}));
}

// What the log writes, the reader reads back, whatever the texts hold.
TEST_F(JobLogTest, WrittenLinesReadBackAsRecentRecipients) {
  log.Append(env, {"X", "+49, 30", "Said \"Hi\"\r\nTwice", "s", JobOutcome::jbSent});
  log.Append(env, {"X", "1", "Cancelled", "s", JobOutcome::jbCancelled});
  log.Append(env, {"X", "2", "M\xFCller", "s", JobOutcome::jbSent});
  EXPECT_EQ(vz::ReadRecentRecipients(env, 5),
            (std::vector<RecentRecipient>{{"2", "M\xC3\xBCller"}, {"+49, 30", "Said \"Hi\"\r\nTwice"}}));
}

}  // namespace
