#include "installer/pdwarn.hpp"

#include "installer/pdwarn_ids.hpp"

namespace {

// Both texts: black, a point larger than the form's font.
void StyleText(TLabel* label) {
  label->Font().SetName("MS Sans Serif");
  label->Font().SetHeight(-12);
  label->Font().SetColor(clBlack);
}

}  // namespace

TRASDDWarning::TRASDDWarning(TComponent* owner)
    : TForm(owner, MAKEINTRESOURCEA(IDD_RASDDWARNING)),
      Label1(ControlById<TLabel>(IDC_LABEL1)),
      Label2(ControlById<TLabel>(IDC_LABEL2)),
      Button1(ControlById<TButton>(IDC_BUTTON1)) {
  StyleText(Label1);
  StyleText(Label2);
  Button1->SetModalResult(mrOk);
}
