#pragma once
// The phone book's text is stored in the ANSI code page the Windows programs read it
// in. Contacts arrive as Unicode (UTF-8 or UTF-16 files) and leave as UTF-8, so the
// conversion sits behind this narrow interface: the Windows builds ask Windows for the
// ANSI code page, the portable build uses Windows-1252 (what Windows in Western
// European and American locales has).
#include <memory>
#include <string>
#include <string_view>

namespace vz::phonebook {

class AnsiCodePage {
 public:
  virtual ~AnsiCodePage() = default;
  // A short name for messages ("Windows-1252", "code page 1250").
  virtual std::string Name() const = 0;
  // UTF-8 text in the code page's bytes. Returns false, with `missing` set to the
  // first character the code page cannot hold, when there is one; no best-fit
  // substitutes ("e" for "ė") are ever taken. `utf8` must be valid UTF-8.
  virtual bool FromUtf8(std::string_view utf8, std::string& out, char32_t& missing) const = 0;
  // The code page's bytes as UTF-8. Every byte has a character.
  virtual std::string ToUtf8(std::string_view ansi) const = 0;
};

// Windows-1252, with the five bytes it leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) taken as the C1 controls of the same number, as Windows converts them, so
// that every byte goes out and comes back unchanged.
class Windows1252 : public AnsiCodePage {
 public:
  std::string Name() const override { return "Windows-1252"; }
  bool FromUtf8(std::string_view utf8, std::string& out, char32_t& missing) const override;
  std::string ToUtf8(std::string_view ansi) const override;
  static char32_t CharOf(unsigned char byte);
};

// The code page of the phone book on this system: the ANSI code page on Windows,
// Windows-1252 elsewhere.
std::unique_ptr<AnsiCodePage> SystemAnsiCodePage();

// UTF-8 helpers shared by the readers and writers.
bool IsValidUtf8(std::string_view text);
// Appends the UTF-8 form of a character.
void AppendUtf8(std::string& out, char32_t c);
// The character starting at `at` in valid UTF-8, and `at` moved past it.
char32_t NextUtf8(std::string_view text, std::size_t& at);
// "U+03A9" for messages.
std::string CodePointName(char32_t c);

}  // namespace vz::phonebook
