#include "dbengine/cdx.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/bytes.hpp"
#include "dbengine/cdx_page.hpp"
#include "dbengine/cdx_store.hpp"
#include "dbengine/cdx_tree.hpp"
#include "dbengine/filesystem.hpp"

namespace vz::db {

bool CdxLess(const CdxEntry& a, const CdxEntry& b) {
  const int c = a.key.compare(b.key);
  if (c != 0) return c < 0;
  return a.recno < b.recno;
}

namespace {

using namespace cdx;

std::string NormalizeTagName(std::string_view name) {
  std::string n(name);
  for (char& c : n) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return n;
}

std::string DirectoryKey(const std::string& name) {
  std::string key = name;
  key.resize(kDirKeyLength, ' ');
  return key;
}

// Sorts a key block into tag order where it lies and hands its storage over. 12-byte
// items holding an 8-byte key prefix and the entry's position are put in order by a
// radix sort on four 16-bit digits; the keys then follow that order by walking the
// cycles of the permutation (each key moves once, one key of spare room); each run of
// equal prefixes is finished by comparing whole keys inside the (small, contiguous) run.
// Memory beside the block: the items, 12 bytes per entry, and a radix buffer the size
// of the largest bucket of equal leading two bytes.
#pragma pack(push, 4)
struct SortItem {
  std::uint64_t a;  // key bytes 0..7, big-endian
  std::uint32_t index;
};
#pragma pack(pop)
static_assert(sizeof(SortItem) == 12);

constexpr std::size_t kComparisonSortItems = 4096;

// Puts the items in order of their 8-byte prefixes (equal prefixes in any order).
void RadixSortItems(std::vector<SortItem>& items) {
  using Item = SortItem;
  // Most significant digit first, in place (each item swapped straight into its
  // bucket); then each bucket on its own: small ones by comparison, large ones by LSD
  // passes over the other three digits through a buffer only as large as the bucket.
  auto digit = [](const Item& it, int pass) -> std::uint32_t {
    return static_cast<std::uint32_t>(it.a >> (pass * 16)) & 0xFFFF;
  };
  auto less = [](const Item& x, const Item& y) { return x.a < y.a; };
  constexpr int kTopPass = 3;
  constexpr std::size_t kSmallBucket = 512;
  std::vector<std::uint32_t> count(65536);
  std::vector<std::size_t> bucketEnd(65536);
  {
    std::vector<std::size_t> next(65536);
    for (const Item& it : items) ++count[digit(it, kTopPass)];
    std::size_t sum = 0;
    for (std::size_t d = 0; d < 65536; ++d) {
      next[d] = sum;
      sum += count[d];
      bucketEnd[d] = sum;
    }
    for (std::size_t d = 0; d < 65536; ++d) {
      while (next[d] < bucketEnd[d]) {
        const std::uint32_t home = digit(items[next[d]], kTopPass);
        if (home == d)
          ++next[d];
        else
          std::swap(items[next[d]], items[next[home]++]);
      }
    }
  }
  std::vector<Item> tmp;
  std::size_t from = 0;
  for (std::size_t d = 0; d < 65536; ++d) {
    const std::size_t to = bucketEnd[d];
    const std::size_t m = to - from;
    Item* part = items.data() + from;
    if (m > 1 && m <= kSmallBucket) {
      std::sort(part, part + m, less);
    } else if (m > kSmallBucket) {
      tmp.resize(std::max(tmp.size(), m));
      Item* src = part;
      Item* dst = tmp.data();
      for (int pass = 0; pass < kTopPass; ++pass) {
        std::fill(count.begin(), count.end(), 0);
        for (std::size_t i = 0; i < m; ++i) ++count[digit(src[i], pass)];
        if (count[digit(src[0], pass)] == m) continue;  // one bucket: nothing moves
        std::uint32_t sum = 0;
        for (auto& c : count) {
          const std::uint32_t x = c;
          c = sum;
          sum += x;
        }
        for (std::size_t i = 0; i < m; ++i) dst[count[digit(src[i], pass)]++] = src[i];
        std::swap(src, dst);
      }
      if (src != part) std::copy(src, src + m, part);
    }
    from = to;
  }
}

// Each key's first eight bytes as one big-endian number, with the key's position.
std::vector<SortItem> PrefixItems(const CdxKeyBlock& block) {
  const std::size_t kl = static_cast<std::size_t>(block.keyLength);
  const std::size_t n = block.Size();
  std::vector<SortItem> items(n);
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char* k = block.keys.data() + i * kl;
    unsigned char prefix[8] = {};
    std::memcpy(prefix, k, std::min<std::size_t>(kl, 8));
    std::uint64_t a = 0;
    for (int j = 0; j < 8; ++j) a = (a << 8) | prefix[j];
    items[i] = SortItem{a, static_cast<std::uint32_t>(i)};
  }
  return items;
}

// Moves the keys and record numbers into the items' order, in place: position k takes
// the entry at items[k].index; a finished position points at itself.
void ApplyOrder(std::vector<SortItem>& items, CdxKeyBlock& block) {
  const std::size_t kl = static_cast<std::size_t>(block.keyLength);
  std::vector<unsigned char> spareKey(kl);
  unsigned char* keys = block.keys.data();
  std::uint32_t* recs = block.recnos.data();
  for (std::size_t k = 0; k < items.size(); ++k) {
    if (items[k].index == k) continue;
    std::memcpy(spareKey.data(), keys + k * kl, kl);
    const std::uint32_t spareRec = recs[k];
    std::size_t j = k;
    for (;;) {
      const std::size_t from = items[j].index;
      items[j].index = static_cast<std::uint32_t>(j);
      if (from == k) {
        std::memcpy(keys + j * kl, spareKey.data(), kl);
        recs[j] = spareRec;
        break;
      }
      std::memcpy(keys + j * kl, keys + from * kl, kl);
      recs[j] = recs[from];
      j = from;
    }
  }
}

// Sorts one run of entries sharing their first eight bytes (or the whole of a shorter
// key) by the rest of the key, then by record number.
void SortRun(CdxKeyBlock& block, std::size_t i, std::size_t m) {
  const std::size_t kl = static_cast<std::size_t>(block.keyLength);
  unsigned char* base = block.keys.data() + i * kl;
  std::uint32_t* rbase = block.recnos.data() + i;
  std::vector<std::uint32_t> order(m);
  for (std::size_t k = 0; k < m; ++k) order[k] = static_cast<std::uint32_t>(k);
  const std::size_t skip = std::min<std::size_t>(kl, 8);
  std::sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
    const int c = std::memcmp(base + x * kl + skip, base + y * kl + skip, kl - skip);
    if (c != 0) return c < 0;
    return rbase[x] < rbase[y];
  });
  const std::vector<unsigned char> runKeys(base, base + m * kl);
  const std::vector<std::uint32_t> runRecs(rbase, rbase + m);
  for (std::size_t k = 0; k < m; ++k) {
    std::memcpy(base + k * kl, runKeys.data() + order[k] * kl, kl);
    rbase[k] = runRecs[order[k]];
  }
}

// Keeps the first entry of every key (unique tags).
void DropRepeatedKeys(EntryList& sorted) {
  const std::size_t kl = static_cast<std::size_t>(sorted.keyLength);
  const std::size_t n = sorted.Size();
  std::size_t m = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (m > 0 && std::memcmp(sorted.Key(m - 1), sorted.Key(i), kl) == 0) continue;
    if (m != i) {
      std::memmove(sorted.keys.data() + m * kl, sorted.Key(i), kl);
      sorted.recnos[m] = sorted.recnos[i];
    }
    ++m;
  }
  sorted.keys.resize(m * kl);
  sorted.recnos.resize(m);
}

EntryList SortKeys(CdxKeyBlock& block, bool unique) {
  const std::size_t n = block.Size();
  std::vector<SortItem> items = PrefixItems(block);
  // A few thousand keys sort faster by comparison than the radix passes' tables fill.
  if (n <= kComparisonSortItems)
    std::sort(items.begin(), items.end(), [](const SortItem& x, const SortItem& y) { return x.a < y.a; });
  else
    RadixSortItems(items);
  ApplyOrder(items, block);
  for (std::size_t i = 0; i < n;) {
    std::size_t j = i + 1;
    while (j < n && items[j].a == items[i].a) ++j;
    if (j - i > 1) SortRun(block, i, j - i);
    i = j;
  }
  items.clear();
  items.shrink_to_fit();
  EntryList sorted;
  sorted.keyLength = block.keyLength;
  sorted.keys = std::move(block.keys);
  sorted.recnos = std::move(block.recnos);
  if (unique) DropRepeatedKeys(sorted);
  return sorted;
}

class IndexImpl;

class TagImpl : public CdxTag {
 public:
  TagImpl(IndexImpl& index, CdxTagInfo info, std::uint32_t header);
  const CdxTagInfo& Info() const override { return info_; }
  void SetTrailByte(char trail) override;
  bool Insert(std::string_view key, std::uint32_t recno) override;
  bool Remove(std::string_view key, std::uint32_t recno) override;
  std::optional<CdxEntry> First() override;
  std::optional<CdxEntry> Last() override;
  std::optional<CdxEntry> Next(const CdxEntry& current) override;
  std::optional<CdxEntry> Prev(const CdxEntry& current) override;
  std::optional<CdxEntry> Seek(std::string_view key) override;
  std::optional<CdxEntry> SeekEntry(std::string_view key, std::uint32_t recno) override;
  std::uint64_t Count() override;
  std::vector<std::uint32_t> RecNos() override;
  void Check() override;

  // Directory bookkeeping (under the index lock).
  void Reset(CdxTagInfo info, std::uint32_t header);
  std::uint32_t HeaderOffset() const { return header_; }
  bool present = true;
  std::string dirKey;  // the tag's key in the directory, as stored
  std::optional<std::uint64_t> count;
  std::uint64_t countGen = 0;
  Tree& Ready();
  std::uint64_t CheckPages(std::vector<std::uint32_t>& pages);

 private:
  IndexImpl& index_;
  CdxTagInfo info_;
  std::uint32_t header_;
  unsigned char trail_ = ' ';
  std::unique_ptr<Tree> tree_;
};

class IndexImpl : public CdxIndex {
 public:
  IndexImpl(std::unique_ptr<File> file, const CdxOptions& options)
      : file_(std::move(file)),
        options_(options),
        store_(*file_, options.cachePages, options.durable),
        dir_(store_, 0, kDirKeyLength, ' ', true) {}

  // Every call starts by trimming the cache, so that a long hold of the lock (a walk
  // through a whole tag) keeps memory bounded too.
  template <class F>
  auto ReadOp(F&& f) {
    CdxLock lock(*this, LockKind::kShared);
    store_.Trim();
    return f();
  }

  template <class F>
  decltype(auto) WriteOp(F&& f) {
    CdxLock lock(*this, LockKind::kExclusive);
    store_.Trim();
    try {
      decltype(auto) result = f();
      const bool bump = options_.shared && !bumped_ && store_.HasChanges();
      store_.Commit(bump);
      if (bump) bumped_ = true;
      knownCounter_ = GetBE32(store_.Get(0) + kHdrCounter);
      return result;
    } catch (...) {
      // Nothing of the failed update is kept in memory; what reached the file (if the
      // commit itself failed) carries the update mark and will read as damaged.
      store_.Discard();
      ++foreignGen_;
      mustRefresh_ = true;
      throw;
    }
  }

  std::vector<CdxTagInfo> Tags() override {
    return ReadOp([&] {
      EnsureDirectory();
      std::vector<CdxTagInfo> out;
      for (TagImpl* t : order_) out.push_back(t->Info());
      return out;
    });
  }

  CdxTag* FindTag(std::string_view name) override {
    return ReadOp([&]() -> CdxTag* {
      EnsureDirectory();
      return Lookup(NormalizeTagName(name));
    });
  }

  CdxTag& AddTag(const CdxTagInfo& info, std::vector<CdxEntry> entries) override {
    if (info.keyLength < 1 || info.keyLength > kMaxKeyLength) throw DbError("invalid index key length");
    CdxKeyBlock block(info.keyLength);
    block.Reserve(entries.size());
    for (const CdxEntry& e : entries) {
      if (e.key.size() != static_cast<std::size_t>(info.keyLength)) throw DbError("index key of wrong length");
      std::memcpy(block.Add(e.recno), e.key.data(), e.key.size());
    }
    entries.clear();
    entries.shrink_to_fit();
    return AddTagFromKeys(info, std::move(block));
  }

  CdxTag& AddTagFromKeys(const CdxTagInfo& given, CdxKeyBlock block) override {
    CdxTagInfo info = given;
    info.name = NormalizeTagName(info.name);
    if (info.name.empty() || info.name.size() > static_cast<std::size_t>(kDirKeyLength) ||
        info.name.find(' ') != std::string::npos) {
      throw DbError("invalid tag name \"" + given.name + "\"");
    }
    if (info.keyLength < 1 || info.keyLength > kMaxKeyLength) throw DbError("invalid index key length");
    if (kHdrExpressions + info.keyExpr.size() + info.forExpr.size() + 2 > kHeaderSize) {
      throw DbError("index expressions too long");
    }
    if (block.keyLength != info.keyLength || block.keys.size() != block.Size() * static_cast<std::size_t>(info.keyLength))
      throw DbError("index key of wrong length");
    const EntryList sorted = SortKeys(block, info.unique);
    return WriteOp([&]() -> CdxTag& {
      EnsureDirectory();
      TagImpl* old = Lookup(info.name);
      const unsigned char trail = static_cast<unsigned char>(info.trail);
      TagHeader h;
      h.keyLength = info.keyLength;
      h.options = TagOptions(info);
      h.descending = info.descending;
      h.keyExpr = info.keyExpr;
      h.forExpr = info.forExpr;
      const std::uint32_t at = BuildTree(store_, h, sorted, trail);
      const std::string dkey = DirectoryKey(info.name);
      if (old) {
        dir_.Remove(old->dirKey, old->HeaderOffset());
        FreeTagPages(old->HeaderOffset(), old->Info().keyLength);
      }
      if (!dir_.Insert(dkey, at)) throw CdxDamaged("index damaged: tag directory refuses the new tag");
      TagImpl* tag = old;
      if (tag) {
        tag->Reset(info, at);
        tag->SetTrailByte(info.trail);
      } else {
        tags_.push_back(std::make_unique<TagImpl>(*this, info, at));
        tag = tags_.back().get();
      }
      tag->count = sorted.Size();
      tag->countGen = foreignGen_;
      LoadDirectory();
      return *tag;
    });
  }

  bool RemoveTag(std::string_view name) override {
    return WriteOp([&] {
      EnsureDirectory();
      TagImpl* tag = Lookup(NormalizeTagName(name));
      if (!tag) return false;
      dir_.Remove(tag->dirKey, tag->HeaderOffset());
      FreeTagPages(tag->HeaderOffset(), tag->Info().keyLength);
      LoadDirectory();
      return true;
    });
  }

  void Check() override {
    ReadOp([&] {
      EnsureDirectory();
      std::vector<std::uint32_t> pages;
      dir_.Check(pages);
      for (TagImpl* t : order_) t->CheckPages(pages);
      std::sort(pages.begin(), pages.end());
      if (std::adjacent_find(pages.begin(), pages.end()) != pages.end()) {
        throw CdxDamaged("index damaged: a page belongs to two trees");
      }
      // Free list: inside the file, not in use, no loop.
      std::uint32_t off = GetLE32(store_.Get(0) + kHdrFreeList);
      std::vector<std::uint32_t> freePages;
      const std::uint64_t limit = store_.End() / kPageSize;
      while (off != 0 && off != kNone) {
        if (freePages.size() > limit) throw CdxDamaged("index damaged: free list loops");
        if (std::binary_search(pages.begin(), pages.end(), off)) {
          throw CdxDamaged("index damaged: page " + std::to_string(off) + " both free and in use");
        }
        freePages.push_back(off);
        off = GetLE32(store_.Get(off));
      }
      std::sort(freePages.begin(), freePages.end());
      if (std::adjacent_find(freePages.begin(), freePages.end()) != freePages.end()) {
        throw CdxDamaged("index damaged: free list loops");
      }
      return 0;
    });
  }

  void DeferSync() override { store_.DeferFlush(true); }
  bool SyncDeferred() override {
    store_.DeferFlush(false);
    return store_.FlushDeferred();
  }

  std::uint32_t ChangeCounter() const override { return knownCounter_; }
  std::size_t CachedPages() const override { return store_.CachedPages(); }
  File& GetFile() override { return *file_; }

  void WriteFresh() {
    if (options_.shared) TakeFileLock(LockKind::kExclusive);
    try {
      // A file built again over an old one continues its change counter, so that another
      // opener holding pages of the old file cannot take the new one for it.
      std::uint32_t counter = 0;
      unsigned char old[kHdrCounter + 4];
      if (file_->Size() >= sizeof old && file_->ReadAt(0, old, sizeof old) == sizeof old) {
        counter = GetBE32(old + kHdrCounter) + 1;
      }
      WriteEmptyFile(counter);
    } catch (...) {
      if (options_.shared) file_->Unlock(kCdxLockOffset, 1);
      throw;
    }
    if (options_.shared) file_->Unlock(kCdxLockOffset, 1);
    mustRefresh_ = true;
  }

  void BeginRebuild(const std::vector<CdxTagInfo>& tags) override {
    CdxLock lock(*this, LockKind::kExclusive, CdxLock::kUnchecked);
    // The counter straight from the file: the cached header may be stale or damaged.
    std::uint32_t counter = knownCounter_;
    unsigned char head[kPageSize];
    if (file_->ReadAt(0, head, kPageSize) == kPageSize) {
      counter = std::max(counter, GetBE32(head + kHdrCounter));
      // Marked first, its old directory still in place, so that an opener after a
      // crash in what follows knows the tags to build.
      PutLE32(head + kHdrUpdateMark, kRebuildMarkValue);
      file_->WriteAt(0, head, kPageSize);
      file_->Flush();
    }
    ++counter;
    const std::string layout = EmptyLayout(tags, counter);
    store_.Discard();
    file_->WriteAt(0, layout.data(), layout.size());
    file_->Truncate(layout.size());
    file_->Flush();
    store_.Reset();
    store_.SetIdleMark(kRebuildMarkValue);
    // The moved counter tells other openers to drop what they hold; this hold has
    // moved it already.
    knownCounter_ = counter;
    mustRefresh_ = false;
    bumped_ = true;
    ++foreignGen_;
  }

  void FinishRebuild() override {
    CdxLock lock(*this, LockKind::kExclusive);
    file_->Flush();
    unsigned char head[kPageSize];
    std::memcpy(head, store_.Get(0), kPageSize);
    PutLE32(head + kHdrUpdateMark, 0);
    store_.SetIdleMark(0);
    file_->WriteAt(0, head, kPageSize);
    file_->Flush();
    store_.Reset();
    ++foreignGen_;
  }

  // The mark goes through a header update of its own: the page store writes the
  // header with the mark set, flushing it when durable, and leaves the idle mark in
  // place after every update until the group ends.
  void MarkUpdating() override { SetGroupMark(kUpdateMarkValue); }
  void ClearUpdating() override { SetGroupMark(0); }

  void SetGroupMark(std::uint32_t mark) {
    WriteOp([&] {
      PutLE32(store_.Mutable(0) + kHdrUpdateMark, mark);
      store_.SetIdleMark(mark);
      return true;
    });
  }

  // A whole index file listing the tags with no entries, marked as being rebuilt:
  // built in memory so that it reaches the file in one write.
  static std::string EmptyLayout(const std::vector<CdxTagInfo>& tags, std::uint32_t counter) {
    MemoryFileSystem memory;
    CdxOptions o;
    o.shared = false;
    auto fresh = CdxIndex::Create(memory.Open("FRESH.CDX", OpenMode::kCreate), o);
    for (const CdxTagInfo& tag : tags) fresh->AddTag(tag, {});
    fresh.reset();
    std::string bytes = memory.Bytes("FRESH.CDX");
    auto* head = reinterpret_cast<unsigned char*>(bytes.data());
    PutBE32(head + kHdrCounter, counter);
    PutLE32(head + kHdrUpdateMark, kRebuildMarkValue);
    return bytes;
  }

  // Truncates the file to a header and an empty tag directory.
  void WriteEmptyFile(std::uint32_t counter) {
    unsigned char buf[kHeaderSize + kPageSize];
    TagHeader h;
    h.root = kHeaderSize;
    h.keyLength = kDirKeyLength;
    h.options = kOptCompact | kOptCompound | kOptDirectory;
    h.counter = counter;
    EncodeHeader(h, buf);
    EntryList none;
    none.keyLength = kDirKeyLength;
    EncodeLeaf(none, 0, 0, NodeHead{static_cast<std::uint16_t>(kAttrRoot | kAttrLeaf), 0, kNone, kNone}, ' ',
               buf + kHeaderSize);
    file_->Truncate(0);
    file_->WriteAt(0, buf, sizeof buf);
    if (options_.durable) file_->Flush();
  }

  // Readers' holds that overlap one another would keep the lock from ever being free
  // for a writer: a writer that has to wait holds the writer's byte meanwhile, and a
  // reader takes the lock only while that byte is free, so the readers drain and the
  // writer (ours, or another program's waiting beside it) comes in. The pauses stay
  // short so that a waiter notices a free lock soon after it is let go.
  void TakeFileLock(LockKind kind) {
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::milliseconds(options_.lockTimeoutMs);
    const auto yieldUntil = start + std::chrono::milliseconds(kMostYieldMs);
    bool announced = false;
    int pauseUs = kFirstLockPauseUs;
    for (;;) {
      if (kind == LockKind::kShared
              ? NoWriterWaits() && !OthersChanging(yieldUntil) && file_->TryLock(kCdxLockOffset, 1, kind)
              : file_->TryLock(kCdxLockOffset, 1, kind))
        break;
      if (kind == LockKind::kExclusive && !announced)
        announced = file_->TryLock(kCdxWriterWaitOffset, 1, LockKind::kExclusive);
      if (std::chrono::steady_clock::now() >= deadline) {
        if (announced) file_->Unlock(kCdxWriterWaitOffset, 1);
        throw DbError("index " + file_->Path() + " is locked by another user");
      }
      PauseBeforeNextTry(pauseUs);
    }
    if (announced) file_->Unlock(kCdxWriterWaitOffset, 1);
  }

  // Whether another program's change is still to go into the index: the same change
  // seen before with the counter moved since went in already, and one waited for
  // until `until` without that is not waited for again (its program may keep the
  // record locked for long, as while a person edits it).
  bool OthersChanging(std::chrono::steady_clock::time_point until) {
    if (!options_.othersChanging) return false;
    const std::uint64_t change = options_.othersChanging();
    if (change == 0 || change == othersPassed_) return false;
    unsigned char raw[4];
    if (file_->ReadAt(kCdxChangeCounterOffset, raw, sizeof raw) != sizeof raw) return false;
    const std::uint32_t counter = GetBE32(raw);
    if (change != othersChange_) {
      othersChange_ = change;
      othersCounter_ = counter;
    }
    if (counter != othersCounter_) return false;
    if (std::chrono::steady_clock::now() < until) return true;
    othersPassed_ = change;
    return false;
  }

  bool NoWriterWaits() {
    if (!file_->TryLock(kCdxWriterWaitOffset, 1, LockKind::kShared)) return false;
    file_->Unlock(kCdxWriterWaitOffset, 1);
    return true;
  }

  void EnsureDirectory() {
    if (loadedGen_ != foreignGen_) LoadDirectory();
  }

  void LoadDirectory() {
    loadedGen_ = 0;
    for (auto& t : tags_) t->present = false;
    order_.clear();
    const std::uint64_t limit = store_.End() / kPageSize;
    std::optional<CdxEntry> e = dir_.First();
    while (e) {
      if (order_.size() > limit) throw CdxDamaged("index damaged: tag directory loops");
      std::string name = e->key;
      while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
      const std::uint32_t at = e->recno;
      if (at % kPageSize != 0 || at < kHeaderSize || static_cast<std::uint64_t>(at) + kHeaderSize > store_.End()) {
        throw CdxDamaged("index damaged: tag header of " + name + " outside the file");
      }
      unsigned char raw[kHeaderSize];
      std::memcpy(raw, store_.Get(at), kPageSize);
      std::memcpy(raw + kPageSize, store_.Get(at + kPageSize), kPageSize);
      const TagHeader h = DecodeHeader(raw);
      CdxTagInfo info;
      info.name = NormalizeTagName(name);
      info.keyExpr = h.keyExpr;
      info.forExpr = h.forExpr;
      info.keyLength = h.keyLength;
      info.descending = h.descending;
      info.unique = (h.options & kOptUnique) != 0;
      TagImpl* tag = Lookup(info.name, true);
      if (tag) {
        if (tag->present) throw CdxDamaged("index damaged: tag " + info.name + " listed twice");
        if (tag->HeaderOffset() != at || tag->Info().keyLength != info.keyLength) tag->Reset(info, at);
        tag->present = true;
      } else {
        tags_.push_back(std::make_unique<TagImpl>(*this, info, at));
        tag = tags_.back().get();
      }
      tag->dirKey = e->key;
      order_.push_back(tag);
      e = dir_.LowerBound(Probe{e->key, static_cast<std::uint64_t>(e->recno) + 1});
    }
    loadedGen_ = foreignGen_;
  }

  TagImpl* Lookup(const std::string& name, bool includeAbsent = false) {
    for (auto& t : tags_) {
      if (t->Info().name == name && (includeAbsent || t->present)) return t.get();
    }
    return nullptr;
  }

  void FreeTagPages(std::uint32_t header, int keyLength) {
    std::vector<std::uint32_t> pages;
    try {
      Tree old(store_, header, keyLength, ' ', false);
      old.CollectPages(pages);
    } catch (const CdxDamaged&) {
      // A damaged tree's pages stay unused rather than risk freeing a live one.
      return;
    }
    for (std::uint32_t p : pages) store_.Release(p);
  }

  PageStore& Store() { return store_; }
  std::uint64_t ForeignGen() const { return foreignGen_; }

 protected:
  void AcquireLock(LockKind kind, bool check) override {
    if (lockDepth_ > 0) {
      if (kind == LockKind::kExclusive && held_ == LockKind::kShared) {
        if (options_.shared) {
          file_->Unlock(kCdxLockOffset, 1);
          try {
            TakeFileLock(LockKind::kExclusive);
          } catch (...) {
            TakeFileLock(LockKind::kShared);
            throw;
          }
          held_ = LockKind::kExclusive;
          Refresh();
        }
        held_ = LockKind::kExclusive;
      }
      ++lockDepth_;
      return;
    }
    if (options_.shared) TakeFileLock(kind);
    held_ = kind;
    bumped_ = false;
    if (!check) {
      mustRefresh_ = true;
      lockDepth_ = 1;
      return;
    }
    try {
      Refresh();
    } catch (...) {
      if (options_.shared) file_->Unlock(kCdxLockOffset, 1);
      throw;
    }
    lockDepth_ = 1;
  }

  void ReleaseLock() override {
    if (lockDepth_ == 0) return;
    if (--lockDepth_ > 0) return;
    if (options_.shared) {
      try {
        file_->Unlock(kCdxLockOffset, 1);
      } catch (...) {
        // Closing the file drops the lock anyway.
      }
    }
    store_.Trim();
  }

 private:
  // Under a freshly taken lock: drops cached pages when another writer changed the file,
  // and refuses an index whose last multi-page update never finished.
  void Refresh() {
    if (!options_.shared && !mustRefresh_) return;
    unsigned char page[kPageSize];
    if (file_->ReadAt(0, page, kPageSize) != kPageSize) throw CdxDamaged("index damaged: file too short");
    const std::uint32_t counter = GetBE32(page + kHdrCounter);
    if (mustRefresh_ || counter != knownCounter_) {
      store_.Reset();
      ++foreignGen_;
      knownCounter_ = counter;
      mustRefresh_ = false;
      if (store_.End() < kHeaderSize + kPageSize) throw CdxDamaged("index damaged: file too short");
      unsigned char raw[kHeaderSize];
      std::memcpy(raw, store_.Get(0), kPageSize);
      std::memcpy(raw + kPageSize, store_.Get(kPageSize), kPageSize);
      if (DecodeHeader(raw).keyLength != kDirKeyLength) {
        mustRefresh_ = true;
        throw CdxDamaged("index damaged: tag directory key length");
      }
    }
    if (options_.salvage) return;
    const std::uint32_t mark = GetLE32(page + kHdrUpdateMark);
    if (mark == kUpdateMarkValue || mark == kRebuildMarkValue) {
      mustRefresh_ = true;
      throw CdxDamaged(mark == kUpdateMarkValue ? "index damaged: an update was interrupted"
                                                : "index damaged: a rebuild was cut short");
    }
  }

  std::unique_ptr<File> file_;
  CdxOptions options_;
  std::uint64_t othersChange_ = 0;   // the other program's change last yielded to
  std::uint32_t othersCounter_ = 0;  // the change counter when it was first seen
  std::uint64_t othersPassed_ = 0;   // the change waited for in vain, not waited for again
  PageStore store_;
  Tree dir_;
  std::vector<std::unique_ptr<TagImpl>> tags_;
  std::vector<TagImpl*> order_;
  std::uint32_t knownCounter_ = 0;
  std::uint64_t foreignGen_ = 1;
  std::uint64_t loadedGen_ = 0;
  bool mustRefresh_ = true;
  int lockDepth_ = 0;
  LockKind held_ = LockKind::kShared;
  bool bumped_ = false;
};

TagImpl::TagImpl(IndexImpl& index, CdxTagInfo info, std::uint32_t header)
    : index_(index), trail_(static_cast<unsigned char>(info.trail)) {
  Reset(std::move(info), header);
}

void TagImpl::Reset(CdxTagInfo info, std::uint32_t header) {
  info_ = std::move(info);
  info_.trail = static_cast<char>(trail_);
  header_ = header;
  tree_ = std::make_unique<Tree>(index_.Store(), header, info_.keyLength, trail_, info_.unique);
  count.reset();
  present = true;
}

Tree& TagImpl::Ready() {
  index_.EnsureDirectory();
  if (!present) throw DbError("tag " + info_.name + " no longer exists");
  return *tree_;
}

void TagImpl::SetTrailByte(char trail) {
  trail_ = static_cast<unsigned char>(trail);
  info_.trail = trail;
  tree_->SetTrail(trail_);
}

bool TagImpl::Insert(std::string_view key, std::uint32_t recno) {
  return index_.WriteOp([&] {
    const bool done = Ready().Insert(key, recno);
    if (done && count && countGen == index_.ForeignGen()) ++*count;
    return done;
  });
}

bool TagImpl::Remove(std::string_view key, std::uint32_t recno) {
  return index_.WriteOp([&] {
    const bool done = Ready().Remove(key, recno);
    if (done && count && countGen == index_.ForeignGen()) --*count;
    return done;
  });
}

std::optional<CdxEntry> TagImpl::First() {
  return index_.ReadOp([&] { return Ready().First(); });
}

std::optional<CdxEntry> TagImpl::Last() {
  return index_.ReadOp([&] { return Ready().Last(); });
}

std::optional<CdxEntry> TagImpl::Next(const CdxEntry& current) {
  return index_.ReadOp([&] { return Ready().LowerBound(Probe{current.key, std::uint64_t{current.recno} + 1}); });
}

std::optional<CdxEntry> TagImpl::Prev(const CdxEntry& current) {
  return index_.ReadOp([&] { return Ready().Before(Probe{current.key, current.recno}); });
}

std::optional<CdxEntry> TagImpl::Seek(std::string_view key) {
  return index_.ReadOp([&] { return Ready().LowerBound(Probe{key, 0}); });
}

std::optional<CdxEntry> TagImpl::SeekEntry(std::string_view key, std::uint32_t recno) {
  return index_.ReadOp([&] { return Ready().LowerBound(Probe{key, recno}); });
}

std::uint64_t TagImpl::Count() {
  return index_.ReadOp([&] {
    Tree& t = Ready();
    if (!count || countGen != index_.ForeignGen()) {
      count = t.CountLeaves();
      countGen = index_.ForeignGen();
    }
    return *count;
  });
}

std::vector<std::uint32_t> TagImpl::RecNos() {
  return index_.ReadOp([&] { return Ready().RecNosInOrder(); });
}

std::uint64_t TagImpl::CheckPages(std::vector<std::uint32_t>& pages) {
  return Ready().Check(pages);
}

void TagImpl::Check() {
  index_.ReadOp([&] {
    std::vector<std::uint32_t> pages;
    return Ready().Check(pages);
  });
}

}  // namespace

std::unique_ptr<CdxIndex> CdxIndex::Open(std::unique_ptr<File> file, const CdxOptions& options) {
  auto index = std::make_unique<IndexImpl>(std::move(file), options);
  index->Tags();
  return index;
}

std::unique_ptr<CdxIndex> CdxIndex::OpenUnread(std::unique_ptr<File> file, const CdxOptions& options) {
  return std::make_unique<IndexImpl>(std::move(file), options);
}

std::unique_ptr<CdxIndex> CdxIndex::Create(std::unique_ptr<File> file, const CdxOptions& options) {
  auto index = std::make_unique<IndexImpl>(std::move(file), options);
  index->WriteFresh();
  index->Tags();
  return index;
}

void PauseBeforeNextTry(int& pauseUs) {
  std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
  pauseUs = std::min(pauseUs * 2, kMostLockPauseMs * 1000);
}

}  // namespace vz::db
