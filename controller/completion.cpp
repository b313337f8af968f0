#include "controller/completion.hpp"

#include "controller/joblog.hpp"

namespace vz {

PhoneBookLookup::PhoneBookLookup(phonebook::PhoneBookUi& ui) : ui_(ui) {
  phonebook::AddPhoneFields(table_);
  source_.SetDataSet(&table_);
  engine_.SetDataSource(&source_);
}

// The engine is unbound before the table closes, as the browser does.
PhoneBookLookup::~PhoneBookLookup() {
  try {
    engine_.SetDataSource(nullptr);
    table_.Close();
  } catch (...) {
  }
}

bool PhoneBookLookup::Open() {
  if (tried_) return table_.Active();
  tried_ = true;
  if (!ui_.FileExists(phonebook::ProgramDir(ui_) + phonebook::kPhoneTableName)) return false;
  return phonebook::OpenPhoneDBF(table_, engine_, ui_) && !table_.IndexName().empty();
}

std::vector<Suggestion> PhoneBookLookup::Starting(std::string_view typed, std::size_t most) {
  std::vector<Suggestion> out;
  if (!Open()) return out;
  for (auto& row : table_.RowsStartingCaseless(typed, static_cast<int>(most)))
    if (row.size() >= 2) out.push_back({std::move(row[0]), std::move(row[1])});
  return out;
}

std::vector<Suggestion> CompletionsFor(NameLookup& names, std::string_view typed) {
  if (typed.empty() || typed.size() > static_cast<std::size_t>(phonebook::kNameWidth)) return {};
  try {
    auto found = names.Starting(typed, kMostCompletions);
    if (found.size() > kMostCompletions) found.resize(kMostCompletions);
    return found;
  } catch (...) {
    return {};
  }
}

std::vector<Suggestion> RecentSuggestions(ControllerEnv& env, const phonebook::AnsiCodePage& codePage) {
  std::vector<Suggestion> out;
  for (const RecentRecipient& pair : ReadRecentRecipients(env, kMostRecent)) {
    Suggestion s;
    char32_t missing = 0;
    if (!phonebook::IsValidUtf8(pair.recipient) || !phonebook::IsValidUtf8(pair.number)) continue;
    if (!codePage.FromUtf8(pair.recipient, s.name, missing)) continue;
    if (!codePage.FromUtf8(pair.number, s.phone, missing)) continue;
    out.push_back(std::move(s));
  }
  return out;
}

}  // namespace vz
