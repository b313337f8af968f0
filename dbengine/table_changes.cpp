// Changes: appends, batches of appends, updates, deletes and recalls.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/bytes.hpp"
#include "common/text.hpp"
#include "dbengine/table.hpp"
#include "dbengine/table_internal.hpp"

namespace vz::db {

void Table::Flush() {
  WriteAppendRun();
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
  if (CollectsAppends()) {
    appendRun_ += record;
    ++appendRunRecords_;
    header_.recordCount = recno;
    if (appendRun_.size() >= options_.appendRunBytes) WriteAppendRun();
    return recno;
  }
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

// An exclusive opener is alone with the file and no key names a record of the run, so
// nobody can see the records before their count is written; a durable change must be
// on the device when it returns.
bool Table::CollectsAppends() const {
  return options_.mode == ShareMode::kExclusive && !options_.durable && !index_ && options_.appendRunBytes > 0;
}

// The run's records and the end marker in one write, the count after them, as Append
// orders a single record. A run that fails is dropped: the file counts none of it.
void Table::WriteAppendRun() {
  if (appendRunRecords_ == 0) return;
  const std::uint32_t count = header_.recordCount;
  const std::uint32_t first = count - appendRunRecords_ + 1;
  appendRun_ += static_cast<char>(kDbfEndOfFile);
  try {
    file_->WriteAt(header_.RecordOffset(first), appendRun_.data(), appendRun_.size());
    const DbfDate today = options_.today();
    const std::string dateCount = BuildDateAndCount(today, count);
    file_->WriteAt(kDbfDateOffset, dateCount.data(), dateCount.size());
    header_.date = today;
  } catch (const DbError&) {
    header_.recordCount = first - 1;
    appendRun_.clear();
    appendRunRecords_ = 0;
    throw;
  }
  appendRun_.clear();
  appendRunRecords_ = 0;
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
  WriteAppendRun();
  std::optional<FileLock> headerLock;
  headerLock.emplace(*this, kDbfLockBase, "the header");
  ReadHeaderCount();
  const std::uint64_t last = std::uint64_t{header_.recordCount} + records.size();
  if (last >= kDbfLockBase || header_.RecordOffset(static_cast<std::uint32_t>(last)) + header_.recordLength + 1 >=
                                  RecordLockOffset(static_cast<std::uint32_t>(last)))
    throw DbError(path_ + " is full");
  if (index_ && !BatchRebuildsTags(header_.recordCount, records.size()))
    return AppendWithKeys(records, progress, headerLock);
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
  WriteAppendRun();
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
