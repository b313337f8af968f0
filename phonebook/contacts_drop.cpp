// Contact files dropped on the phone book browser: the files taken and the texts.
#include "phonebook/contacts_drop.hpp"

#include <algorithm>
#include <array>
#include <iterator>

#include "common/text.hpp"

namespace vz::phonebook {

namespace {

// A message box shows this many characters of its text.
constexpr std::size_t kBoxText = 255;
// Longer file names are shortened in the question, so that its counts stay in view.
constexpr std::size_t kLabelLength = 40;
constexpr std::size_t kLabelFiles = 3;

std::string Count(std::size_t n, const char* one, const char* many) {
  return Format("%zu %s", n, n == 1 ? one : many);
}

// What the user is told about a contact that was not taken, by kind of problem.
const char* ReasonOf(ProblemKind kind) {
  switch (kind) {
    case ProblemKind::kNameTooLong: return "a name too long";
    case ProblemKind::kFaxTooLong: return "a fax number too long";
    case ProblemKind::kCharacter: return "a character this computer cannot show";
    case ProblemKind::kCharacterSet: return "an unknown character set";
    case ProblemKind::kRowShape: return "not a name and a fax number";
    case ProblemKind::kNoFaxColumn: break;
  }
  return "";
}

constexpr std::array<ProblemKind, 5> kContactKinds{ProblemKind::kNameTooLong, ProblemKind::kFaxTooLong,
                                                   ProblemKind::kCharacter, ProblemKind::kCharacterSet,
                                                   ProblemKind::kRowShape};

// "2 without a fax number and 1 already in the phone book are left out."
std::string SkippedLine(const ImportPlan& plan) {
  std::vector<std::string> parts;
  if (plan.withoutFax > 0) parts.push_back(Format("%zu without a fax number", plan.withoutFax));
  if (plan.duplicates > 0) parts.push_back(Format("%zu already in the phone book", plan.duplicates));
  if (parts.empty()) return {};
  const bool one = parts.size() == 1 && plan.withoutFax + plan.duplicates == 1;
  std::string line = parts[0];
  if (parts.size() == 2) line += " and " + parts[1];
  return line + (one ? " is left out." : " are left out.");
}

// "3 could not be read (a name too long, a character this computer cannot show).",
// the most frequent reason first; without the reasons when `withReasons` is false.
std::string ProblemsLine(const ImportPlan& plan, bool withReasons) {
  std::array<std::size_t, kContactKinds.size()> counts{};
  std::size_t total = 0;
  for (const ContactProblem& p : plan.problems) {
    const auto at = std::find(kContactKinds.begin(), kContactKinds.end(), p.kind);
    if (at == kContactKinds.end()) continue;
    ++counts[static_cast<std::size_t>(at - kContactKinds.begin())];
    ++total;
  }
  if (total == 0) return {};
  std::vector<std::size_t> order(kContactKinds.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return counts[a] > counts[b]; });
  std::string reasons;
  for (std::size_t i : order) {
    if (counts[i] == 0) continue;
    reasons += (reasons.empty() ? "" : ", ") + std::string(ReasonOf(kContactKinds[i]));
  }
  return Format("%zu could not be read", total) + (withReasons ? " (" + reasons + ")." : ".");
}

bool NoFaxColumn(const ImportPlan& plan) {
  return std::any_of(plan.problems.begin(), plan.problems.end(),
                     [](const ContactProblem& p) { return p.kind == ProblemKind::kNoFaxColumn; });
}

std::string LeftOut(const ImportPlan& plan, bool withReasons) {
  std::string text;
  for (const std::string& line :
       {SkippedLine(plan), ProblemsLine(plan, withReasons),
        std::string(NoFaxColumn(plan) ? "The file's header names no fax column." : "")}) {
    if (line.empty()) continue;
    text += (text.empty() ? "" : "\n") + line;
  }
  return text;
}

// The head and what is left out under it; the reasons go when the whole would not fit.
std::string WithLeftOut(const std::string& head, const ImportPlan& plan) {
  for (bool withReasons : {true, false}) {
    const std::string left = LeftOut(plan, withReasons);
    const std::string text = left.empty() ? head : head + "\n\n" + left;
    if (text.size() <= kBoxText || !withReasons) return text;
  }
  return head;
}

std::string Shortened(const std::string& name) {
  if (name.size() <= kLabelLength) return name;
  const std::size_t tail = 12;
  return name.substr(0, kLabelLength - tail - 3) + "..." + name.substr(name.size() - tail);
}

}  // namespace

bool IsContactsFileName(std::string_view path) {
  const std::string name = UpperAscii(FileNameOf(path));
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string ext = name.substr(dot);
  return ext == ".CSV" || ext == ".VCF" || ext == ".TXT";
}

std::string FileNameOf(std::string_view path) {
  const std::size_t slash = path.find_last_of("\\/");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string FilesLabel(const std::vector<std::string>& paths) {
  if (paths.size() == 1) return Shortened(FileNameOf(paths[0]));
  std::string label;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (i > 0) label += i + 1 == paths.size() ? " and " : ", ";
    label += FileNameOf(paths[i]);
  }
  if (paths.size() > kLabelFiles || label.size() > kLabelLength) return Format("%zu files", paths.size());
  return label;
}

ContactsRead JoinReads(std::vector<ContactsRead> reads) {
  if (reads.empty()) return {};
  ContactsRead all = std::move(reads[0]);
  for (std::size_t i = 1; i < reads.size(); ++i) {
    ContactsRead& r = reads[i];
    all.contacts.insert(all.contacts.end(), std::make_move_iterator(r.contacts.begin()),
                        std::make_move_iterator(r.contacts.end()));
    all.problems.insert(all.problems.end(), std::make_move_iterator(r.problems.begin()),
                        std::make_move_iterator(r.problems.end()));
    all.withoutFax += r.withoutFax;
  }
  return all;
}

std::string ImportQuestion(const ImportPlan& plan, const std::string& files) {
  return WithLeftOut("Import " + Count(plan.records.size(), "entry", "entries") + " from " + files +
                         " into the phone book?",
                     plan);
}

std::string NothingToImportText(const ImportPlan& plan, const std::string& files) {
  return WithLeftOut("There is nothing to import from " + files + ".", plan);
}

std::string LeftOutText(const ImportPlan& plan) { return LeftOut(plan, true); }

std::string ImportStoppedText(const ImportSummary& done) {
  // A batch small next to the phone book goes in whole or not at all.
  if (done.added == 0)
    return "The import stopped before adding any entry: " + done.stopReason +
           "\n\nDropping the files again adds them.";
  return "The import stopped after adding " + Count(done.added, "entry", "entries") + ": " + done.stopReason +
         "\n\nDropping the files again adds only the rest.";
}

}  // namespace vz::phonebook
