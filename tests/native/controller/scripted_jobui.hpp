#pragma once
// The questions of a document end answered from a script, each one recorded in the
// order asked.
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "controller/jobflow.hpp"

namespace vz::test {

class ScriptedJobUi : public vz::JobUi {
 public:
  std::optional<FaxDetails> details;
  std::deque<bool> retryAnswers;
  bool switchAnswer = false;
  std::vector<std::string> asked;
  std::vector<std::string> retryTexts;
  // Runs when the user is asked to retry (the user fixes the cause).
  std::function<void()> onRetryBox;
  // What `asked` records for the switch question ("switch" when not set).
  std::function<std::string()> switchEntry;

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
    asked.push_back(switchEntry ? switchEntry() : "switch");
    return switchAnswer;
  }
  void ActivateOrStartFaxProgram() override { asked.push_back("activate"); }
};

}  // namespace vz::test
