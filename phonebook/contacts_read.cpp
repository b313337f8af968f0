// Contact files: the text encoding, the format, and the check against the code page.
#include "common/text.hpp"
#include "phonebook/contacts.hpp"
#include "phonebook/contacts_text.hpp"

namespace vz::phonebook {

namespace contacts {

namespace {

bool HasNonAscii(std::string_view bytes) {
  for (char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
}

std::string FromUtf16(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size() / 2);
  auto unit = [&](std::size_t at) -> char32_t {
    const auto a = static_cast<unsigned char>(bytes[at]), b = static_cast<unsigned char>(bytes[at + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    char32_t c = unit(i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes.size()) {
      const char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      } else {
        c = 0xFFFD;
      }
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  if (i < bytes.size()) AppendUtf8(out, 0xFFFD);
  return out;
}

// Bytes that are not valid UTF-8 after a UTF-8 byte order mark: each bad byte becomes
// U+FFFD, so that its contact is listed rather than stored as raw bytes.
std::string RepairUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t len = 1;
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b >= 0xC0) len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    if (b < 0x80 || (i + len <= bytes.size() && IsValidUtf8(bytes.substr(i, len)))) {
      out.append(bytes.substr(i, b < 0x80 ? 1 : len));
      i += b < 0x80 ? 1 : len;
    } else {
      AppendUtf8(out, 0xFFFD);
      ++i;
    }
  }
  return out;
}

}  // namespace

Encoding DetectEncoding(std::string_view bytes) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") return Encoding::kUtf8Bom;
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") return Encoding::kUtf16Le;
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF") return Encoding::kUtf16Be;
  if (!HasNonAscii(bytes)) return Encoding::kAscii;
  return IsValidUtf8(bytes) ? Encoding::kUtf8 : Encoding::kAnsi;
}

std::string ToUtf8(std::string_view bytes, Encoding encoding, const AnsiCodePage& codePage) {
  switch (encoding) {
    case Encoding::kUtf8Bom: return RepairUtf8(bytes.substr(3));
    case Encoding::kUtf16Le: return FromUtf16(bytes.substr(2), false);
    case Encoding::kUtf16Be: return FromUtf16(bytes.substr(2), true);
    case Encoding::kAnsi: return codePage.ToUtf8(bytes);
    case Encoding::kUtf8:
    case Encoding::kAscii: break;
  }
  return std::string(bytes);
}

DecodedText Decode(std::string_view bytes, const AnsiCodePage& codePage) {
  DecodedText text;
  text.encoding = DetectEncoding(bytes);
  text.utf8 = ToUtf8(bytes, text.encoding, codePage);
  return text;
}

std::string EncodingName(Encoding encoding, const AnsiCodePage& codePage) {
  switch (encoding) {
    case Encoding::kUtf8Bom: return "UTF-8 with a byte order mark";
    case Encoding::kUtf16Le: return "UTF-16 LE";
    case Encoding::kUtf16Be: return "UTF-16 BE";
    case Encoding::kUtf8: return "UTF-8";
    case Encoding::kAnsi: return codePage.Name();
    case Encoding::kAscii: break;
  }
  return "ASCII";
}

std::string Trim(std::string_view text) {
  std::size_t a = 0, b = text.size();
  while (a < b && (text[a] == ' ' || text[a] == '\t')) ++a;
  while (b > a && (text[b - 1] == ' ' || text[b - 1] == '\t')) --b;
  return std::string(text.substr(a, b - a));
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && LowerAscii(text.substr(0, prefix.size())) == LowerAscii(prefix);
}

std::string LastFirst(const std::string& last, const std::string& first) {
  if (last.empty()) return first;
  if (first.empty()) return last;
  return last + ", " + first;
}

void Admit(std::string name, std::string fax, std::size_t line, const AnsiCodePage& codePage, ContactsRead& read) {
  name = Trim(name);
  fax = Trim(fax);
  if (fax.empty()) {
    ++read.withoutFax;
    return;
  }
  Contact c;
  c.line = line;
  char32_t missing = 0;
  const char* what = "name";
  bool ok = codePage.FromUtf8(name, c.name, missing);
  if (ok) {
    what = "fax number";
    ok = codePage.FromUtf8(fax, c.fax, missing);
  }
  if (!ok) {
    std::string ch;
    AppendUtf8(ch, missing);
    read.problems.push_back({line, Format("the %s of \"%s\" has the character %s (%s), which %s cannot hold", what,
                                          name.c_str(), ch.c_str(), CodePointName(missing).c_str(),
                                          codePage.Name().c_str()),
                             ProblemKind::kCharacter});
    return;
  }
  read.contacts.push_back(std::move(c));
}

}  // namespace contacts

namespace {

// A vCard file starts, after blank lines, with BEGIN:VCARD; a file named .vcf may
// have something before its first card. Anything else is taken as CSV.
bool LooksLikeVCard(std::string_view utf8, std::string_view fileName) {
  std::size_t at = 0;
  while (at < utf8.size() && (utf8[at] == ' ' || utf8[at] == '\t' || utf8[at] == '\r' || utf8[at] == '\n')) ++at;
  if (contacts::StartsWithNoCase(utf8.substr(at), "BEGIN:VCARD")) return true;
  const bool vcf = fileName.size() >= 4 && contacts::LowerAscii(fileName.substr(fileName.size() - 4)) == ".vcf";
  return vcf && contacts::LowerAscii(utf8).find("begin:vcard") != std::string::npos;
}

}  // namespace

ContactsRead ReadContacts(std::string_view bytes, std::string_view fileName, const AnsiCodePage& codePage) {
  ContactsRead read;
  const contacts::DecodedText text = contacts::Decode(bytes, codePage);
  if (LooksLikeVCard(text.utf8, fileName))
    contacts::ReadVCards(bytes, text, codePage, read);
  else
    contacts::ReadCsv(text, codePage, read);
  return read;
}

}  // namespace vz::phonebook
