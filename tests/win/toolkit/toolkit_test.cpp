// The toolkit on real windows under Wine: forms from templates, modal results,
// dialog keys and accelerators, message boxes, help requests, placement,
// minimise/restore subscribers and errors raised inside window procedures.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <memory>

#include "tests/win/toolkit/robot.hpp"
#include "tests/win/toolkit/test_form_ids.hpp"
#include "toolkit/application.hpp"
#include "toolkit/dialogs.hpp"
#include "toolkit/exception.hpp"
#include "toolkit/forms.hpp"
#include "toolkit/stdctrls.hpp"

namespace {

TApplication& App() {
  static TApplication* app = [] {
    auto* a = new TApplication();
    a->SetTitle("Toolkit Test");
    return a;
  }();
  return *app;
}

// A control that records when its properties were set and when it was loaded.
class TProbe : public TGraphicControl {
 public:
  using TGraphicControl::TGraphicControl;
  void SetCaption(const std::string& caption) override {
    TGraphicControl::SetCaption(caption);
    captionSetWhileLoading = HasState(csLoading);
  }
  bool captionSetWhileLoading = false;
  int loaded = 0;
  bool parentKnownWhenLoaded = false;

 protected:
  void Loaded() override {
    TGraphicControl::Loaded();
    ++loaded;
    parentKnownWhenLoaded = Parent() != nullptr;
  }
};

const bool kProbeRegistered = [] {
  RegisterControlClass("TProbe", [](TComponent* owner) { return new TProbe(owner); });
  return true;
}();

std::function<void()> EscapeByClosing(HWND wnd) {
  return [wnd] { PostMessageA(wnd, WM_CLOSE, 0, 0); };
}

// Ends any message box the robot is waiting on.
void CloseMessageBoxes() {
  if (HWND box = robot::FindVisible("#32770", nullptr)) PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
}

std::string WindowText(HWND wnd) {
  char text[512] = {};
  GetWindowTextA(wnd, text, sizeof(text));
  return text;
}

class ToolkitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    (void)kProbeRegistered;
  }
};

// A form in code: an edit box, an OK button with a modal result, a phone-book
// style button with an accelerator, and a label that moves the focus.
class CodeForm : public TForm {
 public:
  explicit CodeForm(TComponent* owner, const char* caption = "Code Form") : TForm(owner) {
    SetCaption(caption);
    SetClientSize(251, 227);
    label = new TLabel(this);
    label->SetCaption("&Subject");
    label->SetBounds(14, 10, 60, 14);
    label->SetParent(this);
    edit = new TEdit(this);
    edit->SetBounds(14, 28, 222, 22);
    edit->SetParent(this);
    other = new TEdit(this);
    other->SetBounds(14, 60, 222, 22);
    other->SetParent(this);
    label->SetFocusControl(other);
    ok = new TButton(this);
    ok->SetCaption("Ok");
    ok->SetBounds(15, 177, 89, 33);
    ok->SetDefault(true);
    ok->SetModalResult(mrOk);
    ok->SetParent(this);
    phone = new TButton(this);
    phone->SetCaption("&Phone Book");
    phone->SetBounds(161, 100, 74, 21);
    phone->OnClick = [this](TComponent*) { ++phoneClicks; };
    phone->SetParent(this);
    cancel = new TButton(this);
    cancel->SetCaption("Cancel");
    cancel->SetBounds(148, 177, 89, 33);
    cancel->SetCancel(true);
    cancel->SetModalResult(mrCancel);
    cancel->SetParent(this);
  }
  TLabel* label;
  TEdit* edit;
  TEdit* other;
  TButton* ok;
  TButton* phone;
  TButton* cancel;
  std::atomic<int> phoneClicks{0};
};

TEST_F(ToolkitTest, FormFromTemplateTakesPixelsIdsParentsAndFont) {
  TForm form(nullptr, MAKEINTRESOURCEA(IDD_TEST_FORM));
  EXPECT_EQ(form.Caption(), "Template Form");
  EXPECT_EQ(form.ClientWidth(), 251);
  EXPECT_EQ(form.ClientHeight(), 227);
  EXPECT_EQ(form.Font().Height(), -11);
  EXPECT_EQ(form.Font().Name(), "Arial");
  EXPECT_EQ(WindowText(form.Handle()), "Template Form");

  auto* edit = form.ControlById<TEdit>(IDC_T_EDIT);
  EXPECT_EQ(edit->Parent(), &form);
  RECT r{};
  GetWindowRect(edit->Handle(), &r);
  MapWindowPoints(nullptr, form.Handle(), reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 14);
  EXPECT_EQ(r.top, 43);
  EXPECT_EQ(r.right - r.left, 222);
  EXPECT_EQ(r.bottom - r.top, 22);
  EXPECT_EQ(edit->Font().Height(), -11);

  EXPECT_TRUE(form.ControlById<TButton>(IDC_T_OK)->Default());
  auto* phone = form.ControlById<TButton>(IDC_T_PHONE);
  EXPECT_FALSE(phone->Default());
  EXPECT_FALSE(phone->Enabled());
  EXPECT_FALSE(IsWindowEnabled(phone->Handle()));
  EXPECT_EQ(form.ControlById<TLabel>(IDC_T_LABEL)->Caption(), "&Phone Number");

  auto* panel = form.ControlById<TPanel>(IDC_T_PANEL);
  auto* probe = form.ControlById<TProbe>(IDC_T_PROBE);
  EXPECT_EQ(probe->Parent(), panel);
  EXPECT_EQ(probe->Left(), 5);
  EXPECT_EQ(probe->Width(), 57);
  EXPECT_EQ(probe->Owner(), &form);
  EXPECT_TRUE(probe->captionSetWhileLoading);
  EXPECT_EQ(probe->loaded, 1);
  EXPECT_TRUE(probe->parentKnownWhenLoaded);
  EXPECT_FALSE(probe->HasState(csLoading));
  EXPECT_FALSE(form.ControlById<TProbe>(IDC_T_HIDDEN)->Visible());
  EXPECT_EQ(form.FindControlById(999), nullptr);
  EXPECT_THROW(form.ControlById<TEdit>(IDC_T_OK), EInvalidOperation);
}

TEST_F(ToolkitTest, EditBoxRefusesCharactersBeyondItsMaximum) {
  CodeForm form(nullptr);
  form.edit->SetMaxLength(35);
  form.Show();
  for (int i = 0; i < 40; ++i) PostMessageA(form.edit->Handle(), WM_CHAR, 'a' + i % 26, 0);
  robot::Pump(100);
  EXPECT_EQ(form.edit->Text().size(), 35u);
  form.edit->SetText("");
  form.edit->SetMaxLength(25);
  for (int i = 0; i < 30; ++i) PostMessageA(form.edit->Handle(), WM_CHAR, '0' + i % 10, 0);
  robot::Pump(100);
  EXPECT_EQ(form.edit->Text(), "0123456789012345678901234");
}

TEST_F(ToolkitTest, ModalFormEndsWithOkOrCancel) {
  CodeForm form(nullptr);
  HWND ok = form.ok->Handle();
  robot::Robot clickOk([&](robot::Robot& r) {
    if (!r.Expect([&] { return IsWindowVisible(form.Handle()) != FALSE; }, "the form")) return;
    PostMessageA(ok, BM_CLICK, 0, 0);
  }, EscapeByClosing(form.Handle()));
  EXPECT_EQ(form.ShowModal(), mrOk);
  clickOk.Join();
  EXPECT_TRUE(clickOk.Ok()) << clickOk.Failure();
  EXPECT_FALSE(IsWindowVisible(form.Handle()));

  robot::Robot closeBox([&](robot::Robot& r) {
    if (!r.Expect([&] { return IsWindowVisible(form.Handle()) != FALSE; }, "the form")) return;
    PostMessageA(form.Handle(), WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(form.ShowModal(), mrCancel);
  closeBox.Join();

  // Enter in any edit box is the default button, Esc the cancel button.
  HWND other = form.other->Handle();
  robot::Robot enter([&](robot::Robot& r) {
    if (!r.Expect([&] { return IsWindowVisible(form.Handle()) != FALSE; }, "the form")) return;
    PostMessageA(other, WM_KEYDOWN, VK_RETURN, 0);
  }, EscapeByClosing(form.Handle()));
  EXPECT_EQ(form.ShowModal(), mrOk);
  enter.Join();
  EXPECT_TRUE(enter.Ok()) << enter.Failure();
  robot::Robot escape([&](robot::Robot& r) {
    if (!r.Expect([&] { return IsWindowVisible(form.Handle()) != FALSE; }, "the form")) return;
    PostMessageA(other, WM_KEYDOWN, VK_ESCAPE, 0);
  }, [&] { form.SetModalResult(99); });
  EXPECT_EQ(form.ShowModal(), mrCancel);
  escape.Join();
  EXPECT_TRUE(escape.Ok()) << escape.Failure();
}

TEST_F(ToolkitTest, AcceleratorsClickButtonsAndMoveTheFocus) {
  CodeForm form(nullptr);
  HWND edit = form.edit->Handle();
  robot::Robot r([&](robot::Robot& r) {
    if (!r.Expect([&] { return IsWindowVisible(form.Handle()) != FALSE; }, "the form")) return;
    PostMessageA(edit, WM_SYSCHAR, 'p', 0);
    if (!r.Expect([&] { return form.phoneClicks == 1; }, "Alt+P to click the phone book button")) return;
    PostMessageA(form.Handle(), WM_CLOSE, 0, 0);
  }, EscapeByClosing(form.Handle()));
  form.ShowModal();
  r.Join();
  EXPECT_EQ(form.phoneClicks, 1);
}

TEST_F(ToolkitTest, LabelAcceleratorFocusesItsControl) {
  CodeForm form(nullptr);
  form.Show();
  robot::Pump(50);
  form.edit->SetFocus();
  PostMessageA(form.edit->Handle(), WM_SYSCHAR, 'S', 0);
  robot::Pump(50);
  EXPECT_EQ(GetFocus(), form.other->Handle());
}

TEST_F(ToolkitTest, ModalFormDisablesOtherWindowsAndActivatesThePreviousOne) {
  CodeForm main(nullptr, "Main Form");
  main.Show();
  robot::Pump(50);
  ASSERT_EQ(GetActiveWindow(), main.Handle());
  CodeForm dialog(nullptr, "Dialog Form");
  std::atomic<bool> mainDisabled{false};
  robot::Robot r([&](robot::Robot& r) {
    if (!r.Expect([&] { return IsWindowVisible(dialog.Handle()) != FALSE; }, "the dialog")) return;
    mainDisabled = !IsWindowEnabled(main.Handle());
    PostMessageA(dialog.Handle(), WM_CLOSE, 0, 0);
  }, EscapeByClosing(dialog.Handle()));
  EXPECT_EQ(dialog.ShowModal(), mrCancel);
  r.Join();
  EXPECT_TRUE(mainDisabled);
  EXPECT_TRUE(IsWindowEnabled(main.Handle()));
  EXPECT_EQ(GetActiveWindow(), main.Handle());
}

TEST_F(ToolkitTest, MessageBoxDisablesReactivatesAndClipsItsText) {
  CodeForm form(nullptr, "Owner Form");
  form.Show();
  robot::Pump(50);
  ASSERT_EQ(GetActiveWindow(), form.Handle());
  std::atomic<bool> formDisabled{false};
  std::string shownText;
  robot::Robot r([&](robot::Robot& r) {
    HWND box = r.WaitForWindow("#32770", "Delete");
    if (box == nullptr) return;
    formDisabled = !IsWindowEnabled(form.Handle());
    shownText = WindowText(GetDlgItem(box, 0xFFFF));
    // Enter takes the default button, which is No.
    PostMessageA(GetDlgItem(box, IDNO), WM_KEYDOWN, VK_RETURN, 0);
  }, CloseMessageBoxes);
  const std::string longText = "Delete the current phone book entry?:\r" + std::string(300, 'x');
  EXPECT_FALSE(AskYesNo(longText, "Delete"));
  r.Join();
  EXPECT_TRUE(r.Ok()) << r.Failure();
  EXPECT_TRUE(formDisabled);
  EXPECT_EQ(shownText.size(), 255u);
  EXPECT_TRUE(IsWindowEnabled(form.Handle()));
  EXPECT_EQ(GetActiveWindow(), form.Handle());

  robot::Robot yes([&](robot::Robot& r) {
    HWND box = r.WaitForWindow("#32770", "Question");
    if (box != nullptr) PostMessageA(box, WM_COMMAND, IDYES, 0);
  }, CloseMessageBoxes);
  EXPECT_TRUE(AskYesNo("Switch now?", "Question", true));
  yes.Join();
  EXPECT_TRUE(yes.Ok()) << yes.Failure();
}

TEST_F(ToolkitTest, InfoBoxHasItsCaptionAndIcon) {
  std::string caption;
  bool hasIcon = false;
  robot::Robot r([&](robot::Robot& r) {
    HWND box = r.WaitForWindow("#32770", "Information");
    if (box == nullptr) return;
    caption = WindowText(box);
    hasIcon = SendDlgItemMessageA(box, 0x0440 /* the icon's static */, STM_GETICON, 0, 0) != 0;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  }, CloseMessageBoxes);
  ShowInfo("Unable to open or create VZPB.DBF");
  r.Join();
  EXPECT_TRUE(r.Ok()) << r.Failure();
  EXPECT_EQ(caption, "Information");
  EXPECT_TRUE(hasIcon);
}

// A stand-in help viewer: WinHelpA hands its request to a window of this class.
struct HelpRequest {
  HWND from = nullptr;
  unsigned command = 0;
  long data = 0;
  std::string file;
  int count = 0;
};
HelpRequest gHelp;

LRESULT CALLBACK HelpViewerProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COPYDATA) {
    // The request: size (16 bits), command (16), data (32), reserved (32),
    // offset of the file name (16), offset of extra data (16), then the strings.
    constexpr std::size_t kCommandOffset = 2, kDataOffset = 4, kFileOffsetOffset = 12;
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
    const auto* bytes = static_cast<const unsigned char*>(cds->lpData);
    gHelp.from = reinterpret_cast<HWND>(wp);
    gHelp.command = bytes[kCommandOffset] | (bytes[kCommandOffset + 1] << 8);
    gHelp.data = static_cast<long>(bytes[kDataOffset] | (bytes[kDataOffset + 1] << 8) | (bytes[kDataOffset + 2] << 16) |
                                   (static_cast<unsigned long>(bytes[kDataOffset + 3]) << 24));
    const unsigned fileOffset = bytes[kFileOffsetOffset] | (bytes[kFileOffsetOffset + 1] << 8);
    gHelp.file = fileOffset != 0 ? reinterpret_cast<const char*>(bytes + fileOffset) : "";
    ++gHelp.count;
    return TRUE;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}

TEST_F(ToolkitTest, HelpContextReachesTheHelpViewer) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &HelpViewerProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "MS_WINHELP";
  RegisterClassA(&wc);
  vz::win::OwnedWindow viewer(CreateWindowExA(0, "MS_WINHELP", "Help", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                              GetModuleHandleA(nullptr), nullptr));
  ASSERT_TRUE(viewer);
  gHelp = HelpRequest{};
  CodeForm main(nullptr, "Help Main");
  App().SetMainForm(&main);
  App().SetHelpFile("C:\\Program Files\\VelmorFAX\\VZ.hlp");
  EXPECT_TRUE(App().HelpContext(1019));
  App().SetMainForm(nullptr);
  EXPECT_EQ(gHelp.count, 1);
  EXPECT_EQ(gHelp.command, static_cast<unsigned>(HELP_CONTEXT));
  EXPECT_EQ(gHelp.data, 1019);
  EXPECT_EQ(gHelp.file, "C:\\Program Files\\VelmorFAX\\VZ.hlp");
  EXPECT_EQ(gHelp.from, main.Handle());
  // Without a main form the request comes from the application window.
  EXPECT_TRUE(App().HelpContext(1020));
  EXPECT_EQ(gHelp.data, 1020);
  EXPECT_EQ(gHelp.from, App().Handle());
}

TEST_F(ToolkitTest, CenterOverMainFormUsesTheNormalRectangleOrTheScreen) {
  CodeForm main(nullptr, "Center Main");
  CodeForm dialog(nullptr, "Center Dialog");
  dialog.SetBounds(0, 0, 201, 101);
  const int sw = GetSystemMetrics(SM_CXSCREEN);
  const int sh = GetSystemMetrics(SM_CYSCREEN);
  dialog.SetPosition(poScreenCenter);
  dialog.Show();
  EXPECT_EQ(dialog.Left(), (sw - 201) / 2);
  EXPECT_EQ(dialog.Top(), (sh - 101) / 2);
  dialog.Hide();
  dialog.SetBounds(0, 0, 201, 101);
  CenterOverMainForm(&dialog);  // no main form: the screen
  EXPECT_EQ(dialog.Left(), (sw - 201) / 2);
  EXPECT_EQ(dialog.Top(), (sh - 101) / 2);

  App().SetMainForm(&main);
  main.SetBounds(100, 50, 400, 300);
  main.Show();
  CenterOverMainForm(&dialog);  // a shown main form: its rectangle counts
  EXPECT_EQ(dialog.Left(), 100 + (400 - 201) / 2);
  EXPECT_EQ(dialog.Top(), 50 + (300 - 101) / 2);
  RECT r{};
  GetWindowRect(dialog.Handle(), &r);
  EXPECT_EQ(r.left, 199);
  EXPECT_EQ(r.top, 149);

  ShowWindow(main.Handle(), SW_MAXIMIZE);
  CenterOverMainForm(&dialog);
  EXPECT_EQ(dialog.Left(), (sw - 201) / 2);
  EXPECT_EQ(dialog.Top(), (sh - 101) / 2);
  App().SetMainForm(nullptr);
}

namespace {

RECT WorkArea() {
  RECT work{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  return work;
}

bool Inside(const RECT& r, const RECT& work) {
  return r.left >= work.left && r.top >= work.top && r.right <= work.right && r.bottom <= work.bottom;
}

std::string Describe(const RECT& r) {
  return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
         std::to_string(r.bottom) + ")";
}

}  // namespace

// A program in the tray keeps its main form hidden where it was made, at the top-left
// corner: a dialog goes over the window that opened it instead, never off the screen.
TEST_F(ToolkitTest, WithTheMainFormHiddenMinimisedOrOffTheScreenADialogGoesOverItsOpener) {
  const RECT work = WorkArea();
  ASSERT_GT(work.right - work.left, 640);
  ASSERT_GT(work.bottom - work.top, 480);
  CodeForm main(nullptr, "Hidden Main");
  main.SetBounds(0, 0, 288, 126);
  App().SetMainForm(&main);
  CodeForm opener(nullptr, "Opener");
  opener.SetBounds(300, 200, 400, 300);
  opener.Show();
  CodeForm dialog(nullptr, "Placed Dialog");
  dialog.SetBounds(0, 0, 337, 190);
  ASSERT_EQ(GetActiveWindow(), opener.Handle());

  auto expectOverOpener = [&](const char* mainState) {
    dialog.SetBounds(0, 0, 337, 190);
    CenterOverMainForm(&dialog);
    RECT r{};
    GetWindowRect(dialog.Handle(), &r);
    EXPECT_EQ(r.left, 331) << mainState;  // 300 + (400 - 337) / 2
    EXPECT_EQ(r.top, 255) << mainState;   // 200 + (300 - 190) / 2
    EXPECT_TRUE(Inside(r, work)) << mainState << ": " << Describe(r);
  };
  expectOverOpener("hidden");
  main.Show();
  ShowWindow(main.Handle(), SW_MINIMIZE);
  opener.BringToFront();
  expectOverOpener("minimised");
  ShowWindow(main.Handle(), SW_RESTORE);
  main.SetBounds(-3000, -2000, 288, 126);
  opener.BringToFront();
  expectOverOpener("off the screen");
  main.Hide();

  // Nothing to go over: the middle of the work area. The opener's owner counts
  // when it is not the active window.
  opener.Hide();
  CenterOverMainForm(&dialog);
  EXPECT_EQ(dialog.Left(), work.left + ((work.right - work.left) - 337) / 2);
  EXPECT_EQ(dialog.Top(), work.top + ((work.bottom - work.top) - 190) / 2);
  opener.Show();
  dialog.SetOwnerWindow(opener.Handle());
  SetActiveWindow(nullptr);
  dialog.SetBounds(0, 0, 337, 190);
  CenterOverMainForm(&dialog);
  EXPECT_EQ(dialog.Left(), 331);
  EXPECT_EQ(dialog.Top(), 255);
  dialog.SetOwnerWindow(App().Handle());
  opener.Hide();
  App().SetMainForm(nullptr);
}

TEST_F(ToolkitTest, PlacedDialogsStayWhollyInsideTheWorkArea) {
  const RECT work = WorkArea();
  CodeForm main(nullptr, "Edge Main");
  CodeForm dialog(nullptr, "Edge Dialog");
  // Not sizeable, like the entry editor: the system does not cut it to the screen.
  dialog.SetBorderStyle(bsDialog);
  App().SetMainForm(&main);
  // A main form hanging over the bottom-right corner: the dialog stops at the edges.
  main.SetBounds(work.right - 150, work.bottom - 100, 400, 300);
  main.Show();
  dialog.SetBounds(0, 0, 337, 190);
  CenterOverMainForm(&dialog);
  EXPECT_EQ(dialog.Left(), work.right - 337);
  EXPECT_EQ(dialog.Top(), work.bottom - 190);
  // Over the top-left corner.
  main.SetBounds(work.left - 200, work.top - 150, 400, 300);
  CenterOverMainForm(&dialog);
  EXPECT_EQ(dialog.Left(), work.left);
  EXPECT_EQ(dialog.Top(), work.top);
  // Bigger than the work area: its top-left corner, where the title bar is.
  const int bigWidth = work.right - work.left + 120;
  const int bigHeight = work.bottom - work.top + 80;
  main.SetBounds(work.left + 100, work.top + 100, 400, 300);
  dialog.SetBounds(0, 0, bigWidth, bigHeight);
  CenterOverMainForm(&dialog);
  EXPECT_EQ(dialog.Left(), work.left);
  EXPECT_EQ(dialog.Top(), work.top);
  EXPECT_EQ(dialog.Width(), bigWidth);
  main.Hide();
  App().SetMainForm(nullptr);
  // Centred on the screen, likewise.
  dialog.SetPosition(poScreenCenter);
  dialog.Show();
  RECT r{};
  GetWindowRect(dialog.Handle(), &r);
  EXPECT_EQ(r.left, work.left);
  EXPECT_EQ(r.top, work.top);
  dialog.Hide();
}

TEST_F(ToolkitTest, MinimiseAndRestoreTellEverySubscriber) {
  CodeForm main(nullptr, "Tray Main");
  App().SetMainForm(&main);
  main.Show();
  robot::Pump(50);
  int a = 0, b = 0, restored = 0;
  App().OnMinimize.Add(&a, [&](TComponent* sender) {
    EXPECT_EQ(sender, &App());
    ++a;
  });
  App().OnMinimize.Add(&b, [&](TComponent*) { ++b; });
  App().OnRestore.Add(&a, [&](TComponent*) { ++restored; });
  // The main form's minimise box minimises the program.
  SendMessageA(main.Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(App().Minimized());
  EXPECT_TRUE(IsIconic(main.Handle()));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 1);
  App().Minimize();  // already minimised: nobody is told again
  EXPECT_EQ(a, 1);
  App().OnMinimize.Remove(&b);
  App().Restore();
  EXPECT_FALSE(App().Minimized());
  EXPECT_FALSE(IsIconic(main.Handle()));
  EXPECT_EQ(restored, 1);
  App().Minimize();
  EXPECT_EQ(a, 2);
  EXPECT_EQ(b, 1);
  App().Restore();
  App().OnMinimize.Remove(&a);
  App().OnRestore.Remove(&a);
  App().SetMainForm(nullptr);
}

TEST_F(ToolkitTest, ErrorInAHandlerIsShownAndTheProgramGoesOn) {
  CodeForm form(nullptr, "Error Form");
  form.phone->OnClick = [](TComponent*) { throw Exception("Unable to open the phone book"); };
  HWND phone = form.phone->Handle();
  std::string shown;
  robot::Robot r([&](robot::Robot& r) {
    if (!r.Expect([&] { return IsWindowVisible(form.Handle()) != FALSE; }, "the form")) return;
    PostMessageA(phone, BM_CLICK, 0, 0);
    HWND box = r.WaitForWindow("#32770", "Toolkit Test");
    if (box == nullptr) return;
    shown = WindowText(GetDlgItem(box, 0xFFFF));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    if (!r.Expect([] { return robot::FindVisible("#32770", "Toolkit Test") == nullptr; }, "the error box to go")) return;
    PostMessageA(form.ok->Handle(), BM_CLICK, 0, 0);
  }, [&] {
    CloseMessageBoxes();
    PostMessageA(form.Handle(), WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(form.ShowModal(), mrOk);
  r.Join();
  EXPECT_TRUE(r.Ok()) << r.Failure();
  EXPECT_EQ(shown, "Unable to open the phone book");
}

TEST_F(ToolkitTest, BottomAlignedPanelFollowsTheForm) {
  CodeForm form(nullptr, "Panel Form");
  form.SetClientSize(331, 166);
  auto* panel = new TPanel(&form);
  panel->SetHeight(53);
  panel->SetSingleBorder(true);
  panel->SetAlign(alBottom);
  panel->SetParent(&form);
  EXPECT_EQ(panel->Left(), 0);
  EXPECT_EQ(panel->Top(), 113);
  EXPECT_EQ(panel->Width(), 331);
  EXPECT_EQ(panel->Height(), 53);
  form.SetClientSize(400, 200);
  EXPECT_EQ(panel->Top(), 147);
  EXPECT_EQ(panel->Width(), 400);
  EXPECT_TRUE(GetWindowLongPtrA(panel->Handle(), GWL_STYLE) & WS_BORDER);

  // Controls put on a panel before the panel is on the form get their windows with it.
  TPanel loose(nullptr);
  auto* edit = new TEdit(&loose);
  edit->SetParent(&loose);
  EXPECT_EQ(edit->Handle(), nullptr);
  loose.SetParent(&form);
  ASSERT_NE(edit->Handle(), nullptr);
  EXPECT_EQ(GetParent(edit->Handle()), loose.Handle());
  loose.SetParent(nullptr);

  // The area above fills the rest, its contents kept 20 pixels from its edges.
  auto* upper = new TPanel(&form);
  upper->SetBorderWidth(20);
  upper->SetAlign(alClient);
  upper->SetParent(&form);
  auto* grid = new TPanel(&form);
  grid->SetAlign(alClient);
  grid->SetParent(upper);
  EXPECT_EQ(upper->Height(), 147);
  EXPECT_EQ(grid->Left(), 20);
  EXPECT_EQ(grid->Top(), 20);
  EXPECT_EQ(grid->Width(), 360);
  EXPECT_EQ(grid->Height(), 107);
  form.SetClientSize(434, 300);
  EXPECT_EQ(panel->Top(), 247);
  EXPECT_EQ(grid->Width(), 394);
  EXPECT_EQ(grid->Height(), 207);
}

// Replaces the owner in *lp with the tooltip window it owns.
BOOL CALLBACK FindOwnedTooltip(HWND wnd, LPARAM lp) {
  auto* found = reinterpret_cast<HWND*>(lp);
  char cls[64] = {};
  GetClassNameA(wnd, cls, sizeof(cls));
  if (lstrcmpiA(cls, TOOLTIPS_CLASSA) == 0 && GetWindow(wnd, GW_OWNER) == *found) {
    *found = wnd;
    return FALSE;
  }
  return TRUE;
}

// Moves the mouse onto the control's centre as the user's would: the pointer goes there
// and the window under it has the move queued, handled through the application's loop.
void MoveMouseOnto(const TControl& control) {
  const POINT centre = control.ClientToScreen({control.Width() / 2, control.Height() / 2});
  SetCursorPos(centre.x, centre.y);
  HWND under = WindowFromPoint(centre);
  POINT client = centre;
  ScreenToClient(under, &client);
  PostMessageA(under, WM_MOUSEMOVE, 0, MAKELPARAM(client.x, client.y));
  App().ProcessMessages();
}

// The tooltip the form made for its hints, or null.
HWND TooltipOf(const TForm& form) {
  HWND tooltip = form.Handle();
  EnumThreadWindows(GetCurrentThreadId(), &FindOwnedTooltip, reinterpret_cast<LPARAM>(&tooltip));
  return tooltip != form.Handle() ? tooltip : nullptr;
}

// The tool the tooltip shows once the mouse rests on the control, or 0 when none shows
// within 5 s.
UINT_PTR ToolShownUnderMouseAt(HWND tooltip, const TControl& control) {
  MoveMouseOnto(control);
  const DWORD deadline = GetTickCount() + 5000;
  while (!IsWindowVisible(tooltip) && GetTickCount() < deadline) {
    App().ProcessMessages();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  TOOLINFOA ti{};
  ti.cbSize = TTTOOLINFOA_V2_SIZE;
  const bool shown = IsWindowVisible(tooltip) && SendMessageA(tooltip, TTM_GETCURRENTTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
  SendMessageA(tooltip, TTM_POP, 0, 0);
  return shown ? ti.uId : 0;
}

TEST_F(ToolkitTest, HintsBecomeTooltipsWithLineBreaks) {
  EXPECT_EQ(HintDisplayText("Cancel - do not use\rfor the current fax"), "Cancel - do not use\r\nfor the current fax");
  EXPECT_EQ(HintDisplayText("two\r\nlines"), "two\r\nlines");
  EXPECT_EQ(HintDisplayText("end\r"), "end\r\n");

  CodeForm form(nullptr, "Hint Form");
  form.SetShowHint(true);
  form.edit->SetHint("Type the recipient's name here");
  form.label->SetHint("A label\rwith two lines");
  form.other->SetHint("");
  form.Show();
  // Made when the mouse first moves over the form.
  EXPECT_EQ(TooltipOf(form), nullptr);
  MoveMouseOnto(*form.ok);
  HWND tooltip = TooltipOf(form);
  ASSERT_NE(tooltip, nullptr);
  EXPECT_EQ(SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0), 2);
  form.label->SetShowHint(false);
  MoveMouseOnto(*form.ok);
  EXPECT_EQ(SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0), 1);
}

TEST_F(ToolkitTest, TheHintOfWhatTheMouseRestsOnShows) {
  CodeForm form(nullptr, "Hover Form");
  form.SetShowHint(true);
  form.edit->SetHint("Type the recipient's name here");
  form.label->SetHint("A label");
  form.Show();
  MoveMouseOnto(*form.ok);
  HWND tooltip = TooltipOf(form);
  ASSERT_NE(tooltip, nullptr);
  EXPECT_EQ(ToolShownUnderMouseAt(tooltip, *form.edit), reinterpret_cast<UINT_PTR>(form.edit->Handle()));
  // A label has no window: its parent's moves show its hint.
  EXPECT_EQ(ToolShownUnderMouseAt(tooltip, *form.label), reinterpret_cast<UINT_PTR>(form.label));
}

// A control without a window that counts its paints.
class TPaintCounter : public TGraphicControl {
 public:
  using TGraphicControl::TGraphicControl;
  int paints = 0;

 protected:
  void Paint(HDC) override { ++paints; }
};

// What changed while a form was hidden (nothing is invalidated then) is painted when
// it shows, and a change while it is shown is queued for the paint as before.
TEST_F(ToolkitTest, WhatChangesWhileAFormIsHiddenIsPaintedWhenItShows) {
  CodeForm form(nullptr, "Hidden Changes");
  auto* counter = new TPaintCounter(&form);
  counter->SetBounds(10, 130, 50, 20);
  counter->SetParent(&form);
  form.Show();
  UpdateWindow(form.Handle());
  const int shown = counter->paints;
  EXPECT_GT(shown, 0);
  form.Hide();
  counter->SetBounds(20, 130, 50, 20);
  form.label->SetCaption("Changed");
  form.edit->SetColor(clBtnFace);
  form.Show();
  UpdateWindow(form.Handle());
  EXPECT_GT(counter->paints, shown);
  counter->Invalidate();
  EXPECT_TRUE(GetUpdateRect(form.Handle(), nullptr, FALSE));
}

// Last in the file: it leaves the application terminating.
TEST_F(ToolkitTest, ModalFormEndsWithCancelAtOnceWhenTheApplicationTerminates) {
  CodeForm form(nullptr, "Terminating Form");
  App().Terminate();
  std::atomic<bool> returned{false};
  robot::Robot guard([&](robot::Robot& r) {
    r.Expect([&] { return returned.load(); }, "the modal loop to end by itself", 3000);
  }, EscapeByClosing(form.Handle()));
  EXPECT_EQ(form.ShowModal(), mrCancel);
  returned = true;
  guard.Join();
  EXPECT_TRUE(guard.Ok()) << guard.Failure();
  EXPECT_TRUE(App().Terminated());
  // The quit is left for the program's own loop as well.
  MSG msg;
  EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

}  // namespace
