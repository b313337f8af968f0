#include "controller/ifmain.hpp"

#include <exception>

#include "controller/faxfiles.hpp"
#include "controller/win32_controller_env.hpp"
#include "toolkit/application.hpp"
#include "toolkit/exception.hpp"

namespace {
constexpr char kMainFormClass[] = "TMainForm";
constexpr int kFormWidth = 288;
constexpr int kFormHeight = 126;
}  // namespace

TMainForm::TMainForm(TComponent* owner, TDriverTransport transport) : TComponent(owner) {
  SetName("MainForm");
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc{};
  if (!GetClassInfoA(instance, kMainFormClass, &wc)) {
    wc.lpfnWndProc = &TMainForm::WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kMainFormClass;
    wc.hIcon = LoadIconA(instance, "MAINICON");
    RegisterClassA(&wc);
  }
  HWND appWindow = Application != nullptr ? Application->Handle() : nullptr;
  HWND wnd = CreateWindowExA(0, kMainFormClass, "MainForm", WS_OVERLAPPEDWINDOW | WS_MINIMIZE,
                             CW_USEDEFAULT, CW_USEDEFAULT, kFormWidth, kFormHeight, appWindow,
                             nullptr, instance, this);
  if (wnd == nullptr) throw Exception("Unable to create the main form");
  handle_.Reset(wnd);

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
  if (handle_) SetWindowLongPtrA(handle_.Get(), GWLP_USERDATA, 0);
}

void TMainForm::FaxConvController1DocStart(TComponent*) {
  vz::Win32ControllerEnv env;
  FaxConvController1->FileName = vz::GetOutputFileName(env);
}

void TMainForm::FaxConvController1DocEnd(TComponent*) {}

LRESULT CALLBACK TMainForm::WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TMainForm*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcA(wnd, msg, wp, lp);
  try {
    return self->OnMessage(wnd, msg, wp, lp);
  } catch (const std::exception& e) {
    if (Application != nullptr) Application->HandleException(e);
  }
  return 0;
}

LRESULT TMainForm::OnMessage(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CLOSE) {
    // Closing the main form ends the program.
    if (Application != nullptr) Application->Terminate();
    return 0;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}
