// VZNTCTL: the print-to-fax controller. Hidden; serves the fax printer driver.
#include <windows.h>

#include <exception>

#include "controller/ifmain.hpp"
#include "toolkit/application.hpp"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  try {
    TApplication application;
    application.SetTitle("VelmorFAX NT Print To Fax");
    // Owned by the application: freed with it, which stops the pipe thread.
    application.SetMainForm(new TMainForm(&application));
    // The controller lives hidden; closing the main form ends it.
    application.SetShowMainForm(false);
    return application.Run();
  } catch (const std::exception&) {
    // A failure while the form and its components are created ends the program
    // without a message.
    return 1;
  }
}
