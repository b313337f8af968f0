#pragma once
// The data layer beneath the phone book's grid and adapter: a table component with
// string field components, and a data source that links the table to its users.
// Everything goes through the engine's dbe_ calls; each operation selects the
// table's work area, makes its calls and selects the previous area again.
// Free of any window system: the grid binds to it through TDataLink.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vz::data {

// A failure of the data layer. The message is what the error box shows: for engine
// failures "Database Error : " and the engine's error number; Detail() has the
// engine's own explanation.
class EDatabaseError : public std::runtime_error {
 public:
  EDatabaseError(const std::string& message, int code = 0, std::string detail = {})
      : std::runtime_error(message), code_(code), detail_(std::move(detail)) {}
  int Code() const { return code_; }
  const std::string& Detail() const { return detail_; }

 private:
  int code_;
  std::string detail_;
};

// Where the data layer shows an error box it cannot raise (the engine version check
// on first open). The Win32 side installs a message box; the default does nothing.
void SetDatabaseErrorBox(std::function<void(const std::string&)> show);
// Starts the engine once (string type, error level, version check); shows the
// error box and raises when the engine is too old. Opening a table calls it.
void StartEngine();
// Tests: the engine version query used on first open (nullptr: the engine's own).
void SetEngineVersionQuery(const char* (*query)());

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

class TTable;

class TField {
 public:
  TField(TTable& table, std::string fieldName, int size);
  virtual ~TField() = default;
  const std::string& FieldName() const { return fieldName_; }
  int Size() const { return size_; }
  const std::string& DisplayLabel() const { return displayLabel_; }
  void SetDisplayLabel(std::string label) { displayLabel_ = std::move(label); }
  int DisplayWidth() const { return displayWidth_; }
  void SetDisplayWidth(int width) { displayWidth_ = width; }
  int FieldNo() const { return fieldNo_; }  // 1-based position in the table, 0 while closed

  // The current record's text without trailing blanks (empty for all blanks).
  std::string AsString() const;
  // Sets the text in the record being edited or inserted, clipped to Size.
  void SetAsString(std::string_view text);

 private:
  friend class TTable;
  TTable& table_;
  std::string fieldName_;
  int size_;
  std::string displayLabel_;
  int displayWidth_;
  int fieldNo_ = 0;
  int offset_ = 0;
  int width_ = 0;
};

class TStringField : public TField {
 public:
  using TField::TField;
};

class TDataSource;

// Something bound to a data source: the grid, the adapter. A link and its source may
// be destroyed in either order: the source unbinds its links when it goes, and a
// link unbinds from its source when it goes first.
class TDataLink {
 public:
  TDataLink() = default;
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;
  virtual ~TDataLink();
  // The source this link is bound to, or null.
  TDataSource* LinkedSource() const { return linkedSource_; }
  virtual void ActiveChanged(TTable&) {}   // opened or closed
  virtual void DataSetChanged(TTable&) {}  // moved, refreshed, posted, deleted
  virtual void StateChanged(TTable&) {}    // browse, edit, insert

 private:
  friend class TDataSource;
  TDataSource* linkedSource_ = nullptr;
};

class TDataSource {
 public:
  TDataSource() = default;
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  TTable* DataSet() const { return dataSet_; }
  void SetDataSet(TTable* table);
  // Binds a link to this source, unbinding it from any other first.
  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link);
  bool HasLink(const TDataLink* link) const;

 private:
  friend class TTable;
  TTable* dataSet_ = nullptr;
  std::vector<TDataLink*> links_;
};

class TTable {
 public:
  TTable();
  ~TTable();
  TTable(const TTable&) = delete;
  TTable& operator=(const TTable&) = delete;

  // Set while closed.
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(std::string dir);
  const std::string& TableName() const { return tableName_; }
  void SetTableName(std::string name);
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool exclusive);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly);
  // The current index (tag) name; empty for record order. Settable while open.
  const std::string& IndexName() const { return indexName_; }
  void SetIndexName(std::string tag);
  // Full path of the table file: the database directory joined with the table name.
  std::string TablePath() const;

  // Field components; without any, opening creates one per table field.
  TStringField& AddStringField(std::string fieldName, int size, std::string label = {}, int displayWidth = 0);
  TField* FindField(std::string_view fieldName) const;
  TField& FieldByName(std::string_view fieldName) const;
  const std::vector<std::unique_ptr<TField>>& Fields() const { return fields_; }

  bool Active() const { return area_ != 0; }
  void SetActive(bool active);
  void Open();
  void Close();
  int WorkArea() const { return area_; }
  TDataSetState State() const { return state_; }
  // Counts what can change the set of records or their order as this table sees it
  // (open, close, order, post, delete, refresh), so a link can tell them from moves.
  unsigned ChangeCount() const { return changes_; }
  // The production index's change counter as the file holds it now (0 without an
  // index). Unlike ChangeCount it also moves when another program changes the table:
  // a user that keeps what it read compares it to learn that it must read again.
  std::uint32_t IndexChangeCounter();

  void First();
  void Last();
  void Next();
  void Prior();
  int MoveBy(int distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return bof_ && eof_; }
  int RecNo() const { return recno_; }
  // Records the filter lets through, others' changes included.
  int RecordCount();
  // Positions by record number (a bookmark); false when it no longer exists.
  bool GotoBookmark(int recno);
  // Up to count visible records from the current one on, as field texts of the field
  // components; the current record stays current.
  std::vector<std::vector<std::string>> PeekRows(int count);
  // The record numbers in the current order, from the index alone when there is an
  // index order (no record read); in record order the visible records are walked.
  std::vector<int> OrderRecNos();
  // The field texts of the given records, the current record staying current. While
  // a new record is pending nothing is read (empty rows).
  std::vector<std::vector<std::string>> ReadRows(const std::vector<int>& recnos);
  // The first `most` records in the current order, read in one walk from the top:
  // their numbers and field texts. The current record stays current.
  struct TopRows {
    std::vector<int> recnos;
    std::vector<std::vector<std::string>> rows;
  };
  TopRows ReadTopRows(int most);
  // Moves to the first record, in the current index order, whose key starts with
  // `prefix` in any mix of letter case; false (nothing moved) when there is none.
  // Only seeks are made, never a walk of the table.
  bool FindNearestCaseless(std::string_view prefix);
  // The field texts of at most `most` records, in the current index order, whose key
  // starts with `prefix` in any mix of letter case; the current record stays current.
  // The key is the field the tag is named after (tag NAME on field NAME).
  // Seeks and a walk of the matches only: each case variant of the prefix is a range
  // of its own in a binary key, and the ranges are taken smallest first.
  std::vector<std::vector<std::string>> RowsStartingCaseless(std::string_view prefix, int most);
  // Reads the current record again from the file: false when another program has
  // deleted it meanwhile (it stays current, unchanged in the buffer).
  bool RecheckCurrent();

  void Append();
  void Insert() { Append(); }
  void Edit();
  void Post();
  void Cancel();
  void Delete();
  void Refresh();

  // Data layer calls the engine does not serve.
  void SetRange(std::string_view low, std::string_view high);
  void EmptyTable();

  // The current record buffer (flag byte, then fields).
  const std::string& RecordBuffer() const { return buffer_; }

 private:
  friend class TField;
  friend class TDataSource;
  class AreaScope;
  void CollectStarting(std::string& head, std::string_view rest, int most,
                       std::vector<std::vector<std::string>>& rows);
  std::vector<std::string> RowFields(const std::string& record) const;

  void CheckInactive(const char* what) const;
  void CheckActive() const;
  void CheckBrowse(const char* what);
  void Load();
  void SetState(TDataSetState state);
  void NotifyLinks(void (TDataLink::*notice)(TTable&));
  void NotifyActive();
  void NotifyData();
  void NotifyState();
  void BindFields();
  void ApplyIndexName();

  std::string databaseName_;
  std::string tableName_;
  bool exclusive_ = false;
  bool readOnly_ = false;
  std::string indexName_;
  std::vector<std::unique_ptr<TField>> fields_;
  std::vector<TDataSource*> sources_;
  int area_ = 0;
  TDataSetState state_ = TDataSetState::dsInactive;
  std::string buffer_;
  int recno_ = 0;
  unsigned changes_ = 0;
  bool bof_ = true;
  bool eof_ = true;
};

// Raises the data layer's error for an engine call that failed (the engine's number).
[[noreturn]] void RaiseEngineError(const char* call);
// Raises "This function not supported by the table engine : " + name.
[[noreturn]] void RaiseNotSupported(const std::string& name);

}  // namespace vz::data
