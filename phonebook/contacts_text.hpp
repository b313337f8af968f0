#pragma once
// The pieces of contact reading shared by the CSV and vCard readers.
#include <string>
#include <string_view>

#include "phonebook/contacts.hpp"

namespace vz::phonebook::contacts {

enum class Encoding { kUtf8Bom, kUtf16Le, kUtf16Be, kUtf8, kAnsi, kAscii };

// A file's text as UTF-8, with what it was.
struct DecodedText {
  std::string utf8;
  Encoding encoding = Encoding::kAscii;
};

Encoding DetectEncoding(std::string_view bytes);
// Text of a known encoding as UTF-8. Undecodable UTF-16 (a lone surrogate, an odd
// last byte) becomes U+FFFD, which no code page holds, so its contact is listed.
std::string ToUtf8(std::string_view bytes, Encoding encoding, const AnsiCodePage& codePage);
DecodedText Decode(std::string_view bytes, const AnsiCodePage& codePage);
std::string EncodingName(Encoding encoding, const AnsiCodePage& codePage);

std::string Trim(std::string_view text);
std::string LowerAscii(std::string_view text);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
// "Last, First"; whichever is there when one is missing.
std::string LastFirst(const std::string& last, const std::string& first);

// Takes a contact given in UTF-8 into `read`: counted when it has no fax number,
// listed when the code page cannot hold it, else converted and kept.
void Admit(std::string name, std::string fax, std::size_t line, const AnsiCodePage& codePage, ContactsRead& read);

void ReadCsv(const DecodedText& text, const AnsiCodePage& codePage, ContactsRead& read);
void ReadVCards(std::string_view bytes, const DecodedText& text, const AnsiCodePage& codePage, ContactsRead& read);

}  // namespace vz::phonebook::contacts
