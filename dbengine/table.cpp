#include "dbengine/table.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/bytes.hpp"
#include "common/text.hpp"

namespace vz::db {

namespace {

// Whole-file lock range of the xBase scheme, held by an exclusive opener.
constexpr std::uint64_t kWholeFileLockOffset = 0x77FFFFFF;
constexpr std::uint64_t kWholeFileLockLength = 0x07FFFFFF;
// Bytes read at once when scanning the whole table (at least one record).
constexpr std::size_t kScanChunkBytes = 64 * 1024;
constexpr int kMaxKeyLength = 240;
constexpr int kVerifyLockWaitMs = 200;

bool ValidTagName(const std::string& name) {
  if (name.empty() || name.size() > 10) return false;
  for (char c : name)
    if (!(c == '_' || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  return name[0] >= 'A' && name[0] <= 'Z';
}

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

}  // namespace

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
           LockKind kind = LockKind::kExclusive)
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
      std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
      pauseUs = std::min(pauseUs * 2, 5000);
    }
    held_ = true;
  }
  ~FileLock() {
    if (held_ && locks_) table_.file_->Unlock(offset_, 1);
  }
  bool Held() const { return held_; }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  Table& table_;
  std::uint64_t offset_;
  bool locks_ = false;
  bool held_ = false;
};

Table::Table(std::string path, TableOptions options) : path_(std::move(path)), options_(std::move(options)) {
  if (!options_.today) options_.today = Today;
}

Table::~Table() {
  if (holdsExclusiveLock_ && file_) {
    file_->Unlock(kDbfLockBase, 1);
    file_->Unlock(kWholeFileLockOffset, kWholeFileLockLength);
  }
}

FileSystem& Table::Fs() const { return options_.fs ? *options_.fs : HostFileSystem(); }

std::string Table::ProductionIndexPath(const std::string& tablePath) {
  const auto dot = tablePath.find_last_of(".\\/:");
  const bool hasExt = dot != std::string::npos && tablePath[dot] == '.';
  const std::string base = hasExt ? tablePath.substr(0, dot) : tablePath;
  const std::string ext = hasExt ? tablePath.substr(dot + 1) : std::string();
  bool lower = !ext.empty();
  for (char c : ext)
    if (c >= 'A' && c <= 'Z') lower = false;
  return base + (lower ? ".cdx" : ".CDX");
}

void Table::Create(const std::string& path, const std::vector<DbfField>& fields, const TableOptions& options) {
  FileSystem& fs = options.fs ? *options.fs : HostFileSystem();
  const DbfHeader header = MakeDbfHeader(fields, options.today ? options.today() : Today());
  std::string bytes = BuildDbfHeader(header);
  bytes += static_cast<char>(kDbfEndOfFile);
  {
    auto file = fs.Open(path, OpenMode::kCreate);
    file->WriteAt(0, bytes.data(), bytes.size());
    if (options.durable) file->Flush();
  }
  // An index left from an earlier table of this name would describe other records.
  const std::string indexPath = ProductionIndexPath(path);
  if (fs.Exists(indexPath)) fs.Remove(indexPath);
}

std::unique_ptr<Table> Table::Open(const std::string& path, const TableOptions& options) {
  std::unique_ptr<Table> t(new Table(path, options));
  FileSystem& fs = t->Fs();
  t->file_ = fs.Open(path, options.mode == ShareMode::kReadOnly ? OpenMode::kReadOnly : OpenMode::kReadWrite);
  if (options.mode == ShareMode::kExclusive) {
    // The whole-file range covers every record lock; the header byte keeps appenders out.
    if (!t->file_->TryLock(kWholeFileLockOffset, kWholeFileLockLength, LockKind::kExclusive))
      throw DbError(path + " is in use by another user");
    if (!t->file_->TryLock(kDbfLockBase, 1, LockKind::kExclusive)) {
      t->file_->Unlock(kWholeFileLockOffset, kWholeFileLockLength);
      throw DbError(path + " is in use by another user");
    }
    t->holdsExclusiveLock_ = true;
  }
  // The header first, the size after it: an appender writes its record before the
  // count, so a size taken after the count covers every counted record. Taken the
  // other way round, an append landing in between looks like a table cut short.
  std::string bytes(kDbfPrefixSize, '\0');
  bytes.resize(t->file_->ReadAt(0, bytes.data(), bytes.size()));
  const std::size_t needed = DbfHeaderBytesNeeded(bytes);
  if (bytes.size() == kDbfPrefixSize && needed > kDbfPrefixSize) {
    bytes.resize(needed);
    bytes.resize(t->file_->ReadAt(0, bytes.data(), needed));
  }
  const std::uint64_t size = t->file_->Size();
  t->header_ = ParseDbfHeader(bytes, size, path);
  t->indexPath_ = ProductionIndexPath(path);
  if (fs.Exists(t->indexPath_)) t->OpenIndex(true);
  t->GoTop();
  return t;
}

bool Table::Writable() const { return options_.mode != ShareMode::kReadOnly && header_.Writable(); }

void Table::CheckWritable() const {
  if (options_.mode == ShareMode::kReadOnly) throw DbError(path_ + " is open read-only");
  if (!header_.Writable())
    throw DbError(Format("%s: tables of version 0x%02X or with memo or binary fields are read-only here",
                         path_.c_str(), header_.version));
  for (const auto& tag : tags_)
    if (!tag.problem.empty())
      throw DbError(path_ + ": tag " + tag.info.name + " cannot be kept up to date: " + tag.problem);
}

// ---- header and records ---------------------------------------------------------

void Table::ReadHeaderCount() {
  // An exclusive opener is alone with the file: the header it holds is the file's.
  if (options_.mode == ShareMode::kExclusive) return;
  unsigned char prefix[kDbfPrefixSize];
  if (file_->ReadAt(0, prefix, sizeof prefix) != sizeof prefix)
    throw DbfDamaged(path_ + " is not a sound table: the header was cut short");
  const std::string_view view(reinterpret_cast<const char*>(prefix), sizeof prefix);
  const std::uint16_t headerLength = static_cast<std::uint16_t>(DbfHeaderBytesNeeded(view));
  const std::uint16_t recordLength = GetLE16(prefix + kDbfRecordLengthOffset);
  if (headerLength != header_.headerLength || recordLength != header_.recordLength)
    throw DbfDamaged(path_ + " is not a sound table: its header changed while it was open");
  const std::uint32_t count = std::max(GetLE32(prefix + kDbfRecordCountOffset), countFloor_);
  // Sized after the count was read (see Open): every counted record lies within.
  const std::uint64_t size = file_->Size();
  const std::uint64_t room = size < header_.headerLength ? 0 : (size - header_.headerLength) / header_.recordLength;
  if (count > room)
    throw DbfDamaged(Format("%s is not a sound table: the header counts %u records but the file holds at most %llu",
                            path_.c_str(), count, static_cast<unsigned long long>(room)));
  header_.recordCount = count;
  SyncIndexWithHeader(prefix[kDbfTableFlagsOffset]);
}

// Another opener may have built the production index since we opened the table.
void Table::SyncIndexWithHeader(unsigned char flags) {
  header_.flags = flags;
  if (index_ || options_.mode == ShareMode::kExclusive || !(flags & kDbfFlagStructuralCdx)) return;
  if (Fs().Exists(indexPath_)) OpenIndex(false);
}

std::uint32_t Table::RecordCount() {
  ReadHeaderCount();
  return header_.recordCount;
}

std::string Table::ReadRecord(std::uint32_t recno) {
  if (recno == 0) throw DbError(path_ + ": there is no record 0");
  if (recno > header_.recordCount) ReadHeaderCount();
  if (recno > header_.recordCount) throw DbError(Format("%s: there is no record %u", path_.c_str(), recno));
  std::string rec(header_.recordLength, ' ');
  if (file_->ReadAt(header_.RecordOffset(recno), rec.data(), rec.size()) != rec.size())
    throw DbfDamaged(Format("%s is not a sound table: record %u is cut short", path_.c_str(), recno));
  return rec;
}

void Table::ScanRecords(const std::function<void(std::uint32_t, std::string_view)>& visit) {
  const std::uint32_t count = header_.recordCount;
  const std::size_t len = header_.recordLength;
  const auto perChunk = static_cast<std::uint32_t>(std::max<std::size_t>(1, kScanChunkBytes / len));
  std::string chunk;
  for (std::uint64_t at = 1; at <= count; at += perChunk) {
    const auto first = static_cast<std::uint32_t>(at);
    const std::uint32_t n = std::min<std::uint32_t>(perChunk, count - first + 1);
    chunk.resize(n * len);
    if (file_->ReadAt(header_.RecordOffset(first), chunk.data(), chunk.size()) != chunk.size())
      throw DbfDamaged(Format("%s is not a sound table: records from %u are cut short", path_.c_str(), first));
    for (std::uint32_t i = 0; i < n; ++i) visit(first + i, std::string_view(chunk).substr(i * len, len));
  }
}

unsigned char Table::ReadFlags() {
  unsigned char flags = 0;
  if (file_->ReadAt(kDbfTableFlagsOffset, &flags, 1) != 1) throw DbfDamaged(path_ + ": the header was cut short");
  return flags;
}

void Table::WriteFlags(unsigned char flags) {
  file_->WriteAt(kDbfTableFlagsOffset, &flags, 1);
  header_.flags = flags;
}

std::string Table::BlankRecord() const { return std::string(header_.recordLength, ' '); }

std::string Table::FieldText(int field) const {
  if (field < 0 || static_cast<std::size_t>(field) >= header_.fields.size())
    throw DbError(Format("%s: there is no field number %d", path_.c_str(), field + 1));
  const auto& f = header_.fields[static_cast<std::size_t>(field)];
  return record_.substr(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.width));
}

void Table::SetFieldText(std::string& record, int field, std::string_view text) const {
  if (field < 0 || static_cast<std::size_t>(field) >= header_.fields.size())
    throw DbError(Format("%s: there is no field number %d", path_.c_str(), field + 1));
  const auto& f = header_.fields[static_cast<std::size_t>(field)];
  if (text.size() > static_cast<std::size_t>(f.width))
    throw DbError(Format("%s: %zu characters do not fit field %s (%d wide)", path_.c_str(), text.size(),
                         f.name.c_str(), f.width));
  if (record.size() != header_.recordLength) record.resize(header_.recordLength, ' ');
  std::string padded(text);
  padded.resize(static_cast<std::size_t>(f.width), ' ');
  record.replace(static_cast<std::size_t>(f.offset), padded.size(), padded);
}

// ---- index ----------------------------------------------------------------------

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

CdxOptions Table::IndexOptions() const {
  CdxOptions o;
  o.shared = options_.mode != ShareMode::kExclusive;
  o.durable = options_.durable;
  o.cachePages = options_.indexCachePages;
  o.lockTimeoutMs = options_.lockTimeoutMs;
  return o;
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
    const std::uint64_t tableBytes = std::uint64_t{header_.recordCount} * header_.recordLength;
    if (checkNow && size <= options_.checkIndexOnOpenBytes) {
      index_->Check();
      if (tableBytes <= options_.checkIndexOnOpenBytes) VerifyIndexAgainstRecords();
    }
  } catch (const CdxDamaged& e) {
    MendIndex(e);
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

// The tags of an index found damaged: from its directory while that can be read (a
// rebuild cut short lists them under its mark), else as this opener last knew them.
std::vector<CdxTagInfo> Table::TagsOfDamagedIndex() {
  std::vector<CdxTagInfo> infos;
  try {
    if (index_) infos = index_->Tags();
  } catch (const DbError&) {
    // Read as it stands below.
  }
  if (infos.empty()) infos = SalvageTags(indexPath_);
  if (infos.empty())
    for (const auto& t : tags_) infos.push_back(t.info);
  return infos.empty() ? damagedTags_ : infos;
}

// The tag directory of an index file as it stands, marks of updates or rebuilds cut
// short ignored; empty when it cannot be read.
std::vector<CdxTagInfo> Table::SalvageTags(const std::string& path) {
  try {
    if (!Fs().Exists(path)) return {};
    CdxOptions o = IndexOptions();
    o.shared = false;
    o.salvage = true;
    return CdxIndex::Open(Fs().Open(path, OpenMode::kReadOnly), o)->Tags();
  } catch (const DbError&) {
    return {};
  }
}

// A writable opener keeps a copy of the damaged file as <index>.BAD and builds the
// index again in place, under the exclusive index lock: every other opener keeps the
// same file and carries on with the rebuilt index once it sees the counter move. When
// that cannot be done (read-only, tags unknown or not buildable here, the copy refused),
// the index is dropped by this opener; one whose directory could not be read at all is
// moved aside.
void Table::MendIndex(const CdxDamaged& e) {
  damageReason_ = e.what();
  mendFailure_.clear();
  const std::vector<CdxTagInfo> infos = TagsOfDamagedIndex();
  if (!infos.empty() && options_.mode != ShareMode::kReadOnly && header_.Writable()) {
    try {
      RebuildTags(&infos, true);
      damagedIndexPath_ = indexPath_ + ".BAD";
      damagedTags_.clear();
      return;
    } catch (const DbError& failure) {
      mendFailure_ = failure.what();
    }
  }
  damagedTags_ = infos;
  DropDamagedIndex(e);
}

// The index object is kept until no lock of a running change can refer to it.
void Table::DropDamagedIndex(const CdxDamaged& e) {
  const bool unreadable = !index_;
  if (index_) retired_.push_back(std::move(index_));
  tags_.clear();
  order_ = 0;
  entry_.reset();
  damageReason_ = e.what();
  damagedIndexPath_.clear();
  if (options_.mode == ShareMode::kReadOnly || !unreadable || !SalvageTags(indexPath_).empty()) return;
  try {
    Fs().Rename(indexPath_, indexPath_ + ".BAD");
    damagedIndexPath_ = indexPath_ + ".BAD";
  } catch (const DbError&) {
    // Someone else may have moved it already, or the system refuses: either way the
    // table goes on without the index.
  }
}

// Copies the index file as it is to <index>.BAD, under the caller's index lock.
void Table::KeepDamagedCopy() {
  File& from = index_->GetFile();
  auto to = Fs().Open(indexPath_ + ".BAD", OpenMode::kCreate);
  std::string chunk(kScanChunkBytes, '\0');
  for (std::uint64_t at = 0;; at += chunk.size()) {
    const std::size_t n = from.ReadAt(at, chunk.data(), chunk.size());
    if (n > 0) to->WriteAt(at, chunk.data(), n);
    if (n < chunk.size()) break;
  }
  to->Flush();
}

// Builds the given tags (nullptr: the index's own) again from the records, in the
// index file started afresh under one exclusive index lock, so that no opener sees
// the index in between, and marked as being rebuilt until every tag is in, so that a
// crash on the way is found out. The table is flushed first: the counts of the records
// whose keys go reach the device before the keys leave it. Without an index object
// (none yet, or its file unreadable) the file is taken up, or made, without reading
// it. Mending a damaged file also keeps a copy of it first, unless another opener
// changed the file since the damage was seen (it has mended it).
void Table::RebuildTags(const std::vector<CdxTagInfo>* given, bool mending) {
  std::vector<TagState> tags;
  if (given) tags = PrepareTags(*given);
  file_->Flush();
  const bool known = index_ != nullptr;
  if (!index_) {
    const bool exists = Fs().Exists(indexPath_);
    index_ = CdxIndex::OpenUnread(Fs().Open(indexPath_, exists ? OpenMode::kReadWrite : OpenMode::kCreate),
                                  IndexOptions());
  }
  std::unique_ptr<CdxLock> lock = mending || !known
                                      ? std::make_unique<CdxLock>(*index_, LockKind::kExclusive, CdxLock::kUnchecked)
                                      : std::make_unique<CdxLock>(*index_, LockKind::kExclusive);
  if (mending) {
    unsigned char head[12];
    if (known && index_->GetFile().ReadAt(0, head, sizeof head) == sizeof head &&
        GetBE32(head + kCdxChangeCounterOffset) != index_->ChangeCounter())
      return;
    KeepDamagedCopy();
  }
  if (!given) tags = PrepareTags(index_->Tags());
  if (tags.empty()) throw DbError(path_ + " has no production index to rebuild");
  std::vector<CdxTagInfo> infos;
  for (const TagState& tag : tags) infos.push_back(tag.info);
  ReadHeaderCount();
  index_->BeginRebuild(infos);
  for (const TagState& tag : tags) AddBuiltTag(tag);
  index_->FinishRebuild();
  MarkProductionIndex();
  LoadTags();
  entry_.reset();
}

std::vector<Table::TagState> Table::PrepareTags(const std::vector<CdxTagInfo>& infos) const {
  std::vector<TagState> tags;
  for (const auto& info : infos)
    tags.push_back(PrepareTag(IndexTagSpec{info.name, info.keyExpr, info.forExpr, info.descending, info.unique}));
  return tags;
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

const std::string& Table::MendFailure() const { return mendFailure_.empty() ? damageReason_ : mendFailure_; }

bool Table::MaintainIndex(std::uint32_t recno, const std::string* oldRecord, const std::string& newRecord) {
  if (!index_) return false;
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

std::vector<CdxEntry> Table::CollectEntries(const TagState& tag) {
  std::vector<CdxEntry> entries;
  entries.reserve(header_.recordCount);
  ScanRecords([&](std::uint32_t recno, std::string_view rec) {
    if (auto key = KeyOf(tag, rec)) entries.push_back({std::move(*key), recno});
  });
  return entries;
}

// The keys of a tag for a bulk build, written straight into one flat block: no string
// per record, and a key that is one field alone is copied rather than evaluated.
CdxKeyBlock Table::CollectKeys(const TagState& tag) {
  const std::size_t kl = static_cast<std::size_t>(tag.info.keyLength);
  CdxKeyBlock block(tag.info.keyLength);
  block.Reserve(header_.recordCount);
  int fieldOffset = 0, fieldWidth = 0;
  const bool plainField = tag.key.IsField(fieldOffset, fieldWidth);
  std::string key;
  ScanRecords([&](std::uint32_t recno, std::string_view rec) {
    if (!tag.cond.Empty() && !tag.cond.EvalBool(rec)) return;
    unsigned char* dst = block.Add(recno);
    std::string_view value;
    if (plainField) {
      const auto off = static_cast<std::size_t>(fieldOffset);
      if (off < rec.size()) value = rec.substr(off, static_cast<std::size_t>(fieldWidth));
    } else {
      key = tag.key.EvalString(rec);
      value = key;
    }
    const std::size_t n = std::min(value.size(), kl);
    std::memcpy(dst, value.data(), n);
    std::memset(dst + n, ' ', kl - n);
  });
  return block;
}

void Table::IndexTag(const IndexTagSpec& tagDef) { BuildTag(tagDef, true); }

Table::TagState Table::PrepareTag(const IndexTagSpec& tagDef) const {
  CdxTagInfo info;
  info.name = UpperAscii(tagDef.name);
  if (!ValidTagName(info.name)) throw DbError("tag name \"" + tagDef.name + "\" must have 1 to 10 letters, digits or '_'");
  info.keyExpr = tagDef.keyExpr;
  info.forExpr = tagDef.forExpr;
  info.descending = tagDef.descending;
  info.unique = tagDef.unique;
  TagState tag = CompileTag(info);
  if (!tag.problem.empty()) throw DbError("tag " + info.name + ": " + tag.problem);
  const int width = tag.key.Width();
  if (width < 1 || width > kMaxKeyLength)
    throw DbError(Format("tag %s: key \"%s\" is %d characters long; 1 to %d are possible", info.name.c_str(),
                         info.keyExpr.c_str(), width, kMaxKeyLength));
  tag.info.keyLength = width;
  return tag;
}

void Table::AddBuiltTag(const TagState& tag) {
  CdxKeyBlock keys = CollectKeys(tag);
  CdxLock lock(*index_, LockKind::kExclusive);
  index_->AddTagFromKeys(tag.info, std::move(keys));
}

void Table::BuildTag(const IndexTagSpec& tagDef, bool setOrder) {
  retired_.clear();
  CheckWritable();
  const TagState tag = PrepareTag(tagDef);

  FileLock headerLock(*this, kDbfLockBase, "the header");
  ReadHeaderCount();
  if (index_) {
    AddBuiltTag(tag);
    MarkProductionIndex();
    LoadTags();
  } else {
    const std::vector<CdxTagInfo> infos{tag.info};
    RebuildTags(&infos, false);
    damagedIndexPath_.clear();
    damagedTags_.clear();
  }
  if (setOrder) {
    order_ = TagOrder(tag.info.name);
    entry_.reset();
  }
}

void Table::MarkProductionIndex() {
  const unsigned char flags = ReadFlags();
  if (!(flags & kDbfFlagStructuralCdx)) WriteFlags(static_cast<unsigned char>(flags | kDbfFlagStructuralCdx));
}

// Every tag again from the records, in a file started afresh: rebuilding tags in
// place would leave their old pages behind as free space each time. Other openers
// wait for the index lock and then see only the finished tags. Without an index (it
// was damaged and set aside, or is missing) its tags go into a new file.
void Table::Reindex() {
  retired_.clear();
  CheckWritable();
  FileLock headerLock(*this, kDbfLockBase, "the header");
  ReadHeaderCount();
  if (!index_) {
    const std::vector<CdxTagInfo> infos = RebuildableTags();
    if (infos.empty()) throw DbError(path_ + " has no production index to rebuild");
    RebuildTags(&infos, false);
    damagedTags_.clear();
    return;
  }
  try {
    RebuildTags(nullptr, false);
  } catch (const CdxDamaged& e) {
    MendIndex(e);
    if (!index_) throw DbError(path_ + ": the index is damaged and could not be rebuilt: " + MendFailure());
  }
}

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
std::vector<CdxTagInfo> Table::RebuildableTags() {
  if (index_) return Tags();
  if (!damagedTags_.empty()) return damagedTags_;
  return SalvageTags(indexPath_ + ".BAD");
}

Table::RecordCountRepair Table::RepairRecordCount(const std::string& path, const TableOptions& options) {
  FileSystem& fs = options.fs ? *options.fs : HostFileSystem();
  auto file = fs.Open(path, OpenMode::kReadWrite);
  if (!file->TryLock(kWholeFileLockOffset, kWholeFileLockLength, LockKind::kExclusive))
    throw DbError(path + " is in use by another user");
  struct Unlock {
    File& f;
    ~Unlock() { f.Unlock(kWholeFileLockOffset, kWholeFileLockLength); }
  } unlock{*file};
  unsigned char prefix[kDbfPrefixSize];
  if (file->ReadAt(0, prefix, sizeof prefix) != sizeof prefix)
    throw DbfDamaged(path + " is not a sound table: the header was cut short");
  const std::string_view view(reinterpret_cast<const char*>(prefix), sizeof prefix);
  const std::size_t headerLength = DbfHeaderBytesNeeded(view);
  const std::uint16_t recordLength = GetLE16(prefix + kDbfRecordLengthOffset);
  if (headerLength <= kDbfPrefixSize || recordLength == 0)
    throw DbfDamaged(path + " is not a sound table: its header gives no record layout to count by");
  RecordCountRepair r;
  r.oldCount = GetLE32(prefix + kDbfRecordCountOffset);
  const std::uint64_t size = file->Size();
  const std::uint64_t whole = size < headerLength ? 0 : (size - headerLength) / recordLength;
  r.newCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(whole, r.oldCount));
  if (r.newCount == r.oldCount) return r;
  std::string header(headerLength, '\0');
  header.resize(file->ReadAt(0, header.data(), header.size()));
  r.headerCopy = path + ".HDR";
  {
    auto copy = fs.Open(r.headerCopy, OpenMode::kCreate);
    copy->WriteAt(0, header.data(), header.size());
    copy->Flush();
  }
  unsigned char count[4];
  PutLE32(count, r.newCount);
  file->WriteAt(kDbfRecordCountOffset, count, sizeof count);
  file->Flush();
  return r;
}

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
  const bool given = d.entry.recno <= header_.recordCount && KeyOf(tag, ReadRecord(d.entry.recno)) == d.entry.key;
  CdxTag* t = index_->FindTag(tag.info.name);
  const bool listed = t && t->SeekEntry(d.entry.key, d.entry.recno) == d.entry;
  return given != listed;
}

// Every tag compared with the records under one shared index lock; then, beside
// other writers, each disagreement looked at again on its own (see Persists). More
// than a few are no change in flight: those stand as they are.
Table::Disagreements Table::StandingDisagreements(int waitMs, std::size_t keep) {
  constexpr std::uint64_t kMostInFlight = 32;
  Disagreements seen;
  seen.counts.assign(tags_.size(), 0);
  std::uint64_t total = 0;
  {
    CdxLock lock(*index_, LockKind::kShared);
    ReadHeaderCount();
    for (std::size_t i = 0; i < tags_.size(); ++i) {
      const TagState& tag = tags_[i];
      if (!tag.problem.empty()) continue;
      seen.counts[i] = CompareTag(tag, [&](const Disagreement& d) {
        if (seen.found.size() < std::max<std::size_t>(keep, kMostInFlight)) seen.found.emplace_back(&tag, d);
      });
      total += seen.counts[i];
    }
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
  // Writers hold the header lock; when one holds it long, the comparison is skipped
  // rather than made against a table in the middle of a change.
  FileLock headerLock(*this, kDbfLockBase, "the header", true, kVerifyLockWaitMs);
  if (!headerLock.Held()) return;
  const Disagreements standing = StandingDisagreements(kVerifyLockWaitMs, 1);
  if (!standing.found.empty())
    throw CdxDamaged("the index disagrees with the table: " +
                     Describe(*standing.found.front().first, standing.found.front().second));
}

std::vector<std::string> Table::CheckIndex(std::size_t maxReports) {
  std::vector<std::string> problems;
  auto report = [&](const std::string& text) {
    if (problems.size() < maxReports) problems.push_back(text);
  };
  FileLock headerLock(*this, kDbfLockBase, "the header");
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

// ---- order, filter, count -------------------------------------------------------

void Table::SetOrder(int order) {
  if (order < 0 || static_cast<std::size_t>(order) > tags_.size())
    throw DbError(Format("%s: there is no tag number %d", path_.c_str(), order));
  order_ = order;
  entry_.reset();
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

// ---- navigation -----------------------------------------------------------------

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
  while (entry) {
    if (entry->recno >= 1 && entry->recno > header_.recordCount) ReadHeaderCount();
    if (entry->recno >= 1 && entry->recno <= header_.recordCount) {
      std::string rec = ReadRecord(entry->recno);
      if (KeyOf(state, rec) == entry->key && Passes(rec)) {
        SetCurrent(entry->recno, std::move(rec), entry);
        return true;
      }
    }
    entry = towardsNext ? tag->Next(*entry) : tag->Prev(*entry);
  }
  if (forward) SetEof();
  return false;
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
    const bool moved = WalkIndex(
        [&] {
          if (!HasOrderTag()) return NaturalForward(recno_ + 1);
          CdxLock lock(*index_, LockKind::kShared);
          CdxTag* tag = OrderTag();
          if (!tag) return NaturalForward(recno_ + 1);
          const auto here = CurrentEntry();
          const bool desc = tags_[static_cast<std::size_t>(order_) - 1].info.descending;
          return SettleForward(desc ? tag->Prev(*here) : tag->Next(*here));
        });
    if (!moved) return false;
  }
  for (; n < 0; ++n) {
    if (eof_) {
      if (!GoBottom()) return false;
      continue;
    }
    const bool moved = WalkIndex(
        [&] {
          if (!HasOrderTag()) return NaturalBackward(recno_ - 1);
          CdxLock lock(*index_, LockKind::kShared);
          CdxTag* tag = OrderTag();
          if (!tag) return NaturalBackward(recno_ - 1);
          const auto here = CurrentEntry();
          const bool desc = tags_[static_cast<std::size_t>(order_) - 1].info.descending;
          return SettleBackward(desc ? tag->Next(*here) : tag->Prev(*here));
        });
    if (!moved) {
      // Before the first record: stay on the first one, marked as beginning of file.
      GoTop();
      bof_ = true;
      return false;
    }
  }
  return !eof_;
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

// ---- changes --------------------------------------------------------------------

void Table::Flush() {
  file_->Flush();
  if (index_) index_->GetFile().Flush();
}

std::uint32_t Table::Append(const std::string& record) {
  retired_.clear();
  CheckWritable();
  if (record.size() != header_.recordLength)
    throw DbError(Format("%s: a record is %u bytes, not %zu", path_.c_str(), header_.recordLength, record.size()));
  FileLock headerLock(*this, kDbfLockBase, "the header");
  ReadHeaderCount();
  const std::uint32_t recno = header_.recordCount + 1;
  const std::uint64_t end = header_.RecordOffset(recno) + header_.recordLength + 1;
  if (recno == 0 || end >= RecordLockOffset(recno)) throw DbError(path_ + " is full");
  const auto indexLock = LockIndexForChange(recno, nullptr, record);
  // The record and the end marker first, the count after: a crash in between leaves
  // an uncounted record that the next append overwrites. The keys come last.
  std::string bytes = record;
  bytes += static_cast<char>(kDbfEndOfFile);
  file_->WriteAt(header_.RecordOffset(recno), bytes.data(), bytes.size());
  const DbfDate today = options_.today();
  const std::string dateCount = BuildDateAndCount(today, recno);
  file_->WriteAt(kDbfDateOffset, dateCount.data(), dateCount.size());
  header_.recordCount = recno;
  header_.date = today;
  // Durable: the record and its count reach the device in one flush, before any key
  // names the record; the index's flush then makes the change whole on the device as
  // any xBase program reads it. Two device flushes in all (more when a key update
  // spans pages).
  if (options_.durable) file_->Flush();
  DeferredIndexSync sync(index_);
  MaintainIndex(recno, nullptr, record);
  sync.Finish();
  return recno;
}

// Records written a chunk at a time, each chunk counted in the header after its
// records and end marker are written, as Append orders a single record.
void Table::WriteCountedChunks(const std::vector<std::string>& records, BatchProgress& progress) {
  constexpr std::size_t kChunkRecords = 16384;
  std::string bytes;
  while (progress.appended < records.size()) {
    const std::size_t n = std::min(kChunkRecords, records.size() - progress.appended);
    bytes.clear();
    for (std::size_t i = 0; i < n; ++i) bytes += records[progress.appended + i];
    bytes += static_cast<char>(kDbfEndOfFile);
    const std::uint32_t first = header_.recordCount + 1;
    file_->WriteAt(header_.RecordOffset(first), bytes.data(), bytes.size());
    const DbfDate today = options_.today();
    const std::uint32_t count = header_.recordCount + static_cast<std::uint32_t>(n);
    const std::string dateCount = BuildDateAndCount(today, count);
    file_->WriteAt(kDbfDateOffset, dateCount.data(), dateCount.size());
    header_.recordCount = count;
    header_.date = today;
    if (progress.appended == 0) progress.firstRecNo = first;
    progress.appended += n;
  }
}

void Table::AppendBatch(const std::vector<std::string>& records, BatchProgress& progress) {
  progress = {};
  retired_.clear();
  CheckWritable();
  for (const auto& record : records)
    if (record.size() != header_.recordLength)
      throw DbError(Format("%s: a record is %u bytes, not %zu", path_.c_str(), header_.recordLength, record.size()));
  if (records.empty()) return;
  FileLock headerLock(*this, kDbfLockBase, "the header");
  ReadHeaderCount();
  const std::uint64_t last = std::uint64_t{header_.recordCount} + records.size();
  if (last >= kDbfLockBase || header_.RecordOffset(static_cast<std::uint32_t>(last)) + header_.recordLength + 1 >=
                                  RecordLockOffset(static_cast<std::uint32_t>(last)))
    throw DbError(path_ + " is full");
  if (!index_) {
    WriteCountedChunks(records, progress);
    if (options_.durable) file_->Flush();
    return;
  }
  CdxLock indexLock(*index_, LockKind::kExclusive);
  const std::vector<TagState> tags = PrepareTags(index_->Tags());
  std::vector<CdxTagInfo> infos;
  for (const TagState& tag : tags) infos.push_back(tag.info);
  // The counts so far reach the device before the index is emptied.
  file_->Flush();
  index_->BeginRebuild(infos);
  auto buildTags = [&] {
    file_->Flush();
    for (const TagState& tag : tags) AddBuiltTag(tag);
    index_->FinishRebuild();
    LoadTags();
    entry_.reset();
  };
  try {
    WriteCountedChunks(records, progress);
  } catch (const DbError&) {
    try {
      buildTags();
    } catch (const DbError&) {
      // The index stays marked as being rebuilt: the next opener builds it.
    }
    throw;
  }
  buildTags();
}

void Table::Modify(std::uint32_t recno, const std::function<std::string(const std::string&)>& change) {
  retired_.clear();
  CheckWritable();
  if (recno == 0) throw DbError(path_ + ": there is no record 0");
  FileLock recordLock(*this, RecordLockOffset(recno), Format("record %u", recno));
  FileLock headerLock(*this, kDbfLockBase, "the header");
  ReadHeaderCount();
  const std::string oldRecord = ReadRecord(recno);
  const std::string newRecord = change(oldRecord);
  if (newRecord.size() != header_.recordLength)
    throw DbError(Format("%s: a record is %u bytes, not %zu", path_.c_str(), header_.recordLength, newRecord.size()));
  if (newRecord != oldRecord) {
    const auto indexLock = LockIndexForChange(recno, &oldRecord, newRecord);
    file_->WriteAt(header_.RecordOffset(recno), newRecord.data(), newRecord.size());
    const DbfDate today = options_.today();
    if (today.year != header_.date.year || today.month != header_.date.month || today.day != header_.date.day) {
      const std::string dateCount = BuildDateAndCount(today, header_.recordCount);
      file_->WriteAt(kDbfDateOffset, dateCount.data(), 3);
      header_.date = today;
    }
    if (options_.durable) file_->Flush();
    DeferredIndexSync sync(index_);
    MaintainIndex(recno, &oldRecord, newRecord);
    sync.Finish();
  }
  if (recno == recno_ && !eof_) {
    record_ = newRecord;
    entry_.reset();
  }
}

void Table::Update(std::uint32_t recno, const std::string& record) {
  Modify(recno, [&](const std::string&) { return record; });
}

void Table::Delete(std::uint32_t recno) {
  Modify(recno, [](const std::string& old) {
    std::string rec = old;
    rec[0] = kDbfDeleted;
    return rec;
  });
}

void Table::Recall(std::uint32_t recno) {
  Modify(recno, [](const std::string& old) {
    std::string rec = old;
    rec[0] = kDbfLive;
    return rec;
  });
}

}  // namespace vz::db
