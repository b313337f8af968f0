#include "toolkit/menus.hpp"

#include "toolkit/application.hpp"
#include "toolkit/exception.hpp"

namespace {
// Command ids of the items: index + 1 (0 means no choice).
constexpr UINT kFirstCommand = 1;
}  // namespace

TPopupMenu::TPopupMenu(TComponent* owner) : TComponent(owner) {}

std::size_t TPopupMenu::Add(const std::string& caption, TNotifyEvent onClick) {
  items_.push_back(TMenuItem{caption, std::move(onClick)});
  return items_.size() - 1;
}

int TPopupMenu::Popup(int x, int y, HWND owner) {
  if (OnPopup) OnPopup(this);
  vz::win::Menu menu(CreatePopupMenu());
  if (!menu) throw Exception("Unable to create a popup menu");
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const TMenuItem& item = items_[i];
    if (item.caption == "-") {
      AppendMenuA(menu.Get(), MF_SEPARATOR, 0, nullptr);
      continue;
    }
    UINT flags = MF_STRING | (item.enabled ? MF_ENABLED : MF_GRAYED);
    AppendMenuA(menu.Get(), flags, kFirstCommand + i, item.caption.c_str());
    if (item.isDefault) SetMenuDefaultItem(menu.Get(), static_cast<UINT>(kFirstCommand + i), FALSE);
  }
  if (owner == nullptr && Application != nullptr) owner = Application->Handle();
  const UINT chosen = static_cast<UINT>(TrackPopupMenu(menu.Get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON |
                                                                       TPM_RETURNCMD | TPM_NONOTIFY,
                                                       x, y, 0, owner, nullptr));
  if (chosen < kFirstCommand || chosen - kFirstCommand >= items_.size()) return -1;
  const std::size_t index = chosen - kFirstCommand;
  if (items_[index].onClick) items_[index].onClick(this);
  return static_cast<int>(index);
}
