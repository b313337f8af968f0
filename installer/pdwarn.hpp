#pragma once
// Unit PdWarn: the notice that Windows NT's raster-driver files are missing and
// will be asked for. A fixed dialog; OK closes it.
#include "toolkit/forms.hpp"
#include "toolkit/stdctrls.hpp"

class TRASDDWarning : public TForm {
 public:
  explicit TRASDDWarning(TComponent* owner);

  TLabel* Label1;
  TLabel* Label2;
  TButton* Button1;
};
