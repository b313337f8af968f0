#pragma once
// Page cache of one CDX file. Pages are read through it and changed in it; Commit()
// writes the changed pages of one update. An update that touches more than one page
// first writes the update mark (and the change counter) into the file header, then the
// pages, then clears the mark: a writer that dies half way leaves the mark behind and the
// index reads as damaged instead of silently wrong.
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "dbengine/cdx_page.hpp"
#include "dbengine/file.hpp"

namespace vz::db::cdx {

class PageStore {
 public:
  PageStore(File& file, std::size_t capacity, bool durable);

  // Forgets every page and takes the file's size afresh.
  void Reset();
  // Read-only view of a page; valid until the next Trim/Reset/Discard. Throws CdxDamaged
  // for an offset that is not page aligned or lies outside the file.
  const unsigned char* Get(std::uint32_t offset);
  // The page, marked as changed by the running update.
  unsigned char* Mutable(std::uint32_t offset);
  // A zero-filled changed page whose old contents are not needed.
  unsigned char* Fresh(std::uint32_t offset);

  // A page for new use: the head of the free list (in the file header) or a new page at
  // the end of the file. The caller fills all of it.
  std::uint32_t Allocate();
  // Puts a page on the free list.
  void Release(std::uint32_t offset);

  // Offset for pages written directly (bulk builds), past everything cached; advances the end.
  std::uint32_t Reserve(std::uint64_t bytes);
  std::uint64_t End() const { return end_; }

  bool HasChanges() const { return !dirty_.empty(); }
  // Durable stores: while deferred, an update's last device flush (the one that makes it
  // lasting, after its pages or its cleared mark) is left to FlushDeferred, which makes
  // one for every update since. The flushes that order an update's steps stay.
  void DeferFlush(bool defer) { deferFlush_ = defer; }
  // Flushes when an update since the last flush is not yet on the device; returns
  // whether it did.
  bool FlushDeferred();
  // The update mark's value between updates: 0, or the rebuild mark while every tag
  // is being built again (an update then leaves that mark in place, not 0).
  void SetIdleMark(std::uint32_t mark) { idleMark_ = mark; }
  // Writes the running update's pages (see above); bumpCounter adds one to the change
  // counter in the same header write.
  void Commit(bool bumpCounter);
  // Drops the running update's changes (after a failure): nothing of it reaches the file.
  void Discard();
  // Evicts unchanged pages beyond the capacity, least recently used first.
  void Trim();
  // Changes whenever cached page contents may have changed (for decoded-page caches).
  std::uint64_t Generation() const { return generation_; }

  File& GetFile() { return file_; }
  std::size_t CachedPages() const { return slots_.size(); }

 private:
  struct Slot {
    unsigned char data[kPageSize];
    bool dirty = false;
    std::uint64_t lastUse = 0;
  };
  Slot& Load(std::uint32_t offset);
  void CheckOffset(std::uint32_t offset) const;
  void WriteRuns(std::vector<std::uint32_t> offsets);

  File& file_;
  std::size_t capacity_;
  bool durable_;
  bool deferFlush_ = false;
  bool unflushed_ = false;
  std::uint32_t idleMark_ = 0;
  std::uint64_t end_ = 0;
  std::uint64_t tick_ = 0;
  std::uint64_t generation_ = 1;
  std::unordered_map<std::uint32_t, Slot> slots_;
  std::vector<std::uint32_t> dirty_;
};

}  // namespace vz::db::cdx
