// Win32InstallerSystem against the real system calls under Wine (in a scratch
// folder; nothing of the spooler, the registry or VZPD.INI is changed), and the
// TRASDDWarning dialog as the user sees it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "installer/installer.hpp"
#include "installer/pdwarn.hpp"
#include "installer/win32_installer_system.hpp"
#include "robot.hpp"
#include "toolkit/application.hpp"

namespace {

using vz::inst::Win32InstallerSystem;

TApplication& App() {
  static TApplication* app = new TApplication();
  return *app;
}

std::string TempFolder() {
  char path[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, path);
  std::string folder = std::string(path) + "vzinst-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

class Win32InstallerSystemTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetCurrentDirectoryA(startFolder_.c_str());
    for (const char* name : {"A.INF", "src\\X.DLL", "dst\\X.DLL", "T.TXT", "expand.exe", "PLANTED.RAN", "SRC.TXT",
                             "OUT.TXT"})
      DeleteFileA((folder_ + "\\" + name).c_str());
    RemoveDirectoryA((folder_ + "\\src").c_str());
    RemoveDirectoryA((folder_ + "\\dst").c_str());
    RemoveDirectoryA(folder_.c_str());
  }
  std::string Path(const char* name) const { return folder_ + "\\" + name; }

  Win32InstallerSystem sys;
  std::string startFolder_ = sys.CurrentDirectory();
  std::string folder_ = TempFolder();
};

TEST_F(Win32InstallerSystemTest, ProfileReaderGivesKeysInOrderAndUnquotedValues) {
  ASSERT_TRUE(sys.WriteWholeFile(Path("A.INF"),
                                 "[Strings]\r\nzeta = \"Quoted CD-ROM\"\r\nalpha=1,,2\r\nempty=\r\nalpha=again\r\n"
                                 "[Other]\r\nx=y\r\n"));
  const std::vector<std::string> keys = sys.ReadProfileKeys(Path("A.INF"), "Strings");
  ASSERT_GE(keys.size(), 3u);
  EXPECT_EQ(keys[0], "zeta");
  EXPECT_EQ(keys[1], "alpha");
  EXPECT_EQ(keys[2], "empty");
  EXPECT_EQ(sys.ReadProfileString(Path("A.INF"), "Strings", "zeta"), "Quoted CD-ROM");
  EXPECT_EQ(sys.ReadProfileString(Path("A.INF"), "strings", "ALPHA"), "1,,2");
  EXPECT_EQ(sys.ReadProfileString(Path("A.INF"), "Strings", "missing"), "");
  EXPECT_TRUE(sys.ReadProfileKeys(Path("NONE.INF"), "Strings").empty());
}

TEST_F(Win32InstallerSystemTest, FilesFoldersAndTexts) {
  EXPECT_EQ(sys.FileAttributes(Path("none")), std::nullopt);
  const auto folder = sys.FileAttributes(folder_);
  ASSERT_TRUE(folder.has_value());
  EXPECT_NE(*folder & vz::inst::kAttrDirectory, 0u);
  EXPECT_EQ(sys.ReadTextFile(Path("T.TXT")), std::nullopt);
  ASSERT_TRUE(sys.WriteWholeFile(Path("T.TXT"), "ok\r\n"));
  EXPECT_EQ(sys.ReadTextFile(Path("T.TXT")), std::optional<std::string>("ok\r\n"));
  const auto driverDir = sys.PrinterDriverDirectory();
  ASSERT_TRUE(driverDir.has_value());
  EXPECT_NE(driverDir->find("spool\\drivers"), std::string::npos);
  EXPECT_TRUE(sys.SystemDirectory().has_value());
  EXPECT_TRUE(sys.WindowsDirectory().has_value());
  const auto version = sys.Version();
  ASSERT_TRUE(version.has_value());
  EXPECT_EQ(version->platformId, vz::inst::kPlatformWindowsNt);
}

TEST_F(Win32InstallerSystemTest, FileInstallerTakesAnEmptySourceAsTheCurrentFolder) {
  CreateDirectoryA(Path("src").c_str(), nullptr);
  CreateDirectoryA(Path("dst").c_str(), nullptr);
  EXPECT_EQ(sys.InstallVersionedFile("X.DLL", Path("src"), Path("dst")), vz::inst::kVifCannotReadSrc);
  ASSERT_TRUE(sys.WriteWholeFile(Path("src\\X.DLL"), "stand-in"));
  ASSERT_TRUE(sys.ChangeDirectory(Path("src")));
  EXPECT_EQ(sys.InstallVersionedFile("X.DLL", "", Path("dst")), 0u);
  EXPECT_EQ(sys.ReadTextFile(Path("dst\\X.DLL")), std::optional<std::string>("stand-in"));
}

TEST_F(Win32InstallerSystemTest, ProcessesGiveTheirExitCodeOrNothing) {
  const std::string cmd = sys.SystemDirectory().value_or("") + "\\cmd.exe";
  EXPECT_EQ(sys.RunProcess(cmd, "\"" + cmd + "\" /c exit 7", 0), std::optional<std::uint32_t>(7));
  EXPECT_EQ(sys.RunProcess(Path("no-such-program-vz.exe"), "no-such-program-vz.exe", 0), std::nullopt);
}

std::string PlantedExpand() {
  std::string path = std::string("Z:") + VZ_PLANTED_EXPAND_EXE;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// A program called expand.exe in the current folder (as on a disk the user browsed
// to) never runs in place of the system folder's: that one copies a file that is
// not compressed as it is.
TEST_F(Win32InstallerSystemTest, ExpanderRunsFromTheSystemFolderNotTheCurrentOne) {
  ASSERT_TRUE(CopyFileA(PlantedExpand().c_str(), Path("expand.exe").c_str(), FALSE)) << PlantedExpand();
  ASSERT_TRUE(sys.WriteWholeFile(Path("SRC.TXT"), "not compressed\r\n"));
  ASSERT_TRUE(sys.ChangeDirectory(folder_));
  const std::string expand = sys.SystemDirectory().value_or("") + "\\expand.exe";
  const std::string arguments = "\"SRC.TXT\" \"" + Path("OUT.TXT") + "\"";
  EXPECT_EQ(vz::inst::RunAndWait(sys, expand, arguments, SW_HIDE), std::optional<std::uint32_t>(0));
  EXPECT_EQ(sys.ReadTextFile(Path("OUT.TXT")), std::optional<std::string>("not compressed\r\n"));
  EXPECT_EQ(sys.FileAttributes(Path("PLANTED.RAN")), std::nullopt);
  // The planted program does run when it is the one named.
  EXPECT_EQ(sys.RunProcess(Path("expand.exe"), "expand", SW_HIDE), std::optional<std::uint32_t>(42));
  EXPECT_EQ(sys.ReadTextFile(Path("PLANTED.RAN")), std::optional<std::string>("expand"));
}

TEST_F(Win32InstallerSystemTest, LibraryAndInformationContextFailuresAreReported) {
  std::uint32_t error = 0;
  EXPECT_EQ(sys.OpenLibrary(Path("none.dll"), error), nullptr);
  EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_MOD_NOT_FOUND));
  EXPECT_NE(sys.OpenLibrary("version.dll", error), nullptr);
  EXPECT_FALSE(sys.CreateInformationContext("WINSPOOL", "No Such Printer Vz", "NUL:"));
}

TEST_F(Win32InstallerSystemTest, RemovalDeletesKeysSectionsAndFilesAndReportsWhatIsMissing) {
  ASSERT_TRUE(sys.WriteWholeFile(Path("A.INF"), "[Location]\r\nVZOutPath=x\r\nKeep=1\r\n[Other]\r\ny=2\r\n"));
  EXPECT_EQ(sys.DeleteProfileEntry(Path("A.INF"), "Location", "VZOutPath"), 0u);
  EXPECT_EQ(sys.ReadProfileKeys(Path("A.INF"), "Location"), std::vector<std::string>{"Keep"});
  EXPECT_EQ(sys.DeleteProfileEntry(Path("A.INF"), "Location", ""), 0u);
  EXPECT_TRUE(sys.ReadProfileKeys(Path("A.INF"), "Location").empty());
  EXPECT_EQ(sys.ReadProfileString(Path("A.INF"), "Other", "y"), "2");
  EXPECT_EQ(sys.RemoveFile(Path("T.TXT")), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(sys.WriteWholeFile(Path("T.TXT"), "ok\r\n"));
  EXPECT_EQ(sys.RemoveFile(Path("T.TXT")), 0u);
  EXPECT_EQ(sys.FileAttributes(Path("T.TXT")), std::nullopt);
  EXPECT_EQ(sys.DeleteLocalMachineValue("SOFTWARE\\No Such Key Vz", "AutoExec"),
            static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(sys.SpoolerDeletePrinter("No Such Printer Vz"), static_cast<std::uint32_t>(ERROR_INVALID_PRINTER_NAME));
  EXPECT_FALSE(sys.ErrorText(ERROR_ACCESS_DENIED).empty());
}

// A window that looks like the controller's main form but belongs to another
// program is neither closed nor waited for.
TEST_F(Win32InstallerSystemTest, CloseProgramLeavesLookAlikesOfOtherPrograms) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "TMainForm";
  RegisterClassA(&wc);
  const HWND window = CreateWindowA("TMainForm", "MainForm", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                    wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(sys.CloseProgram("VZNTCTL.EXE", "TMainForm", "MainForm"), vz::inst::CloseOutcome::kNotRunning);
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, window, WM_CLOSE, WM_CLOSE, PM_REMOVE));
  // The same window under this test's own name is asked to close.
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string selfName = std::string(self).substr(std::string(self).find_last_of('\\') + 1);
  // It cannot end while it waits on itself: still running after the wait.
  EXPECT_EQ(sys.CloseProgram(selfName, "TMainForm", "MainForm"), vz::inst::CloseOutcome::kStillRunning);
  EXPECT_TRUE(PeekMessageA(&msg, window, WM_CLOSE, WM_CLOSE, PM_REMOVE));
  DestroyWindow(window);
}

TEST(TRASDDWarningTest, LaidOutAsDesignedAndClosedByOk) {
  App();
  TRASDDWarning warning(&App());
  EXPECT_EQ(warning.Caption(), "VelmorFAX Printer Driver Installation");
  EXPECT_EQ(warning.ClientWidth(), 398);
  EXPECT_EQ(warning.ClientHeight(), 214);
  const LONG_PTR style = GetWindowLongPtrA(warning.Handle(), GWL_STYLE);
  EXPECT_NE(style & WS_CAPTION, 0);
  EXPECT_EQ(style & (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
  EXPECT_EQ(warning.Font().Name(), "MS Sans Serif");
  EXPECT_EQ(warning.Font().Height(), -11);
  const struct {
    TControl* control;
    int left, top, width, height;
  } bounds[] = {{warning.Label1, 39, 12, 298, 52}, {warning.Label2, 41, 74, 297, 76}, {warning.Button1, 152, 169, 75, 25}};
  for (const auto& b : bounds) {
    EXPECT_EQ(b.control->Left(), b.left);
    EXPECT_EQ(b.control->Top(), b.top);
    EXPECT_EQ(b.control->Width(), b.width);
    EXPECT_EQ(b.control->Height(), b.height);
  }
  EXPECT_EQ(warning.Label1->Caption(),
            "Several Windows NT system files needed for the fax printer driver are not installed. (RASDD.DLL, "
            "RASDUI.DLL, RASDUI.HLP)");
  EXPECT_EQ(warning.Label2->Caption(),
            "We will now ask Windows NT to install these files.  NT may ask you to locate a file called RASDD.DL_ on "
            "your NT installation CD or Disks. It will most likely be found in a directory called \\i386.");
  for (TLabel* label : {warning.Label1, warning.Label2}) {
    EXPECT_EQ(label->Font().Height(), -12);
    EXPECT_EQ(label->Font().Name(), "MS Sans Serif");
    EXPECT_EQ(label->Font().Color(), clBlack);
  }
  EXPECT_EQ(warning.Button1->Caption(), "OK");
  EXPECT_TRUE(warning.Button1->Default());

  RECT shown{};
  HWND form = warning.Handle();
  robot::Robot pressEnter([&](robot::Robot& r) {
    if (!r.Expect([&] { return IsWindowVisible(form) != FALSE; }, "the warning")) return;
    GetWindowRect(form, &shown);
    PostMessageA(warning.Button1->Handle(), WM_KEYDOWN, VK_RETURN, 0);
  }, [form] { PostMessageA(form, WM_CLOSE, 0, 0); });
  EXPECT_EQ(warning.ShowModal(), mrOk);
  pressEnter.Join();
  EXPECT_TRUE(pressEnter.Ok()) << pressEnter.Failure();
  // Centred on the screen (halves rounded toward zero).
  EXPECT_EQ(shown.left, (GetSystemMetrics(SM_CXSCREEN) - (shown.right - shown.left)) / 2);
  EXPECT_EQ(shown.top, (GetSystemMetrics(SM_CYSCREEN) - (shown.bottom - shown.top)) / 2);
}

}  // namespace
