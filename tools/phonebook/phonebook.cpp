// Opens the phone book browser modally on the phone book (VZPB.DBF) in FOLDER, as
// the fax details dialog does, and prints the modal result and the chosen entry:
//   phonebook FOLDER [--row N] [--start TEXT] [--click CAPTION] [--drop FILE] [--size max|least]
//             [--hold-ms N]
// prints "result 1", "name <text>", "phone <text>" on separate lines. --row makes the
// entry in row N (from 0) current; --start opens on the first entry whose name starts
// with TEXT, as the fax details dialog does with the recipient typed; --click presses
// the button with that caption once the browser shows; --drop does what dropping FILE
// on it does, once it shows; --size maximises the browser
// or makes it as small as the user can drag it, once it shows; --hold-ms ends the
// program after N ms, closing whatever is
// open with Cancel (for screenshots and unattended runs). Exit code 3 when the phone
// book could not be opened (the program was told to end), 1 on an error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "common/text.hpp"
#include "phonebook/mainscreen.hpp"
#include "toolkit/application.hpp"
#include "widgets/explbtn.hpp"

namespace {

// The phone book's view of this program: the controller's, living in FOLDER.
class FolderUi : public vz::phonebook::Win32PhoneBookUi {
 public:
  explicit FolderUi(std::string folder) : folder_(std::move(folder)) {}
  std::string ProgramPath() override { return vz::JoinPath(folder_, "VZNTCTL.EXE"); }

 private:
  std::string folder_;
};

bool held = false;
TExplorerButton* clickButton = nullptr;

// Ends every window that is open, the editor and boxes over the browser included.
void CALLBACK EndHold(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  held = true;
  Application->Terminate();
}

void CALLBACK ClickLater(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (clickButton != nullptr) clickButton->Click();
}

TMainScreen* dropScreen = nullptr;
std::string dropFile;

// A timer procedure is an entry point: nothing may leave it.
void CALLBACK DropLater(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  try {
    if (dropScreen != nullptr) dropScreen->ImportFiles({dropFile});
  } catch (const std::exception& e) {
    Application->HandleException(e);
  }
}

HWND sizedWindow = nullptr;
bool maximize = false;

void CALLBACK SizeLater(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (maximize)
    ShowWindow(sizedWindow, SW_MAXIMIZE);
  else  // the system holds it at its least tracking size
    SetWindowPos(sizedWindow, nullptr, 0, 0, 1, 1, SWP_NOMOVE | SWP_NOZORDER);
}

TExplorerButton* ButtonByCaption(TMainScreen& screen, const std::string& caption) {
  for (TExplorerButton* b : {screen.Addbutton, screen.Modifybutton, screen.Deletebutton, screen.Helpbutton,
                             screen.OKButton, screen.Cancelbutton}) {
    std::string plain = b->Caption();
    std::erase(plain, '&');
    if (plain == caption) return b;
  }
  throw std::runtime_error("no button captioned " + caption);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr,
                 "usage: phonebook FOLDER [--row N] [--start TEXT] [--click CAPTION] [--drop FILE] [--size max|least] "
                 "[--hold-ms N]\n");
    return 2;
  }
  setvbuf(stderr, nullptr, _IONBF, 0);
  try {
    TApplication app;
    app.SetTitle("Phone Book");
    FolderUi ui(argv[1]);
    TMainScreen screen(&app, ui);
    for (int i = 2; i + 1 < argc; i += 2) {
      const std::string option = argv[i];
      const std::string value = argv[i + 1];
      if (option == "--hold-ms") {
        SetTimer(nullptr, 0, static_cast<UINT>(std::atoi(value.c_str())), &EndHold);
      } else if (option == "--row") {
        screen.PhoneTable.First();
        screen.PhoneTable.MoveBy(std::atoi(value.c_str()));
      } else if (option == "--start") {
        screen.StartAt(value);
      } else if (option == "--size") {
        if (value != "max" && value != "least") throw std::runtime_error("--size takes max or least");
        maximize = value == "max";
        sizedWindow = screen.Handle();
        SetTimer(nullptr, 0, 300, &SizeLater);
      } else if (option == "--click") {
        clickButton = ButtonByCaption(screen, value);
        SetTimer(nullptr, 0, 500, &ClickLater);
      } else if (option == "--drop") {
        dropScreen = &screen;
        dropFile = value;
        SetTimer(nullptr, 0, 500, &DropLater);
      } else {
        throw std::runtime_error("unknown option " + option);
      }
    }
    const int result = screen.ShowModal();
    std::printf("result %d\nname %s\nphone %s\n", result, screen.ChosenName.c_str(), screen.ChosenPhone.c_str());
    // The program was told to end (the phone book could not be opened) unless held.
    return app.Terminated() && !held ? 3 : 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "phonebook: %s\n", e.what());
    return 1;
  }
}
