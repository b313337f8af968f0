// Index maintenance: opening the production index, its tags and their keys, and keeping
// every tag up to date with a changed record.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/bytes.hpp"
#include "common/text.hpp"
#include "dbengine/table.hpp"
#include "dbengine/table_internal.hpp"

namespace vz::db {

CdxOptions Table::IndexOptions() const {
  CdxOptions o;
  o.shared = options_.mode != ShareMode::kExclusive;
  o.durable = options_.durable;
  o.cachePages = options_.indexCachePages;
  o.lockTimeoutMs = options_.lockTimeoutMs;
  o.othersChanging = [this] { return LastRecordLocked(); };
  return o;
}

// Another xBase program appends under the header lock, locks the new record, lets the
// header lock go and then waits for the index lock to add the key: a locked last
// record is such an append (or a change of that record) on its way to the index. The
// record's number names it (0: none). A lock of that record this opener holds is its
// own, and is not touched: a lock asked for and let go on the same file would give it up.
std::uint64_t Table::LastRecordLocked() const {
  unsigned char count[4];
  if (file_->ReadAt(kDbfRecordCountOffset, count, sizeof count) != sizeof count) return 0;
  const std::uint32_t last = GetLE32(count);
  if (last == 0 || last >= kDbfLockBase) return 0;
  if (std::find(heldLocks_.begin(), heldLocks_.end(), RecordLockOffset(last)) != heldLocks_.end()) return 0;
  if (!file_->TryLock(RecordLockOffset(last), 1, LockKind::kShared)) return last;
  file_->Unlock(RecordLockOffset(last), 1);
  return 0;
}

void Table::OpenIndex(bool checkNow) {
  try {
    auto f = Fs().Open(indexPath_, options_.mode == ShareMode::kReadOnly ? OpenMode::kReadOnly : OpenMode::kReadWrite);
    const std::uint64_t size = f->Size();
    index_ = CdxIndex::Open(std::move(f), IndexOptions());
    LoadTags();
    // Only a rebuild cut short (by an older version, or another program) leaves a
    // production index without tags: the table's order and keys are gone with them.
    if (tags_.empty()) throw CdxDamaged("index damaged: the production index has no tags");
    if (checkNow) CountListedRecords();
    openCheckDue_ = checkNow && options_.deferIndexCheck;
    if (checkNow && !openCheckDue_) CheckSmallIndex(size);
  } catch (const CdxDamaged& e) {
    MendIndex(e);
  }
}

void Table::CheckSmallIndex(std::uint64_t indexBytes) {
  const std::uint64_t tableBytes = std::uint64_t{header_.recordCount} * header_.recordLength;
  if (indexBytes > options_.checkIndexOnOpenBytes) return;
  index_->Check();
  if (tableBytes <= options_.checkIndexOnOpenBytes) VerifyIndexAgainstRecords();
}

bool Table::CheckIndexAsOnOpen() {
  if (!openCheckDue_ || !index_) return false;
  openCheckDue_ = false;
  try {
    CheckSmallIndex(index_->GetFile().Size());
    return false;
  } catch (const CdxDamaged& e) {
    MendIndex(e);
    return true;
  }
}

// Earlier versions of this engine returned from a durable append once the record and
// its key were on the device, the count not yet: a power cut then left whole records
// past the count that the index lists. They were posted, and are counted again here
// (openers that may not write count them without writing). A record past the count
// that no tag lists was never posted.
void Table::CountListedRecords() {
  const std::uint64_t len = header_.recordLength;
  auto wholeRecordAfter = [&](std::uint32_t count) {
    return count < UINT32_MAX && file_->Size() >= header_.RecordOffset(count + 1) + len;
  };
  if (!wholeRecordAfter(header_.recordCount)) return;
  const bool readOnly = options_.mode == ShareMode::kReadOnly || !header_.Writable();
  FileLock headerLock(*this, kDbfLockBase, "the header", true, -1, readOnly ? LockKind::kShared : LockKind::kExclusive);
  if (!headerLock.Held()) return;
  ReadHeaderCount();
  std::uint32_t count = header_.recordCount;
  {
    CdxLock lock(*index_, LockKind::kShared);
    std::string rec(len, ' ');
    while (wholeRecordAfter(count)) {
      if (file_->ReadAt(header_.RecordOffset(count + 1), rec.data(), rec.size()) != rec.size()) break;
      if (!Listed(rec, count + 1)) break;
      ++count;
    }
  }
  if (count == header_.recordCount) return;
  if (readOnly) {
    countFloor_ = count;
  } else {
    const std::string dateCount = BuildDateAndCount(header_.date, count);
    file_->WriteAt(kDbfDateOffset, dateCount.data(), dateCount.size());
    if (options_.durable) file_->Flush();
  }
  header_.recordCount = count;
}

// Whether a tag lists the record under the key it gives (under the caller's index lock).
bool Table::Listed(std::string_view record, std::uint32_t recno) {
  for (const auto& tag : tags_) {
    const auto key = KeyOf(tag, record);
    if (!key) continue;
    CdxTag* t = index_->FindTag(tag.info.name);
    if (t && t->SeekEntry(*key, recno) == CdxEntry{*key, recno}) return true;
  }
  return false;
}

Table::TagState Table::CompileTag(const CdxTagInfo& info) const {
  TagState t;
  t.info = info;
  try {
    t.key = Expression::Compile(info.keyExpr, header_.fields);
    if (t.key.ResultType() != Expression::Type::kString) t.problem = "key \"" + info.keyExpr + "\" is not text";
    if (!info.forExpr.empty()) {
      t.cond = Expression::Compile(info.forExpr, header_.fields);
      if (t.cond.ResultType() != Expression::Type::kLogical)
        t.problem = "condition \"" + info.forExpr + "\" is not a condition";
    }
  } catch (const DbError& e) {
    t.problem = e.what();
  }
  return t;
}

void Table::LoadTags() {
  const std::string orderName = OrderTagName();
  ForgetAhead();
  tags_.clear();
  if (!index_) return;
  for (const auto& info : index_->Tags()) tags_.push_back(CompileTag(info));
  order_ = 0;
  if (!orderName.empty()) order_ = TagOrder(orderName);
}

void Table::RefreshTagsIfChanged() {
  const auto infos = index_->Tags();
  // The tags known here stay known, for the rebuild this damage calls for.
  if (infos.empty() && !tags_.empty()) throw CdxDamaged("index damaged: the production index has no tags");
  bool same = infos.size() == tags_.size();
  for (std::size_t i = 0; same && i < infos.size(); ++i)
    same = infos[i].name == tags_[i].info.name && infos[i].keyExpr == tags_[i].info.keyExpr &&
           infos[i].forExpr == tags_[i].info.forExpr && infos[i].keyLength == tags_[i].info.keyLength;
  if (!same) LoadTags();
}

std::optional<std::string> Table::KeyOf(const TagState& tag, std::string_view record) const {
  if (!tag.problem.empty()) return std::nullopt;
  if (!tag.cond.Empty() && !tag.cond.EvalBool(record)) return std::nullopt;
  std::string key = tag.key.EvalString(record);
  key.resize(static_cast<std::size_t>(tag.info.keyLength), ' ');
  return key;
}

// KeyOf(tag, record) == key, without building the key when it is one field.
bool Table::GivesKey(const TagState& tag, std::string_view record, std::string_view key) const {
  int offset = 0, width = 0;
  if (!tag.problem.empty() || !tag.key.IsField(offset, width)) return KeyOf(tag, record) == key;
  const auto kl = static_cast<std::size_t>(tag.info.keyLength);
  const auto off = static_cast<std::size_t>(offset);
  const std::size_t n = std::min(static_cast<std::size_t>(width), kl);
  if (key.size() != kl || off + n > record.size()) return KeyOf(tag, record) == key;
  if (!tag.cond.Empty() && !tag.cond.EvalBool(record)) return false;
  return record.compare(off, n, key.substr(0, n)) == 0 && key.find_first_not_of(' ', n) == std::string_view::npos;
}

std::vector<CdxTagInfo> Table::Tags() {
  std::vector<CdxTagInfo> out;
  for (const auto& t : tags_) out.push_back(t.info);
  return out;
}

std::uint32_t Table::IndexChangeCounter() {
  if (!index_) return 0;
  unsigned char counter[4];
  if (index_->GetFile().ReadAt(kCdxChangeCounterOffset, counter, sizeof counter) != sizeof counter) return 0;
  return GetBE32(counter);
}

int Table::TagOrder(std::string_view name) {
  const std::string upper = UpperAscii(name);
  for (std::size_t i = 0; i < tags_.size(); ++i)
    if (tags_[i].info.name == upper) return static_cast<int>(i) + 1;
  return 0;
}

std::string Table::OrderTagName() const {
  if (order_ <= 0 || static_cast<std::size_t>(order_) > tags_.size()) return {};
  return tags_[static_cast<std::size_t>(order_) - 1].info.name;
}

bool Table::HasOrderTag() const {
  return index_ && order_ > 0 && static_cast<std::size_t>(order_) <= tags_.size();
}

// Looks the tag up under the caller's index lock: outside one, the lookup would take
// and drop the lock (and re-read the index header) on its own.
CdxTag* Table::OrderTag() {
  if (!index_ || order_ <= 0 || static_cast<std::size_t>(order_) > tags_.size()) return nullptr;
  return index_->FindTag(tags_[static_cast<std::size_t>(order_) - 1].info.name);
}

bool Table::MaintainIndex(std::uint32_t recno, const std::string* oldRecord, const std::string& newRecord) {
  if (!index_) return false;
  ForgetAhead();
  bool inserted = false;
  WithIndex(
      [&] {
        CdxLock lock(*index_, LockKind::kExclusive);
        RefreshTagsIfChanged();
        for (const auto& tag : tags_) {
          if (!tag.problem.empty())
            throw DbError(Format("%s: record %u was saved, but tag %s cannot be kept up to date: %s", path_.c_str(),
                                 recno, tag.info.name.c_str(), tag.problem.c_str()));
          const auto oldKey = oldRecord ? KeyOf(tag, *oldRecord) : std::nullopt;
          const auto newKey = KeyOf(tag, newRecord);
          if (oldKey == newKey) continue;
          CdxTag* t = index_->FindTag(tag.info.name);
          if (!t) continue;
          if (oldKey) t->Remove(*oldKey, recno);
          if (newKey && t->Insert(*newKey, recno)) inserted = true;
        }
      },
      [&] {
        if (!index_)
          throw DbError(Format("%s: record %u was saved, but the index %s is damaged and could not be rebuilt (%s)",
                               path_.c_str(), recno, indexPath_.c_str(), MendFailure().c_str()));
        inserted = false;
      });
  return inserted;
}

}  // namespace vz::db
