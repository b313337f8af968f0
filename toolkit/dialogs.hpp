#pragma once
// Message boxes shown through the application object.
#include <string>

// A message box owned by the application window; returns the button pressed (IDOK...).
// Text and caption are cut to 255 characters. The program's other windows are
// disabled while it shows, and the window active before is activated again.
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags);
// Caption "Information", the information icon, OK; the text cut to 255 characters.
void ShowInfo(const std::string& text);
// A Yes/No question with the question icon; true for Yes. `defaultYes` picks the default button.
bool AskYesNo(const std::string& text, const std::string& caption, bool defaultYes = false);
