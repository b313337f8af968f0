// The phone book's code page on Windows: the ANSI code page, through Windows' own
// conversions. UTF-8 goes to UTF-16 first, then to the code page without best-fit
// characters, and the "used default char" answer tells a character it cannot hold.
#include <windows.h>

#include <vector>

#include "common/text.hpp"
#include "phonebook/codepage.hpp"

namespace vz::phonebook {

namespace {

std::wstring WideOf(std::string_view text, UINT codePage) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

// Whether the code page holds the UTF-16 text exactly; its bytes in `out` when it does.
bool Narrow(const wchar_t* wide, int length, std::string& out) {
  out.clear();
  if (length == 0) return true;
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0, nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return false;
  out.resize(static_cast<std::size_t>(n));
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, out.data(), n, nullptr, &usedDefault);
  return !usedDefault;
}

class Win32AnsiCodePage : public AnsiCodePage {
 public:
  std::string Name() const override { return Format("code page %u", GetACP()); }

  bool FromUtf8(std::string_view utf8, std::string& out, char32_t& missing) const override {
    // A system whose ANSI code page is UTF-8 holds every character, and takes no
    // "used default char" question for it.
    if (GetACP() == CP_UTF8) {
      out.assign(utf8);
      return true;
    }
    const std::wstring wide = WideOf(utf8, CP_UTF8);
    if (Narrow(wide.data(), static_cast<int>(wide.size()), out)) return true;
    // Found out character by character, only for the text that failed.
    std::string one;
    for (std::size_t at = 0; at < utf8.size();) {
      const char32_t c = NextUtf8(utf8, at);
      std::string piece;
      AppendUtf8(piece, c);
      const std::wstring w = WideOf(piece, CP_UTF8);
      if (!Narrow(w.data(), static_cast<int>(w.size()), one)) {
        missing = c;
        return false;
      }
    }
    missing = 0xFFFD;
    return false;
  }

  std::string ToUtf8(std::string_view ansi) const override {
    const std::wstring wide = WideOf(ansi, CP_ACP);
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
  }
};

}  // namespace

std::unique_ptr<AnsiCodePage> SystemAnsiCodePage() { return std::make_unique<Win32AnsiCodePage>(); }

}  // namespace vz::phonebook
