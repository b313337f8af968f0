// VZNTCTL.EXE as a whole, with this program playing the fax printer driver: each
// document start is answered with a name chosen from the real VZPD.INI, and the
// information boxes appear in order (a helper thread reads and closes them).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/text.hpp"
#include "controller/settings.hpp"
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
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{vz::MissingSettingsFileText(iniPath_)});
}

TEST_F(ControllerEndToEndTest, EmptyEntriesGiveTwoBoxesInOrder) {
  WriteBytes(iniPath_, "[Location]\r\nVZOutPath=\r\n");
  BoxCloser boxes;
  EXPECT_EQ(vz::tools::PipeDocStart("Letter"), "\\FAX00000.APF");
  EXPECT_EQ(boxes.Texts(),
            (std::vector<std::string>{vz::MissingOutputDirText(), vz::BadExecutableText("")}));
}

}  // namespace
