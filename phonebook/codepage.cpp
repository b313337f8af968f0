#include "phonebook/codepage.hpp"

#include <array>

#include "common/text.hpp"

namespace vz::phonebook {

namespace {

// Windows-1252 bytes 0x80 to 0x9F; the others are the Unicode characters of the same
// number.
constexpr std::array<char32_t, 32> kHigh1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int ByteOf1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (std::size_t i = 0; i < kHigh1252.size(); ++i)
    if (kHigh1252[i] == c) return static_cast<int>(0x80 + i);
  return -1;
}

}  // namespace

char32_t Windows1252::CharOf(unsigned char byte) {
  return byte >= 0x80 && byte <= 0x9F ? kHigh1252[byte - 0x80] : static_cast<char32_t>(byte);
}

bool Windows1252::FromUtf8(std::string_view utf8, std::string& out, char32_t& missing) const {
  out.clear();
  out.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[at]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++at;
      continue;
    }
    const char32_t c = NextUtf8(utf8, at);
    const int byte = ByteOf1252(c);
    if (byte < 0) {
      missing = c;
      return false;
    }
    out += static_cast<char>(byte);
  }
  return true;
}

std::string Windows1252::ToUtf8(std::string_view ansi) const {
  std::string out;
  out.reserve(ansi.size());
  for (char ch : ansi) AppendUtf8(out, CharOf(static_cast<unsigned char>(ch)));
  return out;
}

#ifndef _WIN32
std::unique_ptr<AnsiCodePage> SystemAnsiCodePage() { return std::make_unique<Windows1252>(); }
#endif

// RFC 3629: no overlong forms, no surrogates, nothing past U+10FFFF.
bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    int extra = 0;
    char32_t c = 0, min = 0;
    if ((b & 0xE0) == 0xC0) {
      extra = 1, c = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2, c = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3, c = b & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (i + static_cast<std::size_t>(extra) >= n) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto cb = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if ((cb & 0xC0) != 0x80) return false;
      c = (c << 6) | (cb & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

char32_t NextUtf8(std::string_view text, std::size_t& at) {
  const auto b = static_cast<unsigned char>(text[at]);
  int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : 3;
  char32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
  ++at;
  for (; extra > 0 && at < text.size(); --extra, ++at) c = (c << 6) | (static_cast<unsigned char>(text[at]) & 0x3F);
  return c;
}

std::string CodePointName(char32_t c) { return Format("U+%04X", static_cast<unsigned>(c)); }

}  // namespace vz::phonebook
