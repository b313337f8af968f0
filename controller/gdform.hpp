#pragma once
// TGetDataForm: the fax details dialog shown at the end of each printed document.
// It asks for the fax number, the recipient and the subject, and lets the user
// pick number and recipient from the phone book; it checks and writes nothing.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controller/completion.hpp"
#include "toolkit/droplist.hpp"
#include "toolkit/forms.hpp"
#include "toolkit/stdctrls.hpp"

// Opens the phone book browser modally on the first entry whose name starts with
// `startAt` in any letter case (the first entry when none does, or for an empty
// text); true, with the accepted entry's name and number, when it closed with OK.
// An empty phone book's Accept hands back two empty texts.
using TPhoneBookPicker =
    std::function<bool(const std::string& startAt, std::string& name, std::string& phone)>;

class TGetDataForm : public TForm {
 public:
  explicit TGetDataForm(TComponent* owner);

  TLabel* Label1;
  TEdit* Phone;
  TLabel* Label2;
  TEdit* Recipient;
  TLabel* Label3;
  TEdit* Subject;
  TButton* Button1;
  TButton* Button2;
  TButton* Button3;

  // What Button2 opens, on the recipient typed so far; by default PickFromPhoneBrowser.
  TPhoneBookPicker PickFromPhoneBook;
  // The recipients last queued, newest first; by default from the job log.
  std::function<std::vector<vz::Suggestion>()> RecentRecipients;
  // The list under Recipient (phone book names) or under an empty Phone or
  // Recipient (recent recipients).
  TDropList Suggestions;

  void FormShow(TComponent* sender);
  void FormActivate(TComponent* sender);
  void Button1Click(TComponent* sender);
  void Button2Click(TComponent* sender);
  void Button3Click(TComponent* sender);

 private:
  void RecipientChange();
  bool BoxKeyDown(TEdit* box, unsigned key);
  bool ListKey(unsigned key);
  void Pick(int row);
  void ShowList(TEdit* box, const std::vector<vz::Suggestion>& rows);

  std::unique_ptr<vz::phonebook::PhoneBookUi> phoneBookUi_;
  std::unique_ptr<vz::NameLookup> names_;
  std::vector<vz::Suggestion> shown_;
  TEdit* listBox_ = nullptr;
  bool settingTexts_ = false;
};

// The recent recipients of the job log in %APPDATA%, in the ANSI code page.
std::vector<vz::Suggestion> ReadRecentFromJobLog();

// Opens a new phone book browser owned by the application, modally, and releases
// it (closing its table) as soon as it has closed.
bool PickFromPhoneBrowser(const std::string& startAt, std::string& name, std::string& phone);
