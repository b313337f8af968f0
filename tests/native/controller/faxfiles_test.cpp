#include "controller/faxfiles.hpp"

#include <gtest/gtest.h>

#include <random>

#include "fake_controller_env.hpp"

namespace {

using vz::test::FakeControllerEnv;

class FaxFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.AddSettingsFile();
    env.AddFile("C:\\VZ\\VZ.EXE");
    env.profile["VZExecutable"] = "C:\\VZ\\VZ.EXE";
    env.profile["VZOutPath"] = "D:\\FAXOUT\\";
    env.AddDir("D:\\FAXOUT");
  }
  void AddFaxes(int from, int to) {
    for (int n = from; n <= to; ++n) env.AddFile(vz::FaxFileName("D:\\FAXOUT", n));
  }
  FakeControllerEnv env;
};

TEST_F(FaxFilesTest, NamesAreFiveDigitNumbersInTheOutputDir) {
  EXPECT_EQ(vz::FaxFileName("D:\\FAXOUT", 7), "D:\\FAXOUT\\FAX00007.APF");
  EXPECT_EQ(vz::FaxFileName("", 99999), "\\FAX99999.APF");
  EXPECT_EQ(vz::GetOutputFileName(env), "D:\\FAXOUT\\FAX00000.APF");
  EXPECT_TRUE(env.infos.empty());
}

// A folder of `length` characters under D:\ (a trailing backslash is not counted).
std::string FolderOfLength(std::size_t length) {
  std::string folder = "D:\\";
  while (folder.size() < length) folder += (folder.size() % 9 == 8) ? '\\' : 'f';
  folder.back() = 'g';
  return folder;
}

TEST_F(FaxFilesTest, AnOutputDirTooLongForTheNumberIsASettingsErrorNotOneSharedName) {
  const std::string fits = FolderOfLength(242);
  env.AddDir(fits);
  env.profile["VZOutPath"] = fits;
  const std::string name = vz::GetOutputFileName(env);
  EXPECT_EQ(name, fits + "\\FAX00000.APF");
  EXPECT_EQ(name.size(), 255u);
  EXPECT_TRUE(env.infos.empty());

  // The trailing backslash is not part of the folder's length.
  env.profile["VZOutPath"] = fits + "\\";
  EXPECT_EQ(vz::GetOutputFileName(env), fits + "\\FAX00000.APF");

  for (const std::size_t length : {243u, 255u}) {
    env.infos.clear();
    env.createdDirs.clear();
    env.profile["VZOutPath"] = FolderOfLength(length);
    EXPECT_EQ(vz::GetOutputFileName(env), "c:\\vz.apf") << length;
    ASSERT_EQ(env.infos.size(), 1u) << length;
    EXPECT_EQ(env.infos[0],
              "VelmorFAX initialization file error (VZPD.INI).\rThe folder for fax file output is too long: " +
                  std::to_string(length) +
                  " characters, at most 242 fit.\r\rPlease choose a shorter folder in VelmorFAX.");
    // Nothing is created for a folder that is not used.
    EXPECT_TRUE(env.createdDirs.empty()) << length;
  }
}

TEST_F(FaxFilesTest, SmallestFreeNumberIsChosenAndOnlyApfFilesCount) {
  env.AddFile("D:\\FAXOUT\\FAX00000.APF");
  env.AddFile("D:\\FAXOUT\\FAX00002.APF");
  EXPECT_EQ(vz::NextFaxFileName(env), "D:\\FAXOUT\\FAX00001.APF");

  FakeControllerEnv strayJfd;
  strayJfd.AddDir("D:\\FAXOUT");
  strayJfd.profile["VZOutPath"] = "D:\\FAXOUT";
  strayJfd.AddFile("D:\\FAXOUT\\FAX00000.JFD");
  EXPECT_EQ(vz::NextFaxFileName(strayJfd), "D:\\FAXOUT\\FAX00000.APF");
}

// Past the first few numbers the folder is read once; the names found there must
// count exactly as probing them one by one would.
TEST_F(FaxFilesTest, ListedNamesCountInAnyCaseButOnlyWithTheExactPattern) {
  AddFaxes(0, 9);
  env.RemoveFile("D:\\FAXOUT\\FAX00006.APF");
  env.RemoveFile("D:\\FAXOUT\\FAX00007.APF");
  env.AddFile("D:\\FAXOUT\\fax00006.apf");
  env.AddFile("D:\\FAXOUT\\FAX00007.JFD");
  env.AddFile("D:\\FAXOUT\\FAX0007.APF");
  env.AddFile("D:\\FAXOUT\\FAX000007.APF");
  env.AddFile("D:\\FAXOUT\\XFAX00007.APF");
  env.AddFile("D:\\FAXOUT\\FAX0000x.APF");
  env.AddFile("D:\\FAXOUT\\SUB\\FAX00007.APF");
  EXPECT_EQ(vz::NextFaxFileName(env), "D:\\FAXOUT\\FAX00007.APF");
  EXPECT_EQ(env.listings, 1);
  EXPECT_LE(env.fileProbes, 8);
}

// The driver cannot write into a folder: one of that name takes its number,
// whether the name is probed or found in the listing.
TEST_F(FaxFilesTest, AFolderOfTheNameTakesTheNumberAsAFileDoes) {
  env.AddDir("D:\\FAXOUT\\FAX00000.APF");
  EXPECT_EQ(vz::NextFaxFileName(env), "D:\\FAXOUT\\FAX00001.APF");
  AddFaxes(1, 5);
  env.AddDir("D:\\FAXOUT\\fax00006.apf");
  EXPECT_EQ(vz::NextFaxFileName(env), "D:\\FAXOUT\\FAX00007.APF");
  EXPECT_EQ(env.listings, 1);
  env.failListing = true;
  EXPECT_EQ(vz::NextFaxFileName(env), "D:\\FAXOUT\\FAX00007.APF");
}

TEST_F(FaxFilesTest, FullFolderHandsOut99999AgainAndFailedListingFallsBackToProbing) {
  AddFaxes(0, 99999);
  EXPECT_EQ(vz::NextFaxFileName(env), "D:\\FAXOUT\\FAX99999.APF");
  env.RemoveFile("D:\\FAXOUT\\FAX54321.APF");
  EXPECT_EQ(vz::NextFaxFileName(env), "D:\\FAXOUT\\FAX54321.APF");
  env.failListing = true;
  EXPECT_EQ(vz::NextFaxFileName(env), "D:\\FAXOUT\\FAX54321.APF");
  env.AddFile("D:\\FAXOUT\\FAX54321.APF");
  EXPECT_EQ(vz::NextFaxFileName(env), "D:\\FAXOUT\\FAX99999.APF");
}

TEST_F(FaxFilesTest, ListingAgreesWithProbingOnRandomFolders) {
  std::mt19937 random(12345);
  for (int round = 0; round < 200; ++round) {
    FakeControllerEnv folder;
    folder.AddDir("E:\\OUT");
    const int count = static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) {
      const int number = static_cast<int>(random() % 24);
      std::string name = vz::FaxFileName("E:\\OUT", number);
      if (random() % 3 == 0) name = name.replace(7, 3, "fax");
      if (random() % 5 == 0) name.replace(name.size() - 3, 3, "JFD");
      if (random() % 4 == 0)
        folder.AddDir(name);
      else
        folder.AddFile(name);
    }
    EXPECT_EQ(vz::ChooseFaxFileName(folder, "E:\\OUT"), vz::ProbeFaxFileName(folder, "E:\\OUT"))
        << "round " << round;
  }
}

TEST_F(FaxFilesTest, MissingOutputDirIsCreatedLevelByLevel) {
  env.profile["VZOutPath"] = "D:\\A\\B\\C\\";
  env.AddDir("D:\\");
  EXPECT_EQ(vz::NextFaxFileName(env), "D:\\A\\B\\C\\FAX00000.APF");
  EXPECT_EQ(env.createdDirs, (std::vector<std::string>{"D:\\A", "D:\\A\\B", "D:\\A\\B\\C"}));
  EXPECT_TRUE(env.HasDir("D:\\A\\B\\C"));

  env.createdDirs.clear();
  env.profile["VZOutPath"] = "D:\\A\\X\\Y";
  EXPECT_EQ(vz::NextFaxFileName(env), "D:\\A\\X\\Y\\FAX00000.APF");
  EXPECT_EQ(env.createdDirs, (std::vector<std::string>{"D:\\A\\X", "D:\\A\\X\\Y"}));
}

TEST_F(FaxFilesTest, DirectoryCreationStopsAtRootsAndIgnoresFailures) {
  env.profile["VZOutPath"] = "Q:\\NO\\WAY";
  env.failingMkdirs.insert("Q:\\NO");
  EXPECT_EQ(vz::NextFaxFileName(env), "Q:\\NO\\WAY\\FAX00000.APF");
  EXPECT_EQ(env.createdDirs, (std::vector<std::string>{"Q:\\NO", "Q:\\NO\\WAY"}));

  env.createdDirs.clear();
  env.profile["VZOutPath"] = "";
  EXPECT_EQ(vz::NextFaxFileName(env), "\\FAX00000.APF");
  env.profile["VZOutPath"] = "Q:\\";
  EXPECT_EQ(vz::NextFaxFileName(env), "Q:\\FAX00000.APF");
  EXPECT_TRUE(env.createdDirs.empty());

  env.profile["VZOutPath"] = "REL";
  vz::NextFaxFileName(env);
  EXPECT_EQ(env.createdDirs, (std::vector<std::string>{"REL"}));

  // Names that are their own parent end the climb instead of looping.
  env.createdDirs.clear();
  env.profile["VZOutPath"] = "D:\\A\\X:";
  EXPECT_EQ(vz::NextFaxFileName(env), "D:\\A\\X:\\FAX00000.APF");
  EXPECT_EQ(env.createdDirs, (std::vector<std::string>{"D:\\A\\X:"}));
  env.createdDirs.clear();
  env.profile["VZOutPath"] = "D:\\NEW\\\\";
  vz::NextFaxFileName(env);
  EXPECT_EQ(env.createdDirs, (std::vector<std::string>{"D:\\NEW"}));
}

TEST(JobFileTest, DescriptorNameReplacesTheExtension) {
  EXPECT_EQ(vz::JobFileName("D:\\FAXOUT\\FAX00007.APF"), "D:\\FAXOUT\\FAX00007.JFD");
  EXPECT_EQ(vz::JobFileName("c:\\vz.apf"), "c:\\vz.JFD");
  EXPECT_EQ(vz::JobFileName("D:\\OUT.DIR\\FAX"), "D:\\OUT.DIR\\FAX.JFD");
}

TEST(JobFileTest, WritesThreeCrLfLinesExactlyAsEntered) {
  FakeControllerEnv env;
  ASSERT_TRUE(vz::WriteJobFile(env, "D:\\F.JFD", " +49 (30) 123 ", "  Anna \"A\" M\xfcller", ""));
  EXPECT_EQ(env.Contents("D:\\F.JFD"), " +49 (30) 123 \r\n  Anna \"A\" M\xfcller\r\n\r\n");
  EXPECT_EQ(env.FileCount(), 1u);

  ASSERT_TRUE(vz::WriteJobFile(env, "D:\\F.JFD", "", "", ""));
  EXPECT_EQ(env.Contents("D:\\F.JFD"), "\r\n\r\n\r\n");
  EXPECT_EQ(env.FileCount(), 1u);
}

TEST(JobFileTest, LineBreaksInsideValuesBecomeBlanks) {
  FakeControllerEnv env;
  ASSERT_TRUE(vz::WriteJobFile(env, "D:\\F.JFD", "123\r\n456", "Bob\nSmith", "a\rb"));
  EXPECT_EQ(env.Contents("D:\\F.JFD"), "123  456\r\nBob Smith\r\na b\r\n");
}

TEST(JobFileTest, FailedWriteOrRenameLeavesNoFiles) {
  FakeControllerEnv env;
  env.failingWrites.insert("D:\\F.$JF");
  EXPECT_FALSE(vz::WriteJobFile(env, "D:\\F.JFD", "1", "2", "3"));
  EXPECT_EQ(env.FileCount(), 0u);

  FakeControllerEnv renameFails;
  renameFails.AddFile("D:\\F.JFD", "old\r\n");
  renameFails.failRenames = true;
  EXPECT_FALSE(vz::WriteJobFile(renameFails, "D:\\F.JFD", "1", "2", "3"));
  EXPECT_EQ(renameFails.FileCount(), 1u);
  EXPECT_EQ(renameFails.Contents("D:\\F.JFD"), "old\r\n");
}

TEST(JobFileTest, CancelDeletesTheImageOnly) {
  FakeControllerEnv env;
  env.AddFile("D:\\FAXOUT\\FAX00003.APF", "image");
  env.AddFile("D:\\FAXOUT\\FAX00004.APF", "image");
  vz::DeleteFaxFile(env, "D:\\FAXOUT\\FAX00003.APF");
  EXPECT_FALSE(env.HasFile("D:\\FAXOUT\\FAX00003.APF"));
  EXPECT_TRUE(env.HasFile("D:\\FAXOUT\\FAX00004.APF"));
  vz::DeleteFaxFile(env, "D:\\FAXOUT\\FAX00003.APF");
}

}  // namespace

namespace {

// Another program creates the chosen name between the choice and the creation.
class RacingEnv : public FakeControllerEnv {
 public:
  int races = 1;
  bool CreateNewFile(const std::string& path) override {
    if (races-- > 0) {
      AddFile(path, "theirs");
      journal.push_back("raced " + path);
      return false;
    }
    return FakeControllerEnv::CreateNewFile(path);
  }
};

TEST(ReserveFaxFileNameTest, TakesTheSmallestFreeNameEmptyAndChoosesAgainWhenItWasTakenMeanwhile) {
  RacingEnv env;
  env.AddDir("D:\\FAXOUT");
  env.AddFile("D:\\FAXOUT\\FAX00000.APF", "image");
  std::string name, reason;
  ASSERT_TRUE(vz::ReserveFaxFileName(env, "D:\\FAXOUT\\", name, reason));
  EXPECT_EQ(name, "D:\\FAXOUT\\FAX00002.APF");
  EXPECT_EQ(env.Contents("D:\\FAXOUT\\FAX00001.APF"), "theirs");
  EXPECT_EQ(env.Contents(name), "");
  EXPECT_EQ(env.journal, (std::vector<std::string>{"raced D:\\FAXOUT\\FAX00001.APF", "create D:\\FAXOUT\\FAX00002.APF"}));

  // Taken at every attempt: a bounded number of them, then the reason.
  env.races = 100;
  env.failureReason = "File exists.";
  EXPECT_FALSE(vz::ReserveFaxFileName(env, "D:\\FAXOUT", name, reason));
  EXPECT_EQ(reason, "File exists.");
  EXPECT_EQ(env.races, 92);
}

TEST(ReserveFaxFileNameTest, AFolderThatCannotTakeTheFileGivesTheReasonAtOnce) {
  FakeControllerEnv env;
  env.failureReason = "Path not found.";
  std::string name, reason;
  EXPECT_FALSE(vz::ReserveFaxFileName(env, "D:\\GONE", name, reason));
  EXPECT_EQ(reason, "Path not found.");
  EXPECT_EQ(name, "");
  EXPECT_EQ(env.journal, std::vector<std::string>{"create D:\\GONE\\FAX00000.APF"});
}

}  // namespace
