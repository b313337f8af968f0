#include "controller/ifmain.hpp"

#include "controller/faxfiles.hpp"
#include "controller/jobdialogs.hpp"
#include "controller/jobflow.hpp"
#include "controller/win32_controller_env.hpp"
#include "toolkit/application.hpp"
#include "toolkit/dialogs.hpp"
#include "widgets/res/trayicons.hpp"

namespace {
constexpr int kFormWidth = 288;
constexpr int kFormHeight = 126;
constexpr char kAboutText[] = "VelmorFAX NT Print To Fax Controller";
constexpr char kTrayHint[] = "VelmorFAX NT Print To Fax";

// Handles the messages that waited while a document end ran, whatever its outcome.
struct ProcessMessagesAfter {
  ProcessMessagesAfter() = default;
  ProcessMessagesAfter(const ProcessMessagesAfter&) = delete;
  ProcessMessagesAfter& operator=(const ProcessMessagesAfter&) = delete;
  ~ProcessMessagesAfter() {
    if (Application != nullptr) Application->ProcessMessages();
  }
};
}  // namespace

TMainForm::TMainForm(TComponent* owner, TDriverTransport transport) : TForm(owner, std::string("TMainForm")) {
  SetName("MainForm");
  SetCaption("MainForm");
  SetBounds(Left(), Top(), kFormWidth, kFormHeight);
  HINSTANCE instance = GetModuleHandleA(nullptr);
  SetIcon(LoadIconA(instance, kTrayIconFax));
  // The main form from the start: the tray icon is live before this constructor
  // ends, and "Close" chosen from it then must end the program too.
  if (Application != nullptr && Application->MainForm() == nullptr) Application->SetMainForm(this);

  BeginLoading();
  // First, so that the pipe listens before anything else of the program exists.
  FaxConvController1 = new TApdFaxDriverInterface(this, transport);
  FaxConvController1->SetName("FaxConvController1");
  FaxConvController1->FileName = "C:\\DEFAULT.APF";
  FaxConvController1->OnDocStart = [this](TComponent* sender) { FaxConvController1DocStart(sender); };
  FaxConvController1->OnDocEnd = [this](TComponent* sender) { FaxConvController1DocEnd(sender); };

  TrayIcon951 = new TTrayIcon95(this);
  TrayIcon951->SetName("TrayIcon951");
  TrayIcon951->Icon().LoadFromResourceName(instance, kTrayIconFax);
  TrayIcon951->SetActive(true);
  TrayIcon951->SetAutoPopup(true);
  TrayIcon951->SetHint(kTrayHint);

  PopupMenu1 = new TPopupMenu(this);
  PopupMenu1->SetName("PopupMenu1");
  PopupMenu1->Add("Close", [this](TComponent* sender) { CloseVelmorFaxNTDriver1Click(sender); });
  PopupMenu1->Add("About", [this](TComponent* sender) { About1Click(sender); });
  PopupMenu1->Add("Start VelmorFAX", [this](TComponent* sender) { StartVelmorFAX1Click(sender); });
  TrayIcon951->SetPopupMenu(PopupMenu1);
  TrayIcon951->OnDblClick = [this](TComponent* sender) { TrayIcon951DblClick(sender); };
  EndLoading();
  FormCreate(this);
}

TMainForm::~TMainForm() {
  // First, so that a driver notice arriving now is not run on a half-destroyed form.
  Destroying();
  delete FaxConvController1;
  FaxConvController1 = nullptr;
}

void TMainForm::FormCreate(TComponent*) {
  try {
    Application->ProcessMessages();
    TrayIcon951->MinimizeToTray();
  } catch (const std::exception& e) {
    Application->HandleException(e);
  }
}

void TMainForm::FaxConvController1DocStart(TComponent*) {
  vz::Win32ControllerEnv env;
  FaxConvController1->FileName = vz::GetOutputFileName(env);
}

void TMainForm::FaxConvController1DocEnd(TComponent*) {
  const ProcessMessagesAfter after;
  vz::Win32ControllerEnv env;
  TJobDialogs dialogs(env);
  // A copy: with the window transport a document start can run while the dialog
  // is up, and it replaces FileName.
  const std::string image = FaxConvController1->FileName;
  vz::FinishJob(env, dialogs, jobLog_, image);
}

void TMainForm::CloseVelmorFaxNTDriver1Click(TComponent*) { Close(); }

void TMainForm::About1Click(TComponent*) { ShowInfo(kAboutText); }

void TMainForm::StartVelmorFAX1Click(TComponent*) { ActivateOrStartFaxProgram(); }

// A double click of the left button does what the menu's "Start VelmorFAX" does; the
// right button belongs to the menu.
void TMainForm::TrayIcon951DblClick(TComponent*) {
  if (TrayIcon951->MsgWindow()->LastButton() == mbLeft) StartVelmorFAX1Click(TrayIcon951);
}
