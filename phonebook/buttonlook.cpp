#include "phonebook/buttonlook.hpp"

#include "toolkit/stdctrls.hpp"
#include "widgets/explbtn.hpp"

namespace vz::phonebook {

void StyleButton(TExplorerButton& button, const char* bitmapName, const std::string& hint) {
  button.SetLayout(blBitmapTop);
  button.SetShadowColor(clBlack);
  button.Font().SetColor(clWhite);
  button.SetUnselectedFontColor(clWhite);
  button.SetOptions(boPopupMark);
  button.SetHint(hint);
  button.Bitmap().LoadFromResourceName(GetModuleHandleA(nullptr), bitmapName);
}

void StyleButtonBar(TPanel& panel) {
  panel.SetColor(clGray);
  panel.SetSingleBorder(true);
  panel.SetBevelOuter(bvNone);
}

}  // namespace vz::phonebook
