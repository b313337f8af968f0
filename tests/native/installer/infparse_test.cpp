#include "installer/infparse.hpp"

#include <gtest/gtest.h>

#include "toolkit/exception.hpp"

namespace {

using vz::inst::ExpandInfToken;
using vz::inst::FindInfLine;
using vz::inst::InfInteger;
using vz::inst::InfLineReader;
using vz::inst::NthWord;

TEST(InfParseTest, NthWordSkipsEmptyFieldsAndKeepsBlanks) {
  EXPECT_EQ(NthWord(2, "1,,5", ","), "5");
  EXPECT_EQ(NthWord(3, "a,b", ","), "");
  EXPECT_EQ(NthWord(1, ",,,lead", ","), "lead");
  EXPECT_EQ(NthWord(2, "RASDD = 1,RASDD.DLL", "=,"), " 1");
  EXPECT_EQ(NthWord(1, "%cdname%\\i386,x", ",\\"), "%cdname%");
  EXPECT_EQ(NthWord(2, "1 ,\"Windows NT Disk 1\",disk1", ",\""), "Windows NT Disk 1");
  EXPECT_EQ(NthWord(1, "", ","), "");
  EXPECT_EQ(NthWord(1, ",,,", ","), "");
  EXPECT_EQ(NthWord(0, "a,b", ","), "");
  EXPECT_EQ(NthWord(1, "no delimiters", ","), "no delimiters");
}

TEST(InfParseTest, ExpandInfTokenReplacesTheFirstTokenFromTheList) {
  const std::vector<std::string> strings = {"other=x", "cdname=Windows NT Workstation CD-ROM", "cd=short"};
  EXPECT_EQ(ExpandInfToken(strings, "%cdname%"), "Windows NT Workstation CD-ROM");
  EXPECT_EQ(ExpandInfToken(strings, "Disk %cdname% here %cd%"), "Disk Windows NT Workstation CD-ROM here %cd%");
  EXPECT_EQ(ExpandInfToken(strings, "no token"), "no token");
  // The line's beginning is compared: cd is satisfied by the cdname line that comes first.
  EXPECT_EQ(ExpandInfToken(strings, "%cd%"), "Windows NT Workstation CD-ROM");
  // Unknown tokens are dropped; the case counts.
  EXPECT_EQ(ExpandInfToken(strings, "[%CDNAME%]"), "[]");
  EXPECT_EQ(ExpandInfToken({"cdname", "cdname=second"}, "%cdname%"), "second");
  EXPECT_EQ(ExpandInfToken({"tok=a=b"}, "%tok%"), "a=b");
  EXPECT_EQ(ExpandInfToken({"x=y"}, "%%"), "y");
}

TEST(InfParseTest, ExpandInfTokenRefusesALonePercentAndClipsTheResult) {
  try {
    ExpandInfToken({}, "disk %cdname");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Unexpected INF format encountered");
  }
  const std::string longValue(300, 'v');
  const std::string expanded = ExpandInfToken({"t=" + longValue}, "%t%");
  EXPECT_EQ(expanded, std::string(255, 'v'));
}

constexpr char kPrinterInf[] =
    "[Version]\r\n"
    "[files-printerdriver]\r\n"
    "; a comment\r\n"
    "rasdd = 2,RASDD.DLL\r\n"
    "[FILES-PRINTERDRIVERHELP]\r\n"
    "other = 1,OTHER.HLP\r\n"
    "[RASDD-SECTION]\n"
    "[FILES-PRINTERCONFIG]\r"
    "pscript = 1,PSCRIPT.DLL\r"
    "rasddui = 3,RASDDUI.DLL";

TEST(InfParseTest, FindInfLineSearchesOneSectionInUpperCase) {
  InfLineReader reader(kPrinterInf);
  EXPECT_EQ(FindInfLine(reader, "RASDD", "[FILES-PRINTERDRIVER]"), "RASDD = 2,RASDD.DLL");
  // The next section's header line ends the search but counts when it holds the name.
  EXPECT_EQ(FindInfLine(reader, "RASDD", "[FILES-PRINTERDRIVERHELP]"), "[RASDD-SECTION]");
  // Read again from the start: the reader is rewound for each search; CR-only lines.
  EXPECT_EQ(FindInfLine(reader, "RASDDUI", "[FILES-PRINTERCONFIG]"), "RASDDUI = 3,RASDDUI.DLL");
  EXPECT_EQ(FindInfLine(reader, "RASDD", "[NO-SUCH-SECTION]"), "");
  // The header is a substring test with its brackets: the HELP sibling does not hold
  // [FILES-PRINTERDRIVER], a line with text around the header does.
  InfLineReader helpFirst("[FILES-PRINTERDRIVERHELP]\nRASDDUI.HLP\n [Files-PrinterDriver] ; x\nrasdd.dll\n");
  EXPECT_EQ(FindInfLine(helpFirst, "RASDD", "[FILES-PRINTERDRIVER]"), "RASDD.DLL");
}

TEST(InfParseTest, FindInfLineStopsAtTheEndOfTheLastSection) {
  InfLineReader reader("[FILES-PRINTERDRIVER]\r\npscript = 1,PSCRIPT.DLL\r\n");
  EXPECT_EQ(FindInfLine(reader, "RASDD", "[FILES-PRINTERDRIVER]"), "");
  InfLineReader empty("");
  EXPECT_EQ(FindInfLine(empty, "RASDD", "[FILES-PRINTERDRIVER]"), "");
}

TEST(InfParseTest, LongLinesAreCutAt255AndTheRestSkipped) {
  const std::string longLine = "[FILES-PRINTERDRIVER]\n" + std::string(300, 'x') + "RASDD\nrasdd = 1\n";
  InfLineReader reader(longLine);
  EXPECT_EQ(FindInfLine(reader, "RASDD", "[FILES-PRINTERDRIVER]"), "RASDD = 1");
  InfLineReader direct(std::string(300, 'a') + "\nb");
  std::string line;
  ASSERT_TRUE(direct.ReadLine(line));
  EXPECT_EQ(line.size(), 255u);
  ASSERT_TRUE(direct.ReadLine(line));
  EXPECT_EQ(line, "b");
  EXPECT_FALSE(direct.ReadLine(line));
}

TEST(InfParseTest, InfIntegerTakesLeadingBlanksAndASignOnly) {
  EXPECT_EQ(InfInteger("1"), 1);
  EXPECT_EQ(InfInteger(" 1"), 1);
  EXPECT_EQ(InfInteger("  -12"), -12);
  EXPECT_EQ(InfInteger("+7"), 7);
  EXPECT_EQ(InfInteger("2147483647"), 2147483647);
  EXPECT_EQ(InfInteger("-2147483648"), -2147483647 - 1);
  for (const char* bad : {"", " ", "1 ", "x1", "1x", "-", "2147483648", "99999999999999999999"}) {
    try {
      InfInteger(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), std::string("'") + bad + "' is not a valid integer value");
    }
  }
}

}  // namespace
