#include "controller/jobflow.hpp"

#include "common/text.hpp"
#include "controller/faxfiles.hpp"

namespace vz {

std::string JobFileErrorText(const std::string& jobFileName, const std::string& reason) {
  return Clip255("The fax details could not be saved in\r" + jobFileName + "\r" + reason +
                 "\r\rRetry saves them again; Cancel discards this fax.");
}

JobOutcome FinishJob(ControllerEnv& env, JobUi& ui, JobLog& log, const std::string& faxFileName) {
  const std::optional<FaxDetails> details = ui.AskFaxDetails();
  if (!details) {
    DeleteFaxFile(env, faxFileName);
    log.Append(env, {faxFileName, "", "", "", JobOutcome::jbCancelled});
    return JobOutcome::jbCancelled;
  }
  const JobLogLine line{faxFileName, details->phone, details->recipient, details->subject, JobOutcome::jbSent};
  const std::string jobFileName = JobFileName(faxFileName);
  std::string reason;
  // An image without its descriptor would never be sent: the user decides
  // between fixing the cause and giving the fax up, never silently.
  while (!WriteJobFile(env, jobFileName, details->phone, details->recipient, details->subject,
                       &reason)) {
    if (!ui.AskRetryJobFile(JobFileErrorText(jobFileName, reason))) {
      DeleteFaxFile(env, faxFileName);
      JobLogLine discarded = line;
      discarded.outcome = JobOutcome::jbDiscarded;
      log.Append(env, discarded);
      return JobOutcome::jbDiscarded;
    }
  }
  log.Append(env, line);
  if (ui.AskSwitchToFaxProgram()) ui.ActivateOrStartFaxProgram();
  return JobOutcome::jbSent;
}

}  // namespace vz
