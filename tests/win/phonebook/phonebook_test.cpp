// The phone book browser and entry editor under Wine, on real files in a scratch
// program directory. A helper thread plays the user; the table is read back through
// the engine (or changed by another program, dbftool) around it.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/dbe.hpp"
#include "dbengine/filesystem.hpp"
#include "phonebook/buttonlook.hpp"
#include "phonebook/mainscreen.hpp"
#include "phonebook/phonebe.hpp"
#include "phonebook/phonebe_ids.hpp"
#include "tests/win/toolkit/robot.hpp"
#include "toolkit/application.hpp"
#include "toolkit/dbgrid.hpp"
#include "toolkit/stdctrls.hpp"
#include "toolkit/exception.hpp"
#include "toolkit/graphics.hpp"
#include "widgets/explbtn.hpp"
#include "widgets/res/buttonbitmaps.hpp"

namespace {

using vz::phonebook::PhoneBookUi;

constexpr const char* kBrowserTitle = "VelmorFax Printer Driver - Select Phone Number ";
constexpr const char* kEditorTitle = "Phone Book Editor";
constexpr const char* kAppTitle = "Phone Book Test";

TApplication& App() {
  static TApplication* app = [] {
    auto* a = new TApplication();
    a->SetTitle(kAppTitle);
    return a;
  }();
  return *app;
}

// ---- the program around the phone book, and a help viewer that records requests ----

class FakeUi : public PhoneBookUi {
 public:
  explicit FakeUi(std::string dir) : dir_(std::move(dir)) {}
  std::string ProgramPath() override { return dir_ + "\\VZNTCTL.EXE"; }
  void ShowInfo(const std::string& text) override { infos.push_back(text); }
  void Terminate() override { ++terminations; }
  void Beep() override { ++beeps; }
  std::vector<std::string> infos;
  int terminations = 0;
  std::atomic<int> beeps{0};

 private:
  std::string dir_;
};

struct HelpRequest {
  int count = 0;
  unsigned command = 0;
  long data = 0;
  std::string file;
};
HelpRequest gHelp;

// WinHelpA hands a viewer window of this class the request in WM_COPYDATA: size (16
// bits), command (16), data (32), reserved (32), offset of the file name (16), ...
LRESULT CALLBACK HelpViewerProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COPYDATA) {
    const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lp);
    const auto* bytes = static_cast<const unsigned char*>(copy->lpData);
    auto u16 = [&](int at) { return static_cast<unsigned>(bytes[at] | (bytes[at + 1] << 8)); };
    gHelp.command = u16(2);
    gHelp.data = static_cast<long>(bytes[4] | (bytes[5] << 8) | (bytes[6] << 16) | (bytes[7] << 24));
    gHelp.file = u16(12) != 0 ? reinterpret_cast<const char*>(bytes + u16(12)) : "";
    ++gHelp.count;
    return TRUE;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}

// Runs a call on the GUI thread later, as a click there would (errors reach the
// standard error box), without waiting for it: the call may open a modal window.
LRESULT CALLBACK PosterProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_APP) {
    std::unique_ptr<std::function<void()>> call(reinterpret_cast<std::function<void()>*>(lp));
    try {
      (*call)();
    } catch (const std::exception& e) {
      App().HandleException(e);
    }
    return 0;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}

HWND Poster() {
  static HWND wnd = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &PosterProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "PhoneBookTestPoster";
    RegisterClassA(&wc);
    return CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  }();
  return wnd;
}

void PostCall(std::function<void()> call) {
  PostMessageA(Poster(), WM_APP, 0, reinterpret_cast<LPARAM>(new std::function<void()>(std::move(call))));
}

// Set once a step has failed and the windows are being closed: the script stops at
// its next call to the GUI thread, which may be waiting for the script to end.
std::atomic<bool> gEscaped{false};

void StopIfEscaped() {
  if (gEscaped) throw std::runtime_error("stopped after a failed step");
}

template <typename F>
auto OnGui(F f) {
  StopIfEscaped();
  decltype(f()) value{};
  App().Synchronize([&] { value = f(); });
  return value;
}

// A message to a window of the GUI thread, from the robot thread.
LRESULT SendGui(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  StopIfEscaped();
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(wnd, msg, wp, lp, SMTO_NORMAL, 5000, &result)) throw std::runtime_error("no answer");
  return static_cast<LRESULT>(result);
}

std::string WindowText(HWND wnd) {
  char text[512] = {};
  GetWindowTextA(wnd, text, sizeof(text));
  return text;
}

// The rows the ListView reports selected, in order.
std::vector<int> SelectedRows(TDBGrid* grid) {
  std::vector<int> rows;
  for (int row = -1;;) {
    row = static_cast<int>(SendGui(grid->Handle(), LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED));
    if (row < 0) return rows;
    rows.push_back(row);
  }
}

// A visible message box (dialog class) with this caption.
HWND FindBox(const char* caption) { return robot::FindVisible("#32770", caption); }

// Every text of a message box's static controls, joined.
std::string BoxText(HWND box) {
  std::string out;
  for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    char cls[32] = {};
    GetClassNameA(c, cls, sizeof(cls));
    if (std::string(cls) == "Static") out += WindowText(c);
  }
  return out;
}

// The build's dbftool, as Wine names it.
std::string DbfToolPath() {
  std::string path = std::string("Z:") + VZ_DBFTOOL;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// A second opener of the phone book, as another program has it: its own table,
// data source and adapter.
struct Opener {
  vz::data::TTable table;
  vz::data::TDataSource source;
  vz::phonebook::TDataEngine engine;
  explicit Opener(PhoneBookUi& ui) {
    vz::phonebook::AddPhoneFields(table);
    source.SetDataSet(&table);
    engine.SetDataSource(&source);
    opened = vz::phonebook::OpenPhoneDBF(table, engine, ui);
  }
  bool opened = false;
};

// ---- fixture: a scratch program directory with its phone book ----

class PhoneBookWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    Poster();  // made here, on the GUI thread, which runs what is posted to it
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "vzpbtest" + std::to_string(GetCurrentProcessId()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    ui_ = std::make_unique<FakeUi>(dir_);
    WNDCLASSA wc{};
    wc.lpfnWndProc = &HelpViewerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "MS_WINHELP";
    RegisterClassA(&wc);
    viewer_.Reset(CreateWindowExA(0, "MS_WINHELP", "Help", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr));
    gHelp = HelpRequest{};
    gEscaped = false;
  }
  void TearDown() override {
    dbe_SetFileSystem(nullptr);
    viewer_.Reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string Dbf() const { return dir_ + "\\VZPB.DBF"; }

  // dbftool, another program, imports name,phone rows into the phone book; its exit code.
  DWORD ImportWithDbfTool(const std::string& rows) {
    const std::string csv = dir_ + "\\import.csv";
    FILE* f = std::fopen(csv.c_str(), "wb");
    std::fputs(rows.c_str(), f);
    std::fclose(f);
    std::string line = "\"" + DbfToolPath() + "\" import \"" + Dbf() + "\" \"" + csv + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
      return 98;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
  }

  // Entries written through the engine, as another program would.
  void AddEntries(const std::vector<std::pair<std::string, std::string>>& entries) {
    Opener other(*ui_);
    ASSERT_TRUE(other.opened);
    vz::data::TTable& table = other.table;
    for (const auto& [name, phone] : entries) {
      table.Append();
      table.FieldByName("NAME").SetAsString(name);
      table.FieldByName("PHONE").SetAsString(phone);
      table.Post();
    }
  }

  // The visible entries on disk, in name order: "NAME|PHONE" with the stored padding cut.
  std::vector<std::string> StoredEntries() {
    Opener other(*ui_);
    std::vector<std::string> out;
    if (!other.opened) return {"<cannot open>"};
    other.table.First();
    for (const auto& row : other.table.PeekRows(100000)) out.push_back(row[0] + "|" + row[1]);
    return out;
  }

  // Opens a browser, runs `script` on a helper thread while the browser is modal,
  // and returns the modal result.
  int RunBrowser(const std::function<void(robot::Robot&, TMainScreen&)>& script) {
    screen_ = std::make_unique<TMainScreen>(&App(), *ui_);
    TMainScreen& screen = *screen_;
    robot::Robot r([&](robot::Robot& rb) { script(rb, screen); }, [] { Escape(); });
    const int result = screen.ShowModal();
    r.Join();
    EXPECT_TRUE(r.Ok()) << r.Failure();
    return result;
  }

  // Closes whatever the browser has open, after a failed step.
  static void Escape() {
    gEscaped = true;
    if (HWND box = FindBox("Delete")) PostMessageA(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
    if (HWND box = FindBox("Import")) PostMessageA(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
    if (HWND box = FindBox("Information")) PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    if (HWND box = FindBox(kAppTitle)) PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    if (HWND editor = FindWindowA(nullptr, kEditorTitle)) PostMessageA(editor, WM_CLOSE, 0, 0);
    if (HWND browser = FindWindowA(nullptr, kBrowserTitle)) PostMessageA(browser, WM_CLOSE, 0, 0);
  }

  // Presses a browser or editor button as a click does.
  static void Press(TExplorerButton* button) {
    PostCall([button] { button->Click(); });
  }

  static bool Enabled(TExplorerButton* button) {
    return OnGui([button] { return button->Enabled(); });
  }

  // Waits for the editor, fills it and presses Accept (Enter) or Cancel (Esc).
  static HWND WaitEditor(robot::Robot& r) { return r.WaitForWindow(nullptr, kEditorTitle); }
  static void FillEditor(robot::Robot& r, const std::string& name, const std::string& phone, bool accept) {
    HWND editor = WaitEditor(r);
    if (editor == nullptr) return;
    HWND nameBox = GetDlgItem(editor, IDC_PB_NAME);
    HWND numberBox = GetDlgItem(editor, IDC_PB_NUMBER);
    SendGui(nameBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
    SendGui(numberBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(phone.c_str()));
    PostMessageA(nameBox, WM_KEYDOWN, accept ? VK_RETURN : VK_ESCAPE, 0);
    r.Expect([] { return robot::FindVisible(nullptr, kEditorTitle) == nullptr; }, "the editor to close");
  }

  std::string dir_;
  std::unique_ptr<FakeUi> ui_;
  vz::win::OwnedWindow viewer_;
  std::unique_ptr<TMainScreen> screen_;
};


}  // namespace

// ---- the browser's buttons ----

TEST_F(PhoneBookWinTest, AnEmptyPhoneBookLeavesEveryButtonOnAndAcceptHandsBackNothing) {
  const int result = RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    for (TExplorerButton* b : {s.Addbutton, s.Modifybutton, s.Deletebutton, s.Helpbutton, s.OKButton, s.Cancelbutton})
      EXPECT_TRUE(Enabled(b)) << b->Caption();
    // Edit and Delete only beep: no editor, no question.
    Press(s.Modifybutton);
    Press(s.Deletebutton);
    r.Expect([&] { return ui_->beeps == 2; }, "two beeps");
    EXPECT_EQ(robot::FindVisible(nullptr, kEditorTitle), nullptr);
    EXPECT_EQ(FindBox("Delete"), nullptr);
    Press(s.OKButton);
  });
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(screen_->ChosenName, "");
  EXPECT_EQ(screen_->ChosenPhone, "");
  EXPECT_TRUE(ui_->infos.empty());
  EXPECT_EQ(StoredEntries(), std::vector<std::string>{});
}

TEST_F(PhoneBookWinTest, TheFirstEntryTurnsEditDeleteAndAcceptOnAndDeletingTheLastTurnsThemOff) {
  const int result = RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    Press(s.Addbutton);
    FillEditor(r, "Jansen Olga", "+49 29 959725", true);
    r.Expect([&] { return Enabled(s.Modifybutton); }, "Edit to be enabled");
    EXPECT_TRUE(Enabled(s.Deletebutton));
    EXPECT_TRUE(Enabled(s.OKButton));
    Press(s.Deletebutton);
    HWND box = r.WaitForWindow("#32770", "Delete");
    if (box == nullptr) return;
    EXPECT_EQ(BoxText(box), "Delete the current phone book entry?:\rJansen Olga");
    PostMessageA(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
    r.Expect([&] { return !Enabled(s.Modifybutton); }, "Edit to be disabled");
    EXPECT_FALSE(Enabled(s.Deletebutton));
    EXPECT_FALSE(Enabled(s.OKButton));
    EXPECT_TRUE(Enabled(s.Addbutton));
    EXPECT_TRUE(Enabled(s.Helpbutton));
    EXPECT_TRUE(Enabled(s.Cancelbutton));
    Press(s.Cancelbutton);
  });
  EXPECT_EQ(result, mrCancel);
  EXPECT_EQ(screen_->ChosenName, "");  // Cancel hands nothing back
  EXPECT_EQ(StoredEntries(), std::vector<std::string>{});
}

// The Delete key in the grid asks the Delete button's question, No the default.
TEST_F(PhoneBookWinTest, TheDeleteKeyInTheGridAsksTheDeleteQuestionAndOnlyYesDeletes) {
  AddEntries({{"Albrecht Hugo", "1"}, {"Keller Anna", "2"}});
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    TDBGrid* grid = s.PhoneGrid;
    if (!r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 2; }, "two rows")) return;
    PostMessageA(grid->Handle(), WM_KEYDOWN, VK_DOWN, 1);
    if (!r.Expect([&] { return OnGui([&] { return s.PhoneTableNAME->AsString(); }) == "Keller Anna"; }, "Keller"))
      return;
    PostMessageA(grid->Handle(), WM_KEYDOWN, VK_DELETE, 1);
    HWND box = r.WaitForWindow("#32770", "Delete");
    if (box == nullptr) return;
    EXPECT_EQ(BoxText(box), "Delete the current phone book entry?:\rKeller Anna");
    EXPECT_EQ(GetWindowLongA(GetDlgItem(box, IDNO), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    PostMessageA(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
    if (!r.Expect([] { return FindBox("Delete") == nullptr; }, "the question to close")) return;
    EXPECT_EQ(OnGui([&] { return grid->RowCount(); }), 2);
    EXPECT_EQ(OnGui([&] { return s.PhoneTableNAME->AsString(); }), "Keller Anna");

    PostMessageA(grid->Handle(), WM_KEYDOWN, VK_DELETE, 1);
    box = r.WaitForWindow("#32770", "Delete");
    if (box == nullptr) return;
    EXPECT_EQ(BoxText(box), "Delete the current phone book entry?:\rKeller Anna");
    PostMessageA(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
    if (!r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 1; }, "one row")) return;
    EXPECT_EQ(OnGui([&] { return s.PhoneTableNAME->AsString(); }), "Albrecht Hugo");
    EXPECT_EQ(SelectedRows(grid), std::vector<int>{0});
    Press(s.Cancelbutton);
  });
  EXPECT_EQ(StoredEntries(), std::vector<std::string>{"Albrecht Hugo|1"});
}

// Declining still refreshes: entries another program added meanwhile show up. Enter
// answers No, the default.
TEST_F(PhoneBookWinTest, DecliningTheDeleteQuestionWithEnterKeepsTheEntryAndStillRefreshes) {
  AddEntries({{"Keller Anna", "1"}});
  const int result = RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    r.Expect([&] { return OnGui([&] { return s.PhoneGrid->RowCount(); }) == 1; }, "one row");
    OnGui([&] {
      s.SetRefreshPeriod(0);
      return 0;
    });
    EXPECT_EQ(ImportWithDbfTool("Albrecht Bruno,2\r\nZeller Paul,3\r\n"), 0u);
    Press(s.Deletebutton);
    HWND box = r.WaitForWindow("#32770", "Delete");
    if (box == nullptr) return;
    PostMessageA(box, WM_KEYDOWN, VK_RETURN, 0);
    r.Expect([&] { return OnGui([&] { return s.PhoneGrid->RowCount(); }) == 3; }, "the other program's rows");
    Press(s.OKButton);
  });
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(StoredEntries(), (std::vector<std::string>{"Albrecht Bruno|2", "Keller Anna|1", "Zeller Paul|3"}));
}

TEST_F(PhoneBookWinTest, TheEditorStoresBlankAndFullLengthEntriesAndItsCancelChangesNothing) {
  const std::string name35(35, 'N');
  const std::string phone25(25, '9');
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    Press(s.Addbutton);
    FillEditor(r, "Never Stored", "0", false);
    Press(s.Addbutton);
    FillEditor(r, "", "", true);
    Press(s.Addbutton);
    FillEditor(r, name35, phone25, true);
    r.Expect([&] { return OnGui([&] { return s.PhoneGrid->RowCount(); }) == 2; }, "two rows");
    Press(s.Cancelbutton);
  });
  EXPECT_EQ(StoredEntries(), (std::vector<std::string>{"|", name35 + "|" + phone25}));
}

TEST_F(PhoneBookWinTest, TheEditorBoxesRefuseThe36thAndThe26thCharacter) {
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    Press(s.Addbutton);
    HWND editor = WaitEditor(r);
    if (editor == nullptr) return;
    HWND nameBox = GetDlgItem(editor, IDC_PB_NAME);
    HWND numberBox = GetDlgItem(editor, IDC_PB_NUMBER);
    for (int i = 0; i < 40; ++i) {
      PostMessageA(nameBox, WM_CHAR, 'a' + i % 26, 1);
      PostMessageA(numberBox, WM_CHAR, '0' + i % 10, 1);
    }
    r.Expect([&] { return GetWindowTextLengthA(nameBox) == 35 && GetWindowTextLengthA(numberBox) == 25; },
             "the boxes to fill up");
    OnGui([] { return 0; });  // every typed character handled
    EXPECT_EQ(WindowText(nameBox), "abcdefghijklmnopqrstuvwxyzabcdefghi");
    EXPECT_EQ(WindowText(numberBox), "0123456789012345678901234");
    PostMessageA(numberBox, WM_KEYDOWN, VK_RETURN, 0);
    r.Expect([] { return robot::FindVisible(nullptr, kEditorTitle) == nullptr; }, "the editor to close");
    Press(s.Cancelbutton);
  });
  EXPECT_EQ(StoredEntries(), std::vector<std::string>{"abcdefghijklmnopqrstuvwxyzabcdefghi|0123456789012345678901234"});
}

TEST_F(PhoneBookWinTest, EditChangesTheCurrentEntryAndAcceptHandsItBack) {
  AddEntries({{"Becker Carla", "+49 88 198702"}, {"Albrecht Hugo", "+49 50 181390"}});
  const int result = RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    PostCall([&s] { s.PhoneTable.Last(); });
    Press(s.Modifybutton);
    HWND editor = WaitEditor(r);
    if (editor == nullptr) return;
    EXPECT_EQ(WindowText(GetDlgItem(editor, IDC_PB_NAME)), "Becker Carla");
    EXPECT_EQ(WindowText(GetDlgItem(editor, IDC_PB_NUMBER)), "+49 88 198702");
    FillEditor(r, " Becker Carla ", "+49 88 000000", true);
    Press(s.OKButton);
  });
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(screen_->ChosenName, " Becker Carla");  // leading blanks kept, trailing ones are padding
  EXPECT_EQ(screen_->ChosenPhone, "+49 88 000000");
  EXPECT_EQ(StoredEntries(), (std::vector<std::string>{" Becker Carla|+49 88 000000", "Albrecht Hugo|+49 50 181390"}));
}

// An entry another program deleted since the grid read it is not written into.
TEST_F(PhoneBookWinTest, EditOnAnEntryDeletedElsewhereRefreshesInsteadOfWriting) {
  AddEntries({{"Albrecht Hugo", "1"}, {"Becker Carla", "2"}});
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    r.Expect([&] { return OnGui([&] { return s.PhoneGrid->RowCount(); }) == 2; }, "two rows");
    OnGui([&] {
      s.SetRefreshPeriod(0);  // the click comes before the browser's next look
      Opener other(*ui_);
      other.table.First();
      other.table.Delete();  // Albrecht Hugo, current in the browser
      return 0;
    });
    Press(s.Modifybutton);
    r.Expect([&] { return OnGui([&] { return s.PhoneGrid->RowCount(); }) == 1; }, "the refreshed list");
    EXPECT_EQ(ui_->beeps, 1);
    EXPECT_EQ(robot::FindVisible(nullptr, kEditorTitle), nullptr);
    EXPECT_EQ(OnGui([&] { return s.PhoneTableNAME->AsString(); }), "Becker Carla");
    Press(s.Cancelbutton);
  });
  EXPECT_EQ(StoredEntries(), std::vector<std::string>{"Becker Carla|2"});
}

// A post the disk refuses: the error box, the browser still open, the file as it was.
TEST_F(PhoneBookWinTest, APostThatFailsShowsTheErrorAndLeavesTheTableAsItWas) {
  AddEntries({{"Albrecht Hugo", "1"}});
  vz::db::FaultFileSystem fault(vz::db::HostFileSystem());
  dbe_SetFileSystem(&fault);
  std::string boxText;
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    dbe_SetFileSystem(nullptr);
    Press(s.Addbutton);
    HWND editor = WaitEditor(r);
    if (editor == nullptr) return;
    OnGui([&] {
      fault.SetPlan({fault.Writes() + 1, 0, 0, false});
      return 0;
    });
    FillEditor(r, "Zeller Paul", "3", true);
    HWND box = r.WaitForWindow("#32770", kAppTitle);
    if (box == nullptr) return;
    boxText = BoxText(box);
    PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    r.Expect([] { return FindBox(kAppTitle) == nullptr; }, "the error box to close");
    EXPECT_NE(robot::FindVisible(nullptr, kBrowserTitle), nullptr);
    EXPECT_EQ(OnGui([&] { return s.PhoneTable.State(); }), vz::data::TDataSetState::dsBrowse);
    EXPECT_EQ(OnGui([&] { return s.PhoneGrid->RowCount(); }), 1);
    Press(s.Cancelbutton);
  });
  EXPECT_EQ(boxText.rfind("Database Error : ", 0), 0u) << boxText;
  EXPECT_EQ(StoredEntries(), std::vector<std::string>{"Albrecht Hugo|1"});
}

TEST_F(PhoneBookWinTest, HelpOpensTopic1019AndTheEditorsHelp1020LeavesItOpen) {
  App().SetHelpFile("C:\\ELSEWHERE\\OTHER.HLP");
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    Press(s.Helpbutton);
    r.Expect([] { return gHelp.count == 1; }, "the browser's help");
    EXPECT_EQ(gHelp.data, 1019);
    EXPECT_EQ(gHelp.command, static_cast<unsigned>(HELP_CONTEXT));
    EXPECT_EQ(gHelp.file, dir_ + "\\VZ.hlp");
    Press(s.Addbutton);
    HWND editor = WaitEditor(r);
    if (editor == nullptr) return;
    SendGui(GetDlgItem(editor, IDC_PB_NAME), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("typed"));
    PostMessageA(GetDlgItem(editor, IDC_PB_NAME), WM_SYSCHAR, 'h', 1 << 29);  // Alt+H
    r.Expect([] { return gHelp.count == 2; }, "the editor's help");
    EXPECT_EQ(gHelp.data, 1020);
    EXPECT_NE(robot::FindVisible(nullptr, kEditorTitle), nullptr);
    EXPECT_EQ(WindowText(GetDlgItem(editor, IDC_PB_NAME)), "typed");
    FillEditor(r, "typed", "", false);
    Press(s.Cancelbutton);
  });
  EXPECT_EQ(App().HelpFile(), dir_ + "\\VZ.hlp");  // stays after the browser closes
}

TEST_F(PhoneBookWinTest, APhoneBookThatCannotBeCreatedIsReportedAndEndsTheProgram) {
  FakeUi nowhere("Q:\\NO\\SUCH\\FOLDER");
  TMainScreen screen(&App(), nowhere);
  EXPECT_EQ(nowhere.infos, std::vector<std::string>{"Unable to open or create VZPB.DBF"});
  EXPECT_EQ(nowhere.terminations, 1);
  EXPECT_FALSE(screen.PhoneTable.Active());
}

// ---- the window's geometry ----

TEST_F(PhoneBookWinTest, TheBrowserHasItsSizeBorderAndBarAndTheBarKeepsItsHeight) {
  TMainScreen s(&App(), *ui_);
  s.Show();
  RECT wr{};
  GetWindowRect(s.Handle(), &wr);
  EXPECT_EQ(wr.right - wr.left, 434);
  EXPECT_EQ(wr.bottom - wr.top, 402);
  const int sw = GetSystemMetrics(SM_CXSCREEN);
  const int sh = GetSystemMetrics(SM_CYSCREEN);
  EXPECT_EQ(wr.left, (sw - 434) / 2);
  EXPECT_EQ(wr.top, (sh - 402) / 2);
  EXPECT_EQ(WindowText(s.Handle()), kBrowserTitle);
  const LONG style = GetWindowLongA(s.Handle(), GWL_STYLE);
  EXPECT_TRUE(style & WS_THICKFRAME);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_TRUE(style & WS_MAXIMIZEBOX);
  auto check = [&] {
    RECT client{};
    GetClientRect(s.Handle(), &client);
    EXPECT_EQ(s.ButtonBar->Height(), 50);
    EXPECT_EQ(s.ButtonBar->Top(), client.bottom - 50);
    EXPECT_EQ(s.ButtonBar->Width(), client.right);
    EXPECT_EQ(s.PhoneGrid->Left(), 20);
    EXPECT_EQ(s.PhoneGrid->Top(), 20);
    EXPECT_EQ(s.PhoneGrid->Width(), client.right - 40);
    EXPECT_EQ(s.PhoneGrid->Height(), client.bottom - 50 - 40);
  };
  check();
  s.SetBounds(wr.left, wr.top, 600, 500);
  check();
  const int lefts[] = {6, 70, 133, 205, 277, 345};
  const char* captions[] = {"&New", "&Edit", "&Delete", "&Help", "&Accept", "Cance&l"};
  TExplorerButton* buttons[] = {s.Addbutton, s.Modifybutton, s.Deletebutton, s.Helpbutton, s.OKButton, s.Cancelbutton};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(buttons[i]->Left(), lefts[i]);
    EXPECT_EQ(buttons[i]->Top(), 3);
    EXPECT_EQ(buttons[i]->Width(), 57);
    EXPECT_EQ(buttons[i]->Height(), 41);
    EXPECT_EQ(buttons[i]->Caption(), captions[i]);
    EXPECT_EQ(buttons[i]->Parent(), s.ButtonBar);
  }
  EXPECT_EQ(s.Cancelbutton->Hint(), "Cancel - do not use any of these phone book entries\rfor the current fax");
  EXPECT_TRUE(s.OKButton->Default());
  EXPECT_TRUE(s.Cancelbutton->Cancel());
  s.Hide();
}

// In the controller the main form is the tray's hidden form, made at the top-left
// corner: the editor opens over the browser, wherever the user moved it, and wholly
// on the work area.
TEST_F(PhoneBookWinTest, TheEditorOpensOverTheBrowserAndOnTheWorkAreaWhileTheMainFormIsHidden) {
  TForm trayForm(nullptr);
  trayForm.SetBounds(0, 0, 288, 126);
  App().SetMainForm(&trayForm);
  RECT work{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  std::vector<RECT> editors;
  std::vector<RECT> browsers;
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    HWND browser = r.WaitForWindow(nullptr, kBrowserTitle);
    if (browser == nullptr) return;
    // Where it opened, then moved by the user over the bottom-right corner.
    for (const bool moved : {false, true}) {
      if (moved) OnGui([&] { return SetWindowPos(browser, nullptr, work.right - 200, work.bottom - 150, 0, 0,
                                                 SWP_NOSIZE | SWP_NOZORDER); });
      Press(s.Addbutton);
      HWND editor = WaitEditor(r);
      if (editor == nullptr) return;
      RECT e{};
      RECT b{};
      GetWindowRect(editor, &e);
      GetWindowRect(browser, &b);
      editors.push_back(e);
      browsers.push_back(b);
      PostMessageA(GetDlgItem(editor, IDC_PB_NAME), WM_KEYDOWN, VK_ESCAPE, 0);
      r.Expect([] { return robot::FindVisible(nullptr, kEditorTitle) == nullptr; }, "the editor to close");
    }
    Press(s.Cancelbutton);
  });
  App().SetMainForm(nullptr);
  ASSERT_EQ(editors.size(), 2u);
  const RECT& e = editors[0];
  const RECT& b = browsers[0];
  EXPECT_EQ(e.left, b.left + ((b.right - b.left) - (e.right - e.left)) / 2);
  EXPECT_EQ(e.top, b.top + ((b.bottom - b.top) - (e.bottom - e.top)) / 2);
  EXPECT_GE(e.left, work.left);
  EXPECT_GE(e.top, work.top);
  // Centred over the moved browser it would hang over the corner: it stops there.
  EXPECT_EQ(browsers[1].left, work.right - 200);
  EXPECT_EQ(editors[1].right, work.right);
  EXPECT_EQ(editors[1].bottom, work.bottom);
}

TEST_F(PhoneBookWinTest, TheEditorHasItsClientSizeBoxesAndNoTitleBarButtons) {
  TPhoneBookEditor e(&App());
  RECT client{};
  GetClientRect(e.Handle(), &client);
  EXPECT_EQ(client.right, 331);
  EXPECT_EQ(client.bottom, 166);
  const LONG style = GetWindowLongA(e.Handle(), GWL_STYLE);
  EXPECT_FALSE(style & WS_SYSMENU);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_EQ(WindowText(e.Handle()), kEditorTitle);
  EXPECT_EQ(e.Name->MaxLength(), 35);
  EXPECT_EQ(e.Number->MaxLength(), 25);
  EXPECT_EQ(e.Name->Left(), 17);
  EXPECT_EQ(e.Name->Top(), 28);
  EXPECT_EQ(e.Name->Width(), 229);
  EXPECT_EQ(e.Number->Top(), 75);
  EXPECT_EQ(e.Number->Width(), 225);
  EXPECT_EQ(e.Panel1->Height(), 53);
  EXPECT_EQ(e.Panel1->Top(), 166 - 53);
  EXPECT_EQ(e.OKButton->Left(), 198);
  EXPECT_EQ(e.Cancelbutton->Left(), 262);
  EXPECT_EQ(e.Helpbutton->Left(), 18);
  EXPECT_EQ(e.Helpbutton->Top(), 5);
  EXPECT_EQ(e.Name->Hint(), "Type the recipient's name here");
  EXPECT_EQ(e.Number->Hint(), "Type the fax number here");
  EXPECT_TRUE(e.OKButton->Default());
  EXPECT_TRUE(e.Cancelbutton->Cancel());
}

// ---- the grid's fit to the window ----

namespace {

// Runs the GUI thread's messages until `condition` holds; false after five seconds.
bool PumpUntil(const std::function<bool()>& condition) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > 5000) return false;
    App().ProcessMessages();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return true;
}

int ColumnWidth(HWND grid, int column) { return static_cast<int>(SendMessageA(grid, LVM_GETCOLUMNWIDTH, column, 0)); }
bool HasStyle(HWND wnd, LONG style) { return (GetWindowLongA(wnd, GWL_STYLE) & style) != 0; }

int ClientWidthOf(HWND wnd) {
  RECT r{};
  GetClientRect(wnd, &r);
  return r.right;
}

RECT ScreenRect(const TControl& c) {
  const POINT at = c.ClientToScreen(POINT{0, 0});
  return RECT{at.x, at.y, at.x + c.Width(), at.y + c.Height()};
}

}  // namespace

TEST_F(PhoneBookWinTest, TheGridFillsTheBrowserWithoutAHorizontalBarAndTheNamesTakeItsGrowth) {
  // More than a maximised browser shows: the vertical bar is there at every size.
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < 120; ++i) entries.emplace_back("Name " + std::to_string(i), std::to_string(i));
  AddEntries(entries);
  TMainScreen s(&App(), *ui_);
  s.Show();
  ASSERT_TRUE(PumpUntil([&] { return s.PhoneGrid->RowCount() == 120; }));
  HWND grid = s.PhoneGrid->Handle();
  const int indicator = ColumnWidth(grid, 0);
  const int phone = ColumnWidth(grid, 2);
  const int name = ColumnWidth(grid, 1);
  auto expectFilled = [&](const char* size) {
    EXPECT_FALSE(HasStyle(grid, WS_HSCROLL)) << size;
    EXPECT_TRUE(HasStyle(grid, WS_VSCROLL)) << size;
    EXPECT_EQ(ColumnWidth(grid, 0) + ColumnWidth(grid, 1) + ColumnWidth(grid, 2), ClientWidthOf(grid)) << size;
    EXPECT_EQ(ColumnWidth(grid, 0), indicator) << size;
    EXPECT_EQ(ColumnWidth(grid, 2), phone) << size;
  };
  expectFilled("default");
  EXPECT_GE(name, 190);  // some 32 characters of a name
  RECT wr{};
  GetWindowRect(s.Handle(), &wr);
  ASSERT_EQ(wr.right - wr.left, 434);

  s.SetBounds(wr.left, wr.top, 434 + 150, 402 + 60);
  expectFilled("wider");
  EXPECT_EQ(ColumnWidth(grid, 1), name + 150);
  ShowWindow(s.Handle(), SW_MAXIMIZE);
  expectFilled("maximised");
  EXPECT_GT(ColumnWidth(grid, 1), name + 150);
  ShowWindow(s.Handle(), SW_RESTORE);
  s.SetBounds(wr.left, wr.top, 434 + 40, 402);
  expectFilled("narrower again");
  EXPECT_EQ(ColumnWidth(grid, 1), name + 40);
  // Below the default width the window does not go, nor the names.
  s.SetBounds(wr.left, wr.top, 300, 402);
  GetWindowRect(s.Handle(), &wr);
  EXPECT_EQ(wr.right - wr.left, 434);
  EXPECT_EQ(ColumnWidth(grid, 1), name);
  expectFilled("smallest");
  s.Hide();
}

// A phone book too short for a vertical scroll bar: the names take its width too, and
// give it back when the list grows.
TEST_F(PhoneBookWinTest, TheNamesTakeTheScrollBarsWidthWhileTheListIsShort) {
  AddEntries({{"Albrecht Hugo", "1"}, {"Becker Carla", "2"}});
  TMainScreen s(&App(), *ui_);
  s.Show();
  ASSERT_TRUE(PumpUntil([&] { return s.PhoneGrid->RowCount() == 2; }));
  HWND grid = s.PhoneGrid->Handle();
  EXPECT_FALSE(HasStyle(grid, WS_VSCROLL));
  EXPECT_FALSE(HasStyle(grid, WS_HSCROLL));
  const int shortName = ColumnWidth(grid, 1);
  EXPECT_EQ(ColumnWidth(grid, 0) + shortName + ColumnWidth(grid, 2), ClientWidthOf(grid));
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < 60; ++i) entries.emplace_back("Name " + std::to_string(i), std::to_string(i));
  AddEntries(entries);
  s.PhoneGrid->FollowOtherChanges();
  ASSERT_EQ(s.PhoneGrid->RowCount(), 62);
  EXPECT_TRUE(HasStyle(grid, WS_VSCROLL));
  EXPECT_FALSE(HasStyle(grid, WS_HSCROLL));
  EXPECT_EQ(ColumnWidth(grid, 1), shortName - GetSystemMetrics(SM_CXVSCROLL));
  s.Hide();
}

TEST_F(PhoneBookWinTest, TheSmallestBrowserKeepsEveryButtonAndFiveGridRowsWhole) {
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < 60; ++i) entries.emplace_back("Name " + std::to_string(i), std::to_string(i));
  AddEntries(entries);
  TMainScreen s(&App(), *ui_);
  s.Show();
  ASSERT_TRUE(PumpUntil([&] { return s.PhoneGrid->RowCount() == 60; }));
  // Dragged as small as it goes: the system holds it at the least tracking size.
  SetWindowPos(s.Handle(), nullptr, 0, 0, 40, 40, SWP_NOMOVE | SWP_NOZORDER);
  RECT wr{};
  GetWindowRect(s.Handle(), &wr);
  MINMAXINFO info{};
  SendMessageA(s.Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(wr.right - wr.left, info.ptMinTrackSize.x);
  EXPECT_EQ(wr.bottom - wr.top, info.ptMinTrackSize.y);
  EXPECT_LT(wr.bottom - wr.top, 402);

  RECT client{};
  GetClientRect(s.Handle(), &client);
  MapWindowPoints(s.Handle(), nullptr, reinterpret_cast<POINT*>(&client), 2);
  for (TExplorerButton* b : {s.Addbutton, s.Modifybutton, s.Deletebutton, s.Helpbutton, s.OKButton, s.Cancelbutton}) {
    const RECT r = ScreenRect(*b);
    EXPECT_GE(r.left, client.left) << b->Caption();
    EXPECT_LE(r.right, client.right) << b->Caption();
    EXPECT_LE(r.bottom, client.bottom) << b->Caption();
  }
  HWND grid = s.PhoneGrid->Handle();
  EXPECT_FALSE(HasStyle(grid, WS_HSCROLL));
  RECT gridClient{};
  GetClientRect(grid, &gridClient);
  const int top = static_cast<int>(SendMessageA(grid, LVM_GETTOPINDEX, 0, 0));
  RECT fifth{};
  fifth.left = LVIR_BOUNDS;
  ASSERT_TRUE(SendMessageA(grid, LVM_GETITEMRECT, static_cast<WPARAM>(top + 4), reinterpret_cast<LPARAM>(&fifth)));
  EXPECT_LE(fifth.bottom, gridClient.bottom);
  EXPECT_LE(fifth.right, gridClient.right);
  EXPECT_GE(SendMessageA(grid, LVM_GETCOUNTPERPAGE, 0, 0), 5);
  // The grid's panel stays below the title bar and above the bar.
  EXPECT_LE(ScreenRect(*s.PhoneGrid).bottom, ScreenRect(*s.ButtonBar).top);
  s.Hide();
}

// ---- the grid ----

namespace {

std::string Numbered(int i) {
  char name[16];
  std::snprintf(name, sizeof(name), "Name %05d", i);
  return name;
}

// The row the ListView has focused, read from the robot thread.
int FocusedRow(TDBGrid* grid) {
  return static_cast<int>(SendGui(grid->Handle(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
}

}  // namespace

TEST_F(PhoneBookWinTest, TheCurrentRecordFollowsKeysAndClicksAndTheGridFollowsTheTable) {
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 99; i >= 0; --i) entries.emplace_back(Numbered(i), std::to_string(i));
  AddEntries(entries);
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    TDBGrid* grid = s.PhoneGrid;
    auto current = [&] { return OnGui([&] { return s.PhoneTableNAME->AsString(); }); };
    auto key = [&](WPARAM vk, const std::string& expected) {
      PostMessageA(grid->Handle(), WM_KEYDOWN, vk, 1);
      r.Expect([&] { return current() == expected; }, "the current record " + expected);
      EXPECT_EQ(FocusedRow(grid), std::stoi(expected.substr(5)));
    };
    r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 100; }, "100 rows");
    EXPECT_EQ(current(), Numbered(0));
    EXPECT_EQ(FocusedRow(grid), 0);
    key(VK_DOWN, Numbered(1));
    const int page = static_cast<int>(SendGui(grid->Handle(), LVM_GETCOUNTPERPAGE, 0, 0));
    PostMessageA(grid->Handle(), WM_KEYDOWN, VK_NEXT, 1);
    r.Expect([&] { return current() != Numbered(1); }, "a page down");
    EXPECT_EQ(current(), Numbered(FocusedRow(grid)));
    EXPECT_GE(FocusedRow(grid), page - 1);
    key(VK_END, Numbered(99));
    key(VK_HOME, Numbered(0));
    // A click on a row. Real input can be lost under Wine while the window is
    // still being brought forward on a busy machine: the click is given again
    // until the window is in front and the click arrives, a few times at most.
    RECT row{};
    row.left = LVIR_BOUNDS;
    SendGui(grid->Handle(), LVM_GETITEMRECT, 5, reinterpret_cast<LPARAM>(&row));
    POINT p{(row.left + row.right) / 2, (row.top + row.bottom) / 2};
    ClientToScreen(grid->Handle(), &p);
    for (int attempt = 0; attempt < 3 && current() != Numbered(5); ++attempt) {
      SetForegroundWindow(s.Handle());
      robot::WaitFor([&] { return GetForegroundWindow() == s.Handle(); }, 2000);
      robot::MoveMouse(p);
      robot::LeftDown();
      robot::LeftUp();
      robot::WaitFor([&] { return current() == Numbered(5); }, 2000);
    }
    r.Expect([&] { return current() == Numbered(5); }, "the clicked record");
    // The table moved by the program: the grid selects and shows its row.
    PostCall([&s] { s.PhoneTable.Last(); });
    r.Expect([&] { return FocusedRow(grid) == 99; }, "the last row focused");
    const int top = static_cast<int>(SendGui(grid->Handle(), LVM_GETTOPINDEX, 0, 0));
    EXPECT_LE(top, 99);
    EXPECT_GT(top + page, 99);
    // A posted entry appears in name order and becomes current.
    PostCall([&s] {
      s.PhoneTable.Append();
      s.PhoneTableNAME->SetAsString("Name 00049a");
      s.PhoneTable.Post();
    });
    r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 101; }, "101 rows");
    r.Expect([&] { return FocusedRow(grid) == 50; }, "the new row focused");
    Press(s.Cancelbutton);
  });
}

// Letters typed into the grid jump to the first name starting with them, in any case.
TEST_F(PhoneBookWinTest, TypeAheadFindsTheFirstNameInAnyLetterCase) {
  AddEntries({{"bobby", "1"}, {"Carol", "2"}, {"alice", "3"}, {"Bob", "4"}, {"ALAN", "5"}});
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    TDBGrid* grid = s.PhoneGrid;
    auto current = [&] { return OnGui([&] { return s.PhoneTableNAME->AsString(); }); };
    if (!r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 5; }, "5 rows")) return;
    EXPECT_EQ(current(), "ALAN");  // name order is the stored bytes: capitals first
    // "b" alone finds Bob too: only the last letter tells that all were handled,
    // before the searches sent below (a sent message overtakes posted ones).
    for (const char ch : {'b', 'O', 'B', 'b'}) PostMessageA(grid->Handle(), WM_CHAR, ch, 1);
    if (!r.Expect([&] { return current() == "bobby"; }, "bobby")) return;
    if (!r.Expect([&] { return FocusedRow(grid) == 4; }, "bobby's row focused")) return;
    auto find = [&](const char* text) {
      LVFINDINFOA info{};
      info.flags = LVFI_STRING | LVFI_PARTIAL;
      info.psz = text;
      return static_cast<int>(SendGui(grid->Handle(), LVM_FINDITEMA, static_cast<WPARAM>(-1),
                                      reinterpret_cast<LPARAM>(&info)));
    };
    EXPECT_EQ(find("aLi"), 3);
    EXPECT_EQ(current(), "alice");
    EXPECT_EQ(find("bO"), 1);
    EXPECT_EQ(current(), "Bob");
    EXPECT_EQ(find("x"), -1);
    EXPECT_EQ(current(), "Bob");  // nothing found: nothing moved
    Press(s.Cancelbutton);
  });
}

// The grid reads the rows it shows: jumping to the end of a large phone book reads
// a screenful, not the table.
TEST_F(PhoneBookWinTest, TheEndOfALargePhoneBookIsShownWithoutReadingTheTable) {
  std::string rows;
  for (int i = 0; i < 20000; ++i) rows += Numbered(i) + "," + std::to_string(i) + "\r\n";
  AddEntries({});
  ASSERT_EQ(ImportWithDbfTool(rows), 0u);
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    TDBGrid* grid = s.PhoneGrid;
    if (!r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 20000; }, "20000 rows", 20000)) return;
    PostMessageA(grid->Handle(), WM_KEYDOWN, VK_END, 1);
    if (!r.Expect([&] { return OnGui([&] { return s.PhoneTableNAME->AsString(); }) == Numbered(19999); }, "the last"))
      return;
    OnGui([&] {
      UpdateWindow(grid->Handle());
      return 0;
    });
    const long read = OnGui([&] { return grid->RowsRead(); });
    EXPECT_GT(read, 0);
    EXPECT_LT(read, 200);
    Press(s.Cancelbutton);
  });
}

// The buttons' bitmaps are read from the resources once; every browser shows copies of
// them, pixel for pixel what the resources hold.
TEST_F(PhoneBookWinTest, EveryBrowserShowsTheButtonBitmapsReadOnceFromTheResources) {
  const TBitmap& once = vz::phonebook::ButtonBitmap(kBitmapAccept);
  EXPECT_EQ(&vz::phonebook::ButtonBitmap(kBitmapAccept), &once);
  EXPECT_NE(&vz::phonebook::ButtonBitmap(kBitmapCancel), &once);
  TBitmap fromResources;
  fromResources.LoadFromResourceName(GetModuleHandleA(nullptr), kBitmapAccept);
  for (int round = 0; round < 2; ++round) {
    TMainScreen s(&App(), *ui_);
    const TBitmap& shown = s.OKButton->Bitmap();
    ASSERT_EQ(shown.Width(), fromResources.Width());
    ASSERT_EQ(shown.Height(), fromResources.Height());
    for (int y = 0; y < shown.Height(); ++y)
      for (int x = 0; x < shown.Width(); ++x) ASSERT_EQ(shown.Pixel(x, y), fromResources.Pixel(x, y)) << x << "," << y;
  }
  EXPECT_THROW(vz::phonebook::ButtonBitmap("VZBTN_NONE"), Exception);
}

// The first page of a large phone book is shown before the rest of its order is read.
// Pumped one message at a time: the grid is caught between its first rows and the
// rest, which it reads once the window has painted.
namespace {

constexpr int kLargeRows = 300;

// Opens the browser on kLargeRows entries and stops as soon as the grid knows its rows.
bool OpenOnFirstRows(TMainScreen& s) {
  s.Show();
  const DWORD start = GetTickCount();
  MSG msg;
  while (s.PhoneGrid->RowCount() != kLargeRows) {
    if (GetTickCount() - start > 5000) return false;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return true;
}

// A row's name as the grid shows it.
std::string GridName(TDBGrid* grid, int row) {
  char text[64] = {};
  LVITEMA item{};
  item.iSubItem = 1;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  SendMessageA(grid->Handle(), LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return text;
}

std::vector<std::pair<std::string, std::string>> LargePhoneBook() {
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = kLargeRows - 1; i >= 0; --i) entries.emplace_back(Numbered(i), std::to_string(i));
  return entries;
}

}  // namespace

// The grid's own lines, in the shadow colour, run under every row and between the
// columns once the browser has painted, and again where part of it is painted anew.
TEST_F(PhoneBookWinTest, TheGridLinesRunUnderTheRowsAndBetweenTheColumns) {
  AddEntries({{"Adams", "1"}, {"Baker", "2"}, {"Clark", "3"}});
  TMainScreen s(&App(), *ui_);
  s.Show();
  TDBGrid* grid = s.PhoneGrid;
  ASSERT_TRUE(PumpUntil([&] { return grid->RowCount() == 3; }));
  UpdateWindow(s.Handle());
  const auto pixel = [&](int x, int y) {
    POINT p{x, y};
    ClientToScreen(grid->Handle(), &p);
    return robot::ScreenPixel(p);
  };
  RECT row{};
  ListView_GetItemRect(grid->Handle(), 1, &row, LVIR_BOUNDS);
  const int nameEdge = row.left + static_cast<int>(SendMessageA(grid->Handle(), LVM_GETCOLUMNWIDTH, 0, 0) +
                                                   SendMessageA(grid->Handle(), LVM_GETCOLUMNWIDTH, 1, 0)) - 1;
  // What is drawn reaches the screen a moment later under Wine.
  const auto shadowAt = [&](int x, int y) {
    return PumpUntil([&] { return pixel(x, y) == GetSysColor(COLOR_BTNSHADOW); });
  };
  EXPECT_TRUE(shadowAt(nameEdge - 20, row.bottom - 1));
  EXPECT_TRUE(shadowAt(nameEdge, (row.top + row.bottom) / 2));
  EXPECT_NE(pixel(nameEdge - 20, (row.top + row.bottom) / 2), GetSysColor(COLOR_BTNSHADOW));
  InvalidateRect(grid->Handle(), &row, TRUE);
  UpdateWindow(grid->Handle());
  EXPECT_TRUE(shadowAt(nameEdge - 20, row.bottom - 1));
  EXPECT_TRUE(shadowAt(nameEdge, (row.top + row.bottom) / 2));
  s.Hide();
}

TEST_F(PhoneBookWinTest, ALargePhoneBookShowsItsFirstPageWithTheWholeCountAndReadsTheRestUnasked) {
  AddEntries(LargePhoneBook());
  TMainScreen s(&App(), *ui_);
  TDBGrid* grid = s.PhoneGrid;
  // The first page is read before the window shows, and not once more for its paint.
  const long readBeforeShow = grid->RowsRead();
  EXPECT_GT(readBeforeShow, 0);
  ASSERT_TRUE(OpenOnFirstRows(s));
  UpdateWindow(s.Handle());
  EXPECT_EQ(GridName(grid, 0), Numbered(0));
  EXPECT_EQ(grid->RowsRead(), readBeforeShow);
  EXPECT_FALSE(grid->OrderComplete());
  // The scroll bar's extent is the whole phone book from the start.
  EXPECT_EQ(SendMessageA(grid->Handle(), LVM_GETITEMCOUNT, 0, 0), kLargeRows);
  EXPECT_EQ(grid->CurrentRow(), 0);
  EXPECT_EQ(s.PhoneTableNAME->AsString(), Numbered(0));
  ASSERT_TRUE(PumpUntil([&] { return grid->OrderComplete(); }));
  EXPECT_EQ(grid->RowCount(), kLargeRows);
  EXPECT_EQ(SendMessageA(grid->Handle(), LVM_GETITEMCOUNT, 0, 0), kLargeRows);
  char text[64] = {};
  LVITEMA item{};
  item.iSubItem = 1;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  SendMessageA(grid->Handle(), LVM_GETITEMTEXTA, 250, reinterpret_cast<LPARAM>(&item));
  EXPECT_STREQ(text, "Name 00250");
  s.Hide();
}

namespace {

// Overwrites the start of record `recno`'s NAME in the file, past the engine and its index.
void RenameBehindTheIndex(const std::string& dbf, int recno, const std::string& name) {
  std::fstream f(dbf, std::ios::in | std::ios::out | std::ios::binary);
  unsigned char head[12] = {};
  f.read(reinterpret_cast<char*>(head), sizeof head);
  const long headerLength = head[8] | (head[9] << 8);
  const long recordLength = head[10] | (head[11] << 8);
  f.seekp(headerLength + (recno - 1) * recordLength + 1);
  f.write(name.data(), static_cast<std::streamsize>(name.size()));
}

}  // namespace

// A small phone book's index is checked against the records once the browser has
// painted, not before: one found stale (a name changed behind its back) is mended
// and the grid reads the phone book again, without waiting for the refresh timer.
TEST_F(PhoneBookWinTest, AStaleIndexFoundAfterThePaintIsMendedAndTheRowsReadAgain) {
  AddEntries({{"Adams", "1"}, {"Baker", "2"}, {"Clark", "3"}});
  RenameBehindTheIndex(Dbf(), 1, "Zorro");
  const std::string bad = dir_ + "\\VZPB.CDX.BAD";
  TMainScreen s(&App(), *ui_);
  s.SetRefreshPeriod(0);
  EXPECT_FALSE(std::filesystem::exists(bad));
  s.Show();
  ASSERT_TRUE(PumpUntil([&] { return std::filesystem::exists(bad); }));
  ASSERT_TRUE(PumpUntil([&] { return GridName(s.PhoneGrid, 0) == "Baker"; })) << GridName(s.PhoneGrid, 0);
  EXPECT_EQ(GridName(s.PhoneGrid, 1), "Clark");
  EXPECT_EQ(GridName(s.PhoneGrid, 2), "Zorro");
  EXPECT_EQ(s.PhoneGrid->RowCount(), 3);
  // The entry current before (the first whose record the stale index still matched)
  // stays current.
  EXPECT_EQ(s.PhoneTableNAME->AsString(), "Baker");
  EXPECT_EQ(s.PhoneGrid->CurrentRow(), 0);
  s.Hide();
}

// What needs a row beyond the first page reads the rest of the order first.
TEST_F(PhoneBookWinTest, EndPageDownTypeAheadAndShiftEndBeforeTheRestIsReadReachTheRightRows) {
  AddEntries(LargePhoneBook());
  {
    TMainScreen s(&App(), *ui_);
    ASSERT_TRUE(OpenOnFirstRows(s));
    ASSERT_FALSE(s.PhoneGrid->OrderComplete());
    SendMessageA(s.PhoneGrid->Handle(), WM_KEYDOWN, VK_END, 1);
    EXPECT_EQ(s.PhoneTableNAME->AsString(), "Name 00299");
    EXPECT_EQ(s.PhoneGrid->CurrentRow(), 299);
    s.Hide();
  }
  {
    TMainScreen s(&App(), *ui_);
    ASSERT_TRUE(OpenOnFirstRows(s));
    ASSERT_FALSE(s.PhoneGrid->OrderComplete());
    const int page = static_cast<int>(SendMessageA(s.PhoneGrid->Handle(), LVM_GETCOUNTPERPAGE, 0, 0));
    ASSERT_GT(page, 1);
    for (int i = 0; i < 3; ++i) SendMessageA(s.PhoneGrid->Handle(), WM_KEYDOWN, VK_NEXT, 1);
    EXPECT_EQ(s.PhoneGrid->CurrentRow(), 3 * (page - 1));
    EXPECT_EQ(s.PhoneTableNAME->AsString(), Numbered(3 * (page - 1)));
    s.Hide();
  }
  {
    TMainScreen s(&App(), *ui_);
    ASSERT_TRUE(OpenOnFirstRows(s));
    ASSERT_FALSE(s.PhoneGrid->OrderComplete());
    for (const char ch : {'n', 'a', 'm', 'e', ' ', '0', '0', '2', '7'})
      SendMessageA(s.PhoneGrid->Handle(), WM_CHAR, static_cast<WPARAM>(ch), 1);
    EXPECT_EQ(s.PhoneTableNAME->AsString(), "Name 00270");
    EXPECT_EQ(s.PhoneGrid->CurrentRow(), 270);
    s.Hide();
  }
  {
    TMainScreen s(&App(), *ui_);
    ASSERT_TRUE(OpenOnFirstRows(s));
    ASSERT_FALSE(s.PhoneGrid->OrderComplete());
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    SendMessageA(s.PhoneGrid->Handle(), WM_KEYDOWN, VK_END, 1);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(s.PhoneGrid->PickedCount(), kLargeRows);
    const std::vector<int> picked = s.PhoneGrid->PickedRecNos();
    ASSERT_EQ(picked.size(), static_cast<std::size_t>(kLargeRows));
    // Added from Name 00299 down: record 300 holds Name 00000, the first row.
    EXPECT_EQ(picked.front(), 300);
    EXPECT_EQ(picked.back(), 1);
    s.Hide();
  }
}

// ---- other programs' changes while the browser is open ----

namespace {

// The next look of the browser's timer, with room for a loaded machine.
constexpr int kWithinPeriodMs = 3 * static_cast<int>(TMainScreen::kRefreshPeriodMs);

// The text the grid shows in a cell (column 1 the name, 2 the fax number).
std::string CellText(TDBGrid* grid, int row, int column) {
  char text[256] = {};
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  SendGui(grid->Handle(), LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return text;
}

// Another opener of the phone book, as another program is, deletes the entry with
// this name; false when there is none. On the GUI thread, which owns the engine.
bool DeleteElsewhere(PhoneBookUi& ui, const std::string& name) {
  Opener other(ui);
  if (!other.opened) return false;
  for (other.table.First(); !other.table.Eof(); other.table.Next()) {
    if (other.table.FieldByName("NAME").AsString() != name) continue;
    other.table.Delete();
    return true;
  }
  return false;
}

}  // namespace

TEST_F(PhoneBookWinTest, AnOpenBrowserShowsOtherProgramsDeletionsAndAdditionsWithinItsRefreshPeriod) {
  AddEntries({{"Albrecht Hugo", "1"}, {"Becker Carla", "2"}, {"Keller Anna", "3"}});
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    TDBGrid* grid = s.PhoneGrid;
    auto rows = [&] { return OnGui([&] { return grid->RowCount(); }); };
    auto current = [&] { return OnGui([&] { return s.PhoneTableNAME->AsString(); }); };
    if (!r.Expect([&] { return rows() == 3; }, "3 rows")) return;
    PostCall([&s] { s.PhoneTable.Next(); });
    if (!r.Expect([&] { return FocusedRow(grid) == 1; }, "Becker Carla's row")) return;
    EXPECT_TRUE(OnGui([&] { return DeleteElsewhere(*ui_, "Albrecht Hugo"); }));
    if (!r.Expect([&] { return rows() == 2; }, "the deleted row to go", kWithinPeriodMs)) return;
    EXPECT_EQ(current(), "Becker Carla");
    EXPECT_EQ(FocusedRow(grid), 0);
    EXPECT_EQ(CellText(grid, 0, 1), "Becker Carla");

    EXPECT_EQ(ImportWithDbfTool("Zeller Paul,4\r\nAdler Eva,5\r\n"), 0u);
    if (!r.Expect([&] { return rows() == 4; }, "the added rows", kWithinPeriodMs)) return;
    EXPECT_EQ(current(), "Becker Carla");
    EXPECT_EQ(FocusedRow(grid), 1);
    EXPECT_EQ(SendGui(grid->Handle(), LVM_GETSELECTEDCOUNT, 0, 0), 1);  // not also the row it had
    std::vector<std::string> shown;
    for (int row = 0; row < 4; ++row) shown.push_back(CellText(grid, row, 1) + "|" + CellText(grid, row, 2));
    EXPECT_EQ(shown, (std::vector<std::string>{"Adler Eva|5", "Becker Carla|2", "Keller Anna|3", "Zeller Paul|4"}));

    // The current entry itself goes: a neighbour becomes current and is selected.
    EXPECT_TRUE(OnGui([&] { return DeleteElsewhere(*ui_, "Becker Carla"); }));
    if (!r.Expect([&] { return rows() == 3; }, "the current row to go", kWithinPeriodMs)) return;
    const std::string now = current();
    EXPECT_TRUE(now == "Adler Eva" || now == "Keller Anna") << now;
    EXPECT_EQ(CellText(grid, FocusedRow(grid), 1), now);
    EXPECT_EQ(SendGui(grid->Handle(), LVM_GETSELECTEDCOUNT, 0, 0), 1);
    Press(s.Cancelbutton);
  });
}

TEST_F(PhoneBookWinTest, AcceptOnAnEntryDeletedElsewhereBeepsRefreshesAndHandsBackNothing) {
  AddEntries({{"Albrecht Hugo", "1"}, {"Becker Carla", "2"}});
  const int result = RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    if (!r.Expect([&] { return OnGui([&] { return s.PhoneGrid->RowCount(); }) == 2; }, "two rows")) return;
    EXPECT_TRUE(OnGui([&] {
      s.SetRefreshPeriod(0);  // the click comes before the browser's next look
      return DeleteElsewhere(*ui_, "Albrecht Hugo");  // current in the browser
    }));
    Press(s.OKButton);
    if (!r.Expect([&] { return ui_->beeps == 1; }, "a beep")) return;
    EXPECT_NE(robot::FindVisible(nullptr, kBrowserTitle), nullptr);
    EXPECT_EQ(OnGui([&] { return s.PhoneGrid->RowCount(); }), 1);
    EXPECT_EQ(OnGui([&] { return s.ChosenName + "|" + s.ChosenPhone; }), "|");
    EXPECT_EQ(OnGui([&] { return s.PhoneTableNAME->AsString(); }), "Becker Carla");
    EXPECT_EQ(FocusedRow(s.PhoneGrid), 0);
    Press(s.OKButton);  // the entry current now is there: it is handed back
  });
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(ui_->beeps, 1);
  EXPECT_EQ(screen_->ChosenName, "Becker Carla");
  EXPECT_EQ(screen_->ChosenPhone, "2");
}

// Letters typed after the user did something else (a key that moves, or the focus
// leaving the grid, as around a question box) start a new search, however soon they
// come. The focus change is sent to the grid itself: tests beside this one may hold
// the active window.
TEST_F(PhoneBookWinTest, TypeAheadStartsAfreshAfterAMoveOrTheFocusLeftTheGrid) {
  AddEntries({{"Albrecht Hugo", "1"}, {"Becker Carla", "2"}, {"Keller Anna", "3"}});
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    TDBGrid* grid = s.PhoneGrid;
    auto current = [&] { return OnGui([&] { return s.PhoneTableNAME->AsString(); }); };
    auto type = [&](const char* text) {
      for (const char* c = text; *c != '\0'; ++c) PostMessageA(grid->Handle(), WM_CHAR, *c, 1);
    };
    if (!r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 3; }, "three rows")) return;
    type("ke");
    if (!r.Expect([&] { return current() == "Keller Anna"; }, "Keller Anna")) return;
    PostMessageA(grid->Handle(), WM_KEYDOWN, VK_END, 1);  // already the last row: stays
    type("al");
    if (!r.Expect([&] { return current() == "Albrecht Hugo"; }, "Albrecht Hugo after End")) return;
    OnGui([&] { return SendMessageA(grid->Handle(), WM_KILLFOCUS, 0, 0); });
    type("be");
    if (!r.Expect([&] { return current() == "Becker Carla"; }, "Becker Carla after the focus left")) return;
    Press(s.Cancelbutton);
  });
}

TEST_F(PhoneBookWinTest, TypeAheadSelectsAnEntryAnotherProgramAddedSinceTheListWasRead) {
  AddEntries({{"Albrecht Hugo", "1"}, {"Keller Anna", "3"}});
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    TDBGrid* grid = s.PhoneGrid;
    if (!r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 2; }, "two rows")) return;
    OnGui([&] {
      s.SetRefreshPeriod(0);  // the letters come before the browser's next look
      return 0;
    });
    EXPECT_EQ(ImportWithDbfTool("Bauer Max,7\r\n"), 0u);
    PostMessageA(grid->Handle(), WM_CHAR, 'b', 1);
    PostMessageA(grid->Handle(), WM_CHAR, 'a', 1);
    if (!r.Expect([&] { return OnGui([&] { return s.PhoneTableNAME->AsString(); }) == "Bauer Max"; }, "Bauer Max"))
      return;
    if (!r.Expect([&] { return FocusedRow(grid) == 1; }, "Bauer Max's row focused")) return;
    EXPECT_EQ(OnGui([&] { return grid->RowCount(); }), 3);
    EXPECT_EQ(CellText(grid, 1, 1), "Bauer Max");
    Press(s.Cancelbutton);
  });
}

// A change of the browser's own (a durable write, which takes a while) leaves the
// grid to read its rows when idle: letters typed before then are not lost.
TEST_F(PhoneBookWinTest, TypeAheadRightAfterAChangeFindsInTheRowsReadThen) {
  AddEntries({{"Albrecht Hugo", "1"}, {"Keller Anna", "3"}});
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    TDBGrid* grid = s.PhoneGrid;
    if (!r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 2; }, "two rows")) return;
    OnGui([&] {
      s.PhoneTable.Append();
      s.PhoneTableNAME->SetAsString("Becker Carla");
      s.PhoneTable.Post();
      SendMessageA(grid->Handle(), WM_CHAR, 'k', 1);  // before the rows are read again
      return 0;
    });
    EXPECT_EQ(OnGui([&] { return s.PhoneTableNAME->AsString(); }), "Keller Anna");
    EXPECT_EQ(FocusedRow(grid), 2);
    EXPECT_EQ(OnGui([&] { return grid->RowCount(); }), 3);
    Press(s.Cancelbutton);
  });
}

TEST_F(PhoneBookWinTest, ActivatingTheBrowserShowsWhatOtherProgramsChangedMeanwhile) {
  AddEntries({{"Albrecht Hugo", "1"}, {"Becker Carla", "2"}});
  vz::win::OwnedWindow elsewhere;
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    if (!r.Expect([&] { return OnGui([&] { return s.PhoneGrid->RowCount(); }) == 2; }, "two rows")) return;
    EXPECT_TRUE(OnGui([&] {
      s.SetRefreshPeriod(0);
      elsewhere.Reset(CreateWindowExA(0, "STATIC", "Elsewhere", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                                      nullptr, GetModuleHandleA(nullptr), nullptr));
      SetActiveWindow(elsewhere.Get());
      return DeleteElsewhere(*ui_, "Becker Carla");
    }));
    EXPECT_EQ(OnGui([&] { return s.PhoneGrid->RowCount(); }), 2);  // nothing looked yet
    OnGui([&] { return SetActiveWindow(s.Handle()); });
    if (!r.Expect([&] { return OnGui([&] { return s.PhoneGrid->RowCount(); }) == 1; }, "the refreshed list")) return;
    EXPECT_EQ(CellText(s.PhoneGrid, 0, 1), "Albrecht Hugo");
    Press(s.Cancelbutton);
  });
}

// The entry goes while its editor is open: neither it nor the entry that becomes
// current when the browser looks again is written.
TEST_F(PhoneBookWinTest, AnEntryDeletedElsewhereWhileItsEditorIsOpenIsNotWrittenNorIsItsNeighbour) {
  AddEntries({{"Albrecht Hugo", "1"}, {"Becker Carla", "2"}});
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    if (!r.Expect([&] { return OnGui([&] { return s.PhoneGrid->RowCount(); }) == 2; }, "two rows")) return;
    Press(s.Modifybutton);
    if (WaitEditor(r) == nullptr) return;
    EXPECT_TRUE(OnGui([&] { return DeleteElsewhere(*ui_, "Albrecht Hugo"); }));
    FillEditor(r, "Albrecht Hugo", "999", true);
    if (!r.Expect([&] { return ui_->beeps == 1; }, "a beep")) return;
    EXPECT_EQ(OnGui([&] { return s.PhoneGrid->RowCount(); }), 1);
    EXPECT_EQ(OnGui([&] { return s.PhoneTableNAME->AsString(); }), "Becker Carla");
    Press(s.Cancelbutton);
  });
  EXPECT_EQ(StoredEntries(), std::vector<std::string>{"Becker Carla|2"});
}

namespace {

// Runs `send` on the GUI thread with Ctrl held as that thread sees it (the ListView
// asks GetKeyState).
void WithCtrlHeld(const std::function<void()>& send) {
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  const BYTE ctrl = keys[VK_CONTROL];
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  send();
  keys[VK_CONTROL] = ctrl;
  SetKeyboardState(keys);
}

}  // namespace

// The ListView has a selection of its own; the grid's current row is what Accept
// takes. After a new entry, and whatever the ListView is given to handle itself,
// exactly one row is selected: the current one.
TEST_F(PhoneBookWinTest, ExactlyTheCurrentRowIsSelectedAfterNewAndWhateverTheListViewHandles) {
  AddEntries({{"Adams Al", "1"}, {"Baker Bo", "2"}, {"Cole Cy", "3"}, {"Dunn Di", "4"}});
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    TDBGrid* grid = s.PhoneGrid;
    auto current = [&] { return OnGui([&] { return s.PhoneTableNAME->AsString(); }); };
    auto currentRow = [&] { return OnGui([&] { return grid->CurrentRow(); }); };
    if (!r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 4; }, "four rows")) return;
    OnGui([&] {
      s.SetRefreshPeriod(0);
      return SetForegroundWindow(s.Handle());
    });
    if (!r.Expect([&] { return GetForegroundWindow() == s.Handle(); }, "the browser in front")) return;
    PostMessageA(grid->Handle(), WM_KEYDOWN, VK_DOWN, 1);
    PostMessageA(grid->Handle(), WM_KEYDOWN, VK_DOWN, 1);
    if (!r.Expect([&] { return current() == "Cole Cy"; }, "Cole Cy current")) return;
    // New, a name, Enter: the new entry sorts before the row that was current.
    robot::AltLetter('N');
    HWND editor = WaitEditor(r);
    if (editor == nullptr) return;
    SendGui(GetDlgItem(editor, IDC_PB_NAME), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Ames Ann"));
    if (!r.Expect([&] { return GetForegroundWindow() == editor; }, "the editor in front")) return;
    robot::Key(VK_RETURN, false);
    robot::Key(VK_RETURN, true);
    if (!r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 5; }, "five rows")) return;
    if (!r.Expect([&] { return current() == "Ames Ann"; }, "the new entry current")) return;
    EXPECT_EQ(SelectedRows(grid), std::vector<int>{1});
    EXPECT_EQ(SendGui(grid->Handle(), LVM_GETSELECTEDCOUNT, 0, 0), 1);
    EXPECT_EQ(CellText(grid, 1, 1), "Ames Ann");

    // Ctrl+Space is the ListView's own: it would take the selection off the row.
    OnGui([&] {
      WithCtrlHeld([&] { SendMessageA(grid->Handle(), WM_KEYDOWN, VK_SPACE, 1); });
      return 0;
    });
    EXPECT_EQ(current(), "Ames Ann");
    EXPECT_EQ(SelectedRows(grid), std::vector<int>{1});

    // A Ctrl+click that comes while the grid waits to read its rows after a change
    // goes to the ListView, which selects the clicked row beside the others.
    RECT rowRect{};
    rowRect.left = LVIR_BOUNDS;
    SendGui(grid->Handle(), LVM_GETITEMRECT, 3, reinterpret_cast<LPARAM>(&rowRect));
    const LPARAM at = MAKELPARAM((rowRect.left + rowRect.right) / 2, (rowRect.top + rowRect.bottom) / 2);
    OnGui([&] {
      s.PhoneTable.Append();
      s.PhoneTableNAME->SetAsString("Zeller Zoe");
      s.PhoneTable.Post();
      WithCtrlHeld([&] {
        SendMessageA(grid->Handle(), WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, at);
        SendMessageA(grid->Handle(), WM_LBUTTONUP, MK_CONTROL, at);
      });
      return 0;
    });
    if (!r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 6; }, "six rows")) return;
    const int row = currentRow();
    EXPECT_GE(row, 0);
    EXPECT_EQ(SelectedRows(grid), std::vector<int>{row});
    EXPECT_EQ(SendGui(grid->Handle(), LVM_GETSELECTEDCOUNT, 0, 0), 1);
    Press(s.Cancelbutton);
  });
}

// ---- contact files dropped on the browser ----

namespace {

// Drops files on a window as Explorer does: a DROPFILES block in global memory with
// the ANSI names one after another and an empty one at the end, posted in
// WM_DROPFILES; the window that takes it frees it with DragFinish.
bool DropFiles(HWND wnd, const std::vector<std::string>& paths) {
  std::string names;
  for (const auto& path : paths) names += path + '\0';
  names += '\0';
  HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + names.size());
  if (memory == nullptr) return false;
  auto* block = static_cast<DROPFILES*>(GlobalLock(memory));
  block->pFiles = sizeof(DROPFILES);
  block->pt = POINT{40, 60};
  block->fNC = FALSE;
  block->fWide = FALSE;
  std::memcpy(reinterpret_cast<char*>(block) + sizeof(DROPFILES), names.data(), names.size());
  GlobalUnlock(memory);
  if (PostMessageA(wnd, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0)) return true;
  GlobalFree(memory);
  return false;
}

// The grid's rows as "name|number", read from the robot thread.
std::vector<std::string> ShownRows(TDBGrid* grid) {
  std::vector<std::string> shown;
  const int rows = OnGui([&] { return grid->RowCount(); });
  for (int row = 0; row < rows; ++row) shown.push_back(CellText(grid, row, 1) + "|" + CellText(grid, row, 2));
  return shown;
}

// Four cards: one new, one without a fax number, one already in the phone book, one
// whose name Windows-1252 cannot hold (U+014D), then one more new. Zeller Paul comes
// first in the file, so he is the first entry added though not the first in the list.
constexpr const char* kTeamCards =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Zeller Paul\r\nTEL;TYPE=WORK,FAX:+49 89 3\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Becker Carla\r\nTEL;TYPE=CELL:+49 171 4\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Keller Anna\r\nTEL;TYPE=FAX:+49 30 1\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:D\xC5\x8D Minh\r\nTEL;TYPE=FAX:+84 24 5\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Adler;Eva;;;\r\nTEL;TYPE=HOME,FAX:+49 40 2\r\nEND:VCARD\r\n";

constexpr const char* kTeamQuestion =
    "Import 2 entries from team.vcf into the phone book?\n\n"
    "1 without a fax number and 1 already in the phone book are left out.\n"
    "1 could not be read (a character this computer cannot show).";

}  // namespace

class PhoneBookDropTest : public PhoneBookWinTest {
 protected:
  std::string WriteContacts(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "\\" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return "<cannot write " + path + ">";
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
  }
  // Drops the files on the browser and waits for the box with this caption; its text.
  static std::string DropAndRead(robot::Robot& r, TMainScreen& s, const std::vector<std::string>& paths,
                                 const char* caption, HWND& box) {
    box = nullptr;
    if (!DropFiles(s.Handle(), paths)) return "<not dropped>";
    box = r.WaitForWindow("#32770", caption);
    return box != nullptr ? BoxText(box) : "<no box>";
  }
  static void Answer(robot::Robot& r, HWND box, int button, const char* caption) {
    PostMessageA(GetDlgItem(box, button), BM_CLICK, 0, 0);
    r.Expect([caption] { return FindBox(caption) == nullptr; }, std::string("the box ") + caption + " to close");
  }
};

TEST_F(PhoneBookDropTest, AVCardFileDroppedAsksAndYesAddsTheEntriesWithTheFirstAddedCurrent) {
  AddEntries({{"Keller Anna", "+49 30 1"}});
  const std::string file = WriteContacts("team.vcf", kTeamCards);
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    TDBGrid* grid = s.PhoneGrid;
    if (!r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 1; }, "one row")) return;
    HWND box = nullptr;
    EXPECT_EQ(DropAndRead(r, s, {file}, "Import", box), kTeamQuestion);
    if (box == nullptr) return;
    EXPECT_EQ(GetWindowLongA(GetDlgItem(box, IDYES), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    Answer(r, box, IDYES, "Import");
    if (!r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 3; }, "three rows")) return;
    EXPECT_EQ(ShownRows(grid), (std::vector<std::string>{"Adler, Eva|+49 40 2", "Keller Anna|+49 30 1",
                                                         "Zeller Paul|+49 89 3"}));
    EXPECT_EQ(OnGui([&] { return s.PhoneTableNAME->AsString(); }), "Zeller Paul");
    EXPECT_EQ(FocusedRow(grid), 2);
    EXPECT_EQ(SelectedRows(grid), std::vector<int>{2});
    EXPECT_TRUE(Enabled(s.Modifybutton));
    Press(s.Cancelbutton);
  });
  EXPECT_EQ(StoredEntries(), (std::vector<std::string>{"Adler, Eva|+49 40 2", "Keller Anna|+49 30 1",
                                                        "Zeller Paul|+49 89 3"}));
}

TEST_F(PhoneBookDropTest, NoToTheQuestionChangesNothing) {
  AddEntries({{"Keller Anna", "+49 30 1"}});
  const std::string file = WriteContacts("team.vcf", kTeamCards);
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    TDBGrid* grid = s.PhoneGrid;
    if (!r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 1; }, "one row")) return;
    HWND box = nullptr;
    EXPECT_EQ(DropAndRead(r, s, {file}, "Import", box), kTeamQuestion);
    if (box == nullptr) return;
    Answer(r, box, IDNO, "Import");
    // A look at the phone book would show an import: the browser looks on activation.
    OnGui([&] { return s.FollowOtherChanges(); });
    EXPECT_EQ(ShownRows(grid), std::vector<std::string>{"Keller Anna|+49 30 1"});
    Press(s.Cancelbutton);
  });
  EXPECT_EQ(StoredEntries(), std::vector<std::string>{"Keller Anna|+49 30 1"});
}

// A file with nothing new, one that is not contacts, and other files: each only says
// so, and the phone book stays as it was.
TEST_F(PhoneBookDropTest, NothingNewAnUnreadableFileOrNoContactFilesOnlyInform) {
  AddEntries({{"Keller Anna", "+49 30 1"}});
  const std::string old = WriteContacts("old.csv", "Keller Anna,+49 30 1\r\nBecker Carla,\r\n");
  const std::string broken = WriteContacts("broken.csv", "Adler Eva,1\r\n\"Zeller Paul,3\r\n");
  const std::string photo = WriteContacts("photo.jpg", "\xFF\xD8\xFF\xE0");
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    HWND box = nullptr;
    EXPECT_EQ(DropAndRead(r, s, {old, photo}, "Information", box),
              "There is nothing to import from old.csv.\n\n"
              "1 without a fax number and 1 already in the phone book are left out.");
    if (box == nullptr) return;
    Answer(r, box, IDOK, "Information");
    EXPECT_EQ(DropAndRead(r, s, {old, broken}, "Information", box),
              "broken.csv cannot be read as contacts (line 2: a quoted field is not closed). Nothing was imported.");
    if (box == nullptr) return;
    Answer(r, box, IDOK, "Information");
    EXPECT_EQ(DropAndRead(r, s, {photo}, "Information", box),
              "The phone book imports contacts from .csv, .vcf and .txt files only.");
    if (box == nullptr) return;
    Answer(r, box, IDOK, "Information");
    EXPECT_EQ(FindBox("Import"), nullptr);
    Press(s.Cancelbutton);
  });
  EXPECT_EQ(StoredEntries(), std::vector<std::string>{"Keller Anna|+49 30 1"});
}

// Two files are one import: the question names both, an entry in both is added once.
TEST_F(PhoneBookDropTest, SeveralFilesAreImportedAsOne) {
  const std::string cards = WriteContacts("team.vcf", kTeamCards);
  const std::string sheet = WriteContacts("office.txt", "Name\tFax\r\nAdler, Eva\t+49 40 2\r\nBauer Ida\t7\r\n");
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    HWND box = nullptr;
    EXPECT_EQ(DropAndRead(r, s, {cards, sheet}, "Import", box),
              "Import 4 entries from team.vcf and office.txt into the phone book?\n\n"
              "1 without a fax number and 1 already in the phone book are left out.\n"
              "1 could not be read (a character this computer cannot show).");
    if (box == nullptr) return;
    Answer(r, box, IDYES, "Import");
    if (!r.Expect([&] { return OnGui([&] { return s.PhoneGrid->RowCount(); }) == 4; }, "four rows")) return;
    EXPECT_EQ(OnGui([&] { return s.PhoneTableNAME->AsString(); }), "Zeller Paul");
    Press(s.Cancelbutton);
  });
  EXPECT_EQ(StoredEntries(), (std::vector<std::string>{"Adler, Eva|+49 40 2", "Bauer Ida|7", "Keller Anna|+49 30 1",
                                                        "Zeller Paul|+49 89 3"}));
}

// The disk refuses the import's first write into an empty phone book: a few entries
// go in whole or not at all, so the error box says none went in, and none is shown.
TEST_F(PhoneBookDropTest, AnImportThatStopsSaysHowManyWereAdded) {
  const std::string file = WriteContacts("team.vcf", kTeamCards);
  vz::db::FaultFileSystem fault(vz::db::HostFileSystem());
  dbe_SetFileSystem(&fault);
  RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    dbe_SetFileSystem(nullptr);
    HWND box = nullptr;
    DropAndRead(r, s, {file}, "Import", box);
    if (box == nullptr) return;
    OnGui([&] {
      fault.SetPlan({1, 0, 0, false});
      return 0;
    });
    Answer(r, box, IDYES, "Import");
    box = r.WaitForWindow("#32770", kAppTitle);
    if (box == nullptr) return;
    // The first write marks the index as being updated, before any record.
    EXPECT_EQ(BoxText(box), "The import stopped before adding any entry: cannot write " + dir_ +
                                "\\VZPB.CDX: injected fault\n\nDropping the files again adds them.");
    Answer(r, box, IDOK, kAppTitle);
    EXPECT_EQ(ShownRows(s.PhoneGrid), std::vector<std::string>{});
    Press(s.Cancelbutton);
  });
  EXPECT_EQ(StoredEntries(), std::vector<std::string>{});
}

// ---- several entries picked at once ----

namespace {

// Six entries, written in reverse so that their record numbers run against name order.
const std::vector<std::pair<std::string, std::string>> kSixEntries = {
    {"Fox Fay", "+1 555 0106"}, {"Eames Ed", "+1 555 0105"}, {"Dunn Di", "+1 555 0104"},
    {"Cole Cy", "+1 555 0103"}, {"Baker Bo", "+1 555 0102"}, {"Adams Al", "+1 555 0101"}};

// The rows the ListView reports LVIS_SELECTED, asked row by row.
std::vector<int> RowsInSelectedState(TDBGrid* grid) {
  std::vector<int> rows;
  const int count = static_cast<int>(SendGui(grid->Handle(), LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count; ++row)
    if (SendGui(grid->Handle(), LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED)
      rows.push_back(row);
  return rows;
}

// A click on the middle of a row as the window gets it, with the keys held given in
// the mouse flags (MK_CONTROL, MK_SHIFT); twice for a double click, whose second
// half is posted, as it may end the browser.
void ClickRow(TDBGrid* grid, int row, WPARAM keys, bool twice = false) {
  RECT rect{};
  rect.left = LVIR_BOUNDS;
  SendGui(grid->Handle(), LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect));
  const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  SendGui(grid->Handle(), WM_LBUTTONDOWN, MK_LBUTTON | keys, at);
  SendGui(grid->Handle(), WM_LBUTTONUP, keys, at);
  if (!twice) return;
  PostMessageA(grid->Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON | keys, at);
  PostMessageA(grid->Handle(), WM_LBUTTONUP, keys, at);
}

// A moving key with Shift held as the GUI thread sees it (the grid asks GetKeyState).
void ShiftKey(TDBGrid* grid, WPARAM vk) {
  OnGui([&] {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    const BYTE shift = keys[VK_SHIFT];
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    SendMessageA(grid->Handle(), WM_KEYDOWN, vk, 1);
    keys[VK_SHIFT] = shift;
    SetKeyboardState(keys);
    return 0;
  });
}

// The browser up with its six entries, and no look for others' changes to move the
// rows under the clicks; nullptr (the failure reported) when they do not come.
TDBGrid* SixRowsHeldStill(robot::Robot& r, TMainScreen& s) {
  if (!r.WaitForWindow(nullptr, kBrowserTitle)) return nullptr;
  TDBGrid* grid = s.PhoneGrid;
  if (!r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 6; }, "six rows")) return nullptr;
  OnGui([&] {
    s.SetRefreshPeriod(0);
    return 0;
  });
  return grid;
}

}  // namespace

TEST_F(PhoneBookWinTest, CtrlClickedEntriesAreAllSelectedAndAcceptHandsThemBackJoinedInNameOrder) {
  AddEntries(kSixEntries);
  const int result = RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    TDBGrid* grid = SixRowsHeldStill(r, s);
    if (grid == nullptr) return;
    EXPECT_EQ(RowsInSelectedState(grid), std::vector<int>{0});
    ClickRow(grid, 4, MK_CONTROL);
    ClickRow(grid, 1, MK_CONTROL);
    ClickRow(grid, 2, MK_CONTROL);
    EXPECT_EQ(RowsInSelectedState(grid), (std::vector<int>{0, 1, 2, 4}));
    EXPECT_EQ(SelectedRows(grid), (std::vector<int>{0, 1, 2, 4}));
    // The last row clicked is current (what Edit and Delete act on).
    EXPECT_EQ(OnGui([&] { return s.PhoneTableNAME->AsString(); }), "Cole Cy");
    EXPECT_EQ(FocusedRow(grid), 2);
    // Ctrl+click on a picked row takes it out; it is current, but not picked.
    ClickRow(grid, 0, MK_CONTROL);
    EXPECT_EQ(RowsInSelectedState(grid), (std::vector<int>{1, 2, 4}));
    EXPECT_EQ(OnGui([&] { return s.PhoneTableNAME->AsString(); }), "Adams Al");
    EXPECT_EQ(FocusedRow(grid), 0);
    PostMessageA(grid->Handle(), WM_KEYDOWN, VK_RETURN, 1);
  });
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(screen_->ChosenName, "Baker Bo; Cole Cy; Eames Ed");
  EXPECT_EQ(screen_->ChosenPhone, "+1 555 0102; +1 555 0103; +1 555 0105");
}

TEST_F(PhoneBookWinTest, ShiftPicksFromTheAnchorAndAPlainClickOrKeyPicksOneAgain) {
  AddEntries(kSixEntries);
  const int result = RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    TDBGrid* grid = SixRowsHeldStill(r, s);
    if (grid == nullptr) return;
    ClickRow(grid, 1, 0);
    EXPECT_EQ(RowsInSelectedState(grid), std::vector<int>{1});
    ClickRow(grid, 4, MK_SHIFT);
    EXPECT_EQ(RowsInSelectedState(grid), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(FocusedRow(grid), 4);
    ClickRow(grid, 0, MK_SHIFT);  // upwards from the same anchor
    EXPECT_EQ(RowsInSelectedState(grid), (std::vector<int>{0, 1}));
    // A Ctrl+click moves the anchor; Shift with the moving keys extends from there.
    ClickRow(grid, 3, MK_CONTROL);
    EXPECT_EQ(RowsInSelectedState(grid), (std::vector<int>{0, 1, 3}));
    ShiftKey(grid, VK_DOWN);
    ShiftKey(grid, VK_DOWN);
    EXPECT_EQ(RowsInSelectedState(grid), (std::vector<int>{3, 4, 5}));
    EXPECT_EQ(OnGui([&] { return s.PhoneTableNAME->AsString(); }), "Fox Fay");
    ShiftKey(grid, VK_UP);
    EXPECT_EQ(RowsInSelectedState(grid), (std::vector<int>{3, 4}));
    ShiftKey(grid, VK_HOME);
    EXPECT_EQ(RowsInSelectedState(grid), (std::vector<int>{0, 1, 2, 3}));
    // A plain key and a plain click pick one row.
    PostMessageA(grid->Handle(), WM_KEYDOWN, VK_DOWN, 1);
    if (!r.Expect([&] { return RowsInSelectedState(grid) == std::vector<int>{1}; }, "row 1 alone")) return;
    ClickRow(grid, 4, MK_CONTROL);
    ClickRow(grid, 2, 0);
    EXPECT_EQ(RowsInSelectedState(grid), std::vector<int>{2});
    // A double click accepts the row it is on.
    ClickRow(grid, 5, 0, /*twice=*/true);
    r.Expect([] { return robot::FindVisible(nullptr, kBrowserTitle) == nullptr; }, "the browser to close");
  });
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(screen_->ChosenName, "Fox Fay");
  EXPECT_EQ(screen_->ChosenPhone, "+1 555 0106");
}

TEST_F(PhoneBookWinTest, PicksStayOnTheirEntriesWhenOthersChangeThePhoneBookAndDeletedOnesDropOut) {
  AddEntries(kSixEntries);
  const int result = RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    TDBGrid* grid = s.PhoneGrid;
    auto rows = [&] { return OnGui([&] { return grid->RowCount(); }); };
    if (!r.Expect([&] { return rows() == 6; }, "six rows")) return;
    ClickRow(grid, 1, 0);
    ClickRow(grid, 3, MK_CONTROL);
    ClickRow(grid, 5, MK_CONTROL);
    EXPECT_EQ(ImportWithDbfTool("Aaron Ab,+1 555 0100\r\n"), 0u);
    if (!r.Expect([&] { return rows() == 7; }, "the added row", kWithinPeriodMs)) return;
    EXPECT_EQ(RowsInSelectedState(grid), (std::vector<int>{2, 4, 6}));
    // The current and last picked entry goes: the others stay picked.
    EXPECT_TRUE(OnGui([&] { return DeleteElsewhere(*ui_, "Fox Fay"); }));
    if (!r.Expect([&] { return rows() == 6; }, "the deleted row to go", kWithinPeriodMs)) return;
    EXPECT_EQ(RowsInSelectedState(grid), (std::vector<int>{2, 4}));
    // A picked entry deleted just before Accept: nothing is handed back, a beep, and
    // the picks left show.
    OnGui([&] {
      s.SetRefreshPeriod(0);
      return DeleteElsewhere(*ui_, "Baker Bo");
    });
    Press(s.OKButton);
    if (!r.Expect([&] { return ui_->beeps == 1; }, "a beep")) return;
    EXPECT_EQ(RowsInSelectedState(grid), std::vector<int>{3});
    EXPECT_EQ(OnGui([&] { return s.ChosenName; }), "");
    Press(s.OKButton);
  });
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(screen_->ChosenName, "Dunn Di");
  EXPECT_EQ(screen_->ChosenPhone, "+1 555 0104");
}

TEST_F(PhoneBookWinTest, AcceptRefusesSeveralEntriesWhenOneHoldsASemicolonButHandsItBackAlone) {
  AddEntries({{"Roe; Jane", "+1 555 0200"}, {"Smith Sam", "+1 555 0300"}});
  const int result = RunBrowser([&](robot::Robot& r, TMainScreen& s) {
    if (!r.WaitForWindow(nullptr, kBrowserTitle)) return;
    TDBGrid* grid = s.PhoneGrid;
    if (!r.Expect([&] { return OnGui([&] { return grid->RowCount(); }) == 2; }, "two rows")) return;
    ClickRow(grid, 1, MK_CONTROL);
    Press(s.OKButton);
    if (!r.Expect([&] { return OnGui([&] { return ui_->infos.size(); }) == 1u; }, "the refusal")) return;
    EXPECT_EQ(OnGui([&] { return ui_->infos.front(); }),
              "The entry \"Roe; Jane\" (+1 555 0200) holds a \";\", which separates the recipients of a fax. "
              "Accept it alone, or change it first.");
    EXPECT_NE(robot::FindVisible(nullptr, kBrowserTitle), nullptr);
    ClickRow(grid, 0, 0);
    Press(s.OKButton);
  });
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(screen_->ChosenName, "Roe; Jane");
  EXPECT_EQ(screen_->ChosenPhone, "+1 555 0200");
}
