#pragma once
// DBF table header: the fixed 32-byte prefix, the field descriptors and the 0x0D
// terminator. Parsing is lenient (any common version byte and field type, padded
// headers, longer records) but checks every length and count against the file;
// building is strict (FoxPro 2.x, version 0x03, no memo).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/file.hpp"

namespace vz::db {

// Header layout.
inline constexpr std::size_t kDbfPrefixSize = 32;
inline constexpr std::size_t kDbfVersionOffset = 0;
inline constexpr std::size_t kDbfDateOffset = 1;          // year - 1900, month, day
inline constexpr std::size_t kDbfRecordCountOffset = 4;   // LE32
inline constexpr std::size_t kDbfHeaderLengthOffset = 8;  // LE16
inline constexpr std::size_t kDbfRecordLengthOffset = 10; // LE16
inline constexpr std::size_t kDbfTableFlagsOffset = 28;
inline constexpr std::size_t kDbfCodePageOffset = 29;
inline constexpr std::size_t kDbfFieldSize = 32;
inline constexpr std::size_t kDbfFieldNameSize = 11;
inline constexpr std::size_t kDbfFieldTypeOffset = 11;
inline constexpr std::size_t kDbfFieldDisplacementOffset = 12;  // LE32, 0 in FoxPro 2.x
inline constexpr std::size_t kDbfFieldWidthOffset = 16;
inline constexpr std::size_t kDbfFieldDecimalsOffset = 17;

inline constexpr unsigned char kDbfVersionFoxPro2 = 0x03;
inline constexpr unsigned char kDbfHeaderTerminator = 0x0D;
inline constexpr unsigned char kDbfEndOfFile = 0x1A;
inline constexpr unsigned char kDbfFlagStructuralCdx = 0x01;
inline constexpr char kDbfLive = ' ';
inline constexpr char kDbfDeleted = '*';
inline constexpr std::size_t kDbfMaxFields = 255;
inline constexpr std::size_t kDbfMaxCharWidth = 254;

// Shared-mode lock bytes of the table file (the scheme other xBase programs use).
inline constexpr std::uint64_t kDbfLockBase = 0x7FFFFFFE;  // header / append lock
inline constexpr std::uint64_t RecordLockOffset(std::uint32_t recno) { return kDbfLockBase - recno; }

struct DbfDate {
  int year = 1900;  // full year
  int month = 1;
  int day = 1;
};

struct DbfField {
  std::string name;  // upper case
  char type = 'C';
  int width = 0;
  int decimals = 0;
  int offset = 0;  // byte offset in the record (the deletion flag is byte 0)
};

struct DbfHeader {
  unsigned char version = kDbfVersionFoxPro2;
  DbfDate date;
  std::uint32_t recordCount = 0;
  std::uint16_t headerLength = 0;
  std::uint16_t recordLength = 0;
  unsigned char flags = 0;
  unsigned char codePage = 0;
  std::vector<DbfField> fields;

  // Where record recno (1-based) starts.
  std::uint64_t RecordOffset(std::uint32_t recno) const {
    return headerLength + std::uint64_t{recordLength} * (recno - 1);
  }
  // Whether this engine may write the table: the versions and field types it
  // writes correctly (it never touches memo files).
  bool Writable() const;
  int FieldIndex(std::string_view name) const;  // -1 when absent (case-blind)
};

// The table file is not a sound table: refused, never written.
class DbfDamaged : public DbError {
 public:
  using DbError::DbError;
};

// Parses a header. `bytes` holds the first bytes of the file (at least the stored
// header length when the file has that many); fileSize is the whole file's size.
// Throws DbfDamaged naming `path` and the fault.
DbfHeader ParseDbfHeader(std::string_view bytes, std::uint64_t fileSize, const std::string& path);

// The first 32 bytes hold the header length; how many bytes ParseDbfHeader needs.
std::size_t DbfHeaderBytesNeeded(std::string_view prefix);

// A new FoxPro 2.x header for these fields (checked: names, types, widths).
DbfHeader MakeDbfHeader(const std::vector<DbfField>& fields, const DbfDate& date);
// The header bytes (prefix, descriptors, 0x0D and one 0x00 of padding).
std::string BuildDbfHeader(const DbfHeader& header);
// The 7 bytes at offset 1: date and record count, as rewritten on every append.
std::string BuildDateAndCount(const DbfDate& date, std::uint32_t count);

DbfDate Today();

}  // namespace vz::db
