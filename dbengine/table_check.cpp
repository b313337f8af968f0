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

// An opener does not wait for a record that another program holds locked: that change
// is in flight, which is no verdict of damage, and waiting for it (the writer may be
// waiting for the index lock meanwhile) would hold up every opener behind it.
constexpr int kVerifyRecordWaitMs = 0;
// Tag entries compared under one hold of the shared index lock: about a millisecond's
// work, so that writers (ours, and other programs' waiting in the kernel) come in
// between the slices rather than after the whole comparison.
constexpr std::size_t kCompareSliceEntries = 4096;
// The pause between two slices: a writer that the end of a hold woke up gets to take
// the lock before the next slice does.
constexpr auto kCompareSlicePause = std::chrono::microseconds(200);

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

// Reads the records counted since the last call onto the end of `records`.
void Table::ExtendSnapshot(std::string& records, std::uint32_t& have) {
  const std::uint32_t count = header_.recordCount;
  if (count <= have) return;
  const std::size_t at = records.size();
  records.resize(std::size_t{count} * header_.recordLength);
  const std::size_t want = records.size() - at;
  if (file_->ReadAt(header_.RecordOffset(have + 1), records.data() + at, want) != want)
    throw DbfDamaged(Format("%s is not a sound table: records from %u are cut short", path_.c_str(), have + 1));
  have = count;
}

// The tag walked in slices, each under its own hold of the shared index lock, against
// the records read beforehand (and those appended since, read as each slice begins).
// Writers change records and keys between the slices: whatever looks wrong then is a
// suspect only, looked at again with record and key read afresh (ConfirmSuspects).
std::uint64_t Table::CompareTagInSlices(const TagState& tag, std::string& records, std::uint32_t& have,
                                        const std::function<void(const Disagreement&)>& found) {
  const std::size_t len = header_.recordLength;
  std::vector<bool> listed;  // by record number: a tag entry gave its record's key
  std::vector<Disagreement> suspects;
  std::optional<CdxEntry> resume;
  for (bool more = true; more;) {
    if (resume) std::this_thread::sleep_for(kCompareSlicePause);
    CdxLock lock(*index_, LockKind::kShared);
    ReadHeaderCount();
    ExtendSnapshot(records, have);
    listed.resize(std::size_t{have} + 1, false);
    CdxTag* t = index_->FindTag(tag.info.name);
    if (!t) {
      found({Disagreement::kVanished, {}, header_.recordCount});
      return 1;
    }
    std::optional<CdxEntry> e = resume ? t->Next(*resume) : t->First();
    for (std::size_t n = 0; e && n < kCompareSliceEntries; ++n) {
      const std::uint32_t r = e->recno;
      const bool gives = r >= 1 && r <= have && GivesKey(tag, std::string_view(records).substr((r - 1) * len, len), e->key);
      if (gives && !listed[r])
        listed[r] = true;
      else
        suspects.push_back({Disagreement::kListed, *e, header_.recordCount});
      resume = std::move(e);
      e = t->Next(*resume);
    }
    more = e.has_value();
  }
  for (std::uint32_t r = 1; r <= have; ++r) {
    if (listed[r]) continue;
    if (auto key = KeyOf(tag, std::string_view(records).substr((r - 1) * std::size_t{len}, len)))
      suspects.push_back({Disagreement::kLacking, {std::move(*key), r}, have});
  }
  return ConfirmSuspects(tag, suspects, found);
}

// A suspect stands when its record and the tag still disagree on it, both read afresh
// under one hold of the index lock (in slices too). Those that stand are told in the
// tag's order of their entries.
std::uint64_t Table::ConfirmSuspects(const TagState& tag, std::vector<Disagreement>& suspects,
                                     const std::function<void(const Disagreement&)>& found) {
  std::vector<Disagreement> standing;
  std::string rec;
  for (std::size_t i = 0; i < suspects.size();) {
    if (i > 0) std::this_thread::sleep_for(kCompareSlicePause);
    CdxLock lock(*index_, LockKind::kShared);
    ReadHeaderCount();
    CdxTag* t = index_->FindTag(tag.info.name);
    if (!t) {
      found({Disagreement::kVanished, {}, header_.recordCount});
      return 1;
    }
    for (std::size_t n = 0; i < suspects.size() && n < kCompareSliceEntries; ++n, ++i) {
      Disagreement& d = suspects[i];
      d.recordCount = header_.recordCount;
      if (DisagreesNow(tag, t, d.entry, rec)) standing.push_back(std::move(d));
    }
  }
  std::sort(standing.begin(), standing.end(),
            [](const Disagreement& a, const Disagreement& b) { return CdxLess(a.entry, b.entry); });
  for (const Disagreement& d : standing) found(d);
  return standing.size();
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
  std::string rec;
  return DisagreesNow(tag, index_->FindTag(tag.info.name), d.entry, rec);
}

// Whether the record of `entry` gives its key while the tag (null: gone) lacks it, or
// the other way round: both read now, under the caller's index lock.
bool Table::DisagreesNow(const TagState& tag, CdxTag* t, const CdxEntry& entry, std::string& rec) {
  bool given = false;
  if (entry.recno >= 1 && entry.recno <= header_.recordCount) {
    ReadRecordInto(entry.recno, rec);
    given = GivesKey(tag, rec, entry.key);
  }
  const bool listed = t && t->SeekEntry(entry.key, entry.recno) == entry;
  return given != listed;
}

// Every tag compared with the records (in slices, see CompareTagInSlices); then, beside
// other programs' writers, each disagreement looked at again on its own (see Persists).
// More than a few are no change in flight: those stand as they are.
Table::Disagreements Table::StandingDisagreements(int waitMs, std::size_t keep) {
  constexpr std::uint64_t kMostInFlight = 32;
  Disagreements seen;
  seen.counts.assign(tags_.size(), 0);
  std::uint64_t total = 0;
  std::string records;  // read once for every tag compared in slices
  std::uint32_t have = 0;
  {
    // Count and records read under one hold: a writer of ours changes both under it.
    CdxLock lock(*index_, LockKind::kShared);
    ReadHeaderCount();
    ExtendSnapshot(records, have);
  }
  for (std::size_t i = 0; i < tags_.size(); ++i) {
    const TagState& tag = tags_[i];
    if (!tag.problem.empty()) continue;
    auto keepFound = [&](const Disagreement& d) {
      if (seen.found.size() < std::max<std::size_t>(keep, kMostInFlight)) seen.found.emplace_back(&tag, d);
    };
    if (tag.info.unique) {
      // Which record a unique tag lists for a key depends on all the others: compared whole.
      CdxLock lock(*index_, LockKind::kShared);
      ReadHeaderCount();
      seen.counts[i] = CompareTag(tag, keepFound);
    } else {
      seen.counts[i] = CompareTagInSlices(tag, records, have, keepFound);
    }
    total += seen.counts[i];
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
  // No header lock: a change in the middle (ours under the index lock, another
  // program's under its record's lock) is no disagreement once looked at again.
  const Disagreements standing = StandingDisagreements(kVerifyRecordWaitMs, 1);
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
