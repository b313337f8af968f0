#pragma once
// What the table's source files share and nothing outside them needs: the lock
// helpers, the tag state and the index error handling.
#include <chrono>
#include <thread>

#include "dbengine/table.hpp"

namespace vz::db {

// Whole-file lock range of the xBase scheme, held by an exclusive opener.
inline constexpr std::uint64_t kWholeFileLockOffset = 0x77FFFFFF;
inline constexpr std::uint64_t kWholeFileLockLength = 0x07FFFFFF;
// Bytes read at once when scanning the whole table (at least one record).
inline constexpr std::size_t kScanChunkBytes = 64 * 1024;

struct Table::TagState {
  CdxTagInfo info;
  Expression key;
  Expression cond;
  std::string problem;  // non-empty: the tag cannot be kept up to date by this engine
};

// One lock byte held for the duration of a change (shared mode only), or a shared
// hold that waits out another program's change (shared and read-only openers).
class Table::FileLock {
 public:
  // A lock that cannot be had within the wait throws, unless `optional`: then Held()
  // tells. Exclusive openers are alone with the file and lock nothing.
  FileLock(Table& table, std::uint64_t offset, const std::string& what, bool optional = false, int waitMs = -1,
           LockKind kind = LockKind::kExclusive);
  ~FileLock();
  bool Held() const { return held_; }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  Table& table_;
  std::uint64_t offset_;
  bool locks_ = false;
  bool held_ = false;
};

// One device flush of the index for all the tag updates of one change (durable mode):
// Finish makes it; a change that fails on the way ends the deferral without a word.
// Holds the table's index pointer by reference: mending may replace or drop the index.
class DeferredIndexSync {
 public:
  explicit DeferredIndexSync(std::unique_ptr<CdxIndex>& index) : index_(index) {
    if (index_) index_->DeferSync();
  }
  ~DeferredIndexSync() {
    try {
      if (!finished_ && index_) index_->SyncDeferred();
    } catch (const DbError&) {
      // The change is failing already and reports that.
    }
  }
  void Finish() {
    finished_ = true;
    if (index_) index_->SyncDeferred();
  }
  DeferredIndexSync(const DeferredIndexSync&) = delete;
  DeferredIndexSync& operator=(const DeferredIndexSync&) = delete;

 private:
  std::unique_ptr<CdxIndex>& index_;
  bool finished_ = false;
};

template <class F, class G>
auto Table::WithIndex(F&& f, G&& fallback) -> decltype(f()) {
  try {
    return f();
  } catch (const CdxDamaged& e) {
    MendIndex(e);
  }
  return fallback();
}

// A walk or seek that meets damage stops: going on in record order would show records
// twice, out of order, or deleted ones as live. A writable opener mends the index first,
// so the next walk can start again.
template <class F>
auto Table::WalkIndex(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const CdxDamaged& e) {
    MendIndex(e);
    throw DbError("the index " + indexPath_ + " is damaged: " + e.what());
  }
}

}  // namespace vz::db
