#include "toolkit/controls.hpp"

#include <windowsx.h>

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "platform/windowclass.hpp"
#include "toolkit/application.hpp"
#include "toolkit/exception.hpp"
#include "toolkit/forms.hpp"
#include "toolkit/menus.hpp"

namespace {

// Which control each window of this process belongs to. It is looked up for every
// message, so it stays in the process: a window property costs a round trip to the
// window server under Wine.
class WindowOwners {
 public:
  void Set(HWND wnd, TWinControl* control) {
    const std::lock_guard<std::mutex> lock(mutex_);
    owners_[wnd] = control;
  }
  TWinControl* Get(HWND wnd) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = owners_.find(wnd);
    return it != owners_.end() ? it->second : nullptr;
  }
  // Only while the window still belongs to that control.
  void Forget(HWND wnd, const TWinControl* control) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = owners_.find(wnd);
    if (it != owners_.end() && it->second == control) owners_.erase(it);
  }

 private:
  mutable std::mutex mutex_;
  std::unordered_map<HWND, TWinControl*> owners_;
};

WindowOwners& Owners() {
  static WindowOwners owners;
  return owners;
}

TMouseButton ButtonOf(UINT msg) {
  switch (msg) {
    case WM_RBUTTONDOWN: case WM_RBUTTONUP: case WM_RBUTTONDBLCLK: return mbRight;
    case WM_MBUTTONDOWN: case WM_MBUTTONUP: case WM_MBUTTONDBLCLK: return mbMiddle;
    default: return mbLeft;
  }
}

}  // namespace

TShiftState ShiftFromMouseWParam(WPARAM wp) {
  TShiftState s = 0;
  if (wp & MK_SHIFT) s |= ssShift;
  if (wp & MK_CONTROL) s |= ssCtrl;
  if (wp & MK_LBUTTON) s |= ssLeft;
  if (wp & MK_RBUTTON) s |= ssRight;
  if (wp & MK_MBUTTON) s |= ssMiddle;
  if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
  return s;
}

// ---------------------------------------------------------------- TControl

TControl::TControl(TComponent* owner) : TComponent(owner) {
  font_.OnChange = [this] {
    if (!inFontSync_) parentFont_ = false;
    FontChanged();
  };
}

TControl::~TControl() {
  font_.OnChange = nullptr;
  if (popupMenu_ != nullptr) RemoveFreeNotification(popupMenu_);
  if (parent_ != nullptr) parent_->RemoveControl(this);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent == this) throw EInvalidOperation("A control cannot be its own parent");
  if (parent_ != nullptr) {
    Invalidate();
    parent_->RemoveControl(this);
  }
  if (parent != nullptr) parent->InsertControl(this);
  ParentFontChanged();
  if (align_ != alNone && parent_ != nullptr) parent_->AlignControls();
  Invalidate();
  HintsChanged();
}

TForm* TControl::ParentForm() const {
  for (const TControl* c = this; c != nullptr; c = c->parent_)
    if (auto* form = dynamic_cast<const TForm*>(c)) return const_cast<TForm*>(form);
  return nullptr;
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  if (!IsWindowed()) Invalidate();
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  BoundsChanged();
}

void TControl::SetAlign(TAlign align) {
  if (align == align_) return;
  align_ = align;
  if (parent_ != nullptr) parent_->AlignControls();
}

void TControl::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  VisibleChanged();
}

void TControl::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  EnabledChanged();
}

void TControl::SetCaption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  TextChanged();
}

void TControl::SetHint(const std::string& hint) {
  if (hint == hint_) return;
  hint_ = hint;
  HintsChanged();
}

bool TControl::ShowHint() const {
  if (parentShowHint_ && parent_ != nullptr) return parent_->ShowHint();
  return showHint_;
}

void TControl::SetShowHint(bool show) {
  showHint_ = show;
  parentShowHint_ = false;
  HintsChanged();
}

void TControl::SetParentShowHint(bool value) {
  parentShowHint_ = value;
  HintsChanged();
}

void TControl::SetParentFont(bool value) {
  parentFont_ = value;
  ParentFontChanged();
}

void TControl::ParentFontChanged() {
  if (!parentFont_ || parent_ == nullptr) return;
  inFontSync_ = true;
  font_.Assign(parent_->Font());
  inFontSync_ = false;
}

void TControl::SetColor(TColor color) {
  if (color == color_) return;
  color_ = color;
  ColorChanged();
}

void TControl::SetPopupMenu(TPopupMenu* menu) {
  if (popupMenu_ != nullptr) RemoveFreeNotification(popupMenu_);
  popupMenu_ = menu;
  if (menu != nullptr) FreeNotification(menu);
}

void TControl::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == popupMenu_) popupMenu_ = nullptr;
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::Invalidate() {
  if (parent_ == nullptr || !parent_->Showing()) return;
  const RECT r = BoundsRect();
  InvalidateRect(parent_->Handle(), &r, TRUE);
}

void TControl::Update() {
  if (parent_ != nullptr && parent_->Handle() != nullptr) UpdateWindow(parent_->Handle());
}

void TControl::Repaint() {
  Invalidate();
  Update();
}

POINT TControl::ClientToScreen(POINT p) const {
  if (parent_ == nullptr) return p;
  return parent_->ClientToScreen(POINT{p.x + left_, p.y + top_});
}

POINT TControl::ScreenToClient(POINT p) const {
  if (parent_ == nullptr) return p;
  const POINT q = parent_->ScreenToClient(p);
  return POINT{q.x - left_, q.y - top_};
}

bool TControl::MouseCapture() const { return parent_ != nullptr && parent_->captureControl_ == this; }

void TControl::SetMouseCapture(bool capture) {
  if (parent_ == nullptr) return;
  if (capture)
    parent_->SetCaptureControl(this);
  else if (MouseCapture())
    parent_->SetCaptureControl(nullptr);
}

void TControl::MouseDown(TMouseButton, TShiftState, int, int) {}
void TControl::MouseUp(TMouseButton, TShiftState, int, int) {}
void TControl::MouseMove(TShiftState, int, int) {}

void TControl::RightButtonUp(TShiftState shift, int x, int y) {
  MouseUp(mbRight, shift, x, y);
  if (popupMenu_ != nullptr) {
    POINT cursor{};
    GetCursorPos(&cursor);
    popupMenu_->Popup(cursor.x, cursor.y);
  }
}

bool TControl::DialogKey(unsigned) { return false; }
bool TControl::DialogChar(char) { return false; }
void TControl::Paint(HDC) {}

void TControl::BoundsChanged() {
  Invalidate();
  HintsChanged();
}
void TControl::VisibleChanged() {
  Invalidate();
  HintsChanged();
}
void TControl::EnabledChanged() { Invalidate(); }
void TControl::FontChanged() { Invalidate(); }
void TControl::ColorChanged() { Invalidate(); }
void TControl::TextChanged() { Invalidate(); }

void TControl::HintsChanged() {
  if (TForm* form = ParentForm()) form->RefreshHints();
}

// ---------------------------------------------------------------- TWinControl

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
  // Windowed children go with our window (they forget theirs at WM_NCDESTROY).
  for (TControl* c : controls_) c->parent_ = nullptr;
  controls_.clear();
  mouseControl_ = captureControl_ = nullptr;
  if (handle_) {
    HWND wnd = handle_.Get();
    if (oldProc_ != nullptr) SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(oldProc_));
    Owners().Forget(wnd, this);
    handle_.Reset();
  }
}

TWinControl* TWinControl::FromHandle(HWND wnd) {
  if (wnd == nullptr) return nullptr;
  return Owners().Get(wnd);
}

LRESULT CALLBACK TWinControl::WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lp);
    auto* self = static_cast<TWinControl*>(create->lpCreateParams);
    if (self != nullptr) {
      Owners().Set(wnd, self);
      self->handle_.Release();
      self->handle_.Reset(wnd);
    }
  }
  TWinControl* self = FromHandle(wnd);
  if (self == nullptr) return DefWindowProcA(wnd, msg, wp, lp);
  LRESULT result = 0;
  try {
    result = self->OnMessage(msg, wp, lp);
  } catch (const std::exception& e) {
    if (Application != nullptr) Application->HandleException(e);
  } catch (...) {
    if (Application != nullptr) Application->ShowException("Unknown error");
  }
  if (msg == WM_NCDESTROY) self->ForgetHandle();
  return result;
}

void TWinControl::ForgetHandle() noexcept {
  if (!handle_) return;
  Owners().Forget(handle_.Get(), this);
  handle_.Release();
  oldProc_ = nullptr;
  trackingLeave_ = false;
  mouseControl_ = captureControl_ = nullptr;
}

void TWinControl::CreateHandle(const CreateParams& p) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  if (p.ownClass) {
    WNDCLASSA wc{};
    wc.style = p.classStyle;
    wc.lpfnWndProc = &TWinControl::WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hIcon = p.icon;
    wc.lpszClassName = p.className.c_str();
    if (!vz::win::EnsureWindowClass(wc)) throw Exception("Unable to register window class " + p.className);
  }
  HWND wnd = CreateWindowExA(p.exStyle, p.className.c_str(), p.caption.c_str(), p.style, p.x, p.y, p.width,
                             p.height, p.parent, p.idOrMenu, instance, p.ownClass ? this : nullptr);
  if (wnd == nullptr) throw Exception("Unable to create window of class " + p.className);
  if (!p.ownClass) {
    handle_.Reset(wnd);
    Owners().Set(wnd, this);
    oldProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TWinControl::WindowProc)));
  }
  SendMessageA(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(Font().Handle()), FALSE);
}

void TWinControl::DescribeWindow(CreateParams&) {}

void TWinControl::SetParent(TWinControl* parent) {
  TControl::SetParent(parent);
  if (parent == nullptr || parent->Handle() == nullptr) return;
  if (handle_) {
    ::SetParent(handle_.Get(), parent->Handle());
    return;
  }
  CreateParams p;
  p.className = "TWinControl";
  p.caption = Caption();
  p.style = WS_CHILD | WS_CLIPSIBLINGS | (Visible() ? WS_VISIBLE : 0) | (Enabled() ? 0 : WS_DISABLED) |
            (tabStop_ ? WS_TABSTOP : 0);
  p.x = Left();
  p.y = Top();
  p.width = Width();
  p.height = Height();
  p.parent = parent->Handle();
  p.idOrMenu = reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id()));
  DescribeWindow(p);
  CreateHandle(p);
  // Windowed children placed on this control before it had a window get theirs now.
  for (TControl* c : std::vector<TControl*>(controls_)) {
    if (!c->IsWindowed() || static_cast<TWinControl*>(c)->Handle() != nullptr) continue;
    c->SetParent(nullptr);
    c->SetParent(this);
  }
  HintsChanged();
}

void TWinControl::SetCaption(const std::string& caption) { TControl::SetCaption(caption); }

void TWinControl::Invalidate() {
  if (Showing()) InvalidateRect(handle_.Get(), nullptr, TRUE);
}

// Nothing of a window is on screen while it, or a window it sits in, is hidden, and
// all of it is painted when it shows: what is invalidated meanwhile only costs a call
// to the window server. Only the toolkit's own windows are looked at.
bool TWinControl::Showing() const {
  for (const TWinControl* w = this; w != nullptr; w = w->Parent())
    if (w->Handle() == nullptr || !(GetWindowLongPtrA(w->Handle(), GWL_STYLE) & WS_VISIBLE)) return false;
  return true;
}

POINT TWinControl::ClientToScreen(POINT p) const {
  if (handle_) ::ClientToScreen(handle_.Get(), &p);
  return p;
}

POINT TWinControl::ScreenToClient(POINT p) const {
  if (handle_) ::ScreenToClient(handle_.Get(), &p);
  return p;
}

RECT TWinControl::ClientRect() const {
  RECT r{0, 0, Width(), Height()};
  if (handle_) GetClientRect(handle_.Get(), &r);
  return r;
}

TControl* TWinControl::ControlAtPos(POINT p, bool allowDisabled) const {
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
    TControl* c = *it;
    if (c->IsWindowed() || !c->Visible() || (!allowDisabled && !c->Enabled())) continue;
    const RECT r = c->BoundsRect();
    if (PtInRect(&r, p)) return c;
  }
  return nullptr;
}

void TWinControl::SetTabStop(bool value) {
  tabStop_ = value;
  if (!handle_) return;
  LONG_PTR style = GetWindowLongPtrA(handle_.Get(), GWL_STYLE);
  style = value ? (style | WS_TABSTOP) : (style & ~static_cast<LONG_PTR>(WS_TABSTOP));
  SetWindowLongPtrA(handle_.Get(), GWL_STYLE, style);
}

void TWinControl::SetFocus() {
  if (handle_) ::SetFocus(handle_.Get());
}

bool TWinControl::Focused() const { return handle_ && GetFocus() == handle_.Get(); }

bool TWinControl::BroadcastDialogKey(unsigned key) {
  if (DialogKey(key)) return true;
  const auto children = controls_;
  for (TControl* c : children) {
    if (c->IsWindowed()) {
      auto* w = static_cast<TWinControl*>(c);
      if (w->Visible() && w->BroadcastDialogKey(key)) return true;
    } else if (c->DialogKey(key)) {
      return true;
    }
  }
  return false;
}

bool TWinControl::BroadcastDialogChar(char ch) {
  if (DialogChar(ch)) return true;
  const auto children = controls_;
  for (TControl* c : children) {
    if (c->IsWindowed()) {
      auto* w = static_cast<TWinControl*>(c);
      if (w->Visible() && w->BroadcastDialogChar(ch)) return true;
    } else if (c->DialogChar(ch)) {
      return true;
    }
  }
  return false;
}

void TWinControl::SetBorderWidth(int width) {
  borderWidth_ = width;
  AlignControls();
}

void TWinControl::AlignControls() {
  RECT rc = ClientRect();
  InflateRect(&rc, -borderWidth_, -borderWidth_);
  const auto place = [&](TAlign which) {
    for (TControl* c : controls_) {
      if (c->align_ != which || !c->Visible()) continue;
      switch (which) {
        case alTop:
          c->SetBounds(rc.left, rc.top, rc.right - rc.left, c->Height());
          rc.top += c->Height();
          break;
        case alBottom:
          c->SetBounds(rc.left, rc.bottom - c->Height(), rc.right - rc.left, c->Height());
          rc.bottom -= c->Height();
          break;
        case alLeft:
          c->SetBounds(rc.left, rc.top, c->Width(), rc.bottom - rc.top);
          rc.left += c->Width();
          break;
        case alRight:
          c->SetBounds(rc.right - c->Width(), rc.top, c->Width(), rc.bottom - rc.top);
          rc.right -= c->Width();
          break;
        case alClient:
          c->SetBounds(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
          break;
        case alNone:
          break;
      }
    }
  };
  for (TAlign a : {alTop, alBottom, alLeft, alRight, alClient}) place(a);
}

void TWinControl::PaintControls(HDC dc, const RECT& area) {
  for (TControl* c : controls_) {
    if (c->IsWindowed() || !c->Visible()) continue;
    const RECT r = c->BoundsRect();
    RECT common{};
    if (!IntersectRect(&common, &r, &area)) continue;
    const int saved = SaveDC(dc);
    SetViewportOrgEx(dc, r.left, r.top, nullptr);
    IntersectClipRect(dc, 0, 0, c->Width(), c->Height());
    SetBkMode(dc, TRANSPARENT);
    SelectObject(dc, c->Font().Handle());
    c->Paint(dc);
    RestoreDC(dc, saved);
  }
}

void TWinControl::InsertControl(TControl* control) {
  controls_.push_back(control);
  control->parent_ = this;
}

void TWinControl::RemoveControl(TControl* control) {
  if (mouseControl_ == control) mouseControl_ = nullptr;
  if (captureControl_ == control) SetCaptureControl(nullptr);
  controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
  control->parent_ = nullptr;
}

void TWinControl::SetCaptureControl(TControl* control) {
  if (control != nullptr) {
    captureControl_ = control;
    if (handle_) SetCapture(handle_.Get());
    return;
  }
  captureControl_ = nullptr;
  if (handle_ && GetCapture() == handle_.Get()) ReleaseCapture();
}

void TWinControl::UpdateMouseControl(POINT p, bool inside) {
  TControl* target = inside ? ControlAtPos(p, true) : nullptr;
  if (target == mouseControl_) return;
  TControl* old = mouseControl_;
  mouseControl_ = target;
  if (old != nullptr) old->MouseLeave();
  if (target != nullptr && mouseControl_ == target) target->MouseEnter();
}

LRESULT TWinControl::RouteMouse(UINT msg, WPARAM wp, LPARAM lp, bool& handled) {
  handled = false;
  const POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
  const TShiftState shift = ShiftFromMouseWParam(wp);
  switch (msg) {
    case WM_MOUSEMOVE: {
      TRACKMOUSEEVENT tme{sizeof(tme), TME_LEAVE, handle_.Get(), 0};
      TrackMouseEvent(&tme);
      trackingLeave_ = true;
      const RECT client = ClientRect();
      UpdateMouseControl(p, PtInRect(&client, p) != FALSE);
      TControl* target = captureControl_ != nullptr ? captureControl_ : ControlAtPos(p, false);
      if (target != nullptr) {
        target->MouseMove(shift, p.x - target->Left(), p.y - target->Top());
        handled = true;
      }
      return 0;
    }
    case WM_LBUTTONDOWN: case WM_RBUTTONDOWN: case WM_MBUTTONDOWN:
    case WM_LBUTTONDBLCLK: case WM_RBUTTONDBLCLK: case WM_MBUTTONDBLCLK: {
      TControl* target = ControlAtPos(p, false);
      if (target == nullptr) return 0;
      const TMouseButton button = ButtonOf(msg);
      if (button == mbLeft && (target->ControlStyle() & csCaptureMouse)) SetCaptureControl(target);
      target->MouseDown(button, shift, p.x - target->Left(), p.y - target->Top());
      handled = true;
      return 0;
    }
    case WM_LBUTTONUP: case WM_RBUTTONUP: case WM_MBUTTONUP: {
      TControl* target = captureControl_ != nullptr ? captureControl_ : ControlAtPos(p, false);
      if (target == nullptr) return 0;
      const TMouseButton button = ButtonOf(msg);
      if (button == mbLeft && captureControl_ == target) SetCaptureControl(nullptr);
      const int x = p.x - target->Left();
      const int y = p.y - target->Top();
      if (button == mbRight)
        target->RightButtonUp(shift, x, y);
      else
        target->MouseUp(button, shift, x, y);
      handled = true;
      return 0;
    }
    default:
      return 0;
  }
}

LRESULT TWinControl::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  const bool own = oldProc_ == nullptr;
  switch (msg) {
    case WM_PAINT:
      if (!own) break;
      {
        vz::win::PaintScope ps(handle_.Get());
        PaintWindow(ps.Dc());
        PaintControls(ps.Dc(), ps.Info().rcPaint);
      }
      return 0;
    case WM_ERASEBKGND:
      if (!own) break;
      EraseBackground(reinterpret_cast<HDC>(wp));
      return 1;
    case WM_COMMAND:
      if (lp != 0) {
        TWinControl* child = FromHandle(reinterpret_cast<HWND>(lp));
        if (child != nullptr && child != this && child->Command(HIWORD(wp))) return 0;
      }
      break;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lp);
      TWinControl* child = header != nullptr ? FromHandle(header->hwndFrom) : nullptr;
      LRESULT result = 0;
      if (child != nullptr && child != this && child->Notify(*header, result)) return result;
      break;
    }
    case WM_CTLCOLOREDIT: case WM_CTLCOLORSTATIC: case WM_CTLCOLORBTN: case WM_CTLCOLORLISTBOX: {
      TWinControl* child = FromHandle(reinterpret_cast<HWND>(lp));
      if (child != nullptr && child != this) {
        if (HBRUSH brush = child->ControlColor(reinterpret_cast<HDC>(wp))) return reinterpret_cast<LRESULT>(brush);
      }
      break;
    }
    case WM_MOVE:
    case WM_SIZE:
      if (own) {
        RECT r{};
        GetWindowRect(handle_.Get(), &r);
        if (HWND parentWnd = GetParent(handle_.Get()); parentWnd != nullptr && (GetWindowLongPtrA(handle_.Get(), GWL_STYLE) & WS_CHILD))
          MapWindowPoints(nullptr, parentWnd, reinterpret_cast<POINT*>(&r), 2);
        left_ = r.left;
        top_ = r.top;
        width_ = r.right - r.left;
        height_ = r.bottom - r.top;
        if (msg == WM_SIZE) {
          AlignControls();
          if (OnResize) OnResize(this);
        }
      }
      break;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN: case WM_RBUTTONDOWN: case WM_MBUTTONDOWN:
    case WM_LBUTTONDBLCLK: case WM_RBUTTONDBLCLK: case WM_MBUTTONDBLCLK:
    case WM_LBUTTONUP: case WM_RBUTTONUP: case WM_MBUTTONUP:
      if (own) {
        bool handled = false;
        RouteMouse(msg, wp, lp, handled);
        if (handled) return 0;
      }
      break;
    case WM_MOUSELEAVE:
      trackingLeave_ = false;
      if (GetCapture() != handle_.Get()) UpdateMouseControl(POINT{}, false);
      return 0;
    case WM_CAPTURECHANGED:
      captureControl_ = nullptr;
      break;
    default:
      break;
  }
  return DefaultHandler(msg, wp, lp);
}

LRESULT TWinControl::DefaultHandler(UINT msg, WPARAM wp, LPARAM lp) {
  if (oldProc_ != nullptr) return CallWindowProcA(oldProc_, handle_.Get(), msg, wp, lp);
  return DefWindowProcA(handle_.Get(), msg, wp, lp);
}

bool TWinControl::Command(WORD) { return false; }
bool TWinControl::Notify(NMHDR&, LRESULT&) { return false; }
HBRUSH TWinControl::ControlColor(HDC) { return nullptr; }

void TWinControl::EraseBackground(HDC dc) {
  RECT r{};
  GetClientRect(handle_.Get(), &r);
  vz::gfx::FillRectColor(dc, r, Color());
}

void TWinControl::PaintWindow(HDC) {}

void TWinControl::BoundsChanged() {
  if (handle_) MoveWindow(handle_.Get(), Left(), Top(), Width(), Height(), TRUE);
  AlignControls();
  HintsChanged();
}

void TWinControl::VisibleChanged() {
  if (handle_) ShowWindow(handle_.Get(), Visible() ? SW_SHOWNA : SW_HIDE);
  HintsChanged();
}

void TWinControl::EnabledChanged() {
  if (handle_) EnableWindow(handle_.Get(), Enabled());
}

void TWinControl::FontChanged() {
  if (handle_) SendMessageA(handle_.Get(), WM_SETFONT, reinterpret_cast<WPARAM>(Font().Handle()), TRUE);
  for (TControl* c : controls_) c->ParentFontChanged();
  Invalidate();
}

void TWinControl::ColorChanged() { Invalidate(); }

void TWinControl::TextChanged() {
  if (handle_) SetWindowTextA(handle_.Get(), Caption().c_str());
}
