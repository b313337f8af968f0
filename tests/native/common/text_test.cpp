#include "common/text.hpp"

#include <gtest/gtest.h>

namespace {

TEST(TextTest, Clip255KeepsShortAndCutsLong) {
  EXPECT_EQ(vz::Clip255("abc"), "abc");
  const std::string longText(300, 'x');
  EXPECT_EQ(vz::Clip255(longText).size(), 255u);
  EXPECT_EQ(vz::Clip255(std::string(255, 'y')), std::string(255, 'y'));
}

TEST(TextTest, JoinPathAddsBackslashOnlyWhenNeeded) {
  EXPECT_EQ(vz::JoinPath("C:\\FAX", "A.APF"), "C:\\FAX\\A.APF");
  EXPECT_EQ(vz::JoinPath("C:\\FAX\\", "A.APF"), "C:\\FAX\\A.APF");
  EXPECT_EQ(vz::JoinPath("C:", "A.APF"), "C:A.APF");
  EXPECT_EQ(vz::JoinPath("", "A.APF"), "A.APF");
}

TEST(TextTest, DirectoryOfCutsAfterLastSeparator) {
  EXPECT_EQ(vz::DirectoryOf("C:\\VZ\\VZNTCTL.EXE"), "C:\\VZ\\");
  EXPECT_EQ(vz::DirectoryOf("C:VZNTCTL.EXE"), "C:\\");
  EXPECT_EQ(vz::DirectoryOf("VZNTCTL.EXE"), "\\");
}

TEST(TextTest, FullPathsNameTheirDriveAndRootOrAShare) {
  for (const char* full : {"C:\\WINNT\\system32\\expand.exe", "d:\\VZ.EXE", "\\\\server\\fax\\VZ.EXE"})
    EXPECT_TRUE(vz::IsFullPath(full)) << full;
  // Each of these depends on the current drive or folder, or on a search.
  for (const char* partial : {"", "VZ.EXE", "expand", "VZ\\VZ.EXE", ".\\VZ.EXE", "C:VZ.EXE", "C:", "\\VZ\\VZ.EXE",
                              "\\\\\\VZ.EXE", "1:\\VZ.EXE", "\"C:\\VZ\\VZ.EXE\""})
    EXPECT_FALSE(vz::IsFullPath(partial)) << partial;
}

TEST(TextTest, ChangeFileExtReplacesOnlyTheLastExtension) {
  EXPECT_EQ(vz::ChangeFileExt("C:\\SEND\\FAX00001.APF", ".JFD"), "C:\\SEND\\FAX00001.JFD");
  EXPECT_EQ(vz::ChangeFileExt("C:\\A.B\\FAX", ".JFD"), "C:\\A.B\\FAX.JFD");
  EXPECT_EQ(vz::ChangeFileExt("a.tar.gz", ".x"), "a.tar.x");
}

TEST(TextTest, FormatAndUpper) {
  EXPECT_EQ(vz::Format("Error:%d", 231), "Error:231");
  EXPECT_EQ(vz::UpperAscii("fax00001.apf"), "FAX00001.APF");
}

}  // namespace
