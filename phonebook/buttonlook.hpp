#pragma once
// The look shared by the phone book windows' buttons: bitmap above the caption,
// white caption with a black shadow, the pop-up mark option.
#include <string>

class TExplorerButton;
class TPanel;

namespace vz::phonebook {

void StyleButton(TExplorerButton& button, const char* bitmapName, const std::string& hint);

// The grey bar with a single border that holds the buttons.
void StyleButtonBar(TPanel& panel);

}  // namespace vz::phonebook
