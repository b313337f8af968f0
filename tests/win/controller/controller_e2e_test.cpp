// VZNTCTL.EXE as a whole, with this program playing the fax printer driver: each
// document start is answered with a name chosen from the real VZPD.INI, and the
// information boxes appear in order (a helper thread reads and closes them).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/text.hpp"
#include "controller_process.hpp"
#include "test_files.hpp"
#include "tools/driverclient.hpp"

namespace {

using vz::test::IsFile;
using vz::test::ReadBytes;
using vz::test::RemoveTree;
using vz::test::WriteBytes;

using vz::test::BoxCloser;
using vz::test::ControllerEndToEndTest;
using vz::test::MainFormOf;

constexpr char kMissingOutputDir[] =
    "VelmorFAX initialization file error (VZPD.INI).\rMissing entry for fax file output.\r\r"
    "Please run VelmorFAX to recreate this file.";
constexpr char kEmptyExecutable[] =
    "VelmorFAX initialization file error (VZPD.INI).\rMissing or bad entry for VZ.EXE path.\r()\r"
    "Please run VelmorFAX to recreate this file.";

// Polls `condition` until it holds; false after `timeoutMs`.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (GetTickCount64() > end) return false;
    Sleep(10);
  }
  return true;
}



TEST_F(ControllerEndToEndTest, DocumentStartsGetTheNextNamesInTheConfiguredFolder) {
  const std::string out = root_ + "\\SEND\\A\\B";
  WriteBytes(iniPath_, "[Location]\r\nVZOutPath=" + out + "\\\r\nVZExecutable=" + exe_ + "\r\n");
  BoxCloser boxes;
  const std::string first = vz::tools::PipeDocStart("Letter");
  EXPECT_EQ(first, out + "\\FAX00000.APF");
  EXPECT_TRUE(vz::test::IsDir(out));
  WriteBytes(first, "APF image");
  WriteBytes(out + "\\FAX00002.APF", "APF image");
  WriteBytes(out + "\\FAX00001.JFD", "stray\r\n");
  EXPECT_EQ(vz::tools::PipeDocStart("Invoice"), out + "\\FAX00001.APF");
  EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(ControllerEndToEndTest, MissingSettingsFileGivesOneBoxAndTheFallbackName) {
  DeleteFileA(iniPath_.c_str());
  BoxCloser boxes;
  EXPECT_EQ(vz::tools::PipeDocStart("Letter"), "c:\\vz.apf");
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Missing VelmorFAX initialization file\r\r" + iniPath_ +
                                                     "\r\rPlease run VelmorFAX to create or recreate this file."});
}

TEST_F(ControllerEndToEndTest, EmptyEntriesGiveTwoBoxesInOrder) {
  WriteBytes(iniPath_, "[Location]\r\nVZOutPath=\r\n");
  BoxCloser boxes;
  EXPECT_EQ(vz::tools::PipeDocStart("Letter"), "\\FAX00000.APF");
  EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{kMissingOutputDir, kEmptyExecutable}));
}

// The controller is closed while a driver keeps starting documents: it ends with
// exit code 0, and every start gets a reply, a connection let go without one, or
// no controller; none hangs.
TEST_F(ControllerEndToEndTest, ClosingWhileDocumentStartsArriveEndsWithExitCodeZero) {
  const std::string out = root_ + "\\SEND";
  WriteBytes(iniPath_, "[Location]\r\nVZOutPath=" + out + "\r\nVZExecutable=" + exe_ + "\r\n");
  BoxCloser boxes;
  std::atomic<int> replies{0};
  auto driver = std::async(std::launch::async, [&] {
    vz::tools::PipeClientOptions options;
    options.timeoutMs = 1000;
    std::vector<vz::tools::DocStartOutcome> outcomes;
    do {
      outcomes.push_back(vz::tools::TryPipeDocStart("Letter", options));
      if (outcomes.back().kind == vz::tools::DocStartOutcome::kReply) ++replies;
    } while (outcomes.back().kind != vz::tools::DocStartOutcome::kRefused);
    return outcomes;
  });
  HWND form = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return replies > 0 && (form = MainFormOf(controller_.dwProcessId)); }));
  PostMessageA(form, WM_CLOSE, 0, 0);
  const DWORD ended = WaitForSingleObject(controller_.hProcess, 20000);
  const std::string showing = ended == WAIT_OBJECT_0 ? "" : vz::test::WindowsOf(controller_.dwProcessId);
  // Otherwise the driver would go on being answered, and this test with it.
  if (ended != WAIT_OBJECT_0) TerminateProcess(controller_.hProcess, 99);
  ASSERT_EQ(ended, WAIT_OBJECT_0) << "the controller hangs, still showing:\n" << showing;
  DWORD exitCode = 99;
  GetExitCodeProcess(controller_.hProcess, &exitCode);
  EXPECT_EQ(exitCode, 0u);
  ASSERT_EQ(driver.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "a driver hangs";
  for (const auto& outcome : driver.get())
    if (outcome.kind == vz::tools::DocStartOutcome::kReply) {
      EXPECT_EQ(outcome.fileName, out + "\\FAX00000.APF");
    }
  EXPECT_TRUE(boxes.Texts().empty());
}

}  // namespace
