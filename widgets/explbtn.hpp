#pragma once
// TExplorerButton: a flat push button without a window of its own, with a bitmap
// and a caption. Flat until the mouse is over it (hot: raised bevel), sunken while
// pressed; it can show a four-tone copy of its bitmap while not hot, an embossed
// bitmap when disabled, a drop-down mark when it opens a menu, and stay down in a
// group. It never takes the keyboard focus; as the form's Default or Cancel button
// it answers Enter or Esc, and its caption's accelerator clicks it.
#include <windows.h>

#include <string>

#include "toolkit/controls.hpp"
#include "toolkit/graphics.hpp"
#include "widgets/explbtn_layout.hpp"

class TPopupMenu;

class TExplorerButton : public TGraphicControl {
 public:
  explicit TExplorerButton(TComponent* owner);
  ~TExplorerButton() override;

  bool Cancel() const noexcept { return cancel_; }
  void SetCancel(bool value) noexcept { cancel_ = value; }
  bool Default() const noexcept { return default_; }
  void SetDefault(bool value) noexcept { default_ = value; }
  TColor ShadowColor() const noexcept { return shadowColor_; }
  void SetShadowColor(TColor color) noexcept { shadowColor_ = color; }
  TAlignment Alignment() const noexcept { return alignment_; }
  void SetAlignment(TAlignment alignment);
  bool AllowAllUp() const noexcept { return allowAllUp_; }
  void SetAllowAllUp(bool value);
  TExplorerButtonBevelStyle BevelStyle() const noexcept { return bevelStyle_; }
  void SetBevelStyle(TExplorerButtonBevelStyle style);
  // The bitmaps are copies: change them through these references or the setters.
  TBitmap& Bitmap() noexcept { return bitmap_; }
  void SetBitmap(const TBitmap& bitmap) { bitmap_.Assign(bitmap); }
  TBitmap& NoFocusBitmap() noexcept { return noFocusBitmap_; }
  void SetNoFocusBitmap(const TBitmap& bitmap) { noFocusBitmap_.Assign(bitmap); }
  TBitmap& DisabledBitmap() noexcept { return disabledBitmap_; }
  void SetDisabledBitmap(const TBitmap& bitmap) { disabledBitmap_.Assign(bitmap); }
  void SetCaption(const std::string& caption) override;
  int GroupIndex() const noexcept { return groupIndex_; }
  void SetGroupIndex(int index);
  bool Down() const noexcept { return down_; }
  void SetDown(bool value);
  TPopupMenu* DropDownMenu() const noexcept { return dropDownMenu_; }
  void SetDropDownMenu(TPopupMenu* menu);
  void SetEnabled(bool enabled) override;
  TExplorerButtonLayout Layout() const noexcept { return layout_; }
  void SetLayout(TExplorerButtonLayout layout);
  TExplorerButtonOptions Options() const noexcept { return options_; }
  void SetOptions(TExplorerButtonOptions options);
  TExplorerButtonShadingType ShadingType() const noexcept { return shadingType_; }
  void SetShadingType(TExplorerButtonShadingType type);
  bool ShowDownPattern() const noexcept { return showDownPattern_; }
  void SetShowDownPattern(bool value);
  TColor UnselectedFontColor() const noexcept { return unselectedFontColor_; }
  void SetUnselectedFontColor(TColor color);
  bool WordWrap() const noexcept { return wordWrap_; }
  void SetWordWrap(bool value);

  bool Hot() const noexcept { return hot_; }
  bool Pressed() const noexcept { return pressed_; }
  // The four-tone copy shown while not hot (with boMonoDisplay and no NoFocusBitmap).
  const TBitmap& ShadedBitmap() const noexcept { return shaded_; }
  // Where bitmap and caption go with the current size, font and properties.
  vz::explbtn::LayoutResult ComputeCurrentLayout() const;

  void Click() override;
  void Paint(HDC dc) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  void RightButtonUp(TShiftState shift, int x, int y) override;
  void MouseEnter() override;
  void MouseLeave() override;
  bool DialogKey(unsigned key) override;
  bool DialogChar(char ch) override;

  // The shared 8 x 8 down pattern (created on first need).
  static HBITMAP DownPattern();

 protected:
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  void BitmapChanged();
  void MakeShadedCopy();
  bool MarkShown() const;
  vz::explbtn::LayoutResult ComputeLayoutOn(HDC dc) const;
  void DrawBevel(HDC dc, bool sunken) const;
  void DrawCaption(HDC dc, const vz::explbtn::LayoutResult& layout, RECT rect) const;
  void DrawMark(HDC dc, int x, int y) const;
  void DrawEmbossed(HDC dc, const TBitmap& image, int x, int y) const;
  // Raises every other down button of this one's group on the same parent.
  void RaiseGroupSiblings();
  // Drops pending mouse input and any capture after a menu closed.
  void SettleAfterMenu();
  bool CursorOverButton() const;

  bool cancel_ = false;
  bool default_ = false;
  TColor shadowColor_ = clBtnShadow;
  TAlignment alignment_ = taCenter;
  bool allowAllUp_ = false;
  TExplorerButtonBevelStyle bevelStyle_ = bsRaised;
  TBitmap bitmap_;
  TBitmap noFocusBitmap_;
  TBitmap disabledBitmap_;
  TBitmap shaded_;
  int groupIndex_ = 0;
  bool down_ = false;
  TPopupMenu* dropDownMenu_ = nullptr;
  TExplorerButtonLayout layout_ = blBitmapTop;
  TExplorerButtonOptions options_ = boMonoDisplay | boPopupMark;
  TExplorerButtonShadingType shadingType_ = stMedium;
  bool showDownPattern_ = true;
  TColor unselectedFontColor_ = clWindowText;
  bool wordWrap_ = false;

  bool pressed_ = false;
  bool hot_ = false;
  // True on the Windows 95 family: captions are then drawn with an end ellipsis.
  bool win95Family_ = false;
};
