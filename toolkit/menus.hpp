#pragma once
// A popup menu component: items with captions and click handlers, shown at a
// screen point; Popup returns after the menu closes.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/handles.hpp"
#include "toolkit/component.hpp"

class TMenuItem {
 public:
  std::string caption;  // "-" makes a separator
  TNotifyEvent onClick;
  bool enabled = true;
  bool isDefault = false;
};

class TPopupMenu : public TComponent {
 public:
  explicit TPopupMenu(TComponent* owner);
  // Appends an item; returns its index.
  std::size_t Add(const std::string& caption, TNotifyEvent onClick = nullptr);
  std::size_t Count() const noexcept { return items_.size(); }
  TMenuItem& Item(std::size_t index) { return items_.at(index); }

  // Shows the menu at (x, y) on the screen, waits until it closes and then runs
  // the chosen item's handler. The menu is owned by `owner` (null: the
  // application window). Returns the chosen index, or -1.
  int Popup(int x, int y, HWND owner = nullptr);

  // The component that last popped the menu up (the control or tray icon), or null.
  TComponent* PopupComponent() const noexcept { return popupComponent_; }
  void SetPopupComponent(TComponent* component) noexcept { popupComponent_ = component; }

  TNotifyEvent OnPopup;

 private:
  std::vector<TMenuItem> items_;
  TComponent* popupComponent_ = nullptr;
};
