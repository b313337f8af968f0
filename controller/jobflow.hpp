#pragma once
// The end of a printed document: the user's fax details, the job descriptor
// beside the image, and the offer to switch to the main fax program.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "controller/controller_env.hpp"
#include "controller/joblog.hpp"

namespace vz {

struct FaxDetails {
  std::string phone;
  std::string recipient;
  std::string subject;
};

// One fax of a document: a number and the recipient's name for it.
struct FaxRecipient {
  std::string number;
  std::string name;
  bool operator==(const FaxRecipient&) const = default;
};

// Phone and Recipient as the dialog's Ok takes them apart.
//
// A Phone without ";" is one fax with Phone and Recipient exactly as typed (a ";"
// in Recipient is then part of the name). A Phone with ";" is a list: each part
// between the ";" is trimmed of blanks, and a part left empty (as in "111;;222",
// or after a trailing ";") is dropped together with the name at its position. A
// Recipient without ";" (one name, or none) is used as typed for every number; a
// Recipient with ";" must have as many parts as Phone (empty ones counted), each
// trimmed and paired with the number at its position. A list with one number left
// is one fax; a list with none is one fax without a number, as an empty Phone is.
struct RecipientSplit {
  std::vector<FaxRecipient> faxes;  // empty when the counts disagree
  std::size_t numberParts = 0;      // parts of a Phone with ";", else 0
  std::size_t nameParts = 0;        // parts of a Recipient with ";", else 0
  bool CountsAgree() const { return !faxes.empty(); }
};
RecipientSplit SplitRecipients(const std::string& phone, const std::string& recipient);

// "" when Phone and Recipient can be taken apart; else the text telling the user
// that the counts disagree, naming both.
std::string RecipientCountProblem(const std::string& phone, const std::string& recipient);

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

// The text of the box shown when some of several faxes could not be queued, cut
// after its 255th character.
std::string SeveralJobsErrorText(const std::vector<std::string>& queued,
                                 const std::vector<std::string>& notQueued, const std::string& reason);

// Runs the document end for the image `faxFileName` handed out at its start and
// enters its outcome in `log` as soon as it is known (a queued fax before the
// question about switching). Several numbers give several faxes: the first is the
// driver's image, each further one a copy of it under the next free fax name, each
// with its own descriptor; the log gets a line for each ("cancelled" stays one
// line for the whole document). jbSent when at least one fax was queued.
JobOutcome FinishJob(ControllerEnv& env, JobUi& ui, JobLog& log, const std::string& faxFileName);

}  // namespace vz
