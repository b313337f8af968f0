#pragma once
// Forms: top-level windows holding controls, built in code or from an .rc
// template (DIALOGEX, coordinates in pixels; see toolkit/dlgtemplate.hpp), shown
// modelessly or modally with a modal result.
//
// Keys: while a form is active, Enter and Esc are first offered to every control
// on it (DialogKey), windowless ones included, so a default or cancel button acts
// whichever control has the focus; Alt+letter is offered likewise (DialogChar) for
// caption accelerators. Other keys get the usual Tab and arrow navigation.
#include <windows.h>

#include <functional>
#include <string>

#include "toolkit/controls.hpp"
#include "toolkit/dlgtemplate.hpp"
#include "toolkit/exception.hpp"

// Modal results.
inline constexpr int mrNone = 0;
inline constexpr int mrOk = IDOK;          // 1
inline constexpr int mrCancel = IDCANCEL;  // 2
inline constexpr int mrYes = IDYES;
inline constexpr int mrNo = IDNO;

enum TPosition { poDesigned, poScreenCenter, poMainFormCenter };
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };
using TBorderIcons = unsigned;

class TForm : public TWinControl {
 public:
  // A form built in code: sizeable, 320 x 240, Arial 8 point, registered under `windowClass`.
  explicit TForm(TComponent* owner, const std::string& windowClass = "TForm");
  // A form built from the DIALOGEX template `templateName` (a name or MAKEINTRESOURCE
  // id) in `instance` (null: the program). Its controls are created, with their
  // template ids, and loaded (Loaded runs) before the constructor returns.
  TForm(TComponent* owner, const char* templateName, HINSTANCE instance = nullptr);
  ~TForm() override;

  // Shows the form and runs a message loop until ModalResult is set (Close gives
  // Cancel; a terminating application gives Cancel). Other windows of the program
  // are disabled meanwhile, and the window active before is activated again.
  int ShowModal();
  void Show();
  void Hide();
  // WM_CLOSE: a modal form ends with Cancel; the main form ends the application;
  // any other form is hidden.
  void Close();
  bool Modal() const noexcept { return modal_; }

  int ModalResult() const noexcept { return modalResult_; }
  void SetModalResult(int result) noexcept { modalResult_ = result; }

  TPosition Position() const noexcept { return position_; }
  void SetPosition(TPosition position) noexcept { position_ = position; }
  void SetBorderStyle(TFormBorderStyle style);
  void SetBorderIcons(TBorderIcons icons);
  void SetClientSize(int width, int height);
  int ClientWidth() const;
  int ClientHeight() const;
  // The window that owns this one (default: the application window; null: the desktop).
  void SetOwnerWindow(HWND owner);
  void SetIcon(HICON icon);

  // The control that gets the focus when the form is activated.
  void SetActiveControl(TWinControl* control);
  bool Active() const;
  void BringToFront();

  // The control created from the template item with this id, or null.
  TControl* FindControlById(int id) const;
  // The control of this id and type; throws EInvalidOperation when missing.
  template <typename T>
  T* ControlById(int id) const {
    T* c = dynamic_cast<T*>(FindControlById(id));
    if (c == nullptr) throw EInvalidOperation("No control of the expected kind with id " + std::to_string(id));
    return c;
  }

  // The tooltips of the controls' hints are to be rebuilt (called when hints, bounds
  // or visibility change); they are, before the mouse's next move over the form.
  void RefreshHints();

  TNotifyEvent OnShow;
  TNotifyEvent OnActivate;
  TNotifyEvent OnClose;

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void VisibleChanged() override;
  void Loaded() override;
  // Sees the messages queued for this form and its controls before they are dispatched.
  virtual bool FilterMessage(MSG& msg);

 private:
  void CreateFormWindow(const std::string& windowClass, const std::string& caption, DWORD style, DWORD exStyle,
                        int clientWidth, int clientHeight);
  void CreateTemplateControls(const vz::dlg::Template& t);
  void PlaceByPosition();
  void InstallFilter();
  void RelayToHints(MSG& msg);
  void RebuildHints();
  void AddHintTool(const TWinControl& parent, const TControl& control);

  int modalResult_ = mrNone;
  bool modal_ = false;
  TPosition position_ = poDesigned;
  HWND lastFocus_ = nullptr;
  HWND tooltip_ = nullptr;
  bool hintsStale_ = true;
};

// Places a dialog before it is shown: centred over the main form while the user can
// see it (over its monitor's work area when it is maximised); when there is none,
// or it is hidden, minimised or off every monitor, over the window that opened the
// dialog (the active window, else the dialog's owner); failing that, over the
// primary monitor's work area. The whole dialog is then kept inside the work area
// of the monitor it lands on (see toolkit/placement.hpp). Halves round toward zero.
void CenterOverMainForm(TForm* dialog);

// Makes controls of a class name that templates can use (CONTROL "...", id, "TName", ...).
using TControlFactory = std::function<TControl*(TComponent* owner)>;
void RegisterControlClass(const std::string& className, TControlFactory factory);

// Hint text as the tooltip shows it: each single CR becomes a line break.
std::string HintDisplayText(const std::string& hint);

// Disables the visible, enabled top-level windows of the GUI thread except `keep`,
// and enables them again when it goes.
class TaskWindowsDisabler {
 public:
  explicit TaskWindowsDisabler(HWND keep);
  TaskWindowsDisabler(const TaskWindowsDisabler&) = delete;
  TaskWindowsDisabler& operator=(const TaskWindowsDisabler&) = delete;
  ~TaskWindowsDisabler() { Restore(); }
  void Restore();

 private:
  std::vector<HWND> disabled_;
};
