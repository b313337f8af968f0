// Several numbers in one document: how Phone and Recipient are taken apart, the
// order of the files written, what is left after a failure at each write, Retry,
// Cancel and the log.
#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "controller/faxfiles.hpp"
#include "controller/jobflow.hpp"
#include "fake_controller_env.hpp"
#include "scripted_jobui.hpp"

namespace {

using vz::FaxDetails;
using vz::FaxRecipient;
using vz::JobOutcome;
using Faxes = std::vector<FaxRecipient>;
using Lines = std::vector<std::string>;

TEST(SplitRecipientsTest, PhoneWithoutSeparatorIsOneFaxExactlyAsTyped) {
  const auto split = vz::SplitRecipients("  111 ", " Ann; Bob ");
  EXPECT_EQ(split.faxes, (Faxes{{"  111 ", " Ann; Bob "}}));
  EXPECT_EQ(vz::RecipientCountProblem("  111 ", " Ann; Bob "), "");
}

TEST(SplitRecipientsTest, PartsAreTrimmedAndPairedByPosition) {
  EXPECT_EQ(vz::SplitRecipients(" 111 ; 222;\t333 ", " Ann ;Bob; Cy").faxes,
            (Faxes{{"111", "Ann"}, {"222", "Bob"}, {"333", "Cy"}}));
  EXPECT_EQ(vz::SplitRecipients("+49 30 1;+1 555", "Roe, Jane;Doe, John").faxes,
            (Faxes{{"+49 30 1", "Roe, Jane"}, {"+1 555", "Doe, John"}}));
}

TEST(SplitRecipientsTest, EmptyNumbersAreDroppedWithTheNameAtTheirPosition) {
  EXPECT_EQ(vz::SplitRecipients("111;;222; ", "Ann;X;Bob;Y").faxes, (Faxes{{"111", "Ann"}, {"222", "Bob"}}));
  EXPECT_EQ(vz::SplitRecipients("111; ;222", "Ann;;Bob").faxes, (Faxes{{"111", "Ann"}, {"222", "Bob"}}));
}

TEST(SplitRecipientsTest, OneNameOrNoneIsUsedAsTypedForEveryNumber) {
  EXPECT_EQ(vz::SplitRecipients("111;222", " Jane Roe ").faxes, (Faxes{{"111", " Jane Roe "}, {"222", " Jane Roe "}}));
  EXPECT_EQ(vz::SplitRecipients("111;222", "").faxes, (Faxes{{"111", ""}, {"222", ""}}));
}

TEST(SplitRecipientsTest, ListsWithOneNumberOrNoneAreOneFax) {
  EXPECT_EQ(vz::SplitRecipients(" 222;", "Ann").faxes, (Faxes{{"222", "Ann"}}));
  EXPECT_EQ(vz::SplitRecipients(" ;222 ; ", "x;Bob;y").faxes, (Faxes{{"222", "Bob"}}));
  EXPECT_EQ(vz::SplitRecipients(" ; ", "Ann").faxes, (Faxes{{"", "Ann"}}));
}

TEST(SplitRecipientsTest, CountsThatDisagreeAreRefusedNamingBoth) {
  auto split = vz::SplitRecipients("111;222;333", "Ann;Bob");
  EXPECT_FALSE(split.CountsAgree());
  EXPECT_TRUE(split.faxes.empty());
  EXPECT_EQ(split.numberParts, 3u);
  EXPECT_EQ(split.nameParts, 2u);
  EXPECT_EQ(vz::RecipientCountProblem("111;222;333", "Ann;Bob"),
            "Phone has 3 parts separated by \";\", Recipient has 2.\r\r"
            "Type one name for each number, or one name for all of them.");
  // Empty parts count: the names pair up by position.
  EXPECT_EQ(vz::RecipientCountProblem("111;;222", "Ann;Bob"),
            "Phone has 3 parts separated by \";\", Recipient has 2.\r\r"
            "Type one name for each number, or one name for all of them.");
  EXPECT_EQ(vz::RecipientCountProblem("111;222", "Ann;Bob"), "");
}

TEST(SeveralJobsErrorTextTest, NamesWhatWasQueuedAndIsCutAfter255Characters) {
  EXPECT_EQ(vz::SeveralJobsErrorText({}, {"111", "222"}, "Disk full."),
            "Queued: none\rNot queued: 111, 222\rDisk full.\r\rRetry queues the rest again; Cancel gives them up.");
  const std::string text = vz::SeveralJobsErrorText({std::string(300, '1')}, {"2"}, "Disk full.");
  EXPECT_EQ(text.size(), 255u);
  EXPECT_EQ(text.substr(0, 11), "Queued: 111");
}

constexpr char kDir[] = "D:\\FAXOUT";
constexpr char kFax[] = "D:\\FAXOUT\\FAX00000.APF";
constexpr char kLog[] = "C:\\Users\\jane\\AppData\\Roaming\\VelmorFAX\\jobs.csv";
constexpr char kNewLog[] = "\xEF\xBB\xBFTime,Image,Number,Recipient,Subject,Outcome\r\n";
// A fax queued before, which takes the number 1.
constexpr char kOldImage[] = "FAX00001.APF=older";
constexpr char kOldJob[] = "FAX00001.JFD=old job";

using ScriptedUi = vz::test::ScriptedJobUi;

class SeveralJobsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.AddDir(kDir);
    env.AddFile(kFax, "image");
    env.AddFile("D:\\FAXOUT\\FAX00001.APF", "older");
    env.AddFile("D:\\FAXOUT\\FAX00001.JFD", "old job");
    env.AddDir("C:\\Users\\jane\\AppData\\Roaming");
  }
  JobOutcome Finish(const std::string& phone, const std::string& recipient) {
    ui.details = FaxDetails{phone, recipient, "Hi"};
    return vz::FinishJob(env, ui, log, kFax);
  }
  vz::test::FakeControllerEnv env;
  ScriptedUi ui;
  vz::phonebook::Windows1252 codePage;
  vz::JobLog log{codePage};
};

TEST_F(SeveralJobsTest, EachNumberGetsAnImageAndDescriptorInThisOrder) {
  EXPECT_EQ(Finish("111; 222; 333", "Ann; Bob; Cy"), JobOutcome::jbSent);
  // The image is read before the main fax program can see its descriptor and take it.
  EXPECT_EQ(env.journal, (Lines{
                             "read D:\\FAXOUT\\FAX00000.APF",
                             "write D:\\FAXOUT\\FAX00000.$JF",
                             "rename D:\\FAXOUT\\FAX00000.$JF > D:\\FAXOUT\\FAX00000.JFD",
                             "create D:\\FAXOUT\\FAX00002.APF",
                             "write D:\\FAXOUT\\FAX00002.$AP",
                             "rename D:\\FAXOUT\\FAX00002.$AP > D:\\FAXOUT\\FAX00002.APF",
                             "write D:\\FAXOUT\\FAX00002.$JF",
                             "rename D:\\FAXOUT\\FAX00002.$JF > D:\\FAXOUT\\FAX00002.JFD",
                             "create D:\\FAXOUT\\FAX00003.APF",
                             "write D:\\FAXOUT\\FAX00003.$AP",
                             "rename D:\\FAXOUT\\FAX00003.$AP > D:\\FAXOUT\\FAX00003.APF",
                             "write D:\\FAXOUT\\FAX00003.$JF",
                             "rename D:\\FAXOUT\\FAX00003.$JF > D:\\FAXOUT\\FAX00003.JFD",
                         }));
  EXPECT_EQ(env.Listing(kDir), (Lines{"FAX00000.APF=image", "FAX00000.JFD=111\r\nAnn\r\nHi\r\n", kOldImage, kOldJob,
                                      "FAX00002.APF=image", "FAX00002.JFD=222\r\nBob\r\nHi\r\n", "FAX00003.APF=image",
                                      "FAX00003.JFD=333\r\nCy\r\nHi\r\n"}));
  EXPECT_EQ(ui.asked, (Lines{"details", "switch"}));
  EXPECT_EQ(env.Contents(kLog), std::string(kNewLog) +
                                    "2026-12-09T10:52:07,D:\\FAXOUT\\FAX00000.APF,111,Ann,Hi,queued\r\n"
                                    "2026-12-09T10:52:07,D:\\FAXOUT\\FAX00002.APF,222,Bob,Hi,queued\r\n"
                                    "2026-12-09T10:52:07,D:\\FAXOUT\\FAX00003.APF,333,Cy,Hi,queued\r\n");
}

TEST_F(SeveralJobsTest, OneNumberLeftInAListIsOneFaxWithNoCopy) {
  EXPECT_EQ(Finish(" ;111 ;", "x; Ann ;y"), JobOutcome::jbSent);
  EXPECT_EQ(env.Listing(kDir), (Lines{"FAX00000.APF=image", "FAX00000.JFD=111\r\nAnn\r\nHi\r\n", kOldImage, kOldJob}));
  EXPECT_EQ(env.Contents(kLog),
            std::string(kNewLog) + "2026-12-09T10:52:07,D:\\FAXOUT\\FAX00000.APF,111,Ann,Hi,queued\r\n");
}

// Two numbers; the writes counted as the journal above lists them. For each one
// failing: the files while the box is up, the box, the files after Cancel, and
// that Retry completes both faxes.
TEST_F(SeveralJobsTest, WhatIsLeftAfterAFailureAtEachWrite) {
  const std::string image0 = "FAX00000.APF=image", job0 = "FAX00000.JFD=111\r\nAnn\r\nHi\r\n";
  const std::string image2 = "FAX00002.APF=image", reserved2 = "FAX00002.APF=", job2 = "FAX00002.JFD=222\r\nBob\r\nHi\r\n";
  const std::string only111 = "Queued: 111\rNot queued: 222\rAccess denied.\r\rRetry queues the rest again; Cancel gives them up.";
  const std::string only222 = "Queued: 222\rNot queued: 111\rAccess denied.\r\rRetry queues the rest again; Cancel gives them up.";
  struct Case {
    const char* step;
    Lines atBox;
    std::string box;
    Lines afterCancel;
  };
  const std::vector<Case> cases = {
      {"write FAX00000.$JF", {image0, kOldImage, kOldJob, image2, job2}, only222, {kOldImage, kOldJob, image2, job2}},
      {"rename to FAX00000.JFD", {image0, kOldImage, kOldJob, image2, job2}, only222, {kOldImage, kOldJob, image2, job2}},
      {"create FAX00002.APF", {image0, job0, kOldImage, kOldJob}, only111, {image0, job0, kOldImage, kOldJob}},
      {"write FAX00002.$AP", {image0, job0, kOldImage, kOldJob, reserved2}, only111, {image0, job0, kOldImage, kOldJob}},
      {"rename to FAX00002.APF", {image0, job0, kOldImage, kOldJob, reserved2}, only111, {image0, job0, kOldImage, kOldJob}},
      {"write FAX00002.$JF", {image0, job0, kOldImage, kOldJob, image2}, only111, {image0, job0, kOldImage, kOldJob}},
      {"rename to FAX00002.JFD", {image0, job0, kOldImage, kOldJob, image2}, only111, {image0, job0, kOldImage, kOldJob}},
  };
  for (int step = 0; step < static_cast<int>(cases.size()); ++step) {
    for (const bool retry : {false, true}) {
      SCOPED_TRACE(std::string(cases[step].step) + (retry ? ", Retry" : ", Cancel"));
      env = vz::test::FakeControllerEnv();
      SetUp();
      ui = ScriptedUi();
      env.failingStep = step;
      Lines atBox;
      ui.onRetryBox = [&] { atBox = env.Listing(kDir); };
      ui.retryAnswers = {retry};
      EXPECT_EQ(Finish("111;222", "Ann;Bob"), JobOutcome::jbSent);
      EXPECT_EQ(atBox, cases[step].atBox);
      EXPECT_EQ(ui.retryTexts, Lines{cases[step].box});
      EXPECT_EQ(ui.asked, (Lines{"details", "retry", "switch"}));
      const Lines whole = {image0, job0, kOldImage, kOldJob, image2, job2};
      EXPECT_EQ(env.Listing(kDir), retry ? whole : cases[step].afterCancel);
    }
  }
}

TEST_F(SeveralJobsTest, RetryQueuesTheRestAndTheLogSaysWhenEachWasQueued) {
  // Reserving 222's copy fails once: 333 takes the free name, 222 the next on Retry.
  env.failingStep = 2;
  ui.retryAnswers = {true};
  EXPECT_EQ(Finish("111;222;333", "Ann;Bob;Cy"), JobOutcome::jbSent);
  EXPECT_EQ(ui.retryTexts, Lines{"Queued: 111, 333\rNot queued: 222\rAccess denied.\r\r"
                                 "Retry queues the rest again; Cancel gives them up."});
  EXPECT_EQ(env.Listing(kDir), (Lines{"FAX00000.APF=image", "FAX00000.JFD=111\r\nAnn\r\nHi\r\n", kOldImage, kOldJob,
                                      "FAX00002.APF=image", "FAX00002.JFD=333\r\nCy\r\nHi\r\n", "FAX00003.APF=image",
                                      "FAX00003.JFD=222\r\nBob\r\nHi\r\n"}));
  EXPECT_EQ(env.Contents(kLog), std::string(kNewLog) +
                                    "2026-12-09T10:52:07,D:\\FAXOUT\\FAX00000.APF,111,Ann,Hi,queued\r\n"
                                    "2026-12-09T10:52:07,D:\\FAXOUT\\FAX00002.APF,333,Cy,Hi,queued\r\n"
                                    "2026-12-09T10:52:07,D:\\FAXOUT\\FAX00003.APF,222,Bob,Hi,queued\r\n");
}

TEST_F(SeveralJobsTest, CancelKeepsWhatWasQueuedAndLogsTheRestAsDiscarded) {
  env.failingWrites = {"D:\\FAXOUT\\FAX00003.$JF"};
  env.failureReason = "There is not enough space on the disk.";
  ui.retryAnswers = {true, false};
  EXPECT_EQ(Finish("111;222;333", "Ann;Bob;Cy"), JobOutcome::jbSent);
  const std::string box = "Queued: 111, 222\rNot queued: 333\rThere is not enough space on the disk.\r\r"
                          "Retry queues the rest again; Cancel gives them up.";
  EXPECT_EQ(ui.retryTexts, (Lines{box, box}));
  EXPECT_EQ(ui.asked, (Lines{"details", "retry", "retry", "switch"}));
  EXPECT_EQ(env.Listing(kDir), (Lines{"FAX00000.APF=image", "FAX00000.JFD=111\r\nAnn\r\nHi\r\n", kOldImage, kOldJob,
                                      "FAX00002.APF=image", "FAX00002.JFD=222\r\nBob\r\nHi\r\n"}));
  EXPECT_EQ(env.Contents(kLog), std::string(kNewLog) +
                                    "2026-12-09T10:52:07,D:\\FAXOUT\\FAX00000.APF,111,Ann,Hi,queued\r\n"
                                    "2026-12-09T10:52:07,D:\\FAXOUT\\FAX00002.APF,222,Bob,Hi,queued\r\n"
                                    "2026-12-09T10:52:07,D:\\FAXOUT\\FAX00003.APF,333,Cy,Hi,discarded\r\n");
}

TEST_F(SeveralJobsTest, GivingUpEveryFaxDeletesEveryImageAndAsksNoSwitch) {
  env.failRenames = true;
  ui.retryAnswers = {false};
  EXPECT_EQ(Finish("111;222", "Ann"), JobOutcome::jbDiscarded);
  EXPECT_EQ(ui.retryTexts, Lines{"Queued: none\rNot queued: 111, 222\rAccess denied.\r\r"
                                 "Retry queues the rest again; Cancel gives them up."});
  EXPECT_EQ(ui.asked, (Lines{"details", "retry"}));
  EXPECT_EQ(env.Listing(kDir), (Lines{kOldImage, kOldJob}));
  EXPECT_EQ(env.Contents(kLog), std::string(kNewLog) +
                                    "2026-12-09T10:52:07,D:\\FAXOUT\\FAX00000.APF,111,Ann,Hi,discarded\r\n"
                                    "2026-12-09T10:52:07,D:\\FAXOUT\\FAX00002.APF,222,Ann,Hi,discarded\r\n");
}

// While the box is up a document start may come (window transport): the name
// reserved for a copy is not handed out.
TEST_F(SeveralJobsTest, AReservedNameIsNotChosenWhileTheBoxIsUp) {
  env.failingStep = 3;  // writing the copy
  std::string chosen;
  ui.onRetryBox = [&] { chosen = vz::ChooseFaxFileName(env, kDir); };
  ui.retryAnswers = {true};
  EXPECT_EQ(Finish("111;222", "Ann;Bob"), JobOutcome::jbSent);
  EXPECT_EQ(chosen, "D:\\FAXOUT\\FAX00003.APF");
  EXPECT_EQ(env.Contents("D:\\FAXOUT\\FAX00002.JFD"), "222\r\nBob\r\nHi\r\n");
}

TEST_F(SeveralJobsTest, AnUnreadableImageFailsTheCopiesOnlyAndRetryReadsItAgain) {
  env.failingReads = {"D:\\FAXOUT\\FAX00000.APF"};
  env.failureReason = "The process cannot access the file because it is being used by another process.";
  ui.retryAnswers = {true};
  ui.onRetryBox = [&] { env.failingReads.clear(); };
  EXPECT_EQ(Finish("111;222", "Ann;Bob"), JobOutcome::jbSent);
  EXPECT_EQ(ui.retryTexts,
            Lines{"Queued: 111\rNot queued: 222\rThe process cannot access the file because it is being used by "
                  "another process.\r\rRetry queues the rest again; Cancel gives them up."});
  EXPECT_EQ(env.Listing(kDir), (Lines{"FAX00000.APF=image", "FAX00000.JFD=111\r\nAnn\r\nHi\r\n", kOldImage, kOldJob,
                                      "FAX00002.APF=image", "FAX00002.JFD=222\r\nBob\r\nHi\r\n"}));
}

TEST_F(SeveralJobsTest, CancelInTheDialogIsOneLineForTheWholeDocument) {
  EXPECT_EQ(vz::FinishJob(env, ui, log, kFax), JobOutcome::jbCancelled);
  EXPECT_EQ(env.Listing(kDir), (Lines{kOldImage, kOldJob}));
  EXPECT_EQ(env.Contents(kLog), std::string(kNewLog) + "2026-12-09T10:52:07,D:\\FAXOUT\\FAX00000.APF,,,,cancelled\r\n");
}

}  // namespace
