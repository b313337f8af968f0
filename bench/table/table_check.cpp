// The engine's side of bench/table/anchor_check.sh: makes a phone book, appends to it
// and ends the process without closing, builds tag NAME, and walks in NAME order with
// a pause in which another program changes the table.
//
//   table_check create TABLE N    new table, N records appended exclusively, closed
//   table_check crash TABLE N     N records appended exclusively, the process ends unclosed
//   table_check index TABLE       tag NAME for .not. deleted(), every 10th record deleted
//   table_check walk TABLE SKIP   shared walk in NAME order: prints "at RECNO" after SKIP
//                                 records, waits for a line on stdin, then prints
//                                 "after COUNT", the records walked from there
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "dbengine/table.hpp"

namespace {

using vz::db::ShareMode;
using vz::db::Table;
using vz::db::TableOptions;

TableOptions Mode(ShareMode mode) {
  TableOptions o;
  o.mode = mode;
  return o;
}

void AppendNames(const std::string& path, unsigned n, unsigned seed) {
  auto t = Table::Open(path, Mode(ShareMode::kExclusive));
  std::mt19937 rng(seed);
  for (unsigned i = 0; i < n; ++i) {
    std::string name;
    for (unsigned len = 5 + rng() % 20; name.size() < len;) name += static_cast<char>('A' + rng() % 26);
    std::string rec = t->BlankRecord();
    t->SetFieldText(rec, 0, name);
    t->SetFieldText(rec, 1, std::to_string(i));
    t->Append(rec);
  }
  // A crash: what was collected for the next run never reaches the file.
  if (seed == 2) std::_Exit(0);
}

int Walk(const std::string& path, long skip) {
  auto t = Table::Open(path, Mode(ShareMode::kShared));
  t->SetOrder(t->TagOrder("NAME"));
  t->SetFilter(".not. deleted()");
  if (!t->GoTop() || !t->Skip(skip)) return 1;
  std::printf("at %u\n", t->RecNo());
  std::fflush(stdout);
  char line[16];
  if (!std::fgets(line, sizeof line, stdin)) return 1;
  unsigned long walked = 0;
  while (t->Skip(1)) ++walked;
  std::printf("after %lu\n", walked);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: table_check create|crash|index|walk TABLE [N]\n");
    return 2;
  }
  const std::string mode = argv[1];
  const std::string path = argv[2];
  const unsigned long n = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 0;
  try {
    if (mode == "create") {
      Table::Create(path, {{"NAME", 'C', 35, 0, 0}, {"PHONE", 'C', 25, 0, 0}}, Mode(ShareMode::kExclusive));
      AppendNames(path, static_cast<unsigned>(n), 1);
    } else if (mode == "crash") {
      AppendNames(path, static_cast<unsigned>(n), 2);
    } else if (mode == "index") {
      auto t = Table::Open(path, Mode(ShareMode::kExclusive));
      t->IndexTag({"NAME", "NAME", ".not. deleted()", false, false});
      for (std::uint32_t r = 10; r <= t->RecordCount(); r += 10) t->Delete(r);
    } else if (mode == "walk") {
      return Walk(path, static_cast<long>(n));
    } else {
      return 2;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "table_check: %s\n", e.what());
    return 1;
  }
  return 0;
}
