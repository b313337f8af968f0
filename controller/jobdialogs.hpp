#pragma once
// The windows of a document end: the fax details dialog, the box about a job
// descriptor that cannot be written, and the question about switching.
#include <memory>

#include "controller/controller_env.hpp"
#include "controller/gdform.hpp"
#include "controller/jobflow.hpp"

class TJobDialogs : public vz::JobUi {
 public:
  explicit TJobDialogs(vz::ControllerEnv& env);
  // Frees the fax details dialog.
  ~TJobDialogs() override;

  std::optional<vz::FaxDetails> AskFaxDetails() override;
  bool AskRetryJobFile(const std::string& text) override;
  bool AskSwitchToFaxProgram() override;
  void ActivateOrStartFaxProgram() override;

 private:
  vz::ControllerEnv& env_;
  // Kept until the job is done, as the document end frees it last.
  std::unique_ptr<TGetDataForm> dialog_;
};

// Brings the main fax program to the front, or starts it.
void ActivateOrStartFaxProgram();
