// Checking the index against the records.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/bytes.hpp"
#include "common/text.hpp"
#include "dbengine/table.hpp"
#include "dbengine/table_internal.hpp"

namespace vz::db {

namespace {

constexpr int kVerifyLockWaitMs = 200;

}  // namespace

// A tag entry and a record that do not agree.
struct Table::Disagreement {
  enum Kind { kListed, kLacking, kVanished } kind;
  CdxEntry entry;                 // listed: in the tag; lacking: what the record gives
  std::uint32_t recordCount = 0;  // the record count when it was seen
};

struct Table::Disagreements {
  std::vector<std::pair<const TagState*, Disagreement>> found;  // the first ones
  std::vector<std::uint64_t> counts;                            // how many, per tag
};

// Walks the tag and the records' keys side by side, under the caller's index lock.
std::uint64_t Table::CompareTag(const TagState& tag, const std::function<void(const Disagreement&)>& found) {
  CdxTag* t = index_->FindTag(tag.info.name);
  if (!t) {
    found({Disagreement::kVanished, {}, header_.recordCount});
    return 1;
  }
  auto expected = CollectEntries(tag);
  std::sort(expected.begin(), expected.end(), CdxLess);
  if (tag.info.unique) {
    std::vector<CdxEntry> firsts;
    for (auto& e : expected)
      if (firsts.empty() || firsts.back().key != e.key) firsts.push_back(std::move(e));
    expected = std::move(firsts);
  }
  std::size_t i = 0;
  std::uint64_t mismatches = 0;
  for (auto actual = t->First(); actual || i < expected.size();) {
    if (actual && i < expected.size() && *actual == expected[i]) {
      actual = t->Next(*actual);
      ++i;
    } else if (actual && (i >= expected.size() || CdxLess(*actual, expected[i]))) {
      ++mismatches;
      found({Disagreement::kListed, *actual, header_.recordCount});
      actual = t->Next(*actual);
    } else {
      ++mismatches;
      found({Disagreement::kLacking, expected[i], header_.recordCount});
      ++i;
    }
  }
  return mismatches;
}

std::string Table::Describe(const TagState& tag, const Disagreement& d) {
  std::string key = d.entry.key;
  while (!key.empty() && key.back() == ' ') key.pop_back();
  const std::string entry = Format("record %u with key \"%s\"", d.entry.recno, key.c_str());
  switch (d.kind) {
    case Disagreement::kVanished:
      return "tag " + tag.info.name + " vanished from the index";
    case Disagreement::kListed:
      if (d.entry.recno > d.recordCount)
        return Format("tag %s lists record %u, but the table has only %u records", tag.info.name.c_str(),
                      d.entry.recno, d.recordCount);
      return "tag " + tag.info.name + " lists " + entry + ", which the record does not give";
    case Disagreement::kLacking:
      break;
  }
  return "tag " + tag.info.name + " lacks " + entry;
}

// Another xBase program writes a record first and adds its key later, under the
// record's lock but under no lock of the index: a disagreement seen beside it may be
// that change half done. It is looked at again once the record's lock can be had (the
// writer has let go); only one that persists stands. A record still locked at the end
// of the wait leaves the question open, and that is no verdict of damage either.
bool Table::Persists(const TagState& tag, const Disagreement& d, int waitMs) {
  if (options_.mode == ShareMode::kExclusive || d.kind == Disagreement::kVanished || tag.info.unique) return true;
  if (d.entry.recno == 0 || d.entry.recno >= kDbfLockBase) return true;
  FileLock recordLock(*this, RecordLockOffset(d.entry.recno), "", true, waitMs, LockKind::kShared);
  if (!recordLock.Held()) return false;
  CdxLock lock(*index_, LockKind::kShared);
  ReadHeaderCount();
  const bool given = d.entry.recno <= header_.recordCount && KeyOf(tag, ReadRecord(d.entry.recno)) == d.entry.key;
  CdxTag* t = index_->FindTag(tag.info.name);
  const bool listed = t && t->SeekEntry(d.entry.key, d.entry.recno) == d.entry;
  return given != listed;
}

// Every tag compared with the records under one shared index lock; then, beside
// other writers, each disagreement looked at again on its own (see Persists). More
// than a few are no change in flight: those stand as they are.
Table::Disagreements Table::StandingDisagreements(int waitMs, std::size_t keep) {
  constexpr std::uint64_t kMostInFlight = 32;
  Disagreements seen;
  seen.counts.assign(tags_.size(), 0);
  std::uint64_t total = 0;
  {
    CdxLock lock(*index_, LockKind::kShared);
    ReadHeaderCount();
    for (std::size_t i = 0; i < tags_.size(); ++i) {
      const TagState& tag = tags_[i];
      if (!tag.problem.empty()) continue;
      seen.counts[i] = CompareTag(tag, [&](const Disagreement& d) {
        if (seen.found.size() < std::max<std::size_t>(keep, kMostInFlight)) seen.found.emplace_back(&tag, d);
      });
      total += seen.counts[i];
    }
  }
  if (total == 0 || total > kMostInFlight || options_.mode == ShareMode::kExclusive) return seen;
  Disagreements standing;
  standing.counts.assign(tags_.size(), 0);
  for (const auto& [tag, d] : seen.found) {
    if (!Persists(*tag, d, waitMs)) continue;
    standing.found.emplace_back(tag, d);
    ++standing.counts[static_cast<std::size_t>(tag - tags_.data())];
  }
  return standing;
}

void Table::VerifyIndexAgainstRecords() {
  // Writers hold the header lock; when one holds it long, the comparison is skipped
  // rather than made against a table in the middle of a change. It is let go before
  // the comparison (made under the index lock), so that appenders go on meanwhile.
  {
    FileLock headerLock(*this, kDbfLockBase, "the header", true, kVerifyLockWaitMs);
    if (!headerLock.Held()) return;
  }
  const Disagreements standing = StandingDisagreements(kVerifyLockWaitMs, 1);
  if (!standing.found.empty())
    throw CdxDamaged("the index disagrees with the table: " +
                     Describe(*standing.found.front().first, standing.found.front().second));
}

std::vector<std::string> Table::CheckIndex(std::size_t maxReports) {
  std::vector<std::string> problems;
  auto report = [&](const std::string& text) {
    if (problems.size() < maxReports) problems.push_back(text);
  };
  WriteAppendRun();
  // No header lock: appenders (ours, and other programs' that wait for it in the
  // kernel) go on while the check reads; what it compares is seen under the index lock.
  if (!index_) {
    ReadHeaderCount();
    if (!damageReason_.empty()) {
      report("the index is damaged: " + damageReason_);
      if (!damagedIndexPath_.empty()) report("the damaged index was moved to " + damagedIndexPath_);
    } else if (header_.flags & kDbfFlagStructuralCdx) {
      report("the table says it has a production index, but " + indexPath_ + " is missing");
    }
    return problems;
  }
  try {
    index_->Check();
    for (const auto& tag : tags_)
      if (!tag.problem.empty()) report("tag " + tag.info.name + " cannot be checked: " + tag.problem);
    // The count is read under the index lock: a writer of ours holds it from its record
    // write to its last key, so records, count and keys are seen all before or after.
    const Disagreements standing = StandingDisagreements(options_.lockTimeoutMs, maxReports);
    for (std::size_t i = 0; i < tags_.size(); ++i) {
      if (standing.counts[i] == 0) continue;
      for (const auto& [tag, d] : standing.found)
        if (tag == &tags_[i]) report(Describe(*tag, d));
      report(Format("tag %s disagrees with the table in %llu entries", tags_[i].info.name.c_str(),
                    static_cast<unsigned long long>(standing.counts[i])));
    }
  } catch (const CdxDamaged& e) {
    report(std::string("the index is damaged: ") + e.what());
  }
  return problems;
}

}  // namespace vz::db
