// Whole print jobs through VZNTCTL.EXE: this program plays the fax printer driver
// (document start, the image, document end on a thread of its own, which waits as
// the driver does) and the user (the fax details dialog and the boxes that follow).
// vzstub.exe, copied in as VZ.EXE, plays the main fax program.
#include <windows.h>
#include <commctrl.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "controller_process.hpp"
#include "platform/handles.hpp"
#include "test_files.hpp"
#include "tools/driverclient.hpp"

namespace {

using vz::test::IsFile;
using vz::test::ReadBytes;
using vz::test::WriteBytes;

constexpr char kDialogTitle[] = "VelmorFAX NT Print To Fax";
constexpr int kPhone = 202, kRecipient = 204, kSubject = 206;
constexpr int kButton1 = 207, kButton3 = 209;

bool WaitFor(const std::function<bool()>& condition, int ms = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    Sleep(10);
  }
  return true;
}

HWND WaitVisible(const char* windowClass, const char* title, int ms = 10000) {
  HWND found = nullptr;
  WaitFor([&] {
    found = FindWindowA(windowClass, title);
    return found != nullptr && IsWindowVisible(found);
  }, ms);
  return found != nullptr && IsWindowVisible(found) ? found : nullptr;
}

// Asked of the window itself: for another program's edit box the system's copy of
// the title is not its text.
std::string Text(HWND wnd) {
  char text[1024] = {};
  SendMessageA(wnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

void Type(HWND dialog, int box, const std::string& text) {
  SendMessageA(GetDlgItem(dialog, box), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// Posted like a key press, so that the dialog's own loop sees it.
void PressKey(HWND control, WPARAM key) { PostMessageA(control, WM_KEYDOWN, key, 0); }

class JobTest : public vz::test::ControllerEndToEndTest {
 protected:
  void SetUp() override {
    ControllerEndToEndTest::SetUp();
    if (HasFatalFailure()) return;
    out_ = root_ + "\\SEND";
    stubLog_ = root_ + "\\vzstub.log";
    ASSERT_TRUE(CopyFileA(StubPath().c_str(), exe_.c_str(), FALSE));
    WriteBytes(iniPath_, "[Location]\r\nVZOutPath=" + out_ + "\r\nVZExecutable=" + exe_ + "\r\n");
    FlushProfileCache();
  }
  void TearDown() override {
    CloseStubs();
    ControllerEndToEndTest::TearDown();
    if (driver_.joinable()) driver_.join();
  }

  static std::string StubPath() {
    std::string path = std::string("Z:") + VZ_STUB_EXE;
    for (char& c : path)
      if (c == '/') c = '\\';
    return path;
  }

  // Document start, the image, and the document end, which waits on a thread.
  std::string PrintDocument(const std::string& name = "Letter") {
    const std::string fax = vz::tools::PipeDocStart(name);
    WriteBytes(fax, "APF image of " + name);
    driverDone_ = false;
    driver_ = std::thread([this] {
      try {
        vz::tools::PipeDocEnd();
      } catch (const std::exception&) {
      }
      driverDone_ = true;
    });
    return fax;
  }
  // True once the document end has been handled and the driver let go.
  bool DriverReleased() {
    if (!WaitFor([this] { return driverDone_.load(); })) return false;
    driver_.join();
    return true;
  }
  HWND Dialog() { return WaitVisible("TForm", kDialogTitle); }

  // Prints a document, accepts the empty dialog with Enter and returns the question
  // that follows (null, with a failure, when something does not show).
  HWND QuestionAfterOk() {
    PrintDocument();
    HWND dialog = Dialog();
    EXPECT_NE(dialog, nullptr);
    if (dialog == nullptr) return nullptr;
    PressKey(GetDlgItem(dialog, kPhone), VK_RETURN);
    HWND question = WaitVisible("#32770", "FAX CREATED");
    EXPECT_NE(question, nullptr);
    return question;
  }

  void CloseStubs() {
    while (HWND stub = FindWindowA(nullptr, "VelmorFAX")) {
      DWORD pid = 0;
      GetWindowThreadProcessId(stub, &pid);
      HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
      TerminateProcess(process, 0);
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
    }
  }

  std::string out_;
  std::string stubLog_;
  std::thread driver_;
  std::atomic<bool> driverDone_{false};
};

TEST_F(JobTest, DialogIsCentredTopLevelInFrontWithTheFocusInPhone) {
  PrintDocument();
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  RECT client{}, window{};
  GetClientRect(dialog, &client);
  GetWindowRect(dialog, &window);
  EXPECT_EQ(client.right, 251);
  EXPECT_EQ(client.bottom, 227);
  const int width = window.right - window.left, height = window.bottom - window.top;
  EXPECT_EQ(window.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
  EXPECT_EQ(window.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
  const LONG_PTR style = GetWindowLongPtrA(dialog, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_FALSE(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr);
  EXPECT_TRUE(WaitFor([&] { return GetForegroundWindow() == dialog; }));
  // The dialog sets its focus once it is shown: wait for it rather than catch it before.
  HWND phone = GetDlgItem(dialog, kPhone);
  const DWORD guiThread = GetWindowThreadProcessId(dialog, nullptr);
  EXPECT_TRUE(WaitFor([&] {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    return GetGUIThreadInfo(guiThread, &gui) && gui.hwndFocus == phone;
  })) << "the focus is in Phone";
  EXPECT_EQ(Text(GetDlgItem(dialog, kButton1)), "Ok");
  EXPECT_EQ(Text(GetDlgItem(dialog, 208)), "&Phone Book");
  EXPECT_EQ(Text(GetDlgItem(dialog, kButton3)), "Cancel");
  for (int box : {kPhone, kRecipient, kSubject}) EXPECT_EQ(Text(GetDlgItem(dialog, box)), "");
  PostMessageA(GetDlgItem(dialog, kButton3), BM_CLICK, 0, 0);
  EXPECT_TRUE(DriverReleased());
}

TEST_F(JobTest, OkWritesTheDescriptorAsTypedAndNoStartsNothing) {
  const std::string fax = PrintDocument();
  EXPECT_EQ(fax, out_ + "\\FAX00000.APF");
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  Type(dialog, kPhone, "+49 (30) 123-456");
  Type(dialog, kRecipient, "  Jane Roe, Sales ");
  Type(dialog, kSubject, "Offer \"Q3\"; 50% off");
  PostMessageA(GetDlgItem(dialog, kButton1), BM_CLICK, 0, 0);
  HWND question = WaitVisible("#32770", "FAX CREATED");
  ASSERT_NE(question, nullptr);
  // Asked only once the descriptor is there.
  EXPECT_EQ(ReadBytes(out_ + "\\FAX00000.JFD"), "+49 (30) 123-456\r\n  Jane Roe, Sales \r\nOffer \"Q3\"; 50% off\r\n");
  EXPECT_EQ(Text(GetDlgItem(question, 0xFFFF)), "Switch to VelmorFAX now?");
  EXPECT_TRUE(WaitFor([&] { return GetForegroundWindow() == question; })) << "the question is not in front";
  EXPECT_EQ(GetWindowLongPtrA(GetDlgItem(question, IDYES), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  EXPECT_NE(GetDlgItem(question, IDNO), nullptr);
  EXPECT_NE(SendDlgItemMessageA(question, 0x0440, STM_GETICON, 0, 0), 0);
  PostMessageA(question, WM_COMMAND, IDNO, 0);
  ASSERT_TRUE(DriverReleased());
  EXPECT_EQ(ReadBytes(fax), "APF image of Letter");
  EXPECT_FALSE(IsFile(stubLog_)) << "No started the main fax program";
  EXPECT_EQ(FindWindowA(nullptr, "VelmorFAX"), nullptr);
}

TEST_F(JobTest, EnterInAnyBoxIsOkAndEmptyBoxesGiveThreeEmptyLines) {
  int number = 0;
  for (int box : {kPhone, kRecipient, kSubject}) {
    SCOPED_TRACE(box);
    const std::string fax = PrintDocument();
    EXPECT_EQ(fax, out_ + vz::Format("\\FAX%05d.APF", number));
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    PressKey(GetDlgItem(dialog, box), VK_RETURN);
    HWND question = WaitVisible("#32770", "FAX CREATED");
    ASSERT_NE(question, nullptr);
    PostMessageA(question, WM_COMMAND, IDNO, 0);
    ASSERT_TRUE(DriverReleased());
    EXPECT_EQ(ReadBytes(out_ + vz::Format("\\FAX%05d.JFD", number)), "\r\n\r\n\r\n");
    ++number;
  }
}

TEST_F(JobTest, EscCancelAndClosingDeleteTheImageAndAskNothing) {
  const std::function<void(HWND)> ways[] = {
      [](HWND dialog) { PressKey(GetDlgItem(dialog, kSubject), VK_ESCAPE); },
      [](HWND dialog) { PostMessageA(GetDlgItem(dialog, kButton3), BM_CLICK, 0, 0); },
      [](HWND dialog) { PostMessageA(dialog, WM_CLOSE, 0, 0); },
  };
  for (const auto& cancel : ways) {
    const std::string fax = PrintDocument();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    Type(dialog, kPhone, "555");
    cancel(dialog);
    ASSERT_TRUE(DriverReleased());
    EXPECT_FALSE(IsFile(fax));
    EXPECT_FALSE(IsFile(vz::JoinPath(out_, "FAX00000.JFD")));
    EXPECT_EQ(FindWindowA("#32770", "FAX CREATED"), nullptr);
  }
}

TEST_F(JobTest, YesStartsTheMainFaxProgramInItsOwnFolder) {
  HWND question = QuestionAfterOk();
  ASSERT_NE(question, nullptr);
  // Enter takes the default button, Yes.
  PressKey(GetDlgItem(question, IDYES), VK_RETURN);
  ASSERT_TRUE(DriverReleased());
  ASSERT_NE(WaitVisible(nullptr, "VelmorFAX"), nullptr);
  const std::string log = ReadBytes(stubLog_);
  EXPECT_EQ(log.substr(0, 8), "started ");
  EXPECT_NE(log.find(" in " + root_ + "\r\n"), std::string::npos) << log;
}

// The program file named in the settings is the one started, by that path: a
// program whose name is the path's first word, in the folder above, is not.
TEST_F(JobTest, YesStartsTheProgramFileTheSettingsNameAndNoOther) {
  const std::string folder = root_ + "\\Velmor FAX";
  const std::string program = folder + "\\VZ.EXE";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  ASSERT_TRUE(CopyFileA(StubPath().c_str(), program.c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(WindowsPath(VZ_PLANTED_EXPAND_EXE).c_str(), (root_ + "\\Velmor.exe").c_str(), FALSE));
  WriteBytes(iniPath_, "[Location]\r\nVZOutPath=" + out_ + "\r\nVZExecutable=" + program + "\r\n");
  FlushProfileCache();
  HWND question = QuestionAfterOk();
  ASSERT_NE(question, nullptr);
  PostMessageA(question, WM_COMMAND, IDYES, 0);
  ASSERT_TRUE(DriverReleased());
  ASSERT_NE(WaitVisible(nullptr, "VelmorFAX"), nullptr);
  const std::string started = ReadBytes(folder + "\\vzstub.log");
  EXPECT_NE(started.find(" in " + folder + "\r\ncommand \"" + program + "\"\r\n"), std::string::npos) << started;
  EXPECT_FALSE(IsFile(root_ + "\\PLANTED.RAN")) << ReadBytes(root_ + "\\PLANTED.RAN");
}

TEST_F(JobTest, YesWithTheProgramRunningRestoresItsOwnerAndBringsItForward) {
  const PROCESS_INFORMATION stub = StartProcess(exe_, "--owner --minimized");
  ASSERT_NE(stub.hProcess, nullptr);
  CloseHandle(stub.hProcess);
  HWND owner = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (owner = FindWindowA(nullptr, "VelmorFAX Owner")) != nullptr && IsIconic(owner); }));

  HWND question = QuestionAfterOk();
  ASSERT_NE(question, nullptr);
  // What the program went through before is not this test's business.
  const std::size_t before = ReadBytes(stubLog_).size();
  PostMessageA(question, WM_COMMAND, IDYES, 0);
  ASSERT_TRUE(DriverReleased());
  EXPECT_TRUE(WaitFor([&] { return ReadBytes(stubLog_).find("front ", before) != std::string::npos; }));
  const std::string log = ReadBytes(stubLog_);
  const std::string events = log.substr(before);
  EXPECT_EQ(events.substr(0, 15), "owner restored ") << log;
  EXPECT_NE(events.find("\r\nfront "), std::string::npos) << log;
  EXPECT_FALSE(IsIconic(owner));
  EXPECT_EQ(log.find("started ", 1), std::string::npos) << "a second copy was started:\n" << log;
}

TEST_F(JobTest, DescriptorThatCannotBeWrittenIsRetriedOrTheFaxGivenUp) {
  const std::string job = out_ + "\\FAX00000.JFD";
  CreateDirectoryA(out_.c_str(), nullptr);
  // A directory where the descriptor belongs: no file of that name can be made.
  ASSERT_TRUE(CreateDirectoryA(job.c_str(), nullptr));
  std::string fax = PrintDocument();
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  Type(dialog, kPhone, "555");
  PressKey(GetDlgItem(dialog, kPhone), VK_RETURN);
  HWND box = WaitVisible("#32770", "FAX NOT SAVED");
  ASSERT_NE(box, nullptr);
  const std::string text = Text(GetDlgItem(box, 0xFFFF));
  EXPECT_EQ(text.substr(0, 38), "The fax details could not be saved in\r");
  EXPECT_NE(text.find(job), std::string::npos) << text;
  EXPECT_NE(text.find("\rRetry saves them again; Cancel discards this fax."), std::string::npos) << text;
  EXPECT_NE(GetDlgItem(box, IDRETRY), nullptr);
  EXPECT_NE(GetDlgItem(box, IDCANCEL), nullptr);
  EXPECT_EQ(FindWindowA("#32770", "FAX CREATED"), nullptr);
  // The user removes the cause and tries again.
  ASSERT_TRUE(RemoveDirectoryA(job.c_str()));
  PostMessageA(box, WM_COMMAND, IDRETRY, 0);
  HWND question = WaitVisible("#32770", "FAX CREATED");
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(ReadBytes(job), "555\r\n\r\n\r\n");
  PostMessageA(question, WM_COMMAND, IDNO, 0);
  ASSERT_TRUE(DriverReleased());

  const std::string job2 = out_ + "\\FAX00001.JFD";
  ASSERT_TRUE(CreateDirectoryA(job2.c_str(), nullptr));
  fax = PrintDocument();
  EXPECT_EQ(fax, out_ + "\\FAX00001.APF");
  dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  PressKey(GetDlgItem(dialog, kPhone), VK_RETURN);
  box = WaitVisible("#32770", "FAX NOT SAVED");
  ASSERT_NE(box, nullptr);
  PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(DriverReleased());
  EXPECT_FALSE(IsFile(fax));
  EXPECT_EQ(FindWindowA("#32770", "FAX CREATED"), nullptr);
  RemoveDirectoryA(job2.c_str());
}

// The local time as the job log writes it; such times compare as text.
std::string LocalNow() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return vz::Format("%04d-%02d-%02dT%02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

constexpr char kLogStart[] = "\xEF\xBB\xBFTime,Image,Number,Recipient,Subject,Outcome\r\n";
constexpr std::size_t kTimeLength = 19;

// The log is in %APPDATA%\VelmorFAX, which the fixture points at a scratch folder.
TEST_F(JobTest, JobLogHasALineForAQueuedAndForACancelledFax) {
  const std::string log = appData_ + "\\VelmorFAX\\jobs.csv";
  const std::string before = LocalNow();
  const std::string fax = PrintDocument();
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  Type(dialog, kPhone, "+49 (30) 123-456");
  Type(dialog, kRecipient, "M\xFCller, J\xFCrgen");
  Type(dialog, kSubject, "Offer \"Q3\"");
  PostMessageA(GetDlgItem(dialog, kButton1), BM_CLICK, 0, 0);
  HWND question = WaitVisible("#32770", "FAX CREATED");
  ASSERT_NE(question, nullptr);
  // Written before the question, so that it is there whatever the answer.
  std::string text = ReadBytes(log);
  const std::string after = LocalNow();
  ASSERT_EQ(text.substr(0, sizeof kLogStart - 1), kLogStart);
  std::string line = text.substr(sizeof kLogStart - 1);
  const std::string time = line.substr(0, kTimeLength);
  EXPECT_GE(time, before);
  EXPECT_LE(time, after);
  EXPECT_EQ(line.substr(kTimeLength),
            "," + fax + ",+49 (30) 123-456,\"M\xC3\xBCller, J\xC3\xBC" "rgen\",\"Offer \"\"Q3\"\"\",queued\r\n");
  PostMessageA(question, WM_COMMAND, IDNO, 0);
  ASSERT_TRUE(DriverReleased());

  const std::string fax2 = PrintDocument();
  dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  Type(dialog, kPhone, "555");
  PostMessageA(GetDlgItem(dialog, kButton3), BM_CLICK, 0, 0);
  ASSERT_TRUE(DriverReleased());
  const std::string queued = text;
  text = ReadBytes(log);
  ASSERT_EQ(text.substr(0, queued.size()), queued);
  line = text.substr(queued.size());
  EXPECT_GE(line.substr(0, kTimeLength), time);
  EXPECT_EQ(line.substr(kTimeLength), "," + fax2 + ",,,,cancelled\r\n");
}

// The log's lines after its header, each without its time.
std::vector<std::string> LogLinesWithoutTime(const std::string& text) {
  std::vector<std::string> lines;
  if (text.compare(0, sizeof kLogStart - 1, kLogStart) != 0) return {"(no header) " + text};
  std::size_t at = sizeof kLogStart - 1;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end + 2 - at);
    lines.push_back(line.size() > kTimeLength ? line.substr(kTimeLength) : "(short) " + line);
    at = end == std::string::npos ? text.size() : end + 2;
  }
  return lines;
}

// Names of the files in `folder`, in the order the system lists them, sorted.
std::vector<std::string> FileNames(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data{};
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(data.cFileName);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

// A binary image past the 64 KB the controller reads at a time, NUL and ^Z included.
std::string BinaryImage() {
  std::string bytes;
  for (int i = 0; i < 70001; ++i) bytes += static_cast<char>((i * 7 + i / 256) & 0xFF);
  return bytes;
}

TEST_F(JobTest, ThreeNumbersLeaveThreeFaxesWithTheirOwnDescriptorsAndLogLines) {
  const std::string log = appData_ + "\\VelmorFAX\\jobs.csv";
  const std::string fax = PrintDocument();
  ASSERT_EQ(fax, out_ + "\\FAX00000.APF");
  const std::string image = BinaryImage();
  WriteBytes(fax, image);
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  Type(dialog, kPhone, "111; 222; 333");
  Type(dialog, kRecipient, "Ann; Bob; Cy");
  Type(dialog, kSubject, "Offer");
  PostMessageA(GetDlgItem(dialog, kButton1), BM_CLICK, 0, 0);
  HWND question = WaitVisible("#32770", "FAX CREATED");
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(FileNames(out_), (std::vector<std::string>{"FAX00000.APF", "FAX00000.JFD", "FAX00001.APF",
                                                        "FAX00001.JFD", "FAX00002.APF", "FAX00002.JFD"}));
  EXPECT_EQ(ReadBytes(out_ + "\\FAX00000.JFD"), "111\r\nAnn\r\nOffer\r\n");
  EXPECT_EQ(ReadBytes(out_ + "\\FAX00001.JFD"), "222\r\nBob\r\nOffer\r\n");
  EXPECT_EQ(ReadBytes(out_ + "\\FAX00002.JFD"), "333\r\nCy\r\nOffer\r\n");
  EXPECT_TRUE(ReadBytes(out_ + "\\FAX00000.APF") == image);
  EXPECT_TRUE(ReadBytes(out_ + "\\FAX00001.APF") == image) << "the copy differs from the driver's image";
  EXPECT_TRUE(ReadBytes(out_ + "\\FAX00002.APF") == image) << "the copy differs from the driver's image";
  EXPECT_EQ(LogLinesWithoutTime(ReadBytes(log)),
            (std::vector<std::string>{"," + out_ + "\\FAX00000.APF,111,Ann,Offer,queued\r\n",
                                      "," + out_ + "\\FAX00001.APF,222,Bob,Offer,queued\r\n",
                                      "," + out_ + "\\FAX00002.APF,333,Cy,Offer,queued\r\n"}));
  PostMessageA(question, WM_COMMAND, IDNO, 0);
  ASSERT_TRUE(DriverReleased());

  // One number is one fax, as ever.
  const std::string fax2 = PrintDocument();
  ASSERT_EQ(fax2, out_ + "\\FAX00003.APF");
  dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  Type(dialog, kPhone, " 444 ");
  Type(dialog, kRecipient, "Dee; Eve");
  PressKey(GetDlgItem(dialog, kPhone), VK_RETURN);
  question = WaitVisible("#32770", "FAX CREATED");
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(FileNames(out_).size(), 8u);
  EXPECT_EQ(ReadBytes(out_ + "\\FAX00003.JFD"), " 444 \r\nDee; Eve\r\n\r\n");
  EXPECT_EQ(LogLinesWithoutTime(ReadBytes(log)).back(), "," + fax2 + ", 444 ,Dee; Eve,,queued\r\n");
  PostMessageA(question, WM_COMMAND, IDNO, 0);
  ASSERT_TRUE(DriverReleased());
  EXPECT_EQ(ReadBytes(fax2), "APF image of Letter");
}

TEST_F(JobTest, NamesThatDoNotPairUpWithTheNumbersKeepTheDialogOpen) {
  const std::string fax = PrintDocument();
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  Type(dialog, kPhone, "111;222");
  Type(dialog, kRecipient, "Ann;Bob;Cy");
  PressKey(GetDlgItem(dialog, kPhone), VK_RETURN);
  HWND box = WaitVisible("#32770", "CHECK RECIPIENTS");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(Text(GetDlgItem(box, 0xFFFF)),
            "Phone has 2 parts separated by \";\", Recipient has 3.\r\r"
            "Type one name for each number, or one name for all of them.");
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }));
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_EQ(Text(GetDlgItem(dialog, kPhone)), "111;222");
  EXPECT_EQ(Text(GetDlgItem(dialog, kRecipient)), "Ann;Bob;Cy");
  EXPECT_FALSE(IsFile(out_ + "\\FAX00000.JFD"));
  Type(dialog, kRecipient, "Ann;Bob");
  PostMessageA(GetDlgItem(dialog, kButton1), BM_CLICK, 0, 0);
  HWND question = WaitVisible("#32770", "FAX CREATED");
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(ReadBytes(out_ + "\\FAX00001.JFD"), "222\r\nBob\r\n\r\n");
  PostMessageA(question, WM_COMMAND, IDNO, 0);
  ASSERT_TRUE(DriverReleased());
}

// A folder where the second fax's descriptor belongs: the others are queued, and
// Cancel gives up that one alone.
TEST_F(JobTest, AFaxThatCannotBeQueuedIsNamedAndCancelKeepsTheOthers) {
  const std::string log = appData_ + "\\VelmorFAX\\jobs.csv";
  CreateDirectoryA(out_.c_str(), nullptr);
  ASSERT_TRUE(CreateDirectoryA((out_ + "\\FAX00001.JFD").c_str(), nullptr));
  const std::string fax = PrintDocument();
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  Type(dialog, kPhone, "111;222;333");
  Type(dialog, kRecipient, "Ann");
  PressKey(GetDlgItem(dialog, kPhone), VK_RETURN);
  HWND box = WaitVisible("#32770", "FAX NOT SAVED");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(Text(GetDlgItem(box, 0xFFFF)),
            "Queued: 111, 333\rNot queued: 222\rAccess denied.\r\rRetry queues the rest again; Cancel gives them up.");
  EXPECT_NE(GetDlgItem(box, IDRETRY), nullptr);
  EXPECT_EQ(FileNames(out_), (std::vector<std::string>{"FAX00000.APF", "FAX00000.JFD", "FAX00001.APF",
                                                        "FAX00002.APF", "FAX00002.JFD"}));
  PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
  HWND question = WaitVisible("#32770", "FAX CREATED");
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(FileNames(out_), (std::vector<std::string>{"FAX00000.APF", "FAX00000.JFD", "FAX00002.APF",
                                                        "FAX00002.JFD"}));
  EXPECT_EQ(ReadBytes(out_ + "\\FAX00002.JFD"), "333\r\nAnn\r\n\r\n");
  EXPECT_EQ(LogLinesWithoutTime(ReadBytes(log)),
            (std::vector<std::string>{"," + out_ + "\\FAX00000.APF,111,Ann,,queued\r\n",
                                      "," + out_ + "\\FAX00002.APF,333,Ann,,queued\r\n",
                                      "," + out_ + "\\FAX00001.APF,222,Ann,,discarded\r\n"}));
  PostMessageA(question, WM_COMMAND, IDNO, 0);
  ASSERT_TRUE(DriverReleased());
  RemoveDirectoryA((out_ + "\\FAX00001.JFD").c_str());
}

// A file named VelmorFAX where the log's folder belongs.
TEST_F(JobTest, UnwritableJobLogLeavesTheJobQueuedAndIsToldOncePerRun) {
  const std::string blocker = appData_ + "\\VelmorFAX";
  WriteBytes(blocker, "not a folder");
  vz::test::BoxCloser boxes;
  for (const char* phone : {"555 0100", "555 0200"}) {
    SCOPED_TRACE(phone);
    const std::string fax = PrintDocument();
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    Type(dialog, kPhone, phone);
    PressKey(GetDlgItem(dialog, kPhone), VK_RETURN);
    // The notice, when there is one, is closed before the question comes.
    HWND question = WaitVisible("#32770", "FAX CREATED");
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(ReadBytes(vz::ChangeFileExt(fax, ".JFD")), std::string(phone) + "\r\n\r\n\r\n");
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{
                                 "The job log could not be written:\r" + blocker + "\\jobs.csv\r" +
                                 "File already exists.\r\r"
                                 "Faxes are not affected. This is not shown again until the controller is started again."});
    PostMessageA(question, WM_COMMAND, IDNO, 0);
    ASSERT_TRUE(DriverReleased());
    EXPECT_EQ(ReadBytes(fax), "APF image of Letter");
  }
  EXPECT_TRUE(IsFile(blocker));
}

TEST_F(JobTest, MissingSettingsAtDocumentStartStillEndWithTheDialog) {
  DeleteFileA(iniPath_.c_str());
  FlushProfileCache();
  std::string fax;
  {
    vz::test::BoxCloser boxes;
    fax = PrintDocument();
    EXPECT_EQ(fax, "c:\\vz.apf");
    EXPECT_EQ(boxes.Texts().size(), 1u);
  }
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  PressKey(GetDlgItem(dialog, kPhone), VK_ESCAPE);
  ASSERT_TRUE(DriverReleased());
  EXPECT_FALSE(IsFile(fax));
}

// The first copy holds the mutex named after the program's file: a second copy
// hands over and ends before it makes a window, a pipe or a tray icon.
TEST_F(JobTest, SecondCopyRenamesOneTitledWindowRestoresTheOtherAndEndsAtOnce) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "VzInstanceProbe";
  RegisterClassA(&wc);
  HWND first = CreateWindowExA(0, wc.lpszClassName, "VZNTCTL", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                               nullptr, wc.hInstance, nullptr);
  HWND second = CreateWindowExA(0, wc.lpszClassName, "VZNTCTL", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                nullptr, wc.hInstance, nullptr);
  ShowWindow(second, SW_SHOWMINNOACTIVE);
  ASSERT_TRUE(IsIconic(second));

  PROCESS_INFORMATION copy = StartProcess(ControllerPath(), "", CREATE_SUSPENDED);
  ASSERT_NE(copy.hProcess, nullptr);
  vz::test::WindowCreations created(copy.dwProcessId);
  ResumeThread(copy.hThread);
  CloseHandle(copy.hThread);
  ASSERT_TRUE(created.Watching());
  // Our windows need their messages answered while the copy looks at them.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (WaitForSingleObject(copy.hProcess, 0) == WAIT_TIMEOUT && std::chrono::steady_clock::now() < end) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    MsgWaitForMultipleObjects(1, &copy.hProcess, FALSE, 20, QS_ALLINPUT);
  }
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  DWORD code = 99;
  GetExitCodeProcess(copy.hProcess, &code);
  CloseHandle(copy.hProcess);
  // 0: it ended by itself; a copy that had gone on to the pipe would have failed with 1.
  EXPECT_EQ(code, 0u);
  // No window, so no tray icon either: an icon needs a window for its messages.
  EXPECT_EQ(created.Count(), 0);
  const std::string titles[] = {Text(first), Text(second)};
  EXPECT_TRUE((titles[0] == "something else") != (titles[1] == "something else")) << titles[0] << " / " << titles[1];
  EXPECT_FALSE(IsIconic(second) && titles[1] == "VZNTCTL") << "the other window was not restored";
  DestroyWindow(first);
  DestroyWindow(second);
  // The first copy goes on serving.
  EXPECT_EQ(vz::tools::PipeDocStart("x"), out_ + "\\FAX00000.APF");
}

// The watch used above sees the windows a program makes: the stand-in fax program's.
TEST_F(JobTest, WindowCreationsOfAnotherProgramAreSeen) {
  PROCESS_INFORMATION stub = StartProcess(exe_, "", CREATE_SUSPENDED);
  ASSERT_NE(stub.hProcess, nullptr);
  vz::test::WindowCreations created(stub.dwProcessId);
  ResumeThread(stub.hThread);
  CloseHandle(stub.hThread);
  ASSERT_TRUE(created.Watching());
  EXPECT_TRUE(WaitFor([&] {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    return created.Count() > 0;
  }));
  TerminateProcess(stub.hProcess, 0);
  WaitForSingleObject(stub.hProcess, 5000);
  CloseHandle(stub.hProcess);
}

BOOL CALLBACK FindList(HWND child, LPARAM found) {
  char cls[64] = {};
  GetClassNameA(child, cls, sizeof cls);
  if (lstrcmpiA(cls, "SysListView32") != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = child;
  return FALSE;
}

// The controller runs from the scratch folder, where its phone book is: by default
// one entry.
class PhoneBookJobTest : public JobTest {
 protected:
  std::string ControllerProgram() override {
    const std::string program = root_ + "\\VZNTCTL.EXE";
    EXPECT_TRUE(CopyFileA(ControllerPath().c_str(), program.c_str(), FALSE));
    const std::string dbftool = WindowsPath(VZ_DBFTOOL_EXE);
    EXPECT_EQ(RunAndWait(dbftool, "create-phonebook VZPB.DBF"), 0u);
    if (!book_.empty()) {
      WriteBytes(root_ + "\\book.csv", book_);
      EXPECT_EQ(RunAndWait(dbftool, "import VZPB.DBF book.csv"), 0u);
    }
    return program;
  }

  // Opens the phone book from the dialog (the button, or Alt+P in a box); the
  // browser, once its focus is in it.
  HWND OpenPhoneBook(HWND dialog, bool altP = false) {
    if (altP)
      PostMessageA(GetDlgItem(dialog, kSubject), WM_SYSCHAR, 'p', 1 << 29);
    else
      PostMessageA(GetDlgItem(dialog, 208), BM_CLICK, 0, 0);
    HWND browser = WaitVisible(nullptr, "VelmorFax Printer Driver - Select Phone Number ");
    EXPECT_NE(browser, nullptr);
    if (browser == nullptr) return nullptr;
    const bool focused = WaitFor([&] { return FocusIn(browser) != nullptr; });
    EXPECT_TRUE(focused);
    return focused ? browser : nullptr;
  }
  // The control with the focus when it is in the browser, else null.
  static HWND FocusIn(HWND browser) {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(browser, nullptr), &gui) || gui.hwndFocus == nullptr) return nullptr;
    return gui.hwndFocus == browser || IsChild(browser, gui.hwndFocus) ? gui.hwndFocus : nullptr;
  }
  // Ends the browser with the key `key` (Enter accepts, Esc cancels).
  void EndPhoneBook(HWND browser, WPARAM key) {
    PressKey(FocusIn(browser), key);
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(browser); }));
  }
  void UsePhoneBook(HWND dialog, WPARAM key, bool altP = false) {
    HWND browser = OpenPhoneBook(dialog, altP);
    ASSERT_NE(browser, nullptr);
    EndPhoneBook(browser, key);
  }

  // The browser's list, and the row it shows selected once that is `row`; -1 when
  // none or another row is selected within the time.
  static int SelectedRowOnceItIs(HWND browser, int row) {
    HWND list = nullptr;
    EnumChildWindows(browser, &FindList, reinterpret_cast<LPARAM>(&list));
    if (list == nullptr) return -1;
    int selected = -1;
    WaitFor([&] {
      selected = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
      return selected == row;
    });
    return selected;
  }
  // Whether the list shows the row without scrolling.
  static bool RowInView(HWND browser, int row) {
    HWND list = nullptr;
    EnumChildWindows(browser, &FindList, reinterpret_cast<LPARAM>(&list));
    if (list == nullptr) return false;
    const int top = static_cast<int>(SendMessageA(list, LVM_GETTOPINDEX, 0, 0));
    const int page = static_cast<int>(SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0));
    return row >= top && row < top + page;
  }

  // Prints a document, types the number and recipient, opens the phone book and
  // leaves it with `key`; the dialog (null, with a failure, when something does not show).
  HWND PickAfterTyping(const std::string& phone, const std::string& recipient, WPARAM key) {
    PrintDocument();
    HWND dialog = Dialog();
    EXPECT_NE(dialog, nullptr);
    if (dialog == nullptr) return nullptr;
    Type(dialog, kPhone, phone);
    Type(dialog, kRecipient, recipient);
    UsePhoneBook(dialog, key);
    return dialog;
  }

  // Presses Ok and No and returns the job file written.
  std::string OkAndJobFile(HWND dialog) {
    PostMessageA(GetDlgItem(dialog, kButton1), BM_CLICK, 0, 0);
    HWND question = WaitVisible("#32770", "FAX CREATED");
    EXPECT_NE(question, nullptr);
    if (question == nullptr) return "<no question>";
    PostMessageA(question, WM_COMMAND, IDNO, 0);
    EXPECT_TRUE(DriverReleased());
    return ReadBytes(out_ + "\\FAX00000.JFD");
  }

  // name,number lines for dbftool's import.
  std::string book_ = "Jane Roe,+1 555 0100\r\n";
};

TEST_F(PhoneBookJobTest, AcceptedEntryReplacesNumberAndRecipientAndCancelKeepsThem) {
  PrintDocument();
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  Type(dialog, kPhone, "999");
  Type(dialog, kRecipient, "typed by hand");
  Type(dialog, kSubject, "Subject stays");
  UsePhoneBook(dialog, VK_RETURN);
  EXPECT_TRUE(WaitFor([&] { return Text(GetDlgItem(dialog, kPhone)) == "+1 555 0100"; }));
  EXPECT_EQ(Text(GetDlgItem(dialog, kRecipient)), "Jane Roe");
  EXPECT_EQ(Text(GetDlgItem(dialog, kSubject)), "Subject stays");

  Type(dialog, kPhone, "777");
  UsePhoneBook(dialog, VK_ESCAPE, /*altP=*/true);
  EXPECT_EQ(Text(GetDlgItem(dialog, kPhone)), "777");
  EXPECT_EQ(Text(GetDlgItem(dialog, kRecipient)), "Jane Roe");

  PostMessageA(GetDlgItem(dialog, kButton1), BM_CLICK, 0, 0);
  HWND question = WaitVisible("#32770", "FAX CREATED");
  ASSERT_NE(question, nullptr);
  PostMessageA(question, WM_COMMAND, IDNO, 0);
  ASSERT_TRUE(DriverReleased());
  EXPECT_EQ(ReadBytes(out_ + "\\FAX00000.JFD"), "777\r\nJane Roe\r\nSubject stays\r\n");
}

// Accept on an empty phone book hands back no entry: what was typed stays.
class EmptyPhoneBookJobTest : public PhoneBookJobTest {
 protected:
  EmptyPhoneBookJobTest() { book_.clear(); }
};

TEST_F(EmptyPhoneBookJobTest, AcceptOnAnEmptyPhoneBookKeepsTheTypedNumberAndRecipient) {
  HWND dialog = PickAfterTyping("+1 555 4242", "Typed Person", VK_RETURN);
  ASSERT_NE(dialog, nullptr);
  // The job file holds the boxes as they were at Ok.
  EXPECT_EQ(OkAndJobFile(dialog), "+1 555 4242\r\nTyped Person\r\n\r\n");
}

// Forty entries come before "Baker, Bo": more than the list shows at once.
class LongPhoneBookJobTest : public PhoneBookJobTest {
 protected:
  LongPhoneBookJobTest() {
    book_.clear();
    for (int i = 0; i < 40; ++i) book_ += vz::Format("Abel %02d,+1 555 01%02d\r\n", i, i);
    book_ += "\"Baker, Bo\",+1 555 0200\r\nCole Cy,+1 555 0300\r\n";
  }
};

TEST_F(LongPhoneBookJobTest, ThePhoneBookOpensOnTheFirstEntryStartingWithTheRecipientTyped) {
  PrintDocument();
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  Type(dialog, kRecipient, "bak");
  HWND browser = OpenPhoneBook(dialog);
  ASSERT_NE(browser, nullptr);
  EXPECT_EQ(SelectedRowOnceItIs(browser, 40), 40);
  EXPECT_TRUE(RowInView(browser, 40));
  EndPhoneBook(browser, VK_RETURN);
  EXPECT_TRUE(WaitFor([&] { return Text(GetDlgItem(dialog, kRecipient)) == "Baker, Bo"; }));
  EXPECT_EQ(Text(GetDlgItem(dialog, kPhone)), "+1 555 0200");

  // Nothing typed, or a text no name starts with: the first entry, at the top.
  for (const char* typed : {"", "Bakery"}) {
    SCOPED_TRACE(typed);
    Type(dialog, kRecipient, typed);
    browser = OpenPhoneBook(dialog);
    ASSERT_NE(browser, nullptr);
    EXPECT_EQ(SelectedRowOnceItIs(browser, 0), 0);
    EXPECT_TRUE(RowInView(browser, 0));
    EndPhoneBook(browser, VK_ESCAPE);
    EXPECT_EQ(Text(GetDlgItem(dialog, kRecipient)), typed);
  }
  Type(dialog, kRecipient, "ABEL 1");
  browser = OpenPhoneBook(dialog, /*altP=*/true);
  ASSERT_NE(browser, nullptr);
  EXPECT_EQ(SelectedRowOnceItIs(browser, 10), 10);
  EndPhoneBook(browser, VK_RETURN);
  EXPECT_EQ(OkAndJobFile(dialog), "+1 555 0110\r\nAbel 10\r\n\r\n");
}

// Completion in the fax details dialog: names starting with what is typed in
// Recipient, in the index's order (upper case first), and the recent recipients.
class CompletionJobTest : public PhoneBookJobTest {
 protected:
  CompletionJobTest() {
    book_ = "Bader Bo,+1 555 0300\r\n\"adams, Al\",+1 555 0201\r\nAdele Ames,+1 555 0202\r\nZed,+1 555 0900\r\n";
  }
  // Tab from Phone into Recipient, then the letters, each as the keyboard sends it.
  static void TypeInRecipient(HWND dialog, const std::string& letters) {
    PressKey(GetDlgItem(dialog, kPhone), VK_TAB);
    ASSERT_TRUE(WaitFor([&] { return FocusOf(dialog) == GetDlgItem(dialog, kRecipient); }));
    for (char c : letters) PostMessageA(GetDlgItem(dialog, kRecipient), WM_CHAR, static_cast<unsigned char>(c), 1);
  }
  static HWND FocusOf(HWND dialog) {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    return GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui) ? gui.hwndFocus : nullptr;
  }
  // The drop-down list once it shows, with its rows as its text; null when it does not.
  static HWND ListShowing(const std::string& rows) {
    HWND list = nullptr;
    WaitFor([&] {
      list = FindWindowA("VzDropList", nullptr);
      return list != nullptr && IsWindowVisible(list) && Text(list) == rows;
    });
    return list != nullptr && IsWindowVisible(list) && Text(list) == rows ? list : nullptr;
  }
  static bool ListHidden() {
    return WaitFor([] {
      HWND list = FindWindowA("VzDropList", nullptr);
      return list == nullptr || !IsWindowVisible(list);
    });
  }
};

TEST_F(CompletionJobTest, TypedLettersListNamesAndDownEnterFillsBothBoxes) {
  PrintDocument();
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  TypeInRecipient(dialog, "ad");
  HWND list = ListShowing("Adele Ames\t+1 555 0202\r\nadams, Al\t+1 555 0201");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(FocusOf(dialog), GetDlgItem(dialog, kRecipient)) << "the list never takes the focus";
  PressKey(GetDlgItem(dialog, kRecipient), VK_DOWN);
  PressKey(GetDlgItem(dialog, kRecipient), VK_RETURN);
  EXPECT_TRUE(WaitFor([&] { return Text(GetDlgItem(dialog, kPhone)) == "+1 555 0201"; }));
  EXPECT_EQ(Text(GetDlgItem(dialog, kRecipient)), "adams, Al");
  EXPECT_TRUE(ListHidden());
  EXPECT_TRUE(IsWindowVisible(dialog)) << "Enter in the list picks, it is not Ok";
  // With the list closed, Enter is Ok again.
  EXPECT_EQ(OkAndJobFile(dialog), "+1 555 0201\r\nadams, Al\r\n\r\n");
}

TEST_F(CompletionJobTest, AClickPicksARowAndTypingInPhoneOrSubjectOpensNoList) {
  PrintDocument();
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  for (int box : {kPhone, kSubject})
    for (char c : std::string("ad")) PostMessageA(GetDlgItem(dialog, box), WM_CHAR, static_cast<unsigned char>(c), 1);
  ASSERT_TRUE(WaitFor([&] { return Text(GetDlgItem(dialog, kSubject)) == "ad"; }));
  EXPECT_EQ(FindWindowA("VzDropList", nullptr), nullptr);
  TypeInRecipient(dialog, "a");
  HWND list = ListShowing("Adele Ames\t+1 555 0202\r\nadams, Al\t+1 555 0201");
  ASSERT_NE(list, nullptr);
  // The second row is 18 pixels high, under the first.
  PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 18 + 9));
  EXPECT_TRUE(WaitFor([&] { return Text(GetDlgItem(dialog, kRecipient)) == "adams, Al"; }));
  EXPECT_EQ(Text(GetDlgItem(dialog, kPhone)), "+1 555 0201");
  EXPECT_EQ(Text(GetDlgItem(dialog, kSubject)), "ad");
  EXPECT_TRUE(ListHidden());
  EXPECT_EQ(FocusOf(dialog), GetDlgItem(dialog, kRecipient));
}

TEST_F(CompletionJobTest, EscClosesTheListKeepingTheTextAndASecondEscCancels) {
  const std::string fax = PrintDocument();
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  TypeInRecipient(dialog, "B");
  ASSERT_NE(ListShowing("Bader Bo\t+1 555 0300"), nullptr);
  PressKey(GetDlgItem(dialog, kRecipient), VK_ESCAPE);
  EXPECT_TRUE(ListHidden());
  EXPECT_EQ(Text(GetDlgItem(dialog, kRecipient)), "B");
  EXPECT_EQ(Text(GetDlgItem(dialog, kPhone)), "");
  EXPECT_TRUE(IsWindowVisible(dialog));
  PressKey(GetDlgItem(dialog, kRecipient), VK_ESCAPE);
  ASSERT_TRUE(DriverReleased());
  EXPECT_FALSE(IsFile(fax));
  EXPECT_EQ(FindWindowA("#32770", "FAX CREATED"), nullptr);
}

TEST_F(CompletionJobTest, NoMatchOpensNoListAndEnterIsOk) {
  PrintDocument();
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  TypeInRecipient(dialog, "xq");
  ASSERT_TRUE(WaitFor([&] { return Text(GetDlgItem(dialog, kRecipient)) == "xq"; }));
  PressKey(GetDlgItem(dialog, kRecipient), VK_RETURN);
  EXPECT_EQ(OkAndJobFile(dialog), "\r\nxq\r\n\r\n");
  EXPECT_TRUE(ListHidden());
}

TEST_F(CompletionJobTest, DownInAnEmptyPhoneListsTheRecentRecipientsNewestFirst) {
  ASSERT_TRUE(CreateDirectoryA((appData_ + "\\VelmorFAX").c_str(), nullptr));
  WriteBytes(appData_ + "\\VelmorFAX\\jobs.csv",
             "\xEF\xBB\xBFTime,Image,Number,Recipient,Subject,Outcome\r\n"
             "2026-12-09T10:00:00,C:\\F\\FAX00000.APF,+1 555 0100,Jane Roe,A,queued\r\n"
             "2026-12-09T10:01:00,C:\\F\\FAX00001.APF,+49 30 1234,\"M\xC3\xBCller, J\",B,queued\r\n"
             "2026-12-09T10:02:00,C:\\F\\FAX00002.APF,555 0300,Gone,C,cancelled\r\n"
             "2026-12-09T10:03:00,C:\\F\\FAX00003.APF,+1 555 0100,Jane Roe,D,queued\r\n");
  PrintDocument();
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(WaitFor([&] { return FocusOf(dialog) == GetDlgItem(dialog, kPhone); }));
  PressKey(GetDlgItem(dialog, kPhone), VK_DOWN);
  ASSERT_NE(ListShowing("Jane Roe\t+1 555 0100\r\nM\xFCller, J\t+49 30 1234"), nullptr);
  PressKey(GetDlgItem(dialog, kPhone), VK_DOWN);
  PressKey(GetDlgItem(dialog, kPhone), VK_RETURN);
  EXPECT_TRUE(WaitFor([&] { return Text(GetDlgItem(dialog, kPhone)) == "+49 30 1234"; }));
  EXPECT_EQ(Text(GetDlgItem(dialog, kRecipient)), "M\xFCller, J");
  EXPECT_TRUE(ListHidden());
  // Alt+Down in an empty Recipient, Up back to the first pair.
  Type(dialog, kRecipient, "");
  PressKey(GetDlgItem(dialog, kPhone), VK_TAB);
  ASSERT_TRUE(WaitFor([&] { return FocusOf(dialog) == GetDlgItem(dialog, kRecipient); }));
  PostMessageA(GetDlgItem(dialog, kRecipient), WM_SYSKEYDOWN, VK_DOWN, 1 << 29);
  ASSERT_NE(ListShowing("Jane Roe\t+1 555 0100\r\nM\xFCller, J\t+49 30 1234"), nullptr);
  PressKey(GetDlgItem(dialog, kRecipient), VK_DOWN);
  PressKey(GetDlgItem(dialog, kRecipient), VK_UP);
  PressKey(GetDlgItem(dialog, kRecipient), VK_RETURN);
  EXPECT_TRUE(WaitFor([&] { return Text(GetDlgItem(dialog, kPhone)) == "+1 555 0100"; }));
  EXPECT_EQ(Text(GetDlgItem(dialog, kRecipient)), "Jane Roe");
  EXPECT_TRUE(ListHidden());
  // A box with text in it keeps Down to itself.
  PressKey(GetDlgItem(dialog, kPhone), VK_DOWN);
  PressKey(GetDlgItem(dialog, kPhone), VK_RETURN);
  HWND question = WaitVisible("#32770", "FAX CREATED");
  ASSERT_NE(question, nullptr);
  PostMessageA(question, WM_COMMAND, IDNO, 0);
  ASSERT_TRUE(DriverReleased());
  EXPECT_EQ(ReadBytes(out_ + "\\FAX00000.JFD"), "+1 555 0100\r\nJane Roe\r\n\r\n");
}

// The controller's main form is hidden at the top-left corner: the entry editor,
// opened from the browser opened from the dialog, lies wholly on the work area, over
// the browser.
TEST_F(PhoneBookJobTest, TheEntryEditorOpensOverTheBrowserWhollyOnTheWorkArea) {
  PrintDocument();
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  PostMessageA(GetDlgItem(dialog, 208), BM_CLICK, 0, 0);
  HWND browser = WaitVisible(nullptr, "VelmorFax Printer Driver - Select Phone Number ");
  ASSERT_NE(browser, nullptr);
  // Alt+N, the New button's key, as the browser's own loop sees it.
  PostMessageA(browser, WM_SYSCHAR, 'n', 1 << 29);
  HWND editor = WaitVisible(nullptr, "Phone Book Editor");
  ASSERT_NE(editor, nullptr);
  RECT work{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  RECT e{};
  RECT b{};
  GetWindowRect(editor, &e);
  GetWindowRect(browser, &b);
  EXPECT_GE(e.left, work.left);
  EXPECT_GE(e.top, work.top);
  EXPECT_LE(e.right, work.right);
  EXPECT_LE(e.bottom, work.bottom);
  EXPECT_EQ(e.left, b.left + ((b.right - b.left) - (e.right - e.left)) / 2);
  EXPECT_EQ(e.top, b.top + ((b.bottom - b.top) - (e.bottom - e.top)) / 2);
  PostMessageA(editor, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(editor); }));
  PostMessageA(browser, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(browser); }));
  PostMessageA(GetDlgItem(dialog, kButton3), BM_CLICK, 0, 0);
  ASSERT_TRUE(DriverReleased());
}

// Several entries picked in the browser fill both boxes, names and numbers each
// joined by "; " in name order, and Ok queues one fax for each.
class SeveralRecipientsJobTest : public PhoneBookJobTest {
 protected:
  SeveralRecipientsJobTest() {
    book_ = "Jane Roe,+1 555 0100\r\nAbe Lind,+1 555 0200\r\nMia Wong,+1 555 0300\r\nZoe Park,+1 555 0400\r\n";
  }

  // A click with Ctrl held on a row of the browser's list, posted as the window gets
  // it. Another process's list takes no pointers: the rows lie under the headers, as
  // high each as the list's estimate for one row more says.
  static void CtrlClickRow(HWND list, int row) {
    RECT header{};
    GetWindowRect(ListView_GetHeader(list), &header);
    const DWORD one = static_cast<DWORD>(SendMessageA(list, LVM_APPROXIMATEVIEWRECT, 1, MAKELPARAM(-1, -1)));
    const DWORD two = static_cast<DWORD>(SendMessageA(list, LVM_APPROXIMATEVIEWRECT, 2, MAKELPARAM(-1, -1)));
    const int height = HIWORD(two) - HIWORD(one);
    RECT client{};
    GetClientRect(list, &client);
    const LPARAM at = MAKELPARAM(client.right / 2, (header.bottom - header.top) + row * height + height / 2);
    PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, at);
    PostMessageA(list, WM_LBUTTONUP, MK_CONTROL, at);
  }
  static std::vector<int> SelectedRows(HWND list) {
    std::vector<int> rows;
    for (int row = 0; row < 4; ++row)
      if (SendMessageA(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED)
        rows.push_back(row);
    return rows;
  }
};

TEST_F(SeveralRecipientsJobTest, EntriesPickedWithCtrlClickFillBothBoxesAndOkQueuesOneFaxEach) {
  PrintDocument();
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  Type(dialog, kPhone, "999");
  Type(dialog, kRecipient, "");
  HWND browser = OpenPhoneBook(dialog);
  ASSERT_NE(browser, nullptr);
  HWND list = nullptr;
  EnumChildWindows(browser, &FindList, reinterpret_cast<LPARAM>(&list));
  ASSERT_NE(list, nullptr);
  ASSERT_TRUE(WaitFor([&] { return SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 4; }));
  // Abe Lind, current at the start, is picked; Ctrl+click takes it out again.
  for (int row : {3, 1, 2, 0}) {
    CtrlClickRow(list, row);
    EXPECT_TRUE(WaitFor([&] {
      return SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED) == row;
    })) << row;
  }
  EXPECT_TRUE(WaitFor([&] { return SelectedRows(list) == std::vector<int>{1, 2, 3}; }));
  EndPhoneBook(browser, VK_RETURN);
  EXPECT_TRUE(WaitFor([&] { return Text(GetDlgItem(dialog, kPhone)) == "+1 555 0100; +1 555 0300; +1 555 0400"; }));
  EXPECT_EQ(Text(GetDlgItem(dialog, kPhone)), "+1 555 0100; +1 555 0300; +1 555 0400");
  EXPECT_EQ(Text(GetDlgItem(dialog, kRecipient)), "Jane Roe; Mia Wong; Zoe Park");
  // Ok: one fax for each picked entry, the copies of the driver's image.
  Type(dialog, kSubject, "Prices");
  PostMessageA(GetDlgItem(dialog, kButton1), BM_CLICK, 0, 0);
  HWND question = WaitVisible("#32770", "FAX CREATED");
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(FileNames(out_), (std::vector<std::string>{"FAX00000.APF", "FAX00000.JFD", "FAX00001.APF",
                                                        "FAX00001.JFD", "FAX00002.APF", "FAX00002.JFD"}));
  EXPECT_EQ(ReadBytes(out_ + "\\FAX00000.JFD"), "+1 555 0100\r\nJane Roe\r\nPrices\r\n");
  EXPECT_EQ(ReadBytes(out_ + "\\FAX00001.JFD"), "+1 555 0300\r\nMia Wong\r\nPrices\r\n");
  EXPECT_EQ(ReadBytes(out_ + "\\FAX00002.JFD"), "+1 555 0400\r\nZoe Park\r\nPrices\r\n");
  for (const char* copy : {"\\FAX00001.APF", "\\FAX00002.APF"})
    EXPECT_EQ(ReadBytes(out_ + copy), "APF image of Letter") << copy;
  EXPECT_EQ(LogLinesWithoutTime(ReadBytes(appData_ + "\\VelmorFAX\\jobs.csv")),
            (std::vector<std::string>{"," + out_ + "\\FAX00000.APF,+1 555 0100,Jane Roe,Prices,queued\r\n",
                                      "," + out_ + "\\FAX00001.APF,+1 555 0300,Mia Wong,Prices,queued\r\n",
                                      "," + out_ + "\\FAX00002.APF,+1 555 0400,Zoe Park,Prices,queued\r\n"}));
  PostMessageA(question, WM_COMMAND, IDNO, 0);
  ASSERT_TRUE(DriverReleased());
  EXPECT_EQ(ReadBytes(out_ + "\\FAX00000.APF"), "APF image of Letter");
}

// The tray menu as the user opens it: a right-button press on the icon, then a
// left click on the item.
class TrayMenuTest : public JobTest {
 protected:
  // Ends the controller as the user does, not by killing it.
  void TearDown() override {
    if (HWND form = vz::test::MainFormOf(controller_.dwProcessId)) {
      PostMessageA(form, WM_CLOSE, 0, 0);
      WaitForSingleObject(controller_.hProcess, 10000);
    }
    // A stand-in started by a failed step may not have its window yet.
    for (DWORD id : FaxProgramIds()) {
      vz::win::Handle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id));
      if (!process) continue;
      TerminateProcess(process.Get(), 0);
      WaitForSingleObject(process.Get(), 5000);
    }
    JobTest::TearDown();
  }

  // The controller's own tray icon window: one of an ended test may linger a while.
  HWND TrayWindow() {
    for (HWND wnd = FindWindowExA(nullptr, nullptr, "TTrayIconMsgWindow", nullptr); wnd != nullptr;
         wnd = FindWindowExA(nullptr, wnd, "TTrayIconMsgWindow", nullptr)) {
      DWORD pid = 0;
      GetWindowThreadProcessId(wnd, &pid);
      if (pid == controller_.dwProcessId) return wnd;
    }
    return nullptr;
  }

  // The icon's notifications, as the shell posts them with the pointer on the icon.
  static void Notify(HWND tray, std::initializer_list<UINT> mouseMessages) {
    SetCursorPos(600, 500);
    for (UINT message : mouseMessages) PostMessageA(tray, WM_USER + 100, 42, message);
  }
  // Waits for the tray menu and closes it with Esc.
  static bool CloseMenu() {
    HWND menu = WaitVisible("#32768", nullptr);
    if (menu == nullptr) return false;
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    return WaitFor([] { return WaitVisible("#32768", nullptr, 0) == nullptr; });
  }
  // Whether a process of the stand-in's file name runs: the process exists as soon
  // as the shell has been asked to start it, before its window does.
  static bool FaxProgramRunning() { return !FaxProgramIds().empty(); }
  static std::vector<DWORD> FaxProgramIds() {
    std::vector<DWORD> ids;
    vz::win::Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry))
      if (lstrcmpiA(entry.szExeFile, "VZ.EXE") == 0) ids.push_back(entry.th32ProcessID);
    return ids;
  }

  // Clicks item `item` (0 is the first) of the three. Keys posted to the menu would
  // race the pointer: the menu opens under it, and a pointer move handled between
  // two keys takes the selection away.
  void Choose(int item) {
    HWND tray = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (tray = TrayWindow()) != nullptr; }));
    SetCursorPos(600, 500);
    PostMessageA(tray, WM_USER + 100, 42, WM_MOUSEMOVE);
    PostMessageA(tray, WM_USER + 100, 42, WM_RBUTTONDOWN);
    HWND menu = WaitVisible("#32768", nullptr);
    ASSERT_NE(menu, nullptr);
    RECT r{};
    GetWindowRect(menu, &r);
    SetCursorPos((r.left + r.right) / 2, r.top + (r.bottom - r.top) * (2 * item + 1) / 6);
    for (DWORD flags : {MOUSEEVENTF_MOVE, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}) {
      INPUT in{};
      in.type = INPUT_MOUSE;
      in.mi.dwFlags = flags;
      SendInput(1, &in, sizeof in);
    }
    ASSERT_TRUE(WaitFor([] { return WaitVisible("#32768", nullptr, 0) == nullptr; }));
  }
};

TEST_F(TrayMenuTest, CloseEndsTheProgramWithCodeZeroAndThePipeGoes) {
  Choose(0);
  ASSERT_EQ(WaitForSingleObject(controller_.hProcess, 10000), WAIT_OBJECT_0)
      << "still showing:\n" << vz::test::WindowsOf(controller_.dwProcessId);
  DWORD code = 99;
  GetExitCodeProcess(controller_.hProcess, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(WaitNamedPipeA(vz::driverlink::kPipeName, 100));
  EXPECT_EQ(TrayWindow(), nullptr);
}

TEST_F(TrayMenuTest, AboutShowsItsBoxAndTheControllerGoesOn) {
  Choose(1);
  HWND box = WaitVisible("#32770", "Information");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(Text(GetDlgItem(box, 0xFFFF)), "VelmorFAX NT Print To Fax Controller");
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(vz::tools::PipeDocStart("after About"), out_ + "\\FAX00000.APF");
}

// A double click of the left button on the icon does what "Start VelmorFAX" does. A
// single click, or a double click of the right button, starts nothing.
TEST_F(TrayMenuTest, DoubleClickOnTheIconStartsTheProgramAndASingleClickDoesNot) {
  HWND tray = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (tray = TrayWindow()) != nullptr; }));
  Notify(tray, {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP});
  // Well past the double-click time, which the single click waits out.
  const ULONGLONG clicked = GetTickCount64();
  ASSERT_TRUE(WaitFor([&] { return GetTickCount64() - clicked > 1000; }));
  Notify(tray, {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK, WM_RBUTTONUP});
  ASSERT_TRUE(CloseMenu());
  // Once this menu shows, everything before it has been handled.
  Notify(tray, {WM_RBUTTONDOWN, WM_RBUTTONUP});
  ASSERT_TRUE(CloseMenu());
  EXPECT_FALSE(FaxProgramRunning());
  EXPECT_FALSE(IsFile(stubLog_));

  Notify(tray, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP});
  ASSERT_NE(WaitVisible(nullptr, "VelmorFAX"), nullptr);
  const std::string log = ReadBytes(stubLog_);
  EXPECT_EQ(log.substr(0, 8), "started ") << log;
  EXPECT_NE(log.find(" in " + root_ + "\r\n"), std::string::npos) << log;
}

TEST_F(TrayMenuTest, DoubleClickOnTheIconRestoresTheRunningProgramAndBringsItForward) {
  const PROCESS_INFORMATION stub = StartProcess(exe_, "--owner --minimized");
  ASSERT_NE(stub.hProcess, nullptr);
  CloseHandle(stub.hProcess);
  HWND owner = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (owner = FindWindowA(nullptr, "VelmorFAX Owner")) != nullptr && IsIconic(owner); }));
  HWND tray = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (tray = TrayWindow()) != nullptr; }));
  const std::size_t before = ReadBytes(stubLog_).size();
  Notify(tray, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP});
  EXPECT_TRUE(WaitFor([&] { return ReadBytes(stubLog_).find("front ", before) != std::string::npos; }));
  const std::string log = ReadBytes(stubLog_);
  EXPECT_EQ(log.substr(before, 15), "owner restored ") << log;
  EXPECT_FALSE(IsIconic(owner));
  EXPECT_EQ(log.find("started ", 1), std::string::npos) << "a second copy was started:\n" << log;
}

TEST_F(TrayMenuTest, StartVelmorFaxStartsTheProgramWhenItIsNotRunning) {
  Choose(2);
  ASSERT_NE(WaitVisible(nullptr, "VelmorFAX"), nullptr);
  EXPECT_NE(ReadBytes(stubLog_).find(" in " + root_ + "\r\n"), std::string::npos);
}

}  // namespace
