#include "phonebook/buttonlook.hpp"

#include <map>
#include <memory>
#include <string>

#include "toolkit/graphics.hpp"
#include "toolkit/stdctrls.hpp"
#include "widgets/explbtn.hpp"

namespace vz::phonebook {

// Every phone book window shows the same few bitmaps; reading one from the resources
// takes a lookup, a DIB section and a copy through two memory DCs, a copy of one
// already read a bare copy of its pixels. Only the GUI thread makes windows.
const TBitmap& ButtonBitmap(const char* name) {
  static std::map<std::string, std::unique_ptr<TBitmap>> loaded;
  std::unique_ptr<TBitmap>& slot = loaded[name];
  if (!slot) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->LoadFromResourceName(GetModuleHandleA(nullptr), name);
    slot = std::move(bitmap);
  }
  return *slot;
}

void StyleButton(TExplorerButton& button, const char* bitmapName, const std::string& hint) {
  button.SetLayout(blBitmapTop);
  button.SetShadowColor(clBlack);
  button.Font().SetColor(clWhite);
  button.SetUnselectedFontColor(clWhite);
  button.SetOptions(boPopupMark);
  button.SetHint(hint);
  button.Bitmap().Assign(ButtonBitmap(bitmapName));
}

void StyleButtonBar(TPanel& panel) {
  panel.SetColor(clGray);
  panel.SetSingleBorder(true);
  panel.SetBevelOuter(bvNone);
}

}  // namespace vz::phonebook
