#include "toolkit/stdctrls.hpp"


#include "common/text.hpp"
#include "toolkit/forms.hpp"

// ---------------------------------------------------------------- TLabel

TLabel::TLabel(TComponent* owner) : TGraphicControl(owner) { SetBounds(0, 0, 65, 14); }

void TLabel::SetFocusControl(TWinControl* control) {
  if (focusControl_ != nullptr) RemoveFreeNotification(focusControl_);
  focusControl_ = control;
  if (control != nullptr) FreeNotification(control);
}

void TLabel::SetTransparent(bool value) {
  transparent_ = value;
  Invalidate();
}

void TLabel::SetAutoSize(bool value) {
  if (value && !autoSize_) designedWidth_ = Width();
  autoSize_ = value;
  AdjustWidth();
  Invalidate();
}

void TLabel::FontChanged() {
  AdjustWidth();
  TGraphicControl::FontChanged();
}

void TLabel::TextChanged() {
  AdjustWidth();
  TGraphicControl::TextChanged();
}

void TLabel::AdjustWidth() {
  if (!autoSize_) return;
  HDC dc = GetDC(nullptr);
  const int saved = SaveDC(dc);
  SelectObject(dc, Font().Handle());
  RECT r{0, 0, 0, 0};
  DrawTextA(dc, Caption().c_str(), static_cast<int>(Caption().size()), &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_CALCRECT);
  RestoreDC(dc, saved);
  ReleaseDC(nullptr, dc);
  const int width = r.right - r.left > designedWidth_ ? r.right - r.left : designedWidth_;
  if (width != Width()) SetBounds(Left(), Top(), width, Height());
}

void TLabel::Notification(TComponent* component, TOperation operation) {
  TGraphicControl::Notification(component, operation);
  if (operation == TOperation::opRemove && component == focusControl_) focusControl_ = nullptr;
}

void TLabel::Paint(HDC dc) {
  RECT r = ClientRect();
  if (!transparent_) vz::gfx::FillRectColor(dc, r, Color());
  SetTextColor(dc, ColorToRGB(Enabled() ? Font().Color() : clBtnShadow));
  const UINT layout = autoSize_ ? DT_SINGLELINE : DT_WORDBREAK;
  DrawTextA(dc, Caption().c_str(), static_cast<int>(Caption().size()), &r, DT_LEFT | DT_TOP | layout);
}

bool TLabel::DialogChar(char ch) {
  if (focusControl_ == nullptr || !vz::IsAccelerator(ch, Caption())) return false;
  if (!focusControl_->Enabled() || !focusControl_->Visible()) return false;
  focusControl_->SetFocus();
  return true;
}

// ---------------------------------------------------------------- TEdit

TEdit::TEdit(TComponent* owner) : TWinControl(owner) {
  SetColor(clWindow);
  SetTabStop(true);
  SetBounds(0, 0, 121, 22);
}

void TEdit::DescribeWindow(CreateParams& p) {
  p.className = "EDIT";
  p.ownClass = false;
  p.style |= ES_AUTOHSCROLL | ES_LEFT;
  p.exStyle |= WS_EX_CLIENTEDGE;
}

std::string TEdit::Text() const {
  if (Handle() == nullptr) return Caption();
  const int length = GetWindowTextLengthA(Handle());
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int got = GetWindowTextA(Handle(), text.data(), length + 1);
  text.resize(static_cast<std::size_t>(got < 0 ? 0 : got));
  return text;
}

void TEdit::SetText(const std::string& text) {
  TControl::SetCaption(text);
  if (Handle() != nullptr) SetWindowTextA(Handle(), text.c_str());
}

void TEdit::SetMaxLength(int length) {
  maxLength_ = length;
  if (Handle() != nullptr) SendMessageA(Handle(), EM_LIMITTEXT, static_cast<WPARAM>(length), 0);
}

bool TEdit::Command(WORD notifyCode) {
  if (notifyCode == EN_CHANGE) {
    if (OnChange) OnChange(this);
    return true;
  }
  if (notifyCode == EN_KILLFOCUS) {
    if (OnExit) OnExit(this);
    return true;
  }
  return false;
}

// WM_GETDLGCODE carries the key message the dialog is about to handle in `lp`.
LRESULT TEdit::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_GETDLGCODE: {
      const auto* key = reinterpret_cast<const MSG*>(lp);
      const LRESULT code = TWinControl::OnMessage(msg, wp, lp);
      if (key != nullptr && key->message == WM_KEYDOWN && WantsKey && WantsKey(static_cast<unsigned>(key->wParam)))
        return code | DLGC_WANTALLKEYS;
      return code;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      swallowChar_ = false;
      if (OnKeyDown && OnKeyDown(this, static_cast<unsigned>(wp), msg == WM_SYSKEYDOWN)) {
        swallowChar_ = true;
        return 0;
      }
      break;
    case WM_CHAR:
    case WM_SYSCHAR:
      if (swallowChar_) {
        swallowChar_ = false;
        return 0;
      }
      break;
    default:
      break;
  }
  return TWinControl::OnMessage(msg, wp, lp);
}

// ---------------------------------------------------------------- TButton

TButton::TButton(TComponent* owner) : TWinControl(owner) {
  SetTabStop(true);
  SetBounds(0, 0, 75, 25);
}

void TButton::DescribeWindow(CreateParams& p) {
  p.className = "BUTTON";
  p.ownClass = false;
  p.style |= default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
}

void TButton::SetDefault(bool value) {
  default_ = value;
  if (Handle() != nullptr)
    SendMessageA(Handle(), BM_SETSTYLE, static_cast<WPARAM>(value ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), TRUE);
}

void TButton::Click() {
  if (modalResult_ != 0) {
    if (TForm* form = ParentForm()) form->SetModalResult(modalResult_);
  }
  TWinControl::Click();
}

bool TButton::Command(WORD notifyCode) {
  if (notifyCode != BN_CLICKED) return false;
  Click();
  return true;
}

bool TButton::DialogKey(unsigned key) {
  if (!((key == VK_RETURN && default_) || (key == VK_ESCAPE && cancel_))) return false;
  if (!Enabled() || !Visible() || Handle() == nullptr || !IsWindowEnabled(Handle())) return false;
  Click();
  return true;
}

bool TButton::DialogChar(char ch) {
  if (!vz::IsAccelerator(ch, Caption()) || !Enabled() || !Visible()) return false;
  SetFocus();
  Click();
  return true;
}

// ---------------------------------------------------------------- TPanel

TPanel::TPanel(TComponent* owner) : TWinControl(owner) {
  SetColor(clBtnFace);
  SetBounds(0, 0, 185, 41);
}

void TPanel::DescribeWindow(CreateParams& p) {
  p.className = "TPanel";
  p.ownClass = true;
  p.style |= WS_CLIPCHILDREN;
  if (singleBorder_) p.style |= WS_BORDER;
  p.exStyle |= WS_EX_CONTROLPARENT;
}

void TPanel::SetSingleBorder(bool value) {
  singleBorder_ = value;
  if (Handle() == nullptr) return;
  LONG_PTR style = GetWindowLongPtrA(Handle(), GWL_STYLE);
  style = value ? (style | WS_BORDER) : (style & ~static_cast<LONG_PTR>(WS_BORDER));
  SetWindowLongPtrA(Handle(), GWL_STYLE, style);
  SetWindowPos(Handle(), nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void TPanel::SetBevelOuter(TBevelCut bevel) {
  bevelOuter_ = bevel;
  Invalidate();
}

void TPanel::PaintWindow(HDC dc) {
  if (bevelOuter_ == bvNone) return;
  RECT r{};
  GetClientRect(Handle(), &r);
  const TColor first = bevelOuter_ == bvRaised ? clBtnHighlight : clBtnShadow;
  const TColor second = bevelOuter_ == bvRaised ? clBtnShadow : clBtnHighlight;
  vz::gfx::Line(dc, 0, r.bottom - 1, 0, 0, first);
  vz::gfx::Line(dc, 0, 0, r.right, 0, first);
  vz::gfx::Line(dc, r.right - 1, 0, r.right - 1, r.bottom, second);
  vz::gfx::Line(dc, 0, r.bottom - 1, r.right - 1, r.bottom - 1, second);
}

void RegisterStandardControls() {
  static bool done = false;
  if (done) return;
  done = true;
  RegisterControlClass("TLabel", [](TComponent* owner) { return new TLabel(owner); });
  RegisterControlClass("TEdit", [](TComponent* owner) { return new TEdit(owner); });
  RegisterControlClass("TButton", [](TComponent* owner) { return new TButton(owner); });
  RegisterControlClass("TPanel", [](TComponent* owner) { return new TPanel(owner); });
}
