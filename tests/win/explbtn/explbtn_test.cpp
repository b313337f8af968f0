// The explorer button on a real form under Wine: mouse and keys played from a
// helper thread, and its painting checked pixel by pixel on a memory bitmap.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <memory>

#include "tests/win/toolkit/robot.hpp"
#include "toolkit/application.hpp"
#include "toolkit/forms.hpp"
#include "toolkit/menus.hpp"
#include "toolkit/stdctrls.hpp"
#include "widgets/explbtn.hpp"

namespace {

constexpr COLORREF kKey = RGB(255, 0, 255);
constexpr COLORREF kFill = RGB(200, 0, 0);      // sum 200
constexpr COLORREF kPanel = RGB(128, 128, 128);
constexpr COLORREF kBackground = RGB(10, 20, 30);
constexpr COLORREF kUnselected = RGB(0, 255, 0);

TApplication& App() {
  static TApplication* app = new TApplication();
  return *app;
}

// 24 x 24: key colour around a black-framed square (4..19) filled with kFill.
void MakeImage(TBitmap& b) {
  TBitmap image;
  image.SetSize(24, 24, kKey);
  for (int y = 4; y <= 19; ++y)
    for (int x = 4; x <= 19; ++x)
      image.SetPixel(x, y, (x == 4 || x == 19 || y == 4 || y == 19) ? RGB(0, 0, 0) : kFill);
  b.Assign(image);
}

// The browser's button bar: an edit box above a grey panel of 57 x 41 buttons.
class ButtonForm : public TForm {
 public:
  explicit ButtonForm(TComponent* owner) : TForm(owner) {
    SetCaption("Explorer Button Test");
    SetClientSize(426, 120);
    SetPosition(poScreenCenter);
    edit = new TEdit(this);
    edit->SetBounds(10, 10, 200, 22);
    edit->SetParent(this);
    panel = new TPanel(this);
    panel->SetColor(clGray);
    panel->SetHeight(50);
    panel->SetAlign(alBottom);
    panel->SetParent(this);
    newButton = Add("&New", 6);
    accept = Add("&Accept", 277);
    accept->SetDefault(true);
    cancel = Add("Cance&l", 345);
    cancel->SetCancel(true);
    menuButton = Add("&Menu", 133);
    menu = new TPopupMenu(this);
    menu->Add("One", [this](TComponent*) { ++menuChoices; });
    menuButton->SetDropDownMenu(menu);
  }
  TExplorerButton* Add(const char* caption, int left) {
    auto* b = new TExplorerButton(this);
    b->SetBounds(left, 3, 57, 41);
    b->SetCaption(caption);
    b->SetShadowColor(clBlack);
    b->Font().SetColor(clWhite);
    b->SetUnselectedFontColor(clWhite);
    b->SetOptions(boPopupMark);
    MakeImage(b->Bitmap());
    b->OnClick = [this](TComponent* sender) {
      ++clicks;
      lastClicked = sender;
      if (sender == accept) SetModalResult(mrOk);
      if (sender == cancel) SetModalResult(mrCancel);
    };
    b->SetParent(panel);
    return b;
  }
  TEdit* edit;
  TPanel* panel;
  TExplorerButton* newButton;
  TExplorerButton* accept;
  TExplorerButton* cancel;
  TExplorerButton* menuButton;
  TPopupMenu* menu;
  std::atomic<int> clicks{0};
  std::atomic<int> menuChoices{0};
  std::atomic<TComponent*> lastClicked{nullptr};
};

class ExplorerButtonOnForm : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    form = std::make_unique<ButtonForm>(nullptr);
  }
  void TearDown() override { form.reset(); }

  // Closes the form from the robot's thread when a step fails.
  std::function<void()> Escape() {
    HWND wnd = form->Handle();
    return [wnd] { PostMessageA(wnd, WM_CLOSE, 0, 0); };
  }
  static POINT At(TExplorerButton* b, int x, int y) { return b->ClientToScreen(POINT{x, y}); }

  std::unique_ptr<ButtonForm> form;
};

TEST_F(ExplorerButtonOnForm, DraggingOffBeforeReleaseCancelsAndDraggingBackClicks) {
  form->Show();
  robot::Pump(100);
  TExplorerButton* b = form->newButton;
  const POINT centre = At(b, 28, 20);
  const POINT offButton = At(b, 28, -20);  // on the edit side of the form, off the panel's buttons
  const POINT corner = At(b, 0, 0);
  const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
  // The system notices that the mouse left a window by polling the cursor: the
  // panel has seen it once no button is under the mouse and no leave is pending.
  const auto leftThePanel = [&] {
    return robot::OnGuiThread<bool>(
        [&] { return form->panel->MouseControl() == nullptr && !form->panel->TrackingMouseLeave(); });
  };
  robot::Robot r([&](robot::Robot& r) {
    robot::MoveMouse(centre);
    if (!r.Expect([&] { return robot::ScreenPixel(corner) == highlight; }, "the hot (raised) look")) return;
    robot::LeftDown();
    if (!r.Expect([&] { return robot::ScreenPixel(corner) == RGB(0, 0, 0); }, "the pressed (sunken) look")) return;
    robot::MoveMouse(offButton);
    if (!r.Expect([&] { return robot::ScreenPixel(corner) == kPanel; }, "the flat look off the button")) return;
    robot::LeftUp();
    // A click would come while the release is handled, which ends the press.
    if (!r.Expect([&] { return !robot::OnGuiThread<bool>([&] { return b->Pressed(); }); },
                  "the release")) return;
    if (form->clicks != 0) r.Fail("a release off the button clicked it");
    if (!r.Expect(leftThePanel, "the mouse to leave the panel")) return;

    robot::MoveMouse(centre);
    if (!r.Expect([&] { return robot::ScreenPixel(corner) == highlight; }, "hot again")) return;
    robot::LeftDown();
    robot::MoveMouse(offButton);
    if (!r.Expect([&] { return robot::ScreenPixel(corner) == kPanel; }, "flat while dragged off")) return;
    robot::MoveMouse(centre);
    if (!r.Expect([&] { return robot::ScreenPixel(corner) == RGB(0, 0, 0); }, "pressed again when back")) return;
    robot::LeftUp();
    if (!r.Expect([&] { return form->clicks == 1; }, "the click")) return;
    // Drawn flat after the click although the mouse is still over it.
    if (!r.Expect([&] { return robot::ScreenPixel(corner) == kPanel; }, "flat after the click")) return;
    robot::MoveMouse(offButton);
    if (!r.Expect(leftThePanel, "the mouse to leave the panel")) return;
    robot::MoveMouse(centre);
    r.Expect([&] { return robot::ScreenPixel(corner) == highlight; }, "hot after leaving and entering");
  }, Escape());
  r.PumpUntilDone();
  r.Join();
  EXPECT_TRUE(r.Ok()) << r.Failure();
  EXPECT_EQ(form->clicks, 1);
  EXPECT_EQ(form->lastClicked, b);
  EXPECT_FALSE(b->Pressed());
  robot::MoveMouse(POINT{1270, 1010});
}

TEST_F(ExplorerButtonOnForm, EnterAndEscapeFromTheEditBoxClickDefaultAndCancel) {
  HWND edit = form->edit->Handle();
  robot::Robot enter([&](robot::Robot& r) {
    if (!r.Expect([&] { return GetFocus() == edit || IsWindowVisible(form->Handle()); }, "the form")) return;
    PostMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
  }, Escape());
  EXPECT_EQ(form->ShowModal(), mrOk);
  enter.Join();
  EXPECT_TRUE(enter.Ok()) << enter.Failure();
  EXPECT_EQ(form->lastClicked, form->accept);
  EXPECT_EQ(form->clicks, 1);

  robot::Robot escape([&](robot::Robot& r) {
    if (!r.Expect([&] { return IsWindowVisible(form->Handle()) != FALSE; }, "the form")) return;
    PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0);
  }, Escape());
  EXPECT_EQ(form->ShowModal(), mrCancel);
  escape.Join();
  EXPECT_TRUE(escape.Ok()) << escape.Failure();
  EXPECT_EQ(form->lastClicked, form->cancel);
  EXPECT_EQ(form->clicks, 2);
  EXPECT_EQ(GetFocus() == edit, false);  // the form is hidden again
}

TEST_F(ExplorerButtonOnForm, DisabledDefaultButtonIgnoresEnter) {
  form->accept->SetEnabled(false);
  HWND edit = form->edit->Handle();
  robot::QueueMarker marker;
  robot::Robot r([&](robot::Robot& r) {
    if (!r.Expect([&] { return IsWindowVisible(form->Handle()) != FALSE; }, "the form")) return;
    PostMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
    marker.Post(edit);
    if (!r.Expect([&] { return marker.Reached(); }, "Enter to be handled")) return;
    if (form->clicks != 0) r.Fail("Enter clicked a disabled default button");
    PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0);
  }, Escape());
  EXPECT_EQ(form->ShowModal(), mrCancel);
  r.Join();
  EXPECT_TRUE(r.Ok()) << r.Failure();
  EXPECT_EQ(form->lastClicked, form->cancel);
  EXPECT_EQ(form->clicks, 1);
}

TEST_F(ExplorerButtonOnForm, AltAndTheAcceleratorLetterClicksOnce) {
  std::atomic<int> newClicks{0};
  form->newButton->OnClick = [&](TComponent*) { ++newClicks; };
  robot::Robot r([&](robot::Robot& r) {
    if (!r.Expect([&] { return GetForegroundWindow() == form->Handle(); }, "the form in front")) return;
    robot::AltLetter('N');
    if (!r.Expect([&] { return newClicks == 1; }, "the click of Alt+N")) return;
    // Alt's release is the last key typed: once the GUI thread has taken it (its
    // key state shows Alt up), every key before it has been handled.
    if (!r.Expect([] { return robot::OnGuiThread<bool>([] { return (GetKeyState(VK_MENU) & 0x8000) == 0; }); },
                  "the keys to be handled")) return;
    if (newClicks != 1) r.Fail("Alt+N clicked more than once");
    robot::AltLetter('L');  // "Cance&l"
  }, Escape());
  EXPECT_EQ(form->ShowModal(), mrCancel);
  r.Join();
  EXPECT_TRUE(r.Ok()) << r.Failure();
  EXPECT_EQ(newClicks, 1);
  EXPECT_EQ(form->lastClicked, form->cancel);
  EXPECT_FALSE(form->newButton->Hot());
}

TEST_F(ExplorerButtonOnForm, DropDownMenuOpensBelowAndNeverClicks) {
  form->Show();
  robot::Pump(100);
  TExplorerButton* b = form->menuButton;
  const POINT centre = At(b, 28, 20);
  const POINT corner = At(b, 0, 0);
  const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
  const POINT below = At(b, 0, b->Height());
  RECT menuRect{};
  robot::Robot r([&](robot::Robot& r) {
    robot::MoveMouse(centre);
    if (!r.Expect([&] { return robot::ScreenPixel(corner) == highlight; }, "the hot (raised) look")) return;
    robot::LeftDown();
    robot::LeftUp();
    HWND menu = r.WaitForWindow("#32768", nullptr);
    if (menu == nullptr) return;
    GetWindowRect(menu, &menuRect);
    robot::Key(VK_ESCAPE, false);
    robot::Key(VK_ESCAPE, true);
    r.Expect([] { return robot::FindVisible("#32768", nullptr) == nullptr; }, "the menu to close");
  }, [] {
    if (HWND menu = robot::FindVisible("#32768", nullptr)) PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
  });
  r.PumpUntilDone();
  r.Join();
  robot::Pump(100);
  EXPECT_TRUE(r.Ok()) << r.Failure();
  EXPECT_EQ(form->clicks, 0);
  EXPECT_EQ(form->menuChoices, 0);
  EXPECT_FALSE(b->Pressed());
  EXPECT_EQ(menuRect.left, below.x);
  EXPECT_EQ(menuRect.top, below.y);
  robot::MoveMouse(POINT{1270, 1010});
}

TEST_F(ExplorerButtonOnForm, ChoosingFromTheDropDownMenuRunsTheItemNotTheButton) {
  form->Show();
  robot::Pump(100);
  const POINT centre = At(form->menuButton, 28, 20);
  const POINT corner = At(form->menuButton, 0, 0);
  const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
  robot::Robot r([&](robot::Robot& r) {
    robot::MoveMouse(centre);
    if (!r.Expect([&] { return robot::ScreenPixel(corner) == highlight; }, "the hot (raised) look")) return;
    robot::LeftDown();
    robot::LeftUp();
    HWND menu = r.WaitForWindow("#32768", nullptr);
    if (menu == nullptr) return;
    robot::Key(VK_DOWN, false);
    robot::Key(VK_DOWN, true);
    robot::Key(VK_RETURN, false);
    robot::Key(VK_RETURN, true);
    r.Expect([&] { return form->menuChoices == 1; }, "the menu item");
  }, [] {
    if (HWND menu = robot::FindVisible("#32768", nullptr)) PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
  });
  r.PumpUntilDone();
  r.Join();
  EXPECT_TRUE(r.Ok()) << r.Failure();
  EXPECT_EQ(form->menuChoices, 1);
  EXPECT_EQ(form->clicks, 0);
  robot::MoveMouse(POINT{1270, 1010});
}

// ---------------------------------------------------------------- groups (framework notifications)

class ExplorerButtonGroup : public ExplorerButtonOnForm {
 protected:
  void SetUp() override {
    ExplorerButtonOnForm::SetUp();
    for (int i = 0; i < 3; ++i) {
      b[i] = form->Add("G", 6 + 64 * i);
      b[i]->SetGroupIndex(1);
    }
  }
  // What the framework delivers for a mouse click on the button.
  void ClickByMouse(TExplorerButton* button) {
    button->MouseEnter();
    button->MouseDown(mbLeft, ssLeft, 10, 10);
    button->MouseUp(mbLeft, 0, 10, 10);
    button->MouseLeave();
  }
  std::array<TExplorerButton*, 3> b{};
};

TEST_F(ExplorerButtonGroup, WithoutAllowAllUpOneButtonStaysDown) {
  ClickByMouse(b[0]);
  EXPECT_TRUE(b[0]->Down());
  ClickByMouse(b[1]);
  EXPECT_FALSE(b[0]->Down());
  EXPECT_TRUE(b[1]->Down());
  ClickByMouse(b[1]);
  EXPECT_TRUE(b[1]->Down());
  EXPECT_EQ(form->clicks, 3);
  b[2]->SetDown(true);
  EXPECT_FALSE(b[1]->Down());
  EXPECT_TRUE(b[2]->Down());
}

TEST_F(ExplorerButtonGroup, WithAllowAllUpTheDownButtonComesUp) {
  b[0]->SetAllowAllUp(true);  // copied to the whole group
  EXPECT_TRUE(b[2]->AllowAllUp());
  ClickByMouse(b[2]);
  EXPECT_TRUE(b[2]->Down());
  ClickByMouse(b[2]);
  EXPECT_FALSE(b[2]->Down());
  for (auto* button : b) EXPECT_FALSE(button->Down());
}

TEST_F(ExplorerButtonGroup, DownNeedsAGroupAndLeavingTheGroupRaises) {
  form->newButton->SetDown(true);
  EXPECT_FALSE(form->newButton->Down());
  b[0]->SetDown(true);
  b[0]->SetGroupIndex(0);
  EXPECT_FALSE(b[0]->Down());
  // A release off the button (not hot) changes nothing.
  b[1]->MouseEnter();
  b[1]->MouseDown(mbLeft, ssLeft, 10, 10);
  b[1]->MouseLeave();
  b[1]->MouseUp(mbLeft, 0, 10, 100);
  EXPECT_FALSE(b[1]->Down());
  EXPECT_EQ(form->clicks, 0);
  // Disabling keeps a group button down, but clears pressed and hot.
  ClickByMouse(b[2]);
  b[2]->MouseEnter();
  b[2]->SetEnabled(false);
  EXPECT_TRUE(b[2]->Down());
  EXPECT_FALSE(b[2]->Hot());
}

TEST_F(ExplorerButtonOnForm, ForgetsAFreedDropDownMenuAndTracksIconOnlyHints) {
  delete form->menu;
  EXPECT_EQ(form->menuButton->DropDownMenu(), nullptr);

  TExplorerButton* b = form->cancel;
  b->SetOptions(boIconOnly);
  EXPECT_EQ(b->Hint(), "Cancel");
  EXPECT_TRUE(b->ShowHint());
  b->SetCaption("&Stop");
  EXPECT_EQ(b->Hint(), "Stop");
  b->SetOptions(boPopupMark);
  EXPECT_EQ(b->Hint(), "");
  EXPECT_FALSE(b->ShowHint());
  b->SetHint("Own hint");
  b->SetOptions(boIconOnly);
  EXPECT_EQ(b->Hint(), "Own hint");
}

// ---------------------------------------------------------------- painting on a memory bitmap

class ExplorerButtonPaint : public ExplorerButtonOnForm {
 protected:
  void SetUp() override {
    ExplorerButtonOnForm::SetUp();
    b = form->newButton;
    b->SetUnselectedFontColor(kUnselected);
    bits.SetSize(b->Width(), b->Height(), kBackground);
    layout = b->ComputeCurrentLayout();
  }
  // Paints the button as its parent would, on a fresh background.
  void Paint() {
    bits.SetSize(b->Width(), b->Height(), kBackground);
    vz::win::MemoryDc dc(CreateCompatibleDC(nullptr));
    vz::win::SelectGuard keep(dc.Get(), bits.Handle());
    SetBkMode(dc.Get(), TRANSPARENT);
    b->Paint(dc.Get());
    GdiFlush();
  }
  COLORREF Px(int x, int y) const { return bits.Pixel(x, y); }
  COLORREF Img(int x, int y, int shift = 0) const { return bits.Pixel(layout.bmpX + x + shift, layout.bmpY + y + shift); }

  TExplorerButton* b = nullptr;
  TBitmap bits;
  vz::explbtn::LayoutResult layout;
};

TEST_F(ExplorerButtonPaint, FlatHotAndPressedBevels) {
  const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
  const int w = b->Width();
  const int h = b->Height();
  EXPECT_EQ(layout.bmpX, 16);
  Paint();
  EXPECT_EQ(Px(0, 0), kBackground);
  EXPECT_EQ(Px(w - 1, h - 1), kBackground);
  EXPECT_EQ(Img(0, 0), kBackground);  // the key colour is transparent
  EXPECT_EQ(Img(4, 4), RGB(0, 0, 0));
  EXPECT_EQ(Img(10, 10), kFill);

  b->MouseEnter();
  Paint();
  EXPECT_EQ(Px(0, 0), highlight);
  EXPECT_EQ(Px(0, h - 2), highlight);
  EXPECT_EQ(Px(w - 2, 0), highlight);
  EXPECT_EQ(Px(w - 1, 0), RGB(0, 0, 0));
  EXPECT_EQ(Px(w - 1, h - 1), RGB(0, 0, 0));
  EXPECT_EQ(Px(1, h - 1), RGB(0, 0, 0));
  EXPECT_EQ(Img(4, 4), RGB(0, 0, 0));

  b->MouseDown(mbLeft, ssLeft, 5, 5);
  Paint();
  EXPECT_EQ(Px(0, 0), RGB(0, 0, 0));
  EXPECT_EQ(Px(w - 1, h - 1), highlight);
  EXPECT_EQ(Img(4, 4, 1), RGB(0, 0, 0));  // content moved by one pixel
  EXPECT_EQ(Img(4, 4), kBackground);

  // A lowered bevel style swaps the looks.
  b->MouseUp(mbLeft, 0, 5, 5);
  b->SetBevelStyle(bsLowered);
  b->MouseEnter();
  Paint();
  EXPECT_EQ(Px(0, 0), RGB(0, 0, 0));
  EXPECT_EQ(Px(w - 1, h - 1), highlight);
}

TEST_F(ExplorerButtonPaint, FourToneCopyUntilTheMouseComes) {
  b->SetOptions(boMonoDisplay | boPopupMark);
  const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
  Paint();
  EXPECT_EQ(Img(10, 10), shadow);  // red of sum 200: a shadow tone with stMedium
  EXPECT_EQ(Img(4, 4), RGB(0, 0, 0));
  EXPECT_EQ(Img(0, 0), kBackground);
  b->MouseEnter();
  Paint();
  EXPECT_EQ(Img(10, 10), kFill);
  b->MouseDown(mbLeft, ssLeft, 5, 5);
  Paint();
  EXPECT_EQ(Img(10, 10, 1), kFill);
  // A NoFocusBitmap replaces the four-tone copy.
  b->MouseUp(mbLeft, 0, 5, 5);
  TBitmap other;
  other.SetSize(24, 24, RGB(0, 0, 200));
  other.SetPixel(0, 0, kKey);
  b->SetNoFocusBitmap(other);
  Paint();
  EXPECT_EQ(Img(10, 10), RGB(0, 0, 200));
}

TEST_F(ExplorerButtonPaint, ShadingThresholdsOfTheFourToneCopy) {
  struct Row {
    TExplorerButtonShadingType type;
    int highlightAbove;  // sum > this: highlight (or white)
    int shadowAbove;     // sum > this: shadow
  };
  const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
  const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
  const auto grey = [](int sum) { return RGB(sum / 3 + (sum % 3 > 0), sum / 3 + (sum % 3 > 1), sum / 3); };
  for (const Row& row : {Row{stLight, 127, 68}, Row{stMedium, 231, 57}, Row{stDark, 274, 175}}) {
    SCOPED_TRACE(static_cast<int>(row.type));
    TBitmap image;
    image.SetSize(5, 1, kKey);
    image.SetPixel(1, 0, grey(row.highlightAbove + 1));
    image.SetPixel(2, 0, grey(row.highlightAbove));
    image.SetPixel(3, 0, grey(row.shadowAbove + 1));
    image.SetPixel(4, 0, grey(row.shadowAbove));
    b->SetShadingType(row.type == stMedium ? stLight : stMedium);
    b->SetBitmap(image);
    b->SetShadingType(row.type);
    const TBitmap& s = b->ShadedBitmap();
    EXPECT_EQ(s.Pixel(0, 0), kKey);
    EXPECT_EQ(s.Pixel(1, 0), highlight);
    EXPECT_EQ(s.Pixel(2, 0), shadow);
    EXPECT_EQ(s.Pixel(3, 0), shadow);
    EXPECT_EQ(s.Pixel(4, 0), RGB(0, 0, 0));
  }
}

TEST_F(ExplorerButtonPaint, DisabledButtonIsEmbossed) {
  b->SetEnabled(false);
  Paint();
  EXPECT_EQ(Img(4, 4), GetSysColor(COLOR_BTNSHADOW));
  EXPECT_EQ(Img(20, 20), GetSysColor(COLOR_BTNHIGHLIGHT));  // the black frame's copy, moved by one
  EXPECT_EQ(Img(10, 10), kBackground);                      // only black pixels are kept
  EXPECT_EQ(Px(0, 0), kBackground);
  // A DisabledBitmap is drawn instead, transparently.
  TBitmap disabled;
  disabled.SetSize(24, 24, RGB(0, 0, 200));
  disabled.SetPixel(0, 0, kKey);
  b->SetDisabledBitmap(disabled);
  Paint();
  EXPECT_EQ(Img(10, 10), RGB(0, 0, 200));
  EXPECT_EQ(Img(4, 4), RGB(0, 0, 200));
}

TEST_F(ExplorerButtonPaint, DropDownMarkBesideTheBitmap) {
  TPopupMenu menu(nullptr);
  b->SetDropDownMenu(&menu);
  layout = b->ComputeCurrentLayout();
  EXPECT_EQ(layout.bmpX, 11);  // centred with the mark's 10 pixels
  Paint();
  const int x = layout.bmpX + 24 + 3;
  const int y = layout.bmpY + 12;
  for (int i = 0; i < 7; ++i) EXPECT_EQ(Px(x + i, y - 1), kUnselected) << i;
  EXPECT_EQ(Px(x + 1, y), kUnselected);
  EXPECT_EQ(Px(x, y), kBackground);
  EXPECT_EQ(Px(x + 3, y + 2), kUnselected);
  EXPECT_EQ(Px(x + 2, y + 2), kBackground);
  // The pressed look (here: down in a group) puts it one pixel further right and
  // down, in the font colour.
  b->SetGroupIndex(1);
  b->SetShowDownPattern(false);
  b->SetDown(true);
  Paint();
  for (int i = 0; i < 7; ++i) EXPECT_EQ(Px(x + 1 + i, y), RGB(255, 255, 255)) << i;
  EXPECT_EQ(Px(x + 4, y + 3), RGB(255, 255, 255));
  b->SetOptions(0);
  Paint();
  EXPECT_EQ(Px(x + 1, y), kBackground);  // without boPopupMark, no mark
  b->SetDropDownMenu(nullptr);
}

TEST_F(ExplorerButtonPaint, DownPatternUnderADownButton) {
  b->SetGroupIndex(3);
  b->SetDown(true);
  Paint();
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
  EXPECT_EQ(Px(2, 2), highlight);
  EXPECT_EQ(Px(3, 3), highlight);
  EXPECT_EQ(Px(3, 2), face);
  EXPECT_EQ(Px(0, 0), RGB(0, 0, 0));  // sunken
  b->SetShowDownPattern(false);
  Paint();
  EXPECT_EQ(Px(2, 2), kBackground);
}

}  // namespace
