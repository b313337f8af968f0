#pragma once
// TTrayIcon95: one icon in the notification area, owned by a form. It shows one
// of three looks (enabled, disabled, animated), carries a tip, turns the shell's
// mouse notifications into events, pops up a menu on the right button and takes
// over the application's minimise and restore so that a minimised program lives
// only in the tray.
//
// Start-up: a program that lives in the tray creates a TrayApplicationStartup
// before its TApplication, and ends with RunApplicationHidden:
//
//   TrayApplicationStartup tray;   // keeps the application window out of the taskbar
//   TApplication application;
//   application.SetMainForm(new TMainForm(&application));  // holds a TTrayIcon95
//   return RunApplicationHidden();
#include <windows.h>

#include <shellapi.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/handles.hpp"
#include "toolkit/component.hpp"
#include "toolkit/controls.hpp"
#include "toolkit/icon.hpp"
#include "widgets/traytimers.hpp"

class TPopupMenu;
class TTrayIcon95;

// The notification record's fixed values.
inline constexpr UINT kTrayIconId = 42;
inline constexpr UINT kTrayIconFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;  // 7
inline constexpr UINT kTrayIconMessage = WM_USER + 100;                   // 1124
inline constexpr UINT kTrayDeferredCallMessage = WM_USER + 101;           // 1125
// At most 63 characters of tip and the terminating zero.
inline constexpr std::size_t kTrayTipLength = 63;
// A press waits this long for a double click before it counts as a click.
inline constexpr TTimerInterval kTrayDoubleClickDelay = 400;
// The exit poll's period.
inline constexpr TTimerInterval kTrayExitPollInterval = 70;
// The class name of the window that receives the shell's notifications.
inline constexpr char kTrayIconMsgWindowClass[] = "TTrayIconMsgWindow";
// The class name of the hidden owner window of the start-up mechanism.
inline constexpr char kTrayApplicationClass[] = "TTrayApplication";

enum TTrayIconOption : unsigned { toMinimizeToTray = 1 };
using TTrayIconOptions = unsigned;

// Sender, the keyboard and mouse-button state, and a screen point.
using TMouseMoveEvent = std::function<void(TComponent* sender, TShiftState shift, int x, int y)>;
// Fired before State changes; the handler may change `newState`.
using TTrayIconStateChangingEvent = std::function<void(TComponent* sender, TTrayIconState& newState)>;

// The one call into the shell's notification area (NIM_ADD, NIM_MODIFY, NIM_DELETE).
// Tests put a recorder in its place.
using TShellNotifyIconFunc = std::function<BOOL(DWORD operation, const NOTIFYICONDATAA& data)>;
// Replaces the shell call and returns the previous one; an empty function restores
// Shell_NotifyIconA.
TShellNotifyIconFunc SetShellNotifyIconFunc(TShellNotifyIconFunc func);

// The hidden companion of a tray icon: owns the window (class "TTrayIconMsgWindow")
// that receives the shell's notifications and the deferred calls, and the click
// and exit timers.
class TTrayIconMsgWindow : public TComponent {
 public:
  TTrayIconMsgWindow(TTrayIcon95* trayIcon, TTimerManager* timers);
  ~TTrayIconMsgWindow() override;

  HWND Handle() const noexcept { return window_.Get(); }
  TTrayIcon95* TrayIcon() const noexcept { return trayIcon_; }
  TTimerItem* ClickTimer() const noexcept { return clickTimer_; }
  TTimerItem* ExitTimer() const noexcept { return exitTimer_; }
  bool MouseInside() const noexcept { return mouseInside_; }
  POINT LastCursorPos() const noexcept { return lastCursorPos_; }
  // The button of the last press or double click.
  TMouseButton LastButton() const noexcept { return lastButton_; }

  // Disables the click timer and fires OnDblClick after a double click, else OnClick.
  void FireClick();

 private:
  static LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  void MouseNotification(UINT mouseMessage);
  void MouseMoved();
  void ButtonDown(TMouseButton button);
  void DoubleClick(TMouseButton button);
  void ExitPoll();

  TTrayIcon95* trayIcon_;
  vz::win::OwnedWindow window_;
  TTimerItem* clickTimer_ = nullptr;
  TTimerItem* exitTimer_ = nullptr;
  TMouseButton lastButton_ = mbLeft;
  bool doubleClickSeen_ = false;
  POINT lastCursorPos_{};
  bool mouseInside_ = false;
};

class TTrayIcon95 : public TComponent, private TTrayIconAnimationHost {
 public:
  // Raises EInvalidOperation "TrayIcons must be owned by a Form !" when `owner` is not a form.
  explicit TTrayIcon95(TComponent* owner);
  ~TTrayIcon95() override;

  // The images are copies: change them through these references or the setters.
  TIcon& Icon() noexcept { return icon_; }
  void SetIcon(const TIcon& icon) { icon_.Assign(icon); }
  TIcon& DisabledIcon() noexcept { return disabledIcon_; }
  void SetDisabledIcon(const TIcon& icon) { disabledIcon_.Assign(icon); }
  TTrayIconAnimation& Animation() noexcept { return *animation_; }

  bool Active() const noexcept { return active_; }
  void SetActive(bool value);
  bool AutoPopup() const noexcept { return autoPopup_; }
  void SetAutoPopup(bool value) noexcept { autoPopup_ = value; }
  const std::string& Hint() const noexcept { return hint_; }
  void SetHint(const std::string& hint);
  TTrayIconOptions Options() const noexcept { return options_; }
  void SetOptions(TTrayIconOptions options) noexcept { options_ = options; }
  TPopupMenu* PopupMenu() const noexcept { return popupMenu_; }
  void SetPopupMenu(TPopupMenu* menu);
  bool ShowHint() const noexcept { return showHint_; }
  void SetShowHint(bool value);
  TTrayIconState State() const noexcept { return state_; }
  // Raises EInvalidOperation when called from inside OnStateChanging.
  void SetState(TTrayIconState value);

  TNotifyEvent OnAnimation;
  TNotifyEvent OnAppMinimize;
  TNotifyEvent OnAppRestore;
  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseMoveEvent OnMouseMove;
  TMouseMoveEvent OnMouseEnter;
  TMouseMoveEvent OnMouseExit;
  TTrayIconStateChangingEvent OnStateChanging;

  // Picks the displayed icon for the state and, when active, modifies the shell icon.
  void UpdateTrayIcon();
  // Runs `method` later, from the message loop, with the message window as Sender;
  // replaces a call still pending. An exception it raises is swallowed.
  void DeferCall(TNotifyEvent method);
  virtual void RestoreFromTray();
  virtual void MinimizeToTray();
  virtual void LockDesktopUpdate(bool lock);

  // What the shell is given.
  HWND WindowHandle() const noexcept;
  std::string Tip() const { return tip_; }
  const TIcon& DisplayedIcon() const noexcept { return displayed_; }
  TTimerManager* Timers() const noexcept { return timers_; }
  TTrayIconMsgWindow* MsgWindow() const noexcept { return msgWindow_; }

 protected:
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class TTrayIconMsgWindow;

  bool Designing() const noexcept { return HasState(csDesigning); }
  bool Reading() const noexcept { return HasState(csLoading); }
  void Activate();
  void Deactivate();
  void Modify();
  void CallShell(DWORD operation);
  void RebuildTip();
  void IconChanged();
  void ApplicationMinimized();
  void ApplicationRestored();
  void HideStep();
  void ShowStep();
  void RunDeferredCall(TComponent* sender);
  void ShellRestarted();
  void PopupAtCursor();
  TShiftState CurrentShift() const;
  void FireMouse(const TMouseMoveEvent& event, POINT at);
  void UnsubscribeApplication() noexcept;

  // The animation's view of this icon.
  bool AnimationActive() const override { return active_; }
  TTrayIconState AnimationState() const override { return state_; }
  void AnimationFired() override;
  void AnimationUpdate() override { UpdateTrayIcon(); }
  void LoadDisplayedIconFile(const std::string& path) override;
  bool LoadDisplayedIconResource(const std::string& name) override;

  TIcon icon_;
  TIcon disabledIcon_;
  TIcon displayed_;
  std::unique_ptr<TTrayIconAnimation> animation_;
  bool active_ = false;
  bool autoPopup_ = false;
  std::string hint_;
  TTrayIconOptions options_ = toMinimizeToTray;
  TPopupMenu* popupMenu_ = nullptr;
  bool showHint_ = true;
  TTrayIconState state_ = tsEnabled;
  std::string tip_;

  TTimerManager* timers_ = nullptr;
  TTrayIconMsgWindow* msgWindow_ = nullptr;
  TNotifyEvent deferred_;
  // The application whose minimise and restore lists hold our handlers.
  void* subscribedTo_ = nullptr;
};

// Runs the application's message loop, never showing its main form; returns the exit code.
int RunApplicationHidden();

// Keeps the application window out of the taskbar: registers the class
// "TTrayApplication", creates one hidden window of it and hooks the creation of
// the window of class "TApplication" on this thread to make the hidden window its
// parent. Create it before the TApplication. Its end removes the hook (if still
// there) and the hidden window, however far start-up got. Raises Exception
// "Couldnt register window class: TTrayApplication" when the class cannot be registered.
class TrayApplicationStartup {
 public:
  TrayApplicationStartup();
  ~TrayApplicationStartup();
  TrayApplicationStartup(const TrayApplicationStartup&) = delete;
  TrayApplicationStartup& operator=(const TrayApplicationStartup&) = delete;

 private:
  // False when another one already keeps the hidden window: this one then does nothing.
  bool owner_ = false;
};

// The hidden owner window while a TrayApplicationStartup lives (else null), and
// whether its hook is still installed.
HWND TrayApplicationWindow() noexcept;
bool TrayApplicationHookInstalled() noexcept;
