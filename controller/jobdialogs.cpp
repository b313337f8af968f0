#include "controller/jobdialogs.hpp"

#include "controller/faxprogram.hpp"
#include "controller/win32_controller_env.hpp"
#include "controller/win32_desktop_env.hpp"
#include "toolkit/application.hpp"
#include "toolkit/dialogs.hpp"

TJobDialogs::TJobDialogs(vz::ControllerEnv& env) : env_(env) {}

TJobDialogs::~TJobDialogs() = default;

std::optional<vz::FaxDetails> TJobDialogs::AskFaxDetails() {
  dialog_ = std::make_unique<TGetDataForm>(Application);
  if (dialog_->ShowModal() != mrOk) return std::nullopt;
  return vz::FaxDetails{dialog_->Phone->Text(), dialog_->Recipient->Text(), dialog_->Subject->Text()};
}

bool TJobDialogs::AskRetryJobFile(const std::string& text) {
  return ShowMessageBox(text, vz::kJobFileErrorCaption, MB_RETRYCANCEL | MB_ICONEXCLAMATION) == IDRETRY;
}

bool TJobDialogs::AskSwitchToFaxProgram() {
  return AskYesNo(vz::kSwitchQuestion, vz::kSwitchCaption, /*defaultYes=*/true);
}

void TJobDialogs::ActivateOrStartFaxProgram() {
  vz::Win32DesktopEnv desktop;
  vz::ActivateOrStartFaxProgram(desktop, env_);
}

void ActivateOrStartFaxProgram() {
  vz::Win32ControllerEnv env;
  vz::Win32DesktopEnv desktop;
  vz::ActivateOrStartFaxProgram(desktop, env);
}
