// CSV as spreadsheets, mail programs and address books write it: comma, semicolon or
// tab separators, fields in double quotes with doubled quotes inside, CR LF or LF
// line ends, a header row naming the columns or none.
#include <algorithm>
#include <array>

#include "common/text.hpp"
#include "phonebook/contacts_text.hpp"

namespace vz::phonebook::contacts {

namespace {

// Reads rows one at a time, reusing the row's storage (a million-row file costs no
// allocation per row).
class CsvReader {
 public:
  CsvReader(std::string_view text, char separator) : text_(text), separator_(separator) {}

  // The next row that is not blank; false at the end. `line` is where it starts.
  bool Next(std::vector<std::string>& fields, std::size_t& line) {
    while (at_ < text_.size()) {
      line = line_;
      if (ReadRow(fields)) return true;
    }
    return false;
  }

 private:
  bool ReadRow(std::vector<std::string>& fields) {
    std::size_t count = 0;
    bool any = false;
    for (;;) {
      if (count == fields.size()) fields.emplace_back();
      std::string& field = fields[count++];
      field.clear();
      const char end = ReadField(field, any);
      if (end != separator_) break;
      any = true;
    }
    fields.resize(count);
    return any;
  }

  // Reads one field; returns what ended it: the separator, '\n' or 0 at the end.
  char ReadField(std::string& field, bool& any) {
    const std::size_t startLine = line_;
    if (at_ < text_.size() && text_[at_] == '"') {
      any = true;
      ++at_;
      for (;;) {
        const std::size_t q = text_.find('"', at_);
        if (q == std::string_view::npos)
          throw ContactsUnreadable(Format("line %zu: a quoted field is not closed", startLine));
        line_ += static_cast<std::size_t>(std::count(text_.begin() + static_cast<long>(at_),
                                                      text_.begin() + static_cast<long>(q), '\n'));
        field.append(text_.substr(at_, q - at_));
        at_ = q + 1;
        if (at_ < text_.size() && text_[at_] == '"') {
          field += '"';
          ++at_;
          continue;
        }
        break;
      }
      // Text after the closing quote (a sloppy writer's `"a" b`) is kept.
    }
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == separator_) return c;
      if (c == '\n') {
        ++line_;
        return c;
      }
      if (c == '\r' && at_ < text_.size() && text_[at_] == '\n') continue;
      if (c == '\r' && (at_ >= text_.size() || text_[at_] != '\n')) {
        // A lone CR ends the line as well (old Mac line ends).
        ++line_;
        return '\n';
      }
      field += c;
      any = true;
    }
    return 0;
  }

  std::string_view text_;
  char separator_;
  std::size_t at_ = 0;
  std::size_t line_ = 1;
};

// The separator that splits the first rows into the same number of columns, the most
// of them; a file where none does is taken by its first row. Semicolon files from
// European spreadsheets hold unquoted commas in "Last, First" names.
char DetectSeparator(std::string_view text) {
  const std::array<char, 3> candidates = {'\t', ';', ','};
  char best = ',';
  int bestScore = 0;
  std::size_t bestColumns = 0;
  for (char sep : candidates) {
    CsvReader reader(text, sep);
    std::vector<std::string> fields;
    std::size_t line = 0, first = 0;
    bool steady = true;
    try {
      for (int row = 0; row < 50 && reader.Next(fields, line); ++row) {
        if (row == 0) first = fields.size();
        if (fields.size() != first) steady = false;
      }
    } catch (const ContactsUnreadable&) {
      steady = false;
    }
    // Steady columns beat a first row that splits; a file that nothing splits is
    // comma-separated.
    const int score = first < 2 ? 0 : steady ? 2 : 1;
    if (score > bestScore || (score == bestScore && score > 0 && first > bestColumns)) {
      best = sep;
      bestScore = score;
      bestColumns = first;
    }
  }
  return best;
}

const char* SeparatorName(char sep) { return sep == '\t' ? "tab" : sep == ';' ? "semicolon" : "comma"; }

// Where the name and the fax number are, from the header's column names.
struct Columns {
  int name = -1, first = -1, last = -1, company = -1;
  // Fax columns by preference (lower first); typed pairs have a type column too.
  struct Fax {
    int priority;
    int value;
    int type;  // -1: a fax column by its name
  };
  std::vector<Fax> fax;
  bool Any() const { return name >= 0 || first >= 0 || last >= 0 || company >= 0 || !fax.empty(); }
};

constexpr int kWorkFaxPriority = 0;

int FixedFaxPriority(const std::string& h) {
  if (h == "business fax" || h == "work fax") return 0;
  if (h == "fax" || h == "fax #" || h == "fax number") return 1;
  if (h == "home fax") return 4;
  if (h == "other fax") return 5;
  // The column the phone book's own CSV export writes: its numbers are fax numbers.
  if (h == "phone") return 6;
  return -1;
}

// "Phone 3 - Type" / "Phone 3 - Label" / "Phone 3 - Value": the number and the part.
bool TypedPhoneColumn(const std::string& h, std::string& number, std::string& part) {
  if (h.rfind("phone ", 0) != 0) return false;
  const std::size_t dash = h.find(" - ", 6);
  if (dash == std::string::npos) return false;
  number = h.substr(6, dash - 6);
  part = h.substr(dash + 3);
  return !number.empty() && std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

Columns MapHeader(const std::vector<std::string>& header) {
  Columns c;
  std::vector<std::pair<std::string, int>> types, values;
  for (std::size_t i = 0; i < header.size(); ++i) {
    const std::string h = LowerAscii(Trim(header[i]));
    const int col = static_cast<int>(i);
    std::string number, part;
    if (c.name < 0 && (h == "name" || h == "full name" || h == "display name")) c.name = col;
    else if (c.first < 0 && (h == "first name" || h == "given name")) c.first = col;
    else if (c.last < 0 && (h == "last name" || h == "family name" || h == "surname")) c.last = col;
    else if (c.company < 0 && (h == "company" || h == "organization" || h == "organization name" ||
                               h == "organization 1 - name"))
      c.company = col;
    else if (FixedFaxPriority(h) >= 0) c.fax.push_back({FixedFaxPriority(h), col, -1});
    else if (TypedPhoneColumn(h, number, part) && (part == "type" || part == "label")) types.emplace_back(number, col);
    else if (TypedPhoneColumn(h, number, part) && part == "value") values.emplace_back(number, col);
  }
  for (const auto& [number, typeCol] : types)
    for (const auto& [n, valueCol] : values)
      if (n == number) c.fax.push_back({kWorkFaxPriority, valueCol, typeCol});
  return c;
}

// A typed number's preference by its type: work fax before other faxes; not a fax: -1.
int TypedFaxPriority(const std::string& type) {
  const std::string t = LowerAscii(type);
  if (t.find("fax") == std::string::npos) return -1;
  if (t.find("work") != std::string::npos || t.find("business") != std::string::npos) return 2;
  if (t.find("home") != std::string::npos) return 4;
  return 3;
}

const std::string& Cell(const std::vector<std::string>& row, int col) {
  static const std::string kEmpty;
  return col >= 0 && static_cast<std::size_t>(col) < row.size() ? row[static_cast<std::size_t>(col)] : kEmpty;
}

// Address books with typed phone columns put several numbers of one type into one
// cell: "a ::: b".
std::string FirstNumber(const std::string& cell) {
  const std::size_t sep = cell.find(":::");
  return Trim(sep == std::string::npos ? cell : cell.substr(0, sep));
}

std::string NameOf(const Columns& c, const std::vector<std::string>& row) {
  std::string name = Trim(Cell(row, c.name));
  if (name.empty()) name = LastFirst(Trim(Cell(row, c.last)), Trim(Cell(row, c.first)));
  if (name.empty()) name = Trim(Cell(row, c.company));
  return name;
}

std::string FaxOf(const Columns& c, const std::vector<std::string>& row) {
  std::string best;
  int bestPriority = 1 << 20;
  for (const auto& f : c.fax) {
    int priority = f.priority;
    if (f.type >= 0) priority = TypedFaxPriority(Cell(row, f.type));
    if (priority < 0 || priority >= bestPriority) continue;
    std::string number = f.type >= 0 ? FirstNumber(Cell(row, f.value)) : Trim(Cell(row, f.value));
    if (number.empty()) continue;
    best = std::move(number);
    bestPriority = priority;
  }
  return best;
}

}  // namespace

void ReadCsv(const DecodedText& text, const AnsiCodePage& codePage, ContactsRead& read) {
  const char sep = DetectSeparator(text.utf8);
  CsvReader reader(text.utf8, sep);
  std::vector<std::string> row;
  std::size_t line = 0;
  Columns columns;
  bool header = false;
  if (reader.Next(row, line)) {
    columns = MapHeader(row);
    header = columns.Any();
    if (header && columns.fax.empty())
      read.problems.push_back({line, "the header names no fax column (\"Fax\", \"Business Fax\", \"Home Fax\", "
                                     "\"Other Fax\", or a \"Phone N - Type\" of fax)",
                            ProblemKind::kNoFaxColumn});
  }
  read.format = Format("CSV, %s-separated, %s, %s", SeparatorName(sep), EncodingName(text.encoding, codePage).c_str(),
                       header ? "with a header" : "no header");
  if (!header && !row.empty()) reader = CsvReader(text.utf8, sep);
  while (reader.Next(row, line)) {
    if (header) {
      Admit(NameOf(columns, row), FaxOf(columns, row), line, codePage, read);
    } else if (row.size() <= 2) {
      Admit(row[0], row.size() == 2 ? row[1] : std::string(), line, codePage, read);
    } else {
      read.problems.push_back({line, Format("%zu values; a row is name%cfax", row.size(), sep == '\t' ? ' ' : sep),
                               ProblemKind::kRowShape});
    }
  }
}

}  // namespace vz::phonebook::contacts
