#include "toolkit/dialogs.hpp"

#include <windows.h>

#include "common/text.hpp"
#include "toolkit/application.hpp"
#include "toolkit/forms.hpp"

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  HWND owner = Application != nullptr ? Application->Handle() : nullptr;
  const std::string clippedText = vz::Clip255(text);
  const std::string clippedCaption = vz::Clip255(caption);
  HWND previous = GetActiveWindow();
  int result = 0;
  {
    TaskWindowsDisabler disabler(owner);
    result = MessageBoxA(owner, clippedText.c_str(), clippedCaption.c_str(), flags);
  }
  if (previous != nullptr && IsWindow(previous) && IsWindowVisible(previous)) SetActiveWindow(previous);
  return result;
}

void ShowInfo(const std::string& text) {
  ShowMessageBox(text, "Information", MB_OK | MB_ICONINFORMATION);
}

bool AskYesNo(const std::string& text, const std::string& caption, bool defaultYes) {
  const unsigned flags = MB_YESNO | MB_ICONQUESTION | (defaultYes ? MB_DEFBUTTON1 : MB_DEFBUTTON2);
  return ShowMessageBox(text, caption, flags) == IDYES;
}
