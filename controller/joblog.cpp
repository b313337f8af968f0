#include "controller/joblog.hpp"

#include <set>
#include <utility>

#include "common/text.hpp"

namespace vz {
namespace {

constexpr std::string_view kBom = kJobLogBom;
// The columns the recent recipients are read from.
constexpr std::size_t kNumberColumn = 2;
constexpr std::size_t kRecipientColumn = 3;
constexpr std::size_t kOutcomeColumn = 5;
constexpr char kQueued[] = "queued";

// Reads one field of CSV text from `at`, which is left on the comma, the line end
// or the end that follows it.
std::string NextField(std::string_view text, std::size_t& at) {
  std::string field;
  if (at < text.size() && text[at] == '"') {
    ++at;
    while (at < text.size()) {
      if (text[at] != '"') {
        field += text[at++];
      } else if (at + 1 < text.size() && text[at + 1] == '"') {
        field += '"';
        at += 2;
      } else {
        ++at;
        break;
      }
    }
  }
  // Unquoted text, and whatever a malformed quoted field has after its closing quote.
  while (at < text.size() && text[at] != ',' && text[at] != '\r' && text[at] != '\n') field += text[at++];
  return field;
}

// Moves `at` past a line end (CR LF, LF or a lone CR); true when there was one.
bool SkipLineEnd(std::string_view text, std::size_t& at) {
  if (at >= text.size()) return false;
  if (text[at] == '\r') {
    ++at;
    if (at < text.size() && text[at] == '\n') ++at;
    return true;
  }
  if (text[at] == '\n') {
    ++at;
    return true;
  }
  return false;
}

}  // namespace

std::string_view OutcomeText(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::jbSent:
      return kQueued;
    case JobOutcome::jbCancelled:
      return "cancelled";
    case JobOutcome::jbDiscarded:
      return "discarded";
  }
  return "unknown";
}

std::string IsoLocalTime(const LocalTime& time) {
  return Format("%04d-%02d-%02dT%02d:%02d:%02d", time.year, time.month, time.day, time.hour, time.minute,
                time.second);
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

std::string JobLogRecord(const LocalTime& time, const JobLogLine& line,
                         const phonebook::AnsiCodePage& codePage) {
  const auto field = [&](const std::string& ansi) { return CsvField(codePage.ToUtf8(ansi)); };
  return IsoLocalTime(time) + ',' + field(line.image) + ',' + field(line.number) + ',' +
         field(line.recipient) + ',' + field(line.subject) + ',' + std::string(OutcomeText(line.outcome)) +
         "\r\n";
}

std::string JobLogErrorText(const std::string& path, const std::string& reason) {
  return Clip255("The job log could not be written:\r" + path + "\r" + reason +
                 "\r\rFaxes are not affected. This is not shown again until the controller is started again.");
}

std::string JobLogFolder(ControllerEnv& env) {
  const std::string appData = env.AppDataDirectory();
  return appData.empty() ? std::string() : JoinPath(appData, kJobLogFolder);
}

bool JobLog::Append(ControllerEnv& env, const JobLogLine& line) {
  const std::string folder = JobLogFolder(env);
  if (folder.empty()) {
    Tell(env, JoinPath("%APPDATA%\\" + std::string(kJobLogFolder), kJobLogFile),
         "The system names no application data folder.");
    return false;
  }
  return Write(env, folder, JobLogRecord(env.Now(), line, codePage_));
}

bool JobLog::Write(ControllerEnv& env, const std::string& folder, const std::string& record) {
  const std::string path = JoinPath(folder, kJobLogFile);
  if (!env.DirectoryExists(folder) && !env.MakeDirectory(folder)) {
    Tell(env, path, env.LastErrorText());
    return false;
  }
  std::uint64_t size = 0;
  if (!env.FileSize(path, size)) size = 0;
  if (size > 0 && size + record.size() > kJobLogLimit) {
    // A log that cannot be moved aside still takes the line: nothing is lost, and
    // the next line tries again.
    if (env.RenameReplacing(path, JoinPath(folder, kJobLogOlderFile)))
      size = 0;
    else
      Tell(env, JoinPath(folder, kJobLogOlderFile), env.LastErrorText());
  }
  const std::string bytes = size == 0 ? std::string(kBom) + kJobLogHeader + record : record;
  if (env.AppendToFile(path, bytes)) return true;
  Tell(env, path, env.LastErrorText());
  return false;
}

void JobLog::Tell(ControllerEnv& env, const std::string& path, const std::string& reason) {
  if (told_) return;
  told_ = true;
  env.ShowInfo(JobLogErrorText(path, reason));
}

std::vector<std::vector<std::string>> ParseCsv(std::string_view text) {
  if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());
  std::vector<std::vector<std::string>> rows;
  std::size_t at = 0;
  while (at < text.size()) {
    std::vector<std::string> row;
    for (;;) {
      row.push_back(NextField(text, at));
      if (at >= text.size() || text[at] != ',') break;
      ++at;
    }
    SkipLineEnd(text, at);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<RecentRecipient> RecentRecipients(const std::vector<std::string_view>& logTexts,
                                              std::size_t count) {
  std::vector<RecentRecipient> recent;
  std::set<std::pair<std::string, std::string>> seen;
  for (std::string_view text : logTexts) {
    const auto rows = ParseCsv(text);
    for (auto row = rows.rbegin(); row != rows.rend() && recent.size() < count; ++row) {
      if (row->size() <= kOutcomeColumn || (*row)[kOutcomeColumn] != kQueued) continue;
      const std::string& number = (*row)[kNumberColumn];
      const std::string& recipient = (*row)[kRecipientColumn];
      if (seen.insert({number, recipient}).second) recent.push_back({number, recipient});
    }
  }
  return recent;
}

std::vector<RecentRecipient> ReadRecentRecipients(ControllerEnv& env, std::size_t count) {
  const std::string folder = JobLogFolder(env);
  if (folder.empty()) return {};
  std::string newer, older;
  if (!env.ReadWholeFile(JoinPath(folder, kJobLogFile), newer)) newer.clear();
  if (!env.ReadWholeFile(JoinPath(folder, kJobLogOlderFile), older)) older.clear();
  return RecentRecipients({newer, older}, count);
}

}  // namespace vz
