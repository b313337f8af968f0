#include "widgets/explbtn.hpp"

#include <memory>

#include "toolkit/application.hpp"
#include "toolkit/forms.hpp"
#include "toolkit/menus.hpp"

using vz::explbtn::LayoutResult;

namespace {

constexpr int kDefaultWidth = 50;
constexpr int kDefaultHeight = 40;
constexpr int kPatternSize = 8;
// Gaps between the bitmap's right edge and the drop-down mark: flat and pressed.
constexpr int kMarkGap = 3;
constexpr int kPressedMarkGap = 4;

// Shared by all buttons; freed whenever a button goes and made again when needed.
std::unique_ptr<TBitmap> gDownPattern;

UINT AlignmentFlag(TAlignment alignment) {
  switch (alignment) {
    case taLeftJustify: return DT_LEFT;
    case taRightJustify: return DT_RIGHT;
    case taCenter: return DT_CENTER;
  }
  return DT_CENTER;
}

bool IsWin95Family() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!GetVersionExA(&info)) return false;
  return info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// Makes the button known to form templates (CONTROL "&New", id, "TExplorerButton", ...).
const bool kRegistered = [] {
  RegisterControlClass("TExplorerButton", [](TComponent* owner) { return new TExplorerButton(owner); });
  return true;
}();

}  // namespace

TExplorerButton::TExplorerButton(TComponent* owner) : TGraphicControl(owner) {
  (void)kRegistered;
  SetControlStyle(csCaptureMouse | csClickEvents | csSetCaption);
  SetBounds(Left(), Top(), kDefaultWidth, kDefaultHeight);
  bitmap_.OnChange = [this] { BitmapChanged(); };
  noFocusBitmap_.OnChange = [this] { BitmapChanged(); };
  disabledBitmap_.OnChange = [this] {
    if (!Enabled()) Invalidate();
  };
  win95Family_ = IsWin95Family();
}

TExplorerButton::~TExplorerButton() {
  Destroying();
  bitmap_.OnChange = nullptr;
  noFocusBitmap_.OnChange = nullptr;
  disabledBitmap_.OnChange = nullptr;
  if (dropDownMenu_ != nullptr) RemoveFreeNotification(dropDownMenu_);
  gDownPattern.reset();
}

HBITMAP TExplorerButton::DownPattern() {
  if (!gDownPattern) {
    auto pattern = std::make_unique<TBitmap>();
    pattern->SetSize(kPatternSize, kPatternSize, clBtnFace);
    const COLORREF highlight = ColorToRGB(clBtnHighlight);
    for (int y = 0; y < kPatternSize; ++y)
      for (int x = 0; x < kPatternSize; ++x)
        if (vz::explbtn::DownPatternHighlight(x, y)) pattern->SetPixel(x, y, highlight);
    gDownPattern = std::move(pattern);
  }
  return gDownPattern->Handle();
}

// ---------------------------------------------------------------- properties

void TExplorerButton::SetAlignment(TAlignment alignment) {
  alignment_ = alignment;
  Invalidate();
}

void TExplorerButton::SetAllowAllUp(bool value) {
  allowAllUp_ = value;
  if (groupIndex_ == 0 || Parent() == nullptr) return;
  for (std::size_t i = 0; i < Parent()->ControlCount(); ++i) {
    auto* other = dynamic_cast<TExplorerButton*>(Parent()->Controls(i));
    if (other != nullptr && other != this && other->groupIndex_ == groupIndex_) other->allowAllUp_ = value;
  }
}

void TExplorerButton::SetBevelStyle(TExplorerButtonBevelStyle style) {
  bevelStyle_ = style;
  Invalidate();
}

void TExplorerButton::SetCaption(const std::string& caption) {
  TGraphicControl::SetCaption(caption);
  if (options_ & boIconOnly)
    SetHint(vz::explbtn::StripAccelerators(caption));
  else
    Invalidate();
}

void TExplorerButton::SetGroupIndex(int index) {
  if (index == groupIndex_) return;
  groupIndex_ = index;
  if (index == 0 && down_) {
    down_ = false;
    Invalidate();
  }
}

void TExplorerButton::SetDown(bool value) {
  if (value == down_ || groupIndex_ == 0) return;
  down_ = value;
  Invalidate();
  if (value) RaiseGroupSiblings();
}

void TExplorerButton::RaiseGroupSiblings() {
  if (Parent() == nullptr) return;
  for (std::size_t i = 0; i < Parent()->ControlCount(); ++i) {
    auto* other = dynamic_cast<TExplorerButton*>(Parent()->Controls(i));
    if (other != nullptr && other != this && other->groupIndex_ == groupIndex_ && other->down_) {
      other->down_ = false;
      other->Invalidate();
    }
  }
}

void TExplorerButton::SetDropDownMenu(TPopupMenu* menu) {
  if (dropDownMenu_ != nullptr) RemoveFreeNotification(dropDownMenu_);
  dropDownMenu_ = menu;
  if (menu != nullptr) FreeNotification(menu);
  if (options_ & boPopupMark) Invalidate();
}

void TExplorerButton::Notification(TComponent* component, TOperation operation) {
  TGraphicControl::Notification(component, operation);
  if (operation == TOperation::opRemove && component == dropDownMenu_) {
    dropDownMenu_ = nullptr;
    Invalidate();
  }
}

void TExplorerButton::SetEnabled(bool enabled) {
  if (enabled == Enabled()) return;
  TGraphicControl::SetEnabled(enabled);
  if (groupIndex_ == 0) down_ = false;
  pressed_ = false;
  hot_ = false;
  Invalidate();
}

void TExplorerButton::SetLayout(TExplorerButtonLayout layout) {
  if (layout == layout_) return;
  layout_ = layout;
  Invalidate();
}

void TExplorerButton::SetOptions(TExplorerButtonOptions options) {
  options_ = options;
  const std::string stripped = vz::explbtn::StripAccelerators(Caption());
  if ((options & boIconOnly) && Hint().empty()) {
    SetHint(stripped);
    SetShowHint(true);
  } else if (Hint() == stripped) {
    SetHint("");
    SetShowHint(false);
  }
  Invalidate();
}

void TExplorerButton::SetShadingType(TExplorerButtonShadingType type) {
  if (type == shadingType_) return;
  shadingType_ = type;
  if (!bitmap_.Empty() && noFocusBitmap_.Empty()) {
    MakeShadedCopy();
    Invalidate();
  }
}

void TExplorerButton::SetShowDownPattern(bool value) {
  if (value == showDownPattern_) return;
  showDownPattern_ = value;
  Invalidate();
}

void TExplorerButton::SetUnselectedFontColor(TColor color) {
  if (color == unselectedFontColor_) return;
  unselectedFontColor_ = color;
  Invalidate();
}

void TExplorerButton::SetWordWrap(bool value) {
  if (value == wordWrap_) return;
  wordWrap_ = value;
  Invalidate();
}

// ---------------------------------------------------------------- images

void TExplorerButton::BitmapChanged() {
  if (!bitmap_.Empty() && noFocusBitmap_.Empty()) MakeShadedCopy();
  Invalidate();
}

void TExplorerButton::Loaded() {
  TGraphicControl::Loaded();
  if (!bitmap_.Empty() && noFocusBitmap_.Empty()) MakeShadedCopy();
}

void TExplorerButton::MakeShadedCopy() {
  shaded_.Assign(bitmap_);
  if (shaded_.Empty()) return;
  const COLORREF key = shaded_.TransparentColor();
  const COLORREF highlight = ColorToRGB(clBtnHighlight);
  const COLORREF shadow = ColorToRGB(clBtnShadow);
  for (int y = 0; y < shaded_.Height(); ++y) {
    for (int x = 0; x < shaded_.Width(); ++x) {
      const COLORREF c = shaded_.Pixel(x, y);
      if (c == key) continue;
      const int sum = GetRValue(c) + GetGValue(c) + GetBValue(c);
      COLORREF tone = RGB(0, 0, 0);
      switch (vz::explbtn::ShadeTone(sum, shadingType_)) {
        case vz::explbtn::Tone::White: tone = RGB(255, 255, 255); break;
        case vz::explbtn::Tone::Highlight: tone = highlight; break;
        case vz::explbtn::Tone::Shadow: tone = shadow; break;
        case vz::explbtn::Tone::Black: tone = RGB(0, 0, 0); break;
      }
      shaded_.SetPixel(x, y, tone);
    }
  }
}

// ---------------------------------------------------------------- painting

bool TExplorerButton::MarkShown() const { return (options_ & boPopupMark) && dropDownMenu_ != nullptr; }

LayoutResult TExplorerButton::ComputeLayoutOn(HDC dc) const {
  vz::explbtn::LayoutInput in;
  in.width = Width();
  in.height = Height();
  in.bitmapEmpty = bitmap_.Empty();
  in.bitmapWidth = bitmap_.Width();
  in.bitmapHeight = bitmap_.Height();
  in.caption = Caption();
  in.iconOnly = (options_ & boIconOnly) != 0;
  in.markShown = MarkShown();
  in.alignment = alignment_;
  in.layout = layout_;
  in.wordWrap = wordWrap_;
  return vz::explbtn::ComputeLayout(
      in, [dc](const std::string& text, int maxWidth, TAlignment alignment, bool wordWrap) {
        RECT r{0, 0, maxWidth, 0};
        DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r,
                  DT_CALCRECT | AlignmentFlag(alignment) | (wordWrap ? DT_WORDBREAK : 0));
        return vz::explbtn::TextExtent{r.right - r.left, r.bottom - r.top};
      });
}

LayoutResult TExplorerButton::ComputeCurrentLayout() const {
  vz::win::WindowDc screen(nullptr);
  vz::win::SelectGuard font(screen.Get(), Font().Handle());
  return ComputeLayoutOn(screen.Get());
}

void TExplorerButton::DrawBevel(HDC dc, bool sunken) const {
  const int w = Width();
  const int h = Height();
  const bool raisedLook = (!sunken && bevelStyle_ == bsRaised) || (sunken && bevelStyle_ == bsLowered);
  const TColor first = raisedLook ? clBtnHighlight : shadowColor_;
  const TColor second = raisedLook ? shadowColor_ : clBtnHighlight;
  vz::win::Pen firstPen(CreatePen(PS_SOLID, 1, ColorToRGB(first)));
  vz::win::Pen secondPen(CreatePen(PS_SOLID, 1, ColorToRGB(second)));
  vz::win::SelectGuard keep(dc, firstPen.Get());
  MoveToEx(dc, 0, h, nullptr);
  LineTo(dc, 0, 0);
  LineTo(dc, w - 1, 0);
  SelectObject(dc, secondPen.Get());
  LineTo(dc, w - 1, h - 1);
  LineTo(dc, 0, h - 1);
  SelectObject(dc, firstPen.Get());
}

void TExplorerButton::DrawCaption(HDC dc, const LayoutResult& layout, RECT rect) const {
  if (!layout.captionShown) return;
  UINT format = AlignmentFlag(alignment_) | (wordWrap_ ? DT_WORDBREAK : 0);
  const std::string& text = layout.text;
  if (win95Family_) {
    std::string buffer = text;
    DrawTextExA(dc, buffer.data(), static_cast<int>(buffer.size()), &rect, format | DT_END_ELLIPSIS, nullptr);
  } else {
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &rect, format);
  }
}

void TExplorerButton::DrawMark(HDC dc, int x, int y) const {
  const COLORREF color = GetTextColor(dc);
  for (const vz::explbtn::Point& p : vz::explbtn::MarkPixels(x, y)) ::SetPixel(dc, p.x, p.y, color);
}

void TExplorerButton::DrawEmbossed(HDC dc, const TBitmap& image, int x, int y) const {
  if (image.Empty()) return;
  vz::gfx::FillBlackPixels(dc, image, x + 1, y + 1, clBtnHighlight);
  vz::gfx::FillBlackPixels(dc, image, x, y, clBtnShadow);
}

void TExplorerButton::Paint(HDC dc) {
  if (!Visible() && !HasState(csDesigning)) return;
  const int w = Width();
  const int h = Height();
  if (down_ && showDownPattern_) {
    vz::win::Brush pattern(CreatePatternBrush(DownPattern()));
    const RECT all{0, 0, w, h};
    FillRect(dc, &all, pattern.Get());
  }
  SetBkMode(dc, TRANSPARENT);
  vz::win::SelectGuard font(dc, Font().Handle());
  SetTextColor(dc, ColorToRGB(Font().Color()));

  const LayoutResult layout = ComputeLayoutOn(dc);
  if (HasState(csDesigning)) vz::gfx::FrameRectColor(dc, RECT{0, 0, w, h}, clBlack);
  const RECT textRect{layout.textRect.left, layout.textRect.top, layout.textRect.right, layout.textRect.bottom};
  const auto moved = [](RECT r) {
    OffsetRect(&r, 1, 1);
    return r;
  };

  if (!Enabled()) {
    if (down_) DrawBevel(dc, true);
    if (!disabledBitmap_.Empty())
      vz::gfx::DrawTransparent(dc, disabledBitmap_, layout.bmpX, layout.bmpY);
    else
      DrawEmbossed(dc, bitmap_, layout.bmpX, layout.bmpY);
    if (layout.captionShown) {
      SetTextColor(dc, ColorToRGB(clBtnHighlight));
      DrawCaption(dc, layout, moved(textRect));
      SetTextColor(dc, ColorToRGB(clBtnShadow));
      DrawCaption(dc, layout, textRect);
    }
    return;
  }

  const int halfBitmapHeight = bitmap_.Height() / 2;
  if ((pressed_ && hot_) || down_) {
    DrawBevel(dc, true);
    DrawCaption(dc, layout, bevelStyle_ == bsRaised ? moved(textRect) : textRect);
    if (!bitmap_.Empty()) {
      vz::gfx::DrawTransparent(dc, bitmap_, layout.bmpX + 1, layout.bmpY + 1);
      if (MarkShown()) DrawMark(dc, layout.bmpX + bitmap_.Width() + kPressedMarkGap, layout.bmpY + halfBitmapHeight + 1);
    } else if (MarkShown()) {
      DrawMark(dc, layout.textX + layout.textWidth + kPressedMarkGap, layout.textY + layout.textHeight / 2 + 1);
    }
    return;
  }

  if (hot_)
    DrawBevel(dc, false);
  else
    SetTextColor(dc, ColorToRGB(unselectedFontColor_));
  DrawCaption(dc, layout, bevelStyle_ == bsLowered ? moved(textRect) : textRect);
  if (!bitmap_.Empty()) {
    const TBitmap* image = &bitmap_;
    if (!hot_ && (options_ & boMonoDisplay)) image = noFocusBitmap_.Empty() ? &shaded_ : &noFocusBitmap_;
    vz::gfx::DrawTransparent(dc, *image, layout.bmpX, layout.bmpY);
    if (MarkShown()) DrawMark(dc, layout.bmpX + bitmap_.Width() + kMarkGap, layout.bmpY + halfBitmapHeight);
  } else if (MarkShown()) {
    DrawMark(dc, layout.textX + layout.textWidth + kMarkGap, layout.textY + layout.textHeight / 2);
  }
}

// ---------------------------------------------------------------- mouse

void TExplorerButton::MouseEnter() {
  if (hot_) return;
  hot_ = true;
  if (!down_ && Enabled()) Invalidate();
  if (!pressed_) SetMouseCapture(false);
}

void TExplorerButton::MouseLeave() {
  if (!hot_) return;
  hot_ = false;
  if (!down_ && Enabled()) Invalidate();
  if (!pressed_) SetMouseCapture(false);
}

bool TExplorerButton::CursorOverButton() const {
  POINT cursor{};
  GetCursorPos(&cursor);
  const POINT p = ScreenToClient(cursor);
  const RECT r = ClientRect();
  return PtInRect(&r, p) != FALSE;
}

void TExplorerButton::SettleAfterMenu() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, WM_MOUSEMOVE, WM_MBUTTONDBLCLK, PM_REMOVE)) {
  }
  if (HWND capture = GetCapture()) SendMessageA(capture, WM_CANCELMODE, 0, 0);
  if (!CursorOverButton()) hot_ = false;
  pressed_ = false;
  Invalidate();
}

void TExplorerButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TGraphicControl::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  if (TForm* form = ParentForm(); form != nullptr && !form->Active()) form->BringToFront();
  if (!Enabled() || !Visible()) return;
  pressed_ = true;
  hot_ = true;
  Invalidate();
  if (dropDownMenu_ != nullptr) {
    Update();
    const POINT corner = ClientToScreen(POINT{0, Height()});
    TForm* form = ParentForm();
    dropDownMenu_->SetPopupComponent(this);
    dropDownMenu_->Popup(corner.x, corner.y, form != nullptr ? form->Handle() : nullptr);
    SettleAfterMenu();
  }
}

void TExplorerButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  TGraphicControl::MouseUp(button, shift, x, y);
  if (button != mbLeft) return;
  if (!Enabled() || !Visible() || !pressed_) return;
  pressed_ = false;
  if (hot_ && groupIndex_ != 0) {
    if (down_) {
      if (allowAllUp_) down_ = false;
    } else {
      RaiseGroupSiblings();
      down_ = true;
    }
  }
  SetMouseCapture(false);
  if (hot_) {
    hot_ = false;
    Invalidate();
    if (dropDownMenu_ == nullptr) Click();
  }
}

void TExplorerButton::RightButtonUp(TShiftState shift, int x, int y) {
  TGraphicControl::RightButtonUp(shift, x, y);
  if (PopupMenu() != nullptr) SettleAfterMenu();
}

void TExplorerButton::Click() { TGraphicControl::Click(); }

// ---------------------------------------------------------------- keys

bool TExplorerButton::DialogKey(unsigned key) {
  const bool mine = (key == VK_RETURN && default_) || (key == VK_ESCAPE && cancel_);
  if (!mine || !Enabled() || !Visible()) return false;
  Click();
  return true;
}

bool TExplorerButton::DialogChar(char ch) {
  if (!vz::explbtn::IsAccelerator(ch, Caption()) || !Enabled() || !Visible()) return false;
  const auto pump = [] {
    if (Application != nullptr) Application->ProcessMessages();
  };
  hot_ = true;
  pressed_ = false;
  Repaint();
  pump();
  MouseDown(mbLeft, 0, 0, 0);
  pump();
  MouseUp(mbLeft, 0, 0, 0);
  pump();
  if (!CursorOverButton()) {
    hot_ = false;
    Repaint();
  }
  return true;
}
