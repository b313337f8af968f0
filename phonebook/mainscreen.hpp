#pragma once
// TMainScreen: the phone book browser. A modal window listing the phone book in name
// order in a read-only grid, with New, Edit, Delete, Help, Accept and Cancel. Accept
// (also Enter, and a double click on a row) hands back the current entry's name and
// fax number (ChosenName, ChosenPhone) and ends with OK; Cancel and the close box end
// with Cancel. Several entries may be picked (Ctrl+click, Shift+click, Shift+arrow
// keys): Accept then hands back their names joined by "; " and their numbers the
// same way, in name order, as the fax details dialog takes several recipients. The browser opens the
// phone book when it is created and keeps it open as long as it lives.
//
// Other desks and programs change the same phone book meanwhile. The browser looks
// for their changes when it is activated, before acting on an entry and every
// kRefreshPeriodMs, and shows them; an entry that is gone when the user acts on it
// gives a beep and the refreshed list, never its old name and number.
//
// Contact files (.csv, .vcf, .txt) dropped on the browser are imported after a
// question that says how many entries they add and what is left out; the entries go
// in as one import and the first of them becomes current.
#include <memory>
#include <string>
#include <vector>

#include "dbengine/dataset.hpp"
#include "dbengine/filesystem.hpp"
#include "dbengine/table.hpp"
#include "phonebook/contacts.hpp"
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
  void Beep() override;
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

  // Set by Accept: the accepted entry's NAME and PHONE (empty until then); for several
  // entries, their NAMEs and their PHONEs, each joined by "; ".
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
  // The Delete key in the grid does what the Delete button does.
  void PhoneGridKeyDown(TComponent* sender, WORD& key);

  // Makes the first entry whose name starts with `text` current, in any letter case,
  // as typing it into the grid does; the grid shows it once the browser is shown.
  // The current entry stays (the first) when no name starts with it.
  void StartAt(const std::string& text);

  // Table operations on the browser's components.
  bool MakePhoneDBF(vz::phonebook::TDataEngine& engine);
  bool OpenPhoneDBF(vz::data::TTable& table, vz::phonebook::TDataEngine& engine);

  static constexpr int kHelpTopic = 1019;

  // How often an open browser looks for other programs' changes: prompt for a person
  // at the desk, and one read of four bytes when there are none.
  static constexpr unsigned kRefreshPeriodMs = 1000;
  // Another period; 0 stops the looking on a timer (activation and the buttons still
  // look).
  void SetRefreshPeriod(unsigned ms);
  // Reads the phone book again when another program changed it since the list was
  // read: the current entry stays current while it exists, else a neighbour does,
  // and the buttons follow. True when it did.
  bool FollowOtherChanges();

  // What a drop of these files does: the contact files among them are read, the user
  // is asked, and on Yes they are imported and the first entry added becomes current.
  // A file that cannot be read, or nothing to add, is only reported. Ignored while a
  // button's action runs.
  void ImportFiles(const std::vector<std::string>& paths);

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  TMainScreen(TComponent* owner, vz::phonebook::PhoneBookUi& ui, bool ownsUi);
  void Build();
  void SetUpButtons();
  void LimitTrackSize(MINMAXINFO& info) const;
  // Modifybutton, Deletebutton and (while visible) OKButton enabled exactly when
  // the phone book has visible entries.
  void UpdateButtons();
  // Shows the entry editor for New (empty) or Edit (loaded); true on Accept, with
  // the two texts given back.
  bool RunEditor(std::string& name, std::string& phone);
  // Sets the two fields of the record being appended or edited and posts it; a post
  // that fails is cancelled (the table stays as it was) and its error raised.
  void PostEntry(const std::string& name, const std::string& phone);
  // The index check the open left for after the first paint (see FormCreate).
  void CheckIndexAfterPaint();
  // Looks for other programs' changes without the user asking (timer, activation).
  void LookForOtherChanges();
  // Before Edit and Delete: true when there is a current entry and it still exists
  // (the list read again when others changed it); else a beep, and the refreshed
  // list when the entry went.
  bool CurrentEntryStillThere();
  // Accept with the picked entries (in name order) rather than the current one.
  void AcceptPicked(const std::vector<int>& picked);
  // The current entry went meanwhile: a beep, the phone book read again, the buttons.
  void EntryGone();
  // The dropped files' contacts as one read; false (and the user told) when one of
  // them cannot be read.
  bool ReadDroppedFiles(const std::vector<std::string>& files, vz::phonebook::ContactsRead& read);
  // A second opener of the browser's phone book, through the same files, for imports.
  std::unique_ptr<vz::db::Table> OpenForImport();
  // The grid reads the phone book again with the first entry added current.
  void ShowImported(const vz::phonebook::ImportSummary& done);

  std::unique_ptr<vz::phonebook::PhoneBookUi> ownUi_;
  vz::phonebook::PhoneBookUi& ui_;
  // Set while a button's action runs: the looks it makes itself are the only ones,
  // so the current entry does not move under it (its editor or question closing
  // activates the browser).
  bool acting_ = false;
  // The files the browser's table was opened through (nullptr: the host's).
  vz::db::FileSystem* files_ = nullptr;
};
