#pragma once
// The controller's main form: never shown; owns the driver-interface component
// and answers the driver's document notices.
#include <windows.h>

#include "driverlink/adfaxctl.hpp"
#include "platform/handles.hpp"
#include "toolkit/component.hpp"

class TMainForm : public TComponent {
 public:
  // `transport` lets tests pick the window transport; the program uses the default.
  explicit TMainForm(TComponent* owner, TDriverTransport transport = TDriverTransport::dtAuto);
  ~TMainForm() override;

  HWND Handle() const noexcept { return handle_.Get(); }

  TApdFaxDriverInterface* FaxConvController1 = nullptr;

  void FaxConvController1DocStart(TComponent* sender);
  void FaxConvController1DocEnd(TComponent* sender);

 private:
  static LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnMessage(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);

  vz::win::OwnedWindow handle_;
};
