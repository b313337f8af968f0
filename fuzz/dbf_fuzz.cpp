// libFuzzer target for the table reader and writer: the input is a DBF file, or a
// DBF file and its production CDX joined by the 8 bytes "VZCDXSEP". The table is
// opened from memory, read in every way the phone book reads it, and, when it opens
// writable, changed and indexed; some have their record count mended first. Refusals (DbError) are fine; crashes, sanitizer
// reports and hangs are not.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "dbengine/filesystem.hpp"
#include "dbengine/table.hpp"

namespace {

using namespace vz::db;

constexpr std::string_view kSeparator = "VZCDXSEP";
constexpr std::uint32_t kMaxRecordsWalked = 2000;

void Exercise(MemoryFileSystem& fs, bool buildIndex) {
  TableOptions o;
  o.fs = &fs;
  o.lockTimeoutMs = 0;
  o.today = [] { return DbfDate{2026, 12, 8}; };
  auto t = Table::Open("F.DBF", o);
  std::uint32_t n = 0;
  for (bool ok = t->GoTop(); ok && n < kMaxRecordsWalked; ok = t->Skip(1), ++n)
    for (std::size_t f = 0; f < t->Fields().size(); ++f) t->FieldText(static_cast<int>(f));
  t->CountVisible();
  for (const char* e : {".not. deleted()", "UPPER(TRIM(NAME)) = 'A'", "SUBSTR(NAME, 2, 3) $ 'abc'"}) {
    try {
      t->SetFilter(e);
      t->CountVisible();
      t->GoBottom();
      t->Skip(-1);
    } catch (const DbError&) {
    }
  }
  t->SetFilter("");
  for (int order = 1; order <= static_cast<int>(t->Tags().size()); ++order) {
    t->SetOrder(order);
    n = 0;
    for (bool ok = t->GoTop(); ok && n < kMaxRecordsWalked; ok = t->Skip(1), ++n) {
    }
    t->Seek("A");
    t->CountVisible();
  }
  t->SetOrder(0);
  if (!t->Writable()) return;
  std::string rec = t->BlankRecord();
  t->SetFieldText(rec, 0, "Fuzz");
  const std::uint32_t recno = t->Append(rec);
  t->Update(recno, rec);
  t->Delete(1);
  t->Recall(1);
  // A second opener checks what the first wrote (and mended, if it found damage).
  Table::Open("F.DBF", o)->CheckIndex();
  // Building an index sorts every key: done for a quarter of the inputs only, so the
  // run spends its time on the reader.
  if (!buildIndex) return;
  const std::string key = t->Fields()[0].name;
  t->IndexTag({"FZ", key, ".not. deleted()", false, false});
  t->CheckIndex();
  t->Reindex();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  MemoryFileSystem fs;
  const std::size_t sep = input.find(kSeparator);
  fs.Bytes("F.DBF") = std::string(input.substr(0, sep));
  if (sep != std::string_view::npos) fs.Bytes("F.CDX") = std::string(input.substr(sep + kSeparator.size()));
  try {
    // A third of the inputs first have their record count mended.
    if (size % 3 == 0) Table::RepairRecordCount("F.DBF", TableOptions{.fs = &fs});
  } catch (const DbError&) {
  }
  try {
    Exercise(fs, size % 4 == 0);
  } catch (const DbError&) {
  }
  return 0;
}
