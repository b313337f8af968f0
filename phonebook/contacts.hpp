#pragma once
// Contacts in and out of the phone book: reading the files other programs export
// (CSV from spreadsheets, mail programs and address books; vCards from phones and
// address books), putting them into the phone book's table without losing anything
// silently, and writing the phone book back out in those formats.
//
// Nothing here knows windows: `dbftool import`/`export` and the browser's drop of
// files both call it. The typical use:
//
//   const auto codePage = SystemAnsiCodePage();
//   ContactsRead read = ReadContacts(bytes, fileName, *codePage);
//   ImportPlan plan = PlanImport(table, read, {}, *codePage);  // what a question shows
//   ImportSummary done = ApplyImport(table, plan);             // on Yes
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/table.hpp"
#include "phonebook/codepage.hpp"

namespace vz::phonebook {

// One contact as the phone book takes it: name and fax number in the phone book's
// code page, trimmed, not yet checked against the fields' widths.
struct Contact {
  std::string name;
  std::string fax;
  std::size_t line = 0;  // where it starts in the file (1-based)
};

// Why a contact was not imported, for a summary that names reasons rather than lines.
enum class ProblemKind {
  kNameTooLong,
  kFaxTooLong,
  kCharacter,     // a character the code page cannot hold
  kCharacterSet,  // a vCard's CHARSET= that is not known
  kRowShape,      // a CSV row without a header that is not name and fax
  kNoFaxColumn,   // the header names no fax column: the whole file, not one contact
};

// Something the user is told about: the contact named is not imported.
struct ContactProblem {
  std::size_t line = 0;
  std::string text;  // UTF-8
  ProblemKind kind = ProblemKind::kRowShape;
};

// What a file gave.
struct ContactsRead {
  std::string format;  // for the summary: "CSV, semicolon-separated, Windows-1252, with a header"
  std::vector<Contact> contacts;
  std::vector<ContactProblem> problems;
  std::size_t withoutFax = 0;  // contacts with no fax number, skipped
};

// A file that cannot be read as contacts at all (a quote never closed): nothing of it
// is taken.
class ContactsUnreadable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads contacts from a file's bytes, recognising the format and the text encoding
// from the content (the file name is only for messages). Encodings: a byte order mark
// (UTF-8, UTF-16 LE, UTF-16 BE) is honoured; otherwise text that is valid UTF-8 with
// non-ASCII bytes is UTF-8; otherwise it is already in the code page. A contact whose
// name or number the code page cannot hold is listed in `problems`, not taken.
ContactsRead ReadContacts(std::string_view bytes, std::string_view fileName, const AnsiCodePage& codePage);

// ---- into the table ---------------------------------------------------------------

struct ImportOptions {
  // Cut names and numbers longer than their fields instead of listing them.
  bool cut = false;
};

// What an import would do, worked out against the table as it is now.
struct ImportPlan {
  std::vector<std::string> records;  // ready to append, in file order
  std::vector<std::size_t> lines;    // the file line of each record
  std::vector<ContactProblem> problems;  // those of the file's reading, then too-long ones
  std::size_t withoutFax = 0;
  std::size_t duplicates = 0;  // already in the phone book (or earlier in the file)
  std::size_t cut = 0;         // shortened under ImportOptions::cut
};

// How it went.
struct ImportSummary {
  std::size_t added = 0;
  std::size_t withoutFax = 0;
  std::size_t duplicates = 0;
  std::size_t listed = 0;
  std::size_t cut = 0;
  bool bulk = false;  // appended as a batch with the tags built again in one pass
  std::uint32_t firstRecNo = 0;  // the record of the first entry added (0: none)
  // Set when the import stopped part-way (a lock held too long, a full disk): the
  // entries before it are in the phone book, whole; the rest are not.
  bool stopped = false;
  std::size_t stoppedAtLine = 0;
  std::string stopReason;
};

// The table must have the phone book's NAME and PHONE fields (DbError otherwise).
// Reads the table's live entries to find duplicates by name and number, byte for byte,
// and leaves the table in natural order without a filter. Widths are counted in the
// code page's bytes.
// Names in the problems listed are shown in UTF-8 through `codePage`.
ImportPlan PlanImport(vz::db::Table& table, const ContactsRead& read, const ImportOptions& options,
                      const AnsiCodePage& codePage);
// Appends the plan's records as one batch: key by key under one hold of the table's
// locks when few join a large table, otherwise with its tags built again in one sorted
// pass (the table's other users wait for it); the table decides (see
// Table::BatchRebuildsTags). Failures on the way end in a summary with `stopped`.
ImportSummary ApplyImport(vz::db::Table& table, const ImportPlan& plan);
ImportSummary ImportContacts(vz::db::Table& table, const ContactsRead& read, const ImportOptions& options,
                             const AnsiCodePage& codePage);

// The cost of a key update in records of a batch, as the table's rule takes it.
inline constexpr std::uint64_t kKeyUpdateCostInBatchRecords = vz::db::kKeyUpdateCostInBatchRecords;

// ---- out of the table -------------------------------------------------------------

enum class ExportFormat {
  kCsv,      // "name,phone" in the table's code page, as it always was
  kCsvUtf8,  // UTF-8 with a byte order mark and the header "Name,Fax"
  kVCard,    // vCard 3.0 in UTF-8: FN, N and TEL;TYPE=WORK,FAX
};

// A phone book entry as stored (code page, trailing blanks removed).
struct PhoneEntry {
  std::string name;
  std::string phone;
};

// The live entries in name order (tag NAME; the same order without it).
std::vector<PhoneEntry> ReadPhoneEntries(vz::db::Table& table);
std::string WriteContacts(const std::vector<PhoneEntry>& entries, ExportFormat format, const AnsiCodePage& codePage);

}  // namespace vz::phonebook
