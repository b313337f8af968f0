#include "dbengine/cdx_store.hpp"

#include <algorithm>
#include <cstring>

#include "common/bytes.hpp"

namespace vz::db::cdx {

PageStore::PageStore(File& file, std::size_t capacity, bool durable)
    : file_(file), capacity_(std::max<std::size_t>(capacity, 16)), durable_(durable) {
  Reset();
}

void PageStore::Reset() {
  slots_.clear();
  dirty_.clear();
  ++generation_;
  end_ = file_.Size();
}

void PageStore::CheckOffset(std::uint32_t offset) const {
  if (offset % kPageSize != 0 || static_cast<std::uint64_t>(offset) + kPageSize > end_) {
    throw CdxDamaged("index damaged: page offset " + std::to_string(offset) + " outside the file");
  }
}

PageStore::Slot& PageStore::Load(std::uint32_t offset) {
  auto it = slots_.find(offset);
  if (it == slots_.end()) {
    CheckOffset(offset);
    Slot& s = slots_[offset];
    std::size_t got = 0;
    try {
      got = file_.ReadAt(offset, s.data, kPageSize);
    } catch (...) {
      slots_.erase(offset);
      throw;
    }
    if (got != kPageSize) {
      slots_.erase(offset);
      throw CdxDamaged("index damaged: file ends inside page " + std::to_string(offset));
    }
    it = slots_.find(offset);
  }
  it->second.lastUse = ++tick_;
  return it->second;
}

const unsigned char* PageStore::Get(std::uint32_t offset) { return Load(offset).data; }

unsigned char* PageStore::Mutable(std::uint32_t offset) {
  Slot& s = Load(offset);
  if (!s.dirty) {
    s.dirty = true;
    dirty_.push_back(offset);
  }
  ++generation_;
  return s.data;
}

unsigned char* PageStore::Fresh(std::uint32_t offset) {
  CheckOffset(offset);
  Slot& s = slots_[offset];
  std::memset(s.data, 0, kPageSize);
  s.lastUse = ++tick_;
  if (!s.dirty) {
    s.dirty = true;
    dirty_.push_back(offset);
  }
  ++generation_;
  return s.data;
}

std::uint32_t PageStore::Allocate() {
  const std::uint32_t head = GetLE32(Get(0) + kHdrFreeList);
  if (head != 0 && head != kNone) {
    if (head < kHeaderSize) throw CdxDamaged("index damaged: free list points into the header");
    const std::uint32_t next = GetLE32(Get(head));
    PutLE32(Mutable(0) + kHdrFreeList, next);
    Fresh(head);
    return head;
  }
  const std::uint32_t offset = Reserve(kPageSize);
  Fresh(offset);
  return offset;
}

void PageStore::Release(std::uint32_t offset) {
  if (offset < kHeaderSize) throw CdxDamaged("index damaged: freeing a header page");
  const std::uint32_t head = GetLE32(Get(0) + kHdrFreeList);
  PutLE32(Fresh(offset), head == kNone ? 0 : head);
  PutLE32(Mutable(0) + kHdrFreeList, offset);
}

std::uint32_t PageStore::Reserve(std::uint64_t bytes) {
  const std::uint64_t at = (end_ + kPageSize - 1) / kPageSize * kPageSize;
  if (at + bytes > 0xFFFFFE00ull) throw DbError("index file would exceed 4 GB");
  end_ = at + bytes;
  return static_cast<std::uint32_t>(at);
}

void PageStore::WriteRuns(std::vector<std::uint32_t> offsets) {
  std::sort(offsets.begin(), offsets.end());
  std::vector<unsigned char> run;
  std::size_t i = 0;
  while (i < offsets.size()) {
    std::size_t j = i + 1;
    while (j < offsets.size() && offsets[j] == offsets[j - 1] + kPageSize) ++j;
    if (j - i == 1) {
      file_.WriteAt(offsets[i], slots_.at(offsets[i]).data, kPageSize);
    } else {
      run.resize((j - i) * kPageSize);
      for (std::size_t k = i; k < j; ++k) {
        std::memcpy(run.data() + (k - i) * kPageSize, slots_.at(offsets[k]).data, kPageSize);
      }
      file_.WriteAt(offsets[i], run.data(), run.size());
    }
    i = j;
  }
}

void PageStore::Commit(bool bumpCounter) {
  if (dirty_.empty()) return;
  std::vector<std::uint32_t> others;
  bool headerChanged = false;
  for (std::uint32_t off : dirty_) {
    if (off == 0) {
      headerChanged = true;
    } else {
      others.push_back(off);
    }
  }
  const bool single = !headerChanged && others.size() <= 1;
  unsigned char* header = (bumpCounter || !single) ? Mutable(0) : nullptr;
  if (bumpCounter) PutBE32(header + kHdrCounter, GetBE32(header + kHdrCounter) + 1);
  if (single) {
    // One page: the counter goes first, so a reader never keeps a stale copy of the page
    // under an unchanged counter.
    if (bumpCounter) file_.WriteAt(0, header, kPageSize);
    WriteRuns(others);
  } else {
    PutLE32(header + kHdrUpdateMark, kUpdateMarkValue);
    file_.WriteAt(0, header, kPageSize);
    if (durable_) file_.Flush();
    WriteRuns(others);
    if (durable_) file_.Flush();
    // The update is on the device now; its mark's clearing goes with the next flush.
    // Until then a power cut leaves the mark set over a whole update: our next opener
    // rebuilds the index (losing nothing), other programs read it as it is.
    PutLE32(header + kHdrUpdateMark, idleMark_);
    file_.WriteAt(0, header, kPageSize);
  }
  if (durable_) {
    unflushed_ = single;
    if (!deferFlush_) FlushDeferred();
  }
  for (std::uint32_t off : dirty_) slots_.at(off).dirty = false;
  dirty_.clear();
}

bool PageStore::FlushDeferred() {
  if (!unflushed_) return false;
  file_.Flush();
  unflushed_ = false;
  return true;
}

void PageStore::Discard() {
  slots_.clear();
  dirty_.clear();
  ++generation_;
  end_ = file_.Size();
}

void PageStore::Trim() {
  if (slots_.size() <= capacity_) return;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> clean;
  clean.reserve(slots_.size());
  for (const auto& [off, s] : slots_) {
    if (!s.dirty) clean.emplace_back(s.lastUse, off);
  }
  const std::size_t keep = capacity_ * 3 / 4;
  const std::size_t drop = std::min(clean.size(), slots_.size() - keep);
  std::nth_element(clean.begin(), clean.begin() + static_cast<std::ptrdiff_t>(drop), clean.end());
  for (std::size_t i = 0; i < drop; ++i) slots_.erase(clean[i].second);
}

}  // namespace vz::db::cdx
