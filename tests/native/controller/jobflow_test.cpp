// The document end over fakes: what is written, deleted and asked, in which order.
#include "controller/jobflow.hpp"

#include <gtest/gtest.h>

#include <deque>

#include "fake_controller_env.hpp"
#include "scripted_jobui.hpp"

namespace {

using vz::FaxDetails;
using vz::JobOutcome;

constexpr char kFax[] = "D:\\FAXOUT\\FAX00007.APF";
constexpr char kJob[] = "D:\\FAXOUT\\FAX00007.JFD";
constexpr char kAppData[] = "C:\\Users\\jane\\AppData\\Roaming";
constexpr char kLog[] = "C:\\Users\\jane\\AppData\\Roaming\\VelmorFAX\\jobs.csv";
constexpr char kNewLog[] = "\xEF\xBB\xBFTime,Image,Number,Recipient,Subject,Outcome\r\n";

// Records, for the switch question, whether the descriptor was on disk by then.
class ScriptedUi : public vz::test::ScriptedJobUi {
 public:
  explicit ScriptedUi(vz::test::FakeControllerEnv& env) {
    switchEntry = [&env] { return env.HasFile(kJob) ? "switch (descriptor written)" : "switch (no descriptor)"; };
  }
};

class JobFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.AddDir("D:\\FAXOUT");
    env.AddFile(kFax, "image");
    env.AddDir(kAppData);
  }
  vz::test::FakeControllerEnv env;
  ScriptedUi ui{env};
  vz::phonebook::Windows1252 codePage;
  vz::JobLog log{codePage};
};

TEST_F(JobFlowTest, OkWritesTheDescriptorThenAsksAndYesSwitches) {
  ui.details = FaxDetails{"+49 30 1234", "Jane Roe", "Offer"};
  ui.switchAnswer = true;
  EXPECT_EQ(vz::FinishJob(env, ui, log, kFax), JobOutcome::jbSent);
  EXPECT_EQ(env.Contents(kJob), "+49 30 1234\r\nJane Roe\r\nOffer\r\n");
  EXPECT_TRUE(env.HasFile(kFax));
  EXPECT_EQ(ui.asked, (std::vector<std::string>{"details", "switch (descriptor written)", "activate"}));
}

TEST_F(JobFlowTest, NoLeavesBothFilesAndStartsNothing) {
  ui.details = FaxDetails{"", "", ""};
  EXPECT_EQ(vz::FinishJob(env, ui, log, kFax), JobOutcome::jbSent);
  EXPECT_EQ(env.Contents(kJob), "\r\n\r\n\r\n");
  EXPECT_TRUE(env.HasFile(kFax));
  EXPECT_EQ(ui.asked, (std::vector<std::string>{"details", "switch (descriptor written)"}));
}

TEST_F(JobFlowTest, AnythingButOkDeletesTheImageAndAsksNothingMore) {
  EXPECT_EQ(vz::FinishJob(env, ui, log, kFax), JobOutcome::jbCancelled);
  EXPECT_FALSE(env.HasFile(kFax));
  EXPECT_FALSE(env.HasFile(kJob));
  EXPECT_EQ(ui.asked, std::vector<std::string>{"details"});
}

TEST_F(JobFlowTest, UnwritableDescriptorIsRetriedUntilTheCauseIsGone) {
  ui.details = FaxDetails{"555", "Bob", "Hi"};
  env.failRenames = true;
  env.failureReason = "Access denied.";
  ui.retryAnswers = {true, true};
  int boxes = 0;
  // The user fixes the cause while the second box is up.
  ui.onRetryBox = [&] {
    if (++boxes == 2) env.failRenames = false;
  };
  EXPECT_EQ(vz::FinishJob(env, ui, log, kFax), JobOutcome::jbSent);
  EXPECT_EQ(env.Contents(kJob), "555\r\nBob\r\nHi\r\n");
  EXPECT_EQ(ui.asked, (std::vector<std::string>{"details", "retry", "retry", "switch (descriptor written)"}));
  ASSERT_EQ(ui.retryTexts.size(), 2u);
  EXPECT_EQ(ui.retryTexts[0],
            "The fax details could not be saved in\rD:\\FAXOUT\\FAX00007.JFD\rAccess denied.\r\r"
            "Retry saves them again; Cancel discards this fax.");
}

TEST_F(JobFlowTest, GivingUpOnAnUnwritableDescriptorDeletesTheImageAndAsksNoSwitch) {
  ui.details = FaxDetails{"555", "Bob", "Hi"};
  env.failRenames = true;
  ui.retryAnswers = {false};
  EXPECT_EQ(vz::FinishJob(env, ui, log, kFax), JobOutcome::jbDiscarded);
  EXPECT_FALSE(env.HasFile(kFax));
  EXPECT_FALSE(env.HasFile(kJob));
  EXPECT_EQ(env.FileCount(), 1u) << "no temporary descriptor is left behind, only the log";
  EXPECT_TRUE(env.HasFile(kLog));
  EXPECT_EQ(ui.asked, (std::vector<std::string>{"details", "retry"}));
}

// Each outcome is in the log once it is known: a queued fax before the question
// about switching, so that it is there whatever the answer.
TEST_F(JobFlowTest, EveryOutcomeIsLoggedWithWhatWasTyped) {
  ui.details = FaxDetails{"+49 30 1234", "Roe, Jane", "Offer"};
  EXPECT_EQ(vz::FinishJob(env, ui, log, kFax), JobOutcome::jbSent);
  const std::string queued = "2026-12-09T10:52:07,D:\\FAXOUT\\FAX00007.APF,+49 30 1234,\"Roe, Jane\",Offer,queued\r\n";
  EXPECT_EQ(env.Contents(kLog), kNewLog + queued);

  env.AddFile(kFax, "image");
  ui.details.reset();
  env.now.second = 8;
  EXPECT_EQ(vz::FinishJob(env, ui, log, kFax), JobOutcome::jbCancelled);
  const std::string cancelled = "2026-12-09T10:52:08,D:\\FAXOUT\\FAX00007.APF,,,,cancelled\r\n";
  EXPECT_EQ(env.Contents(kLog), kNewLog + queued + cancelled);

  env.AddFile(kFax, "image");
  env.RemoveFile(kJob);
  ui.details = FaxDetails{"555", "M\xFCller", "Hi"};
  env.failRenames = true;
  ui.retryAnswers = {false};
  env.now.second = 9;
  EXPECT_EQ(vz::FinishJob(env, ui, log, kFax), JobOutcome::jbDiscarded);
  EXPECT_EQ(env.Contents(kLog), kNewLog + queued + cancelled +
                                    "2026-12-09T10:52:09,D:\\FAXOUT\\FAX00007.APF,555,M\xC3\xBCller,Hi,discarded\r\n");
  EXPECT_TRUE(env.infos.empty());
}

TEST_F(JobFlowTest, QueuedLineIsWrittenBeforeTheSwitchQuestion) {
  std::string logAtQuestion;
  struct Probe : ScriptedUi {
    using ScriptedUi::ScriptedUi;
    std::function<void()> atSwitch;
    bool AskSwitchToFaxProgram() override {
      atSwitch();
      return false;
    }
  } probe{env};
  probe.details = FaxDetails{"1", "A", "B"};
  probe.atSwitch = [&] { logAtQuestion = env.HasFile(kLog) ? env.Contents(kLog) : "(none)"; };
  EXPECT_EQ(vz::FinishJob(env, probe, log, kFax), JobOutcome::jbSent);
  EXPECT_EQ(logAtQuestion, std::string(kNewLog) + "2026-12-09T10:52:07,D:\\FAXOUT\\FAX00007.APF,1,A,B,queued\r\n");
}

// A file where the log's folder should be: the jobs go on as if there were no log,
// and the user hears of it once in the run.
TEST_F(JobFlowTest, UnwritableLogChangesNoJobAndIsReportedOncePerRun) {
  env.AddFile(std::string(kAppData) + "\\VelmorFAX", "not a folder");
  env.failureReason = "Cannot create a file when that file already exists.";
  ui.details = FaxDetails{"555", "Bob", "Hi"};
  EXPECT_EQ(vz::FinishJob(env, ui, log, kFax), JobOutcome::jbSent);
  EXPECT_EQ(env.Contents(kJob), "555\r\nBob\r\nHi\r\n");
  EXPECT_EQ(ui.asked, (std::vector<std::string>{"details", "switch (descriptor written)"}));
  ASSERT_EQ(env.infos.size(), 1u);
  EXPECT_EQ(env.infos[0],
            "The job log could not be written:\r"
            "C:\\Users\\jane\\AppData\\Roaming\\VelmorFAX\\jobs.csv\r"
            "Cannot create a file when that file already exists.\r\r"
            "Faxes are not affected. This is not shown again until the controller is started again.");

  env.AddFile(kFax, "image");
  ui.details.reset();
  EXPECT_EQ(vz::FinishJob(env, ui, log, kFax), JobOutcome::jbCancelled);
  EXPECT_FALSE(env.HasFile(kFax));
  EXPECT_EQ(env.infos.size(), 1u) << "a second job in the same run shows no second box";

  // The next run of the controller tells again.
  vz::JobLog nextRun{codePage};
  env.AddFile(kFax, "image");
  EXPECT_EQ(vz::FinishJob(env, ui, nextRun, kFax), JobOutcome::jbCancelled);
  EXPECT_EQ(env.infos.size(), 2u);
}

TEST(JobFileErrorTextTest, LongNamesAreCutAfter255Characters) {
  const std::string longName = "C:\\" + std::string(300, 'X') + ".JFD";
  const std::string text = vz::JobFileErrorText(longName, "Disk full.");
  EXPECT_EQ(text.size(), 255u);
  EXPECT_EQ(text.substr(0, 41), "The fax details could not be saved in\rC:\\");
}

}  // namespace
