// Contacts into the phone book's table: fields' widths, duplicates, and the append.
#include <deque>
#include <functional>

#include "common/text.hpp"
#include "phonebook/contacts.hpp"

namespace vz::phonebook {

using vz::db::Table;

namespace {

struct PhoneFields {
  int name = -1, phone = -1;
  int nameWidth = 0, phoneWidth = 0;
  std::size_t nameOffset = 0, phoneOffset = 0;
};

PhoneFields FieldsOf(const Table& table) {
  PhoneFields f;
  f.name = table.FieldIndex("NAME");
  f.phone = table.FieldIndex("PHONE");
  if (f.name < 0 || f.phone < 0) throw vz::db::DbError(table.Path() + " has no NAME and PHONE fields");
  std::size_t offset = 1;
  for (int i = 0; i < static_cast<int>(table.Fields().size()); ++i) {
    const auto& field = table.Fields()[static_cast<std::size_t>(i)];
    if (i == f.name) f.nameOffset = offset, f.nameWidth = field.width;
    if (i == f.phone) f.phoneOffset = offset, f.phoneWidth = field.width;
    offset += field.width;
  }
  return f;
}

// Name and number as stored, padding included: what makes two entries the same.
std::string KeyOf(const PhoneFields& f, std::string_view record) {
  std::string key(record.substr(f.nameOffset, static_cast<std::size_t>(f.nameWidth)));
  key.append(record.substr(f.phoneOffset, static_cast<std::size_t>(f.phoneWidth)));
  return key;
}

// The keys seen, in a flat table of (hash, key number) slots probed in a line: a
// million keys cost one cache miss each rather than a node each. The keys themselves
// stay where the caller keeps them.
class KeySet {
 public:
  explicit KeySet(std::size_t expected) {
    std::size_t size = 16;
    while (size < expected * 2) size *= 2;
    slots_.resize(size);
    keys_.reserve(expected);
  }
  // False when the key is there already.
  bool Insert(std::string_view key) {
    if ((keys_.size() + 1) * 2 > slots_.size()) Grow();
    const std::uint64_t hash = std::hash<std::string_view>{}(key);
    for (std::size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      Slot& slot = slots_[i];
      if (slot.key == 0) {
        keys_.push_back(key);
        slot = {static_cast<std::uint32_t>(hash >> 32), static_cast<std::uint32_t>(keys_.size())};
        return true;
      }
      if (slot.hash == static_cast<std::uint32_t>(hash >> 32) && keys_[slot.key - 1] == key) return false;
    }
  }

 private:
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t key = 0;  // 1-based; 0: empty
  };
  void Grow() {
    std::vector<std::string_view> keys = std::move(keys_);
    slots_.assign(slots_.size() * 2, Slot{});
    keys_.clear();
    keys_.reserve(keys.size() * 2);
    for (const auto& key : keys) Insert(key);
  }
  std::vector<Slot> slots_;
  std::vector<std::string_view> keys_;
};

// Fits a value into its field: cut under --cut, listed otherwise.
bool Fits(std::string& value, int width, bool name, const Contact& c, const ImportOptions& options,
          const AnsiCodePage& codePage, ImportPlan& plan) {
  if (value.size() <= static_cast<std::size_t>(width)) return true;
  if (options.cut) {
    value.resize(static_cast<std::size_t>(width));
    return true;
  }
  plan.problems.push_back({c.line,
                           Format("the %s \"%s\" has %zu characters; at most %d fit", name ? "name" : "fax number",
                                  codePage.ToUtf8(value).c_str(), value.size(), width),
                           name ? ProblemKind::kNameTooLong : ProblemKind::kFaxTooLong});
  return false;
}

}  // namespace

ImportPlan PlanImport(Table& table, const ContactsRead& read, const ImportOptions& options,
                      const AnsiCodePage& codePage) {
  const PhoneFields f = FieldsOf(table);
  ImportPlan plan;
  plan.problems = read.problems;
  plan.withoutFax = read.withoutFax;
  // Keys live in a deque, which never moves them, so that the set can view them.
  std::deque<std::string> keys;
  KeySet known(table.RecordCount() + read.contacts.size());
  table.ForEachRecord([&](std::uint32_t, std::string_view record) {
    if (record.empty() || record[0] == vz::db::kDbfDeleted) return;
    keys.push_back(KeyOf(f, record));
    known.Insert(keys.back());
  });
  // The records are reserved in full, so that the set can view the keys inside them.
  plan.records.reserve(read.contacts.size());
  const bool adjacent = f.phoneOffset == f.nameOffset + static_cast<std::size_t>(f.nameWidth);
  for (const Contact& c : read.contacts) {
    std::string name = c.name, fax = c.fax;
    const bool cutting = name.size() > static_cast<std::size_t>(f.nameWidth) ||
                         fax.size() > static_cast<std::size_t>(f.phoneWidth);
    if (!Fits(name, f.nameWidth, true, c, options, codePage, plan) ||
        !Fits(fax, f.phoneWidth, false, c, options, codePage, plan))
      continue;
    plan.records.push_back(table.BlankRecord());
    std::string& record = plan.records.back();
    table.SetFieldText(record, f.name, name);
    table.SetFieldText(record, f.phone, fax);
    std::string_view key;
    if (adjacent) {
      key = std::string_view(record).substr(f.nameOffset, static_cast<std::size_t>(f.nameWidth + f.phoneWidth));
    } else {
      keys.push_back(KeyOf(f, record));
      key = keys.back();
    }
    if (!known.Insert(key)) {
      plan.records.pop_back();
      ++plan.duplicates;
      continue;
    }
    plan.cut += cutting ? 1 : 0;
    plan.lines.push_back(c.line);
  }
  return plan;
}

namespace {

void Stop(ImportSummary& s, const ImportPlan& plan, const std::exception& e) {
  s.stopped = true;
  s.stoppedAtLine = s.added < plan.lines.size() ? plan.lines[s.added] : 0;
  s.stopReason = e.what();
}

}  // namespace

ImportSummary ApplyImport(Table& table, const ImportPlan& plan) {
  ImportSummary s;
  s.withoutFax = plan.withoutFax;
  s.duplicates = plan.duplicates;
  s.listed = plan.problems.size();
  s.cut = plan.cut;
  if (plan.records.empty()) return s;
  try {
    s.bulk = table.BatchRebuildsTags(table.RecordCount(), plan.records.size());
    Table::BatchProgress progress;
    try {
      table.AppendBatch(plan.records, progress);
    } catch (const vz::db::DbError&) {
      s.added = progress.appended;
      s.firstRecNo = progress.firstRecNo;
      throw;
    }
    s.added = progress.appended;
    s.firstRecNo = progress.firstRecNo;
    // A batch that went key by key leaves the device flush to its caller.
    table.Flush();
  } catch (const vz::db::DbError& e) {
    Stop(s, plan, e);
  }
  return s;
}

ImportSummary ImportContacts(Table& table, const ContactsRead& read, const ImportOptions& options,
                             const AnsiCodePage& codePage) {
  return ApplyImport(table, PlanImport(table, read, options, codePage));
}

}  // namespace vz::phonebook
