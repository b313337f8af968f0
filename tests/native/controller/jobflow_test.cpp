// The document end over fakes: what is written, deleted and asked, in which order.
#include "controller/jobflow.hpp"

#include <gtest/gtest.h>

#include <deque>

#include "fake_controller_env.hpp"

namespace {

using vz::FaxDetails;
using vz::JobOutcome;

constexpr char kFax[] = "D:\\FAXOUT\\FAX00007.APF";
constexpr char kJob[] = "D:\\FAXOUT\\FAX00007.JFD";

// Answers from a script and records every question, with what was on disk then.
class ScriptedUi : public vz::JobUi {
 public:
  explicit ScriptedUi(vz::test::FakeControllerEnv& env) : env_(env) {}
  std::optional<FaxDetails> details;
  std::deque<bool> retryAnswers;
  bool switchAnswer = false;
  std::vector<std::string> asked;
  std::vector<std::string> retryTexts;
  // Runs when the user is asked to retry (the user fixes the cause).
  std::function<void()> onRetryBox;

  std::optional<FaxDetails> AskFaxDetails() override {
    asked.push_back("details");
    return details;
  }
  bool AskRetryJobFile(const std::string& text) override {
    asked.push_back("retry");
    retryTexts.push_back(text);
    if (onRetryBox) onRetryBox();
    const bool answer = retryAnswers.front();
    retryAnswers.pop_front();
    return answer;
  }
  bool AskSwitchToFaxProgram() override {
    asked.push_back(env_.HasFile(kJob) ? "switch (descriptor written)" : "switch (no descriptor)");
    return switchAnswer;
  }
  void ActivateOrStartFaxProgram() override { asked.push_back("activate"); }

 private:
  vz::test::FakeControllerEnv& env_;
};

class JobFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.AddDir("D:\\FAXOUT");
    env.AddFile(kFax, "image");
  }
  vz::test::FakeControllerEnv env;
  ScriptedUi ui{env};
};

TEST_F(JobFlowTest, OkWritesTheDescriptorThenAsksAndYesSwitches) {
  ui.details = FaxDetails{"+49 30 1234", "Jane Roe", "Offer"};
  ui.switchAnswer = true;
  EXPECT_EQ(vz::FinishJob(env, ui, kFax), JobOutcome::jbSent);
  EXPECT_EQ(env.Contents(kJob), "+49 30 1234\r\nJane Roe\r\nOffer\r\n");
  EXPECT_TRUE(env.HasFile(kFax));
  EXPECT_EQ(ui.asked, (std::vector<std::string>{"details", "switch (descriptor written)", "activate"}));
}

TEST_F(JobFlowTest, NoLeavesBothFilesAndStartsNothing) {
  ui.details = FaxDetails{"", "", ""};
  EXPECT_EQ(vz::FinishJob(env, ui, kFax), JobOutcome::jbSent);
  EXPECT_EQ(env.Contents(kJob), "\r\n\r\n\r\n");
  EXPECT_TRUE(env.HasFile(kFax));
  EXPECT_EQ(ui.asked, (std::vector<std::string>{"details", "switch (descriptor written)"}));
}

TEST_F(JobFlowTest, AnythingButOkDeletesTheImageAndAsksNothingMore) {
  EXPECT_EQ(vz::FinishJob(env, ui, kFax), JobOutcome::jbCancelled);
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
  EXPECT_EQ(vz::FinishJob(env, ui, kFax), JobOutcome::jbSent);
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
  EXPECT_EQ(vz::FinishJob(env, ui, kFax), JobOutcome::jbDiscarded);
  EXPECT_FALSE(env.HasFile(kFax));
  EXPECT_FALSE(env.HasFile(kJob));
  EXPECT_EQ(env.FileCount(), 0u) << "no temporary descriptor is left behind";
  EXPECT_EQ(ui.asked, (std::vector<std::string>{"details", "retry"}));
}

TEST(JobFileErrorTextTest, LongNamesAreCutAfter255Characters) {
  const std::string longName = "C:\\" + std::string(300, 'X') + ".JFD";
  const std::string text = vz::JobFileErrorText(longName, "Disk full.");
  EXPECT_EQ(text.size(), 255u);
  EXPECT_EQ(text.substr(0, 41), "The fax details could not be saved in\rC:\\");
}

}  // namespace
