// vCards 2.1, 3.0 and 4.0: one or many cards, folded lines, 2.1's quoted-printable
// values and CHARSET= parameters, and TEL types in all three spellings
// ("TEL;WORK;FAX", "TEL;TYPE=WORK,FAX", "TEL;TYPE=\"work,fax\";VALUE=uri:tel:...").
#include "common/text.hpp"
#include "phonebook/contacts_text.hpp"

namespace vz::phonebook::contacts {

namespace {

struct PhysicalLine {
  std::string_view text;
  std::size_t number;
};

std::vector<PhysicalLine> SplitLines(std::string_view text) {
  std::vector<PhysicalLine> lines;
  std::size_t at = 0, number = 1;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back({line, number++});
    at = end + 1;
  }
  return lines;
}

// One property: "group.NAME;PARAM;PARAM=V:value", the name in upper case.
struct Property {
  std::string name;
  std::vector<std::string> params;  // upper case, quotes removed
  std::string value;                // raw bytes as in the file (unfolded)
};

std::string UpperCopy(std::string_view text) { return UpperAscii(text); }

// The colon that ends the name and parameters (outside a quoted parameter value).
std::size_t ValueColon(std::string_view line) {
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ':' && !quoted) return i;
  }
  return std::string_view::npos;
}

Property ParseProperty(std::string_view line) {
  Property p;
  const std::size_t colon = ValueColon(line);
  const std::string_view head = line.substr(0, colon);
  if (colon != std::string_view::npos) p.value = std::string(line.substr(colon + 1));
  bool first = true, quoted = false;
  std::string part;
  for (std::size_t i = 0; i <= head.size(); ++i) {
    const char c = i < head.size() ? head[i] : ';';
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (c == ';' && !quoted) {
      if (first) {
        const std::size_t dot = part.find('.');
        p.name = UpperCopy(dot == std::string::npos ? part : part.substr(dot + 1));
        first = false;
      } else {
        p.params.push_back(UpperCopy(part));
      }
      part.clear();
      continue;
    }
    part += c;
  }
  return p;
}

bool IsQuotedPrintable(std::string_view head) {
  return UpperAscii(head).find("QUOTED-PRINTABLE") != std::string::npos;
}

// Logical lines of one card: unfolded (3.0 and 4.0 drop the one blank that starts a
// continuation; 2.1 folds at a blank and keeps it) and quoted-printable soft breaks
// ("=" at a line's end) joined.
std::vector<std::pair<std::string, std::size_t>> Unfold(const std::vector<PhysicalLine>& lines, std::size_t from,
                                                        std::size_t to, bool keepBlank) {
  std::vector<std::pair<std::string, std::size_t>> out;
  for (std::size_t i = from; i < to; ++i) {
    std::string_view text = lines[i].text;
    const bool continues = !text.empty() && (text[0] == ' ' || text[0] == '\t');
    if (continues && !out.empty()) {
      out.back().first.append(keepBlank ? text : text.substr(1));
      continue;
    }
    out.emplace_back(std::string(text), lines[i].number);
    auto& current = out.back().first;
    const std::size_t colon = ValueColon(current);
    if (colon == std::string::npos || !IsQuotedPrintable(std::string_view(current).substr(0, colon))) continue;
    while (!current.empty() && current.back() == '=' && i + 1 < to) {
      current.pop_back();
      current.append(lines[++i].text);
    }
  }
  return out;
}

std::string DecodeQuotedPrintable(std::string_view value) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '=' && i + 2 < value.size() && hex(value[i + 1]) >= 0 && hex(value[i + 2]) >= 0) {
      out += static_cast<char>(hex(value[i + 1]) * 16 + hex(value[i + 2]));
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

std::string ParamValue(const Property& p, std::string_view key) {
  for (const auto& param : p.params)
    if (param.size() > key.size() && param.compare(0, key.size(), key) == 0 && param[key.size()] == '=')
      return param.substr(key.size() + 1);
  return {};
}

// Every TYPE of a property: "TYPE=WORK,FAX", repeated TYPE= parameters, and 2.1's bare
// "WORK;FAX".
std::vector<std::string> TypesOf(const Property& p) {
  std::vector<std::string> types;
  for (const auto& param : p.params) {
    std::string_view v = param;
    const std::size_t eq = v.find('=');
    if (eq != std::string_view::npos) {
      if (v.substr(0, eq) != "TYPE") continue;
      v = v.substr(eq + 1);
    }
    for (std::size_t at = 0; at <= v.size();) {
      std::size_t comma = v.find(',', at);
      if (comma == std::string_view::npos) comma = v.size();
      types.emplace_back(v.substr(at, comma - at));
      at = comma + 1;
    }
  }
  return types;
}

bool HasType(const std::vector<std::string>& types, std::string_view type) {
  for (const auto& t : types)
    if (t == type) return true;
  return false;
}

// 3.0 and 4.0 escape "\,", "\;", "\\" and "\n" in text values.
std::string Unescape(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      const char next = value[++i];
      out += next == 'n' || next == 'N' ? ' ' : next;
    } else {
      out += value[i];
    }
  }
  return out;
}

// Splits at the semicolons not escaped with a backslash.
std::vector<std::string> Components(std::string_view value) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      parts.back() += value.substr(i, 2);
      ++i;
    } else if (value[i] == ';') {
      parts.emplace_back();
    } else {
      parts.back() += value[i];
    }
  }
  return parts;
}

struct Card {
  std::string fn, n, org, fax;
  int faxRank = 1 << 20;
  bool version4 = false;  // numbers may be tel: URIs
  std::size_t line = 0;
  std::string problem;
};

class CardReader {
 public:
  CardReader(bool decoded, const AnsiCodePage& codePage) : decoded_(decoded), codePage_(codePage) {}

  // A property's value as UTF-8: quoted-printable decoded, then from its CHARSET (or,
  // without one, UTF-8 when it is valid UTF-8 and else the code page).
  std::string Text(const Property& p, Card& card) const {
    std::string bytes = p.value;
    const bool qp = ParamValue(p, "ENCODING") == "QUOTED-PRINTABLE" || HasType(p.params, "QUOTED-PRINTABLE");
    if (qp) bytes = DecodeQuotedPrintable(bytes);
    // A file decoded as a whole (UTF-16, or marked UTF-8) is UTF-8 already.
    if (decoded_ && !qp) return bytes;
    const std::string charset = ParamValue(p, "CHARSET");
    if (charset.empty()) return IsValidUtf8(bytes) ? bytes : codePage_.ToUtf8(bytes);
    if (charset == "UTF-8" || charset == "US-ASCII")
      return IsValidUtf8(bytes) ? bytes : ToUtf8("\xEF\xBB\xBF" + bytes, Encoding::kUtf8Bom, codePage_);
    if (charset == "ISO-8859-1" || charset == "LATIN1") {
      std::string out;
      for (char c : bytes) AppendUtf8(out, static_cast<unsigned char>(c));
      return out;
    }
    if (charset == "WINDOWS-1252" || charset == "CP1252") return Windows1252().ToUtf8(bytes);
    if (card.problem.empty()) card.problem = "the character set " + charset + " is not known";
    return bytes;
  }

  void Take(const Property& p, Card& card) const {
    if (p.name == "VERSION") {
      card.version4 = Trim(p.value) == "4.0";
    } else if (p.name == "FN") {
      card.fn = Unescape(Text(p, card));
    } else if (p.name == "N") {
      const auto parts = Components(Text(p, card));
      card.n = LastFirst(Trim(Unescape(parts[0])), parts.size() > 1 ? Trim(Unescape(parts[1])) : std::string());
    } else if (p.name == "ORG") {
      card.org = Unescape(Components(Text(p, card))[0]);
    } else if (p.name == "TEL") {
      const auto types = TypesOf(p);
      if (!HasType(types, "FAX")) return;
      const int rank = HasType(types, "WORK") ? 0 : HasType(types, "PREF") ? 1 : 2;
      if (rank >= card.faxRank) return;
      std::string number = Trim(Text(p, card));
      // A URI in 4.0 ("tel:+1-555-0100"); in 3.0 and 2.1 the value is the number as text.
      const bool uri = card.version4 || ParamValue(p, "VALUE") == "URI";
      if (uri && StartsWithNoCase(number, "tel:")) number = number.substr(4);
      if (number.empty()) return;
      card.fax = number;
      card.faxRank = rank;
    }
  }

 private:
  bool decoded_;
  const AnsiCodePage& codePage_;
};

bool IsLine(std::string_view line, std::string_view what) {
  return StartsWithNoCase(line, what) && Trim(line.substr(what.size())).empty();
}

}  // namespace

void ReadVCards(std::string_view bytes, const DecodedText& text, const AnsiCodePage& codePage, ContactsRead& read) {
  const bool utf16 = text.encoding == Encoding::kUtf16Le || text.encoding == Encoding::kUtf16Be;
  // UTF-16 files are read as their UTF-8 decoding; the others as their bytes, each
  // value in its own character set.
  std::string_view source = bytes;
  if (utf16 || text.encoding == Encoding::kUtf8Bom) source = text.utf8;
  const auto lines = SplitLines(source);
  const CardReader reader(utf16 || text.encoding == Encoding::kUtf8Bom, codePage);
  std::size_t cards = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!IsLine(lines[i].text, "BEGIN:VCARD")) continue;
    std::size_t end = i + 1;
    bool keepBlank = false;
    while (end < lines.size() && !IsLine(lines[end].text, "END:VCARD")) {
      if (IsLine(lines[end].text, "VERSION:2.1")) keepBlank = true;
      ++end;
    }
    Card card;
    card.line = lines[i].number;
    for (const auto& [logical, number] : Unfold(lines, i + 1, end, keepBlank)) reader.Take(ParseProperty(logical), card);
    ++cards;
    if (!card.problem.empty()) {
      read.problems.push_back({card.line, card.problem, ProblemKind::kCharacterSet});
    } else {
      std::string name = !Trim(card.fn).empty() ? card.fn : !card.n.empty() ? card.n : card.org;
      Admit(std::move(name), card.fax, card.line, codePage, read);
    }
    i = end;
  }
  read.format = Format("vCard, %s", EncodingName(text.encoding, codePage).c_str());
}

}  // namespace vz::phonebook::contacts
