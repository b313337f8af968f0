// Contacts import benchmark: a million-row contact file into an empty phone book, as
// `dbftool import` and the browser's drop do it, beside the engine's own append and
// tag build of the same records measured in the same run, and beside appending them
// key by key (how imports went before the batch).
//
//   contacts_bench [rows] [directory] [--no-key-by-key]
//
// Then what decides between the two ways for imports joining a large phone book: the
// cost of one key-by-key append against one record's share of a batch, both measured
// here, beside the ratio the import uses.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bench/table/random_names.hpp"
#include "dbengine/table.hpp"
#include "phonebook/contacts.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using vz::db::ShareMode;
using vz::db::Table;
using vz::db::TableOptions;
namespace pb = vz::phonebook;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

void Line(const char* what, double seconds, const char* note = "") {
  std::printf("%-58s %9.3f s  %s\n", what, seconds, note);
  std::fflush(stdout);
}

TableOptions Options(ShareMode mode) {
  TableOptions o;
  o.mode = mode;
  return o;
}

const vz::db::IndexTagSpec kNameTag{"NAME", "NAME", ".not. deleted()", false, false};

void NewPhoneBook(const std::string& path) {
  std::filesystem::remove(path);
  std::filesystem::remove(Table::ProductionIndexPath(path));
  Table::Create(path, {{"NAME", 'C', 35, 0, 0}, {"PHONE", 'C', 25, 0, 0}}, Options(ShareMode::kShared));
  Table::Open(path, Options(ShareMode::kShared))->IndexTag(kNameTag);
}

// A spreadsheet's "CSV UTF-8": a byte order mark, a header, quoted "Last, First"
// names, one in eight with an umlaut.
std::string MakeCsv(std::uint32_t rows) {
  std::mt19937_64 rng(20261209);
  std::string csv = "\xEF\xBB\xBF" "Name,Fax\r\n";
  csv.reserve(rows * 48u);
  for (std::uint32_t i = 0; i < rows; ++i) {
    std::string name = vz::bench::RandomName(rng);
    if (rng() % 8 == 0) name += " M\xC3\xBCller";
    csv += '"' + name + "\",+49 " + std::to_string(30000000 + i) + "\r\n";
  }
  return csv;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Import {
  double read = 0, parse = 0, plan = 0, apply = 0;
  pb::ImportSummary summary;
  double Total() const { return read + parse + plan + apply; }
};

Import RunImport(const std::string& book, const std::string& file) {
  Import r;
  const pb::Windows1252 cp;
  const auto t0 = Clock::now();
  const std::string bytes = ReadFile(file);
  const auto t1 = Clock::now();
  const pb::ContactsRead read = pb::ReadContacts(bytes, file, cp);
  const auto t2 = Clock::now();
  auto table = Table::Open(book, Options(ShareMode::kShared));
  const pb::ImportPlan plan = pb::PlanImport(*table, read, {}, cp);
  const auto t3 = Clock::now();
  r.summary = pb::ApplyImport(*table, plan);
  const auto t4 = Clock::now();
  r.read = Seconds(t0, t1);
  r.parse = Seconds(t1, t2);
  r.plan = Seconds(t2, t3);
  r.apply = Seconds(t3, t4);
  return r;
}

// The same records as the import makes them, for the engine's own phases.
std::vector<std::string> RecordsOf(const std::string& file, const std::string& book) {
  const pb::Windows1252 cp;
  auto table = Table::Open(book, Options(ShareMode::kShared));
  return pb::PlanImport(*table, pb::ReadContacts(ReadFile(file), file, cp), {}, cp).records;
}

int Bench(std::uint32_t rows, const std::filesystem::path& dir, bool keyByKey) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "contacts.csv").string();
  const std::string book = (dir / "VZPB.DBF").string();
  {
    std::ofstream out(file, std::ios::binary);
    const std::string csv = MakeCsv(rows);
    out.write(csv.data(), static_cast<std::streamsize>(csv.size()));
  }
  std::printf("%u contacts (CSV UTF-8, %.1f MB) into an empty phone book, in %s\n\n", rows,
              static_cast<double>(std::filesystem::file_size(file)) / 1e6, dir.string().c_str());

  NewPhoneBook(book);
  const std::vector<std::string> records = RecordsOf(file, book);

  // The engine alone: the records appended to a table without an index, then the tag.
  std::filesystem::remove(Table::ProductionIndexPath(book));
  Table::Create(book, {{"NAME", 'C', 35, 0, 0}, {"PHONE", 'C', 25, 0, 0}}, Options(ShareMode::kExclusive));
  double engineAppend = 0, engineTag = 0;
  {
    auto t = Table::Open(book, Options(ShareMode::kExclusive));
    const auto t0 = Clock::now();
    for (const auto& rec : records) t->Append(rec);
    t->Flush();
    const auto t1 = Clock::now();
    t->IndexTag(kNameTag);
    engineAppend = Seconds(t0, t1);
    engineTag = Seconds(t1, Clock::now());
  }
  Line("baseline: the engine's own append (exclusive, no index)", engineAppend);
  Line("baseline: the engine's own tag build (scan, sort, pack)", engineTag);
  Line("baseline: the two together", engineAppend + engineTag);

  NewPhoneBook(book);
  const Import imp = RunImport(book, file);
  if (imp.summary.added != rows || imp.summary.stopped) {
    std::printf("the import added %zu of %u\n", imp.summary.added, rows);
    return 1;
  }
  Line("import: read the file", imp.read);
  Line("import: decode, parse, convert to the code page", imp.parse);
  Line("import: plan (fields' widths, duplicates)", imp.plan);
  Line(imp.summary.bulk ? "import: append as a batch, tag NAME built again" : "import: append key by key", imp.apply);
  char note[96];
  std::snprintf(note, sizeof note, "target <= 5 s; %.2f x the engine's append + tag build",
                imp.Total() / (engineAppend + engineTag));
  Line("import: the whole", imp.Total(), note);

  if (keyByKey) {
    NewPhoneBook(book);
    auto t = Table::Open(book, Options(ShareMode::kShared));
    const auto t0 = Clock::now();
    for (const auto& rec : records) t->Append(rec);
    t->Flush();
    const double s = Seconds(t0, Clock::now());
    std::snprintf(note, sizeof note, "%.1f x the import", s / imp.Total());
    Line("before: the same records appended key by key (shared)", s, note);
  }

  // The choice for imports joining a full phone book: a key-by-key append into it
  // against one record's share of a batch into it.
  {
    const std::uint32_t few = 1000;
    std::vector<std::string> more(records.begin(), records.begin() + few);
    for (auto& rec : more) rec[1] = 'Q';  // new names, none a duplicate
    // The batch measured is the one that builds the tag again, whatever its size.
    vz::db::TableOptions o = Options(ShareMode::kShared);
    o.batchIndexing = vz::db::BatchIndexing::kRebuild;
    auto t = Table::Open(book, o);
    const std::uint32_t existing = t->RecordCount();
    auto t0 = Clock::now();
    for (const auto& rec : more) t->Append(rec);
    t->Flush();
    const double perKey = Seconds(t0, Clock::now()) / few;
    for (auto& rec : more) rec[1] = 'R';
    Table::BatchProgress progress;
    t0 = Clock::now();
    t->AppendBatch(more, progress);
    const double perBatchRecord = Seconds(t0, Clock::now()) / (existing + few + few);
    std::printf("\n%-58s %9.1f us\n", "one append key by key into the full phone book", perKey * 1e6);
    std::printf("%-58s %9.3f us\n", "one record's share of a batch into it", perBatchRecord * 1e6);
    std::printf("%-58s %9.0f   (the import uses %llu)\n", "ratio: batch is quicker from adding/(existing+adding) >=",
                perBatchRecord > 0 ? perKey / perBatchRecord : 0.0,
                static_cast<unsigned long long>(pb::kKeyUpdateCostInBatchRecords));
  }
  std::filesystem::remove_all(dir);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  bool keyByKey = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--no-key-by-key")
      keyByKey = false;
    else if (arg.rfind("--", 0) == 0) {
      std::fprintf(stderr, "usage: contacts_bench [rows] [directory] [--no-key-by-key]\n");
      return 2;
    } else {
      positional.push_back(arg);
    }
  }
  const std::uint32_t rows =
      positional.size() > 0 ? static_cast<std::uint32_t>(std::strtoul(positional[0].c_str(), nullptr, 10)) : 1000000;
  const std::filesystem::path dir = positional.size() > 1 ? std::filesystem::path(positional[1])
                                                          : std::filesystem::temp_directory_path() / "vz_contacts_bench";
  return Bench(rows, dir, keyByKey);
}
