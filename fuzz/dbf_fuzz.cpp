// libFuzzer target for the table reader and writer: the input is a DBF file, or a DBF
// file and its production CDX joined by the 8 bytes "VZCDXSEP". The table is opened
// from memory and read as the phone book reads it; when it opens writable it is
// changed, and a second opener may check what it wrote. Which of these steps run is
// chosen by the header's reserved bytes 24 and 25 (see Plan), which the engine never
// reads, so that a mutation elsewhere keeps its parent's choice; the two costliest
// steps by a hash of the input (see kTagWorkOneIn). Refusals (DbError) are fine;
// crashes, sanitizer reports, hangs and a lock refused while no other change is under
// way (which would make an opener wait) are not.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

#include "dbengine/filesystem.hpp"
#include "dbengine/table.hpp"

namespace {

using namespace vz::db;

constexpr std::string_view kSeparator = "VZCDXSEP";
// Walks stop here: longer ones run the same code again.
constexpr std::uint32_t kMaxRecordsWalked = 512;
constexpr int kMaxOrdersWalked = 8;
constexpr const char* kFilters[] = {".not. deleted()", "UPPER(TRIM(NAME)) = 'A'", "SUBSTR(NAME, 2, 3) $ 'abc'"};

// The plan, from header bytes 24 and 25. Byte 24: bits 0-1 the filter (none, or one of
// kFilters), bit 2 a second opener checks the index, bit 3 the first opener is a
// read-only one, bit 4 the record count is mended before opening, bits 5-6 the kind of
// tag work when the hash asks for some (a new tag; Reindex; a new tag, then Reindex; a
// new descending, unique tag), bit 7 the new tag has no condition. Byte 25: the record
// deleted and recalled.
constexpr std::size_t kPlanOffset = 24;
// Building a tag sorts every key and writes a whole tree, Reindex does so for every
// tag, and the check on open compares every tag with the records (mending what it finds
// damaged, as it finds most mutants of a table with its index): each costs about as
// much as all the rest of an input. Tag work is done for one input in kTagWorkOneIn and
// the check on open for one in kCheckOnOpenOneIn, picked by a hash of all the input's
// bytes: a choice kept in the plan would be inherited by every mutant of an input that
// found something there, and the corpus would drift to the costliest plan.
constexpr std::size_t kTagWorkOneIn = 8;
constexpr std::size_t kCheckOnOpenOneIn = 2;

struct Plan {
  int filter = 0;
  bool secondOpener = false;
  bool checkOnOpen = true;
  bool readOnly = false;
  bool repairCount = false;
  bool newTag = false;
  bool reindex = false;
  bool descendingUnique = false;
  bool condition = true;
  std::uint8_t victim = 0;
};

Plan ReadPlan(std::string_view input, std::string_view dbf) {
  Plan p;
  if (dbf.size() < kPlanOffset + 2) return p;
  const auto bits = static_cast<unsigned char>(dbf[kPlanOffset]);
  p.filter = bits & 3;
  p.secondOpener = bits & 4;
  p.readOnly = bits & 8;
  p.repairCount = bits & 16;
  const std::size_t hash = std::hash<std::string_view>{}(input);
  p.checkOnOpen = hash / kTagWorkOneIn % kCheckOnOpenOneIn == 0;
  if (hash % kTagWorkOneIn == 0) {
    const int work = (bits >> 5) & 3;
    p.newTag = work != 1;
    p.reindex = work == 1 || work == 2;
    p.descendingUnique = work == 3;
  }
  p.condition = !(bits & 128);
  p.victim = static_cast<unsigned char>(dbf[kPlanOffset + 1]);
  return p;
}

// Counts the locks refused to any opener. With lockTimeoutMs 0 a refusal costs no
// wait, but the check on open waits for the header and record locks: in this target
// only one opener changes anything at a time, so no lock may ever be refused.
class RefusalCountingFs : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  int refused = 0;

 protected:
  std::unique_ptr<File> Wrap(std::unique_ptr<File> file, const std::string&) override {
    return std::make_unique<CountingFile>(std::move(file), refused);
  }

 private:
  class CountingFile : public ForwardingFile {
   public:
    CountingFile(std::unique_ptr<File> inner, int& refused) : ForwardingFile(std::move(inner)), refused_(refused) {}
    bool TryLock(std::uint64_t offset, std::uint64_t length, LockKind kind) override {
      const bool ok = ForwardingFile::TryLock(offset, length, kind);
      if (!ok) ++refused_;
      return ok;
    }

   private:
    int& refused_;
  };
};

void Walk(Table& t, bool readFields) {
  std::uint32_t n = 0;
  for (bool ok = t.GoTop(); ok && n < kMaxRecordsWalked; ok = t.Skip(1), ++n)
    if (readFields)
      for (std::size_t f = 0; f < t.Fields().size(); ++f) t.FieldText(static_cast<int>(f));
}

void Read(Table& t, const Plan& plan) {
  Walk(t, true);
  t.CountVisible();
  if (plan.filter != 0) {
    try {
      t.SetFilter(kFilters[plan.filter - 1]);
      t.CountVisible();
      t.GoBottom();
      t.Skip(-1);
    } catch (const DbError&) {
    }
    t.SetFilter("");
  }
  const int orders = std::min(static_cast<int>(t.Tags().size()), kMaxOrdersWalked);
  for (int order = 1; order <= orders; ++order) {
    t.SetOrder(order);
    Walk(t, false);
    t.Seek("A");
    t.CountVisible();
  }
  t.SetOrder(0);
}

// Appends a record, changes its key, and deletes and recalls one chosen by the plan; a
// text too long for its field must leave the record as it was.
void Change(Table& t, const Plan& plan) {
  const std::size_t width = static_cast<std::size_t>(t.Fields()[0].width);
  std::string rec = t.BlankRecord();
  const std::string blank = rec;
  try {
    t.SetFieldText(rec, 0, std::string(width + 1, 'x'));
  } catch (const DbError&) {
  }
  if (rec != blank) {
    std::fprintf(stderr, "dbf_fuzz: a text longer than its field was put into the record\n");
    std::abort();
  }
  t.SetFieldText(rec, 0, std::string_view("Fuzz").substr(0, width));
  const std::uint32_t recno = t.Append(rec);
  t.SetFieldText(rec, 0, std::string_view("Zapped").substr(0, width));
  t.Update(recno, rec);
  const std::uint32_t victim = 1 + plan.victim % recno;
  t.Delete(victim);
  t.Recall(victim);
}

// Building a tag sorts every key, and Reindex does so for every tag.
void WorkOnTags(Table& t, const Plan& plan) {
  if (plan.newTag) {
    const std::string key = t.Fields()[0].name;
    t.IndexTag({"FZ", key, plan.condition ? ".not. deleted()" : "", plan.descendingUnique, plan.descendingUnique});
    t.CheckIndex();
  }
  if (plan.reindex) {
    t.Reindex();
    t.CheckIndex();
  }
}

void Exercise(FileSystem& fs, const Plan& plan) {
  TableOptions o;
  o.fs = &fs;
  o.lockTimeoutMs = 0;
  o.today = [] { return DbfDate{2026, 12, 8}; };
  if (!plan.checkOnOpen) o.checkIndexOnOpenBytes = 0;
  TableOptions first = o;
  if (plan.readOnly) first.mode = ShareMode::kReadOnly;
  auto t = Table::Open("F.DBF", first);
  Read(*t, plan);
  if (!t->Writable()) return;
  Change(*t, plan);
  // A second opener checks what the first wrote (and mended, if it found damage).
  if (plan.secondOpener) Table::Open("F.DBF", o)->CheckIndex();
  WorkOnTags(*t, plan);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  MemoryFileSystem memory;
  RefusalCountingFs fs(memory);
  const std::size_t sep = input.find(kSeparator);
  const std::string_view dbf = input.substr(0, sep);
  memory.Bytes("F.DBF") = std::string(dbf);
  if (sep != std::string_view::npos) memory.Bytes("F.CDX") = std::string(input.substr(sep + kSeparator.size()));
  const Plan plan = ReadPlan(input, dbf);
  try {
    if (plan.repairCount) Table::RepairRecordCount("F.DBF", TableOptions{.fs = &fs});
  } catch (const DbError&) {
  }
  try {
    Exercise(fs, plan);
  } catch (const DbError&) {
  }
  if (fs.refused != 0) {
    std::fprintf(stderr, "dbf_fuzz: %d lock(s) refused with no other change under way\n", fs.refused);
    std::abort();
  }
  return 0;
}
