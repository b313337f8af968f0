#include "controller/jobflow.hpp"

#include "common/text.hpp"
#include "controller/faxfiles.hpp"

namespace vz {
namespace {

constexpr char kListSeparator = ';';
constexpr char kBlanks[] = " \t";
// Not ".APF" and a valid 8.3 extension, so that "FAX*.APF" never matches a copy
// that is still being written.
constexpr char kCopyTempExtension[] = ".$AP";

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Every part between the separators, trimmed; "a;" has two parts, the second empty.
std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const auto cut = text.find(kListSeparator, from);
    parts.push_back(Trim(text.substr(from, cut == std::string::npos ? std::string::npos : cut - from)));
    if (cut == std::string::npos) return parts;
    from = cut + 1;
  }
}

std::string JoinNumbers(const std::vector<std::string>& numbers) {
  if (numbers.empty()) return "none";
  std::string text;
  for (const std::string& number : numbers) text += (text.empty() ? "" : ", ") + number;
  return text;
}

// The single fax of a document: the driver's image and its descriptor.
JobOutcome QueueOne(ControllerEnv& env, JobUi& ui, JobLog& log, const std::string& faxFileName,
                    const FaxRecipient& to, const std::string& subject) {
  const JobLogLine line{faxFileName, to.number, to.name, subject, JobOutcome::jbSent};
  const std::string jobFileName = JobFileName(faxFileName);
  std::string reason;
  // An image without its descriptor would never be sent: the user decides
  // between fixing the cause and giving the fax up, never silently.
  while (!WriteJobFile(env, jobFileName, to.number, to.name, subject, &reason)) {
    if (!ui.AskRetryJobFile(JobFileErrorText(jobFileName, reason))) {
      DeleteFaxFile(env, faxFileName);
      JobLogLine discarded = line;
      discarded.outcome = JobOutcome::jbDiscarded;
      log.Append(env, discarded);
      return JobOutcome::jbDiscarded;
    }
  }
  log.Append(env, line);
  return JobOutcome::jbSent;
}

// Several faxes of one document. The driver's image is read once, before anything
// is queued: the main fax program may take the image away as soon as its
// descriptor is there, and the copies must not depend on it afterwards. Then, for
// each number in the order typed:
//   the first:  its descriptor (FAXnnnnn.$JF written, renamed to FAXnnnnn.JFD);
//   the others: the next free FAXmmmmm.APF created empty and exclusively (the name
//               is reserved: no document start hands it out, nobody else takes it),
//               the copy written to FAXmmmmm.$AP and renamed over the reservation,
//               then its descriptor as above.
// A failed step leaves no temporary file and goes on with the next number; what a
// failed fax leaves stays for Retry, which writes only what is missing (the copy
// into the name already reserved, or the descriptor alone):
//   reserving fails:          nothing of that fax;
//   writing or renaming the
//   copy fails:               the empty reservation FAXmmmmm.APF;
//   its descriptor fails:     its whole image (the driver's, or the copy).
// Cancel deletes the image (or reservation) of every fax not queued; a fax queued
// is never touched again. So, once the box is closed, every image has its
// descriptor. A driver's image that cannot be read makes every copy fail with that
// reason; the driver's own fax is queued all the same. The log has a line for each
// fax when it is queued or given up; one given up before it had a name of its own
// is logged without an image.
class SeveralJobs {
 public:
  SeveralJobs(ControllerEnv& env, JobLog& log, const std::string& image, const std::vector<FaxRecipient>& to,
              const std::string& subject)
      : env_(env), log_(log), image_(image), subject_(subject) {
    for (const FaxRecipient& recipient : to) faxes_.push_back({recipient, {}, false, false});
    faxes_.front().image = image;
    faxes_.front().imageWritten = true;
  }

  // Tries every fax not yet queued once; true when all are queued.
  bool Pass() {
    reason_.clear();
    const bool sourceRead = ReadSource();
    for (Fax& fax : faxes_) {
      if (fax.queued) continue;
      std::string reason;
      if (!fax.imageWritten && (!sourceRead || !WriteCopy(fax, reason))) {
        Note(sourceRead ? reason : sourceError_);
        continue;
      }
      if (!WriteJobFile(env_, JobFileName(fax.image), fax.to.number, fax.to.name, subject_, &reason)) {
        Note(reason);
        continue;
      }
      fax.queued = true;
      Log(fax, JobOutcome::jbSent);
    }
    return reason_.empty();
  }

  std::string FailureText() const {
    std::vector<std::string> queued, notQueued;
    for (const Fax& fax : faxes_) (fax.queued ? queued : notQueued).push_back(fax.to.number);
    return SeveralJobsErrorText(queued, notQueued, reason_);
  }

  void GiveUpTheRest() {
    for (Fax& fax : faxes_) {
      if (fax.queued) continue;
      if (!fax.image.empty()) env_.RemoveFile(fax.image);
      Log(fax, JobOutcome::jbDiscarded);
    }
  }

  bool AnyQueued() const {
    for (const Fax& fax : faxes_)
      if (fax.queued) return true;
    return false;
  }

 private:
  struct Fax {
    FaxRecipient to;
    std::string image;  // "" until a name is reserved
    bool imageWritten;
    bool queued;
  };

  bool ReadSource() {
    if (sourceRead_) return true;
    for (const Fax& fax : faxes_)
      if (!fax.imageWritten) {
        sourceRead_ = env_.ReadWholeFile(image_, source_);
        if (!sourceRead_) sourceError_ = env_.LastErrorText();
        return sourceRead_;
      }
    return true;
  }

  bool WriteCopy(Fax& fax, std::string& reason) {
    if (fax.image.empty() && !ReserveFaxFileName(env_, DirectoryOf(image_), fax.image, reason)) return false;
    const std::string temp = ChangeFileExt(fax.image, kCopyTempExtension);
    if (env_.WriteWholeFile(temp, source_) && env_.RenameReplacing(temp, fax.image)) {
      fax.imageWritten = true;
      return true;
    }
    reason = env_.LastErrorText();
    env_.RemoveFile(temp);
    return false;
  }

  // The first failure of a pass is the one the user is told about.
  void Note(const std::string& reason) {
    if (reason_.empty()) reason_ = reason.empty() ? std::string("Unknown error.") : reason;
  }

  void Log(const Fax& fax, JobOutcome outcome) {
    log_.Append(env_, {fax.image, fax.to.number, fax.to.name, subject_, outcome});
  }

  ControllerEnv& env_;
  JobLog& log_;
  const std::string image_;
  const std::string subject_;
  std::vector<Fax> faxes_;
  std::string source_;
  bool sourceRead_ = false;
  std::string sourceError_;
  std::string reason_;
};

JobOutcome QueueSeveral(ControllerEnv& env, JobUi& ui, JobLog& log, const std::string& faxFileName,
                        const std::vector<FaxRecipient>& to, const std::string& subject) {
  SeveralJobs jobs(env, log, faxFileName, to, subject);
  while (!jobs.Pass()) {
    if (!ui.AskRetryJobFile(jobs.FailureText())) {
      jobs.GiveUpTheRest();
      break;
    }
  }
  return jobs.AnyQueued() ? JobOutcome::jbSent : JobOutcome::jbDiscarded;
}

}  // namespace

RecipientSplit SplitRecipients(const std::string& phone, const std::string& recipient) {
  RecipientSplit split;
  if (phone.find(kListSeparator) == std::string::npos) {
    split.faxes.push_back({phone, recipient});
    return split;
  }
  const std::vector<std::string> numbers = SplitList(phone);
  split.numberParts = numbers.size();
  std::vector<std::string> names(numbers.size(), recipient);
  if (recipient.find(kListSeparator) != std::string::npos) {
    names = SplitList(recipient);
    split.nameParts = names.size();
    if (names.size() != numbers.size()) return split;
  }
  for (std::size_t i = 0; i < numbers.size(); ++i)
    if (!numbers[i].empty()) split.faxes.push_back({numbers[i], names[i]});
  if (split.faxes.empty()) split.faxes.push_back({std::string(), recipient});
  return split;
}

std::string RecipientCountProblem(const std::string& phone, const std::string& recipient) {
  const RecipientSplit split = SplitRecipients(phone, recipient);
  if (split.CountsAgree()) return std::string();
  return Clip255(Format("Phone has %u parts separated by \";\", Recipient has %u.\r\r"
                        "Type one name for each number, or one name for all of them.",
                        static_cast<unsigned>(split.numberParts), static_cast<unsigned>(split.nameParts)));
}

std::string JobFileErrorText(const std::string& jobFileName, const std::string& reason) {
  return Clip255("The fax details could not be saved in\r" + jobFileName + "\r" + reason +
                 "\r\rRetry saves them again; Cancel discards this fax.");
}

std::string SeveralJobsErrorText(const std::vector<std::string>& queued,
                                 const std::vector<std::string>& notQueued, const std::string& reason) {
  return Clip255("Queued: " + JoinNumbers(queued) + "\rNot queued: " + JoinNumbers(notQueued) + "\r" + reason +
                 "\r\rRetry queues the rest again; Cancel gives them up.");
}

JobOutcome FinishJob(ControllerEnv& env, JobUi& ui, JobLog& log, const std::string& faxFileName) {
  const std::optional<FaxDetails> details = ui.AskFaxDetails();
  if (!details) {
    DeleteFaxFile(env, faxFileName);
    log.Append(env, {faxFileName, "", "", "", JobOutcome::jbCancelled});
    return JobOutcome::jbCancelled;
  }
  RecipientSplit split = SplitRecipients(details->phone, details->recipient);
  // The dialog lets no disagreeing counts through; should they come all the same,
  // nothing is guessed: one fax, as typed.
  if (!split.CountsAgree()) split.faxes.push_back({details->phone, details->recipient});
  const JobOutcome outcome =
      split.faxes.size() == 1 ? QueueOne(env, ui, log, faxFileName, split.faxes.front(), details->subject)
                              : QueueSeveral(env, ui, log, faxFileName, split.faxes, details->subject);
  if (outcome == JobOutcome::jbSent && ui.AskSwitchToFaxProgram()) ui.ActivateOrStartFaxProgram();
  return outcome;
}

}  // namespace vz
