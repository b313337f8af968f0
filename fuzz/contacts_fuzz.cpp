// libFuzzer target: contact files come from anywhere. Reading any bytes either
// refuses the file as unreadable or gives contacts with a fax number, in the code
// page; and what the phone book writes out as CSV in UTF-8 or as vCards reads back as
// the same contacts (names and numbers without control characters, as entries have).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "phonebook/contacts.hpp"

namespace {

using namespace vz::phonebook;

bool Plain(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return true;
}

void ExpectSame(const std::vector<PhoneEntry>& entries, ExportFormat format, const AnsiCodePage& cp) {
  const ContactsRead back = ReadContacts(WriteContacts(entries, format, cp), "out", cp);
  if (back.contacts.size() != entries.size() || !back.problems.empty()) std::abort();
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (back.contacts[i].name != entries[i].name || back.contacts[i].fax != entries[i].phone) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const Windows1252 cp;
  ContactsRead read;
  try {
    read = ReadContacts(input, "in", cp);
  } catch (const ContactsUnreadable&) {
    return 0;
  }
  std::vector<PhoneEntry> entries;
  for (const Contact& c : read.contacts) {
    if (c.fax.empty() || c.line == 0) std::abort();
    if (!IsValidUtf8(cp.ToUtf8(c.name))) std::abort();
    if (Plain(c.name) && Plain(c.fax)) entries.push_back({c.name, c.fax});
  }
  ExpectSame(entries, ExportFormat::kCsvUtf8, cp);
  ExpectSame(entries, ExportFormat::kVCard, cp);
  return 0;
}
