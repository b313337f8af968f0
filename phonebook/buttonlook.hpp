#pragma once
// The look shared by the phone book windows' buttons: bitmap above the caption,
// white caption with a black shadow, the pop-up mark option.
#include <string>

class TBitmap;
class TExplorerButton;
class TPanel;

namespace vz::phonebook {

// The button bitmap of that resource name, read from the program's resources on its
// first use and kept for the life of the process. Throws Exception when missing.
const TBitmap& ButtonBitmap(const char* name);

void StyleButton(TExplorerButton& button, const char* bitmapName, const std::string& hint);

// The grey bar with a single border that holds the buttons.
void StyleButtonBar(TPanel& panel);

}  // namespace vz::phonebook
