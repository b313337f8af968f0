#pragma once
// Compound compact index (CDX): a file of 512-byte pages holding one B-tree per tag,
// plus a tag directory that is itself a compact B-tree of tag names.
//
// Keys are raw byte strings of exactly the tag's key length (the table turns field
// values into key bytes); order is binary on the key bytes, equal keys by record number.
// A descending tag is stored in the same ascending order and walked from the end by the
// table (the header only records the flag).
//
// Shared use: every public call takes the index lock for its own duration (shared for
// reads, exclusive for writes, on byte 0x7FFFFFFE of the index file) unless the caller
// already holds it through a CdxLock, which lets the table group several calls (for
// example Remove(old) + Insert(new) on every tag for one record) under one lock. A
// writer increments the change counter at header offset 8 once per exclusive hold; a
// reader that finds the counter changed drops its cached pages.
//
// Damage: any structural fault found while reading (offsets outside the file or not
// page aligned, counts, lengths or bit widths that do not fit a page, loops, keys out
// of order, interrupted updates) throws CdxDamaged. The table answers that by building
// the index again from the records.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/file.hpp"

namespace vz::db {

// The index file fails its structural checks; rebuilding it from the table mends it.
class CdxDamaged : public DbError {
 public:
  using DbError::DbError;
};

// One index entry: key bytes (exactly the tag's key length) and the record number (1-based).
struct CdxEntry {
  std::string key;
  std::uint32_t recno = 0;
  friend bool operator==(const CdxEntry&, const CdxEntry&) = default;
};

// Entries for a bulk build in compact form: key i is the keyLength bytes at
// keys[i * keyLength], its record number recnos[i]. Costs keyLength + 4 bytes per entry
// (a CdxEntry costs a string per key), and the build sorts it where it lies.
struct CdxKeyBlock {
  int keyLength = 0;
  std::vector<unsigned char> keys;
  std::vector<std::uint32_t> recnos;

  CdxKeyBlock() = default;
  explicit CdxKeyBlock(int length) : keyLength(length) {}
  std::size_t Size() const { return recnos.size(); }
  void Reserve(std::size_t n) {
    keys.reserve(n * static_cast<std::size_t>(keyLength));
    recnos.reserve(n);
  }
  // Room for one more key, keyLength bytes the caller fills; its record number is set.
  unsigned char* Add(std::uint32_t recno) {
    const std::size_t at = keys.size();
    keys.resize(at + static_cast<std::size_t>(keyLength));
    recnos.push_back(recno);
    return keys.data() + at;
  }
};

// Binary key order, then record number: the order of every tag.
bool CdxLess(const CdxEntry& a, const CdxEntry& b);

// What a tag's header says about it.
struct CdxTagInfo {
  std::string name;     // upper case, 1 to 10 characters
  std::string keyExpr;  // xBase key expression, e.g. "NAME"
  std::string forExpr;  // FOR condition, empty when none
  int keyLength = 0;    // 1 to 240
  bool descending = false;
  bool unique = false;  // only the first record of each key value is kept
  // Not stored in the file: the byte leaf compression counts as trailing (see
  // CdxTag::SetTrailByte). AddTag builds with it; tags read from a file start with ' '.
  char trail = ' ';
};

struct CdxOptions {
  // Shared opening: take the index lock around every access and watch the change
  // counter. Off for exclusive use (no locks, cache never dropped).
  bool shared = true;
  // Call File::Flush between the steps of a multi-page update (marker set, pages
  // written, marker cleared) so the order holds against power loss too, not only
  // against a crash of the process. Costs two device flushes per multi-page update.
  bool durable = false;
  // Pages kept in memory per index (clean pages; pages dirtied by the running update
  // are kept until it ends). Bounds memory whatever the index size.
  std::size_t cachePages = 256;
  // How long to wait for the index lock before throwing DbError.
  int lockTimeoutMs = 10000;
  // Shared use: another program's change on its way to the index lock, named by a
  // number other than 0 (0: none). Such a program waits for the lock in the kernel,
  // where nothing shows it: readers of this engine leave it the lock first, until the
  // index's change counter moves (it went in) or kMostYieldMs have passed.
  std::function<std::uint64_t()> othersChanging;
  // Reads an index whose update or rebuild was cut short as it stands, instead of
  // refusing it: for learning the tags a damaged index held. Never for writing.
  bool salvage = false;
};

class CdxIndex;

// One tag of an open index. Owned by its CdxIndex and valid until the index is closed:
// replacing the tag (AddTag with its name, here or by another opener) keeps the object;
// once the tag is removed its calls throw DbError.
class CdxTag {
 public:
  virtual ~CdxTag() = default;
  virtual const CdxTagInfo& Info() const = 0;

  // Byte that fills the end of short keys and that leaf compression counts as
  // "trailing": a blank for character keys (the default), 0x00 for binary keys
  // (numbers, dates). Not stored in the file: the table sets it from the key type.
  virtual void SetTrailByte(char trail) = 0;

  // Adds (key, recno). key must have exactly the key length. Returns false, changing
  // nothing, for a unique tag that already holds the key, or when the entry exists.
  virtual bool Insert(std::string_view key, std::uint32_t recno) = 0;
  // Removes (key, recno); false when there is no such entry.
  virtual bool Remove(std::string_view key, std::uint32_t recno) = 0;

  // Navigation. Each call looks the index up afresh (cheaply, from cached pages when
  // nothing changed), so an entry removed meanwhile by anyone is simply stepped over.
  virtual std::optional<CdxEntry> First() = 0;
  virtual std::optional<CdxEntry> Last() = 0;
  // The entry after / before `current` in tag order (current need not exist any more).
  virtual std::optional<CdxEntry> Next(const CdxEntry& current) = 0;
  virtual std::optional<CdxEntry> Prev(const CdxEntry& current) = 0;
  // First entry whose key is >= key (binary compare). A key shorter than the key
  // length finds the first entry starting with it, if any: the caller tests the
  // prefix (partial match) or compares the whole key (exact match).
  virtual std::optional<CdxEntry> Seek(std::string_view key) = 0;
  // First entry >= (key, recno): where record recno stands in tag order.
  virtual std::optional<CdxEntry> SeekEntry(std::string_view key, std::uint32_t recno) = 0;

  // Number of entries, from the index alone (the table is not read): the leaf level is read
  // once in large runs, then the figure is kept up to date by this opener's own changes
  // until another opener changes the file.
  virtual std::uint64_t Count() = 0;
  // The record numbers of all entries in tag order, read like Count: far cheaper than
  // stepping with Next when every entry is wanted.
  virtual std::vector<std::uint32_t> RecNos() = 0;

  // Verifies the tag's B-tree: page bounds, attributes, key order over the whole tag,
  // sibling links both ways, every interior entry equal to its child's last entry,
  // equal depth of all leaves, leaf bit widths, masks and free byte counts. Throws
  // CdxDamaged describing the first fault.
  virtual void Check() = 0;

 protected:
  CdxTag() = default;
};

class CdxIndex {
 public:
  virtual ~CdxIndex() = default;

  // Reads the header, the tag directory and every tag header. Throws CdxDamaged when
  // what it reads does not hold together (or an update was interrupted), DbError for I/O
  // or lock failures. Tag trees are checked as they are used; Check() checks them all.
  static std::unique_ptr<CdxIndex> Open(std::unique_ptr<File> file, const CdxOptions& options = {});
  // Writes a new compound index with no tags over `file` (its old contents are cut off;
  // the change counter continues from the old file's, so other openers notice).
  static std::unique_ptr<CdxIndex> Create(std::unique_ptr<File> file, const CdxOptions& options = {});
  // Opens an index without reading it, for a rebuild of a file that cannot be read.
  static std::unique_ptr<CdxIndex> OpenUnread(std::unique_ptr<File> file, const CdxOptions& options = {});

  // Tags in directory order (ascending by name); order numbers are 1-based positions.
  virtual std::vector<CdxTagInfo> Tags() = 0;
  // Case-insensitive lookup; nullptr when absent.
  virtual CdxTag* FindTag(std::string_view name) = 0;

  // Builds a tag from all its entries at once (sorting them, packing full leaves
  // bottom-up, then the interior levels) and enters it in the directory, replacing a tag
  // of the same name. `entries` holds one (key, recno) per record that passes the FOR
  // condition; keys must have exactly info.keyLength bytes. For a unique tag only the
  // lowest record number of each key is kept. Pages of a replaced tag go to the free list.
  virtual CdxTag& AddTag(const CdxTagInfo& info, std::vector<CdxEntry> entries) = 0;
  // The same from keys in compact form (block.keyLength must be info.keyLength): the
  // build needs little beyond the block itself, which it sorts in place.
  virtual CdxTag& AddTagFromKeys(const CdxTagInfo& info, CdxKeyBlock block) = 0;
  // Removes the tag and frees its pages; false when absent.
  virtual bool RemoveTag(std::string_view name) = 0;
  // A rebuild of every tag, all or nothing on the device, under an exclusive CdxLock
  // held from BeginRebuild to FinishRebuild. BeginRebuild marks the file as being
  // rebuilt (its old directory still readable) and flushes, then writes a fresh index
  // in one piece that lists the given tags, each still empty, under the same mark, and
  // flushes again; the tags are then filled with AddTag/AddTagFromKeys. FinishRebuild
  // flushes them and clears the mark. Until it has, every opener finds the index
  // damaged ("a rebuild was cut short") and can still read which tags it was to hold
  // (CdxOptions::salvage). The change counter goes on from the old file's, so other
  // openers drop what they hold. Reads nothing but the old counter, so it also mends
  // a damaged file (under a lock taken with CdxLock::kUnchecked).
  virtual void BeginRebuild(const std::vector<CdxTagInfo>& tags) = 0;
  virtual void FinishRebuild() = 0;

  // A group of updates that our openers must find whole or not at all (the keys of a
  // batch of appended records), under one exclusive CdxLock held from MarkUpdating to
  // ClearUpdating: the header carries the update mark in between, so that a crash
  // half way is found out by the next opener ("an update was interrupted"), which
  // builds the index again from the records. Durable indexes flush the mark before
  // the group's first page, and the group before the mark's clearing.
  virtual void MarkUpdating() = 0;
  virtual void ClearUpdating() = 0;

  // Check() of the directory and of every tag, plus the free page list (no loops, no
  // page both free and in use).
  virtual void Check() = 0;

  // Durable indexes: one device flush for a group of updates (the table's change of one
  // record over all its tags). After DeferSync each update still flushes between its
  // own steps, but leaves its last flush to SyncDeferred, which flushes once when any
  // update since wrote, ends the deferral and returns whether it flushed. Without the
  // durable option both do nothing.
  virtual void DeferSync() = 0;
  virtual bool SyncDeferred() = 0;

  // Pages held in the cache now (between calls: at most CdxOptions::cachePages).
  virtual std::size_t CachedPages() const = 0;
  // The change counter at header offset 8 as last read or written.
  virtual std::uint32_t ChangeCounter() const = 0;
  virtual File& GetFile() = 0;

 protected:
  CdxIndex() = default;
  friend class CdxLock;
  // `check`: refuse (CdxDamaged) an index that another writer left half updated.
  virtual void AcquireLock(LockKind kind, bool check) = 0;
  virtual void ReleaseLock() = 0;
};

// Holds the index lock over a group of calls (nestable). An exclusive request inside a
// shared hold upgrades it by releasing and retaking the lock, so another writer may come
// in between: take the exclusive lock first when reads and writes belong together.
// Writes done under an exclusive hold reach the file before each call returns; in shared
// mode the change counter moves once per outermost exclusive hold that changed something.
class CdxLock {
 public:
  // Taken to rebuild a damaged index: the lock is had without reading the file.
  enum Unchecked { kUnchecked };
  CdxLock(CdxIndex& index, LockKind kind) : index_(index) { index_.AcquireLock(kind, true); }
  CdxLock(CdxIndex& index, LockKind kind, Unchecked) : index_(index) { index_.AcquireLock(kind, false); }
  ~CdxLock() { index_.ReleaseLock(); }
  CdxLock(const CdxLock&) = delete;
  CdxLock& operator=(const CdxLock&) = delete;

 private:
  CdxIndex& index_;
};

// The index header's change counter (big-endian), moved by every writer.
inline constexpr std::uint64_t kCdxChangeCounterOffset = 8;

// Byte of the index file locked around every access in shared mode.
inline constexpr std::uint64_t kCdxLockOffset = 0x7FFFFFFE;
// Byte of the index file a writer of this engine holds while it waits for the index
// lock; readers of this engine wait while it is held (other programs ignore it).
inline constexpr std::uint64_t kCdxWriterWaitOffset = 0x7FFFFFFD;
// Longest pause between two tries of a lock held by someone else.
inline constexpr int kMostLockPauseMs = 5;
// The first pause, doubled at every try after it: the index lock is mostly held for
// well under a millisecond (a slice of a walk, a few keys).
inline constexpr int kFirstLockPauseUs = 100;
// The pause before the next try of a lock held by someone else: `pauseUs`, which then
// doubles up to kMostLockPauseMs.
void PauseBeforeNextTry(int& pauseUs);
// Longest a reader leaves the index lock to another program's change (CdxOptions::
// othersChanging) before it takes its turn all the same.
inline constexpr int kMostYieldMs = 5;

}  // namespace vz::db
