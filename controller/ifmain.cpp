#include "controller/ifmain.hpp"

#include "controller/faxfiles.hpp"
#include "controller/win32_controller_env.hpp"

namespace {
constexpr int kFormWidth = 288;
constexpr int kFormHeight = 126;
}  // namespace

TMainForm::TMainForm(TComponent* owner, TDriverTransport transport) : TForm(owner, std::string("TMainForm")) {
  SetName("MainForm");
  SetCaption("MainForm");
  SetBounds(Left(), Top(), kFormWidth, kFormHeight);
  SetIcon(LoadIconA(GetModuleHandleA(nullptr), "MAINICON"));

  BeginLoading();
  FaxConvController1 = new TApdFaxDriverInterface(this, transport);
  FaxConvController1->SetName("FaxConvController1");
  FaxConvController1->FileName = "C:\\DEFAULT.APF";
  FaxConvController1->OnDocStart = [this](TComponent* sender) { FaxConvController1DocStart(sender); };
  FaxConvController1->OnDocEnd = [this](TComponent* sender) { FaxConvController1DocEnd(sender); };
  EndLoading();
}

TMainForm::~TMainForm() {
  // First, so that a driver notice arriving now is not run on a half-destroyed form.
  Destroying();
  delete FaxConvController1;
  FaxConvController1 = nullptr;
}

void TMainForm::FaxConvController1DocStart(TComponent*) {
  vz::Win32ControllerEnv env;
  FaxConvController1->FileName = vz::GetOutputFileName(env);
}

void TMainForm::FaxConvController1DocEnd(TComponent*) {}
