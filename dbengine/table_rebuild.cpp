// Rebuilds and repairs: building tags from the records, mending a damaged index, mending a record count.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/bytes.hpp"
#include "common/text.hpp"
#include "dbengine/table.hpp"
#include "dbengine/table_internal.hpp"

namespace vz::db {

namespace {

constexpr int kMaxKeyLength = 240;

bool ValidTagName(const std::string& name) {
  if (name.empty() || name.size() > 10) return false;
  for (char c : name)
    if (!(c == '_' || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  return name[0] >= 'A' && name[0] <= 'Z';
}

}  // namespace

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

const std::string& Table::MendFailure() const { return mendFailure_.empty() ? damageReason_ : mendFailure_; }

// The index object is kept until no lock of a running change can refer to it.
void Table::DropDamagedIndex(const CdxDamaged& e) {
  const bool unreadable = !index_;
  if (index_) retired_.push_back(std::move(index_));
  tags_.clear();
  ForgetAhead();
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
  WriteAppendRun();
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
  WriteAppendRun();
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

}  // namespace vz::db
