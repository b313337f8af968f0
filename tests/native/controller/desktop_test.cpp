// Switching to the main fax program and the single-instance hand-over, over a
// fake desktop.
#include <gtest/gtest.h>

#include "controller/faxprogram.hpp"
#include "controller/instance.hpp"
#include "fake_controller_env.hpp"
#include "fake_desktop_env.hpp"

namespace {

using Calls = std::vector<std::string>;

class FaxProgramTest : public ::testing::Test {
 protected:
  vz::test::FakeControllerEnv env;
  vz::test::FakeDesktopEnv desktop;
};

TEST_F(FaxProgramTest, RunningProgramIsBroughtToTopAndNothingStarted) {
  desktop.Add("VelmorFAX NT Print To Fax");
  const auto program = desktop.Add("VelmorFAX");
  env.profile["VZExecutable"] = "C:\\VZ\\VZ.EXE";
  vz::ActivateOrStartFaxProgram(desktop, env);
  EXPECT_EQ(desktop.calls, Calls{"top " + std::to_string(program)});
}

TEST_F(FaxProgramTest, MinimisedOwnerIsRestoredFirstAndAShownOneIsLeftAlone) {
  const auto owner = desktop.Add("VelmorFAX Owner", 0, true);
  desktop.Add("VelmorFAX", owner);
  vz::ActivateOrStartFaxProgram(desktop, env);
  EXPECT_EQ(desktop.calls, (Calls{"restore 1", "top 2"}));
  desktop.calls.clear();
  vz::ActivateOrStartFaxProgram(desktop, env);
  EXPECT_EQ(desktop.calls, Calls{"top 2"});
}

TEST_F(FaxProgramTest, WithoutItTheConfiguredProgramIsStartedInItsOwnFolder) {
  env.profile["VZExecutable"] = "C:\\Program Files\\VelmorFAX\\VZ.EXE";
  vz::ActivateOrStartFaxProgram(desktop, env);
  env.profile["VZExecutable"] = "\\\\server\\fax\\VZ.EXE";
  vz::ActivateOrStartFaxProgram(desktop, env);
  EXPECT_EQ(desktop.calls, (Calls{"start C:\\Program Files\\VelmorFAX\\VZ.EXE in C:\\Program Files\\VelmorFAX\\",
                                  "start \\\\server\\fax\\VZ.EXE in \\\\server\\fax\\"}));
}

// An entry that is not a full path would be looked for in the current folder,
// where anyone may have put a program of that name: nothing is started.
TEST_F(FaxProgramTest, EmptyBareOrRelativeEntriesStartNothing) {
  for (const char* entry : {"", "VZ.EXE", "VELMOR\\VZ.EXE", "C:VZ.EXE", "\\VELMOR\\VZ.EXE"}) {
    env.profile["VZExecutable"] = entry;
    vz::ActivateOrStartFaxProgram(desktop, env);
  }
  EXPECT_EQ(desktop.calls, Calls{});
}

TEST(InstanceNamesTest, TitleIsTheFileNameWithoutExeInCapitalsOnly) {
  auto names = vz::InstanceNamesFromPath("C:\\VELMOR\\VZNTCTL.EXE");
  EXPECT_EQ(names.windowTitle, "VZNTCTL");
  EXPECT_EQ(names.mutexName, "VZNTCTL.EXE");
  names = vz::InstanceNamesFromPath("C:\\Velmor\\vzntctl.exe");
  EXPECT_EQ(names.windowTitle, "");
  EXPECT_EQ(names.mutexName, "vzntctl.exe");
  names = vz::InstanceNamesFromPath("D:VZ.EXE.BAK");
  EXPECT_EQ(names.windowTitle, "VZ.EXE");
  EXPECT_EQ(names.mutexName, "VZ.EXE.BAK");
}

TEST(PreviousInstanceTest, FirstWindowIsRenamedAndASecondOneComesForward) {
  vz::test::FakeDesktopEnv desktop;
  desktop.Add("VZNTCTL");
  desktop.Add("VZNTCTL", 0, true);
  vz::BringPreviousInstanceForward(desktop, "VZNTCTL");
  EXPECT_EQ(desktop.calls, (Calls{"title 1 something else", "restore 2"}));

  vz::test::FakeDesktopEnv shown;
  shown.Add("VZNTCTL");
  shown.Add("VZNTCTL");
  vz::BringPreviousInstanceForward(shown, "VZNTCTL");
  EXPECT_EQ(shown.calls, (Calls{"title 1 something else", "top 2"}));
}

TEST(PreviousInstanceTest, OneWindowIsOnlyRenamedAndAnEmptyTitleTouchesNothing) {
  vz::test::FakeDesktopEnv desktop;
  desktop.Add("VZNTCTL");
  desktop.Add("");
  vz::BringPreviousInstanceForward(desktop, "VZNTCTL");
  EXPECT_EQ(desktop.calls, Calls{"title 1 something else"});
  desktop.calls.clear();
  vz::BringPreviousInstanceForward(desktop, "");
  EXPECT_TRUE(desktop.calls.empty());
}

}  // namespace
