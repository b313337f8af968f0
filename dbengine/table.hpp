#pragma once
// An open DBF table with its production (structural) CDX index.
//
// The table keeps every tag of its production index up to date on append, change and
// delete; walks the records in natural or tag order, skipping those that fail the
// filter; and works shared with other openers (other processes, or other Table objects
// in this one) through the lock bytes other xBase programs use:
//   record n: one byte at 0x7FFFFFFE - n; header and append: one byte at 0x7FFFFFFE.
// Every change takes the record lock (when it changes an existing record), then the
// header lock, then the index lock, always in that order and all before it writes; it
// writes the record first, the header count after it and the index last, so a crash
// never leaves a counted record unwritten, and a refused lock changes nothing.
//
// A production index found damaged (on open or later) is copied to <index>.BAD and
// built again in place from the records; a damaged table is refused and never written.
// A rebuild is marked in the index from its start until every tag is in, so that a
// crash half way is found out like any other damage.
//
// A walk forward in tag order reads a batch of the tag's entries under one index lock
// and takes the next ones without the lock only while the index's change counter (read
// from the file at every step) is the one they were read under; records are read from
// the file at every step. An exclusive opener without an index collects its appends in
// runs (TableOptions::appendRunBytes), each written before the count that covers it.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/cdx.hpp"
#include "dbengine/dbf.hpp"
#include "dbengine/expr.hpp"
#include "dbengine/filesystem.hpp"

namespace vz::db {

enum class ShareMode { kShared, kReadOnly, kExclusive };

// How Table::AppendBatch keeps the tags: by the batch's size next to the table (see
// BatchRebuildsTags), or always one way.
enum class BatchIndexing { kBySize, kRebuild, kKeyByKey };

// Appending a record with its key costs about as much as this many records cost in a
// batch that builds the tags again (a record's write and read plus its share of the
// sort and the index write): bench/contacts measured 23 to 40 on these machines for
// phone books of 100,000 to 1,000,000 entries. The rebuild holds the other openers off
// for its whole length, so the lower part of that range is taken.
inline constexpr std::uint64_t kKeyUpdateCostInBatchRecords = 32;
// Batches below this many records always go key by key: either way takes milliseconds,
// and key by key leaves the index file in place for the other openers.
inline constexpr std::uint64_t kSmallestRebuildBatch = 256;

struct TableOptions {
  ShareMode mode = ShareMode::kShared;
  FileSystem* fs = nullptr;  // nullptr: the host's files
  // Date written into the header on every change.
  std::function<DbfDate()> today = Today;
  // The time a walk's entries read ahead were last known current (see SkipAhead).
  std::function<std::chrono::steady_clock::time_point()> clock = std::chrono::steady_clock::now;
  // How long a change waits for a record or header lock held by someone else.
  int lockTimeoutMs = 10000;
  // Every change is on the device before it returns, whole as any xBase program reads
  // it: the record and the header's count in one flush of the table, then its keys in
  // the index's flush. A key never reaches the device before its record and count.
  bool durable = false;
  // On open, verify every tag's tree when the index file is at most this large, and
  // compare every tag with the records when the records take at most this much too.
  std::uint64_t checkIndexOnOpenBytes = 4u << 20;
  // That check is left to CheckIndexAsOnOpen, for an opener that shows the table first.
  bool deferIndexCheck = false;
  // Index pages kept in memory (512 bytes each). 2048 holds every interior page of a
  // tag over a million 35-character keys, so a seek reads little beyond its leaf.
  std::size_t indexCachePages = 2048;
  BatchIndexing batchIndexing = BatchIndexing::kBySize;
  // An exclusive opener without an index and without the durable option collects the
  // records it appends in memory up to this many bytes, then writes them in one run,
  // the header's count after them; 0 writes every record when it is appended.
  std::size_t appendRunBytes = 1u << 20;
};

struct IndexTagSpec {
  std::string name;
  std::string keyExpr;
  std::string forExpr;  // empty: every record has a key
  bool descending = false;
  bool unique = false;
};

class Table {
 public:
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  // Writes a new empty table (no index); an existing file of that name is replaced.
  static void Create(const std::string& path, const std::vector<DbfField>& fields, const TableOptions& options = {});
  // Opens a table and its production index when present. Throws DbfDamaged for a
  // table that is not sound, DbError for other failures.
  static std::unique_ptr<Table> Open(const std::string& path, const TableOptions& options = {});

  // The production index's name: the table's base name with .CDX, or .cdx when the
  // table's extension is in lower case.
  static std::string ProductionIndexPath(const std::string& tablePath);

  const std::string& Path() const { return path_; }
  const DbfHeader& Header() const { return header_; }
  const std::vector<DbfField>& Fields() const { return header_.fields; }
  int FieldIndex(std::string_view name) const { return header_.FieldIndex(name); }
  ShareMode Mode() const { return options_.mode; }
  bool Writable() const;

  // Records in the file, re-read from the header (others' appends included).
  std::uint32_t RecordCount();
  // Every record counted now (deleted ones too, flag and all), in record order, read in
  // large runs: a pass over the whole table, not a walk that stands between records.
  void ForEachRecord(const std::function<void(std::uint32_t recno, std::string_view record)>& visit);

  // Production index.
  bool HasIndex() const { return index_ != nullptr; }
  const std::string& IndexPath() const { return indexPath_; }
  // Set when the index was found damaged (on open or later) and a copy of it kept at
  // (or, when it could not be read at all, the file moved to) this path.
  const std::string& DamagedIndexPath() const { return damagedIndexPath_; }
  const std::string& DamageReason() const { return damageReason_; }
  std::vector<CdxTagInfo> Tags();
  // The production index's change counter (header offset 8) as the file holds it now.
  // Every writer of the index, this engine or another, moves it: a reader that keeps
  // what it showed compares it to see whether anyone changed the table. 0 without an
  // index.
  std::uint32_t IndexChangeCounter();
  // Order number (1-based, directory order) of a tag; 0 when absent.
  int TagOrder(std::string_view name);
  // Builds (or rebuilds) a tag of the production index from all records, creating the
  // index when there is none; the new tag becomes the current order.
  void IndexTag(const IndexTagSpec& tagDef);
  // Builds every tag again from the records (a new index file with the same tags).
  // Without an index it builds the tags of RebuildableTags(); none known: DbError.
  void Reindex();
  // For a table without its index: the tags Reindex builds, from the damaged index as
  // last read or else from the directory of the copy set aside (<index>.BAD). Empty
  // when neither can be read.
  std::vector<CdxTagInfo> RebuildableTags();

  // What RepairRecordCount found and did.
  struct RecordCountRepair {
    std::uint32_t oldCount = 0;
    std::uint32_t newCount = 0;  // the whole records in the file
    std::string headerCopy;      // where the old header was kept; empty: nothing changed
  };
  // Mends a header whose record count exceeds the whole records in the file (written
  // so by another program, or a copy cut short): keeps a copy of the old header as
  // <table>.HDR, then sets the count to the whole records present. Needs the table to
  // itself (as an exclusive opener); leaves the index to the caller.
  static RecordCountRepair RepairRecordCount(const std::string& path, const TableOptions& options = {});
  // Compares every tag with the records: structure, then one entry per passing record
  // with the right key. Returns the disagreements in plain words (empty: all agree).
  std::vector<std::string> CheckIndex(std::size_t maxReports = 20);
  // The check an opener makes (see TableOptions::checkIndexOnOpenBytes), once: a
  // damaged index is mended as on open. True when it found damage.
  bool CheckIndexAsOnOpen();

  // Order: 0 natural, n the n-th tag.
  void SetOrder(int order);
  int Order() const { return order_; }
  std::string OrderTagName() const;

  // Filter: only passing records are visited. Empty text clears it.
  void SetFilter(const std::string& expr);
  const std::string& Filter() const { return filter_.Text(); }
  // Records passing the filter (all records without one). Counted from a tag whose
  // condition is the filter when there is one, without reading the table.
  std::uint64_t CountVisible();

  // Navigation; each returns whether a record is current afterwards.
  bool GoTop();
  bool GoBottom();
  bool Skip(long n = 1);
  bool Go(std::uint32_t recno);  // any record, filter or not
  // Seeks a key in the current order's tag (partial match on a shorter key).
  bool Seek(std::string_view key);
  // The record numbers of the current order's tag in order, from the index alone (no
  // record is read): what a grid addresses its rows by. Empty without an order tag; a
  // damaged index throws DbError, as a walk does.
  std::vector<std::uint32_t> OrderRecNos();
  std::uint32_t RecNo() const { return recno_; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  // The current record as stored (flag byte first); all blanks at end of file.
  const std::string& Record() const { return record_; }
  bool Deleted() const { return !record_.empty() && record_[0] == kDbfDeleted; }
  std::string FieldText(int field) const;  // stored text with its padding
  // Re-reads the current record and the record count from the file.
  void Refresh();

  // A record of all blanks (not deleted).
  std::string BlankRecord() const;
  // Puts text into a field of a record buffer, blank-padded; refuses longer text.
  void SetFieldText(std::string& record, int field, std::string_view text) const;

  // Pushes the table and its index to the device: for a batch of changes made without
  // the durable option, one flush at the end.
  void Flush();

  // Changes. Each reaches the file and every tag before it returns, except appends
  // collected for a run (see TableOptions::appendRunBytes): those are written by the
  // append that fills the run, by Flush, by any other call that reads or changes the
  // table, and on closing. The count in the header never runs ahead of the records
  // written: a crash loses at most the run being collected. A run that cannot be
  // written (a full disk) is reported by the call that writes it, except on closing;
  // its records are not in the table.
  std::uint32_t Append(const std::string& record);
  // Appends many records as one change, for bulk imports, in one of two ways (see
  // BatchRebuildsTags):
  // - small next to the table: under one hold of the header lock and of the index
  //   lock, the index is marked as being updated, the records are written and counted,
  //   the header lock is let go, and their keys go into every tag one by one before
  //   the mark is cleared. The index stays in place; other openers wait for it only
  //   while the keys go in.
  // - otherwise: the header lock is held throughout, the index is marked as being
  //   rebuilt and emptied, the records are written and counted in chunks, and every
  //   tag is then built again from all records in one sorted pass. Other openers wait
  //   for the index meanwhile.
  // Either way a crash on the way leaves the mark, so that the next opener finds it
  // out and builds the index from the records.
  // `progress` tells how many of `records` the header counts so far, from which record
  // number: when this throws (a full disk), those are in the table and, as far as the
  // index could be kept, in its tags; the others are not.
  struct BatchProgress {
    std::size_t appended = 0;
    std::uint32_t firstRecNo = 0;  // 0 until the first chunk is counted
  };
  void AppendBatch(const std::vector<std::string>& records, BatchProgress& progress);
  // Whether a batch of `adding` records joining `existing` ones builds the tags again
  // (rather than going key by key): with TableOptions::batchIndexing kBySize, when it
  // has at least kSmallestRebuildBatch records and a key update each would cost more
  // than reading and sorting all.
  bool BatchRebuildsTags(std::uint64_t existing, std::uint64_t adding) const;
  void Update(std::uint32_t recno, const std::string& record);
  void Delete(std::uint32_t recno);
  void Recall(std::uint32_t recno);

 private:
  struct TagState;
  class FileLock;
  Table(std::string path, TableOptions options);

  FileSystem& Fs() const;
  void ReadHeaderCount();
  std::string ReadRecord(std::uint32_t recno);
  void ReadRecordInto(std::uint32_t recno, std::string& rec);
  void OpenIndex(bool checkNow);
  void CountListedRecords();
  // The size-bounded checks of OpenIndex; CdxDamaged when they fail.
  void CheckSmallIndex(std::uint64_t indexBytes);
  bool Listed(std::string_view record, std::uint32_t recno);
  CdxOptions IndexOptions() const;
  std::uint64_t LastRecordLocked() const;
  std::vector<CdxTagInfo> TagsOfDamagedIndex();
  std::vector<CdxTagInfo> SalvageTags(const std::string& path);
  const std::string& MendFailure() const;
  void MendIndex(const CdxDamaged& e);
  void DropDamagedIndex(const CdxDamaged& e);
  void KeepDamagedCopy();
  void RebuildTags(const std::vector<CdxTagInfo>* given, bool mending);
  void MarkProductionIndex();
  void SyncIndexWithHeader(unsigned char flags);
  void LoadTags();
  TagState CompileTag(const CdxTagInfo& info) const;
  std::optional<std::string> KeyOf(const TagState& tag, std::string_view record) const;
  bool GivesKey(const TagState& tag, std::string_view record, std::string_view key) const;
  bool HasOrderTag() const;
  CdxTag* OrderTag();
  std::unique_ptr<CdxLock> LockIndexForChange(std::uint32_t recno, const std::string* oldRecord,
                                             const std::string& newRecord);
  void ProbeKeys(std::uint32_t recno, const std::string* oldRecord, const std::string& newRecord);
  // Brings every tag up to date with a changed record; returns whether a tag took the
  // record under its new key (false too when the index had to be mended).
  bool MaintainIndex(std::uint32_t recno, const std::string* oldRecord, const std::string& newRecord);
  std::vector<CdxEntry> CollectEntries(const TagState& tag);
  CdxKeyBlock CollectKeys(const TagState& tag);
  struct Disagreement;
  struct Disagreements;
  std::uint64_t CompareTag(const TagState& tag, const std::function<void(const Disagreement&)>& found);
  std::uint64_t CompareTagInSlices(const TagState& tag, std::string& records, std::uint32_t& have,
                                   const std::function<void(const Disagreement&)>& found);
  std::uint64_t ConfirmSuspects(const TagState& tag, std::vector<Disagreement>& suspects,
                                const std::function<void(const Disagreement&)>& found);
  void ExtendSnapshot(std::string& records, std::uint32_t& have);
  static std::string Describe(const TagState& tag, const Disagreement& d);
  bool Persists(const TagState& tag, const Disagreement& d, int waitMs);
  bool DisagreesNow(const TagState& tag, CdxTag* t, const CdxEntry& entry, std::string& rec);
  Disagreements StandingDisagreements(int waitMs, std::size_t keep);
  void VerifyIndexAgainstRecords();
  void BuildTag(const IndexTagSpec& tagDef, bool setOrder);
  // The tag's definition checked and compiled, with its key length worked out.
  TagState PrepareTag(const IndexTagSpec& tagDef) const;
  std::vector<TagState> PrepareTags(const std::vector<CdxTagInfo>& infos) const;
  // Collects the tag's keys from the records and writes the tag (replacing one of
  // the same name); the caller holds the header lock.
  void AddBuiltTag(const TagState& tag);
  unsigned char ReadFlags();
  void WriteFlags(unsigned char flags);
  bool Passes(std::string_view record) const;
  void SetCurrent(std::uint32_t recno, std::string record, std::optional<CdxEntry> entry);
  void SetEof();
  bool Settle(std::optional<CdxEntry> entry, bool forward);
  bool Lands(const TagState& tag, const CdxEntry& entry);
  bool SettleAhead(CdxTag& tag, const TagState& state, std::optional<CdxEntry> entry, bool towardsNext);
  void FillAhead(CdxTag& tag, std::optional<CdxEntry> entry, bool towardsNext);
  bool LandAhead(const TagState& state);
  std::optional<bool> SkipAhead(std::optional<CdxEntry>& resume);
  void ForgetAhead();
  bool AheadStillCurrent();
  bool SettleForward(std::optional<CdxEntry> entry);
  bool SettleBackward(std::optional<CdxEntry> entry);
  bool StepForward();
  bool StepBackward();
  bool NaturalForward(std::uint32_t from);
  bool NaturalBackward(std::uint32_t from);
  std::optional<CdxEntry> CurrentEntry();
  void CheckWritable() const;
  template <class F, class G>
  auto WithIndex(F&& f, G&& fallback) -> decltype(f());
  template <class F>
  auto WalkIndex(F&& f) -> decltype(f());
  void ScanRecords(const std::function<void(std::uint32_t, std::string_view)>& visit);
  void RefreshTagsIfChanged();
  void Modify(std::uint32_t recno, const std::function<std::string(const std::string&)>& change);
  void WriteCountedChunks(const std::vector<std::string>& records, BatchProgress& progress);
  // The small batch's way (see AppendBatch); the caller holds the header lock in
  // `headerLock` and has checked the records.
  void AppendWithKeys(const std::vector<std::string>& records, BatchProgress& progress,
                      std::optional<FileLock>& headerLock);
  // The keys of the batch's records counted so far into every tag, then the mark off.
  void KeepCountedKeys(const std::vector<std::string>& records, const BatchProgress& progress);
  void InsertBatchKeys(const std::vector<std::string>& records, const BatchProgress& progress);
  bool CollectsAppends() const;
  void WriteAppendRun();

  std::string path_;
  TableOptions options_;
  bool openCheckDue_ = false;  // deferred by TableOptions::deferIndexCheck
  // The record and header lock bytes this opener holds now (FileLock).
  std::vector<std::uint64_t> heldLocks_;
  std::unique_ptr<File> file_;
  DbfHeader header_;
  std::string indexPath_;
  std::string damagedIndexPath_;
  std::string damageReason_;
  // Why the last mend of a damaged index failed; empty when it did not.
  std::string mendFailure_;
  std::vector<CdxTagInfo> damagedTags_;
  bool holdsExclusiveLock_ = false;
  // Records past the header's count that the index showed posted (read-only openers,
  // which cannot write the count).
  std::uint32_t countFloor_ = 0;
  std::unique_ptr<CdxIndex> index_;
  // Appended records not yet written (an exclusive opener's run), the last of them
  // record header_.recordCount; the file's count is that less appendRunRecords_.
  std::string appendRun_;
  std::uint32_t appendRunRecords_ = 0;
  // Indexes dropped as damaged while a change may still hold their lock; released
  // when the next change starts.
  std::vector<std::unique_ptr<CdxIndex>> retired_;
  std::vector<TagState> tags_;
  int order_ = 0;
  Expression filter_;
  std::string filterCanonical_;

  // Tag entries read under the index lock past the one a forward walk landed on, for
  // the next Skip forward to take without the lock while the index's change counter
  // shows it unchanged. Records are read afresh every time.
  struct WalkAhead {
    std::vector<CdxEntry> entries;
    std::size_t next = 0;  // the first not looked at yet
    bool toEnd = false;    // the last one is the tag's last in the walk's direction
    std::uint32_t counter = 0;
    std::chrono::steady_clock::time_point counterReadAt;
    int order = 0;
  };
  WalkAhead ahead_;

  std::uint32_t recno_ = 0;
  std::string record_;
  // The record a walk looks at before it lands on it (its buffer kept between records).
  std::string landing_;
  std::optional<CdxEntry> entry_;
  bool bof_ = true;
  bool eof_ = true;
};

}  // namespace vz::db
