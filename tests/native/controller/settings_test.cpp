#include "controller/settings.hpp"

#include <gtest/gtest.h>

#include "controller/faxfiles.hpp"
#include "fake_controller_env.hpp"

namespace {

using vz::test::FakeControllerEnv;

const char kMissingOutput[] =
    "VelmorFAX initialization file error (VZPD.INI).\rMissing entry for fax file output.\r\r"
    "Please run VelmorFAX to recreate this file.";

TEST(ControllerSettingsTest, OutputDirLosesExactlyOneTrailingBackslash) {
  FakeControllerEnv env;
  const std::pair<const char*, const char*> cases[] = {
      {"D:\\FAXOUT\\", "D:\\FAXOUT"}, {"D:\\FAXOUT\\\\", "D:\\FAXOUT\\"}, {"C:\\", "C:"},
      {"D:\\FAXOUT", "D:\\FAXOUT"},   {"\\", ""},                        {"", ""}};
  for (const auto& [stored, expected] : cases) {
    env.profile["VZOutPath"] = stored;
    EXPECT_EQ(vz::ReadOutputDir(env), expected) << stored;
  }
}

TEST(ControllerSettingsTest, ExecutablePathIsReturnedUnchanged) {
  FakeControllerEnv env;
  EXPECT_EQ(vz::ReadExecutablePath(env), "");
  env.profile["VZExecutable"] = "C:\\VZ\\VZ.EXE\\";
  EXPECT_EQ(vz::ReadExecutablePath(env), "C:\\VZ\\VZ.EXE\\");
}

TEST(ControllerSettingsTest, SettingsFileLiesInTheWindowsDirectory) {
  FakeControllerEnv env;
  EXPECT_EQ(vz::SettingsFileName(env), "C:\\WINNT\\VZPD.INI");
  env.windowsDir = "C:\\";
  EXPECT_EQ(vz::SettingsFileName(env), "C:\\VZPD.INI");
}

TEST(ControllerSettingsTest, MissingFileGivesOneBoxAndTheFallback) {
  FakeControllerEnv env;
  env.profile["VZOutPath"] = "";  // would give a second box if checked
  EXPECT_EQ(vz::GetOutputFileName(env), "c:\\vz.apf");
  ASSERT_EQ(env.infos.size(), 1u);
  EXPECT_EQ(env.infos[0],
            "Missing VelmorFAX initialization file\r\rC:\\WINNT\\VZPD.INI\r\r"
            "Please run VelmorFAX to create or recreate this file.");
  EXPECT_TRUE(env.createdDirs.empty());
}

TEST(ControllerSettingsTest, BothEntriesMissingGiveTwoBoxesOutputFirst) {
  FakeControllerEnv env;
  env.AddSettingsFile();
  EXPECT_EQ(vz::GetOutputFileName(env), "\\FAX00000.APF");
  ASSERT_EQ(env.infos.size(), 2u);
  EXPECT_EQ(env.infos[0], kMissingOutput);
  EXPECT_EQ(env.infos[1],
            "VelmorFAX initialization file error (VZPD.INI).\rMissing or bad entry for VZ.EXE "
            "path.\r()\rPlease run VelmorFAX to recreate this file.");
}

TEST(ControllerSettingsTest, ExecutableMustBeAnExistingFile) {
  FakeControllerEnv env;
  env.AddSettingsFile();
  env.AddDir("D:\\FAXOUT");
  env.profile["VZOutPath"] = "D:\\FAXOUT\\";
  env.profile["VZExecutable"] = "C:\\VZ";
  env.AddDir("C:\\VZ");
  EXPECT_EQ(vz::GetOutputFileName(env), "D:\\FAXOUT\\FAX00000.APF");
  ASSERT_EQ(env.infos.size(), 1u);
  EXPECT_NE(env.infos[0].find("\r(C:\\VZ)\r"), std::string::npos) << env.infos[0];

  env.infos.clear();
  env.AddFile("C:\\VZ\\VZ.EXE");
  env.profile["VZExecutable"] = "C:\\VZ\\VZ.EXE";
  EXPECT_EQ(vz::GetOutputFileName(env), "D:\\FAXOUT\\FAX00000.APF");
  EXPECT_TRUE(env.infos.empty());

  // "Start VelmorFAX" starts nothing that is not named by a full path: an entry
  // that is not one is reported as bad, even when such a file is found.
  env.AddFile("VZ.EXE");
  env.profile["VZExecutable"] = "VZ.EXE";
  vz::GetOutputFileName(env);
  ASSERT_EQ(env.infos.size(), 1u);
  EXPECT_EQ(env.infos[0],
            "VelmorFAX initialization file error (VZPD.INI).\rMissing or bad entry for VZ.EXE "
            "path.\r(VZ.EXE)\rPlease run VelmorFAX to recreate this file.");
}

TEST(ControllerSettingsTest, LongMessagesAreCutAfter255Characters) {
  FakeControllerEnv env;
  env.AddSettingsFile();
  env.AddDir("D:\\FAXOUT");
  env.profile["VZOutPath"] = "D:\\FAXOUT";
  const std::string longPath = "C:\\" + std::string(240, 'P') + "\\VZ.EXE";
  env.profile["VZExecutable"] = longPath;
  vz::GetOutputFileName(env);
  ASSERT_EQ(env.infos.size(), 1u);
  const std::string full =
      "VelmorFAX initialization file error (VZPD.INI).\rMissing or bad entry for VZ.EXE path.\r(" +
      longPath.substr(0, 255) + ")\rPlease run VelmorFAX to recreate this file.";
  EXPECT_EQ(env.infos[0], full.substr(0, 255));

  FakeControllerEnv missing;
  missing.windowsDir = "C:\\" + std::string(250, 'W');
  vz::GetOutputFileName(missing);
  ASSERT_EQ(missing.infos.size(), 1u);
  EXPECT_EQ(missing.infos[0].size(), 255u);
  EXPECT_EQ(missing.infos[0].rfind("Missing VelmorFAX initialization file\r\rC:\\WWW", 0), 0u);
}

}  // namespace
