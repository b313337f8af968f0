#pragma once
// TMainScreen: the phone book browser. A modal window listing the phone book in name
// order in a read-only grid, with New, Edit, Delete, Help, Accept and Cancel. Accept
// hands back the current entry's name and fax number (ChosenName, ChosenPhone) and
// ends with OK; Cancel and the close box end with Cancel. The browser opens the
// phone book when it is created and keeps it open as long as it lives.
#include <memory>
#include <string>

#include "dbengine/dataset.hpp"
#include "phonebook/dataengine.hpp"
#include "phonebook/phonetable.hpp"
#include "toolkit/forms.hpp"

class TDBGrid;
class TExplorerButton;
class TPanel;

namespace vz::phonebook {

// The Win32 side of the phone book's needs: the program's own path, the information
// box and the end of the program through the application object.
class Win32PhoneBookUi : public PhoneBookUi {
 public:
  std::string ProgramPath() override;
  void ShowInfo(const std::string& text) override;
  void Terminate() override;
};

}  // namespace vz::phonebook

class TMainScreen : public TForm {
 public:
  // Builds the window and runs FormCreate; the phone book lives in the program's
  // directory.
  explicit TMainScreen(TComponent* owner);
  // The same with another view of the program around it (its path decides where the
  // phone book lives).
  TMainScreen(TComponent* owner, vz::phonebook::PhoneBookUi& ui);
  ~TMainScreen() override;

  // Set by Accept: the accepted entry's NAME and PHONE (empty until then).
  std::string ChosenName;
  std::string ChosenPhone;

  // Components. The table is declared first so it goes last: the data source and
  // the adapter, and the grid with the form's other controls, go before it.
  vz::data::TTable PhoneTable;
  vz::data::TStringField* PhoneTableNAME = nullptr;
  vz::data::TStringField* PhoneTablePHONE = nullptr;
  vz::data::TDataSource PhoneDataSource;
  vz::phonebook::TDataEngine PhoneEngine;
  TDBGrid* PhoneGrid = nullptr;
  TPanel* GridPanel = nullptr;
  TPanel* ButtonBar = nullptr;
  TExplorerButton* Addbutton = nullptr;
  TExplorerButton* Modifybutton = nullptr;
  TExplorerButton* Deletebutton = nullptr;
  TExplorerButton* Helpbutton = nullptr;
  TExplorerButton* OKButton = nullptr;
  TExplorerButton* Cancelbutton = nullptr;

  // Handlers.
  void FormCreate(TComponent* sender);
  void OKButtonClick(TComponent* sender);
  void CancelbuttonClick(TComponent* sender);
  void HelpbuttonClick(TComponent* sender);
  void AddbuttonClick(TComponent* sender);
  void ModifybuttonClick(TComponent* sender);
  void DeletebuttonClick(TComponent* sender);

  // Table operations on the browser's components.
  bool MakePhoneDBF(vz::phonebook::TDataEngine& engine);
  bool OpenPhoneDBF(vz::data::TTable& table, vz::phonebook::TDataEngine& engine);

  static constexpr int kHelpTopic = 1019;

 private:
  TMainScreen(TComponent* owner, vz::phonebook::PhoneBookUi& ui, bool ownsUi);
  void Build();
  void SetUpButtons();
  // Modifybutton, Deletebutton and (while visible) OKButton enabled exactly when
  // the phone book has visible entries.
  void UpdateButtons();
  // Shows the entry editor for New (empty) or Edit (loaded); true on Accept, with
  // the two texts given back.
  bool RunEditor(std::string& name, std::string& phone);
  // Sets the two fields of the record being appended or edited and posts it; a post
  // that fails is cancelled (the table stays as it was) and its error raised.
  void PostEntry(const std::string& name, const std::string& phone);

  std::unique_ptr<vz::phonebook::PhoneBookUi> ownUi_;
  vz::phonebook::PhoneBookUi& ui_;
};
