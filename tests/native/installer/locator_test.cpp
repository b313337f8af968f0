// Finding and expanding the raster-driver files through both INF routes, the
// prompts and their same-disk shortcuts, against the recording fake.
#include <algorithm>

#include <gtest/gtest.h>

#include "fake_installer_system.hpp"
#include "installer/installer.hpp"

namespace {

using vz::test::FakeInstallerSystem;
using namespace vz::inst;

constexpr char kLayout[] = "C:\\WINNT\\INF\\LAYOUT.INF";
constexpr char kSetup[] = "C:\\WINNT\\system32\\SETUP.INF";
constexpr char kPrinter[] = "C:\\WINNT\\system32\\PRINTER.INF";
constexpr char kCdTitle[] = "Insert Windows NT Workstation CD-ROM and Browse to listed file";
constexpr char kMissing[] = "Unidriver files not installed.  The print driver\rmay not be configured properly.";
constexpr char kNoEntry[] = "Cannot locate unidriver files in\rWindows Setup (INF) file.";

std::string LayoutInf(const std::string& signature, const std::string& disks) {
  return "[Version]\r\nsignature=" + signature +
         "\r\n[SourceDisksNames.x86]\r\n1=%cdname%,,,\\i386\r\n2=%floppy%\\disk2,x\r\n"
         "[Strings]\r\nfloppy=Windows NT Setup Disk #2\r\ncdname=Windows NT Workstation CD-ROM\r\n"
         "[SourceDisksFiles]\r\n" +
         disks;
}

std::string Disks(char a, char b, char c) {
  return std::string("Rasdd.dll=") + a + ",,1\r\nRasddui.hlp=" + b + ",,2\r\nRasddui.dll=" + c + ",,3\r\n";
}

struct MissingFiles : ::testing::Test {
  MissingFiles() {
    for (const char* f : {"D:\\I386\\RASDD.DL_", "D:\\I386\\RASDDUI.HL_", "D:\\I386\\RASDDUI.DL_",
                          "A:\\RASDDUI.HL_", "A:\\RASDDUI.DL_"})
      sys.AddDiskFile(f);
  }
  std::string Expand(const std::string& source, const std::string& target) const {
    return "\"C:\\WINNT\\system32\\expand.exe\" \"" + source + "\" \"C:\\WINNT\\system32\\spool\\drivers\\w32x86\\" +
           target + "\"";
  }
  std::vector<std::string> Titles() const {
    std::vector<std::string> titles;
    for (const OpenFileRequest& r : sys.prompts) titles.push_back(r.title);
    return titles;
  }
  FakeInstallerSystem sys;
};

TEST_F(MissingFiles, OneDiskNeedsOnePromptAndTakesTheRestBesideIt) {
  sys.SetInf(kLayout, LayoutInf("$Windows NT$", Disks('1', '1', '1')));
  sys.openAnswers = {std::string("D:\\I386\\RASDD.DL_")};
  EXPECT_EQ(RunInstaller(sys), 0);
  ASSERT_EQ(sys.prompts.size(), 1u);
  EXPECT_EQ(sys.prompts[0].title, kCdTitle);
  EXPECT_EQ(sys.prompts[0].fileName, "Rasdd.dl_");
  EXPECT_EQ(sys.prompts[0].filter, "Rasdd.dl_|Rasdd.dl_|All files|*.*");
  const std::vector<std::string> runs = {Expand("D:\\I386\\RASDD.DL_", "Rasdd.dll"),
                                         Expand("Rasddui.hl_", "Rasddui.hlp"),
                                         Expand("Rasddui.dl_", "Rasddui.dll")};
  EXPECT_EQ(sys.commandLines, runs);
  EXPECT_EQ(sys.programs, std::vector<std::string>(3, "C:\\WINNT\\system32\\expand.exe"));
  // The folder the run started in is current again for the driver's own files.
  EXPECT_EQ(sys.Calls("cd"), (std::vector<std::string>{"cd D:\\I386\\", "cd C:\\FAXPROD\\"}));
  // The warning comes once, before any prompt; then the run goes on as a success.
  const auto warning = std::find(sys.log.begin(), sys.log.end(), "warning");
  const auto prompt = std::find(sys.log.begin(), sys.log.end(), std::string("prompt ") + kCdTitle);
  EXPECT_EQ(sys.warnings, 1);
  EXPECT_LT(warning, prompt);
  EXPECT_TRUE(sys.errorBoxes.empty());
  EXPECT_EQ(sys.printers.size(), 1u);
  EXPECT_EQ(sys.writtenFiles.size(), 1u);
}

TEST_F(MissingFiles, FileThreeIsComparedWithFileTwo) {
  sys.SetInf(kLayout, LayoutInf("$Windows NT$", Disks('1', '2', '1')));
  sys.openAnswers = {std::string("D:\\I386\\RASDD.DL_"), std::string("A:\\RASDDUI.HL_"),
                     std::string("D:\\I386\\RASDDUI.DL_")};
  EXPECT_EQ(LocateUnidriverFiles(sys), 0);
  const std::vector<std::string> titles = {kCdTitle, "Insert Windows NT Setup Disk #2 and Browse to listed file",
                                           kCdTitle};
  EXPECT_EQ(Titles(), titles);
  EXPECT_EQ(sys.prompts[1].fileName, "Rasddui.hl_");
  EXPECT_EQ(sys.prompts[1].filter, "Rasddui.hl_|Rasddui.hl_|All files|*.*");
  EXPECT_EQ(sys.prompts[2].filter, "Rasddui.dl_|Rasddui.dl_|All files|*.*");
  EXPECT_EQ(sys.commandLines[1], Expand("A:\\RASDDUI.HL_", "Rasddui.hlp"));
}

TEST_F(MissingFiles, SecondDiskPromptIsFollowedByBareNameFromItsFolder) {
  sys.SetInf(kLayout, LayoutInf("$Windows NT$", Disks('1', '2', '2')));
  sys.openAnswers = {std::string("D:\\I386\\RASDD.DL_"), std::string("A:\\RASDDUI.HL_")};
  EXPECT_EQ(LocateUnidriverFiles(sys), 0);
  EXPECT_EQ(sys.prompts.size(), 2u);
  EXPECT_EQ(sys.commandLines[2], Expand("Rasddui.dl_", "Rasddui.dll"));
  EXPECT_EQ(sys.Calls("cd")[1], "cd A:\\");
  EXPECT_EQ(sys.currentDir, "C:\\FAXPROD\\");
}

TEST_F(MissingFiles, LastFileOnAnotherDiskGetsTheOnlySecondPrompt) {
  sys.SetInf(kLayout, LayoutInf("$Windows NT$", Disks('1', '1', '2')));
  sys.openAnswers = {std::string("D:\\I386\\RASDD.DL_"), std::string("A:\\RASDDUI.DL_")};
  EXPECT_EQ(LocateUnidriverFiles(sys), 0);
  ASSERT_EQ(sys.prompts.size(), 2u);
  EXPECT_EQ(sys.prompts[1].fileName, "Rasddui.dl_");
}

TEST_F(MissingFiles, CancellingTheFirstPromptEndsWithNothingExpanded) {
  sys.SetInf(kLayout, LayoutInf("$Windows NT$", Disks('1', '2', '3')));
  sys.openAnswers = {std::nullopt, std::string("A:\\RASDDUI.HL_")};
  EXPECT_EQ(RunInstaller(sys), 1);
  EXPECT_EQ(sys.prompts.size(), 1u);
  EXPECT_TRUE(sys.commandLines.empty());
  EXPECT_EQ(sys.errorBoxes, std::vector<std::string>{kMissing});
  EXPECT_TRUE(sys.Calls("Add").empty());
  EXPECT_TRUE(sys.writtenProfile.empty());
}

TEST_F(MissingFiles, CancellingALaterPromptStopsThere) {
  sys.SetInf(kLayout, LayoutInf("$Windows NT$", Disks('1', '2', '1')));
  sys.openAnswers = {std::string("D:\\I386\\RASDD.DL_"), std::nullopt};
  EXPECT_EQ(LocateUnidriverFiles(sys), kErrUnidriverMissing);
  EXPECT_EQ(sys.prompts.size(), 2u);
  EXPECT_EQ(sys.commandLines.size(), 1u);
}

TEST_F(MissingFiles, ExpandThatCannotStartGivesUp) {
  sys.SetInf(kLayout, LayoutInf("$Windows NT$", Disks('1', '2', '3')));
  sys.expandStarts = false;
  sys.openAnswers = {std::string("D:\\I386\\RASDD.DL_"), std::string("A:\\RASDDUI.HL_")};
  EXPECT_EQ(LocateUnidriverFiles(sys), kErrUnidriverMissing);
  EXPECT_EQ(sys.prompts.size(), 1u);
  EXPECT_EQ(sys.commandLines.size(), 1u);
}

TEST_F(MissingFiles, FailedExpansionShowsInTheFinalTest) {
  sys.SetInf(kLayout, LayoutInf("$Windows NT$", Disks('1', '1', '1')));
  sys.expandWorks = false;
  sys.openAnswers = {std::string("D:\\I386\\RASDD.DL_")};
  EXPECT_EQ(LocateUnidriverFiles(sys), kErrUnidriverMissing);
  EXPECT_EQ(sys.commandLines.size(), 3u);
}

TEST_F(MissingFiles, OverlongCommandLineIsNotStarted) {
  sys.SetInf(kLayout, LayoutInf("$Windows NT$", Disks('1', '1', '1')));
  const std::string deep = "D:\\" + std::string(460, 'd') + "\\RASDD.DL_";
  sys.AddDiskFile(deep);
  sys.openAnswers = {deep};
  EXPECT_EQ(LocateUnidriverFiles(sys), kErrUnidriverMissing);
  EXPECT_TRUE(sys.commandLines.empty());
  // The quoted program path and a blank take 31 of the 511 characters.
  const std::string expand = "C:\\WINNT\\system32\\expand.exe";
  EXPECT_EQ(RunAndWait(sys, expand, std::string(480, 'x'), 0), std::optional<std::uint32_t>(0));
  EXPECT_EQ(RunAndWait(sys, expand, std::string(481, 'x'), 0), std::nullopt);
  EXPECT_EQ(sys.commandLines.size(), 1u);
}

// Windows' expander is started by its full path in the system folder, quoted, and
// named as the program file: never by a bare name that the system would look for
// in the installer's folder or on the disk first.
TEST_F(MissingFiles, ExpanderIsTheSystemFoldersOwnNamedByItsFullPath) {
  sys.systemDir = std::string("D:\\NT 40\\SYSTEM32");
  sys.SetInf(kLayout, LayoutInf("$Windows NT$", Disks('1', '1', '1')));
  sys.openAnswers = {std::string("D:\\I386\\RASDD.DL_")};
  EXPECT_EQ(LocateUnidriverFiles(sys), 0);
  ASSERT_EQ(sys.commandLines.size(), 3u);
  EXPECT_EQ(sys.commandLines[0],
            "\"D:\\NT 40\\SYSTEM32\\expand.exe\" \"D:\\I386\\RASDD.DL_\" "
            "\"C:\\WINNT\\system32\\spool\\drivers\\w32x86\\Rasdd.dll\"");
  EXPECT_EQ(sys.programs, std::vector<std::string>(3, "D:\\NT 40\\SYSTEM32\\expand.exe"));
}

TEST_F(MissingFiles, ProgramsNotNamedByAFullPathAreNotStarted) {
  for (const char* program : {"expand", "expand.exe", "D:expand.exe", "\\WINNT\\system32\\expand.exe",
                              "system32\\expand.exe"})
    EXPECT_EQ(RunAndWait(sys, program, "\"A:\\RASDD.DL_\" \"C:\\Rasdd.dll\"", 0), std::nullopt) << program;
  EXPECT_TRUE(sys.commandLines.empty());
}

TEST_F(MissingFiles, FilesPresentNeedNoInf) {
  sys.AddUnidriverFiles();
  EXPECT_EQ(LocateUnidriverFiles(sys), kFilesWerePresent);
  EXPECT_TRUE(sys.prompts.empty());
  EXPECT_TRUE(sys.errorBoxes.empty());
}

TEST_F(MissingFiles, DirectoriesAndSystemFilesDoNotCount) {
  sys.AddUnidriverFiles();
  sys.AddFile("C:\\WINNT\\system32\\spool\\drivers\\w32x86\\Rasddui.hlp", kAttrDirectory);
  EXPECT_FALSE(UnidriverFilesPresent(sys));
  sys.AddFile("C:\\WINNT\\system32\\spool\\drivers\\w32x86\\Rasddui.hlp", kAttrSystem);
  EXPECT_FALSE(UnidriverFilesPresent(sys));
  sys.AddFile("C:\\WINNT\\system32\\spool\\drivers\\w32x86\\Rasddui.hlp", 0x20 | 0x1);  // archive, read-only
  EXPECT_TRUE(UnidriverFilesPresent(sys));
}

TEST_F(MissingFiles, MissingLayoutEntryIsReported) {
  sys.SetInf(kLayout, LayoutInf("$Windows NT$", "Rasdd.dll=1,,\r\nRasddui.dll=1,,\r\n"));
  EXPECT_EQ(RunInstaller(sys), 1);
  EXPECT_EQ(sys.errorBoxes, std::vector<std::string>{kNoEntry});
  EXPECT_TRUE(sys.prompts.empty());
}

TEST_F(MissingFiles, LonePercentInADiskNameStopsTheRun) {
  std::string inf = LayoutInf("$Windows NT$", Disks('1', '1', '1'));
  inf.replace(inf.find("%cdname%"), 8, "%cdname");
  sys.SetInf(kLayout, inf);
  EXPECT_EQ(RunInstaller(sys), 1);
  EXPECT_EQ(sys.fatalErrors, std::vector<std::string>{"Unexpected INF format encountered"});
  EXPECT_TRUE(sys.prompts.empty());
  EXPECT_TRUE(sys.writtenProfile.empty());
}

TEST_F(MissingFiles, DiskFieldThatIsNoNumberStopsTheRun) {
  sys.SetInf(kLayout, LayoutInf("$Windows NT$", "Rasdd.dll=one,,\r\nRasddui.hlp=1\r\nRasddui.dll=1\r\n"));
  EXPECT_EQ(RunInstaller(sys), 1);
  EXPECT_EQ(sys.fatalErrors, std::vector<std::string>{"'one' is not a valid integer value"});
  FakeInstallerSystem empty;
  empty.SetInf(kLayout, LayoutInf("$Windows NT$", "Rasdd.dll=,,,\r\nRasddui.hlp=1\r\nRasddui.dll=1\r\n"));
  EXPECT_EQ(RunInstaller(empty), 1);
  EXPECT_EQ(empty.fatalErrors, std::vector<std::string>{"'' is not a valid integer value"});
}

TEST_F(MissingFiles, SignatureInCapitalsTakesTheSetupRoute) {
  sys.SetInf(kLayout, LayoutInf("$WINDOWS NT$", Disks('1', '1', '1')));
  EXPECT_EQ(LocateUnidriverFiles(sys), kErrNoInfEntry);  // no PRINTER.INF in this machine
  EXPECT_TRUE(sys.prompts.empty());
}

constexpr char kSetupInf[] =
    "[Source Media Descriptions]\r\n"
    "0=\r\n"
    "1=\"Windows NT Setup Disk #1\", disk1\r\n"
    "1=a repeated key counts once\r\n"
    "2=\"Windows NT Server CD-ROM\",cdrom\r\n";

std::string PrinterInf(char a, char b, char c) {
  return std::string("[Version]\r\n[FILES-PRINTERDRIVER]\r\nPSCRIPT = 1,PSCRIPT.DLL\r\nrasdd = ") + a +
         ",RASDD.DLL\r\n[FILES-PRINTERDRIVERHELP]\r\nRASDDUI=" + b + ",RASDDUI.HLP\r\n[FILES-PRINTERCONFIG]\r\n"
         "rasddui = " + c + ",rasddui.dll\r\n";
}

TEST_F(MissingFiles, SetupRouteTakesDescriptionsByPosition) {
  sys.SetInf(kSetup, kSetupInf);
  sys.SetInf(kPrinter, PrinterInf('2', '2', '1'));
  sys.openAnswers = {std::string("D:\\I386\\RASDD.DL_"), std::string("A:\\RASDDUI.DL_")};
  EXPECT_EQ(LocateUnidriverFiles(sys), 0);
  const std::vector<std::string> titles = {"Insert Windows NT Server CD-ROM and Browse to listed file",
                                           "Insert Windows NT Setup Disk #1 and Browse to listed file"};
  EXPECT_EQ(Titles(), titles);
  EXPECT_EQ(sys.commandLines[1], Expand("Rasddui.hl_", "Rasddui.hlp"));
}

TEST_F(MissingFiles, SetupRouteDiskOutsideTheListStopsTheRun) {
  for (char disk : {'0', '3'}) {
    FakeInstallerSystem fresh;
    fresh.SetInf(kSetup, kSetupInf);
    fresh.SetInf(kPrinter, PrinterInf('1', disk, '1'));
    EXPECT_EQ(RunInstaller(fresh), 1);
    EXPECT_EQ(fresh.fatalErrors, std::vector<std::string>{"List index out of bounds"}) << disk;
    EXPECT_TRUE(fresh.prompts.empty());
  }
}

TEST_F(MissingFiles, SetupRouteWithoutTheEntryIsReported) {
  sys.SetInf(kSetup, kSetupInf);
  // [FILES-PRINTERCONFIG] is the last section and names no RASDDUI.
  sys.SetInf(kPrinter, "[FILES-PRINTERDRIVER]\r\nRASDD=1\r\n[FILES-PRINTERDRIVERHELP]\r\nRASDD=1\r\n"
                       "[FILES-PRINTERCONFIG]\r\nPSCRIPT=1\r\n");
  EXPECT_EQ(LocateUnidriverFiles(sys), kErrNoInfEntry);
}

}  // namespace
