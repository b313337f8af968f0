#include "phonebook/phonetable.hpp"

#include "common/text.hpp"
#include "dbengine/dbe.hpp"
#include "dbengine/filesystem.hpp"

namespace vz::phonebook {

bool PhoneBookUi::FileExists(const std::string& path) { return db::HostFileExists(path); }

std::string ProgramDir(PhoneBookUi& ui) { return DirectoryOf(ui.ProgramPath()); }

void AddPhoneFields(data::TTable& table) {
  table.AddStringField("NAME", kNameWidth, "Name", 32);
  table.AddStringField("PHONE", kPhoneWidth, "Fax #", 25);
}

bool MakePhoneDBF(TDataEngine& engine, PhoneBookUi& ui) {
  bool result = false;
  try {
    const std::string path = ProgramDir(ui) + kPhoneTableName;
    if (engine.CreateNew(path, kDbeDriverFoxPro, 2) == 0) return false;
    engine.CreateField("NAME", "C", kNameWidth, 0);
    engine.CreateField("PHONE", "C", kPhoneWidth, 0);
    if (engine.CreateExec() == 0) return false;
    result = ui.FileExists(ProgramDir(ui) + kPhoneTableName);
  } catch (...) {
    result = false;
  }
  return result;
}

bool OpenPhoneDBF(data::TTable& table, TDataEngine& engine, PhoneBookUi& ui) {
  bool result = false;
  try {
    table.Close();
    table.SetDatabaseName(ProgramDir(ui));
    table.SetTableName(kPhoneTableName);
    table.SetExclusive(false);
    if (!ui.FileExists(ProgramDir(ui) + kPhoneTableName) && !MakePhoneDBF(engine, ui)) return false;
  } catch (...) {
    return false;
  }
  try {
    table.Open();
    result = true;
    // A missing index (never built, deleted, or found damaged and moved aside), or
    // one without tag NAME (a rebuild cut short by another program, or a tag dropped
    // elsewhere), gets the tag again from the records.
    if (!ui.FileExists(ProgramDir(ui) + kPhoneIndexName) || engine.TagArea("NAME") == 0)
      engine.IndexTag("", "NAME", "NAME", 0, false, kVisibleCondition);
    engine.SetOrder(engine.TagArea("NAME"));
    engine.Query(kVisibleCondition);
  } catch (...) {
    // Failures after the open leave the table in whatever order and filter it has.
  }
  return result;
}

bool OpenPhoneBookOrQuit(data::TTable& table, TDataEngine& engine, PhoneBookUi& ui) {
  if (OpenPhoneDBF(table, engine, ui)) return true;
  ui.ShowInfo(kOpenFailedMessage);
  ui.Terminate();
  return false;
}

}  // namespace vz::phonebook
