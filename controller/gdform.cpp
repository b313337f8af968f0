#include "controller/gdform.hpp"

#include <memory>

#include "controller/gdform_ids.hpp"
#include "controller/jobflow.hpp"
#include "controller/win32_controller_env.hpp"
#include "phonebook/mainscreen.hpp"
#include "toolkit/application.hpp"
#include "toolkit/dialogs.hpp"

namespace {
constexpr char kRecipientsCaption[] = "CHECK RECIPIENTS";

// Marks the texts being set by the dialog itself, for the scope's lifetime.
class SettingTexts {
 public:
  explicit SettingTexts(bool& flag) : flag_(flag) { flag_ = true; }
  ~SettingTexts() { flag_ = false; }
  SettingTexts(const SettingTexts&) = delete;
  SettingTexts& operator=(const SettingTexts&) = delete;

 private:
  bool& flag_;
};
}  // namespace

TGetDataForm::TGetDataForm(TComponent* owner)
    : TForm(owner, MAKEINTRESOURCEA(IDD_GETDATAFORM)),
      Label1(ControlById<TLabel>(IDC_LABEL1)),
      Phone(ControlById<TEdit>(IDC_PHONE)),
      Label2(ControlById<TLabel>(IDC_LABEL2)),
      Recipient(ControlById<TEdit>(IDC_RECIPIENT)),
      Label3(ControlById<TLabel>(IDC_LABEL3)),
      Subject(ControlById<TEdit>(IDC_SUBJECT)),
      Button1(ControlById<TButton>(IDC_BUTTON1)),
      Button2(ControlById<TButton>(IDC_BUTTON2)),
      Button3(ControlById<TButton>(IDC_BUTTON3)),
      PickFromPhoneBook(&PickFromPhoneBrowser) {
  SetName("GetDataForm");
  // Owned by the desktop, not by the hidden application window, so that it has a
  // place of its own among the user's windows.
  SetOwnerWindow(nullptr);
  // The labels take the width of their text, so "Phone Number" is never cut short.
  for (TLabel* label : {Label1, Label2, Label3}) label->SetAutoSize(true);
  Button1->SetModalResult(mrOk);
  Button3->SetModalResult(mrCancel);
  Button3->SetCancel(true);
  Button1->OnClick = [this](TComponent* sender) { Button1Click(sender); };
  Button2->OnClick = [this](TComponent* sender) { Button2Click(sender); };
  Button3->OnClick = [this](TComponent* sender) { Button3Click(sender); };
  OnShow = [this](TComponent* sender) { FormShow(sender); };
  OnActivate = [this](TComponent* sender) { FormActivate(sender); };
  SetActiveControl(Phone);
  RecentRecipients = &ReadRecentFromJobLog;
  Recipient->OnChange = [this](TComponent*) { RecipientChange(); };
  for (TEdit* box : {Phone, Recipient}) {
    // Down and Alt+Down alike.
    box->OnKeyDown = [this, box](TComponent*, unsigned key, bool) { return BoxKeyDown(box, key); };
    box->WantsKey = [this, box](unsigned key) {
      return listBox_ == box && Suggestions.IsOpen() && (key == VK_RETURN || key == VK_ESCAPE);
    };
    box->OnExit = [this](TComponent*) { Suggestions.Close(); };
  }
  Suggestions.OnPick = [this](int row) { Pick(row); };
}

// Only what the user types in Recipient looks names up: texts set by a pick do not.
void TGetDataForm::RecipientChange() {
  if (settingTexts_ || GetFocus() != Recipient->Handle()) return;
  if (!names_) {
    phoneBookUi_ = std::make_unique<vz::phonebook::Win32PhoneBookUi>();
    names_ = std::make_unique<vz::PhoneBookLookup>(*phoneBookUi_);
  }
  ShowList(Recipient, vz::CompletionsFor(*names_, Recipient->Text()));
}

void TGetDataForm::ShowList(TEdit* box, const std::vector<vz::Suggestion>& rows) {
  shown_ = rows;
  listBox_ = box;
  std::vector<TDropList::Row> texts;
  for (const auto& row : rows) texts.emplace_back(row.name, row.phone);
  Suggestions.Open(box->Handle(), std::move(texts));
}

bool TGetDataForm::BoxKeyDown(TEdit* box, unsigned key) {
  if (Suggestions.IsOpen() && listBox_ == box) return ListKey(key);
  if (key != VK_DOWN || !box->Text().empty() || !RecentRecipients) return false;
  ShowList(box, RecentRecipients());
  return Suggestions.IsOpen();
}

bool TGetDataForm::ListKey(unsigned key) {
  switch (key) {
    case VK_DOWN: Suggestions.Move(1); return true;
    case VK_UP: Suggestions.Move(-1); return true;
    case VK_RETURN: Pick(Suggestions.Selected()); return true;
    case VK_ESCAPE: Suggestions.Close(); return true;
    default: return false;
  }
}

// The same as a pick from the browser: the name into Recipient, the number into Phone.
void TGetDataForm::Pick(int row) {
  if (row < 0 || row >= static_cast<int>(shown_.size())) return;
  const vz::Suggestion chosen = shown_[static_cast<std::size_t>(row)];
  Suggestions.Close();
  const SettingTexts setting(settingTexts_);
  Recipient->SetText(chosen.name);
  Phone->SetText(chosen.phone);
}

// The controller's own windows are hidden: the dialog comes to the front by itself.
void TGetDataForm::FormShow(TComponent*) { SetForegroundWindow(Handle()); }

void TGetDataForm::FormActivate(TComponent*) {
  if (GetForegroundWindow() != Handle()) SetForegroundWindow(Handle());
}

// Several numbers with names that do not pair up: the user is told, and the
// dialog stays open with the texts as typed.
void TGetDataForm::Button1Click(TComponent*) {
  const std::string problem = vz::RecipientCountProblem(Phone->Text(), Recipient->Text());
  if (problem.empty()) {
    SetModalResult(mrOk);
    return;
  }
  SetModalResult(mrNone);
  Suggestions.Close();
  ShowMessageBox(problem, kRecipientsCaption, MB_OK | MB_ICONEXCLAMATION);
  ::SetFocus(Recipient->Handle());
}

void TGetDataForm::Button3Click(TComponent*) { SetModalResult(mrCancel); }

// Only an entry replaces what was typed: Accept on an empty phone book hands back
// no name and no number, and the typed texts stay.
void TGetDataForm::Button2Click(TComponent*) {
  if (!PickFromPhoneBook) return;
  Suggestions.Close();
  // The browser may change the phone book: the next lookup opens it afresh.
  names_.reset();
  std::string name;
  std::string phone;
  if (!PickFromPhoneBook(Recipient->Text(), name, phone)) return;
  if (name.empty() && phone.empty()) return;
  const SettingTexts setting(settingTexts_);
  Recipient->SetText(name);
  Phone->SetText(phone);
}

std::vector<vz::Suggestion> ReadRecentFromJobLog() {
  vz::Win32ControllerEnv env;
  return vz::RecentSuggestions(env, *vz::phonebook::SystemAnsiCodePage());
}

bool PickFromPhoneBrowser(const std::string& startAt, std::string& name, std::string& phone) {
  const auto browser = std::make_unique<TMainScreen>(Application);
  browser->StartAt(startAt);
  if (browser->ShowModal() != mrOk) return false;
  name = browser->ChosenName;
  phone = browser->ChosenPhone;
  return true;
}
