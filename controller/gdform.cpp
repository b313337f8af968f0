#include "controller/gdform.hpp"

#include <memory>

#include "controller/gdform_ids.hpp"
#include "phonebook/mainscreen.hpp"
#include "toolkit/application.hpp"

TGetDataForm::TGetDataForm(TComponent* owner)
    : TForm(owner, MAKEINTRESOURCEA(IDD_GETDATAFORM)),
      Label1(ControlById<TLabel>(IDC_LABEL1)),
      Phone(ControlById<TEdit>(IDC_PHONE)),
      Label2(ControlById<TLabel>(IDC_LABEL2)),
      Recipient(ControlById<TEdit>(IDC_RECIPIENT)),
      Label3(ControlById<TLabel>(IDC_LABEL3)),
      Subject(ControlById<TEdit>(IDC_SUBJECT)),
      Button1(ControlById<TButton>(IDC_BUTTON1)),
      Button2(ControlById<TButton>(IDC_BUTTON2)),
      Button3(ControlById<TButton>(IDC_BUTTON3)),
      PickFromPhoneBook(&PickFromPhoneBrowser) {
  SetName("GetDataForm");
  // Owned by the desktop, not by the hidden application window, so that it has a
  // place of its own among the user's windows.
  SetOwnerWindow(nullptr);
  // The labels take the width of their text, so "Phone Number" is never cut short.
  for (TLabel* label : {Label1, Label2, Label3}) label->SetAutoSize(true);
  Button1->SetModalResult(mrOk);
  Button3->SetModalResult(mrCancel);
  Button3->SetCancel(true);
  Button1->OnClick = [this](TComponent* sender) { Button1Click(sender); };
  Button2->OnClick = [this](TComponent* sender) { Button2Click(sender); };
  Button3->OnClick = [this](TComponent* sender) { Button3Click(sender); };
  OnShow = [this](TComponent* sender) { FormShow(sender); };
  OnActivate = [this](TComponent* sender) { FormActivate(sender); };
  SetActiveControl(Phone);
}

// The controller's own windows are hidden: the dialog comes to the front by itself.
void TGetDataForm::FormShow(TComponent*) { SetForegroundWindow(Handle()); }

void TGetDataForm::FormActivate(TComponent*) {
  if (GetForegroundWindow() != Handle()) SetForegroundWindow(Handle());
}

void TGetDataForm::Button1Click(TComponent*) { SetModalResult(mrOk); }

void TGetDataForm::Button3Click(TComponent*) { SetModalResult(mrCancel); }

// Only an entry replaces what was typed: Accept on an empty phone book hands back
// no name and no number, and the typed texts stay.
void TGetDataForm::Button2Click(TComponent*) {
  if (!PickFromPhoneBook) return;
  std::string name;
  std::string phone;
  if (!PickFromPhoneBook(Recipient->Text(), name, phone)) return;
  if (name.empty() && phone.empty()) return;
  Recipient->SetText(name);
  Phone->SetText(phone);
}

bool PickFromPhoneBrowser(const std::string& startAt, std::string& name, std::string& phone) {
  const auto browser = std::make_unique<TMainScreen>(Application);
  browser->StartAt(startAt);
  if (browser->ShowModal() != mrOk) return false;
  name = browser->ChosenName;
  phone = browser->ChosenPhone;
  return true;
}
