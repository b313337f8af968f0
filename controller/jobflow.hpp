#pragma once
// The end of a printed document: the user's fax details, the job descriptor
// beside the image, and the offer to switch to the main fax program.
#include <optional>
#include <string>

#include "controller/controller_env.hpp"
#include "controller/joblog.hpp"

namespace vz {

struct FaxDetails {
  std::string phone;
  std::string recipient;
  std::string subject;
};

// The questions a document end asks; windows on Win32, scripted in the tests.
class JobUi {
 public:
  virtual ~JobUi() = default;
  // The fax details dialog; nothing when it ended with anything but Ok.
  virtual std::optional<FaxDetails> AskFaxDetails() = 0;
  // The job descriptor could not be written (`text` says which and why): true to
  // try again, false to give the fax up.
  virtual bool AskRetryJobFile(const std::string& text) = 0;
  // "Switch to VelmorFAX now?": true for Yes.
  virtual bool AskSwitchToFaxProgram() = 0;
  virtual void ActivateOrStartFaxProgram() = 0;
};

inline constexpr char kSwitchQuestion[] = "Switch to VelmorFAX now?";
inline constexpr char kSwitchCaption[] = "FAX CREATED";
inline constexpr char kJobFileErrorCaption[] = "FAX NOT SAVED";

// The text of the box shown when the descriptor cannot be written, cut after its
// 255th character.
std::string JobFileErrorText(const std::string& jobFileName, const std::string& reason);

// Runs the document end for the image `faxFileName` handed out at its start and
// enters its outcome in `log` as soon as it is known (a queued fax before the
// question about switching).
JobOutcome FinishJob(ControllerEnv& env, JobUi& ui, JobLog& log, const std::string& faxFileName);

}  // namespace vz
