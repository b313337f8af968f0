// The tray icon on real windows under Wine: the shell's notifications are posted
// to the "TTrayIconMsgWindow" window as the shell would, and every shell call is
// recorded instead of reaching the notification area.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/win/toolkit/robot.hpp"
#include "toolkit/application.hpp"
#include "toolkit/exception.hpp"
#include "toolkit/forms.hpp"
#include "toolkit/menus.hpp"
#include "widgets/res/trayicons.hpp"
#include "widgets/trayicon.hpp"

#ifndef _WIN64
static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "the first notification record layout is 88 bytes on 32-bit Windows");
#endif

namespace {

TApplication& App() {
  static TApplication* app = [] {
    auto* a = new TApplication();
    a->SetTitle("Tray Icon Test");
    return a;
  }();
  return *app;
}


// The colour pixels of an icon, to tell which image a handle shows.
std::vector<std::uint32_t> IconBits(HICON icon) {
  ICONINFO info{};
  if (icon == nullptr || !GetIconInfo(icon, &info)) return {};
  BITMAP bm{};
  GetObjectA(info.hbmColor, sizeof(bm), &bm);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = bm.bmWidth;
  bi.bmiHeader.biHeight = -bm.bmHeight;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  std::vector<std::uint32_t> bits(static_cast<std::size_t>(bm.bmWidth) * static_cast<std::size_t>(bm.bmHeight));
  HDC dc = GetDC(nullptr);
  GetDIBits(dc, info.hbmColor, 0, static_cast<UINT>(bm.bmHeight), bits.data(), &bi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return bits;
}

std::vector<std::uint32_t> ResourceIconBits(const char* name) {
  return IconBits(LoadIconA(GetModuleHandleA(nullptr), name));
}

struct ShellCall {
  DWORD operation;
  NOTIFYICONDATAA data;
  // The image as it was at the call: the handle goes when the icon changes.
  std::vector<std::uint32_t> bits;
  std::string Tip() const { return data.szTip; }
};

class TrayIconTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    SetShellNotifyIconFunc([this](DWORD operation, const NOTIFYICONDATAA& data) {
      calls.push_back({operation, data, IconBits(data.hIcon)});
      return TRUE;
    });
    form = new TForm(&App());
    form->SetCaption("Tray Sample");
  }
  void TearDown() override {
    delete form;
    SetShellNotifyIconFunc(nullptr);
    // Leave no menu or box behind for the next test.
    robot::Pump(20);
  }

  TTrayIcon95* MakeIcon() {
    auto* icon = new TTrayIcon95(form);
    icon->Icon().LoadFromResourceName(GetModuleHandleA(nullptr), kTrayIconFax);
    return icon;
  }
  // Counts the icon's clicks (and double clicks when `doubles` is given), then activates it.
  static void CountClicks(TTrayIcon95* icon, int& clicks, int* doubles) {
    icon->OnClick = [&clicks](TComponent*) { ++clicks; };
    if (doubles != nullptr) icon->OnDblClick = [doubles](TComponent*) { ++*doubles; };
    icon->SetActive(true);
  }
  static HWND MsgWindow() { return FindWindowA("TTrayIconMsgWindow", nullptr); }
  // What the shell sends: the mouse message in lParam.
  static void Notify(UINT mouseMessage) { PostMessageA(MsgWindow(), 1124, 42, mouseMessage); }
  static bool PumpUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    const DWORD start = GetTickCount();
    while (!condition()) {
      if (GetTickCount() - start > static_cast<DWORD>(timeoutMs)) return false;
      App().ProcessMessages();
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
  }

  TForm* form = nullptr;
  std::vector<ShellCall> calls;
};

TEST_F(TrayIconTest, ActivationAddsTheFixedRecordOnceAndDeactivationDeletesIt) {
  TTrayIcon95* icon = MakeIcon();
  icon->SetHint("VelmorFAX NT Print To Fax");
  EXPECT_TRUE(calls.empty());
  icon->SetActive(true);
  icon->SetActive(true);
  ASSERT_EQ(calls.size(), 1u);
  const NOTIFYICONDATAA& d = calls[0].data;
  EXPECT_EQ(calls[0].operation, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(d.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE));
  EXPECT_EQ(d.hWnd, MsgWindow());
  EXPECT_NE(d.hWnd, nullptr);
  EXPECT_EQ(d.uID, 42u);
  EXPECT_EQ(d.uFlags, 7u);
  EXPECT_EQ(d.uCallbackMessage, 1124u);
  EXPECT_EQ(calls[0].Tip(), "VelmorFAX NT Print To Fax");
  EXPECT_EQ(IconBits(d.hIcon), ResourceIconBits("VZFAX"));
  icon->SetActive(false);
  icon->SetActive(false);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].operation, static_cast<DWORD>(NIM_DELETE));
  // Destroyed while active: the icon leaves the tray.
  icon->SetActive(true);
  delete icon;
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[3].operation, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(MsgWindow(), nullptr);
}

TEST_F(TrayIconTest, TipIsCutAt63AndEmptyWithoutShowHint) {
  TTrayIcon95* icon = MakeIcon();
  icon->SetActive(true);
  icon->SetHint(
      "0123456789abcdefghijABCDEFGHIJ0123456789abcdefghijABCDEFGHIJ0123456789abcdefghijABCDEFGHIJ0123456789");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].operation, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(calls[1].Tip(), "0123456789abcdefghijABCDEFGHIJ0123456789abcdefghijABCDEFGHIJ012");
  icon->SetShowHint(false);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2].Tip(), "");
  icon->SetHint("Another hint");
  EXPECT_EQ(calls.size(), 3u);
  EXPECT_EQ(icon->Tip(), "");
  icon->SetShowHint(true);
  EXPECT_EQ(calls.back().Tip(), "Another hint");
}

TEST_F(TrayIconTest, OwnerThatIsNotAFormRaises) {
  TComponent plain(nullptr);
  try {
    new TTrayIcon95(&plain);
    FAIL() << "no error raised";
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "TrayIcons must be owned by a Form !");
  }
  EXPECT_EQ(plain.ComponentCount(), 0u);
  EXPECT_EQ(MsgWindow(), nullptr);
}

TEST_F(TrayIconTest, FormLoadedWithActiveTrueAddsTheIconOnceWithItsLoadedProperties) {
  form->BeginLoading();
  auto* icon = new TTrayIcon95(form);
  icon->SetActive(true);
  icon->SetHint("Loaded hint");
  icon->SetState(tsDisabled);
  icon->DisabledIcon().LoadFromResourceName(GetModuleHandleA(nullptr), kTrayIconBusy2);
  icon->Icon().LoadFromResourceName(GetModuleHandleA(nullptr), kTrayIconFax);
  EXPECT_TRUE(calls.empty());
  form->EndLoading();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].operation, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(calls[0].Tip(), "Loaded hint");
  EXPECT_EQ(calls[0].bits, ResourceIconBits("VZBUSY2"));
  EXPECT_EQ(icon->State(), tsDisabled);
}

TEST_F(TrayIconTest, StateWhileInactiveDoesNothingUntilActivation) {
  TTrayIcon95* icon = MakeIcon();
  icon->DisabledIcon().LoadFromResourceName(GetModuleHandleA(nullptr), kTrayIconBusy1);
  int changing = 0;
  icon->OnStateChanging = [&](TComponent*, TTrayIconState&) { ++changing; };
  icon->SetState(tsDisabled);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(changing, 0);
  EXPECT_EQ(icon->DisplayedIcon().Handle(), nullptr);
  icon->SetActive(true);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].bits, ResourceIconBits("VZBUSY1"));
}

TEST_F(TrayIconTest, StateChangingHandlerCanCancelOrRedirectTheChange) {
  TTrayIcon95* icon = MakeIcon();
  icon->DisabledIcon().LoadFromResourceName(GetModuleHandleA(nullptr), kTrayIconBusy1);
  icon->SetActive(true);
  icon->OnStateChanging = [&](TComponent* sender, TTrayIconState& newState) {
    EXPECT_EQ(sender, icon);
    newState = icon->State();
  };
  icon->SetState(tsDisabled);
  EXPECT_EQ(icon->State(), tsEnabled);
  EXPECT_EQ(calls.size(), 1u);
  icon->OnStateChanging = [](TComponent*, TTrayIconState& newState) { newState = tsDisabled; };
  icon->SetState(tsAnimated);
  EXPECT_EQ(icon->State(), tsDisabled);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].bits, ResourceIconBits("VZBUSY1"));
}

TEST_F(TrayIconTest, SettingStateInsideOnStateChangingRaisesAndLeavesTheFlagClear) {
  TTrayIcon95* icon = MakeIcon();
  icon->SetActive(true);
  icon->OnStateChanging = [&](TComponent*, TTrayIconState&) { icon->SetState(tsAnimated); };
  try {
    icon->SetState(tsDisabled);
    FAIL() << "no error raised";
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "You cannot modify the state property in the OnStateChanging event !!!");
  }
  EXPECT_EQ(icon->State(), tsEnabled);
  // The flag is clear again: outside the handler State can be set.
  icon->OnStateChanging = nullptr;
  icon->SetState(tsDisabled);
  EXPECT_EQ(icon->State(), tsDisabled);
  // A handler that fails some other way leaves the flag clear too.
  icon->OnStateChanging = [](TComponent*, TTrayIconState&) { throw Exception("handler failed"); };
  EXPECT_THROW(icon->SetState(tsEnabled), Exception);
  icon->OnStateChanging = nullptr;
  icon->SetState(tsEnabled);
  EXPECT_EQ(icon->State(), tsEnabled);
}

TEST_F(TrayIconTest, AnimationShowsTheFramesFromTheProgramsIconResources) {
  TTrayIcon95* icon = MakeIcon();
  icon->Animation().SetOptions(aoIconsInExe);
  icon->Animation().SetIcons({"vzbusy1", "vzbusy2", "vzbusy3"});
  icon->Animation().SetInterval(100);
  int fired = 0;
  icon->OnAnimation = [&](TComponent* sender) {
    EXPECT_EQ(sender, icon);
    ++fired;
  };
  icon->SetActive(true);
  icon->SetState(tsAnimated);
  EXPECT_TRUE(icon->Timers()->TimerRunning());
  ASSERT_TRUE(PumpUntil([&] { return fired >= 4; }));
  icon->SetState(tsEnabled);
  EXPECT_FALSE(icon->Timers()->TimerRunning());
  // The add; frame 0 from the state change and again from the animation's first
  // step; then frames 1, 2, 0 at the timer.
  ASSERT_GE(calls.size(), 6u);
  EXPECT_EQ(calls[1].bits, ResourceIconBits("VZBUSY1"));
  EXPECT_EQ(calls[2].bits, ResourceIconBits("VZBUSY1"));
  EXPECT_EQ(calls[3].bits, ResourceIconBits("VZBUSY2"));
  EXPECT_EQ(calls[4].bits, ResourceIconBits("VZBUSY3"));
  EXPECT_EQ(calls[5].bits, ResourceIconBits("VZBUSY1"));
  EXPECT_EQ(calls.back().bits, ResourceIconBits("VZFAX"));
}

// The icons drawn by the build, through Wine's drive for the Linux root.
std::string DrawnIcon(const std::string& file) {
  std::string path = std::string("Z:") + VZ_TRAY_ICON_DIR + "/" + file;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

TEST_F(TrayIconTest, IconFilesLoadAndOnesThatCannotBeOpenedRaiseTheFileError) {
  TIcon image;
  EXPECT_THROW(image.LoadFromFile("C:\\no such folder\\frame.ico"), EFOpenError);
  EXPECT_TRUE(image.Empty());
  const std::string notAnIcon = "C:\\windows\\temp\\not an icon.ico";
  HANDLE file = CreateFileA(notAnIcon.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, "plain text", 10, &written, nullptr);
  CloseHandle(file);
  try {
    image.LoadFromFile(notAnIcon);
    ADD_FAILURE() << "no error raised";
  } catch (const EFOpenError&) {
    ADD_FAILURE() << "an existing file counts as not opened";
  } catch (const Exception&) {
  }
  DeleteFileA(notAnIcon.c_str());
  image.LoadFromFile(DrawnIcon("busy3.ico"));
  EXPECT_EQ(IconBits(image.Handle()), ResourceIconBits("VZBUSY3"));
}

TEST_F(TrayIconTest, AnimationFromFilesSkipsAFrameThatCannotBeOpened) {
  TTrayIcon95* icon = MakeIcon();
  icon->Animation().SetIcons({DrawnIcon("busy1.ico"), "C:\\no such folder\\frame.ico", DrawnIcon("busy3.ico")});
  icon->SetActive(true);
  icon->SetState(tsAnimated);
  EXPECT_EQ(icon->Animation().CurrentFrame(), 1);
  EXPECT_EQ(calls.back().bits, ResourceIconBits("VZBUSY1"));
  icon->Animation().Step();
  // The missing frame leaves the image as it was, and the cycle goes on.
  EXPECT_EQ(icon->Animation().CurrentFrame(), 2);
  EXPECT_EQ(calls.back().bits, ResourceIconBits("VZBUSY1"));
  icon->Animation().Step();
  EXPECT_EQ(icon->Animation().CurrentFrame(), 0);
  EXPECT_EQ(calls.back().bits, ResourceIconBits("VZBUSY3"));
}

TEST_F(TrayIconTest, RightButtonWithAutoPopupPopsTheMenuAndChoosingRunsTheItem) {
  TTrayIcon95* icon = MakeIcon();
  auto* menu = new TPopupMenu(form);
  std::atomic<int> chosen{0};
  menu->Add("Close", [&](TComponent*) { chosen = 1; });
  menu->Add("About", [&](TComponent*) { chosen = 2; });
  menu->Add("Start VelmorFAX", [&](TComponent*) { chosen = 3; });
  icon->SetPopupMenu(menu);
  icon->SetAutoPopup(true);
  int clicks = 0;
  icon->OnClick = [&](TComponent*) { ++clicks; };
  icon->SetActive(true);
  SetCursorPos(300, 200);
  HWND msgWindow = MsgWindow();
  robot::Robot r([msgWindow](robot::Robot& self) {
    PostMessageA(msgWindow, 1124, 42, WM_MOUSEMOVE);
    PostMessageA(msgWindow, 1124, 42, WM_RBUTTONDOWN);
    HWND popup = self.WaitForWindow("#32768", nullptr);
    if (popup == nullptr) return;
    RECT at{};
    GetWindowRect(popup, &at);
    if (at.left != 300 || at.top != 200) self.Fail("menu not at the cursor");
    PostMessageA(popup, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(popup, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(popup, WM_KEYDOWN, VK_RETURN, 0);
    self.Expect([] { return robot::FindVisible("#32768", nullptr) == nullptr; }, "the menu to close");
  }, [] { EndMenu(); });
  r.PumpUntilDone();
  EXPECT_TRUE(r.Ok()) << r.Failure();
  EXPECT_EQ(chosen, 2);
  EXPECT_EQ(menu->PopupComponent(), icon);
  robot::Pump(50);
  EXPECT_EQ(clicks, 0);
}

TEST_F(TrayIconTest, RightButtonWithoutAutoPopupIsAClick) {
  TTrayIcon95* icon = MakeIcon();
  icon->SetPopupMenu(new TPopupMenu(form));
  int clicks = 0;
  icon->OnClick = [&](TComponent* sender) {
    EXPECT_EQ(sender, icon);
    ++clicks;
  };
  icon->SetActive(true);
  Notify(WM_RBUTTONDOWN);
  ASSERT_TRUE(PumpUntil([&] { return clicks == 1; }));
  EXPECT_EQ(icon->MsgWindow()->LastButton(), mbRight);
  EXPECT_EQ(robot::FindVisible("#32768", nullptr), nullptr);
}

TEST_F(TrayIconTest, WithOnDblClickADoubleClickFiresOnlyOnDblClick) {
  TTrayIcon95* icon = MakeIcon();
  int clicks = 0, doubles = 0;
  CountClicks(icon, clicks, &doubles);
  Notify(WM_LBUTTONDOWN);
  Notify(WM_LBUTTONUP);
  Notify(WM_LBUTTONDBLCLK);
  ASSERT_TRUE(PumpUntil([&] { return doubles == 1; }));
  // No click is waiting any more.
  EXPECT_FALSE(icon->MsgWindow()->ClickTimer()->Enabled());
  EXPECT_FALSE(icon->Timers()->TimerRunning());
  EXPECT_EQ(clicks, 0);
  // The next single press is a click again, once the double-click delay has passed.
  const DWORD pressed = GetTickCount();
  Notify(WM_LBUTTONDOWN);
  ASSERT_TRUE(PumpUntil([&] { return clicks == 1; }));
  EXPECT_GE(GetTickCount() - pressed, 400u);
  EXPECT_EQ(doubles, 1);
}

// A program that acts on the left button's double click alone can tell which it was.
TEST_F(TrayIconTest, ADoubleClickIsReportedWithItsButton) {
  TTrayIcon95* icon = MakeIcon();
  int clicks = 0, doubles = 0;
  CountClicks(icon, clicks, &doubles);
  std::vector<TMouseButton> buttons;
  icon->OnDblClick = [&](TComponent*) { buttons.push_back(icon->MsgWindow()->LastButton()); };
  Notify(WM_LBUTTONDOWN);
  Notify(WM_RBUTTONDBLCLK);
  Notify(WM_MBUTTONDBLCLK);
  Notify(WM_LBUTTONDBLCLK);
  ASSERT_TRUE(PumpUntil([&] { return buttons.size() == 3; }));
  EXPECT_EQ(buttons, (std::vector<TMouseButton>{mbRight, mbMiddle, mbLeft}));
  EXPECT_EQ(clicks, 0);
}

TEST_F(TrayIconTest, TwoPressesASecondApartAreTwoClicks) {
  TTrayIcon95* icon = MakeIcon();
  int clicks = 0, doubles = 0;
  CountClicks(icon, clicks, &doubles);
  Notify(WM_LBUTTONDOWN);
  ASSERT_TRUE(PumpUntil([&] { return clicks == 1; }));
  const DWORD first = GetTickCount();
  ASSERT_TRUE(PumpUntil([&] { return GetTickCount() - first >= 1000; }));
  Notify(WM_LBUTTONDOWN);
  ASSERT_TRUE(PumpUntil([&] { return clicks == 2; }));
  EXPECT_EQ(doubles, 0);
}

TEST_F(TrayIconTest, WithoutOnDblClickEachPressIsAClickAndTheDoubleClickAddsNone) {
  TTrayIcon95* icon = MakeIcon();
  int clicks = 0;
  CountClicks(icon, clicks, nullptr);
  Notify(WM_LBUTTONDOWN);
  ASSERT_TRUE(PumpUntil([&] { return clicks == 1; }));
  EXPECT_FALSE(icon->Timers()->TimerRunning());
  Notify(WM_LBUTTONDBLCLK);
  Notify(WM_MBUTTONDOWN);
  ASSERT_TRUE(PumpUntil([&] { return clicks == 2; }));
  EXPECT_EQ(icon->MsgWindow()->LastButton(), mbMiddle);
}

TEST_F(TrayIconTest, MouseEnterMoveAndExitFollowTheCursor) {
  TTrayIcon95* icon = MakeIcon();
  struct Event {
    char kind;
    int x, y;
  };
  std::vector<Event> events;
  icon->OnMouseEnter = [&](TComponent*, TShiftState, int x, int y) { events.push_back({'E', x, y}); };
  icon->OnMouseMove = [&](TComponent*, TShiftState, int x, int y) { events.push_back({'M', x, y}); };
  icon->OnMouseExit = [&](TComponent*, TShiftState, int x, int y) { events.push_back({'X', x, y}); };
  icon->SetActive(true);
  SetCursorPos(100, 100);
  Notify(WM_MOUSEMOVE);
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 1; }));
  EXPECT_EQ(events[0].kind, 'E');
  EXPECT_EQ(events[0].x, 100);
  EXPECT_EQ(events[0].y, 100);
  EXPECT_TRUE(icon->MsgWindow()->ExitTimer()->Enabled());
  SetCursorPos(101, 102);
  Notify(WM_MOUSEMOVE);
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 2; }));
  EXPECT_EQ(events[1].kind, 'M');
  EXPECT_EQ(events[1].x, 101);
  EXPECT_EQ(events[1].y, 102);
  // Within 2 pixels of the last position the poll keeps the mouse inside.
  SetCursorPos(103, 100);
  TTimerItem* poll = icon->MsgWindow()->ExitTimer();
  const std::uint32_t before = poll->LastFired();
  ASSERT_TRUE(PumpUntil([&] { return poll->LastFired() != before; }));
  EXPECT_EQ(events.size(), 2u);
  EXPECT_TRUE(icon->MsgWindow()->MouseInside());
  // Three pixels away: the mouse has left, reported at its last known position.
  SetCursorPos(104, 102);
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 3; }));
  EXPECT_EQ(events[2].kind, 'X');
  EXPECT_EQ(events[2].x, 101);
  EXPECT_EQ(events[2].y, 102);
  EXPECT_FALSE(icon->MsgWindow()->MouseInside());
  EXPECT_FALSE(poll->Enabled());
  EXPECT_FALSE(icon->Timers()->TimerRunning());
}

TEST_F(TrayIconTest, SessionEndRemovesTheIconAndShellRestartAddsItAgain) {
  TTrayIcon95* icon = MakeIcon();
  icon->SetActive(true);
  const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
  SendMessageA(MsgWindow(), taskbarCreated, 0, 0);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].operation, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(calls[1].data.hIcon, calls[0].data.hIcon);
  EXPECT_EQ(SendMessageA(MsgWindow(), WM_QUERYENDSESSION, 0, 0), 1);
  SendMessageA(MsgWindow(), WM_ENDSESSION, 0, 0);
  EXPECT_TRUE(icon->Active());
  SendMessageA(MsgWindow(), WM_ENDSESSION, 1, 0);
  EXPECT_FALSE(icon->Active());
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2].operation, static_cast<DWORD>(NIM_DELETE));
  // Inactive: a shell restart adds nothing.
  SendMessageA(MsgWindow(), taskbarCreated, 0, 0);
  EXPECT_EQ(calls.size(), 3u);
}

TEST_F(TrayIconTest, MinimiseHidesIntoTheTrayAndRestoreBringsTheMainFormBack) {
  TTrayIcon95* icon = MakeIcon();
  icon->SetActive(true);
  int minimized = 0, restored = 0;
  icon->OnAppMinimize = [&](TComponent*) { ++minimized; };
  icon->OnAppRestore = [&](TComponent*) { ++restored; };
  App().SetMainForm(form);
  form->Show();
  ASSERT_TRUE(IsWindowVisible(form->Handle()));
  App().Minimize();
  ASSERT_TRUE(PumpUntil([&] { return App().Minimized() && !IsWindowVisible(App().Handle()); }));
  robot::Pump(50);
  EXPECT_EQ(minimized, 1);
  EXPECT_TRUE(IsIconic(form->Handle()) || !IsWindowVisible(form->Handle()));
  icon->RestoreFromTray();
  ASSERT_TRUE(PumpUntil([&] { return !App().Minimized() && IsWindowVisible(form->Handle()) && !IsIconic(form->Handle()); }));
  robot::Pump(50);
  EXPECT_EQ(restored, 1);
  EXPECT_EQ(GetForegroundWindow(), form->Handle());
  App().SetMainForm(nullptr);
}

TEST_F(TrayIconTest, WithoutMinimizeToTrayTheApplicationStaysOutOfTheTray) {
  TTrayIcon95* icon = MakeIcon();
  icon->SetActive(true);
  icon->SetOptions(0);
  bool deferred = false;
  App().Minimize();
  // Anything the icon deferred would run before this.
  icon->DeferCall([&](TComponent*) { deferred = true; });
  ASSERT_TRUE(PumpUntil([&] { return deferred; }));
  App().Restore();
  EXPECT_TRUE(PumpUntil([&] { return !App().Minimized(); }));
}

TEST_F(TrayIconTest, DestroyedIconLeavesTheApplicationsMinimiseAndRestoreLists) {
  const std::size_t minimizeBefore = App().OnMinimize.Count();
  const std::size_t restoreBefore = App().OnRestore.Count();
  TTrayIcon95* icon = MakeIcon();
  EXPECT_EQ(App().OnMinimize.Count(), minimizeBefore + 1);
  EXPECT_EQ(App().OnRestore.Count(), restoreBefore + 1);
  delete icon;
  EXPECT_EQ(App().OnMinimize.Count(), minimizeBefore);
  EXPECT_EQ(App().OnRestore.Count(), restoreBefore);
  App().Minimize();
  App().Restore();
  EXPECT_FALSE(App().Minimized());
}

TEST_F(TrayIconTest, DeferredCallRunsLaterWithTheMessageWindowAndSwallowsItsError) {
  TTrayIcon95* icon = MakeIcon();
  TComponent* sender = nullptr;
  int runs = 0;
  icon->DeferCall([&](TComponent*) { ++runs; });
  // Replaced before it ran: only the second one runs, and its error goes nowhere.
  icon->DeferCall([&](TComponent* s) {
    sender = s;
    runs += 10;
    throw Exception("deferred call failed");
  });
  EXPECT_EQ(runs, 0);
  ASSERT_TRUE(PumpUntil([&] { return runs == 10; }));
  EXPECT_EQ(sender, icon->MsgWindow());
  robot::Pump(50);
  EXPECT_EQ(runs, 10);
  EXPECT_EQ(robot::FindVisible("#32770", nullptr), nullptr);
  icon->DeferCall([&](TComponent*) { ++runs; });
  ASSERT_TRUE(PumpUntil([&] { return runs == 11; }));
}

TEST_F(TrayIconTest, FreedPopupMenuIsForgotten) {
  TTrayIcon95* icon = MakeIcon();
  auto* menu = new TPopupMenu(form);
  icon->SetPopupMenu(menu);
  icon->SetAutoPopup(true);
  int clicks = 0;
  icon->OnClick = [&](TComponent*) { ++clicks; };
  icon->SetActive(true);
  delete menu;
  EXPECT_EQ(icon->PopupMenu(), nullptr);
  Notify(WM_RBUTTONDOWN);
  ASSERT_TRUE(PumpUntil([&] { return clicks == 1; }));
}

}  // namespace
