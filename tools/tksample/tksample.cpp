// A sample form with explorer buttons in each look, for screenshots and for
// trying the toolkit by hand. "--hold-ms N" ends the program after N ms.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "toolkit/application.hpp"
#include "toolkit/dialogs.hpp"
#include "toolkit/forms.hpp"
#include "toolkit/menus.hpp"
#include "toolkit/stdctrls.hpp"
#include "tools/tksample/tksample_ids.hpp"
#include "widgets/explbtn.hpp"
#include "widgets/res/buttonbitmaps.hpp"

namespace {

class TSampleForm : public TForm {
 public:
  explicit TSampleForm(TComponent* owner) : TForm(owner, MAKEINTRESOURCEA(IDD_SAMPLE)) {
    SetShowHint(true);
    for (int bar : {IDC_BAR, IDC_LOOKS, IDC_LAYOUTS}) {
      auto* panel = ControlById<TPanel>(bar);
      panel->SetColor(clGray);
      panel->SetSingleBorder(true);
    }
    ControlById<TLabel>(IDC_NAME_LABEL)->SetFocusControl(ControlById<TEdit>(IDC_NAME));
    ControlById<TEdit>(IDC_NAME)->SetMaxLength(35);
    ControlById<TButton>(IDC_OK)->SetModalResult(mrOk);
    ControlById<TButton>(IDC_CANCEL)->SetModalResult(mrCancel);

    struct Look {
      int id;
      const char* bitmap;
      const char* hint;
    };
    const Look looks[] = {
        {IDC_NEWBUTTON, kBitmapNew, "Create a new phone book entry"},
        {IDC_EDITBUTTON, kBitmapEdit, "Edit the currently selected phone book entry"},
        {IDC_DELETEBUTTON, kBitmapDelete, "Delete the currently selected phone book entry"},
        {IDC_HELPBUTTON, kBitmapHelp, "Get Windows help for Phonebook Browser"},
        {IDC_ACCEPT, kBitmapAccept, "Use this phone book entry for the current fax"},
        {IDC_CANCELBUTTON, kBitmapCancel, "Cancel - do not use any of these phone book entries\rfor the current fax"},
        {IDC_FLAT, kBitmapNew, "Flat: the mouse is elsewhere"},
        {IDC_HOT, kBitmapEdit, "Hot: raised bevel under the mouse"},
        {IDC_PRESSED, kBitmapDelete, "Pressed: sunken, content moved by one pixel"},
        {IDC_DOWN, kBitmapHelp, "Down in a group: sunken on the down pattern"},
        {IDC_DISABLED, kBitmapAccept, "Disabled: embossed bitmap and caption"},
        {IDC_FOURTONE, kBitmapCancel, "Four-tone copy of the bitmap until the mouse comes"},
        {IDC_LEFT, kBitmapNew, "Bitmap left of the caption"},
        {IDC_RIGHT, kBitmapEdit, "Bitmap right of the caption"},
        {IDC_BOTTOM, kBitmapDelete, "Bitmap below the caption"},
        {IDC_MENU, nullptr, "Opens a menu"},
        {IDC_WRAP, kBitmapHelp, "A caption broken over lines"},
    };
    HINSTANCE instance = GetModuleHandleA(nullptr);
    for (const Look& look : looks) {
      auto* b = ControlById<TExplorerButton>(look.id);
      b->SetShadowColor(clBlack);
      b->Font().SetColor(clWhite);
      b->SetUnselectedFontColor(clWhite);
      b->SetOptions(boPopupMark);
      b->SetHint(look.hint);
      if (look.bitmap != nullptr) b->Bitmap().LoadFromResourceName(instance, look.bitmap);
      b->OnClick = [this](TComponent* sender) {
        ShowInfo("Clicked " + static_cast<TExplorerButton*>(sender)->Caption());
        (void)this;
      };
    }
    auto* down = ControlById<TExplorerButton>(IDC_DOWN);
    down->SetGroupIndex(1);
    down->SetDown(true);
    // White on the light down pattern would not show: this one sample keeps dark text.
    down->Font().SetColor(clWindowText);
    ControlById<TExplorerButton>(IDC_DISABLED)->SetEnabled(false);
    ControlById<TExplorerButton>(IDC_FOURTONE)->SetOptions(boMonoDisplay | boPopupMark);
    ControlById<TExplorerButton>(IDC_LEFT)->SetLayout(blBitmapLeft);
    ControlById<TExplorerButton>(IDC_RIGHT)->SetLayout(blBitmapRight);
    ControlById<TExplorerButton>(IDC_BOTTOM)->SetLayout(blBitmapBottom);
    ControlById<TExplorerButton>(IDC_WRAP)->SetWordWrap(true);
    menu_ = new TPopupMenu(this);
    menu_->Add("First choice", [](TComponent*) { ShowInfo("First choice"); });
    menu_->Add("Second choice", [](TComponent*) { ShowInfo("Second choice"); });
    ControlById<TExplorerButton>(IDC_MENU)->SetDropDownMenu(menu_);
    ControlById<TExplorerButton>(IDC_ACCEPT)->SetDefault(true);
    ControlById<TExplorerButton>(IDC_CANCELBUTTON)->SetCancel(true);
    OnShow = [this](TComponent*) { ShowStates(); };
  }

 private:
  // The hot and pressed looks need the mouse: play it for the two sample buttons.
  void ShowStates() {
    auto* hot = ControlById<TExplorerButton>(IDC_HOT);
    hot->MouseEnter();
    auto* pressed = ControlById<TExplorerButton>(IDC_PRESSED);
    pressed->MouseEnter();
    pressed->MouseDown(mbLeft, ssLeft, 10, 10);
  }
  TPopupMenu* menu_ = nullptr;
};

void CALLBACK EndHold(HWND, UINT, UINT_PTR, DWORD) {
  if (Application != nullptr) Application->Terminate();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  try {
    TApplication app;
    app.SetTitle("Explorer Button Sample");
    auto* form = new TSampleForm(&app);
    app.SetMainForm(form);
    for (int i = 1; i + 1 < __argc; ++i)
      if (std::strcmp(__argv[i], "--hold-ms") == 0) SetTimer(nullptr, 0, static_cast<UINT>(std::atoi(__argv[i + 1])), &EndHold);
    return app.Run();
  } catch (const std::exception& e) {
    MessageBoxA(nullptr, e.what(), "Explorer Button Sample", MB_OK | MB_ICONSTOP);
    return 1;
  }
}
