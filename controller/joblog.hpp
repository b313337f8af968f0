#pragma once
// The job log: one CSV line for every fax the controller queued, cancelled or
// discarded, in %APPDATA%\VelmorFAX\jobs.csv, and the recent recipients read
// back from it.
//
// The file is UTF-8 with a byte order mark and a header row, lines end in CR LF
// and fields are quoted as RFC 4180 says, so a spreadsheet opens it as it is:
//
//   Time,Image,Number,Recipient,Subject,Outcome
//   2026-12-09T10:52:07,C:\VZ\SEND\FAX00000.APF,+49 30 1234567,"Roe, Jane",Offer,queued
//
// Before a line is appended that would take the file past 1,048,576 bytes, the
// file is renamed to jobs.1.csv (replacing the one before) and the line starts a
// new jobs.csv; so jobs.csv never passes the limit unless a single line does.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "controller/controller_env.hpp"
#include "phonebook/codepage.hpp"

namespace vz {

enum class JobOutcome {
  jbSent,       // image and descriptor left for the main fax program
  jbCancelled,  // the dialog was not ended with Ok: image deleted
  jbDiscarded,  // the descriptor could not be written and the user gave up: image deleted
};

inline constexpr char kJobLogFolder[] = "VelmorFAX";
inline constexpr char kJobLogFile[] = "jobs.csv";
inline constexpr char kJobLogOlderFile[] = "jobs.1.csv";
inline constexpr std::uint64_t kJobLogLimit = 1048576;
inline constexpr char kJobLogBom[] = "\xEF\xBB\xBF";
inline constexpr char kJobLogHeader[] = "Time,Image,Number,Recipient,Subject,Outcome\r\n";

// One line of the log; the texts are in the ANSI code page, as the user typed them.
struct JobLogLine {
  std::string image;
  std::string number;
  std::string recipient;
  std::string subject;
  JobOutcome outcome = JobOutcome::jbSent;
};

// "queued", "cancelled" or "discarded".
std::string_view OutcomeText(JobOutcome outcome);
// "2026-12-09T10:52:07".
std::string IsoLocalTime(const LocalTime& time);
// A CSV field: in double quotes (those inside doubled) when it holds a comma, a
// double quote, a CR or an LF; else as it is.
std::string CsvField(std::string_view text);
// The bytes of one line, CR LF included; the texts converted to UTF-8.
std::string JobLogRecord(const LocalTime& time, const JobLogLine& line,
                         const phonebook::AnsiCodePage& codePage);

// The log of one run of the controller. A log that cannot be written never holds
// up or changes a job: the user is told once per run, in an information box, and
// the job goes on.
class JobLog {
 public:
  explicit JobLog(const phonebook::AnsiCodePage& codePage) : codePage_(codePage) {}

  // Appends the line; false (after the notice, the first time) when it could not.
  bool Append(ControllerEnv& env, const JobLogLine& line);

 private:
  // Creates the folder when missing, moves a full file aside and appends.
  bool Write(ControllerEnv& env, const std::string& folder, const std::string& record);
  void Tell(ControllerEnv& env, const std::string& path, const std::string& reason);

  const phonebook::AnsiCodePage& codePage_;
  bool told_ = false;
};

// The text of the box about a log that cannot be written, cut after its 255th
// character.
std::string JobLogErrorText(const std::string& path, const std::string& reason);

// %APPDATA%\VelmorFAX, or "" when the system names no application data folder.
std::string JobLogFolder(ControllerEnv& env);

// A number and recipient a fax was queued for, in UTF-8 as the log holds them.
struct RecentRecipient {
  std::string number;
  std::string recipient;
  bool operator==(const RecentRecipient&) const = default;
};

// The rows of CSV text (a byte order mark at its start is skipped); a last row
// cut short by a failed write is kept as far as it goes.
std::vector<std::vector<std::string>> ParseCsv(std::string_view text);

// The last `count` distinct number-and-recipient pairs that were queued, newest
// first, from the texts of the log files, newest file first (jobs.csv, then
// jobs.1.csv).
std::vector<RecentRecipient> RecentRecipients(const std::vector<std::string_view>& logTexts,
                                              std::size_t count);
// The same, read from the log's files; a file that cannot be read counts as empty.
std::vector<RecentRecipient> ReadRecentRecipients(ControllerEnv& env, std::size_t count);

}  // namespace vz
