#include "widgets/trayicon.hpp"

#include <cstdlib>
#include <cstring>
#include <exception>

#include "platform/windowclass.hpp"
#include "toolkit/application.hpp"
#include "toolkit/exception.hpp"
#include "toolkit/forms.hpp"
#include "toolkit/menus.hpp"
#include "widgets/win32_traytimers.hpp"

namespace {

// One flag for all tray icons: set while an OnStateChanging handler runs.
bool inStateChanging = false;
// The start-up mechanism's hidden owner window and its hook.
HWND hiddenOwner = nullptr;
HHOOK startupHook = nullptr;

TShellNotifyIconFunc& ShellFunc() {
  static TShellNotifyIconFunc func;
  return func;
}

BOOL ShellNotifyIcon(DWORD operation, NOTIFYICONDATAA& data) {
  if (ShellFunc()) return ShellFunc()(operation, data);
  return Shell_NotifyIconA(operation, &data);
}

HWND ApplicationWindow() { return Application != nullptr ? Application->Handle() : nullptr; }

// Unlocks the desktop however the step it guards ends.
class DesktopLock {
 public:
  explicit DesktopLock(TTrayIcon95& icon) : icon_(icon) { icon_.LockDesktopUpdate(true); }
  DesktopLock(const DesktopLock&) = delete;
  DesktopLock& operator=(const DesktopLock&) = delete;
  ~DesktopLock() { icon_.LockDesktopUpdate(false); }

 private:
  TTrayIcon95& icon_;
};

}  // namespace

TShellNotifyIconFunc SetShellNotifyIconFunc(TShellNotifyIconFunc func) {
  TShellNotifyIconFunc previous = std::move(ShellFunc());
  ShellFunc() = std::move(func);
  return previous;
}

// --- TTrayIcon95 -----------------------------------------------------------

TTrayIcon95::TTrayIcon95(TComponent* owner) : TComponent(owner) {
  if (dynamic_cast<TForm*>(owner) == nullptr) throw EInvalidOperation("TrayIcons must be owned by a Form !");
  HWND app = ApplicationWindow();
  if (hiddenOwner != nullptr && !Designing() && app != nullptr) {
    ShowWindow(app, SW_HIDE);
    SetParent(app, nullptr);
  }
  timers_ = new TTimerManager(this, SystemTickClock(), MakeWindowTimer());
  timers_->SetEnabled(true);
  msgWindow_ = new TTrayIconMsgWindow(this, timers_);
  RebuildTip();
  animation_ = std::make_unique<TTrayIconAnimation>(static_cast<TTrayIconAnimationHost&>(*this));
  animation_->SetTimerItem(timers_->AddItem(false, 1000, [this](TComponent*) { animation_->Step(); }));
  icon_.OnChange = [this] { IconChanged(); };
  disabledIcon_.OnChange = [this] { IconChanged(); };
  if (Application != nullptr) {
    Application->OnMinimize.Add(this, [this](TComponent*) { ApplicationMinimized(); });
    Application->OnRestore.Add(this, [this](TComponent*) { ApplicationRestored(); });
    subscribedTo_ = Application;
  }
}

TTrayIcon95::~TTrayIcon95() {
  Destroying();
  UnsubscribeApplication();
  try {
    Deactivate();
  } catch (...) {
    // Going anyway: a failing shell call must not stop the clean-up.
  }
  if (popupMenu_ != nullptr) RemoveFreeNotification(popupMenu_);
  delete msgWindow_;
  msgWindow_ = nullptr;
  animation_->SetTimerItem(nullptr);
  // Stops the shared timer; the items go with the manager.
  delete timers_;
  timers_ = nullptr;
}

void TTrayIcon95::UnsubscribeApplication() noexcept {
  // An application being destroyed has already left `Application` and taken its lists with it.
  if (subscribedTo_ != nullptr && subscribedTo_ == Application) {
    Application->OnMinimize.Remove(this);
    Application->OnRestore.Remove(this);
  }
  subscribedTo_ = nullptr;
}

HWND TTrayIcon95::WindowHandle() const noexcept { return msgWindow_ != nullptr ? msgWindow_->Handle() : nullptr; }

void TTrayIcon95::SetActive(bool value) {
  if (Designing() || Reading()) {
    active_ = value;
    return;
  }
  if (value)
    Activate();
  else
    Deactivate();
}

void TTrayIcon95::Activate() {
  if (active_) return;
  UpdateTrayIcon();
  active_ = true;
  CallShell(NIM_ADD);
  if (state_ == tsAnimated) animation_->Start();
}

void TTrayIcon95::Deactivate() {
  if (!active_) return;
  active_ = false;
  if (state_ == tsAnimated) animation_->Stop();
  CallShell(NIM_DELETE);
}

void TTrayIcon95::Modify() { CallShell(NIM_MODIFY); }

void TTrayIcon95::CallShell(DWORD operation) {
  if (Reading()) return;
  NOTIFYICONDATAA data{};
  data.cbSize = NOTIFYICONDATAA_V1_SIZE;
  data.hWnd = WindowHandle();
  data.uID = kTrayIconId;
  data.uFlags = kTrayIconFlags;
  data.uCallbackMessage = kTrayIconMessage;
  data.hIcon = displayed_.Handle();
  std::memcpy(data.szTip, tip_.data(), tip_.size());  // at most 63 characters, the rest stays zero
  ShellNotifyIcon(operation, data);
}

void TTrayIcon95::Loaded() {
  TComponent::Loaded();
  // Added once, now that every loaded property is in place.
  if (active_ && !Designing()) {
    active_ = false;
    Activate();
  }
}

void TTrayIcon95::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == popupMenu_) popupMenu_ = nullptr;
}

void TTrayIcon95::SetPopupMenu(TPopupMenu* menu) {
  if (popupMenu_ != nullptr) RemoveFreeNotification(popupMenu_);
  popupMenu_ = menu;
  if (popupMenu_ != nullptr) FreeNotification(popupMenu_);
}

void TTrayIcon95::UpdateTrayIcon() {
  if (Designing()) return;
  switch (state_) {
    case tsEnabled:
      displayed_.Assign(icon_);
      break;
    case tsDisabled:
      displayed_.Assign(disabledIcon_);
      break;
    case tsAnimated:
      animation_->LoadFrame(animation_->CurrentFrame());
      break;
  }
  if (active_) Modify();
}

void TTrayIcon95::IconChanged() {
  if (!Designing() && active_) UpdateTrayIcon();
}

void TTrayIcon95::RebuildTip() { tip_ = showHint_ ? hint_.substr(0, kTrayTipLength) : std::string(); }

void TTrayIcon95::SetHint(const std::string& hint) {
  if (hint == hint_) return;
  hint_ = hint;
  if (showHint_) SetShowHint(true);
}

void TTrayIcon95::SetShowHint(bool value) {
  showHint_ = value;
  RebuildTip();
  if (active_ && !Designing()) Modify();
}

void TTrayIcon95::SetState(TTrayIconState value) {
  if (inStateChanging) {
    inStateChanging = false;
    throw EInvalidOperation("You cannot modify the state property in the OnStateChanging event !!!");
  }
  if (!active_ || Reading()) {
    state_ = value;
    return;
  }
  if (value == state_) return;
  if (OnStateChanging) {
    inStateChanging = true;
    try {
      OnStateChanging(this, value);
    } catch (...) {
      inStateChanging = false;
      throw;
    }
    inStateChanging = false;
  }
  if (value == state_) return;
  if (state_ == tsAnimated) animation_->Stop();
  state_ = value;
  UpdateTrayIcon();
  if (state_ == tsAnimated) animation_->Start();
}

void TTrayIcon95::AnimationFired() {
  if (OnAnimation) OnAnimation(this);
}

void TTrayIcon95::LoadDisplayedIconFile(const std::string& path) { displayed_.LoadFromFile(path); }

bool TTrayIcon95::LoadDisplayedIconResource(const std::string& name) {
  return displayed_.LoadFromResourceName(GetModuleHandleA(nullptr), name.c_str());
}

// --- Deferred calls, minimise and restore -----------------------------------

void TTrayIcon95::DeferCall(TNotifyEvent method) {
  deferred_ = std::move(method);
  PostMessageA(WindowHandle(), kTrayDeferredCallMessage, 0, 0);
}

void TTrayIcon95::RunDeferredCall(TComponent* sender) {
  if (!deferred_) return;
  TNotifyEvent call = std::move(deferred_);
  deferred_ = nullptr;
  try {
    call(sender);
  } catch (...) {
    deferred_ = nullptr;
  }
}

void TTrayIcon95::MinimizeToTray() {
  DeferCall([this](TComponent*) { HideStep(); });
}

void TTrayIcon95::RestoreFromTray() {
  DeferCall([this](TComponent*) { ShowStep(); });
}

void TTrayIcon95::LockDesktopUpdate(bool lock) { LockWindowUpdate(lock ? GetDesktopWindow() : nullptr); }

void TTrayIcon95::ApplicationMinimized() {
  if (active_ && (options_ & toMinimizeToTray)) MinimizeToTray();
  if (OnAppMinimize) OnAppMinimize(this);
}

void TTrayIcon95::ApplicationRestored() {
  if (active_) RestoreFromTray();
  if (OnAppRestore) OnAppRestore(this);
}

void TTrayIcon95::HideStep() {
  if (Application == nullptr) return;
  DesktopLock lock(*this);
  Application->Minimize();
  ShowWindow(Application->Handle(), SW_HIDE);
}

void TTrayIcon95::ShowStep() {
  if (Application == nullptr) return;
  DesktopLock lock(*this);
  HWND app = Application->Handle();
  if (IsIconic(app) || Application->Minimized()) Application->Restore();
  TForm* mainForm = Application->MainForm();
  if (mainForm != nullptr && !IsWindowVisible(mainForm->Handle())) mainForm->Show();
  ShowWindow(app, SW_RESTORE);
  // The application window hands the activation on to the main form.
  SetForegroundWindow(Application->MainWindowHandle());
}

void TTrayIcon95::ShellRestarted() {
  if (active_) CallShell(NIM_ADD);
}

// --- Mouse ------------------------------------------------------------------

TShiftState TTrayIcon95::CurrentShift() const {
  struct Key {
    int vk;
    TShiftFlag flag;
  };
  static constexpr Key keys[] = {{VK_SHIFT, ssShift},     {VK_MENU, ssAlt},      {VK_CONTROL, ssCtrl},
                                 {VK_LBUTTON, ssLeft},    {VK_RBUTTON, ssRight}, {VK_MBUTTON, ssMiddle}};
  TShiftState shift = 0;
  for (const Key& key : keys)
    if (GetKeyState(key.vk) & 0x8000) shift |= key.flag;
  return shift;
}

void TTrayIcon95::FireMouse(const TMouseMoveEvent& event, POINT at) {
  if (event) event(this, CurrentShift(), at.x, at.y);
}

void TTrayIcon95::PopupAtCursor() {
  HWND app = ApplicationWindow();
  SetForegroundWindow(app);
  if (Application != nullptr) Application->ProcessMessages();
  if (popupMenu_ == nullptr) return;  // freed meanwhile
  popupMenu_->SetPopupComponent(this);
  const POINT at = msgWindow_->LastCursorPos();
  popupMenu_->Popup(at.x, at.y);
  PostMessageA(app, WM_USER, 0, 0);
}

// --- TTrayIconMsgWindow -----------------------------------------------------

TTrayIconMsgWindow::TTrayIconMsgWindow(TTrayIcon95* trayIcon, TTimerManager* timers)
    : TComponent(trayIcon), trayIcon_(trayIcon) {
  clickTimer_ = timers->AddItem(false, kTrayDoubleClickDelay, [this](TComponent*) { FireClick(); });
  exitTimer_ = timers->AddItem(false, kTrayExitPollInterval, [this](TComponent*) { ExitPoll(); });
  if (!vz::win::EnsureWindowClass(kTrayIconMsgWindowClass, &TTrayIconMsgWindow::WindowProc))
    throw Exception(std::string("Couldnt register window class: ") + kTrayIconMsgWindowClass);
  // Top level (not message-only): the shell's "TaskbarCreated" broadcast reaches it,
  // and tools find it by its class.
  window_.Reset(CreateWindowExA(0, kTrayIconMsgWindowClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleA(nullptr), this));
  if (!window_) throw Exception("Unable to create the tray icon window");
}

TTrayIconMsgWindow::~TTrayIconMsgWindow() {
  Destroying();
  if (window_) SetWindowLongPtrA(window_.Get(), GWLP_USERDATA, 0);
}

LRESULT CALLBACK TTrayIconMsgWindow::WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TTrayIconMsgWindow*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  if (self == nullptr || msg == WM_NCCREATE) return DefWindowProcA(wnd, msg, wp, lp);
  try {
    return self->OnMessage(msg, wp, lp);
  } catch (const std::exception& e) {
    if (Application != nullptr) Application->HandleException(e);
  } catch (...) {
    if (Application != nullptr) Application->ShowException("Unknown error");
  }
  return 0;
}

LRESULT TTrayIconMsgWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  static const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
  switch (msg) {
    case WM_QUERYENDSESSION:
      return 1;
    case WM_ENDSESSION:
      if (wp != 0) trayIcon_->Deactivate();
      return 0;
    case kTrayIconMessage:
      MouseNotification(static_cast<UINT>(lp));
      return 0;
    case kTrayDeferredCallMessage:
      trayIcon_->RunDeferredCall(this);
      return 0;
    default:
      break;
  }
  // The shell restarted: without the icon the program could not be reached.
  if (taskbarCreated != 0 && msg == taskbarCreated) {
    trayIcon_->ShellRestarted();
    return 0;
  }
  return DefWindowProcA(window_.Get(), msg, wp, lp);
}

void TTrayIconMsgWindow::MouseNotification(UINT mouseMessage) {
  switch (mouseMessage) {
    case WM_MOUSEMOVE:
      MouseMoved();
      break;
    case WM_LBUTTONDOWN:
      ButtonDown(mbLeft);
      break;
    case WM_RBUTTONDOWN:
      ButtonDown(mbRight);
      break;
    case WM_MBUTTONDOWN:
      ButtonDown(mbMiddle);
      break;
    case WM_LBUTTONDBLCLK:
      DoubleClick(mbLeft);
      break;
    case WM_RBUTTONDBLCLK:
      DoubleClick(mbRight);
      break;
    case WM_MBUTTONDBLCLK:
      DoubleClick(mbMiddle);
      break;
    default:
      break;
  }
}

void TTrayIconMsgWindow::MouseMoved() {
  GetCursorPos(&lastCursorPos_);
  TTrayIcon95& icon = *trayIcon_;
  if (icon.OnMouseEnter || icon.OnMouseExit) {
    if (!mouseInside_) {
      mouseInside_ = true;
      exitTimer_->SetEnabled(true);
      icon.FireMouse(icon.OnMouseEnter, lastCursorPos_);
      return;
    }
  } else {
    mouseInside_ = true;
  }
  if (icon.OnMouseMove && !clickTimer_->Enabled() && mouseInside_) icon.FireMouse(icon.OnMouseMove, lastCursorPos_);
}

void TTrayIconMsgWindow::ButtonDown(TMouseButton button) {
  lastButton_ = button;
  TTrayIcon95& icon = *trayIcon_;
  if (button == mbRight && icon.AutoPopup() && icon.PopupMenu() != nullptr) {
    icon.PopupAtCursor();
    return;
  }
  doubleClickSeen_ = false;
  if (icon.OnDblClick) {
    // A fresh wait for the double click, also when one was already running.
    clickTimer_->SetEnabled(false);
    clickTimer_->SetEnabled(true);
  } else {
    icon.DeferCall([this](TComponent*) { FireClick(); });
  }
}

void TTrayIconMsgWindow::DoubleClick(TMouseButton button) {
  lastButton_ = button;
  doubleClickSeen_ = true;
  FireClick();
}

void TTrayIconMsgWindow::FireClick() {
  clickTimer_->SetEnabled(false);
  TTrayIcon95& icon = *trayIcon_;
  if (doubleClickSeen_) {
    if (icon.OnDblClick) icon.OnDblClick(&icon);
  } else if (icon.OnClick) {
    icon.OnClick(&icon);
  }
}

void TTrayIconMsgWindow::ExitPoll() {
  try {
    POINT now{};
    GetCursorPos(&now);
    if (std::abs(now.x - lastCursorPos_.x) <= 2 && std::abs(now.y - lastCursorPos_.y) <= 2) return;
    mouseInside_ = false;
    // Stopped before the handler runs, so that a failing handler is not called again at every poll.
    exitTimer_->SetEnabled(false);
    trayIcon_->FireMouse(trayIcon_->OnMouseExit, lastCursorPos_);
  } catch (...) {
    // The poll never raises.
  }
}

// --- Running hidden, and the start-up mechanism ------------------------------

int RunApplicationHidden() {
  if (Application == nullptr) return 0;
  Application->SetShowMainForm(false);
  return Application->Run();
}

namespace {

LRESULT CALLBACK StartupHookProc(int code, WPARAM wp, LPARAM lp) {
  const LRESULT next = CallNextHookEx(startupHook, code, wp, lp);
  if (code < 0 || startupHook == nullptr) return next;
  const auto* call = reinterpret_cast<const CWPSTRUCT*>(lp);
  if (call->message != WM_CREATE) return next;
  char name[257] = {};
  GetClassNameA(call->hwnd, name, 256);
  if (std::strcmp(name, "TApplication") == 0) {
    SetParent(call->hwnd, hiddenOwner);
    UnhookWindowsHookEx(startupHook);
    startupHook = nullptr;
  }
  return next;
}

}  // namespace

TrayApplicationStartup::TrayApplicationStartup() {
  if (hiddenOwner != nullptr) return;
  if (!vz::win::EnsureWindowClass(kTrayApplicationClass, &DefWindowProcA))
    throw Exception(std::string("Couldnt register window class: ") + kTrayApplicationClass);
  hiddenOwner = CreateWindowExA(0, kTrayApplicationClass, "", WS_POPUP, GetSystemMetrics(SM_CXSCREEN) / 2,
                                GetSystemMetrics(SM_CYSCREEN) / 2, 50, 50, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  // Without the window there is nothing to hang the application window on.
  if (hiddenOwner == nullptr) return;
  owner_ = true;
  startupHook = SetWindowsHookExA(WH_CALLWNDPROC, &StartupHookProc, nullptr, GetCurrentThreadId());
}

TrayApplicationStartup::~TrayApplicationStartup() {
  if (!owner_) return;
  if (startupHook != nullptr) UnhookWindowsHookEx(startupHook);
  startupHook = nullptr;
  DestroyWindow(hiddenOwner);
  hiddenOwner = nullptr;
}

HWND TrayApplicationWindow() noexcept { return hiddenOwner; }

bool TrayApplicationHookInstalled() noexcept { return startupHook != nullptr; }
