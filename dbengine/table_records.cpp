// The table header and its records: reading the count, records and fields.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/bytes.hpp"
#include "common/text.hpp"
#include "dbengine/table.hpp"
#include "dbengine/table_internal.hpp"

namespace vz::db {

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
  std::string rec;
  ReadRecordInto(recno, rec);
  return rec;
}

void Table::ReadRecordInto(std::uint32_t recno, std::string& rec) {
  if (recno == 0) throw DbError(path_ + ": there is no record 0");
  WriteAppendRun();
  if (recno > header_.recordCount) ReadHeaderCount();
  if (recno > header_.recordCount) throw DbError(Format("%s: there is no record %u", path_.c_str(), recno));
  rec.resize(header_.recordLength);
  if (file_->ReadAt(header_.RecordOffset(recno), rec.data(), rec.size()) != rec.size())
    throw DbfDamaged(Format("%s is not a sound table: record %u is cut short", path_.c_str(), recno));
}

void Table::ForEachRecord(const std::function<void(std::uint32_t, std::string_view)>& visit) {
  ReadHeaderCount();
  ScanRecords(visit);
}

void Table::ScanRecords(const std::function<void(std::uint32_t, std::string_view)>& visit) {
  WriteAppendRun();
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

}  // namespace vz::db
