// VZNTCTL: the print-to-fax controller. Hidden; serves the fax printer driver.
#include <windows.h>

#include <exception>
#include <memory>

#include "controller/ifmain.hpp"
#include "controller/justone.hpp"
#include "toolkit/application.hpp"
#include "widgets/trayicon.hpp"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Every failure of the start-up ends the program without a message.
  try {
    // Before anything else exists: a second copy hands over to the first and ends.
    PreviousInstance();
    std::make_unique<TJustOne>(nullptr).reset();
    // Keeps the application window out of the taskbar; made before the application.
    TrayApplicationStartup tray;
    TApplication application;
    application.SetTitle("VelmorFAX NT Print To Fax");
    // Owned by the application: freed with it, which stops the pipe thread.
    application.SetMainForm(new TMainForm(&application));
    // The controller lives in the tray; closing the main form ends it.
    return RunApplicationHidden();
  } catch (...) {
    return 1;
  }
}
