#include "toolkit/forms.hpp"

#include <commctrl.h>

#include <cctype>
#include <map>

#include "toolkit/application.hpp"
#include "toolkit/exception.hpp"
#include "toolkit/placement.hpp"
#include "toolkit/stdctrls.hpp"

namespace {

// Style bits of a template that belong to the dialog manager, not to the window.
constexpr DWORD kWindowStyleMask = 0xFFFF0000u;
constexpr DWORD kDsModalFrame = 0x80;
constexpr DWORD kDsCenter = 0x800;
constexpr int kScreenDpi = 96;
constexpr int kPointsPerInch = 72;
constexpr int kHintMaxWidth = 400;

std::map<std::string, TControlFactory>& Factories() {
  static std::map<std::string, TControlFactory> factories;
  return factories;
}

void EnsureCommonControls() {
  static bool done = false;
  if (done) return;
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  done = true;
}

DWORD StyleFor(TFormBorderStyle border, TBorderIcons icons) {
  DWORD style = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  switch (border) {
    case bsNone: style |= WS_POPUP; break;
    case bsSingle: style |= WS_CAPTION; break;
    case bsSizeable: style |= WS_CAPTION | WS_THICKFRAME; break;
    case bsDialog: style |= WS_POPUP | WS_CAPTION; break;
  }
  if (border != bsNone && (icons & biSystemMenu)) {
    style |= WS_SYSMENU;
    if (border != bsDialog) {
      if (icons & biMinimize) style |= WS_MINIMIZEBOX;
      if (icons & biMaximize) style |= WS_MAXIMIZEBOX;
    }
  }
  return style;
}

}  // namespace

// Class names compare without regard to case, as window classes do (windres
// writes them in capitals).
static std::string ClassKey(const std::string& name) {
  std::string key = name;
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

void RegisterControlClass(const std::string& className, TControlFactory factory) {
  Factories()[ClassKey(className)] = std::move(factory);
}

std::string HintDisplayText(const std::string& hint) {
  std::string out;
  for (std::size_t i = 0; i < hint.size(); ++i) {
    out += hint[i];
    if (hint[i] == '\r' && (i + 1 >= hint.size() || hint[i + 1] != '\n')) out += '\n';
  }
  return out;
}

// ---------------------------------------------------------------- TaskWindowsDisabler

namespace {

struct EnabledWindowWalk {
  HWND keep;
  std::vector<HWND>* out;
};

BOOL CALLBACK CollectEnabledWindow(HWND wnd, LPARAM lp) {
  auto* walk = reinterpret_cast<EnabledWindowWalk*>(lp);
  if (wnd != walk->keep && IsWindowVisible(wnd) && IsWindowEnabled(wnd)) walk->out->push_back(wnd);
  return TRUE;
}

}  // namespace

TaskWindowsDisabler::TaskWindowsDisabler(HWND keep) {
  EnabledWindowWalk walk{keep, &disabled_};
  EnumThreadWindows(GetCurrentThreadId(), &CollectEnabledWindow, reinterpret_cast<LPARAM>(&walk));
  for (HWND wnd : disabled_) EnableWindow(wnd, FALSE);
}

void TaskWindowsDisabler::Restore() {
  for (HWND wnd : disabled_)
    if (IsWindow(wnd)) EnableWindow(wnd, TRUE);
  disabled_.clear();
}

// ---------------------------------------------------------------- TForm

TForm::TForm(TComponent* owner, const std::string& windowClass) : TWinControl(owner) {
  SetVisible(false);
  SetColor(clBtnFace);
  CreateFormWindow(windowClass, "", StyleFor(bsSizeable, biSystemMenu | biMinimize | biMaximize), 0, 320, 240);
}

TForm::TForm(TComponent* owner, const char* templateName, HINSTANCE instance) : TWinControl(owner) {
  SetVisible(false);
  SetColor(clBtnFace);
  if (instance == nullptr) instance = GetModuleHandleA(nullptr);
  HRSRC res = FindResourceA(instance, templateName, MAKEINTRESOURCEA(5) /* RT_DIALOG */);
  HGLOBAL data = res != nullptr ? LoadResource(instance, res) : nullptr;
  if (data == nullptr) throw Exception("Form template not found");
  const auto* bytes = static_cast<const std::uint8_t*>(LockResource(data));
  const vz::dlg::Template t = vz::dlg::Parse(bytes, SizeofResource(instance, res));
  if (t.pointSize > 0) {
    Font().SetHeight(-MulDiv(t.pointSize, kScreenDpi, kPointsPerInch));
    if (!t.typeface.empty()) Font().SetName(t.typeface);
    Font().SetStyle((t.weight >= FW_BOLD ? fsBold : 0u) | (t.italic ? fsItalic : 0u));
  }
  DWORD exStyle = t.exStyle;
  if (t.style & kDsModalFrame) exStyle |= WS_EX_DLGMODALFRAME;
  const DWORD style = (t.style & kWindowStyleMask & ~static_cast<DWORD>(WS_VISIBLE | WS_CHILD)) | WS_CLIPCHILDREN;
  if (t.style & kDsCenter) position_ = poScreenCenter;
  CreateFormWindow(t.className.empty() ? "TForm" : t.className, t.title, style, exStyle, t.cx, t.cy);
  if (!(t.style & kDsCenter)) SetBounds(t.x, t.y, Width(), Height());
  BeginLoading();
  CreateTemplateControls(t);
  EndLoading();
}

void TForm::CreateFormWindow(const std::string& windowClass, const std::string& caption, DWORD style,
                             DWORD exStyle, int clientWidth, int clientHeight) {
  EnsureCommonControls();
  RECT r{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&r, style, FALSE, exStyle | WS_EX_CONTROLPARENT);
  CreateParams p;
  p.className = windowClass;
  p.caption = caption;
  p.style = style;
  p.exStyle = exStyle | WS_EX_CONTROLPARENT;
  p.width = r.right - r.left;
  p.height = r.bottom - r.top;
  p.parent = Application != nullptr ? Application->Handle() : nullptr;
  p.icon = LoadIconA(GetModuleHandleA(nullptr), "MAINICON");
  TControl::SetCaption(caption);
  CreateHandle(p);
  RECT wr{};
  GetWindowRect(Handle(), &wr);
  SetBounds(wr.left, wr.top, wr.right - wr.left, wr.bottom - wr.top);
  InstallFilter();
}

void TForm::InstallFilter() {
  if (Application == nullptr) return;
  Application->AddMessageFilter(this, [this](MSG& msg) { return FilterMessage(msg); });
}

TForm::~TForm() {
  Destroying();
  if (Application != nullptr) {
    Application->RemoveMessageFilter(this);
    if (Application->MainForm() == this) Application->SetMainForm(nullptr);
  }
}

void TForm::CreateTemplateControls(const vz::dlg::Template& t) {
  RegisterStandardControls();
  for (const vz::dlg::Item& item : t.items) {
    std::string className = item.className;
    bool defaultButton = false;
    if (item.classOrdinal == vz::dlg::kClassButton) {
      const DWORD kind = item.style & 0x0F;
      if (kind != BS_PUSHBUTTON && kind != BS_DEFPUSHBUTTON)
        throw Exception("Form template: only push buttons are supported");
      defaultButton = kind == BS_DEFPUSHBUTTON;
      className = "TButton";
    } else if (item.classOrdinal == vz::dlg::kClassEdit) {
      className = "TEdit";
    } else if (item.classOrdinal == vz::dlg::kClassStatic) {
      className = "TLabel";
    }
    const auto factory = Factories().find(ClassKey(className));
    if (factory == Factories().end()) throw Exception("Form template: unknown control class " + className);
    TControl* control = factory->second(this);
    control->SetId(static_cast<int>(item.id));
    control->SetCaption(item.title);
    control->SetBounds(item.x, item.y, item.cx, item.cy);
    control->SetVisible((item.style & WS_VISIBLE) != 0);
    control->SetEnabled((item.style & WS_DISABLED) == 0);
    if (auto* w = dynamic_cast<TWinControl*>(control)) w->SetTabStop((item.style & WS_TABSTOP) != 0);
    if (auto* b = dynamic_cast<TButton*>(control)) b->SetDefault(defaultButton);
    TWinControl* parent = this;
    if (item.helpId != 0) {
      parent = dynamic_cast<TWinControl*>(FindControlById(static_cast<int>(item.helpId)));
      if (parent == nullptr) throw Exception("Form template: no container with id " + std::to_string(item.helpId));
    }
    control->SetParent(parent);
  }
}

TControl* TForm::FindControlById(int id) const {
  std::vector<const TWinControl*> todo{this};
  while (!todo.empty()) {
    const TWinControl* w = todo.back();
    todo.pop_back();
    for (std::size_t i = 0; i < w->ControlCount(); ++i) {
      TControl* c = w->Controls(i);
      if (c->Id() == id) return c;
      if (c->IsWindowed()) todo.push_back(static_cast<TWinControl*>(c));
    }
  }
  return nullptr;
}

void TForm::Loaded() {
  TWinControl::Loaded();
  RefreshHints();
}

void TForm::SetBorderStyle(TFormBorderStyle style) {
  const LONG_PTR keep = GetWindowLongPtrA(Handle(), GWL_STYLE) & WS_VISIBLE;
  SetWindowLongPtrA(Handle(), GWL_STYLE, static_cast<LONG_PTR>(StyleFor(style, biSystemMenu)) | keep);
  LONG_PTR ex = GetWindowLongPtrA(Handle(), GWL_EXSTYLE);
  ex = style == bsDialog ? (ex | WS_EX_DLGMODALFRAME) : (ex & ~static_cast<LONG_PTR>(WS_EX_DLGMODALFRAME));
  SetWindowLongPtrA(Handle(), GWL_EXSTYLE, ex);
  SetWindowPos(Handle(), nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void TForm::SetBorderIcons(TBorderIcons icons) {
  LONG_PTR style = GetWindowLongPtrA(Handle(), GWL_STYLE);
  style &= ~static_cast<LONG_PTR>(WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
  if (icons & biSystemMenu) {
    style |= WS_SYSMENU;
    if (icons & biMinimize) style |= WS_MINIMIZEBOX;
    if (icons & biMaximize) style |= WS_MAXIMIZEBOX;
  }
  SetWindowLongPtrA(Handle(), GWL_STYLE, style);
  SetWindowPos(Handle(), nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void TForm::SetClientSize(int width, int height) {
  RECT r{0, 0, width, height};
  AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrA(Handle(), GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrA(Handle(), GWL_EXSTYLE)));
  SetBounds(Left(), Top(), r.right - r.left, r.bottom - r.top);
}

int TForm::ClientWidth() const {
  const RECT r = ClientRect();
  return r.right - r.left;
}

int TForm::ClientHeight() const {
  const RECT r = ClientRect();
  return r.bottom - r.top;
}

void TForm::SetOwnerWindow(HWND owner) {
  SetWindowLongPtrA(Handle(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
}

void TForm::SetIcon(HICON icon) {
  SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageA(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void TForm::SetActiveControl(TWinControl* control) {
  lastFocus_ = control != nullptr ? control->Handle() : nullptr;
  if (Active() && control != nullptr) control->SetFocus();
}

bool TForm::Active() const { return Handle() != nullptr && GetActiveWindow() == Handle(); }

void TForm::BringToFront() {
  SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(Handle());
  SetActiveWindow(Handle());
}

void TForm::PlaceByPosition() {
  if (position_ == poMainFormCenter) {
    CenterOverMainForm(this);
    return;
  }
  if (position_ != poScreenCenter) return;
  PlaceCentredOver(*this, RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)});
}

void TForm::Show() {
  PlaceByPosition();
  RefreshHints();
  SetVisible(true);
  if (OnShow) OnShow(this);
}

void TForm::Hide() { SetVisible(false); }

void TForm::VisibleChanged() {
  if (Handle() != nullptr) {
    if (Visible()) {
      ShowWindow(Handle(), SW_SHOW);
      SetActiveWindow(Handle());
    } else {
      ShowWindow(Handle(), SW_HIDE);
    }
  }
}

void TForm::Close() {
  if (OnClose) OnClose(this);
  if (modal_) {
    modalResult_ = mrCancel;
  } else if (Application != nullptr && Application->MainForm() == this) {
    Hide();
    Application->Terminate();
  } else {
    Hide();
  }
}

int TForm::ShowModal() {
  if (modal_) throw EInvalidOperation("Cannot make a visible window modal");
  if (Application == nullptr) throw EInvalidOperation("A modal form needs the application object");
  HWND previous = GetActiveWindow();
  modalResult_ = mrNone;
  modal_ = true;
  int result = mrCancel;
  {
    TaskWindowsDisabler disabler(Handle());
    try {
      Show();
      while (modalResult_ == mrNone) {
        if (Application->Terminated() || !Application->HandleMessage()) modalResult_ = mrCancel;
      }
    } catch (...) {
      modal_ = false;
      disabler.Restore();
      Hide();
      throw;
    }
    result = modalResult_;
    disabler.Restore();
  }
  modal_ = false;
  // Activate the earlier window before hiding, so the activation does not wander.
  if (previous != nullptr && previous != Handle() && IsWindow(previous) && IsWindowVisible(previous))
    SetActiveWindow(previous);
  Hide();
  if (previous != nullptr && previous != Handle() && IsWindow(previous) && IsWindowVisible(previous))
    SetActiveWindow(previous);
  return result;
}

bool TForm::FilterMessage(MSG& msg) {
  HWND form = Handle();
  if (form == nullptr || !IsWindowVisible(form) || !IsWindowEnabled(form)) return false;
  if (msg.hwnd != form && !IsChild(form, msg.hwnd)) return false;
  // The tooltip learns where the mouse is from here. Left to subclass the controls'
  // windows itself, it would look up a window property for every message they get,
  // a round trip to the window server under Wine.
  if (msg.message >= WM_MOUSEFIRST && msg.message <= WM_MOUSELAST) RelayToHints(msg);
  if (msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE)) {
    // A control that wants every key (a multi-line edit) keeps Enter and Esc.
    const LRESULT code = SendMessageA(msg.hwnd, WM_GETDLGCODE, msg.wParam, reinterpret_cast<LPARAM>(&msg));
    if (!(code & DLGC_WANTALLKEYS) && BroadcastDialogKey(static_cast<unsigned>(msg.wParam))) return true;
  } else if (msg.message == WM_SYSCHAR) {
    if (BroadcastDialogChar(static_cast<char>(msg.wParam))) return true;
  }
  if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) return IsDialogMessageA(form, &msg) != FALSE;
  return false;
}

LRESULT TForm::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CLOSE:
      Close();
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wp) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(Handle(), focus)) lastFocus_ = focus;
      } else {
        if (lastFocus_ != nullptr && IsWindow(lastFocus_) && IsChild(Handle(), lastFocus_) &&
            IsWindowVisible(lastFocus_) && IsWindowEnabled(lastFocus_)) {
          ::SetFocus(lastFocus_);
        } else if (HWND first = GetNextDlgTabItem(Handle(), nullptr, FALSE)) {
          ::SetFocus(first);
        } else {
          ::SetFocus(Handle());
        }
        if (OnActivate) OnActivate(this);
      }
      return 0;
    case WM_SYSCOMMAND:
      if (Application != nullptr && Application->MainForm() == this) {
        if ((wp & 0xFFF0) == SC_MINIMIZE) {
          Application->Minimize();
          return 0;
        }
        if ((wp & 0xFFF0) == SC_RESTORE && Application->Minimized()) {
          Application->Restore();
          return 0;
        }
      }
      break;
    case DM_GETDEFID:
      return 0;
    default:
      break;
  }
  return TWinControl::OnMessage(msg, wp, lp);
}

void TForm::RefreshHints() { hintsStale_ = true; }

void TForm::RelayToHints(MSG& msg) {
  if (hintsStale_ && !HasState(csLoading) && !HasState(csDestroying)) RebuildHints();
  if (tooltip_ != nullptr) SendMessageA(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}

// The tooltip is made the first time the mouse moves over the form: a window less
// to make before the form first shows.
void TForm::RebuildHints() {
  hintsStale_ = false;
  if (tooltip_ == nullptr || !IsWindow(tooltip_)) {
    tooltip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    if (tooltip_ == nullptr) return;
    SendMessageA(tooltip_, TTM_SETMAXTIPWIDTH, 0, kHintMaxWidth);
  }
  for (LRESULT n = SendMessageA(tooltip_, TTM_GETTOOLCOUNT, 0, 0); n > 0; --n) {
    TOOLINFOA ti{};
    ti.cbSize = TTTOOLINFOA_V2_SIZE;
    if (!SendMessageA(tooltip_, TTM_ENUMTOOLSA, static_cast<WPARAM>(n - 1), reinterpret_cast<LPARAM>(&ti))) break;
    SendMessageA(tooltip_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
  }
  std::vector<TWinControl*> todo{this};
  while (!todo.empty()) {
    TWinControl* w = todo.back();
    todo.pop_back();
    for (std::size_t i = 0; i < w->ControlCount(); ++i) {
      TControl* c = w->Controls(i);
      if (c->IsWindowed()) todo.push_back(static_cast<TWinControl*>(c));
      if (c->Visible() && c->ShowHint() && !c->Hint().empty()) AddHintTool(*w, *c);
    }
  }
}

void TForm::AddHintTool(const TWinControl& parent, const TControl& c) {
  std::string text = HintDisplayText(c.Hint());
  TOOLINFOA ti{};
  ti.cbSize = TTTOOLINFOA_V2_SIZE;
  if (c.IsWindowed()) {
    ti.uFlags = TTF_IDISHWND;
    ti.hwnd = Handle();
    ti.uId = reinterpret_cast<UINT_PTR>(static_cast<const TWinControl&>(c).Handle());
  } else {
    ti.hwnd = parent.Handle();
    ti.uId = reinterpret_cast<UINT_PTR>(&c);
    ti.rect = c.BoundsRect();
  }
  ti.lpszText = text.data();
  SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
}

// The window to centre a dialog over: the main form while the user can see it, else
// the window that opened the dialog (the active one, or the dialog's owner). A
// program living in the tray keeps its main form hidden, wherever it was made.
static HWND PlacementReference(const TForm& dialog) {
  TForm* main = Application != nullptr ? Application->MainForm() : nullptr;
  if (main != nullptr && main != &dialog && PlacesOthers(main->Handle())) return main->Handle();
  for (HWND opener : {GetActiveWindow(), GetWindow(dialog.Handle(), GW_OWNER)})
    if (opener != dialog.Handle() && PlacesOthers(opener)) return opener;
  return nullptr;
}

void CenterOverMainForm(TForm* dialog) {
  HWND reference = PlacementReference(*dialog);
  dialog->SetPosition(poDesigned);
  PlaceCentredOver(*dialog, reference != nullptr ? ReferenceRect(reference) : PrimaryWorkArea());
}
