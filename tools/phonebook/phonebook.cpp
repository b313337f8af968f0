// Opens the phone book browser modally on the phone book (VZPB.DBF) in FOLDER, as
// the fax details dialog does, and prints the modal result and the chosen entry:
//   phonebook FOLDER [--hold-ms N]
// prints "result 1", "name <text>", "phone <text>" on separate lines. --hold-ms
// ends the browser with Cancel after N ms (screenshots, trying it unattended).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/text.hpp"
#include "phonebook/mainscreen.hpp"
#include "toolkit/application.hpp"
#include "toolkit/dialogs.hpp"

namespace {

// The phone book's view of this program: it lives in FOLDER, as if run from there.
class FolderUi : public vz::phonebook::PhoneBookUi {
 public:
  explicit FolderUi(std::string folder) : folder_(std::move(folder)) {}
  std::string ProgramPath() override { return vz::JoinPath(folder_, "VZNTCTL.EXE"); }
  void ShowInfo(const std::string& text) override { ::ShowInfo(text); }
  void Terminate() override { Application->Terminate(); }

 private:
  std::string folder_;
};

TMainScreen* holdScreen = nullptr;

void CALLBACK EndHold(HWND, UINT, UINT_PTR, DWORD) {
  if (holdScreen != nullptr) holdScreen->SetModalResult(mrCancel);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: phonebook FOLDER [--hold-ms N]\n");
    return 2;
  }
  try {
    TApplication app;
    app.SetTitle("Phone Book");
    FolderUi ui(argv[1]);
    TMainScreen screen(&app, ui);
    for (int i = 2; i + 1 < argc; ++i)
      if (std::strcmp(argv[i], "--hold-ms") == 0) {
        holdScreen = &screen;
        SetTimer(nullptr, 0, static_cast<UINT>(std::atoi(argv[i + 1])), &EndHold);
      }
    const int result = screen.ShowModal();
    std::printf("result %d\nname %s\nphone %s\n", result, screen.ChosenName.c_str(), screen.ChosenPhone.c_str());
    return app.Terminated() ? 3 : 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "phonebook: %s\n", e.what());
    return 1;
  }
}
