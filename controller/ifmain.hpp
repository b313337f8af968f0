#pragma once
// The controller's main form: never shown; owns the driver-interface component
// and answers the driver's document notices.
#include "driverlink/adfaxctl.hpp"
#include "toolkit/forms.hpp"

class TMainForm : public TForm {
 public:
  // `transport` lets tests pick the window transport; the program uses the default.
  explicit TMainForm(TComponent* owner, TDriverTransport transport = TDriverTransport::dtAuto);
  ~TMainForm() override;

  TApdFaxDriverInterface* FaxConvController1 = nullptr;

  void FaxConvController1DocStart(TComponent* sender);
  void FaxConvController1DocEnd(TComponent* sender);
};
