// The Win32 side for real: VZPD.INI in the Windows directory, real folders and
// files. Information boxes are captured instead of shown.
#include "controller/win32_controller_env.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>

#include "common/text.hpp"
#include "controller/faxfiles.hpp"
#include "controller/joblog.hpp"
#include "controller/settings.hpp"
#include "test_files.hpp"

namespace {

using vz::test::IsDir;
using vz::test::IsFile;
using vz::test::ReadBytes;
using vz::test::RemoveTree;
using vz::test::WriteBytes;

// Owns C:\windows\VZPD.INI for one test: what was there before is put back.
class SettingsFileTest : public vz::test::SettingsFileFixture {
 protected:
  void WriteIni(const std::string& text) {
    WriteBytes(iniPath_, text);
    FlushProfileCache();
  }
  void WriteSettings(const std::string& outPath, const std::string& executable) {
    WriteIni("[Location]\r\nVZOutPath=" + outPath + "\r\nVZExecutable=" + executable + "\r\n");
  }
  void RemoveIni() {
    DeleteFileA(iniPath_.c_str());
    FlushProfileCache();
  }
  std::vector<std::string> infos;
  vz::Win32ControllerEnv env{[this](const std::string& text) { infos.push_back(text); }};
};

TEST_F(SettingsFileTest, ValuesComeFromVzpdIniWithOneTrailingBackslashRemoved) {
  WriteSettings(root_ + "\\OUT\\\\", exe_);
  EXPECT_EQ(vz::ReadOutputDir(env), root_ + "\\OUT\\");
  EXPECT_EQ(vz::ReadExecutablePath(env), exe_);
  WriteSettings("C:\\", "");
  EXPECT_EQ(vz::ReadOutputDir(env), "C:");
  EXPECT_EQ(vz::ReadExecutablePath(env), "");
  WriteIni("[Other]\r\nVZOutPath=X\r\n");
  EXPECT_EQ(vz::ReadOutputDir(env), "");
  EXPECT_EQ(vz::SettingsFileName(env), iniPath_);
}

TEST_F(SettingsFileTest, MissingFileGivesOneBoxAndTheFallbackName) {
  RemoveIni();
  EXPECT_EQ(vz::GetOutputFileName(env), "c:\\vz.apf");
  ASSERT_EQ(infos.size(), 1u);
  EXPECT_EQ(infos[0], "Missing VelmorFAX initialization file\r\r" + iniPath_ +
                          "\r\rPlease run VelmorFAX to create or recreate this file.");
}

TEST_F(SettingsFileTest, EmptyEntriesGiveTwoBoxesInOrderAndAnEmptyDirectory) {
  WriteIni("[Location]\r\n");
  EXPECT_EQ(vz::GetOutputFileName(env), "\\FAX00000.APF");
  ASSERT_EQ(infos.size(), 2u);
  EXPECT_EQ(infos[0],
            "VelmorFAX initialization file error (VZPD.INI).\rMissing entry for fax file output.\r\r"
            "Please run VelmorFAX to recreate this file.");
  EXPECT_EQ(infos[1],
            "VelmorFAX initialization file error (VZPD.INI).\rMissing or bad entry for VZ.EXE path.\r()\r"
            "Please run VelmorFAX to recreate this file.");
}

TEST_F(SettingsFileTest, DirectoryAsExecutableIsReportedByName) {
  WriteSettings(root_, root_);
  EXPECT_EQ(vz::GetOutputFileName(env), root_ + "\\FAX00000.APF");
  ASSERT_EQ(infos.size(), 1u);
  EXPECT_EQ(infos[0], "VelmorFAX initialization file error (VZPD.INI).\rMissing or bad entry for VZ.EXE path.\r(" +
                          root_ + ")\rPlease run VelmorFAX to recreate this file.");
}

TEST_F(SettingsFileTest, ThreeMissingLevelsAreCreatedBeforeTheNameIsChosen) {
  const std::string out = root_ + "\\A\\B\\C";
  WriteSettings(out + "\\", exe_);
  EXPECT_EQ(vz::GetOutputFileName(env), out + "\\FAX00000.APF");
  EXPECT_TRUE(infos.empty());
  EXPECT_TRUE(IsDir(out));
}

TEST_F(SettingsFileTest, RealFolderSkipsTakenImagesOnly) {
  WriteSettings(root_, exe_);
  WriteBytes(root_ + "\\FAX00000.APF", "x");
  WriteBytes(root_ + "\\FAX00002.APF", "x");
  WriteBytes(root_ + "\\FAX00001.JFD", "x");
  EXPECT_EQ(vz::GetOutputFileName(env), root_ + "\\FAX00001.APF");

  // Past the first few numbers the folder listing decides.
  for (const char* name : {"FAX00001.APF", "fax00003.apf", "FAX00004.APF", "Fax00005.Apf",
                           "FAX00007.APF", "FAX00006.JFD"})
    WriteBytes(root_ + "\\" + name, "x");
  EXPECT_EQ(vz::NextFaxFileName(env), root_ + "\\FAX00006.APF");
}

// The driver cannot write into a folder: one of that name takes its number, when
// probed among the first few and when found in the listing.
TEST_F(SettingsFileTest, RealFolderOfTheNameTakesTheNumber) {
  WriteSettings(root_, exe_);
  ASSERT_TRUE(CreateDirectoryA((root_ + "\\FAX00000.APF").c_str(), nullptr));
  EXPECT_EQ(vz::GetOutputFileName(env), root_ + "\\FAX00001.APF");
  for (const char* name : {"FAX00001.APF", "FAX00002.APF", "FAX00003.APF", "FAX00005.APF"})
    WriteBytes(root_ + "\\" + name, "x");
  ASSERT_TRUE(CreateDirectoryA((root_ + "\\fax00004.apf").c_str(), nullptr));
  EXPECT_EQ(vz::NextFaxFileName(env), root_ + "\\FAX00006.APF");
  EXPECT_EQ(vz::ProbeFaxFileName(env, root_), root_ + "\\FAX00006.APF");
}

TEST_F(SettingsFileTest, ListingSeesFilesAndFolders) {
  std::vector<std::string> names{"stale"};
  EXPECT_TRUE(env.ListEntryNames(root_ + "\\", "*", names));
  EXPECT_EQ(names, std::vector<std::string>{"VZ.EXE"});
  ASSERT_TRUE(CreateDirectoryA((root_ + "\\EMPTY").c_str(), nullptr));
  EXPECT_TRUE(env.ListEntryNames(root_ + "\\", "E*", names));
  EXPECT_EQ(names, std::vector<std::string>{"EMPTY"});
  EXPECT_TRUE(env.ListEntryNames(root_ + "\\EMPTY\\", "*", names));
  EXPECT_TRUE(names.empty());
  EXPECT_FALSE(env.ListEntryNames(root_ + "\\MISSING\\", "*", names));
}

TEST_F(SettingsFileTest, JobFileIsWrittenExactlyAndReplacesAnOldOne) {
  const std::string jfd = vz::JobFileName(root_ + "\\FAX00000.APF");
  WriteBytes(jfd, "old contents that are longer than the new ones\r\n");
  ASSERT_TRUE(vz::WriteJobFile(env, jfd, "+1 555 0100", "Ann\r\nLee", ""));
  EXPECT_EQ(ReadBytes(jfd), "+1 555 0100\r\nAnn  Lee\r\n\r\n");
  std::vector<std::string> names;
  ASSERT_TRUE(env.ListEntryNames(root_ + "\\", "*", names));
  EXPECT_EQ(names.size(), 2u) << "only VZ.EXE and the descriptor";
}

TEST_F(SettingsFileTest, FailedJobFileReturnsFalseWithTheSystemsReasonAndLeavesNothing) {
  std::string reason;
  EXPECT_FALSE(vz::WriteJobFile(env, root_ + "\\NOWHERE\\FAX00000.JFD", "1", "2", "3", &reason));
  EXPECT_EQ(reason, "Path not found.");
  const std::string jfdDir = root_ + "\\FAX00001.JFD";
  ASSERT_TRUE(CreateDirectoryA(jfdDir.c_str(), nullptr));
  EXPECT_FALSE(vz::WriteJobFile(env, jfdDir, "1", "2", "3", &reason));
  EXPECT_EQ(reason, "Access denied.");
  std::vector<std::string> names;
  ASSERT_TRUE(env.ListEntryNames(root_ + "\\", "*", names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"FAX00001.JFD", "VZ.EXE"})) << "no temporary file";
}

// A reservation: created empty once, refused for a file or folder already there.
TEST_F(SettingsFileTest, NewFileIsCreatedEmptyOnlyWhereNothingIsYet) {
  const std::string apf = root_ + "\\FAX00002.APF";
  ASSERT_TRUE(env.CreateNewFile(apf));
  EXPECT_EQ(ReadBytes(apf), "");
  WriteBytes(apf, "image");
  EXPECT_FALSE(env.CreateNewFile(apf));
  EXPECT_EQ(env.LastErrorText(), "File exists.");
  EXPECT_EQ(ReadBytes(apf), "image") << "an existing file is left as it was";
  const std::string folder = root_ + "\\FAX00003.APF";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  EXPECT_FALSE(env.CreateNewFile(folder));
  EXPECT_FALSE(env.CreateNewFile(root_ + "\\NOWHERE\\FAX00004.APF"));
  EXPECT_EQ(env.LastErrorText(), "Path not found.");
}

TEST_F(SettingsFileTest, CancelDeletesTheImage) {
  const std::string apf = root_ + "\\FAX00000.APF";
  WriteBytes(apf, "image");
  vz::DeleteFaxFile(env, apf);
  EXPECT_FALSE(IsFile(apf));
  vz::DeleteFaxFile(env, apf);
}

TEST_F(SettingsFileTest, AppendingCreatesThenAddsAndSizesAndReadsBack) {
  EXPECT_EQ(env.AppDataDirectory(), appData_);
  const std::string path = appData_ + "\\log.csv";
  std::uint64_t size = 99;
  EXPECT_FALSE(env.FileSize(path, size));
  std::string bytes = "left as it was";
  EXPECT_FALSE(env.ReadWholeFile(path, bytes));
  EXPECT_EQ(bytes, "");
  ASSERT_TRUE(env.AppendToFile(path, "first\r\n"));
  ASSERT_TRUE(env.AppendToFile(path, std::string("second\0\xFF\r\n", 10)));
  EXPECT_EQ(ReadBytes(path), std::string("first\r\nsecond\0\xFF\r\n", 17));
  ASSERT_TRUE(env.FileSize(path, size));
  EXPECT_EQ(size, 17u);
  ASSERT_TRUE(env.ReadWholeFile(path, bytes));
  EXPECT_EQ(bytes, std::string("first\r\nsecond\0\xFF\r\n", 17));
  const std::string big(200000, 'x');
  ASSERT_TRUE(env.AppendToFile(path, big));
  ASSERT_TRUE(env.ReadWholeFile(path, bytes));
  EXPECT_EQ(bytes.size(), 200017u);
  EXPECT_EQ(bytes.substr(17), big);
  EXPECT_FALSE(env.AppendToFile(appData_ + "\\NOWHERE\\log.csv", "x"));
  EXPECT_EQ(env.LastErrorText(), "Path not found.");
}

TEST_F(SettingsFileTest, AppDataFolderEndsWithoutABackslashAndIsTheShellsWithoutTheVariable) {
  SetEnvironmentVariableA("APPDATA", (appData_ + "\\").c_str());
  EXPECT_EQ(env.AppDataDirectory(), appData_);
  SetEnvironmentVariableA("APPDATA", nullptr);
  const std::string shells = env.AppDataDirectory();
  EXPECT_FALSE(shells.empty());
  EXPECT_TRUE(IsDir(shells)) << shells;
}

// The job log with the system's ANSI code page (1252 here) and real files.
TEST_F(SettingsFileTest, JobLogWritesUtf8LinesIntoAFolderItCreates) {
  const auto codePage = vz::phonebook::SystemAnsiCodePage();
  vz::JobLog log(*codePage);
  ASSERT_TRUE(log.Append(env, {"C:\\SEND\\FAX00000.APF", "+49 30 1234567", "M\xFCller, J\xFCrgen", "\x80 5",
                               vz::JobOutcome::jbSent}));
  const std::string text = ReadBytes(appData_ + "\\VelmorFAX\\jobs.csv");
  const std::string start = "\xEF\xBB\xBFTime,Image,Number,Recipient,Subject,Outcome\r\n";
  ASSERT_EQ(text.substr(0, start.size()), start);
  // The time is the local time of the call: its form only is known.
  const std::string line = text.substr(start.size());
  ASSERT_GT(line.size(), 19u);
  EXPECT_EQ(line[4], '-');
  EXPECT_EQ(line[10], 'T');
  EXPECT_EQ(line.substr(19),
            ",C:\\SEND\\FAX00000.APF,+49 30 1234567,\"M\xC3\xBCller, J\xC3\xBCrgen\",\xE2\x82\xAC 5,queued\r\n");
  EXPECT_TRUE(infos.empty());
}

}  // namespace
