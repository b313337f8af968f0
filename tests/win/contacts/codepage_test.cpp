// The phone book's code page on Windows: Windows' own conversion of the ANSI code page
// (1252 under Wine with LC_ALL=C.UTF-8), never a best-fit substitute.
#include <gtest/gtest.h>
#include <windows.h>

#include "phonebook/contacts.hpp"

namespace vz::phonebook {
namespace {

TEST(Win32CodePage, HoldsWhatTheAnsiCodePageHoldsAndNamesWhatItCannot) {
  ASSERT_EQ(GetACP(), 1252u);
  const auto cp = SystemAnsiCodePage();
  EXPECT_EQ(cp->Name(), "code page 1252");
  std::string out;
  char32_t missing = 0;
  EXPECT_TRUE(cp->FromUtf8("M\xC3\xBCller \xE2\x82\xAC", out, missing));
  EXPECT_EQ(out, "M\xFCller \x80");
  // Ł and ė have best-fit forms ("L", "e") that must not be taken.
  EXPECT_FALSE(cp->FromUtf8("\xC5\x81ukasz", out, missing));
  EXPECT_EQ(missing, U'\u0141');
  EXPECT_FALSE(cp->FromUtf8("Gra\xC5\xBEina \xC4\x97", out, missing));
  EXPECT_EQ(missing, U'\u0117');  // the ž before it is 0x9E
  EXPECT_FALSE(cp->FromUtf8("a\xF0\x9F\x98\x80", out, missing));  // outside the BMP
  EXPECT_EQ(missing, U'\U0001F600');
  EXPECT_EQ(cp->ToUtf8("Caf\xE9 \x80"), "Caf\xC3\xA9 \xE2\x82\xAC");
}

// Every byte leaves as a character and comes back as the same byte, as the native
// build's Windows-1252 table has it.
TEST(Win32CodePage, AgreesWithThePortableTable) {
  const auto cp = SystemAnsiCodePage();
  const Windows1252 table;
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(cp->ToUtf8(all), table.ToUtf8(all));
  std::string out;
  char32_t missing = 0;
  ASSERT_TRUE(cp->FromUtf8(table.ToUtf8(all), out, missing));
  EXPECT_EQ(out, all);
}

TEST(Win32CodePage, ReadsAFileIntoTheCodePage) {
  const auto cp = SystemAnsiCodePage();
  const ContactsRead r = ReadContacts("\xEF\xBB\xBF\"M\xC3\xBCller, Hans\",1\r\nD\xC5\x8D,2\r\n", "a.csv", *cp);
  ASSERT_EQ(r.contacts.size(), 1u);
  EXPECT_EQ(r.contacts[0].name, "M\xFCller, Hans");
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_EQ(r.problems[0].text,
            "the name of \"D\xC5\x8D\" has the character \xC5\x8D (U+014D), which code page 1252 cannot hold");
}

}  // namespace
}  // namespace vz::phonebook
