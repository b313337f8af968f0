#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/dlgtemplate.hpp"
#include "toolkit/exception.hpp"

namespace {

// Writes the DIALOGEX layout the resource compiler produces.
class TemplateWriter {
 public:
  void Word(std::uint16_t v) {
    bytes.push_back(static_cast<std::uint8_t>(v));
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void Dword(std::uint32_t v) {
    Word(static_cast<std::uint16_t>(v));
    Word(static_cast<std::uint16_t>(v >> 16));
  }
  void String(const std::string& s) {
    for (unsigned char c : s) Word(c);
    Word(0);
  }
  void Ordinal(std::uint16_t v) {
    Word(0xFFFF);
    Word(v);
  }
  void Align() {
    while (bytes.size() % 4 != 0) bytes.push_back(0);
  }
  std::vector<std::uint8_t> bytes;
};

constexpr std::uint32_t kDsSetFont = 0x40;
constexpr std::uint32_t kWsVisible = 0x10000000;

std::vector<std::uint8_t> SampleTemplate() {
  TemplateWriter w;
  w.Word(1);
  w.Word(0xFFFF);
  w.Dword(0);                    // help id
  w.Dword(0x00000001);           // extended style
  w.Dword(0x80C00000 | kDsSetFont);
  w.Word(2);                     // items
  w.Word(30);
  w.Word(40);
  w.Word(251);
  w.Word(227);
  w.Word(0);                     // no menu
  w.String("TGetDataForm");      // class
  w.String("VelmorFAX NT Print To Fax");
  w.Word(8);
  w.Word(700);
  w.bytes.push_back(1);          // italic
  w.bytes.push_back(0);          // character set
  w.String("Arial");
  // An edit box by ordinal class, with two bytes of creation data.
  w.Align();
  w.Dword(0);
  w.Dword(0x200);
  w.Dword(kWsVisible | 0x80);
  w.Word(14);
  w.Word(43);
  w.Word(222);
  w.Word(22);
  w.Dword(1001);
  w.Ordinal(0x81);
  w.String("");
  w.Word(2);
  w.Word(0xABCD);
  // A control of a named class on control 1001 (help id), with a negative position.
  w.Align();
  w.Dword(1001);
  w.Dword(0);
  w.Dword(kWsVisible);
  w.Word(static_cast<std::uint16_t>(-5));
  w.Word(3);
  w.Word(57);
  w.Word(41);
  w.Dword(1002);
  w.String("TEXPLORERBUTTON");
  w.String("Cance&l");
  w.Word(0);
  return w.bytes;
}

}  // namespace

TEST(DialogTemplate, ReadsFormFontAndItems) {
  const auto bytes = SampleTemplate();
  const vz::dlg::Template t = vz::dlg::Parse(bytes.data(), bytes.size());
  EXPECT_EQ(t.exStyle, 1u);
  EXPECT_EQ(t.style, 0x80C00000u | kDsSetFont);
  EXPECT_EQ(t.x, 30);
  EXPECT_EQ(t.y, 40);
  EXPECT_EQ(t.cx, 251);
  EXPECT_EQ(t.cy, 227);
  EXPECT_EQ(t.className, "TGetDataForm");
  EXPECT_EQ(t.title, "VelmorFAX NT Print To Fax");
  EXPECT_EQ(t.pointSize, 8);
  EXPECT_EQ(t.weight, 700);
  EXPECT_TRUE(t.italic);
  EXPECT_EQ(t.typeface, "Arial");
  ASSERT_EQ(t.items.size(), 2u);

  const vz::dlg::Item& edit = t.items[0];
  EXPECT_EQ(edit.classOrdinal, vz::dlg::kClassEdit);
  EXPECT_EQ(edit.className, "");
  EXPECT_EQ(edit.id, 1001u);
  EXPECT_EQ(edit.exStyle, 0x200u);
  EXPECT_EQ(edit.x, 14);
  EXPECT_EQ(edit.y, 43);
  EXPECT_EQ(edit.cx, 222);
  EXPECT_EQ(edit.cy, 22);
  EXPECT_EQ(edit.helpId, 0u);

  const vz::dlg::Item& button = t.items[1];
  EXPECT_EQ(button.classOrdinal, 0);
  EXPECT_EQ(button.className, "TEXPLORERBUTTON");
  EXPECT_EQ(button.title, "Cance&l");
  EXPECT_EQ(button.helpId, 1001u);
  EXPECT_EQ(button.x, -5);
  EXPECT_EQ(button.id, 1002u);
}

TEST(DialogTemplate, RefusesWhatItCannotRead) {
  const auto bytes = SampleTemplate();
  for (std::size_t cut : {std::size_t{0}, std::size_t{3}, std::size_t{40}, bytes.size() - 1})
    EXPECT_THROW(vz::dlg::Parse(bytes.data(), cut), Exception) << cut;
  // The old DIALOG layout starts with a style, not version 1 and 0xFFFF.
  auto old = bytes;
  old[2] = 0;
  old[3] = 0;
  EXPECT_THROW(vz::dlg::Parse(old.data(), old.size()), Exception);
}

TEST(DialogTemplate, CharactersBeyondEightBitsBecomeQuestionMarks) {
  TemplateWriter w;
  w.Word(1);
  w.Word(0xFFFF);
  w.Dword(0);
  w.Dword(0);
  w.Dword(0);  // no font
  w.Word(0);
  w.Word(0);
  w.Word(0);
  w.Word(10);
  w.Word(10);
  w.Ordinal(5);  // a menu by ordinal
  w.Word(0);
  w.Word('A');
  w.Word(0xE9);    // é in the 8-bit set
  w.Word(0x20AC);  // the euro sign
  w.Word(0);
  const vz::dlg::Template t = vz::dlg::Parse(w.bytes.data(), w.bytes.size());
  EXPECT_EQ(t.title, std::string("A\xE9?"));
  EXPECT_EQ(t.pointSize, 0);
  EXPECT_TRUE(t.items.empty());
}
