#pragma once
// What the fax details dialog offers under a box: phone book entries whose name
// starts with the recipient typed, or the recipients faxes were last queued for.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "controller/controller_env.hpp"
#include "dbengine/dataset.hpp"
#include "phonebook/codepage.hpp"
#include "phonebook/dataengine.hpp"
#include "phonebook/phonetable.hpp"

namespace vz {

inline constexpr std::size_t kMostCompletions = 8;
inline constexpr std::size_t kMostRecent = 10;

// A name and number, in the ANSI code page as the boxes hold them.
struct Suggestion {
  std::string name;
  std::string phone;
  bool operator==(const Suggestion&) const = default;
};

// Phone book entries in name order whose name starts with a text in any letter case.
class NameLookup {
 public:
  virtual ~NameLookup() = default;
  virtual std::vector<Suggestion> Starting(std::string_view typed, std::size_t most) = 0;
};

// The phone book beside the program, opened on the first lookup as the browser
// opens it, and kept open (shared) until destroyed. A phone book that is not there
// is not created: it has no names to offer.
class PhoneBookLookup : public NameLookup {
 public:
  explicit PhoneBookLookup(phonebook::PhoneBookUi& ui);
  ~PhoneBookLookup() override;
  PhoneBookLookup(const PhoneBookLookup&) = delete;
  PhoneBookLookup& operator=(const PhoneBookLookup&) = delete;

  std::vector<Suggestion> Starting(std::string_view typed, std::size_t most) override;

 private:
  bool Open();

  phonebook::PhoneBookUi& ui_;
  data::TTable table_;
  data::TDataSource source_;
  phonebook::TDataEngine engine_;
  bool tried_ = false;
};

// Up to kMostCompletions entries for the recipient typed: none for an empty text,
// one longer than a name can be, or a phone book that fails to read.
std::vector<Suggestion> CompletionsFor(NameLookup& names, std::string_view typed);

// The last kMostRecent distinct number-and-recipient pairs queued, newest first,
// from the job log, in the ANSI code page; a pair the code page cannot show is left out.
std::vector<Suggestion> RecentSuggestions(ControllerEnv& env, const phonebook::AnsiCodePage& codePage);

}  // namespace vz
