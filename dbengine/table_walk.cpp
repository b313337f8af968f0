// Order, filter and navigation: walking the records in natural or tag order.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/bytes.hpp"
#include "common/text.hpp"
#include "dbengine/table.hpp"
#include "dbengine/table_internal.hpp"

namespace vz::db {

void Table::SetOrder(int order) {
  if (order < 0 || static_cast<std::size_t>(order) > tags_.size())
    throw DbError(Format("%s: there is no tag number %d", path_.c_str(), order));
  order_ = order;
  entry_.reset();
  ForgetAhead();
}

void Table::SetFilter(const std::string& expr) {
  bool blank = true;
  for (char c : expr)
    if (c != ' ') blank = false;
  if (blank) {
    filter_ = Expression();
    filterCanonical_.clear();
    return;
  }
  Expression e = Expression::Compile(expr, header_.fields);
  if (e.ResultType() != Expression::Type::kLogical) throw DbError("expression \"" + expr + "\" is not a condition");
  filter_ = std::move(e);
  filterCanonical_ = Expression::Canonical(expr);
}

bool Table::Passes(std::string_view record) const { return filter_.Empty() || filter_.EvalBool(record); }

std::uint64_t Table::CountVisible() {
  ReadHeaderCount();
  if (filter_.Empty()) return header_.recordCount;
  auto scan = [&]() -> std::uint64_t {
    std::uint64_t n = 0;
    ScanRecords([&](std::uint32_t, std::string_view rec) { n += Passes(rec) ? 1 : 0; });
    return n;
  };
  if (index_) {
    for (const auto& tag : tags_) {
      if (!tag.problem.empty() || tag.info.unique || tag.info.forExpr.empty()) continue;
      if (Expression::Canonical(tag.info.forExpr) != filterCanonical_) continue;
      const std::string name = tag.info.name;
      return WithIndex(
          [&]() -> std::uint64_t {
            CdxTag* t = index_->FindTag(name);
            if (!t) throw CdxDamaged("tag " + name + " vanished");
            return t->Count();
          },
          scan);
    }
  }
  return scan();
}

void Table::SetCurrent(std::uint32_t recno, std::string record, std::optional<CdxEntry> entry) {
  recno_ = recno;
  record_ = std::move(record);
  entry_ = std::move(entry);
  bof_ = eof_ = false;
}

void Table::SetEof() {
  recno_ = header_.recordCount + 1;
  record_ = BlankRecord();
  entry_.reset();
  eof_ = true;
}

bool Table::NaturalForward(std::uint32_t from) {
  if (from > header_.recordCount) ReadHeaderCount();
  for (std::uint64_t r = std::max<std::uint32_t>(from, 1); r <= header_.recordCount; ++r) {
    std::string rec = ReadRecord(static_cast<std::uint32_t>(r));
    if (Passes(rec)) {
      SetCurrent(static_cast<std::uint32_t>(r), std::move(rec), std::nullopt);
      return true;
    }
  }
  SetEof();
  return false;
}

bool Table::NaturalBackward(std::uint32_t from) {
  ReadHeaderCount();
  for (std::uint32_t r = std::min(from, header_.recordCount); r >= 1; --r) {
    std::string rec = ReadRecord(r);
    if (Passes(rec)) {
      SetCurrent(r, std::move(rec), std::nullopt);
      return true;
    }
  }
  return false;
}

// Walks tag entries from `entry`, in the order's forward or backward direction, until
// one names a record that exists, still gives that key (entries of records changed
// meanwhile are stepped over) and passes the filter. Running off the end forward is
// the end of the table.
bool Table::Settle(std::optional<CdxEntry> entry, bool forward) {
  CdxTag* tag = OrderTag();
  const TagState& state = tags_[static_cast<std::size_t>(order_) - 1];
  const bool towardsNext = forward != state.info.descending;
  if (forward) return SettleAhead(*tag, state, std::move(entry), towardsNext);
  for (; entry; entry = towardsNext ? tag->Next(*entry) : tag->Prev(*entry))
    if (Lands(state, *entry)) return true;
  return false;
}

// Whether the entry names a record that exists, still gives that key and passes the
// filter; that record becomes the current one.
bool Table::Lands(const TagState& state, const CdxEntry& entry) {
  if (entry.recno >= 1 && entry.recno > header_.recordCount) ReadHeaderCount();
  if (entry.recno < 1 || entry.recno > header_.recordCount) return false;
  ReadRecordInto(entry.recno, landing_);
  if (!GivesKey(state, landing_, entry.key) || !Passes(landing_)) return false;
  // As SetCurrent, keeping the buffers of the record and the key for the next ones.
  record_.swap(landing_);
  recno_ = entry.recno;
  entry_ = entry;
  bof_ = eof_ = false;
  return true;
}

// Forward, under the caller's index lock: the entries from `entry` on are read a
// batch at a time; the walk lands on the first that lands, the rest of the batch
// waits for the next Skip.
bool Table::SettleAhead(CdxTag& tag, const TagState& state, std::optional<CdxEntry> entry, bool towardsNext) {
  for (;;) {
    FillAhead(tag, std::move(entry), towardsNext);
    if (LandAhead(state)) return true;
    if (ahead_.toEnd) {
      ForgetAhead();
      SetEof();
      return false;
    }
    entry = towardsNext ? tag.Next(ahead_.entries.back()) : tag.Prev(ahead_.entries.back());
  }
}

void Table::FillAhead(CdxTag& tag, std::optional<CdxEntry> entry, bool towardsNext) {
  constexpr std::size_t kWalkAheadEntries = 128;
  ahead_.entries.clear();
  ahead_.next = 0;
  ahead_.order = order_;
  ahead_.counter = index_->ChangeCounter();
  ahead_.counterReadAt = options_.clock();
  for (; entry && ahead_.entries.size() < kWalkAheadEntries; entry = towardsNext ? tag.Next(*entry) : tag.Prev(*entry))
    ahead_.entries.push_back(*entry);
  ahead_.toEnd = !entry;
}

bool Table::LandAhead(const TagState& state) {
  while (ahead_.next < ahead_.entries.size())
    if (Lands(state, ahead_.entries[ahead_.next++])) return true;
  return false;
}

// The next Skip forward from the entries read ahead, without the index lock: it
// answers (whether it landed) only while the walk stands where they were read and the
// entries are current: any change of the index by any opener moves its change counter.
// The counter is read again once the one read last is older than kAheadTrusted: a
// Skip sees every change that ended that long before it, and a walk in a loop pays
// for that check about once a batch instead of once a record, as a Skip's own record
// read costs. An exclusive opener is alone, and forgets them at its own changes. When
// they run out, `resume` is the last one looked at.
std::optional<bool> Table::SkipAhead(std::optional<CdxEntry>& resume) {
  if (ahead_.next == 0 || ahead_.order != order_ || !entry_ || !(*entry_ == ahead_.entries[ahead_.next - 1]))
    return std::nullopt;
  if (!AheadStillCurrent()) {
    ForgetAhead();
    return std::nullopt;
  }
  if (LandAhead(tags_[static_cast<std::size_t>(order_) - 1])) return true;
  if (ahead_.toEnd) {
    ForgetAhead();
    SetEof();
    return false;
  }
  resume = ahead_.entries.back();
  return std::nullopt;
}

bool Table::AheadStillCurrent() {
  constexpr std::chrono::microseconds kAheadTrusted{1000};
  if (options_.mode == ShareMode::kExclusive) return true;
  const auto now = options_.clock();
  if (now - ahead_.counterReadAt < kAheadTrusted) return true;
  if (IndexChangeCounter() != ahead_.counter) return false;
  ahead_.counterReadAt = now;
  return true;
}

void Table::ForgetAhead() {
  ahead_.entries.clear();
  ahead_.next = 0;
}

bool Table::SettleForward(std::optional<CdxEntry> entry) { return Settle(std::move(entry), true); }

bool Table::SettleBackward(std::optional<CdxEntry> entry) { return Settle(std::move(entry), false); }

// Where the current record stands in the order's tag; a record without a key there
// (it fails the tag's condition) is placed by its key value all the same.
std::optional<CdxEntry> Table::CurrentEntry() {
  if (entry_) return entry_;
  const TagState& state = tags_[static_cast<std::size_t>(order_) - 1];
  std::string key = state.key.EvalString(record_);
  key.resize(static_cast<std::size_t>(state.info.keyLength), ' ');
  return CdxEntry{key, recno_};
}

bool Table::GoTop() {
  bof_ = false;
  const bool found = WalkIndex(
      [&] {
        if (!HasOrderTag()) return NaturalForward(1);
        CdxLock lock(*index_, LockKind::kShared);
        CdxTag* tag = OrderTag();
        if (!tag) return NaturalForward(1);
        return SettleForward(tags_[static_cast<std::size_t>(order_) - 1].info.descending ? tag->Last() : tag->First());
      });
  if (!found) bof_ = true;
  return found;
}

bool Table::GoBottom() {
  bof_ = false;
  const bool found = WalkIndex(
      [&] {
        if (!HasOrderTag()) return NaturalBackward(UINT32_MAX);
        CdxLock lock(*index_, LockKind::kShared);
        CdxTag* tag = OrderTag();
        if (!tag) return NaturalBackward(UINT32_MAX);
        return SettleBackward(tags_[static_cast<std::size_t>(order_) - 1].info.descending ? tag->First() : tag->Last());
      });
  if (!found) {
    SetEof();
    bof_ = true;
  }
  return found;
}

bool Table::Skip(long n) {
  if (n == 0) {
    Refresh();
    return !eof_;
  }
  for (; n > 0; --n) {
    if (eof_) return false;
    bof_ = false;
    if (!StepForward()) return false;
  }
  for (; n < 0; ++n) {
    if (eof_) {
      if (!GoBottom()) return false;
      continue;
    }
    if (!StepBackward()) {
      // Before the first record: stay on the first one, marked as beginning of file.
      GoTop();
      bof_ = true;
      return false;
    }
  }
  return !eof_;
}

bool Table::StepForward() {
  return WalkIndex([&] {
    if (!HasOrderTag()) return NaturalForward(recno_ + 1);
    std::optional<CdxEntry> resume;
    if (const auto landed = SkipAhead(resume)) return *landed;
    CdxLock lock(*index_, LockKind::kShared);
    CdxTag* tag = OrderTag();
    if (!tag) return NaturalForward(recno_ + 1);
    const auto here = resume ? resume : CurrentEntry();
    const bool desc = tags_[static_cast<std::size_t>(order_) - 1].info.descending;
    return SettleForward(desc ? tag->Prev(*here) : tag->Next(*here));
  });
}

bool Table::StepBackward() {
  return WalkIndex([&] {
    if (!HasOrderTag()) return NaturalBackward(recno_ - 1);
    CdxLock lock(*index_, LockKind::kShared);
    CdxTag* tag = OrderTag();
    if (!tag) return NaturalBackward(recno_ - 1);
    const auto here = CurrentEntry();
    const bool desc = tags_[static_cast<std::size_t>(order_) - 1].info.descending;
    return SettleBackward(desc ? tag->Next(*here) : tag->Prev(*here));
  });
}

bool Table::Go(std::uint32_t recno) {
  bof_ = false;
  if (recno > header_.recordCount) ReadHeaderCount();
  if (recno == 0 || recno > header_.recordCount) {
    SetEof();
    return false;
  }
  SetCurrent(recno, ReadRecord(recno), std::nullopt);
  return true;
}

std::vector<std::uint32_t> Table::OrderRecNos() {
  return WalkIndex(
      [&] {
        std::vector<std::uint32_t> out;
        if (!HasOrderTag()) return out;
        CdxLock lock(*index_, LockKind::kShared);
        CdxTag* tag = OrderTag();
        if (!tag) return out;
        out = tag->RecNos();
        if (tags_[static_cast<std::size_t>(order_) - 1].info.descending) std::reverse(out.begin(), out.end());
        return out;
      });
}

bool Table::Seek(std::string_view key) {
  bof_ = false;
  return WalkIndex(
      [&] {
        if (!HasOrderTag()) throw DbError(path_ + ": seeking needs an index order");
        CdxLock lock(*index_, LockKind::kShared);
        CdxTag* tag = OrderTag();
        if (!tag) throw DbError(path_ + ": seeking needs an index order");
        const TagState& state = tags_[static_cast<std::size_t>(order_) - 1];
        for (auto e = tag->Seek(key); e && e->key.compare(0, key.size(), key) == 0; e = tag->Next(*e)) {
          if (e->recno > header_.recordCount) ReadHeaderCount();
          if (e->recno < 1 || e->recno > header_.recordCount) continue;
          std::string rec = ReadRecord(e->recno);
          if (KeyOf(state, rec) == e->key && Passes(rec)) {
            SetCurrent(e->recno, std::move(rec), e);
            return true;
          }
        }
        SetEof();
        return false;
      });
}

void Table::Refresh() {
  ReadHeaderCount();
  if (!eof_ && recno_ >= 1 && recno_ <= header_.recordCount) {
    record_ = ReadRecord(recno_);
    entry_.reset();
  } else {
    SetEof();
  }
}

}  // namespace vz::db
