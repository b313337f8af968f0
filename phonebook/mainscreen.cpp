#include "phonebook/mainscreen.hpp"

#include <algorithm>
#include <iterator>

#include "dbengine/dbe.hpp"
#include "phonebook/buttonlook.hpp"
#include "phonebook/contacts_drop.hpp"
#include "phonebook/mainscreen_ids.hpp"
#include "phonebook/phonebe.hpp"
#include "platform/dropfiles.hpp"
#include "platform/files.hpp"
#include "toolkit/application.hpp"
#include "toolkit/dbgrid.hpp"
#include "toolkit/dialogs.hpp"
#include "toolkit/stdctrls.hpp"
#include "widgets/explbtn.hpp"
#include "widgets/res/buttonbitmaps.hpp"

namespace vz::phonebook {

std::string Win32PhoneBookUi::ProgramPath() {
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n < MAX_PATH ? n : MAX_PATH);
}

void Win32PhoneBookUi::ShowInfo(const std::string& text) { ::ShowInfo(text); }

void Win32PhoneBookUi::Terminate() {
  if (Application != nullptr) Application->Terminate();
}

void Win32PhoneBookUi::Beep() { MessageBeep(0); }

}  // namespace vz::phonebook

namespace {

constexpr int kOuterWidth = 434;
constexpr int kOuterHeight = 402;
constexpr int kGridBorder = 20;
constexpr int kBarHeight = 50;
// The grid rows the smallest browser still shows whole.
constexpr int kLeastRows = 5;
constexpr const char* kHelpFileName = "VZ.hlp";
constexpr const char* kDeleteQuestion = "Delete the current phone book entry?:\r";
constexpr UINT_PTR kRefreshTimerId = 1;
// Its message comes once the window has painted.
constexpr UINT_PTR kIndexCheckTimerId = 2;
constexpr const char* kImportCaption = "Import";
// Between the names, and between the numbers, of several entries accepted at once.
constexpr const char* kPickSeparator = "; ";
constexpr const char* kNoContactFiles = "The phone book imports contacts from .csv, .vcf and .txt files only.";

// Where a field component's text is in a row the table reads.
std::size_t FieldColumn(const vz::data::TTable& table, const vz::data::TField* field) {
  const auto& fields = table.Fields();
  const auto it = std::find_if(fields.begin(), fields.end(), [field](const auto& f) { return f.get() == field; });
  return static_cast<std::size_t>(it - fields.begin());
}

std::string SemicolonRefusal(const std::string& name, const std::string& phone) {
  return "The entry \"" + name + "\" (" + phone +
         ") holds a \";\", which separates the recipients of a fax. Accept it alone, or change it first.";
}

TPhoneBookEditor* NewEditor() {
  return new TPhoneBookEditor(Application);
}

// The opens made meanwhile leave their check of a small index for after the paint.
class DeferredIndexCheck {
 public:
  DeferredIndexCheck() : before_(dbe_SetDeferIndexCheck(1)) {}
  ~DeferredIndexCheck() { dbe_SetDeferIndexCheck(before_); }
  DeferredIndexCheck(const DeferredIndexCheck&) = delete;
  DeferredIndexCheck& operator=(const DeferredIndexCheck&) = delete;

 private:
  int before_;
};

// Marks a button's action as running for its duration.
class ActingScope {
 public:
  explicit ActingScope(bool& acting) : acting_(acting), before_(acting) { acting_ = true; }
  ~ActingScope() { acting_ = before_; }
  ActingScope(const ActingScope&) = delete;
  ActingScope& operator=(const ActingScope&) = delete;

 private:
  bool& acting_;
  bool before_;
};

}  // namespace

TMainScreen::TMainScreen(TComponent* owner)
    : TMainScreen(owner, *new vz::phonebook::Win32PhoneBookUi, true) {}

TMainScreen::TMainScreen(TComponent* owner, vz::phonebook::PhoneBookUi& ui) : TMainScreen(owner, ui, false) {}

TMainScreen::TMainScreen(TComponent* owner, vz::phonebook::PhoneBookUi& ui, bool ownsUi)
    : TForm((RegisterDBGrid(), owner), MAKEINTRESOURCEA(IDD_MAINSCREEN)),
      ownUi_(ownsUi ? &ui : nullptr),
      ui_(ui) {
  Build();
  PhoneGrid->OnKeyDown = [this](TComponent* s, WORD& key) { PhoneGridKeyDown(s, key); };
  PhoneGrid->OnRowDblClick = [this](TComponent*) { OKButtonClick(OKButton); };
  FormCreate(this);
  // While the window is hidden: the ListView takes the row count without a redraw.
  PhoneGrid->ReadRowsNow();
}

TMainScreen::~TMainScreen() {
  // The grid goes with the form's controls, after the data source: unbind it now so
  // nothing it does on its way out reaches the table.
  if (PhoneGrid != nullptr) PhoneGrid->SetDataSource(nullptr);
}

void TMainScreen::Build() {
  vz::phonebook::AddPhoneFields(PhoneTable);
  PhoneTableNAME = static_cast<vz::data::TStringField*>(&PhoneTable.FieldByName("NAME"));
  PhoneTablePHONE = static_cast<vz::data::TStringField*>(&PhoneTable.FieldByName("PHONE"));
  PhoneDataSource.SetDataSet(&PhoneTable);
  PhoneEngine.SetDataSource(&PhoneDataSource);

  GridPanel = ControlById<TPanel>(IDC_MS_GRIDPANEL);
  ButtonBar = ControlById<TPanel>(IDC_MS_BAR);
  PhoneGrid = ControlById<TDBGrid>(IDC_MS_GRID);
  vz::phonebook::StyleButtonBar(*ButtonBar);
  ButtonBar->SetHeight(kBarHeight);
  ButtonBar->SetAlign(alBottom);
  GridPanel->SetBorderWidth(kGridBorder);
  GridPanel->SetAlign(alClient);
  PhoneGrid->SetAlign(alClient);
  PhoneGrid->SetDataSource(&PhoneDataSource);
  SetUpButtons();
  SetShowHint(true);
  SetPosition(poScreenCenter);
  SetBounds(Left(), Top(), kOuterWidth, kOuterHeight);
  // From the default size on, the names take what the window gains.
  PhoneGrid->SetStretchField("NAME");
  SetActiveControl(PhoneGrid);
  RefreshHints();
  OnActivate = [this](TComponent*) { LookForOtherChanges(); };
  SetRefreshPeriod(kRefreshPeriodMs);
  if (Handle() != nullptr) DragAcceptFiles(Handle(), TRUE);
}

void TMainScreen::SetRefreshPeriod(unsigned ms) {
  if (Handle() == nullptr) return;
  if (ms == 0)
    KillTimer(Handle(), kRefreshTimerId);
  else
    SetTimer(Handle(), kRefreshTimerId, ms, nullptr);
}

LRESULT TMainScreen::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_TIMER && wp == kRefreshTimerId) {
    LookForOtherChanges();
    return 0;
  }
  if (msg == WM_TIMER && wp == kIndexCheckTimerId) {
    CheckIndexAfterPaint();
    return 0;
  }
  if (msg == WM_DROPFILES) {
    std::vector<std::string> paths;
    {
      // Finished before anything is asked: the program that dropped waits for it.
      const vz::win::Drop drop(reinterpret_cast<HDROP>(wp));
      paths = vz::win::DroppedFileNames(drop.Get());
    }
    ImportFiles(paths);
    return 0;
  }
  if (msg == WM_GETMINMAXINFO && PhoneGrid != nullptr && Cancelbutton != nullptr) {
    const LRESULT result = TForm::OnMessage(msg, wp, lp);
    LimitTrackSize(*reinterpret_cast<MINMAXINFO*>(lp));
    return result;
  }
  return TForm::OnMessage(msg, wp, lp);
}

// The smallest window keeps every button of the bar whole, with the margin the first
// has on its left, and kLeastRows whole rows of the grid with its columns at their
// least widths; what lies around the grid stays as it is.
void TMainScreen::LimitTrackSize(MINMAXINFO& info) const {
  int buttonsLeft = ButtonBar->Width();
  int buttonsRight = 0;
  for (const TExplorerButton* b : {Addbutton, Modifybutton, Deletebutton, Helpbutton, OKButton, Cancelbutton}) {
    buttonsLeft = std::min(buttonsLeft, b->Left());
    buttonsRight = std::max(buttonsRight, b->Left() + b->Width());
  }
  const int aroundGridX = ClientWidth() - PhoneGrid->Width();
  const int aroundGridY = ClientHeight() - PhoneGrid->Height();
  RECT least{0, 0, std::max(buttonsRight + buttonsLeft, aroundGridX + PhoneGrid->LeastWidth()),
             aroundGridY + PhoneGrid->HeightForRows(kLeastRows)};
  AdjustWindowRectEx(&least, static_cast<DWORD>(GetWindowLongPtrA(Handle(), GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrA(Handle(), GWL_EXSTYLE)));
  info.ptMinTrackSize.x = std::max<LONG>(info.ptMinTrackSize.x, least.right - least.left);
  info.ptMinTrackSize.y = std::max<LONG>(info.ptMinTrackSize.y, least.bottom - least.top);
}

bool TMainScreen::FollowOtherChanges() {
  if (!PhoneTable.Active() || !PhoneGrid->FollowOtherChanges()) return false;
  UpdateButtons();
  return true;
}

// A look nobody asked for reports nothing: one that fails (the file unreadable for
// a moment) leaves the list as it is, the next tick looks again, and the user's next
// action on an entry looks in the open, where a failure is shown. An error box from
// the timer would come again with every tick, each over the last.
void TMainScreen::LookForOtherChanges() {
  if (acting_) return;
  try {
    FollowOtherChanges();
  } catch (const std::exception&) {
  }
}

void TMainScreen::SetUpButtons() {
  using vz::phonebook::StyleButton;
  Addbutton = ControlById<TExplorerButton>(IDC_MS_ADD);
  Modifybutton = ControlById<TExplorerButton>(IDC_MS_MODIFY);
  Deletebutton = ControlById<TExplorerButton>(IDC_MS_DELETE);
  Helpbutton = ControlById<TExplorerButton>(IDC_MS_HELP);
  OKButton = ControlById<TExplorerButton>(IDC_MS_OK);
  Cancelbutton = ControlById<TExplorerButton>(IDC_MS_CANCEL);
  StyleButton(*Addbutton, kBitmapNew, "Create a new phone book entry");
  StyleButton(*Modifybutton, kBitmapEdit, "Edit the currently selected phone book entry");
  StyleButton(*Deletebutton, kBitmapDelete, "Delete the currently selected phone book entry");
  StyleButton(*Helpbutton, kBitmapHelp, "Get Windows help for Phonebook Browser");
  StyleButton(*OKButton, kBitmapAccept, "Use this phone book entry for the current fax");
  StyleButton(*Cancelbutton, kBitmapCancel, "Cancel - do not use any of these phone book entries\rfor the current fax");
  OKButton->SetDefault(true);
  Cancelbutton->SetCancel(true);
  Addbutton->OnClick = [this](TComponent* s) { AddbuttonClick(s); };
  Modifybutton->OnClick = [this](TComponent* s) { ModifybuttonClick(s); };
  Deletebutton->OnClick = [this](TComponent* s) { DeletebuttonClick(s); };
  Helpbutton->OnClick = [this](TComponent* s) { HelpbuttonClick(s); };
  OKButton->OnClick = [this](TComponent* s) { OKButtonClick(s); };
  Cancelbutton->OnClick = [this](TComponent* s) { CancelbuttonClick(s); };
}

bool TMainScreen::MakePhoneDBF(vz::phonebook::TDataEngine& engine) { return vz::phonebook::MakePhoneDBF(engine, ui_); }

bool TMainScreen::OpenPhoneDBF(vz::data::TTable& table, vz::phonebook::TDataEngine& engine) {
  return vz::phonebook::OpenPhoneDBF(table, engine, ui_);
}

void TMainScreen::FormCreate(TComponent*) {
  ChosenName.clear();
  ChosenPhone.clear();
  files_ = dbe_FileSystem();
  if (Application != nullptr) Application->SetHelpFile(vz::phonebook::ProgramDir(ui_) + kHelpFileName);
  bool opened = false;
  {
    const DeferredIndexCheck deferred;
    opened = vz::phonebook::OpenPhoneBookOrQuit(PhoneTable, PhoneEngine, ui_);
  }
  if (opened && Handle() != nullptr) SetTimer(Handle(), kIndexCheckTimerId, USER_TIMER_MINIMUM, nullptr);
}

// The check the open left for after the first paint finds an index that disagrees
// with the records and mends it (rebuilt from the records): the phone book is then
// opened again as at the start, on the same entry, and the grid reads it anew. Not
// while a button's action runs: the next tick checks.
void TMainScreen::CheckIndexAfterPaint() {
  if (acting_) return;
  KillTimer(Handle(), kIndexCheckTimerId);
  if (!PhoneTable.Active()) return;
  const int previous = dbe_Select(PhoneTable.WorkArea());
  const bool mended = dbe_CheckIndexAsOnOpen() == 1;
  dbe_Select(previous);
  if (!mended) return;
  const int current = PhoneTable.IsEmpty() ? 0 : PhoneTable.RecNo();
  if (!vz::phonebook::OpenPhoneBookOrQuit(PhoneTable, PhoneEngine, ui_)) return;
  if (current > 0) PhoneTable.GotoBookmark(current);
  PhoneGrid->Rebuild();
  UpdateButtons();
}

// A text longer than the NAME field is no name's beginning.
void TMainScreen::StartAt(const std::string& text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(vz::phonebook::kNameWidth) || !PhoneTable.Active())
    return;
  PhoneTable.FindNearestCaseless(text);
}

// Accept re-reads the entry first: one that another program deleted since the grid
// last read it is not handed back; the list is refreshed instead, with a beep. The
// picked entries are handed back when more than the current one is picked (or
// another than it); with none picked, the current entry.
void TMainScreen::OKButtonClick(TComponent*) {
  const ActingScope acting(acting_);
  const std::vector<int> picked = PhoneGrid->PickedRecNos();
  if (PhoneTable.Active() && !picked.empty() && (picked.size() > 1 || picked.front() != PhoneTable.RecNo())) {
    AcceptPicked(picked);
    return;
  }
  if (PhoneTable.Active() && !PhoneTable.IsEmpty() && !PhoneTable.RecheckCurrent()) {
    EntryGone();
    return;
  }
  const bool any = PhoneTable.Active() && !PhoneTable.IsEmpty();
  ChosenName = any ? PhoneTableNAME->AsString() : std::string();
  ChosenPhone = any ? PhoneTablePHONE->AsString() : std::string();
  SetModalResult(mrOk);
}

// The fax details dialog takes several numbers and names separated by ";": one that
// holds a ";" itself would be taken for two, so it is refused by name. Picks that
// another program deleted meanwhile drop out as the list is read again: then nothing
// is handed back, the user sees the refreshed picks and hears a beep.
void TMainScreen::AcceptPicked(const std::vector<int>& picked) {
  FollowOtherChanges();
  if (PhoneGrid->PickedRecNos() != picked) {
    ui_.Beep();
    return;
  }
  const auto rows = PhoneTable.ReadRows(picked);
  const std::size_t name = FieldColumn(PhoneTable, PhoneTableNAME);
  const std::size_t phone = FieldColumn(PhoneTable, PhoneTablePHONE);
  std::string names;
  std::string phones;
  for (const auto& row : rows) {
    if (row.size() <= std::max(name, phone)) continue;
    if (row[name].find(';') != std::string::npos || row[phone].find(';') != std::string::npos) {
      ui_.ShowInfo(SemicolonRefusal(row[name], row[phone]));
      return;
    }
    names += (names.empty() ? "" : kPickSeparator) + row[name];
    phones += (phones.empty() ? "" : kPickSeparator) + row[phone];
  }
  ChosenName = names;
  ChosenPhone = phones;
  SetModalResult(mrOk);
}

void TMainScreen::CancelbuttonClick(TComponent*) { Close(); }

void TMainScreen::HelpbuttonClick(TComponent*) {
  if (Application != nullptr) Application->HelpContext(kHelpTopic);
}

bool TMainScreen::RunEditor(std::string& name, std::string& phone) {
  std::unique_ptr<TPhoneBookEditor> editor(NewEditor());
  editor->Name->SetText(name);
  editor->Number->SetText(phone);
  CenterOverMainForm(editor.get());
  if (editor->ShowModal() != mrOk) return false;
  name = editor->Name->Text();
  phone = editor->Number->Text();
  return true;
}

void TMainScreen::PostEntry(const std::string& name, const std::string& phone) {
  try {
    PhoneTableNAME->SetAsString(name);
    PhoneTablePHONE->SetAsString(phone);
    PhoneTable.Post();
  } catch (...) {
    PhoneTable.Cancel();
    throw;
  }
}

void TMainScreen::AddbuttonClick(TComponent*) {
  const ActingScope acting(acting_);
  std::string name;
  std::string phone;
  if (RunEditor(name, phone)) {
    PhoneTable.Append();
    PostEntry(name, phone);
  }
  if (Application != nullptr) Application->ProcessMessages();
  UpdateButtons();
}

bool TMainScreen::CurrentEntryStillThere() {
  if (PhoneEngine.QueryRecCount() == 0 || PhoneTable.IsEmpty()) {
    ui_.Beep();
    FollowOtherChanges();
    return false;
  }
  if (!PhoneTable.RecheckCurrent()) {
    EntryGone();
    return false;
  }
  FollowOtherChanges();
  return true;
}

void TMainScreen::EntryGone() {
  ui_.Beep();
  PhoneTable.Refresh();
  PhoneGrid->Rebuild();
  UpdateButtons();
}

// Edit re-reads the entry first, and again once the editor closes: one that another
// program deleted since the grid last read it is not written into; the list is
// refreshed instead, with a beep.
void TMainScreen::ModifybuttonClick(TComponent*) {
  const ActingScope acting(acting_);
  if (!CurrentEntryStillThere()) return;
  std::string name = PhoneTableNAME->AsString();
  std::string phone = PhoneTablePHONE->AsString();
  if (!RunEditor(name, phone)) return;
  if (!PhoneTable.RecheckCurrent()) {
    EntryGone();
    return;
  }
  PhoneTable.Edit();
  PostEntry(name, phone);
}

void TMainScreen::DeletebuttonClick(TComponent*) {
  const ActingScope acting(acting_);
  if (!CurrentEntryStillThere()) return;
  if (AskYesNo(kDeleteQuestion + PhoneTableNAME->AsString(), "Delete")) PhoneTable.Delete();
  PhoneTable.Refresh();
  if (Application != nullptr) Application->ProcessMessages();
  UpdateButtons();
}

void TMainScreen::PhoneGridKeyDown(TComponent*, WORD& key) {
  if (key != VK_DELETE) return;
  key = 0;
  if (Deletebutton->Enabled()) DeletebuttonClick(Deletebutton);
}

void TMainScreen::UpdateButtons() {
  const bool any = PhoneEngine.QueryRecCount() > 0;
  Modifybutton->SetEnabled(any);
  Deletebutton->SetEnabled(any);
  if (OKButton->Visible()) OKButton->SetEnabled(any);
}

// ---- contact files dropped on the browser ----

bool TMainScreen::ReadDroppedFiles(const std::vector<std::string>& files, vz::phonebook::ContactsRead& read) {
  const auto codePage = vz::phonebook::SystemAnsiCodePage();
  std::vector<vz::phonebook::ContactsRead> reads;
  for (const std::string& path : files) {
    const std::string name = vz::phonebook::FileNameOf(path);
    std::string bytes;
    if (!vz::win::ReadWholeFile(path, bytes)) {
      ShowInfo(name + " cannot be opened. Nothing was imported.");
      return false;
    }
    try {
      reads.push_back(vz::phonebook::ReadContacts(bytes, name, *codePage));
    } catch (const vz::phonebook::ContactsUnreadable& e) {
      ShowInfo(name + " cannot be read as contacts (" + e.what() + "). Nothing was imported.");
      return false;
    }
  }
  read = vz::phonebook::JoinReads(std::move(reads));
  return true;
}

// Not durable append by append: the import's last flush puts every entry on the
// device, and a sync per entry would cost a large import minutes.
std::unique_ptr<vz::db::Table> TMainScreen::OpenForImport() {
  vz::db::TableOptions options;
  options.mode = vz::db::ShareMode::kShared;
  options.fs = files_;
  return vz::db::Table::Open(PhoneTable.TablePath(), options);
}

void TMainScreen::ShowImported(const vz::phonebook::ImportSummary& done) {
  PhoneTable.Refresh();
  PhoneGrid->Rebuild();
  if (done.firstRecNo != 0) PhoneTable.GotoBookmark(static_cast<int>(done.firstRecNo));
  UpdateButtons();
}

// The plan is made again after Yes: another desk may have added some of the entries
// while the question was up, and they are not added twice.
void TMainScreen::ImportFiles(const std::vector<std::string>& paths) {
  if (acting_ || !PhoneTable.Active() || PhoneTable.State() != vz::data::TDataSetState::dsBrowse) return;
  const ActingScope acting(acting_);
  std::vector<std::string> files;
  std::copy_if(paths.begin(), paths.end(), std::back_inserter(files), vz::phonebook::IsContactsFileName);
  if (files.empty()) {
    if (!paths.empty()) ShowInfo(kNoContactFiles);
    return;
  }
  vz::phonebook::ContactsRead read;
  if (!ReadDroppedFiles(files, read)) return;
  const std::string label = vz::phonebook::FilesLabel(files);
  const auto codePage = vz::phonebook::SystemAnsiCodePage();
  vz::phonebook::ImportPlan plan = vz::phonebook::PlanImport(*OpenForImport(), read, {}, *codePage);
  if (plan.records.empty()) {
    ShowInfo(vz::phonebook::NothingToImportText(plan, label));
    return;
  }
  if (!AskYesNo(vz::phonebook::ImportQuestion(plan, label), kImportCaption, true)) return;
  vz::phonebook::ImportSummary done;
  {
    const auto table = OpenForImport();
    done = vz::phonebook::ApplyImport(*table, vz::phonebook::PlanImport(*table, read, {}, *codePage));
  }
  ShowImported(done);
  if (done.stopped && Application != nullptr) Application->ShowException(vz::phonebook::ImportStoppedText(done));
}
