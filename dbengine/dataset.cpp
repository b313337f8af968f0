#include "dbengine/dataset.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "common/text.hpp"
#include "dbengine/dbe.hpp"

namespace vz::data {

namespace {

constexpr const char* kMinimumVersion = "2.40.00";
constexpr const char* kVersionMessage = "The table engine requires engine version 2.40.00 or later.";
constexpr int kFoxProDriver = 2;

std::function<void(const std::string&)>& ErrorBox() {
  static std::function<void(const std::string&)> box;
  return box;
}

const char* (*gVersionQuery)() = nullptr;
bool gEngineStarted = false;

// "2.40.00" -> {2, 40, 0}; missing parts count as 0.
std::vector<long> VersionParts(const std::string& text) {
  std::vector<long> parts;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t dot = text.find('.', at);
    const std::string part = text.substr(at, dot == std::string::npos ? std::string::npos : dot - at);
    parts.push_back(std::strtol(part.c_str(), nullptr, 10));
    if (dot == std::string::npos) break;
    at = dot + 1;
  }
  parts.resize(3, 0);
  return parts;
}

}  // namespace

// The first open starts the engine: texts without trailing blanks, errors kept for
// the caller, and a version new enough.
void StartEngine() {
  if (gEngineStarted) return;
  dbe_SetStringType(1);
  dbe_ErrorLevel(1);
  const char* version = gVersionQuery ? gVersionQuery() : dbe_Version();
  if (!version || !*version || VersionParts(version) < VersionParts(kMinimumVersion)) {
    if (ErrorBox()) ErrorBox()(kVersionMessage);
    throw EDatabaseError(kVersionMessage);
  }
  gEngineStarted = true;
}

namespace {

// An engine call that returns 0 both for "no" and for failure: only dbe_Error tells.
void CheckError(const char* call) {
  if (dbe_Error() != kDbeOk) RaiseEngineError(call);
}

std::string RTrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

void SetDatabaseErrorBox(std::function<void(const std::string&)> show) { ErrorBox() = std::move(show); }

void SetEngineVersionQuery(const char* (*query)()) {
  gVersionQuery = query;
  gEngineStarted = false;
}

void RaiseEngineError(const char* call) {
  const int code = dbe_Error();
  std::string detail = dbe_ErrorText();
  if (call && *call) detail = std::string(call) + ": " + detail;
  throw EDatabaseError("Database Error : " + std::to_string(code), code, detail);
}

void RaiseNotSupported(const std::string& name) {
  throw EDatabaseError("This function not supported by the table engine : " + name);
}

// ---- fields ---------------------------------------------------------------------

TField::TField(TTable& table, std::string fieldName, int size)
    : table_(table),
      fieldName_(UpperAscii(fieldName)),
      size_(size),
      displayLabel_(fieldName_),
      displayWidth_(size) {}

std::string TField::AsString() const {
  if (!table_.Active() || fieldNo_ == 0) return {};
  const auto& buf = table_.buffer_;
  if (static_cast<std::size_t>(offset_ + width_) > buf.size()) return {};
  return RTrim(buf.substr(static_cast<std::size_t>(offset_), static_cast<std::size_t>(width_)));
}

void TField::SetAsString(std::string_view text) {
  if (table_.state_ != TDataSetState::dsEdit && table_.state_ != TDataSetState::dsInsert)
    throw EDatabaseError("Dataset not in edit or insert mode");
  std::string value(text.substr(0, static_cast<std::size_t>(std::min(size_, width_))));
  value.resize(static_cast<std::size_t>(width_), ' ');
  table_.buffer_.replace(static_cast<std::size_t>(offset_), value.size(), value);
}

// ---- data source ----------------------------------------------------------------

TDataLink::~TDataLink() {
  if (linkedSource_) linkedSource_->RemoveLink(this);
}

TDataSource::~TDataSource() {
  for (TDataLink* l : links_) l->linkedSource_ = nullptr;
  links_.clear();
  SetDataSet(nullptr);
}

void TDataSource::SetDataSet(TTable* table) {
  if (dataSet_ == table) return;
  if (dataSet_) std::erase(dataSet_->sources_, this);
  dataSet_ = table;
  if (dataSet_) dataSet_->sources_.push_back(this);
}

void TDataSource::AddLink(TDataLink* link) {
  if (link->linkedSource_ == this) return;
  if (link->linkedSource_) link->linkedSource_->RemoveLink(link);
  links_.push_back(link);
  link->linkedSource_ = this;
}

void TDataSource::RemoveLink(TDataLink* link) {
  std::erase(links_, link);
  if (link->linkedSource_ == this) link->linkedSource_ = nullptr;
}

bool TDataSource::HasLink(const TDataLink* link) const {
  return std::find(links_.begin(), links_.end(), link) != links_.end();
}

// ---- table ----------------------------------------------------------------------

// Selects the table's work area for the duration of an operation.
class TTable::AreaScope {
 public:
  explicit AreaScope(const TTable& table) : previous_(dbe_Select(table.area_)) {}
  ~AreaScope() { dbe_Select(previous_); }
  AreaScope(const AreaScope&) = delete;
  AreaScope& operator=(const AreaScope&) = delete;

 private:
  int previous_;
};

TTable::TTable() = default;

TTable::~TTable() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; the work area is closed either way.
  }
  for (TDataSource* s : sources_) s->dataSet_ = nullptr;
}

void TTable::CheckInactive(const char* what) const {
  if (Active()) throw EDatabaseError(std::string("Cannot perform this operation on an open dataset (") + what + ")");
}

void TTable::CheckActive() const {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset");
}

void TTable::SetDatabaseName(std::string dir) {
  CheckInactive("DatabaseName");
  databaseName_ = std::move(dir);
}

void TTable::SetTableName(std::string name) {
  CheckInactive("TableName");
  tableName_ = std::move(name);
}

void TTable::SetExclusive(bool exclusive) {
  CheckInactive("Exclusive");
  exclusive_ = exclusive;
}

void TTable::SetReadOnly(bool readOnly) {
  CheckInactive("ReadOnly");
  readOnly_ = readOnly;
}

std::string TTable::TablePath() const { return JoinPath(databaseName_, tableName_); }

TStringField& TTable::AddStringField(std::string fieldName, int size, std::string label, int displayWidth) {
  CheckInactive("fields");
  auto field = std::make_unique<TStringField>(*this, std::move(fieldName), size);
  if (!label.empty()) field->SetDisplayLabel(std::move(label));
  if (displayWidth > 0) field->SetDisplayWidth(displayWidth);
  TStringField& ref = *field;
  fields_.push_back(std::move(field));
  return ref;
}

TField* TTable::FindField(std::string_view fieldName) const {
  const std::string upper = UpperAscii(fieldName);
  for (const auto& f : fields_)
    if (f->FieldName() == upper) return f.get();
  return nullptr;
}

TField& TTable::FieldByName(std::string_view fieldName) const {
  TField* f = FindField(fieldName);
  if (!f) throw EDatabaseError("Field '" + std::string(fieldName) + "' not found");
  return *f;
}

void TTable::SetActive(bool active) {
  if (active)
    Open();
  else
    Close();
}

void TTable::Open() {
  if (Active()) return;
  StartEngine();
  const int mode = exclusive_ ? kDbeModeExclusive : (readOnly_ ? kDbeModeReadOnly : kDbeModeShared);
  const int previous = dbe_Area();
  const int area = dbe_Use(TablePath().c_str(), "", mode, kFoxProDriver);
  if (area == 0) {
    const int code = dbe_Error();
    const std::string detail = dbe_ErrorText();
    dbe_Select(previous);
    throw EDatabaseError("File Open Error", code, detail);
  }
  dbe_Select(previous);
  area_ = area;
  try {
    AreaScope scope(*this);
    BindFields();
    ApplyIndexName();
    dbe_GoTop();
    CheckError("dbe_GoTop");
    Load();
    bof_ = true;
  } catch (...) {
    AreaScope scope(*this);
    dbe_Close();
    area_ = 0;
    throw;
  }
  state_ = TDataSetState::dsBrowse;
  ++changes_;
  NotifyActive();
  NotifyState();
}

void TTable::Close() {
  if (!Active()) return;
  state_ = TDataSetState::dsInactive;
  const int previous = dbe_Select(area_);
  dbe_Close();
  dbe_Select(previous == area_ ? 0 : previous);
  area_ = 0;
  buffer_.clear();
  recno_ = 0;
  bof_ = eof_ = true;
  for (auto& f : fields_) f->fieldNo_ = 0;
  ++changes_;
  NotifyActive();
  NotifyState();
}

void TTable::BindFields() {
  const int count = dbe_FieldCount();
  CheckError("dbe_FieldCount");
  if (fields_.empty()) {
    for (int i = 1; i <= count; ++i) {
      auto field = std::make_unique<TStringField>(*this, dbe_FieldName(i), dbe_FieldWidth(i));
      fields_.push_back(std::move(field));
    }
  }
  for (auto& f : fields_) {
    const int n = dbe_FieldNumber(f->FieldName().c_str());
    if (n == 0) throw EDatabaseError("Field '" + f->FieldName() + "' not found");
    f->fieldNo_ = n;
    f->offset_ = dbe_FieldOffset(n);
    f->width_ = dbe_FieldWidth(n);
  }
}

void TTable::ApplyIndexName() {
  int order = 0;
  if (!indexName_.empty()) {
    order = dbe_TagArea(indexName_.c_str());
    CheckError("dbe_TagArea");
    if (order == 0) throw EDatabaseError("Index '" + indexName_ + "' not found");
  }
  if (!dbe_SetOrder(order)) RaiseEngineError("dbe_SetOrder");
}

void TTable::SetIndexName(std::string tag) {
  indexName_ = std::move(tag);
  if (!Active()) return;
  CheckBrowse("IndexName");
  AreaScope scope(*this);
  ApplyIndexName();
  Load();
  ++changes_;
  NotifyData();
}

// Reads the engine's current record into the buffer.
void TTable::Load() {
  const int size = dbe_RecSize();
  CheckError("dbe_RecSize");
  std::string buf(static_cast<std::size_t>(size) + 1, ' ');
  if (!dbe_GetRecord(buf.data())) RaiseEngineError("dbe_GetRecord");
  buf.resize(static_cast<std::size_t>(size));
  buffer_ = std::move(buf);
  const bool eof = dbe_Eof() != 0;
  recno_ = eof ? 0 : dbe_RecNo();
  CheckError("dbe_RecNo");
  eof_ = eof;
  bof_ = dbe_Bof() != 0;
}

void TTable::CheckBrowse(const char*) {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) Post();
}

void TTable::First() {
  CheckBrowse("First");
  AreaScope scope(*this);
  dbe_GoTop();
  CheckError("dbe_GoTop");
  Load();
  bof_ = true;
  NotifyData();
}

void TTable::Last() {
  CheckBrowse("Last");
  AreaScope scope(*this);
  dbe_GoBottom();
  CheckError("dbe_GoBottom");
  Load();
  eof_ = true;
  NotifyData();
}

void TTable::Next() {
  CheckBrowse("Next");
  if (eof_) return;
  AreaScope scope(*this);
  if (!dbe_Skip(1)) {
    CheckError("dbe_Skip");
    // Past the last record: the last one stays current, marked as the end.
    dbe_GoBottom();
    CheckError("dbe_GoBottom");
    Load();
    eof_ = true;
  } else {
    Load();
  }
  NotifyData();
}

void TTable::Prior() {
  CheckBrowse("Prior");
  if (bof_) return;
  AreaScope scope(*this);
  dbe_Skip(-1);
  CheckError("dbe_Skip");
  Load();
  eof_ = IsEmpty();
  NotifyData();
}

int TTable::MoveBy(int distance) {
  int moved = 0;
  for (; distance > 0 && !eof_; --distance) {
    Next();
    if (!eof_) ++moved;
  }
  for (; distance < 0 && !bof_; ++distance) {
    Prior();
    if (!bof_) --moved;
  }
  return moved;
}

int TTable::RecordCount() {
  CheckActive();
  AreaScope scope(*this);
  const int n = dbe_QueryRecCount();
  CheckError("dbe_QueryRecCount");
  return n;
}

std::uint32_t TTable::IndexChangeCounter() {
  CheckActive();
  AreaScope scope(*this);
  const std::uint32_t counter = dbe_IndexChangeCounter();
  CheckError("dbe_IndexChangeCounter");
  return counter;
}

bool TTable::GotoBookmark(int recno) {
  CheckBrowse("GotoBookmark");
  AreaScope scope(*this);
  const bool found = dbe_Go(recno) != 0;
  CheckError("dbe_Go");
  Load();
  NotifyData();
  return found;
}

std::vector<std::vector<std::string>> TTable::PeekRows(int count) {
  CheckActive();
  std::vector<std::vector<std::string>> rows;
  if (eof_ && bof_) return rows;
  AreaScope scope(*this);
  const int size = dbe_RecSize();
  std::string buf(static_cast<std::size_t>(size) + 1, ' ');
  if (dbe_RecNo() != recno_) dbe_Go(recno_);
  for (int i = 0; i < count && !dbe_Eof(); ++i) {
    if (!dbe_GetRecord(buf.data())) RaiseEngineError("dbe_GetRecord");
    rows.push_back(RowFields(buf));
    dbe_Skip(1);
    CheckError("dbe_Skip");
  }
  dbe_Go(recno_);
  CheckError("dbe_Go");
  return rows;
}

std::vector<int> TTable::OrderRecNos() {
  CheckActive();
  AreaScope scope(*this);
  std::vector<int> out;
  if (!indexName_.empty()) {
    // The header's count bounds the tag's entries unless others append meanwhile.
    for (int capacity = std::max(dbe_RecCount(), 0) + 64;;) {
      out.resize(static_cast<std::size_t>(capacity));
      const int n = dbe_OrderRecNos(out.data(), capacity);
      if (n < 0) RaiseEngineError("dbe_OrderRecNos");
      if (n <= capacity) {
        out.resize(static_cast<std::size_t>(n));
        return out;
      }
      capacity = n + 64;
    }
  }
  if (state_ == TDataSetState::dsInsert) return out;
  for (bool more = dbe_GoTop() != 0; more && !dbe_Eof(); more = dbe_Skip(1) != 0) out.push_back(dbe_RecNo());
  CheckError("dbe_Skip");
  if (recno_ > 0) dbe_Go(recno_);
  return out;
}

std::vector<std::vector<std::string>> TTable::ReadRows(const std::vector<int>& recnos) {
  CheckActive();
  std::vector<std::vector<std::string>> rows(recnos.size());
  if (state_ == TDataSetState::dsInsert) return rows;
  AreaScope scope(*this);
  const int size = dbe_RecSize();
  std::string buf(static_cast<std::size_t>(size) + 1, ' ');
  for (std::size_t i = 0; i < recnos.size(); ++i) {
    if (!dbe_Go(recnos[i]) || !dbe_GetRecord(buf.data())) continue;
    rows[i] = RowFields(buf);
  }
  if (recno_ > 0) dbe_Go(recno_);
  return rows;
}

TTable::TopRows TTable::ReadTopRows(int most) {
  CheckActive();
  TopRows top;
  if (state_ == TDataSetState::dsInsert) return top;
  AreaScope scope(*this);
  std::string buf(static_cast<std::size_t>(dbe_RecSize()) + 1, ' ');
  for (bool more = dbe_GoTop() != 0; more && !dbe_Eof() && static_cast<int>(top.recnos.size()) < most;
       more = dbe_Skip(1) != 0) {
    if (!dbe_GetRecord(buf.data())) RaiseEngineError("dbe_GetRecord");
    top.recnos.push_back(dbe_RecNo());
    top.rows.push_back(RowFields(buf));
  }
  CheckError("dbe_Skip");
  if (recno_ > 0) dbe_Go(recno_);
  return top;
}

namespace {

// Letters in both cases (upper first: it sorts first in a binary key), else the character.
std::string CaseVariants(char c) {
  const auto u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto l = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return u == l ? std::string(1, c) : std::string{u, l};
}

// The smallest key prefix, over every case variant of `rest` after `head`, that some
// entry starts with. Variants are tried smallest first and a dead branch is dropped
// after one seek, so a search costs about two seeks per character.
bool SeekCaseless(std::string& head, std::string_view rest) {
  if (rest.empty()) return true;
  for (char c : CaseVariants(rest.front())) {
    head.push_back(c);
    if (dbe_Seek(head.c_str()) && SeekCaseless(head, rest.substr(1))) return true;
    head.pop_back();
  }
  return false;
}

}  // namespace

bool TTable::FindNearestCaseless(std::string_view prefix) {
  CheckBrowse("FindNearestCaseless");
  if (prefix.empty() || indexName_.empty()) return false;
  {
    AreaScope scope(*this);
    std::string head;
    const bool found = SeekCaseless(head, prefix);  // the last seek made is the one found
    if (!found) {
      if (recno_ > 0) dbe_Go(recno_);
      return false;
    }
    Load();
  }
  NotifyData();
  return true;
}

std::vector<std::string> TTable::RowFields(const std::string& record) const {
  std::vector<std::string> row;
  for (const auto& f : fields_)
    row.push_back(RTrim(record.substr(static_cast<std::size_t>(f->offset_), static_cast<std::size_t>(f->width_))));
  return row;
}

// Walks the range of keys starting with `head` exactly once `rest` is spent; else
// tries each case variant of the next character, dropping a dead one after one seek.
void TTable::CollectStarting(std::string& head, std::string_view rest, int most,
                             std::vector<std::vector<std::string>>& rows) {
  if (static_cast<int>(rows.size()) >= most) return;
  if (!rest.empty()) {
    for (char c : CaseVariants(rest.front())) {
      head.push_back(c);
      if (dbe_Seek(head.c_str())) CollectStarting(head, rest.substr(1), most, rows);
      head.pop_back();
    }
    return;
  }
  if (!dbe_Seek(head.c_str())) return;
  const TField& keyField = FieldByName(indexName_);
  const int size = dbe_RecSize();
  std::string buf(static_cast<std::size_t>(size) + 1, ' ');
  while (static_cast<int>(rows.size()) < most && !dbe_Eof()) {
    if (!dbe_GetRecord(buf.data())) RaiseEngineError("dbe_GetRecord");
    const std::string_view key(buf.data() + keyField.offset_, static_cast<std::size_t>(keyField.width_));
    if (key.substr(0, head.size()) != head) break;
    if (!dbe_Deleted()) rows.push_back(RowFields(buf));
    dbe_Skip(1);
    CheckError("dbe_Skip");
  }
}

std::vector<std::vector<std::string>> TTable::RowsStartingCaseless(std::string_view prefix, int most) {
  CheckBrowse("RowsStartingCaseless");
  std::vector<std::vector<std::string>> rows;
  if (prefix.empty() || indexName_.empty() || most <= 0) return rows;
  AreaScope scope(*this);
  std::string head;
  CollectStarting(head, prefix, most, rows);
  if (recno_ > 0) dbe_Go(recno_);
  return rows;
}

bool TTable::RecheckCurrent() {
  CheckActive();
  if (recno_ <= 0) return false;
  AreaScope scope(*this);
  if (!dbe_Go(recno_)) return false;
  if (dbe_Deleted()) return false;
  Load();
  return true;
}

void TTable::Append() {
  CheckBrowse("Append");
  if (readOnly_) throw EDatabaseError("Cannot modify a read-only dataset");
  AreaScope scope(*this);
  const int size = dbe_RecSize();
  CheckError("dbe_RecSize");
  buffer_.assign(static_cast<std::size_t>(size), ' ');
  SetState(TDataSetState::dsInsert);
}

void TTable::Edit() {
  CheckBrowse("Edit");
  if (readOnly_) throw EDatabaseError("Cannot modify a read-only dataset");
  if (IsEmpty()) {
    Append();
    return;
  }
  {
    AreaScope scope(*this);
    if (!dbe_Go(recno_)) RaiseEngineError("dbe_Go");
    Load();
  }
  SetState(TDataSetState::dsEdit);
}

void TTable::Post() {
  CheckActive();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  {
    AreaScope scope(*this);
    if (state_ == TDataSetState::dsInsert) {
      if (!dbe_AppendBlank()) RaiseEngineError("dbe_AppendBlank");
      if (!dbe_PutRecord(buffer_.c_str())) RaiseEngineError("dbe_PutRecord");
    } else {
      if (dbe_RecNo() != recno_ && !dbe_Go(recno_)) RaiseEngineError("dbe_Go");
      if (!dbe_PutRecord(buffer_.c_str())) RaiseEngineError("dbe_PutRecord");
      if (!dbe_Unlock()) RaiseEngineError("dbe_Unlock");
    }
    Load();
  }
  ++changes_;
  SetState(TDataSetState::dsBrowse);
  NotifyData();
}

void TTable::Cancel() {
  CheckActive();
  if (state_ == TDataSetState::dsBrowse) return;
  state_ = TDataSetState::dsBrowse;
  {
    AreaScope scope(*this);
    if (recno_ > 0) dbe_Go(recno_);
    Load();
  }
  NotifyState();
  NotifyData();
}

void TTable::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert) {
    Cancel();
    return;
  }
  if (state_ == TDataSetState::dsEdit) Cancel();
  if (IsEmpty() || recno_ == 0) throw EDatabaseError("Cannot perform this operation on an empty dataset");
  {
    AreaScope scope(*this);
    if (dbe_RecNo() != recno_ && !dbe_Go(recno_)) RaiseEngineError("dbe_Go");
    if (!dbe_Delete()) RaiseEngineError("dbe_Delete");
    // The next visible record becomes current, or the last one when none follows.
    if (!dbe_Skip(1)) {
      CheckError("dbe_Skip");
      dbe_GoBottom();
      CheckError("dbe_GoBottom");
    }
    Load();
  }
  ++changes_;
  NotifyData();
}

void TTable::Refresh() {
  CheckBrowse("Refresh");
  {
    AreaScope scope(*this);
    if (!dbe_Refresh()) RaiseEngineError("dbe_Refresh");
    // Settle on the current record if it is still visible, else on its neighbour.
    if (dbe_Eof()) {
      dbe_GoBottom();
    } else {
      dbe_Skip(1);
      CheckError("dbe_Skip");
      dbe_Skip(-1);
    }
    CheckError("dbe_Skip");
    Load();
  }
  ++changes_;
  NotifyData();
}

void TTable::SetRange(std::string_view, std::string_view) { RaiseNotSupported("SetRange"); }
void TTable::EmptyTable() { RaiseNotSupported("EmptyTable"); }

void TTable::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  NotifyState();
}

// A link may unbind itself, or a source go, while it is being told; only those still
// bound when their turn comes are told.
void TTable::NotifyLinks(void (TDataLink::*notice)(TTable&)) {
  const auto bound = [this](const TDataSource* s) {
    return std::find(sources_.begin(), sources_.end(), s) != sources_.end();
  };
  const auto sources = sources_;
  for (TDataSource* s : sources) {
    const auto links = bound(s) ? s->links_ : std::vector<TDataLink*>{};
    for (TDataLink* l : links)
      if (bound(s) && s->HasLink(l)) (l->*notice)(*this);
  }
}

void TTable::NotifyActive() { NotifyLinks(&TDataLink::ActiveChanged); }
void TTable::NotifyData() { NotifyLinks(&TDataLink::DataSetChanged); }
void TTable::NotifyState() { NotifyLinks(&TDataLink::StateChanged); }

}  // namespace vz::data
