#include "phonebook/phonebe.hpp"

#include "phonebook/buttonlook.hpp"
#include "phonebook/phonebe_ids.hpp"
#include "phonebook/phonetable.hpp"
#include "toolkit/application.hpp"
#include "toolkit/stdctrls.hpp"
#include "widgets/explbtn.hpp"
#include "widgets/res/buttonbitmaps.hpp"

TPhoneBookEditor::TPhoneBookEditor(TComponent* owner) : TForm(owner, MAKEINTRESOURCEA(IDD_PHONEBE)) {
  using vz::phonebook::StyleButton;
  SetShowHint(true);
  Label1 = ControlById<TLabel>(IDC_PB_LABEL1);
  Name = ControlById<TEdit>(IDC_PB_NAME);
  Label2 = ControlById<TLabel>(IDC_PB_LABEL2);
  Number = ControlById<TEdit>(IDC_PB_NUMBER);
  Panel1 = ControlById<TPanel>(IDC_PB_PANEL1);
  Helpbutton = ControlById<TExplorerButton>(IDC_PB_HELP);
  OKButton = ControlById<TExplorerButton>(IDC_PB_OK);
  Cancelbutton = ControlById<TExplorerButton>(IDC_PB_CANCEL);

  Name->SetMaxLength(vz::phonebook::kNameWidth);
  Name->SetHint("Type the recipient's name here");
  Number->SetMaxLength(vz::phonebook::kPhoneWidth);
  Number->SetHint("Type the fax number here");
  Panel1->SetAlign(alBottom);
  vz::phonebook::StyleButtonBar(*Panel1);
  StyleButton(*Helpbutton, kBitmapHelp, "Get Windows help for Phone Book Editor");
  StyleButton(*OKButton, kBitmapAccept, "Accept changes made and exit");
  StyleButton(*Cancelbutton, kBitmapCancel, "Cancel changes made and exit");
  OKButton->SetDefault(true);
  Cancelbutton->SetCancel(true);
  OKButton->OnClick = [this](TComponent* sender) { OKButtonClick(sender); };
  Cancelbutton->OnClick = [this](TComponent* sender) { CancelbuttonClick(sender); };
  Helpbutton->OnClick = [this](TComponent* sender) { HelpButtonClick(sender); };
  SetActiveControl(Name);
  RefreshHints();
}

void TPhoneBookEditor::OKButtonClick(TComponent*) { SetModalResult(mrOk); }

void TPhoneBookEditor::CancelbuttonClick(TComponent*) { SetModalResult(mrCancel); }

void TPhoneBookEditor::HelpButtonClick(TComponent*) {
  if (Application != nullptr) Application->HelpContext(kHelpTopic);
}
