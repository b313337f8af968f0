// Locks: the record and header lock bytes, and the index lock taken before a change writes.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "common/bytes.hpp"
#include "common/text.hpp"
#include "dbengine/table.hpp"
#include "dbengine/table_internal.hpp"

namespace vz::db {

Table::FileLock::FileLock(Table& table, std::uint64_t offset, const std::string& what, bool optional, int waitMs,
                          LockKind kind)
    : table_(table), offset_(offset) {
  const ShareMode mode = table_.options_.mode;
  locks_ = mode == ShareMode::kShared || (mode == ShareMode::kReadOnly && kind == LockKind::kShared);
  if (!locks_) {
    held_ = true;
    return;
  }
  const int wait = waitMs >= 0 ? waitMs : table_.options_.lockTimeoutMs;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait);
  int pauseUs = 50;
  while (!table_.file_->TryLock(offset_, 1, kind)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      if (optional) return;
      throw DbError(what + " of " + table_.path_ + " is locked by another user");
    }
    PauseBeforeNextTry(pauseUs);
  }
  held_ = true;
  table_.heldLocks_.push_back(offset_);
}

Table::FileLock::~FileLock() {
  if (!held_ || !locks_) return;
  auto& held = table_.heldLocks_;
  held.erase(std::find(held.begin(), held.end(), offset_));
  table_.file_->Unlock(offset_, 1);
}

// The index lock is had before a change writes anything, so that a lock refused (an
// index being rebuilt elsewhere) leaves the table as it was; the tags are brought up
// to date under it, so a tag this engine cannot keep is refused before the write too,
// and the places the change's keys go are looked up, so that damage there is mended
// first. A damaged index that stays in place unmended refuses the change: going on
// would leave the record out of an index that other openers use.
std::unique_ptr<CdxLock> Table::LockIndexForChange(std::uint32_t recno, const std::string* oldRecord,
                                                   const std::string& newRecord) {
  for (int attempt = 0; index_ && attempt < 3; ++attempt) {
    try {
      auto lock = std::make_unique<CdxLock>(*index_, LockKind::kExclusive);
      RefreshTagsIfChanged();
      CheckWritable();
      ProbeKeys(recno, oldRecord, newRecord);
      return lock;
    } catch (const CdxDamaged& e) {
      MendIndex(e);
    }
  }
  if (index_ || (!damageReason_.empty() && Fs().Exists(indexPath_)))
    throw DbError(Format("%s: the index %s is damaged and could not be rebuilt (%s); nothing was changed",
                         path_.c_str(), indexPath_.c_str(), MendFailure().c_str()));
  return nullptr;
}

// Reads the way to where each of the change's keys goes or comes from in every tag.
void Table::ProbeKeys(std::uint32_t recno, const std::string* oldRecord, const std::string& newRecord) {
  for (const auto& tag : tags_) {
    CdxTag* t = index_->FindTag(tag.info.name);
    if (!t) continue;
    if (const auto key = KeyOf(tag, newRecord)) t->SeekEntry(*key, recno);
    if (!oldRecord) continue;
    if (const auto key = KeyOf(tag, *oldRecord)) t->SeekEntry(*key, recno);
  }
}

}  // namespace vz::db
