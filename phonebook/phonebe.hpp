#pragma once
// TPhoneBookEditor: the small modal dialog in which one phone book entry is typed or
// changed, a name and a fax number. It checks nothing but the lengths the two boxes
// take; the caller loads and reads the texts and writes the table itself.
#include <string>

#include "toolkit/forms.hpp"

class TEdit;
class TExplorerButton;
class TLabel;
class TPanel;

class TPhoneBookEditor : public TForm {
 public:
  explicit TPhoneBookEditor(TComponent* owner);

  TLabel* Label1 = nullptr;
  TEdit* Name = nullptr;
  TLabel* Label2 = nullptr;
  TEdit* Number = nullptr;
  TPanel* Panel1 = nullptr;
  TExplorerButton* Helpbutton = nullptr;
  TExplorerButton* OKButton = nullptr;
  TExplorerButton* Cancelbutton = nullptr;

  void OKButtonClick(TComponent* sender);
  void CancelbuttonClick(TComponent* sender);
  void HelpButtonClick(TComponent* sender);

  static constexpr int kHelpTopic = 1020;
};
