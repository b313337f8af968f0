// Batches small next to their table: the records appended with their keys under one
// hold of the header lock and of the index lock, the index kept in place.
#include <algorithm>

#include "common/text.hpp"
#include "dbengine/table.hpp"
#include "dbengine/table_internal.hpp"

namespace vz::db {

bool Table::BatchRebuildsTags(std::uint64_t existing, std::uint64_t adding) const {
  switch (options_.batchIndexing) {
    case BatchIndexing::kRebuild:
      return true;
    case BatchIndexing::kKeyByKey:
      return false;
    case BatchIndexing::kBySize:
      break;
  }
  return adding >= kSmallestRebuildBatch && adding * kKeyUpdateCostInBatchRecords >= existing + adding;
}

// The index lock first, as Append takes it, so that a lock refused or a tag this
// engine cannot keep leaves the table as it was. The mark then goes on before the
// first record, and comes off after the last key: a crash anywhere in between leaves
// counted records whose keys may be missing, and the mark that says so. The header
// lock is let go as soon as the records are counted; the index lock, held until the
// keys are in, keeps every reader of the index from seeing the count without them.
void Table::AppendWithKeys(const std::vector<std::string>& records, BatchProgress& progress,
                           std::optional<FileLock>& headerLock) {
  const auto indexLock = LockIndexForChange(header_.recordCount + 1, nullptr, records.front());
  if (!index_) {
    WriteCountedChunks(records, progress);
    if (options_.durable) file_->Flush();
    return;
  }
  for (const auto& tag : tags_)
    if (!tag.problem.empty())
      throw DbError(Format("%s: tag %s cannot be kept up to date: %s; nothing was appended", path_.c_str(),
                           tag.info.name.c_str(), tag.problem.c_str()));
  index_->MarkUpdating();
  try {
    WriteCountedChunks(records, progress);
    if (options_.durable) file_->Flush();
  } catch (const DbError&) {
    // A full disk: the chunks counted before it get their keys, and the mark comes off.
    headerLock.reset();
    try {
      KeepCountedKeys(records, progress);
    } catch (const DbError&) {
      // The mark stays: the next opener builds the index from the records.
    }
    throw;
  }
  headerLock.reset();
  KeepCountedKeys(records, progress);
}

void Table::KeepCountedKeys(const std::vector<std::string>& records, const BatchProgress& progress) {
  DeferredIndexSync sync(index_);
  WithIndex(
      [&] {
        InsertBatchKeys(records, progress);
        index_->ClearUpdating();
      },
      [&] {
        // Mended: the index was built again from the records, these included.
        if (!index_)
          throw DbError(Format("%s: records %u to %u were saved, but the index %s is damaged and could not be "
                               "rebuilt (%s)",
                               path_.c_str(), progress.firstRecNo,
                               progress.firstRecNo + static_cast<std::uint32_t>(progress.appended) - 1,
                               indexPath_.c_str(), MendFailure().c_str()));
      });
  sync.Finish();
}

// Each tag's keys in tag order, so that neighbouring keys find their pages cached.
void Table::InsertBatchKeys(const std::vector<std::string>& records, const BatchProgress& progress) {
  CdxLock lock(*index_, LockKind::kExclusive);
  ForgetAhead();
  for (const auto& tag : tags_) {
    CdxTag* t = index_->FindTag(tag.info.name);
    if (!t) continue;
    std::vector<CdxEntry> entries;
    entries.reserve(progress.appended);
    for (std::size_t i = 0; i < progress.appended; ++i)
      if (auto key = KeyOf(tag, records[i]))
        entries.push_back({std::move(*key), progress.firstRecNo + static_cast<std::uint32_t>(i)});
    std::sort(entries.begin(), entries.end(), CdxLess);
    for (const CdxEntry& e : entries) t->Insert(e.key, e.recno);
  }
}

}  // namespace vz::db
