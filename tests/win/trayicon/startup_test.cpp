// The start-up mechanism and RunApplicationHidden: each test builds its own
// application, so each runs in a process of its own (as ctest runs them).
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>

#include "toolkit/application.hpp"
#include "toolkit/forms.hpp"
#include "widgets/trayicon.hpp"

namespace {

class Recorder {
 public:
  Recorder() {
    SetShellNotifyIconFunc([this](DWORD operation, const NOTIFYICONDATAA&) {
      operations.push_back(operation);
      return TRUE;
    });
  }
  ~Recorder() { SetShellNotifyIconFunc(nullptr); }
  std::vector<DWORD> operations;
};

TEST(TrayStartup, ApplicationWindowIsHungOnTheHiddenWindowUntilTheTrayIconComes) {
  Recorder recorder;
  HWND hidden = nullptr;
  {
    TrayApplicationStartup startup;
    hidden = TrayApplicationWindow();
    ASSERT_NE(hidden, nullptr);
    EXPECT_EQ(FindWindowA("TTrayApplication", nullptr), hidden);
    EXPECT_FALSE(IsWindowVisible(hidden));
    RECT r{};
    GetWindowRect(hidden, &r);
    EXPECT_EQ(r.right - r.left, 50);
    EXPECT_EQ(r.bottom - r.top, 50);
    EXPECT_EQ(r.left, GetSystemMetrics(SM_CXSCREEN) / 2);
    EXPECT_TRUE(TrayApplicationHookInstalled());
    {
      TApplication app;
      // The hook did its one job and is gone.
      EXPECT_FALSE(TrayApplicationHookInstalled());
      EXPECT_EQ(GetAncestor(app.Handle(), GA_PARENT), hidden);
      auto* form = new TForm(&app);
      new TTrayIcon95(form);
      // Back on the desktop, hidden.
      EXPECT_EQ(GetAncestor(app.Handle(), GA_PARENT), GetDesktopWindow());
      EXPECT_FALSE(IsWindowVisible(app.Handle()));
    }
    EXPECT_TRUE(IsWindow(hidden));
  }
  EXPECT_FALSE(IsWindow(hidden));
  EXPECT_EQ(TrayApplicationWindow(), nullptr);
  EXPECT_EQ(FindWindowA("TTrayApplication", nullptr), nullptr);
}

TEST(TrayStartup, FailedStartUpStillRemovesTheHookAndTheHiddenWindow) {
  HWND hidden = nullptr;
  try {
    TrayApplicationStartup startup;
    hidden = TrayApplicationWindow();
    ASSERT_TRUE(TrayApplicationHookInstalled());
    // Start-up fails before the application window exists.
    throw std::runtime_error("start-up failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(TrayApplicationHookInstalled());
  EXPECT_NE(hidden, nullptr);
  EXPECT_FALSE(IsWindow(hidden));
  // Other windows of the class "TApplication" are left alone now.
  TApplication app;
  EXPECT_EQ(GetAncestor(app.Handle(), GA_PARENT), GetDesktopWindow());
}

TEST(TrayStartup, RunApplicationHiddenNeverShowsTheMainForm) {
  Recorder recorder;
  TrayApplicationStartup startup;
  TApplication app;
  auto* form = new TForm(&app);
  app.SetMainForm(form);
  auto* icon = new TTrayIcon95(form);
  icon->SetActive(true);
  bool everVisible = false;
  int ticks = 0;
  // Looks at the form from inside the loop for a while, then ends the program.
  TTimerItem* watch = icon->Timers()->AddItem(true, 55, nullptr);
  watch->OnTimer = [&](TComponent*) {
    everVisible = everVisible || IsWindowVisible(form->Handle());
    if (++ticks == 5) app.Terminate();
  };
  icon->Timers()->Reschedule();
  EXPECT_EQ(RunApplicationHidden(), 0);
  EXPECT_EQ(ticks, 5);
  EXPECT_FALSE(everVisible);
  EXPECT_FALSE(app.ShowMainForm());
  ASSERT_FALSE(recorder.operations.empty());
  EXPECT_EQ(recorder.operations[0], static_cast<DWORD>(NIM_ADD));
}

}  // namespace
