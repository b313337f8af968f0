#pragma once
// Controls: TControl (position, visibility, caption, hint, font, mouse and key
// notifications), TGraphicControl (no window of its own: painted on its parent's
// surface, mouse input routed to it by the parent) and TWinControl (a window).
//
// Windows made here all run through TWinControl::WindowProc, which finds the object
// (stored at WM_NCCREATE, or when a standard control is subclassed) and forwards
// to the virtual OnMessage; no exception leaves it (Application->HandleException).
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/handles.hpp"
#include "toolkit/component.hpp"
#include "toolkit/graphics.hpp"

class TWinControl;
class TForm;
class TPopupMenu;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TMouseButton { mbLeft, mbRight, mbMiddle };

enum TShiftFlag : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32 };
using TShiftState = unsigned;

enum TControlStyleFlag : unsigned {
  csCaptureMouse = 1,  // the framework captures the mouse while a button is held on it
  csClickEvents = 2,
  csSetCaption = 4,
  csOpaque = 8,        // paints its whole area (the parent need not erase behind it)
  csDoubleClicks = 16, // receives double clicks as such; otherwise a second press
};

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner);
  ~TControl() override;

  TWinControl* Parent() const noexcept { return parent_; }
  virtual void SetParent(TWinControl* parent);
  // The form this control is on (itself for a form), or null.
  TForm* ParentForm() const;

  int Left() const noexcept { return left_; }
  int Top() const noexcept { return top_; }
  int Width() const noexcept { return width_; }
  int Height() const noexcept { return height_; }
  void SetBounds(int left, int top, int width, int height);
  void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
  RECT BoundsRect() const noexcept { return RECT{left_, top_, left_ + width_, top_ + height_}; }
  virtual RECT ClientRect() const { return RECT{0, 0, width_, height_}; }

  TAlign Align() const noexcept { return align_; }
  void SetAlign(TAlign align);

  bool Visible() const noexcept { return visible_; }
  void SetVisible(bool visible);
  bool Enabled() const noexcept { return enabled_; }
  virtual void SetEnabled(bool enabled);

  const std::string& Caption() const noexcept { return caption_; }
  virtual void SetCaption(const std::string& caption);

  // Hints are shown as tooltips; a single CR in the text breaks the line.
  const std::string& Hint() const noexcept { return hint_; }
  void SetHint(const std::string& hint);
  bool ShowHint() const;  // follows the parent while ParentShowHint is set
  void SetShowHint(bool show);
  bool ParentShowHint() const noexcept { return parentShowHint_; }
  void SetParentShowHint(bool value);

  TFont& Font() noexcept { return font_; }
  const TFont& Font() const noexcept { return font_; }
  bool ParentFont() const noexcept { return parentFont_; }
  void SetParentFont(bool value);

  TColor Color() const noexcept { return color_; }
  void SetColor(TColor color);

  TPopupMenu* PopupMenu() const noexcept { return popupMenu_; }
  void SetPopupMenu(TPopupMenu* menu);

  // The id of the template item the control was made from (also a window's child id).
  int Id() const noexcept { return id_; }
  void SetId(int id) noexcept { id_ = id; }

  unsigned ControlStyle() const noexcept { return controlStyle_; }
  void SetControlStyle(unsigned style) noexcept { controlStyle_ = style; }

  TNotifyEvent OnClick;
  // Fires OnClick.
  virtual void Click();

  virtual void Invalidate();
  void Update();
  void Repaint();

  virtual POINT ClientToScreen(POINT p) const;
  virtual POINT ScreenToClient(POINT p) const;
  // A control whose mouse messages are taken by its parent window on its behalf.
  bool MouseCapture() const;
  void SetMouseCapture(bool capture);

  virtual bool IsWindowed() const noexcept { return false; }

  // ---- notifications from the framework ----
  virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseMove(TShiftState shift, int x, int y);
  // The right button went up over the control: shows PopupMenu at the cursor.
  virtual void RightButtonUp(TShiftState shift, int x, int y);
  virtual void MouseEnter() {}
  virtual void MouseLeave() {}
  // Enter and Esc offered by the form before the focused control sees them;
  // return true when handled.
  virtual bool DialogKey(unsigned key);
  // An Alt+character accelerator offered by the form; return true when handled.
  virtual bool DialogChar(char ch);
  // Graphic controls paint here, in their own coordinates, on the parent's surface.
  virtual void Paint(HDC dc);

 protected:
  void Notification(TComponent* component, TOperation operation) override;
  virtual void BoundsChanged();
  virtual void VisibleChanged();
  virtual void EnabledChanged();
  virtual void FontChanged();
  virtual void ColorChanged();
  virtual void TextChanged();
  void HintsChanged();
  // Takes over the parent's font (while ParentFont is set) and tells the children.
  void ParentFontChanged();

 private:
  friend class TWinControl;
  TWinControl* parent_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  TAlign align_ = alNone;
  bool visible_ = true;
  bool enabled_ = true;
  std::string caption_;
  std::string hint_;
  bool showHint_ = false;
  bool parentShowHint_ = true;
  TFont font_;
  bool parentFont_ = true;
  bool inFontSync_ = false;
  TColor color_ = clBtnFace;
  TPopupMenu* popupMenu_ = nullptr;
  unsigned controlStyle_ = 0;
  int id_ = 0;
};

// A control without a window of its own.
class TGraphicControl : public TControl {
 public:
  using TControl::TControl;
};

class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* owner);
  ~TWinControl() override;

  HWND Handle() const noexcept { return handle_.Get(); }
  bool IsWindowed() const noexcept override { return true; }
  // The control of a window made by the toolkit, or null.
  static TWinControl* FromHandle(HWND wnd);
  // The window and those of the controls it sits in are all made and visible.
  bool Showing() const;

  void SetParent(TWinControl* parent) override;
  void SetCaption(const std::string& caption) override;
  RECT ClientRect() const override;
  void Invalidate() override;
  POINT ClientToScreen(POINT p) const override;
  POINT ScreenToClient(POINT p) const override;

  std::size_t ControlCount() const noexcept { return controls_.size(); }
  TControl* Controls(std::size_t index) const { return controls_.at(index); }
  // The topmost visible graphic child at a client point (enabled ones only unless asked).
  TControl* ControlAtPos(POINT p, bool allowDisabled) const;
  // The child control the mouse was last seen over (it has had MouseEnter), or null.
  TControl* MouseControl() const noexcept { return mouseControl_; }
  // True while the system has yet to report that the mouse left this window.
  bool TrackingMouseLeave() const noexcept { return trackingLeave_; }

  bool TabStop() const noexcept { return tabStop_; }
  void SetTabStop(bool value);
  void SetFocus();
  bool Focused() const;

  // Offers a dialog key or accelerator to this control and every control inside it.
  bool BroadcastDialogKey(unsigned key);
  bool BroadcastDialogChar(char ch);

  // Places aligned children (alTop, alBottom, alLeft, alRight, alClient) in the
  // client area less BorderWidth on every side.
  void AlignControls();
  int BorderWidth() const noexcept { return borderWidth_; }
  void SetBorderWidth(int width);

  TNotifyEvent OnResize;

  // Paints the visible graphic children that meet `area`, each in its own coordinates.
  void PaintControls(HDC dc, const RECT& area);

 protected:
  struct CreateParams {
    std::string className;   // a standard class ("EDIT", "BUTTON") or our own
    bool ownClass = true;    // registered here with WindowProc; else subclassed
    std::string caption;
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    int x = 0, y = 0, width = 0, height = 0;
    HWND parent = nullptr;
    HMENU idOrMenu = nullptr;
    UINT classStyle = 0;
    HICON icon = nullptr;
  };
  // Makes the window. Children call it from SetParent; forms from their constructor.
  void CreateHandle(const CreateParams& params);
  // The window's messages; the default handles painting of graphic children, mouse
  // routing to them, WM_COMMAND and colour messages reflected to the child control.
  virtual LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT DefaultHandler(UINT msg, WPARAM wp, LPARAM lp);
  // A windowed child describes its window here (called when the parent gets one).
  virtual void DescribeWindow(CreateParams& params);
  // WM_COMMAND sent by this control's own window to its parent; true when handled.
  virtual bool Command(WORD notifyCode);
  // WM_NOTIFY sent by this control's own window to its parent; true when handled,
  // with the answer in `result`.
  virtual bool Notify(NMHDR& header, LRESULT& result);
  // WM_CTLCOLOR* for this control; null for the default colours.
  virtual HBRUSH ControlColor(HDC dc);
  // Background: the default fills the client area with Color.
  virtual void EraseBackground(HDC dc);
  // Own-class windows: paints the window itself before its graphic children.
  virtual void PaintWindow(HDC dc);

  void BoundsChanged() override;
  void VisibleChanged() override;
  void EnabledChanged() override;
  void FontChanged() override;
  void ColorChanged() override;
  void TextChanged() override;

 private:
  friend class TControl;
  static LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT RouteMouse(UINT msg, WPARAM wp, LPARAM lp, bool& handled);
  void UpdateMouseControl(POINT p, bool inside);
  void SetCaptureControl(TControl* control);
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);
  void ForgetHandle() noexcept;

  vz::win::OwnedWindow handle_;
  WNDPROC oldProc_ = nullptr;
  std::vector<TControl*> controls_;
  TControl* mouseControl_ = nullptr;
  TControl* captureControl_ = nullptr;
  bool trackingLeave_ = false;
  bool tabStop_ = false;
  int borderWidth_ = 0;
};

// The modifier keys and mouse buttons held, from a mouse message's wParam.
TShiftState ShiftFromMouseWParam(WPARAM wp);
