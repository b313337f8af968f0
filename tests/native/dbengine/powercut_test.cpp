// Power cuts while several openers share one phone book: two desks change it durably
// while a third opener rebuilds its index, in every order of their operations and with
// one operation falling in the middle of another. After every device flush the files
// as a power cut right then would leave them are read raw, opened by a writable opener
// of ours and read by independent xBase readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/bytes.hpp"
#include "dbengine/cdx.hpp"
#include "dbengine/cdx_page.hpp"
#include "dbengine/table.hpp"
#include "tests/native/dbengine/testutil.hpp"

namespace vz::db {
namespace {

using namespace test;
using Listing = std::vector<std::pair<std::uint32_t, std::string>>;
using Files = std::map<std::string, std::string>;

const std::string kTable = "VZPB.DBF";
const std::string kIndex = "VZPB.CDX";
constexpr int kActors = 3;  // two desks and the rebuilder
constexpr int kRebuilder = 2;
const char* const kActorNames[kActors] = {"A", "B", "C"};

// A record of the phone book followed through the run: one already there at the start,
// or one a desk appends. Its name may change.
struct Entry {
  std::string name;              // at the start, or as appended
  std::uint32_t startRecno = 0;  // its record at the start; 0: appended during the run
  bool deletedAtStart = false;
};

enum class Kind { kAppend, kAppendBatch, kUpdate, kDelete, kRecall, kReindex };

bool Appends(Kind k) { return k == Kind::kAppend || k == Kind::kAppendBatch; }

struct Op {
  int actor = 0;
  Kind kind = Kind::kAppend;
  int entry = -1;    // the record it appends or changes
  std::string name;  // update: the new name
};

// The phone book at the start and what each opener does to it.
struct Script {
  std::vector<Entry> entries;
  std::vector<Op> ops;  // each actor's operations in its own order
};

// The desks' operations cover each kind of durable change; the recall is left out
// where each operation is also run inside the others, to keep the runs few.
Script PhoneBookScript(bool withRecall) {
  Script s;
  s.entries = {{"Kim", 1}, {"Berg", 2}, {"Lund", 3}, {"Cole", 4, true}, {"Adams", 0}, {"Avery", 0}, {"Brown", 0}};
  s.ops = {
      {0, Kind::kAppend, 4, ""},          // A appends Adams,
      {0, Kind::kDelete, 4, ""},          // deletes that record again
      {0, Kind::kAppend, 5, ""},          // and appends Avery.
      {1, Kind::kAppendBatch, 6, ""},     // B appends Brown as a batch of one
      {1, Kind::kUpdate, 1, "Bergmann"},  // and renames Berg.
      {2, Kind::kReindex, -1, ""},        // C rebuilds the index.
  };
  if (withRecall) s.ops.push_back({1, Kind::kRecall, 3, ""});  // B recalls Cole.
  return s;
}

std::string Label(const Script& s, int opId) {
  const Op& op = s.ops[static_cast<std::size_t>(opId)];
  const std::string who = std::string(kActorNames[op.actor]) + " ";
  const std::string name = op.entry >= 0 ? s.entries[static_cast<std::size_t>(op.entry)].name : "";
  switch (op.kind) {
    case Kind::kAppend:
      return who + "appends " + name;
    case Kind::kAppendBatch:
      return who + "appends a batch of " + name;
    case Kind::kUpdate:
      return who + "renames " + name + " " + op.name;
    case Kind::kDelete:
      return who + "deletes " + name;
    case Kind::kRecall:
      return who + "recalls " + name;
    case Kind::kReindex:
      return who + "reindexes";
  }
  return who;
}

// Every order of the operations that keeps each actor's own order.
std::vector<std::vector<int>> AllOrders(const Script& s) {
  std::vector<std::vector<int>> queues(kActors);
  for (std::size_t i = 0; i < s.ops.size(); ++i)
    queues[static_cast<std::size_t>(s.ops[i].actor)].push_back(static_cast<int>(i));
  std::vector<std::vector<int>> out;
  std::vector<int> order;
  std::vector<std::size_t> next(kActors, 0);
  std::function<void()> extend = [&] {
    if (order.size() == s.ops.size()) {
      out.push_back(order);
      return;
    }
    for (std::size_t a = 0; a < kActors; ++a) {
      if (next[a] == queues[a].size()) continue;
      order.push_back(queues[a][next[a]++]);
      extend();
      --next[a];
      order.pop_back();
    }
  };
  extend();
  return out;
}

// One way of running the operations: in `order`, and optionally the operation after
// position `host` run from within the one at `host`, right after its `hostStep`-th
// write, truncation, flush or lock release.
struct Interleaving {
  std::vector<int> order;
  int host = -1;
  int hostStep = 0;
};

std::string Describe(const Script& s, const Interleaving& il) {
  std::string out;
  for (std::size_t i = 0; i < il.order.size(); ++i) {
    if (il.host >= 0 && static_cast<int>(i) == il.host + 1) continue;
    if (!out.empty()) out += ", ";
    out += Label(s, il.order[i]);
    if (il.host >= 0 && static_cast<int>(i) == il.host)
      out += " [within it, after its step " + std::to_string(il.hostStep) + ": " + Label(s, il.order[i + 1]) + "]";
  }
  return out;
}

// How a run starts.
struct Setup {
  // The index on the device was left marked half updated by another program.
  bool damagedIndex = false;
  // The rebuilder flushes its index to the device (as the desks do) or leaves it to
  // whoever flushes the file next.
  bool durableRebuilder = true;
};

// What became of one operation in a run. Flush numbers count the device flushes made
// before the operation started and when it returned.
struct Outcome {
  bool started = false;
  bool returned = false;
  bool skipped = false;  // it had no record to work on: the append it needs failed
  int startFlush = 0;
  int returnFlush = 0;
  std::uint32_t recno = 0;  // an append's record
  std::string error;
};

// The device and the three openers of one run.
class Run {
 public:
  Run(const Script& script, const Files& start, const Setup& setup) : script_(script), device_(mem_) {
    LoadFiles(mem_, start);
    for (const auto& [path, bytes] : start) device_.Open(path, OpenMode::kReadWrite)->Flush();
    for (int a = 0; a < kActors; ++a) {
      stepping_.push_back(std::make_unique<SteppingFileSystem>(device_, [this, a] { Stepped(a); }));
      TableOptions o = FixedDate(ShareMode::kShared, stepping_.back().get());
      o.durable = a != kRebuilder || setup.durableRebuilder;
      o.lockTimeoutMs = 0;          // a lock held by an operation under way is refused at once
      o.checkIndexOnOpenBytes = 0;  // the start is sound; the views' opener checks
      tables_.push_back(Table::Open(kTable, o));
    }
    if (setup.damagedIndex) MarkIndexInterrupted();
    start_ = device_.Flushes();
    outcomes_.resize(script_.ops.size());
  }

  void Play(const Interleaving& il) {
    for (std::size_t i = 0; i < il.order.size(); ++i) {
      if (il.host >= 0 && static_cast<int>(i) == il.host + 1) {
        if (!outcomes_[static_cast<std::size_t>(il.order[i])].started) Perform(il.order[i]);
        continue;
      }
      if (il.host >= 0 && static_cast<int>(i) == il.host) {
        const int guest = il.order[i + 1];
        armed_ = script_.ops[static_cast<std::size_t>(il.order[i])].actor;
        stepsLeft_ = il.hostStep;
        guest_ = [this, guest] { Perform(guest); };
      }
      Perform(il.order[i]);
      armed_ = -1;
    }
  }

  // Whether the nested operation ran from within its host (the host had that many steps).
  bool GuestRanInside(const Interleaving& il) const { return il.host < 0 || guestInside_; }

  // Plays the order with each operation whole, noting after each step of the one at
  // `host` whether the next operation could take the locks it starts with (the record
  // lock of a change, the header lock). Where it could not, it would fail there before
  // it wrote anything.
  std::vector<bool> ProbeHost(const std::vector<int>& order, int host) {
    auto probe = mem_.Open(kTable, OpenMode::kReadWrite);
    std::vector<bool> free;
    const int guest = order[static_cast<std::size_t>(host) + 1];
    stepsLeft_ = -1;
    guest_ = [&] { free.push_back(FirstLocksFree(*probe, guest)); };
    for (std::size_t i = 0; i < order.size(); ++i) {
      if (static_cast<int>(i) == host) armed_ = script_.ops[static_cast<std::size_t>(order[i])].actor;
      Perform(order[i]);
      armed_ = -1;
    }
    return free;
  }

  const Outcome& Of(int opId) const { return outcomes_[static_cast<std::size_t>(opId)]; }
  int FirstCut() const { return start_; }
  int LastCut() const { return device_.Flushes(); }
  const Files& Cut(int c) const { return device_.Cuts()[static_cast<std::size_t>(c) - 1]; }
  const std::string& FlushedAt(int c) const { return device_.Flushed()[static_cast<std::size_t>(c) - 1]; }

  // The record number of an entry, once known: where it stood at the start, or what its
  // append returned.
  std::uint32_t RecnoOf(int entry) const {
    const Entry& e = script_.entries[static_cast<std::size_t>(entry)];
    if (e.startRecno != 0) return e.startRecno;
    for (std::size_t i = 0; i < script_.ops.size(); ++i)
      if (script_.ops[i].entry == entry && Appends(script_.ops[i].kind) && outcomes_[i].returned)
        return outcomes_[i].recno;
    return 0;
  }

 private:
  void Perform(int opId) {
    const Op& op = script_.ops[static_cast<std::size_t>(opId)];
    Outcome& out = outcomes_[static_cast<std::size_t>(opId)];
    Table& t = *tables_[static_cast<std::size_t>(op.actor)];
    const std::uint32_t recno = op.entry >= 0 ? RecnoOf(op.entry) : 0;
    if (op.entry >= 0 && !Appends(op.kind) && recno == 0) {
      out.skipped = true;
      return;
    }
    out.started = true;
    out.startFlush = device_.Flushes();
    try {
      switch (op.kind) {
        case Kind::kAppend:
          out.recno = t.Append(PhoneRecord(t, script_.entries[static_cast<std::size_t>(op.entry)].name, "1"));
          break;
        case Kind::kAppendBatch: {
          Table::BatchProgress progress;
          t.AppendBatch({PhoneRecord(t, script_.entries[static_cast<std::size_t>(op.entry)].name, "1")}, progress);
          out.recno = progress.firstRecNo;
          break;
        }
        case Kind::kUpdate:
          t.Update(recno, PhoneRecord(t, op.name, "2"));
          break;
        case Kind::kDelete:
          t.Delete(recno);
          break;
        case Kind::kRecall:
          t.Recall(recno);
          break;
        case Kind::kReindex:
          t.Reindex();
          break;
      }
      out.returned = true;
      out.returnFlush = device_.Flushes();
    } catch (const DbError& e) {
      out.error = e.what();
    }
  }

  void Stepped(int actor) {
    if (actor != armed_) return;
    if (stepsLeft_ < 0) return guest_();  // probing every step
    if (--stepsLeft_ != 0) return;
    armed_ = -1;
    guestInside_ = true;
    guest_();
  }

  bool FirstLocksFree(File& probe, int opId) const {
    const Op& op = script_.ops[static_cast<std::size_t>(opId)];
    std::vector<std::uint64_t> locks;
    if (op.entry >= 0 && !Appends(op.kind) && RecnoOf(op.entry) != 0)
      locks.push_back(RecordLockOffset(RecnoOf(op.entry)));
    locks.push_back(kDbfLockBase);
    for (const std::uint64_t at : locks) {
      if (!probe.TryLock(at, 1, LockKind::kExclusive)) return false;
      probe.Unlock(at, 1);
    }
    return true;
  }

  // Another program's update of several index pages broke off half way: its mark is
  // set and its counter moved, on the device too.
  void MarkIndexInterrupted() {
    std::string& cdx = mem_.Bytes(kIndex);
    PutLE32(reinterpret_cast<unsigned char*>(cdx.data()) + cdx::kHdrUpdateMark, cdx::kUpdateMarkValue);
    PutBE32(reinterpret_cast<unsigned char*>(cdx.data()) + kCdxChangeCounterOffset,
            GetBE32(reinterpret_cast<const unsigned char*>(cdx.data()) + kCdxChangeCounterOffset) + 1);
    device_.Open(kIndex, OpenMode::kReadWrite)->Flush();
  }

  const Script& script_;
  MemoryFileSystem mem_;
  PowerCutFileSystem device_;
  std::vector<std::unique_ptr<SteppingFileSystem>> stepping_;
  std::vector<std::unique_ptr<Table>> tables_;
  std::vector<Outcome> outcomes_;
  int start_ = 0;
  int armed_ = -1;
  int stepsLeft_ = 0;
  bool guestInside_ = false;
  std::function<void()> guest_;
};

// The phone book with the script's start entries, as files.
Files StartFiles(const Script& s) {
  MemoryFileSystem mem;
  const TableOptions o = FixedDate(ShareMode::kShared, &mem);
  MakePhoneTable(kTable, o);
  {
    auto t = Table::Open(kTable, o);
    for (const auto& e : s.entries)
      if (e.startRecno != 0) t->Append(PhoneRecord(*t, e.name, "1", e.deletedAtStart));
  }
  return {{kTable, mem.Bytes(kTable)}, {kIndex, mem.Bytes(kIndex)}};
}

// ---- what a device view shows (worked out once per distinct view) ------------------

struct ViewReading {
  RawDbf raw;
  // Our writable opener.
  std::string openError;
  std::string damage;
  std::vector<std::string> problems;
  bool hasNameTag = false;
  Listing walk;
  std::string walkError;
  // Tag NAME as the device's index holds it, read without mending: record number ->
  // trimmed keys. Unset when the index cannot be read as it is, or has no tag NAME.
  std::optional<std::map<std::uint32_t, std::vector<std::string>>> deviceTag;
};

void PhoneView(Table& t) {
  t.SetOrder(t.TagOrder("NAME"));
  t.SetFilter(".not. deleted()");
}

std::optional<std::map<std::uint32_t, std::vector<std::string>>> ReadDeviceTag(const Files& files) {
  if (!files.count(kIndex)) return std::nullopt;
  try {
    MemoryFileSystem mem;
    LoadFiles(mem, files);
    CdxOptions o;
    o.shared = false;
    auto index = CdxIndex::Open(mem.Open(kIndex, OpenMode::kReadOnly), o);
    CdxTag* tag = index->FindTag("NAME");
    if (!tag) return std::nullopt;
    std::map<std::uint32_t, std::vector<std::string>> keys;
    for (auto e = tag->First(); e; e = tag->Next(*e)) keys[e->recno].push_back(Trimmed(e->key));
    return keys;
  } catch (const DbError&) {
    return std::nullopt;
  }
}

ViewReading ReadView(const Files& files) {
  ViewReading v;
  const auto dbf = files.find(kTable);
  v.raw = ReadRawDbf(dbf == files.end() ? std::string() : dbf->second);
  v.deviceTag = ReadDeviceTag(files);
  MemoryFileSystem mem;
  LoadFiles(mem, files);
  std::unique_ptr<Table> t;
  try {
    t = Table::Open(kTable, FixedDate(ShareMode::kShared, &mem));
  } catch (const std::exception& e) {
    v.openError = e.what();
    return v;
  }
  v.damage = t->DamageReason();
  try {
    v.problems = t->CheckIndex();
  } catch (const std::exception& e) {
    v.problems.push_back(std::string("the check failed: ") + e.what());
  }
  v.hasNameTag = t->TagOrder("NAME") > 0;
  try {
    PhoneView(*t);
    v.walk = Walk(*t);
  } catch (const std::exception& e) {
    v.walkError = e.what();
  }
  return v;
}

// ---- the checks ------------------------------------------------------------------

// The failures of each check: how many views, and the first one in words.
class Findings {
 public:
  void Add(const std::string& check, const std::string& where, const std::string& what) {
    auto& f = byCheck_[check];
    if (f.count++ == 0) f.first = where + ": " + what;
  }
  void Expect() const {
    for (const auto& [check, f] : byCheck_)
      ADD_FAILURE() << check << " fails in " << f.count << " views; the first: " << f.first;
  }

 private:
  struct Failure {
    std::uint64_t count = 0;
    std::string first;
  };
  std::map<std::string, Failure> byCheck_;
};

// What a view may show of one entry: the states it may be in (a name, or none when it
// is absent or deleted) and its record number where known.
struct Allowed {
  std::set<std::optional<std::string>> states;
  std::uint32_t recno = 0;
  bool appendReturned = false;  // the append of the entry had returned before the cut
};

// Changes that had returned before the cut are there; one that started before the cut
// but had not returned may or may not be; one that started after it is not.
std::vector<Allowed> AllowedAt(const Script& s, const Run& run, int cut) {
  std::vector<Allowed> out(s.entries.size());
  for (std::size_t e = 0; e < s.entries.size(); ++e) {
    std::optional<std::string> state;
    if (s.entries[e].startRecno != 0 && !s.entries[e].deletedAtStart) state = s.entries[e].name;
    std::set<std::optional<std::string>> maybe;
    for (std::size_t i = 0; i < s.ops.size(); ++i) {
      const Op& op = s.ops[i];
      if (op.entry != static_cast<int>(e)) continue;
      const Outcome& o = run.Of(static_cast<int>(i));
      std::optional<std::string> after;
      if (Appends(op.kind) || op.kind == Kind::kRecall) after = s.entries[e].name;
      if (op.kind == Kind::kUpdate) after = op.name;
      if (o.returned && o.returnFlush <= cut) {
        if (Appends(op.kind)) out[e].appendReturned = true;
        state = after;
        maybe.clear();
      } else if (o.started && o.startFlush < cut) {
        maybe.insert(after);
      }
    }
    maybe.insert(state);
    out[e].states = maybe;
    out[e].recno = run.RecnoOf(static_cast<int>(e));
  }
  return out;
}

// Checks live records (record number, name) against what may be there; returns the
// first disagreement in words, empty when none.
std::string CheckListing(const Script& s, const std::vector<Allowed>& allowed, const Listing& live) {
  std::map<std::string, int> owner;
  for (std::size_t e = 0; e < s.entries.size(); ++e) {
    owner[s.entries[e].name] = static_cast<int>(e);
    for (const Op& op : s.ops)
      if (op.entry == static_cast<int>(e) && op.kind == Kind::kUpdate) owner[op.name] = static_cast<int>(e);
  }
  std::vector<std::vector<std::pair<std::uint32_t, std::string>>> seen(s.entries.size());
  for (const auto& [recno, name] : live) {
    const auto it = owner.find(name);
    if (it == owner.end()) return "shows a record named \"" + name + "\" that nobody wrote";
    seen[static_cast<std::size_t>(it->second)].emplace_back(recno, name);
  }
  for (std::size_t e = 0; e < s.entries.size(); ++e) {
    const Allowed& a = allowed[e];
    const auto& got = seen[e];
    if (got.size() > 1) return "shows " + s.entries[e].name + " " + std::to_string(got.size()) + " times";
    if (got.empty()) {
      if (!a.states.count(std::nullopt))
        return "lacks " + a.states.begin()->value_or("") + ", a change that had returned";
      continue;
    }
    if (!a.states.count(got[0].second)) return "shows " + got[0].second + ", a change that had not happened";
    if (a.recno != 0 && got[0].first != a.recno)
      return "shows " + got[0].second + " as record " + std::to_string(got[0].first) + ", not " +
             std::to_string(a.recno);
  }
  return {};
}

// Live records of a raw reading: (record number, trimmed name) of the counted ones.
Listing RawLive(const RawDbf& raw) {
  Listing out;
  for (std::size_t i = 0; i < raw.counted.size(); ++i)
    if (raw.counted[i][0] == ' ')
      out.emplace_back(static_cast<std::uint32_t>(i + 1), Trimmed(raw.counted[i].substr(1, 35)));
  return out;
}

std::string Show(const Listing& l) {
  std::string out = "[";
  for (const auto& [recno, name] : l) out += (out.size() > 1 ? ", " : "") + std::to_string(recno) + " " + name;
  return out + "]";
}

std::string Show(const std::vector<std::string>& v) {
  std::string out;
  for (const auto& s : v) out += (out.empty() ? "" : "; ") + s;
  return out;
}

// Runs interleavings of one script, checks every device view of each, and reads the
// distinct tables with the independent readers at the end.
class Harness {
 public:
  Harness(Script script, Setup setup) : script_(std::move(script)), start_(StartFiles(script_)), setup_(setup) {}

  // Plays one interleaving and checks its views. False when the operation meant to
  // run inside another did not (the host has fewer steps): nothing was checked.
  bool Try(const Interleaving& il) {
    Run run(script_, start_, setup_);
    run.Play(il);
    if (!run.GuestRanInside(il)) return false;
    ++interleavings_;
    if (il.host >= 0)
      ++(run.Of(il.order[static_cast<std::size_t>(il.host) + 1]).returned ? guestsReturned_ : guestsRefused_);
    const std::string where = Describe(script_, il);
    CheckOutcomes(run, il, where);
    for (int cut = run.FirstCut(); cut <= run.LastCut(); ++cut) CheckView(run, cut, where);
    return true;
  }

  // The operation after position `host` run inside the one there, after each of its
  // steps. Steps at which it would be refused its first locks lead to the same run (it
  // fails having written nothing): one of them is played, the others counted.
  void TryEveryStepInside(const std::vector<int>& order, int host) {
    std::vector<bool> free;
    {
      Run probe(script_, start_, setup_);
      free = probe.ProbeHost(order, host);
    }
    bool refusedPlayed = false;
    for (std::size_t step = 1; step <= free.size(); ++step) {
      if (!free[step - 1] && refusedPlayed) {
        ++refusedAlike_;
        continue;
      }
      refusedPlayed = refusedPlayed || !free[step - 1];
      const Interleaving il{order, host, static_cast<int>(step)};
      if (!Try(il))
        findings_.Add("(vi) an operation fails only on a lock another holds", Describe(script_, il),
                      "the host took fewer steps than when it was probed");
    }
  }

  void Finish(const char* what) {
    CheckIndependentReaders();
    std::printf(
        "[ coverage ] %s: %d interleavings, %llu device views (%zu distinct), %zu distinct tables read "
        "by dbfread and XBase\n",
        what, interleavings_, static_cast<unsigned long long>(views_), readings_.size(), tables_.size());
    if (guestsReturned_ + guestsRefused_ > 0)
      std::printf(
          "[ coverage ] %s: the operation inside another returned in %d, was refused a lock in %d; %d "
          "more where it would be refused its first lock, as in one of those, were not played\n",
          what, guestsReturned_, guestsRefused_, refusedAlike_);
    testing::Test::RecordProperty("interleavings", interleavings_);
    testing::Test::RecordProperty("device_views", static_cast<int>(views_));
    EXPECT_GT(interleavings_, 0);
    findings_.Expect();
  }

 private:
  void CheckOutcomes(const Run& run, const Interleaving& il, const std::string& where) {
    for (std::size_t i = 0; i < il.order.size(); ++i) {
      const Outcome& o = run.Of(il.order[i]);
      if (!o.started || o.returned) continue;
      const bool guest = il.host >= 0 && static_cast<int>(i) == il.host + 1;
      if (guest && o.error.find("is locked by another user") != std::string::npos) continue;
      findings_.Add("(vi) an operation fails only on a lock another holds", where,
                    Label(script_, il.order[i]) + " failed: " + o.error);
    }
  }

  void CheckView(const Run& run, int cut, const std::string& runWhere) {
    ++views_;
    const Files& files = run.Cut(cut);
    const std::string where =
        runWhere + "; cut after flush " + std::to_string(cut - run.FirstCut()) + " (of " + run.FlushedAt(cut) + ")";
    std::string key;
    for (const auto& [path, bytes] : files) key += path + '\0' + std::to_string(bytes.size()) + ':' + bytes;
    auto it = readings_.find(key);
    if (it == readings_.end()) it = readings_.emplace(key, ReadView(files)).first;
    const ViewReading& v = it->second;
    const auto dbf = files.find(kTable);
    if (dbf != files.end()) tables_.emplace(dbf->second, where);
    const std::vector<Allowed> allowed = AllowedAt(script_, run, cut);
    CheckRaw(v.raw, allowed, where);
    CheckOpener(v, allowed, where);
    CheckDeviceTag(v, allowed, where);
  }

  // (i) What any xBase program reads: the count covers every append that returned,
  // each counted record is whole, and the live ones are what the changes left.
  void CheckRaw(const RawDbf& raw, const std::vector<Allowed>& allowed, const std::string& where) {
    const std::string check = "(i) the header counts every returned append, whole";
    if (!raw.headerWhole) return findings_.Add(check, where, "the table's header is not whole");
    for (std::size_t e = 0; e < allowed.size(); ++e)
      if (allowed[e].appendReturned && allowed[e].recno > raw.count)
        return findings_.Add(check, where,
                             "the header counts " + std::to_string(raw.count) + " records, but the append of " +
                                 script_.entries[e].name + " (record " + std::to_string(allowed[e].recno) +
                                 ") had returned");
    if (raw.counted.size() != raw.count)
      return findings_.Add(check, where,
                           "the header counts " + std::to_string(raw.count) + " records, the file holds " +
                               std::to_string(raw.counted.size()) + " whole");
    for (std::size_t i = 0; i < raw.counted.size(); ++i)
      if (raw.counted[i][0] != ' ' && raw.counted[i][0] != '*')
        return findings_.Add(check, where, "record " + std::to_string(i + 1) + " has no deletion flag");
    const std::string wrong = CheckListing(script_, allowed, RawLive(raw));
    if (!wrong.empty()) findings_.Add(check, where, "the raw records: " + wrong + " " + Show(RawLive(raw)));
  }

  // (ii) Our writable opener opens, finds the index sound or rebuilds it, and has tag
  // NAME; (iii) its phone book view shows every change that returned.
  void CheckOpener(const ViewReading& v, const std::vector<Allowed>& allowed, const std::string& where) {
    const std::string opener = "(ii) our opener opens with a sound index and tag NAME";
    if (!v.openError.empty()) return findings_.Add(opener, where, "open failed: " + v.openError);
    if (!v.problems.empty())
      findings_.Add(opener, where, "damage \"" + v.damage + "\", then the check reports: " + Show(v.problems));
    if (!v.hasNameTag) findings_.Add(opener, where, "no tag NAME (damage reported: \"" + v.damage + "\")");
    const std::string view = "(iii) the phone book view shows every returned change";
    if (!v.walkError.empty()) return findings_.Add(view, where, "the walk failed: " + v.walkError);
    if (v.hasNameTag && !std::is_sorted(v.walk.begin(), v.walk.end(), [](const auto& a, const auto& b) {
          return std::tie(a.second, a.first) < std::tie(b.second, b.first);
        }))
      findings_.Add(view, where, "out of order: " + Show(v.walk));
    const std::string wrong = CheckListing(script_, allowed, v.walk);
    if (!wrong.empty()) findings_.Add(view, where, wrong + " " + Show(v.walk));
  }

  // (v) An index on the device that reads as sound lists every settled entry under
  // its name (a deleted one under none).
  void CheckDeviceTag(const ViewReading& v, const std::vector<Allowed>& allowed, const std::string& where) {
    if (!v.deviceTag) return;
    for (std::size_t e = 0; e < allowed.size(); ++e) {
      const Allowed& a = allowed[e];
      if (a.recno == 0 || a.states.size() != 1) continue;
      const auto found = v.deviceTag->find(a.recno);
      const std::vector<std::string> keys = found == v.deviceTag->end() ? std::vector<std::string>() : found->second;
      const auto& state = *a.states.begin();
      const std::vector<std::string> expected = state ? std::vector<std::string>{*state} : std::vector<std::string>();
      if (keys != expected)
        return findings_.Add("(v) the device's index lists every returned change", where,
                             "record " + std::to_string(a.recno) + " is listed under [" + Show(keys) + "], expected [" +
                                 Show(expected) + "]");
    }
  }

  // (iv) The distinct tables seen, read by dbfread and Perl's XBase in one run each,
  // against our raw reading: XBase reads the counted records; dbfread reads on to the
  // end marker, so it also shows whole records past the count.
  void CheckIndependentReaders() {
    TempDir dir;
    std::string list;
    std::map<std::string, const std::pair<const std::string, std::string>*> byPath;
    int n = 0;
    for (const auto& entry : tables_) {
      const std::string folder = dir / ("v" + std::to_string(n++));
      std::filesystem::create_directory(folder);
      const std::string path = folder + "/" + kTable;
      WriteAll(path, entry.first);
      list += path + "\n";
      byPath[path] = &entry;
    }
    WriteAll(dir / "tables.txt", list);
    const IndependentReading perl = ReadWithPerlXBase(dir, dir / "tables.txt", "NAME");
    const IndependentReading python = ReadWithDbfread(dir, dir / "tables.txt", "NAME");
    ASSERT_EQ(perl.failure, "") << "libdbd-xbase-perl is missing? scripts/setup installs it";
    ASSERT_EQ(python.failure, "") << "python3-dbfread is missing? scripts/setup installs it";
    const std::string check = "(iv) independent readers show our raw reading";
    for (const auto& [path, entry] : byPath) {
      const RawDbf raw = ReadRawDbf(entry->first);
      const Listing counted = RawLive(raw);
      Listing toEnd;
      for (const auto& [recno, name] : counted) toEnd.emplace_back(0, name);
      for (const auto& rec : raw.past)
        if (rec[0] == ' ') toEnd.emplace_back(0, Trimmed(rec.substr(1, 35)));
      CompareReader("XBase", perl, path, counted, check, entry->second);
      CompareReader("dbfread", python, path, toEnd, check, entry->second);
    }
  }

  void CompareReader(const char* reader, const IndependentReading& r, const std::string& path, const Listing& expected,
                     const std::string& check, const std::string& where) {
    const auto error = r.errors.find(path);
    if (error != r.errors.end()) return findings_.Add(check, where, std::string(reader) + " fails: " + error->second);
    const auto live = r.live.find(path);
    if (live == r.live.end()) return findings_.Add(check, where, std::string(reader) + " did not read the table");
    if (live->second != expected)
      findings_.Add(check, where, std::string(reader) + " shows " + Show(live->second) + ", we read " + Show(expected));
  }

  Script script_;
  Files start_;
  Setup setup_;
  Findings findings_;
  std::map<std::string, ViewReading> readings_;
  std::map<std::string, std::string> tables_;  // DBF bytes -> where first seen
  int interleavings_ = 0;
  int guestsReturned_ = 0;
  int guestsRefused_ = 0;
  int refusedAlike_ = 0;
  std::uint64_t views_ = 0;
};

// Every order of the operations, each run whole.
void EveryOrder(Harness& h, const Script& s) {
  for (const auto& order : AllOrders(s)) h.Try({order, -1, 0});
}

// Every order, with each operation of the chosen hosts followed by another actor's
// run from within it, after each of its steps in turn.
void EveryOrderWithOneInsideAnother(Harness& h, const Script& s, const std::set<int>& hosts) {
  for (const auto& order : AllOrders(s))
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
      const int host = s.ops[static_cast<std::size_t>(order[i])].actor;
      if (!hosts.count(host) || host == s.ops[static_cast<std::size_t>(order[i + 1])].actor) continue;
      h.TryEveryStepInside(order, static_cast<int>(i));
    }
}

TEST(PowerCut, TwoDesksAndARebuildInEveryOrderKeepEveryReturnedChange) {
  const Script s = PhoneBookScript(true);
  Harness h(s, {});
  EveryOrder(h, s);
  h.Finish("every order");
}

// A rebuild by a program that leaves the flush to the system (dbftool's reindex, say):
// its index reaches the device with the next flush of the file by anyone.
TEST(PowerCut, ARebuildThatDoesNotFlushInEveryOrderKeepsEveryReturnedChange) {
  const Script s = PhoneBookScript(true);
  Harness h(s, {.durableRebuilder = false});
  EveryOrder(h, s);
  h.Finish("every order, the rebuild not flushed");
}

// The other actors' operations try to come in at each step of a desk's change: most
// find a lock held and fail, having changed nothing.
TEST(PowerCut, AnOperationFallingInsideADesksChangeKeepsEveryReturnedChange) {
  const Script s = PhoneBookScript(false);
  Harness h(s, {});
  EveryOrderWithOneInsideAnother(h, s, {0, 1});
  h.Finish("inside a desk's change");
}

TEST(PowerCut, AnOperationFallingInsideARebuildKeepsEveryReturnedChange) {
  const Script s = PhoneBookScript(false);
  Harness h(s, {});
  EveryOrderWithOneInsideAnother(h, s, {kRebuilder});
  h.Finish("inside a rebuild");
}

// The index on the device was left marked half updated by another program: the first
// of our openers to meet it mends it in place, in every order of the operations.
TEST(PowerCut, MendingADamagedIndexInEveryOrderKeepsEveryReturnedChange) {
  const Script s = PhoneBookScript(true);
  Harness h(s, {.damagedIndex = true});
  EveryOrder(h, s);
  h.Finish("damaged index, every order");
}

}  // namespace
}  // namespace vz::db
