// A sample form with a tray icon and its menu, for screenshots and for trying the
// tray icon by hand. "--popup" plays the shell: it points the mouse at the form and
// sends the icon a right-button press, so the tray menu opens there.
// "--minimize" starts minimised into the tray. "--animate" cycles the icon through
// the busy frames of the program's resources.
// "--hold-ms N" ends the program after N ms.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "toolkit/application.hpp"
#include "toolkit/dialogs.hpp"
#include "toolkit/forms.hpp"
#include "toolkit/menus.hpp"
#include "toolkit/stdctrls.hpp"
#include "widgets/res/trayicons.hpp"
#include "widgets/trayicon.hpp"

namespace {

// Where the menu opens with --popup, relative to the form's client area.
constexpr int kPopupX = 150;
constexpr int kPopupY = 40;

class TTraySampleForm : public TForm {
 public:
  explicit TTraySampleForm(TComponent* owner) : TForm(owner, std::string("TTraySampleForm")) {
    SetCaption("Tray Icon Sample");
    SetClientSize(360, 150);
    auto* label = new TLabel(this);
    label->SetParent(this);
    label->SetBounds(12, 12, 330, 20);
    label->SetCaption("Right-click the tray icon for its menu.");

    BeginLoading();
    PopupMenu1 = new TPopupMenu(this);
    PopupMenu1->Add("Close", [](TComponent*) { Application->Terminate(); });
    PopupMenu1->Add("About", [](TComponent*) { ShowInfo("VelmorFAX NT Print To Fax"); });
    PopupMenu1->Add("Start VelmorFAX", [](TComponent*) { ShowInfo("Start VelmorFAX"); });
    TrayIcon951 = new TTrayIcon95(this);
    TrayIcon951->SetName("TrayIcon951");
    TrayIcon951->Icon().LoadFromResourceName(GetModuleHandleA(nullptr), kTrayIconFax);
    TrayIcon951->SetHint("VelmorFAX NT Print To Fax");
    TrayIcon951->SetAutoPopup(true);
    TrayIcon951->SetPopupMenu(PopupMenu1);
    TrayIcon951->Animation().SetOptions(aoIconsInExe);
    TrayIcon951->Animation().SetIcons({"vzbusy1", "vzbusy2", "vzbusy3"});
    TrayIcon951->Animation().SetInterval(300);
    TrayIcon951->SetActive(true);
    EndLoading();
  }

  // What the shell sends when the user right-clicks the icon with the mouse at `at`.
  void PlayRightClick(POINT at) {
    SetCursorPos(at.x, at.y);
    PostMessageA(TrayIcon951->WindowHandle(), kTrayIconMessage, kTrayIconId, WM_MOUSEMOVE);
    PostMessageA(TrayIcon951->WindowHandle(), kTrayIconMessage, kTrayIconId, WM_RBUTTONDOWN);
  }

  TPopupMenu* PopupMenu1 = nullptr;
  TTrayIcon95* TrayIcon951 = nullptr;
};

void CALLBACK EndHold(HWND, UINT, UINT_PTR, DWORD) {
  EndMenu();
  if (Application != nullptr) Application->Terminate();
}

bool HasArg(const char* name) {
  for (int i = 1; i < __argc; ++i)
    if (std::strcmp(__argv[i], name) == 0) return true;
  return false;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  try {
    TrayApplicationStartup tray;
    TApplication app;
    app.SetTitle("VelmorFAX NT Print To Fax");
    auto* form = new TTraySampleForm(&app);
    app.SetMainForm(form);
    for (int i = 1; i + 1 < __argc; ++i)
      if (std::strcmp(__argv[i], "--hold-ms") == 0)
        SetTimer(nullptr, 0, static_cast<UINT>(std::atoi(__argv[i + 1])), &EndHold);
    if (HasArg("--animate")) form->TrayIcon951->SetState(tsAnimated);
    form->Show();
    if (HasArg("--popup")) {
      POINT at{kPopupX, kPopupY};
      ClientToScreen(form->Handle(), &at);
      form->PlayRightClick(at);
    }

    // Into the tray: the icon is then all there is to see.
    if (HasArg("--minimize")) app.Minimize();
    return app.Run();
  } catch (const std::exception& e) {
    MessageBoxA(nullptr, e.what(), "Tray Icon Sample", MB_OK | MB_ICONSTOP);
    return 1;
  }
}
