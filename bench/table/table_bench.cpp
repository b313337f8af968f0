// Table benchmark: one million records of random names in a phone book table on disk,
// through the table engine as the phone book uses it. Two workloads:
//   own        syllable names, 5% deleted before the tag is built, the phone book's steps;
//   reference  the workload an independent xBase engine was measured on (random letters,
//              every 10th record deleted with the tag maintained), beside physical
//              baselines measured in the same run (bare writes, reads and a sort).
// Prints each figure beside its reference (that engine on the same kind of machine) and
// the ratio ours / reference (below 1 is faster), and the target where there is one.
// A third, durable, takes 10,000 durable shared appends to the reference workload in
// turns with the independent engine's own benchmark, three rounds, and prints medians.
//
//   table_bench [--workload own|reference|both|durable] [records] [directory]   (default both)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/table/random_names.hpp"
#include "bench/table/reference_workload.hpp"
#include "dbengine/table.hpp"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
using vz::db::ShareMode;
using vz::db::Table;
using vz::db::TableOptions;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

void Report(const char* what, double value, const char* unit, double reference, const char* target) {
  std::printf("%-48s %12.3f %-3s", what, value, unit);
  if (reference > 0) std::printf("  reference %8.3f  ratio %5.2f", reference, value / reference);
  if (target) std::printf("  target %s", target);
  std::printf("\n");
  std::fflush(stdout);
}

// Resident memory now (from /proc) and at its peak so far.
void Memory(const char* when) {
#ifndef _WIN32
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  std::printf("%-48s %12.1f MB  (peak so far %.1f MB)\n", (std::string("resident memory after ") + when).c_str(),
              static_cast<double>(resident) * 4096.0 / 1e6, static_cast<double>(ru.ru_maxrss) / 1024.0);
#else
  (void)when;
#endif
}

using vz::bench::RandomName;

TableOptions Options(ShareMode mode) {
  TableOptions o;
  o.mode = mode;
  return o;
}

}  // namespace

int RunOwn(std::uint32_t n, const std::filesystem::path& dir) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "VZPB.DBF").string();
  std::mt19937_64 rng(20261208);
  std::printf("own workload: %u records (NAME C 35, PHONE C 25), syllable names, about 5%% marked deleted, in %s\n"
              "(its references were measured on the reference workload below, not on this one)\n",
              n, dir.string().c_str());

  // 1. Appending the records (the table alone, no index yet).
  Table::Create(path, {{"NAME", 'C', 35, 0, 0}, {"PHONE", 'C', 25, 0, 0}}, Options(ShareMode::kExclusive));
  std::vector<std::string> probes;
  {
    auto t = Table::Open(path, Options(ShareMode::kExclusive));
    std::string rec;
    const auto t0 = Clock::now();
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::string name = RandomName(rng);
      rec = t->BlankRecord();
      t->SetFieldText(rec, 0, name);
      t->SetFieldText(rec, 1, "+49 " + std::to_string(100000 + i));
      const bool deleted = rng() % 20 == 0;
      if (deleted) rec[0] = '*';
      t->Append(rec);
      if (!deleted && probes.size() < 10000 && rng() % 50 == 0) probes.push_back(name);
    }
    Report("append (exclusive, no index)", Seconds(t0, Clock::now()), "s", 2.4, nullptr);
  }
  Memory("append");

  // 2. Building the tag from all records.
  {
    auto t = Table::Open(path, Options(ShareMode::kExclusive));
    const auto t0 = Clock::now();
    t->IndexTag({"NAME", "NAME", ".not. deleted()", false, false});
    Report("build the NAME tag (scan, sort, pack)", Seconds(t0, Clock::now()), "s", 0.48, "<= 0.4 s");
  }
  Memory("tag build");
#ifndef _WIN32
  {
    // Nothing before the build comes near this much, so the peak so far is the build's.
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const double keysMb = 39.0 * n / 1e6;
    std::printf("%-48s %12.1f MB  (the keys alone, (35 + 4) x records: %.1f MB; ratio %.2f)\n",
                "peak resident memory of the tag build", static_cast<double>(ru.ru_maxrss) / 1024.0, keysMb,
                static_cast<double>(ru.ru_maxrss) / 1024.0 / keysMb);
  }
#endif
  std::printf("%-48s %12.1f MB\n", "index file size",
              static_cast<double>(std::filesystem::file_size(dir / "VZPB.CDX")) / 1e6);

  // 3. Opening shared in name order with the phone book's filter, and counting.
  std::unique_ptr<Table> t;
  std::uint64_t visible = 0;
  {
    const auto t0 = Clock::now();
    t = Table::Open(path, Options(ShareMode::kShared));
    t->SetOrder(t->TagOrder("NAME"));
    t->SetFilter(".not. deleted()");
    const auto t1 = Clock::now();
    visible = t->CountVisible();
    const auto t2 = Clock::now();
    Report("open shared + order + filter + count", Seconds(t0, t2), "s", 6.8, nullptr);
    Report("  of which the count through the tag", Seconds(t1, t2) * 1e3, "ms", 0, "well under 10 ms");
    const auto t3 = Clock::now();
    const std::uint64_t again = t->CountVisible();
    Report("  count again (pages cached)", Seconds(t3, Clock::now()) * 1e3, "ms", 0, nullptr);
    if (again != visible) return 1;
  }
  Memory("shared open and count");
  std::printf("%-48s %12llu\n", "visible records", static_cast<unsigned long long>(visible));

  // 4. Seeks of existing names, each a complete shared-mode lookup that lands on the record.
  {
    std::size_t found = 0;
    const auto t0 = Clock::now();
    for (const auto& p : probes) found += t->Seek(p) ? 1 : 0;
    const double us = Seconds(t0, Clock::now()) / static_cast<double>(probes.size()) * 1e6;
    Report("seek (shared, record read and checked)", us, "us", 19, "< 10 us");
    if (found != probes.size()) {
      std::printf("seek found %zu of %zu\n", found, probes.size());
      return 1;
    }
  }
  Memory("seeks");

  // 5. Shared appends with the tag kept up to date.
  {
    const int appends = 10000;
    std::vector<std::string> recs;
    for (int i = 0; i < appends; ++i) {
      std::string rec = t->BlankRecord();
      t->SetFieldText(rec, 0, RandomName(rng));
      t->SetFieldText(rec, 1, "+1 " + std::to_string(i));
      recs.push_back(std::move(rec));
    }
    const auto t0 = Clock::now();
    for (const auto& rec : recs) t->Append(rec);
    const double s = Seconds(t0, Clock::now());
    Report("10,000 shared appends with the tag", s, "s", 4.2, nullptr);
    Report("  appends per second", appends / s, "/s", 10000 / 4.2, ">= 5,000 /s");
    if (t->CountVisible() != visible + appends) return 1;
  }
  Memory("shared appends");
  t.reset();

  // 6. Durable appends (each on the device before it returns, as the phone book posts)
  // beside appends flushed once at the end (as a bulk import), side by side.
  {
    const int appends = 300;
    auto timed = [&](bool durable) {
      TableOptions o = Options(ShareMode::kShared);
      o.durable = durable;
      auto d = Table::Open(path, o);
      std::string rec = d->BlankRecord();
      d->SetFieldText(rec, 0, RandomName(rng));
      const auto t0 = Clock::now();
      for (int i = 0; i < appends; ++i) d->Append(rec);
      if (!durable) d->Flush();
      return Seconds(t0, Clock::now());
    };
    const double durable = timed(true);
    const double once = timed(false);
    Report("300 durable appends (each synced)", durable * 1e3, "ms", 0, nullptr);
    Report("300 appends, one flush at the end", once * 1e3, "ms", 0, nullptr);
    std::printf("%-48s %12.2f\n", "  ratio durable / one flush", durable / once);
  }
  std::filesystem::remove_all(dir);
  return 0;
}

int Usage() {
  std::fprintf(stderr, "usage: table_bench [--workload own|reference|both|durable] [records] [directory]\n");
  return 2;
}

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--walk-only") return vz::bench::RunWalkOnly(argv[2]);
  std::string workload = "both";
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--workload" && i + 1 < argc)
      workload = argv[++i];
    else if (arg.rfind("--workload=", 0) == 0)
      workload = arg.substr(11);
    else if (arg.rfind("--", 0) == 0)
      return Usage();
    else
      positional.push_back(arg);
  }
  if (workload != "own" && workload != "reference" && workload != "both" && workload != "durable") return Usage();
  const std::uint32_t n =
      positional.size() > 0 ? static_cast<std::uint32_t>(std::strtoul(positional[0].c_str(), nullptr, 10)) : 1000000;
  const std::filesystem::path dir = positional.size() > 1 ? std::filesystem::path(positional[1])
                                                          : std::filesystem::temp_directory_path() / "vz_table_bench";
  if (workload == "durable") return vz::bench::RunDurableTurns(n, dir, 3);
  int rc = 0;
  if (workload != "reference") rc = RunOwn(n, dir);
  if (rc == 0 && workload != "own") {
    if (workload == "both") std::printf("\n");
    rc = vz::bench::RunReferenceWorkload(n, dir);
  }
  return rc;
}
