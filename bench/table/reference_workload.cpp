// The reference workload: N records of random-letter names appended to a new phone
// book, the NAME tag built, every 10th record deleted with the tag maintained, a
// filtered walk in name order, seeks and shared appends (durable and not). Each bulk
// phase is set beside a physical baseline of the same bytes measured in the same run
// (a bare sequential write, a sort of the same keys, a bare read), whose ratio travels
// between machines better than seconds do.
#include "bench/table/reference_workload.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "bench/table/random_names.hpp"
#include "dbengine/file.hpp"
#include "dbengine/filesystem.hpp"
#include "dbengine/table.hpp"

namespace vz::bench {

namespace {

using Clock = std::chrono::steady_clock;
using db::ShareMode;
using db::Table;
using db::TableOptions;

constexpr std::size_t kChunk = 64 * 1024;
constexpr int kSeeks = 10000;
constexpr int kSharedAppends = 10000;

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// One phase: our figure, its physical baseline (0: none), the independent engine's
// median range (0: none) and the target.
void Line(const char* what, double value, const char* unit, double baseline, double refLow, double refHigh,
          const char* target) {
  std::printf("%-44s %10.3f %-2s", what, value, unit);
  if (baseline > 0)
    std::printf("  baseline %8.3f %-2s x%6.2f", baseline, unit, value / baseline);
  else
    std::printf("  %28s", "");
  if (refLow > 0) {
    const double mid = (refLow + refHigh) / 2;
    if (refHigh > refLow)
      std::printf("  reference %.3g-%.3g  ratio %4.2f", refLow, refHigh, value / mid);
    else
      std::printf("  reference %.3g  ratio %4.2f", refLow, value / mid);
  }
  if (target) std::printf("  target %s", target);
  std::printf("\n");
  std::fflush(stdout);
}

// Counts the device syncs asked for through the files it opens.
class SyncCounter : public db::ForwardingFileSystem {
 public:
  SyncCounter() : ForwardingFileSystem(db::HostFileSystem()) {}
  std::uint64_t Syncs() const { return syncs_; }

 protected:
  std::unique_ptr<db::File> Wrap(std::unique_ptr<db::File> file, const std::string&) override {
    return std::make_unique<Counted>(std::move(file), syncs_);
  }

 private:
  class Counted : public db::ForwardingFile {
   public:
    Counted(std::unique_ptr<db::File> inner, std::uint64_t& syncs) : ForwardingFile(std::move(inner)), syncs_(syncs) {}
    void Flush() override {
      ++syncs_;
      ForwardingFile::Flush();
    }

   private:
    std::uint64_t& syncs_;
  };
  std::uint64_t syncs_ = 0;
};

TableOptions Mode(ShareMode mode, db::FileSystem* fs = nullptr, bool durable = false) {
  TableOptions o;
  o.mode = mode;
  o.fs = fs;
  o.durable = durable;
  return o;
}

std::string ReadWhole(const std::string& path) {
  auto f = db::OpenHostFile(path, db::OpenMode::kReadOnly);
  std::string bytes(f->Size(), '\0');
  bytes.resize(f->ReadAt(0, bytes.data(), bytes.size()));
  return bytes;
}

// Baseline: the bytes written sequentially in 64 KB pieces to a new file.
double BareWrite(const std::string& bytes, const std::string& path) {
  const auto t0 = Clock::now();
  {
    auto f = db::OpenHostFile(path, db::OpenMode::kCreate);
    for (std::size_t at = 0; at < bytes.size(); at += kChunk)
      f->WriteAt(at, bytes.data() + at, std::min(kChunk, bytes.size() - at));
  }
  const double s = Since(t0);
  std::filesystem::remove(path);
  return s;
}

// Baseline: the file read sequentially in 64 KB pieces.
double BareRead(const std::string& path) {
  const auto t0 = Clock::now();
  auto f = db::OpenHostFile(path, db::OpenMode::kReadOnly);
  std::vector<char> buf(kChunk);
  for (std::uint64_t at = 0;; at += kChunk)
    if (f->ReadAt(at, buf.data(), buf.size()) < kChunk) break;
  return Since(t0);
}

// Baseline of the durable appends: the device syncs of this machine, each after a
// small append to a scratch file, taken in turns with the appends (their speed varies
// with others' use of the disk from one minute to the next).
class BareSyncs {
 public:
  explicit BareSyncs(const std::string& path) : path_(path), file_(db::OpenHostFile(path, db::OpenMode::kCreate)) {}
  ~BareSyncs() {
    file_.reset();
    std::filesystem::remove(path_);
  }
  double Time(int n) {
    const std::string bytes(62, 'x');
    const auto t0 = Clock::now();
    for (int i = 0; i < n; ++i) {
      file_->WriteAt(at_, bytes.data(), bytes.size());
      at_ += bytes.size();
      file_->Flush();
    }
    return Since(t0);
  }

 private:
  std::string path_;
  std::unique_ptr<db::File> file_;
  std::uint64_t at_ = 0;
};

// Baseline of the tag build: std::sort of the same keys (35 bytes and a record number
// each), then a bare write of the index's bytes.
double SortAndWrite(const std::vector<std::string>& names, const std::string& indexBytes, const std::string& path) {
  struct Entry {
    std::array<char, 35> key;
    std::uint32_t recno;
  };
  std::vector<Entry> keys(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    keys[i].key.fill(' ');
    std::memcpy(keys[i].key.data(), names[i].data(), std::min<std::size_t>(names[i].size(), 35));
    keys[i].recno = static_cast<std::uint32_t>(i + 1);
  }
  const auto t0 = Clock::now();
  std::sort(keys.begin(), keys.end(), [](const Entry& a, const Entry& b) {
    const int c = std::memcmp(a.key.data(), b.key.data(), 35);
    return c != 0 ? c < 0 : a.recno < b.recno;
  });
  const double sorted = Since(t0);
  return sorted + BareWrite(indexBytes, path);
}

// Resident and peak resident memory in MB (Linux); the peak can be started afresh.
double StatusMb(const char* field) {
  double kb = 0;
  if (FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    const std::size_t len = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
      if (std::strncmp(line, field, len) == 0) kb = std::atof(line + len + 1);
    std::fclose(f);
  }
  return kb / 1024.0;
}

void RestartPeak() {
  if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);
    std::fclose(f);
  }
}

std::string Phone(std::uint32_t i) { return "+49 " + std::to_string(1000000 + i); }

// A program of the independent engine, when its folder lies beside the project (or
// VZ_XBASE_ANCHOR names the folder); empty when it is not there.
std::string AnchorProgram(const char* name) {
  const char* env = std::getenv("VZ_XBASE_ANCHOR");
  const std::filesystem::path folder = env && *env ? std::filesystem::path(env)
                                                   : std::filesystem::path(VZ_SOURCE_ROOT) / ".." / "shared" /
                                                         "xbase-anchor";
  const std::filesystem::path program = folder / "bin" / name;
  return std::filesystem::exists(program) ? program.string() : std::string();
}

// The independent engine's figures for the same workload, measured in this run by its
// benchmark without syncs (the phases compared here make none); zero when it is not
// there or failed.
struct AnchorFigures {
  double appendS = 0;
  double walkS = 0;
};

AnchorFigures AnchorWithoutSyncs(std::uint32_t n, const std::filesystem::path& dir) {
  AnchorFigures f;
  const std::string bench = AnchorProgram("bench_nohc");
  if (bench.empty()) {
    std::printf("the independent engine (../shared/xbase-anchor/bin/bench_nohc) is not there: its figures are "
                "those measured before\n");
    return f;
  }
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string command = "'" + bench + "' " + std::to_string(n) + " '" + dir.string() + "' 2>&1";
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    if (::pclose(p) != 0) out.clear();
  }
  std::filesystem::remove_all(dir);
  auto figure = [&](const std::string& key) {
    const auto at = out.find(key + "=");
    return at == std::string::npos ? 0.0 : std::atof(out.c_str() + at + key.size() + 1) / 1e3;
  };
  f.appendS = figure("append_ms");
  f.walkS = figure("open_filter_count_ms");
  std::printf("independent engine, same run (bench_nohc): append %.3f s, open shared, order, filter, count %.3f s\n",
              f.appendS, f.walkS);
  return f;
}

// The walk again in a process of its own, for its peak memory alone.
void WalkInOwnProcess(const std::string& path) {
#ifdef _WIN32
  (void)path;
#else
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string command = "'" + self + "' --walk-only '" + path + "' 2>&1";
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    ::pclose(p);
  }
  std::printf("  the walk in a process of its own: %s", out.empty() ? "failed\n" : out.c_str());
#endif
}

// Peak memory of the whole process so far, in MB (getrusage).
double ProcessPeakMb() {
#ifndef _WIN32
  struct rusage u {};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
#else
  return 0;
#endif
}

}  // namespace

int RunReferenceWorkload(std::uint32_t n, const std::filesystem::path& dir) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "VZPB.DBF").string();
  const std::string scratch = (dir / "BASELINE.BIN").string();
  std::mt19937_64 rng(20261209);
  std::vector<std::string> names(n);
  for (auto& name : names) name = RandomLetterName(rng);
  std::printf("reference workload: %u records (NAME C 35, PHONE C 25), random-letter names, in %s\n", n,
              dir.string().c_str());
  const AnchorFigures anchor = AnchorWithoutSyncs(n, dir / "anchor");

  // 1. Appends to a new phone book opened exclusively, no index.
  Table::Create(path, {{"NAME", 'C', 35, 0, 0}, {"PHONE", 'C', 25, 0, 0}}, Mode(ShareMode::kExclusive));
  {
    auto t = Table::Open(path, Mode(ShareMode::kExclusive));
    const auto t0 = Clock::now();
    std::string rec;
    for (std::uint32_t i = 0; i < n; ++i) {
      rec = t->BlankRecord();
      t->SetFieldText(rec, 0, names[i]);
      t->SetFieldText(rec, 1, Phone(i));
      t->Append(rec);
    }
    const double s = Since(t0);
    t.reset();
    const double bare = BareWrite(ReadWhole(path), scratch);
    if (anchor.appendS > 0)
      Line("append (exclusive, no index)", s, "s", bare, anchor.appendS, anchor.appendS, "<= 0.5 x, <= 30 x bare");
    else
      Line("append (exclusive, no index)", s, "s", bare, 2.47, 3.52, "<= 0.5 x, <= 30 x bare");
  }

  // 2. The NAME tag for .not. deleted().
  {
    auto t = Table::Open(path, Mode(ShareMode::kExclusive));
    const double before = StatusMb("VmRSS:");
    RestartPeak();
    const auto t0 = Clock::now();
    t->IndexTag({"NAME", "NAME", ".not. deleted()", false, false});
    const double s = Since(t0);
    const double peak = StatusMb("VmHWM:") - before;
    t.reset();
    const std::string indexBytes = ReadWhole(Table::ProductionIndexPath(path));
    Line("build tag NAME", s, "s", SortAndWrite(names, indexBytes, scratch), 0.59, 0.69, "<= 0.5 s");
    const double keysMb = 39.0 * n / (1024.0 * 1024.0);
    std::printf("%-44s %10.1f MB  bare keys (35 + 4 bytes each) %.1f MB  x%.2f  target < 1.5\n",
                "  memory of the build (peak over resident)", peak, keysMb, peak / keysMb);
  }

  // 3. Every 10th record deleted, the tag kept up to date.
  {
    auto t = Table::Open(path, Mode(ShareMode::kExclusive));
    const auto t0 = Clock::now();
    for (std::uint32_t r = 10; r <= n; r += 10) t->Delete(r);
    Line("delete every 10th record (tag maintained)", Since(t0), "s", 0, 2.12, 2.12, "<= 1.7 s");
  }

  // 4. Open shared, order NAME, the filter, and count the visible records by walking.
  std::unique_ptr<Table> t;
  const std::uint64_t expected = n - n / 10;
  {
    const double bare = BareRead(path);
    const double before = StatusMb("VmRSS:");
    RestartPeak();
    const auto t0 = Clock::now();
    t = Table::Open(path, Mode(ShareMode::kShared));
    t->SetOrder(t->TagOrder("NAME"));
    t->SetFilter(".not. deleted()");
    std::uint64_t walked = 0;
    for (bool ok = t->GoTop(); ok; ok = t->Skip(1)) ++walked;
    const double s = Since(t0);
    const double peak = StatusMb("VmHWM:") - before;
    const char* target = "<= 0.5 x, <= 100 x bare";
    if (anchor.walkS > 0)
      Line("open shared, order, filter, walk and count", s, "s", bare, anchor.walkS, anchor.walkS, target);
    else
      Line("open shared, order, filter, walk and count", s, "s", bare, 6.96, 7.72, target);
    std::printf("%-44s %10.1f MB  (process peak so far %.1f MB, getrusage)\n",
                "  memory of the walk (peak over resident)", peak, ProcessPeakMb());
    WalkInOwnProcess(path);
    if (walked != expected) {
      std::printf("walked %llu records, expected %llu\n", static_cast<unsigned long long>(walked),
                  static_cast<unsigned long long>(expected));
      return 1;
    }
  }

  // 5. The key count.
  {
    const auto t0 = Clock::now();
    const std::uint64_t count = t->CountVisible();
    Line("key count", Since(t0) * 1e3, "ms", 0, 0, 0, nullptr);
    if (count != expected) return 1;
  }

  // 6. Seeks of random names, every 10th of them deleted and so not found.
  {
    std::vector<std::uint32_t> recnos(kSeeks);
    for (auto& r : recnos) r = static_cast<std::uint32_t>(rng() % n) + 1;
    std::size_t found = 0, live = 0;
    const auto t0 = Clock::now();
    for (std::uint32_t r : recnos) found += t->Seek(names[r - 1]) ? 1 : 0;
    const double us = Since(t0) / kSeeks * 1e6;
    for (std::uint32_t r : recnos) live += r % 10 != 0 ? 1 : 0;
    Line("seek a random name", us, "us", 0, 16.5, 19.9, "< 10 us");
    std::printf("%-44s %10zu of %zu (%zu live)\n", "  found", found, recnos.size(), live);
    if (found < live) return 1;
  }
  t.reset();

  // 7. Shared appends with the tag open: durable (on the device before each returns),
  // then without syncs.
  std::vector<std::string> recs;
  {
    auto probe = Table::Open(path, Mode(ShareMode::kShared));
    for (int i = 0; i < 2 * kSharedAppends; ++i) {
      std::string rec = probe->BlankRecord();
      probe->SetFieldText(rec, 0, RandomLetterName(rng));
      probe->SetFieldText(rec, 1, Phone(n + static_cast<std::uint32_t>(i)));
      recs.push_back(std::move(rec));
    }
  }
  for (const bool durable : {true, false}) {
    SyncCounter fs;
    auto s = Table::Open(path, Mode(ShareMode::kShared, &fs, durable));
    const std::uint64_t syncsBefore = fs.Syncs();
    const std::size_t first = durable ? 0 : kSharedAppends;
    double secs = 0;
    double twoSyncs = 0;  // baseline: two bare syncs an append, as the reference engine makes
    BareSyncs bare(scratch);
    for (int done = 0; done < kSharedAppends;) {
      const int block = std::min(durable ? 500 : kSharedAppends, kSharedAppends - done);
      const auto t0 = Clock::now();
      for (int i = done; i < done + block; ++i) s->Append(recs[first + static_cast<std::size_t>(i)]);
      secs += Since(t0);
      if (durable) twoSyncs += bare.Time(2 * block);
      done += block;
    }
    const double syncs = static_cast<double>(fs.Syncs() - syncsBefore) / kSharedAppends;
    if (durable) {
      Line("10,000 durable shared appends (tag open)", secs, "s", twoSyncs, 3.92, 3.92, "<= 3.1 s");
      std::printf("%-44s %10.2f     reference 2  target <= 2  (baseline above: 2 bare syncs each)\n",
                  "  syncs per durable append", syncs);
    } else {
      Line("10,000 shared appends, no syncs (tag open)", secs, "s", 0, 0.457, 0.457, "<= 0.37 s");
      if (syncs != 0) std::printf("  unexpected syncs per append: %.2f\n", syncs);
    }
  }
  {
    auto check = Table::Open(path, Mode(ShareMode::kShared));
    check->SetOrder(check->TagOrder("NAME"));
    check->SetFilter(".not. deleted()");
    if (check->CountVisible() != expected + 2 * kSharedAppends) return 1;
  }
  std::filesystem::remove_all(dir);
  return 0;
}

namespace {

std::string AnchorBench() { return AnchorProgram("bench"); }

// Its whole workload over n records; returns its 10,000 shared appends (hard commit:
// two device syncs each) in seconds, or a negative figure when it failed.
double AnchorDurableAppends(const std::string& bench, std::uint32_t n, const std::filesystem::path& dir) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string command = "'" + bench + "' " + std::to_string(n) + " '" + dir.string() + "' 2>&1";
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    if (::pclose(p) != 0) return -1;
  }
  std::filesystem::remove_all(dir);
  const std::string key = "append10k_shared_indexed_ms=";
  const auto at = out.find(key);
  return at == std::string::npos ? -1 : std::atof(out.c_str() + at + key.size()) / 1e3;
}

struct DurableRound {
  double seconds = 0;
  double syncsPerAppend = 0;
};

// Ours on the same ground: n random-letter records appended exclusively, tag NAME,
// every 10th deleted; then 10,000 durable shared appends with the tag open.
DurableRound OurDurableAppends(std::uint32_t n, const std::filesystem::path& dir, std::uint64_t seed) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "VZPB.DBF").string();
  std::mt19937_64 rng(seed);
  Table::Create(path, {{"NAME", 'C', 35, 0, 0}, {"PHONE", 'C', 25, 0, 0}}, Mode(ShareMode::kExclusive));
  {
    auto t = Table::Open(path, Mode(ShareMode::kExclusive));
    for (std::uint32_t i = 0; i < n; ++i) {
      std::string rec = t->BlankRecord();
      t->SetFieldText(rec, 0, RandomLetterName(rng));
      t->SetFieldText(rec, 1, Phone(i));
      t->Append(rec);
    }
    t->IndexTag({"NAME", "NAME", ".not. deleted()", false, false});
    for (std::uint32_t r = 10; r <= n; r += 10) t->Delete(r);
    t->Flush();
  }
  SyncCounter fs;
  auto s = Table::Open(path, Mode(ShareMode::kShared, &fs, true));
  std::vector<std::string> recs;
  for (int i = 0; i < kSharedAppends; ++i) {
    std::string rec = s->BlankRecord();
    s->SetFieldText(rec, 0, RandomLetterName(rng));
    s->SetFieldText(rec, 1, Phone(n + static_cast<std::uint32_t>(i)));
    recs.push_back(std::move(rec));
  }
  const std::uint64_t before = fs.Syncs();
  const auto t0 = Clock::now();
  for (const std::string& rec : recs) s->Append(rec);
  DurableRound r;
  r.seconds = Since(t0);
  r.syncsPerAppend = static_cast<double>(fs.Syncs() - before) / kSharedAppends;
  s.reset();
  std::filesystem::remove_all(dir);
  return r;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int RunWalkOnly(const std::string& path) {
  const auto t0 = Clock::now();
  auto t = Table::Open(path, Mode(ShareMode::kShared));
  t->SetOrder(t->TagOrder("NAME"));
  t->SetFilter(".not. deleted()");
  std::uint64_t walked = 0;
  for (bool ok = t->GoTop(); ok; ok = t->Skip(1)) ++walked;
  const double s = Since(t0);
  std::printf("walked %llu in %.3f s, process peak %.1f MB\n", static_cast<unsigned long long>(walked), s,
              ProcessPeakMb());
  return 0;
}

int RunDurableTurns(std::uint32_t n, const std::filesystem::path& dir, int rounds) {
  const std::string anchor = AnchorBench();
  std::printf("durable shared appends in turns: %d rounds over %u records, in %s\n", rounds, n, dir.string().c_str());
  if (anchor.empty())
    std::printf("the independent engine (../shared/xbase-anchor/bin/bench) is not there: ours alone\n");
  std::vector<double> ours, theirs, syncs;
  for (int round = 1; round <= rounds; ++round) {
    const double other = anchor.empty() ? 0 : AnchorDurableAppends(anchor, n, dir / "anchor");
    if (other < 0) {
      std::printf("the independent engine's benchmark failed\n");
      return 1;
    }
    const DurableRound mine = OurDurableAppends(n, dir / "ours", 20261209 + static_cast<std::uint64_t>(round));
    ours.push_back(mine.seconds);
    syncs.push_back(mine.syncsPerAppend);
    if (!anchor.empty()) theirs.push_back(other);
    std::printf("round %d: ours %.3f s (%.2f syncs an append)", round, mine.seconds, mine.syncsPerAppend);
    if (!anchor.empty()) std::printf("  independent engine %.3f s (2 syncs an append, hard commit)", other);
    std::printf("\n");
    std::fflush(stdout);
  }
  std::printf("%-44s %10.3f s  syncs per append %.2f", "10,000 durable shared appends, median", Median(ours),
              Median(syncs));
  if (!theirs.empty())
    std::printf("  independent engine %.3f s  ratio %.2f  target <= 1", Median(theirs), Median(ours) / Median(theirs));
  std::printf("\n");
  return 0;
}

}  // namespace vz::bench
