#pragma once
// The controller's main form: never shown; owns the driver-interface component,
// answers the driver's document notices and holds the tray icon and its menu (a
// double click on the icon does what the menu's "Start VelmorFAX" does).
#include <memory>

#include "controller/joblog.hpp"
#include "driverlink/adfaxctl.hpp"
#include "phonebook/codepage.hpp"
#include "toolkit/forms.hpp"
#include "toolkit/menus.hpp"
#include "widgets/trayicon.hpp"

class TMainForm : public TForm {
 public:
  // `transport` lets tests pick the window transport; the program uses the default.
  explicit TMainForm(TComponent* owner, TDriverTransport transport = TDriverTransport::dtAuto);
  ~TMainForm() override;

  TApdFaxDriverInterface* FaxConvController1 = nullptr;
  TTrayIcon95* TrayIcon951 = nullptr;
  TPopupMenu* PopupMenu1 = nullptr;
  // Indexes of the menu's items.
  static constexpr std::size_t CloseVelmorFaxNTDriver1 = 0;
  static constexpr std::size_t About1 = 1;
  static constexpr std::size_t StartVelmorFAX1 = 2;

  void FormCreate(TComponent* sender);
  void FaxConvController1DocStart(TComponent* sender);
  void FaxConvController1DocEnd(TComponent* sender);
  void CloseVelmorFaxNTDriver1Click(TComponent* sender);
  void About1Click(TComponent* sender);
  void StartVelmorFAX1Click(TComponent* sender);
  void TrayIcon951DblClick(TComponent* sender);

 private:
  std::unique_ptr<vz::phonebook::AnsiCodePage> codePage_ = vz::phonebook::SystemAnsiCodePage();
  // One for the run: a log that cannot be written is reported once.
  vz::JobLog jobLog_{*codePage_};
};
