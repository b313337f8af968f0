// Opening, creating and closing a table.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/bytes.hpp"
#include "common/text.hpp"
#include "dbengine/table.hpp"
#include "dbengine/table_internal.hpp"

namespace vz::db {

Table::Table(std::string path, TableOptions options) : path_(std::move(path)), options_(std::move(options)) {
  if (!options_.today) options_.today = Today;
}

Table::~Table() {
  try {
    WriteAppendRun();
  } catch (const DbError&) {
    // Closing has no one to tell: the file counts none of the run, and stays whole.
  }
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

}  // namespace vz::db
