// The phone book written out for other programs: CSV in the table's code page (as
// dbftool always wrote it), CSV in UTF-8 for spreadsheets, and vCard 3.0.
#include <algorithm>

#include "phonebook/contacts.hpp"

namespace vz::phonebook {

using vz::db::Table;

namespace {

std::string RTrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string CsvField(const std::string& value) {
  if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

// RFC 2426 text value: backslash, comma, semicolon and line breaks escaped.
std::string VCardText(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\' || c == ',' || c == ';') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

// Lines of more than 75 octets are folded (CR LF and a blank), never inside a
// UTF-8 sequence.
std::string Folded(const std::string& line) {
  std::string out;
  std::size_t taken = 0, limit = 75;
  while (line.size() - taken > limit) {
    std::size_t cut = taken + limit;
    while (cut > taken && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    out.append(line, taken, cut - taken);
    out += "\r\n ";
    taken = cut;
    limit = 74;  // the blank counts
  }
  out.append(line, taken, std::string::npos);
  return out + "\r\n";
}

// "Last, First" split back for N; any other name is the family name alone.
std::string StructuredName(const std::string& name) {
  const std::size_t comma = name.find(", ");
  if (comma == std::string::npos || name.find(", ", comma + 2) != std::string::npos) return VCardText(name) + ";;;;";
  return VCardText(name.substr(0, comma)) + ";" + VCardText(name.substr(comma + 2)) + ";;;";
}

}  // namespace

std::vector<PhoneEntry> ReadPhoneEntries(Table& table) {
  const int nameField = table.FieldIndex("NAME"), phoneField = table.FieldIndex("PHONE");
  if (nameField < 0 || phoneField < 0) throw vz::db::DbError(table.Path() + " has no NAME and PHONE fields");
  table.SetFilter(".not. deleted()");
  const int order = table.TagOrder("NAME");
  table.SetOrder(order);
  std::vector<PhoneEntry> entries;
  for (bool ok = table.GoTop(); ok; ok = table.Skip(1))
    entries.push_back({RTrim(table.FieldText(nameField)), RTrim(table.FieldText(phoneField))});
  // Without the tag, the same order: binary on the stored names, record order among
  // equals (the stored names are padded, so compare as padded).
  if (order == 0)
    std::stable_sort(entries.begin(), entries.end(), [](const PhoneEntry& a, const PhoneEntry& b) {
      const std::size_t n = std::max(a.name.size(), b.name.size());
      std::string pa = a.name, pb = b.name;
      pa.resize(n, ' ');
      pb.resize(n, ' ');
      return pa < pb;
    });
  return entries;
}

std::string WriteContacts(const std::vector<PhoneEntry>& entries, ExportFormat format, const AnsiCodePage& codePage) {
  std::string out;
  switch (format) {
    case ExportFormat::kCsv:
      out = "name,phone\r\n";
      for (const auto& e : entries) out += CsvField(e.name) + ',' + CsvField(e.phone) + "\r\n";
      break;
    case ExportFormat::kCsvUtf8:
      out = "\xEF\xBB\xBFName,Fax\r\n";
      for (const auto& e : entries)
        out += CsvField(codePage.ToUtf8(e.name)) + ',' + CsvField(codePage.ToUtf8(e.phone)) + "\r\n";
      break;
    case ExportFormat::kVCard:
      for (const auto& e : entries) {
        const std::string name = codePage.ToUtf8(e.name);
        out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
        out += Folded("FN:" + VCardText(name));
        out += Folded("N:" + StructuredName(name));
        out += Folded("TEL;TYPE=WORK,FAX:" + codePage.ToUtf8(e.phone));
        out += "END:VCARD\r\n";
      }
      break;
  }
  return out;
}

}  // namespace vz::phonebook
