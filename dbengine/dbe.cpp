#include "dbengine/dbe.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/text.hpp"
#include "dbengine/table.hpp"

using vz::db::DbError;
using vz::db::Table;

namespace {

constexpr const char* kVersion = "2.40.00";
constexpr std::size_t kMaxAreas = 1024;

struct Area {
  std::string alias;
  std::unique_ptr<Table> table;
  std::optional<std::string> pendingAppend;
};

struct PendingCreate {
  std::string file;
  std::string alias;
  int fieldCount = 0;
  std::vector<vz::db::DbfField> fields;
};

struct Engine {
  int stringType = 0;
  int errorLevel = 1;
  int error = kDbeOk;
  std::string errorText;
  std::vector<std::unique_ptr<Area>> areas;  // index = area number - 1
  int current = 0;
  std::optional<PendingCreate> create;
  vz::db::FileSystem* fs = nullptr;
  bool deferIndexCheck = false;
  std::string text;  // backing store for returned texts
};

Engine& E() {
  static Engine engine;
  return engine;
}

int Fail(int code, const std::string& text) {
  Engine& e = E();
  e.error = code;
  e.errorText = text;
  if (e.errorLevel >= 2) std::fprintf(stderr, "dbe error %d: %s\n", code, text.c_str());
  return 0;
}

void Ok() {
  E().error = kDbeOk;
  E().errorText.clear();
}

int CodeOf(const DbError& err, int fallback) {
  if (dynamic_cast<const vz::db::DbfDamaged*>(&err)) return kDbeErrDamaged;
  if (dynamic_cast<const vz::db::CdxDamaged*>(&err)) return kDbeErrIndex;
  const std::string what = err.what();
  if (what.find("locked by another user") != std::string::npos || what.find("in use by another") != std::string::npos)
    return kDbeErrLocked;
  if (what.find("read-only") != std::string::npos) return kDbeErrReadOnly;
  if (what.find("expression \"") != std::string::npos) return kDbeErrExpression;
  return fallback;
}

// Runs f, turning exceptions into an error number; f returns the success value.
template <class F>
int Guard(int fallbackCode, F&& f) {
  try {
    Ok();
    return f();
  } catch (const DbError& err) {
    return Fail(CodeOf(err, fallbackCode), err.what());
  } catch (const std::exception& err) {
    return Fail(fallbackCode, err.what());
  }
}

Area* Current() {
  Engine& e = E();
  if (e.current <= 0 || static_cast<std::size_t>(e.current) > e.areas.size()) return nullptr;
  return e.areas[static_cast<std::size_t>(e.current) - 1].get();
}

Area& Need() {
  Area* a = Current();
  if (!a) throw DbError("no table is open in the current work area");
  return *a;
}

// A pending blank append becomes a real record before anything looks past it.
Table& Settled() {
  Area& a = Need();
  if (a.pendingAppend) {
    const std::string blank = a.table->BlankRecord();
    a.pendingAppend.reset();
    a.table->Go(a.table->Append(blank));
  }
  return *a.table;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of("\\/:");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const auto dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return vz::UpperAscii(name);
}

bool AliasTaken(const std::string& alias) {
  for (const auto& a : E().areas)
    if (a && a->alias == alias) return true;
  return false;
}

std::string UniqueAlias(const std::string& wanted) {
  const std::string base = vz::UpperAscii(wanted);
  if (!AliasTaken(base)) return base;
  for (int n = 1;; ++n) {
    const std::string alias = base + "_" + std::to_string(n);
    if (!AliasTaken(alias)) return alias;
  }
}

int NewArea(std::unique_ptr<Table> table, const std::string& alias) {
  Engine& e = E();
  std::size_t slot = 0;
  while (slot < e.areas.size() && e.areas[slot]) ++slot;
  if (slot == kMaxAreas) throw DbError("all work areas are in use");
  if (slot == e.areas.size()) e.areas.emplace_back();
  auto area = std::make_unique<Area>();
  area->alias = UniqueAlias(alias);
  area->table = std::move(table);
  e.areas[slot] = std::move(area);
  e.current = static_cast<int>(slot) + 1;
  return e.current;
}

// Every change is on the device when its call returns, as other xBase engines commit
// by default: an entry the user saw saved survives a power cut.
vz::db::TableOptions Options(vz::db::ShareMode mode) {
  vz::db::TableOptions o;
  o.mode = mode;
  o.fs = E().fs;
  o.durable = true;
  o.deferIndexCheck = E().deferIndexCheck;
  return o;
}

const char* Text(std::string s) {
  E().text = std::move(s);
  return E().text.c_str();
}

const vz::db::DbfField& FieldAt(int field) {
  const auto& fields = Need().table->Fields();
  if (field < 1 || static_cast<std::size_t>(field) > fields.size())
    throw DbError(vz::Format("there is no field number %d", field));
  return fields[static_cast<std::size_t>(field) - 1];
}

std::string Str(const char* s) { return s ? std::string(s) : std::string(); }

}  // namespace

int dbe_SetStringType(int type) {
  const int old = E().stringType;
  E().stringType = type;
  return old;
}

int dbe_ErrorLevel(int level) {
  const int old = E().errorLevel;
  E().errorLevel = level;
  return old;
}

int dbe_SetDeferIndexCheck(int defer) {
  const int old = E().deferIndexCheck ? 1 : 0;
  E().deferIndexCheck = defer != 0;
  return old;
}

const char* dbe_Version() { return kVersion; }
int dbe_Error() { return E().error; }
const char* dbe_ErrorText() { return E().errorText.c_str(); }

int dbe_CreateNew(const char* file, const char* alias, int driver, int fieldCount) {
  return Guard(kDbeErrCreate, [&] {
    if (driver != kDbeDriverFoxPro) return Fail(kDbeErrDriver, vz::Format("driver %d is not served", driver));
    if (Str(file).empty()) return Fail(kDbeErrArgument, "no file name for the new table");
    if (fieldCount < 1 || fieldCount > 255) return Fail(kDbeErrArgument, "a table has 1 to 255 fields");
    E().create = PendingCreate{Str(file), Str(alias), fieldCount, {}};
    return 1;
  });
}

int dbe_CreateField(const char* name, const char* type, int width, int decimals) {
  return Guard(kDbeErrCreate, [&] {
    auto& c = E().create;
    if (!c) return Fail(kDbeErrArgument, "dbe_CreateField without dbe_CreateNew");
    if (static_cast<int>(c->fields.size()) == c->fieldCount)
      return Fail(kDbeErrArgument, vz::Format("the new table was declared with %d fields", c->fieldCount));
    const std::string t = Str(type);
    if (t.size() != 1) return Fail(kDbeErrArgument, "a field type is one letter");
    c->fields.push_back({Str(name), t[0], width, decimals, 0});
    return 1;
  });
}

int dbe_CreateExec() {
  return Guard(kDbeErrCreate, [&] {
    auto& e = E();
    if (!e.create) return Fail(kDbeErrArgument, "dbe_CreateExec without dbe_CreateNew");
    PendingCreate c = std::move(*e.create);
    e.create.reset();
    if (static_cast<int>(c.fields.size()) != c.fieldCount)
      return Fail(kDbeErrArgument, vz::Format("the new table was declared with %d fields but has %zu", c.fieldCount,
                                              c.fields.size()));
    for (const auto& a : e.areas)
      if (a && a->table->Path() == c.file) return Fail(kDbeErrCreate, c.file + " is open in another work area");
    Table::Create(c.file, c.fields, Options(vz::db::ShareMode::kExclusive));
    auto table = Table::Open(c.file, Options(vz::db::ShareMode::kExclusive));
    return NewArea(std::move(table), c.alias.empty() ? BaseName(c.file) : c.alias);
  });
}

int dbe_Use(const char* path, const char* alias, int mode, int driver) {
  return Guard(kDbeErrOpen, [&] {
    if (driver != kDbeDriverFoxPro) return Fail(kDbeErrDriver, vz::Format("driver %d is not served", driver));
    vz::db::ShareMode share;
    switch (mode) {
      case kDbeModeShared: share = vz::db::ShareMode::kShared; break;
      case kDbeModeReadOnly: share = vz::db::ShareMode::kReadOnly; break;
      case kDbeModeExclusive: share = vz::db::ShareMode::kExclusive; break;
      default: return Fail(kDbeErrArgument, vz::Format("open mode %d is unknown", mode));
    }
    auto table = Table::Open(Str(path), Options(share));
    const std::string wanted = Str(alias).empty() ? BaseName(Str(path)) : Str(alias);
    return NewArea(std::move(table), wanted);
  });
}

int dbe_Select(int area) {
  Engine& e = E();
  const int old = e.current;
  if (area == 0) {
    e.current = 0;
    return old;
  }
  if (area < 1 || static_cast<std::size_t>(area) > e.areas.size() || !e.areas[static_cast<std::size_t>(area) - 1]) {
    Fail(kDbeErrNoTable, vz::Format("work area %d holds no table", area));
    return old;
  }
  e.current = area;
  return old;
}

int dbe_SelectAlias(const char* alias) {
  Engine& e = E();
  const std::string wanted = vz::UpperAscii(Str(alias));
  for (std::size_t i = 0; i < e.areas.size(); ++i) {
    if (e.areas[i] && e.areas[i]->alias == wanted) {
      Ok();
      e.current = static_cast<int>(i) + 1;
      return e.current;
    }
  }
  return Fail(kDbeErrNoTable, "no work area has the alias " + wanted);
}

int dbe_Area() { return Current() ? E().current : 0; }

const char* dbe_Alias() {
  Area* a = Current();
  return Text(a ? a->alias : std::string());
}

int dbe_Close() {
  return Guard(kDbeErrIo, [&] {
    Need();
    Engine& e = E();
    std::string error;
    try {
      Settled();
    } catch (const DbError& err) {
      error = err.what();
    }
    e.areas[static_cast<std::size_t>(e.current) - 1].reset();
    while (!e.areas.empty() && !e.areas.back()) e.areas.pop_back();
    if (!error.empty()) return Fail(kDbeErrIo, error);
    return 1;
  });
}

void dbe_CloseAll() {
  Engine& e = E();
  for (std::size_t i = 0; i < e.areas.size(); ++i) {
    if (!e.areas[i]) continue;
    e.current = static_cast<int>(i) + 1;
    dbe_Close();
  }
  e.areas.clear();
  e.current = 0;
}

int dbe_FieldCount() {
  return Guard(kDbeErrNoTable, [&] { return static_cast<int>(Need().table->Fields().size()); });
}

const char* dbe_FieldName(int field) {
  std::string name;
  Guard(kDbeErrArgument, [&] {
    name = FieldAt(field).name;
    return 1;
  });
  return Text(name);
}

const char* dbe_FieldType(int field) {
  std::string type;
  Guard(kDbeErrArgument, [&] {
    type = std::string(1, FieldAt(field).type);
    return 1;
  });
  return Text(type);
}

int dbe_FieldWidth(int field) {
  return Guard(kDbeErrArgument, [&] { return FieldAt(field).width; });
}

int dbe_FieldDecimals(int field) {
  return Guard(kDbeErrArgument, [&] { return FieldAt(field).decimals; });
}

int dbe_FieldOffset(int field) {
  return Guard(kDbeErrArgument, [&] { return FieldAt(field).offset; });
}

int dbe_FieldNumber(const char* name) {
  return Guard(kDbeErrArgument, [&] {
    const int i = Need().table->FieldIndex(Str(name));
    if (i < 0) return Fail(kDbeErrArgument, "there is no field " + Str(name));
    return i + 1;
  });
}

int dbe_RecSize() {
  return Guard(kDbeErrNoTable, [&] { return static_cast<int>(Need().table->Header().recordLength); });
}

int dbe_IndexTag(const char* file, const char* tag, const char* key, int option, int descending,
                 const char* condition) {
  return Guard(kDbeErrIndex, [&] {
    Table& t = Settled();
    const std::string f = Str(file);
    if (!f.empty() && vz::UpperAscii(f) != vz::UpperAscii(t.IndexPath()) &&
        vz::UpperAscii(BaseName(f)) != vz::UpperAscii(BaseName(t.Path())))
      return Fail(kDbeErrIndex, "only the production index (" + t.IndexPath() + ") is served, not " + f);
    if (option != 0 && option != 1) return Fail(kDbeErrArgument, vz::Format("index option %d is unknown", option));
    t.IndexTag({Str(tag), Str(key), Str(condition), descending != 0, option == 1});
    return 1;
  });
}

int dbe_TagArea(const char* tag) {
  return Guard(kDbeErrIndex, [&] { return Need().table->TagOrder(Str(tag)); });
}

const char* dbe_TagName(int order) {
  std::string name;
  Guard(kDbeErrIndex, [&] {
    const auto tags = Need().table->Tags();
    if (order < 1 || static_cast<std::size_t>(order) > tags.size())
      return Fail(kDbeErrArgument, vz::Format("there is no tag number %d", order));
    name = tags[static_cast<std::size_t>(order) - 1].name;
    return 1;
  });
  return Text(name);
}

int dbe_TagCount() {
  return Guard(kDbeErrIndex, [&] { return static_cast<int>(Need().table->Tags().size()); });
}

int dbe_SetOrder(int order) {
  return Guard(kDbeErrIndex, [&] {
    Settled().SetOrder(order);
    return 1;
  });
}

int dbe_Order() {
  return Guard(kDbeErrNoTable, [&] { return Need().table->Order(); });
}

int dbe_Reindex() {
  return Guard(kDbeErrIndex, [&] {
    Settled().Reindex();
    return 1;
  });
}

int dbe_Seek(const char* key) {
  return Guard(kDbeErrIndex, [&] { return Settled().Seek(Str(key)) ? 1 : 0; });
}

int dbe_OrderRecNos(int* buffer, int capacity) {
  const int n = Guard(kDbeErrIndex, [&] {
    const std::vector<std::uint32_t> recnos = Settled().OrderRecNos();
    const std::size_t copy = std::min(recnos.size(), static_cast<std::size_t>(std::max(capacity, 0)));
    for (std::size_t i = 0; i < copy; ++i) buffer[i] = static_cast<int>(recnos[i]);
    return static_cast<int>(recnos.size()) + 1;
  });
  return n - 1;
}

unsigned dbe_IndexChangeCounter() {
  unsigned counter = 0;
  Guard(kDbeErrIndex, [&] {
    counter = Need().table->IndexChangeCounter();
    return 1;
  });
  return counter;
}

int dbe_CheckIndexAsOnOpen() {
  return Guard(kDbeErrIndex, [&] { return Need().table->CheckIndexAsOnOpen() ? 1 : 0; });
}

int dbe_Query(const char* expression) {
  return Guard(kDbeErrExpression, [&] {
    Settled().SetFilter(Str(expression));
    return 1;
  });
}

int dbe_QueryRecCount() {
  return Guard(kDbeErrIo, [&] { return static_cast<int>(Settled().CountVisible()); });
}

int dbe_GoTop() {
  return Guard(kDbeErrIo, [&] { return Settled().GoTop() ? 1 : 0; });
}

int dbe_GoBottom() {
  return Guard(kDbeErrIo, [&] { return Settled().GoBottom() ? 1 : 0; });
}

int dbe_Skip(int count) {
  return Guard(kDbeErrIo, [&] { return Settled().Skip(count) ? 1 : 0; });
}

int dbe_Go(int recno) {
  return Guard(kDbeErrIo, [&] {
    if (recno < 1) return Fail(kDbeErrArgument, vz::Format("there is no record %d", recno));
    return Settled().Go(static_cast<std::uint32_t>(recno)) ? 1 : 0;
  });
}

int dbe_RecNo() {
  return Guard(kDbeErrIo, [&] { return static_cast<int>(Settled().RecNo()); });
}

int dbe_RecCount() {
  return Guard(kDbeErrIo, [&] { return static_cast<int>(Settled().RecordCount()); });
}

int dbe_Bof() {
  return Guard(kDbeErrNoTable, [&] {
    Area& a = Need();
    return a.pendingAppend ? 0 : (a.table->Bof() ? 1 : 0);
  });
}

int dbe_Eof() {
  return Guard(kDbeErrNoTable, [&] {
    Area& a = Need();
    return a.pendingAppend ? 0 : (a.table->Eof() ? 1 : 0);
  });
}

int dbe_Deleted() {
  return Guard(kDbeErrNoTable, [&] {
    Area& a = Need();
    return a.pendingAppend ? 0 : (a.table->Deleted() ? 1 : 0);
  });
}

int dbe_GetRecord(char* buffer) {
  return Guard(kDbeErrNoTable, [&] {
    if (!buffer) return Fail(kDbeErrArgument, "no buffer");
    Area& a = Need();
    const std::string& rec = a.pendingAppend ? *a.pendingAppend : a.table->Record();
    std::memcpy(buffer, rec.data(), rec.size());
    buffer[rec.size()] = '\0';
    return 1;
  });
}

int dbe_GetField(int field, char* buffer, int size) {
  return Guard(kDbeErrArgument, [&] {
    if (!buffer || size < 1) return Fail(kDbeErrArgument, "no buffer");
    Area& a = Need();
    const auto& f = FieldAt(field);
    const std::string& rec = a.pendingAppend ? *a.pendingAppend : a.table->Record();
    std::string text = rec.substr(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.width));
    if (E().stringType == 1)
      while (!text.empty() && text.back() == ' ') text.pop_back();
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return 1;
  });
}

int dbe_Refresh() {
  return Guard(kDbeErrIo, [&] {
    Settled().Refresh();
    return 1;
  });
}

int dbe_AppendBlank() {
  return Guard(kDbeErrIo, [&] {
    Table& t = Settled();
    if (!t.Writable()) return Fail(kDbeErrReadOnly, t.Path() + " cannot be written");
    Need().pendingAppend = t.BlankRecord();
    return 1;
  });
}

int dbe_PutRecord(const char* buffer) {
  return Guard(kDbeErrIo, [&] {
    if (!buffer) return Fail(kDbeErrArgument, "no buffer");
    Area& a = Need();
    std::string rec(buffer, a.table->Header().recordLength);
    if (rec[0] != vz::db::kDbfLive && rec[0] != vz::db::kDbfDeleted) rec[0] = vz::db::kDbfLive;
    if (a.pendingAppend) {
      a.pendingAppend.reset();
      a.table->Go(a.table->Append(rec));
      return 1;
    }
    if (a.table->Eof()) return Fail(kDbeErrNoRecord, "no current record to write");
    a.table->Update(a.table->RecNo(), rec);
    return 1;
  });
}

int dbe_Delete() {
  return Guard(kDbeErrIo, [&] {
    Table& t = Settled();
    if (t.Eof()) return Fail(kDbeErrNoRecord, "no current record to delete");
    t.Delete(t.RecNo());
    return 1;
  });
}

int dbe_Recall() {
  return Guard(kDbeErrIo, [&] {
    Table& t = Settled();
    if (t.Eof()) return Fail(kDbeErrNoRecord, "no current record to recall");
    t.Recall(t.RecNo());
    return 1;
  });
}

int dbe_Unlock() {
  return Guard(kDbeErrNoTable, [&] {
    Need();
    return 1;
  });
}

void dbe_SetFileSystem(vz::db::FileSystem* fs) { E().fs = fs; }
vz::db::FileSystem* dbe_FileSystem() { return E().fs; }
