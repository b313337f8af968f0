#pragma once
// Standard controls: label (windowless), one-line edit, push button and panel.
#include <functional>
#include <string>

#include "toolkit/controls.hpp"

// Text on the parent's surface; "&x" underlines x. With FocusControl set, the
// caption's accelerator moves the focus there.
class TLabel : public TGraphicControl {
 public:
  explicit TLabel(TComponent* owner);
  TWinControl* FocusControl() const noexcept { return focusControl_; }
  void SetFocusControl(TWinControl* control);
  bool Transparent() const noexcept { return transparent_; }
  void SetTransparent(bool value);
  // One line whose width follows the text (the designed width stays the least),
  // instead of text broken over lines inside fixed bounds.
  bool AutoSize() const noexcept { return autoSize_; }
  void SetAutoSize(bool value);
  void Paint(HDC dc) override;
  bool DialogChar(char ch) override;

 protected:
  void Notification(TComponent* component, TOperation operation) override;
  void FontChanged() override;
  void TextChanged() override;

 private:
  void AdjustWidth();

  TWinControl* focusControl_ = nullptr;
  bool transparent_ = true;
  bool autoSize_ = false;
  int designedWidth_ = 0;
};

// A one-line edit box.
class TEdit : public TWinControl {
 public:
  explicit TEdit(TComponent* owner);
  std::string Text() const;
  void SetText(const std::string& text);
  // Characters the box accepts at most (0: the system's limit).
  int MaxLength() const noexcept { return maxLength_; }
  void SetMaxLength(int length);
  TNotifyEvent OnChange;
  // The focus left the box.
  TNotifyEvent OnExit;
  // A key pressed in the box (`alt` for Alt held), before the box and the dialog
  // see it; true when taken, and then nobody else sees it nor its character.
  std::function<bool(TComponent* sender, unsigned key, bool alt)> OnKeyDown;
  // Whether OnKeyDown takes Enter or Esc now; the dialog leaves them to the box then.
  std::function<bool(unsigned key)> WantsKey;

 protected:
  void DescribeWindow(CreateParams& params) override;
  bool Command(WORD notifyCode) override;
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  int maxLength_ = 0;
  bool swallowChar_ = false;
};

// A push button; Default takes Enter and Cancel takes Esc on its form.
// A ModalResult other than mrNone ends a modal form when clicked.
class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* owner);
  bool Default() const noexcept { return default_; }
  void SetDefault(bool value);
  bool Cancel() const noexcept { return cancel_; }
  void SetCancel(bool value) noexcept { cancel_ = value; }
  int ModalResult() const noexcept { return modalResult_; }
  void SetModalResult(int result) noexcept { modalResult_ = result; }
  void Click() override;
  bool DialogKey(unsigned key) override;
  bool DialogChar(char ch) override;

 protected:
  void DescribeWindow(CreateParams& params) override;
  bool Command(WORD notifyCode) override;

 private:
  bool default_ = false;
  bool cancel_ = false;
  int modalResult_ = 0;
};

enum TBevelCut { bvNone, bvLowered, bvRaised };

// A container window with a background colour, an optional single border and bevel.
class TPanel : public TWinControl {
 public:
  explicit TPanel(TComponent* owner);
  // A single black border line (WS_BORDER) around the panel.
  bool SingleBorder() const noexcept { return singleBorder_; }
  void SetSingleBorder(bool value);
  TBevelCut BevelOuter() const noexcept { return bevelOuter_; }
  void SetBevelOuter(TBevelCut bevel);

 protected:
  void DescribeWindow(CreateParams& params) override;
  void PaintWindow(HDC dc) override;

 private:
  bool singleBorder_ = false;
  TBevelCut bevelOuter_ = bvNone;
};

// Makes TLabel, TEdit, TButton and TPanel known to form templates.
void RegisterStandardControls();
