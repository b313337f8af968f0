#include "dbengine/dbf.hpp"

#include <ctime>

#include "common/bytes.hpp"
#include "common/text.hpp"

namespace vz::db {

namespace {

const unsigned char* U(std::string_view s) { return reinterpret_cast<const unsigned char*>(s.data()); }

// Version bytes of the dBASE, FoxPro and Visual FoxPro family that we read.
bool KnownVersion(unsigned char v) {
  switch (v) {
    case 0x02: case 0x03: case 0x04: case 0x05: case 0x30: case 0x31: case 0x32: case 0x43:
    case 0x63: case 0x83: case 0x8B: case 0x8E: case 0xCB: case 0xE5: case 0xF5: case 0xFB:
      return true;
    default:
      return false;
  }
}

bool ValidNameChar(unsigned char c) { return c > 0x20 && c < 0x7F; }

// Field types written blank by a new record without harm (no memo pointers).
bool BlankWritableType(char t) { return t == 'C' || t == 'N' || t == 'F' || t == 'D' || t == 'L'; }

}  // namespace

bool DbfHeader::Writable() const {
  if (version != kDbfVersionFoxPro2 && version != 0x30) return false;
  for (const auto& f : fields)
    if (!BlankWritableType(f.type)) return false;
  return true;
}

int DbfHeader::FieldIndex(std::string_view name) const {
  const std::string upper = UpperAscii(name);
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (fields[i].name == upper) return static_cast<int>(i);
  return -1;
}

std::size_t DbfHeaderBytesNeeded(std::string_view prefix) {
  if (prefix.size() < kDbfPrefixSize) return kDbfPrefixSize;
  return GetLE16(U(prefix) + kDbfHeaderLengthOffset);
}

DbfHeader ParseDbfHeader(std::string_view bytes, std::uint64_t fileSize, const std::string& path) {
  auto damaged = [&](const std::string& why) { return DbfDamaged(path + " is not a sound table: " + why); };
  if (fileSize < kDbfPrefixSize || bytes.size() < kDbfPrefixSize)
    throw damaged(Format("the file holds %llu bytes, too few for a table header",
                         static_cast<unsigned long long>(fileSize)));
  const unsigned char* p = U(bytes);
  DbfHeader h;
  h.version = p[kDbfVersionOffset];
  if (!KnownVersion(h.version)) throw damaged(Format("unknown version byte 0x%02X", h.version));
  h.date.year = 1900 + p[kDbfDateOffset];
  h.date.month = p[kDbfDateOffset + 1];
  h.date.day = p[kDbfDateOffset + 2];
  h.recordCount = GetLE32(p + kDbfRecordCountOffset);
  h.headerLength = GetLE16(p + kDbfHeaderLengthOffset);
  h.recordLength = GetLE16(p + kDbfRecordLengthOffset);
  h.flags = p[kDbfTableFlagsOffset];
  h.codePage = p[kDbfCodePageOffset];

  if (h.headerLength < kDbfPrefixSize + kDbfFieldSize + 1)
    throw damaged(Format("header length %u is too small for one field", h.headerLength));
  if (h.headerLength > fileSize)
    throw damaged(Format("header length %u exceeds the file size %llu", h.headerLength,
                         static_cast<unsigned long long>(fileSize)));
  if (bytes.size() < h.headerLength) throw damaged("the header could not be read whole");

  int offset = 1;
  bool terminated = false;
  for (std::size_t at = kDbfPrefixSize; at < h.headerLength; at += kDbfFieldSize) {
    if (p[at] == kDbfHeaderTerminator) {
      terminated = true;
      break;
    }
    if (at + kDbfFieldSize > h.headerLength) throw damaged("a field descriptor runs past the header length");
    if (h.fields.size() == kDbfMaxFields) throw damaged("more than 255 field descriptors");
    DbfField f;
    for (std::size_t i = 0; i < kDbfFieldNameSize && p[at + i] != 0; ++i) {
      if (!ValidNameChar(p[at + i]))
        throw damaged(Format("field %zu has an invalid name byte 0x%02X", h.fields.size() + 1, p[at + i]));
      f.name += static_cast<char>(p[at + i]);
    }
    if (f.name.empty()) throw damaged(Format("field %zu has no name", h.fields.size() + 1));
    f.name = UpperAscii(f.name);
    f.type = static_cast<char>(UpperAscii(std::string(1, static_cast<char>(p[at + kDbfFieldTypeOffset])))[0]);
    if (!ValidNameChar(static_cast<unsigned char>(f.type)))
      throw damaged("field " + f.name + " has an invalid type byte");
    f.width = p[at + kDbfFieldWidthOffset];
    f.decimals = p[at + kDbfFieldDecimalsOffset];
    if (f.width == 0) throw damaged("field " + f.name + " has width 0");
    f.offset = offset;
    offset += f.width;
    h.fields.push_back(std::move(f));
  }
  if (!terminated) throw damaged("the field descriptors have no 0x0D terminator within the header");
  if (h.fields.empty()) throw damaged("the table has no fields");
  if (offset > h.recordLength)
    throw damaged(Format("record length %u is shorter than its fields (%d bytes)", h.recordLength, offset));
  const std::uint64_t room = (fileSize - h.headerLength) / h.recordLength;
  if (h.recordCount > room)
    throw damaged(Format("the header counts %u records but the file holds at most %llu", h.recordCount,
                         static_cast<unsigned long long>(room)));
  return h;
}

DbfHeader MakeDbfHeader(const std::vector<DbfField>& fields, const DbfDate& date) {
  if (fields.empty()) throw DbError("a table needs at least one field");
  if (fields.size() > kDbfMaxFields) throw DbError("a table holds at most 255 fields");
  DbfHeader h;
  h.version = kDbfVersionFoxPro2;
  h.date = date;
  int offset = 1;
  for (const auto& in : fields) {
    DbfField f = in;
    f.name = UpperAscii(f.name);
    f.type = UpperAscii(std::string(1, f.type))[0];
    if (f.name.empty() || f.name.size() > 10) throw DbError("field name \"" + in.name + "\" must have 1 to 10 characters");
    for (char c : f.name)
      if (!(c == '_' || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
        throw DbError("field name \"" + in.name + "\" may hold only letters, digits and '_'");
    if (!(f.name[0] >= 'A' && f.name[0] <= 'Z')) throw DbError("field name \"" + in.name + "\" must start with a letter");
    if (h.FieldIndex(f.name) >= 0) throw DbError("field name \"" + in.name + "\" is used twice");
    switch (f.type) {
      case 'C':
        if (f.width < 1 || f.width > static_cast<int>(kDbfMaxCharWidth))
          throw DbError(Format("character field %s must be 1 to 254 wide", f.name.c_str()));
        f.decimals = 0;
        break;
      case 'N':
      case 'F':
        if (f.width < 1 || f.width > 20 || f.decimals < 0 || (f.decimals > 0 && f.decimals > f.width - 2))
          throw DbError(Format("numeric field %s has an invalid width or decimals", f.name.c_str()));
        break;
      case 'D': f.width = 8; f.decimals = 0; break;
      case 'L': f.width = 1; f.decimals = 0; break;
      default:
        throw DbError(Format("field %s: type '%c' is not supported (C, N, F, D, L)", f.name.c_str(), f.type));
    }
    f.offset = offset;
    offset += f.width;
    h.fields.push_back(f);
  }
  if (offset > 0xFFFF) throw DbError("record too long");
  h.recordLength = static_cast<std::uint16_t>(offset);
  // Prefix, descriptors, 0x0D, then one 0x00 as the golden tables carry.
  h.headerLength = static_cast<std::uint16_t>(kDbfPrefixSize + kDbfFieldSize * h.fields.size() + 2);
  return h;
}

std::string BuildDateAndCount(const DbfDate& date, std::uint32_t count) {
  std::string out(7, '\0');
  auto* p = reinterpret_cast<unsigned char*>(out.data());
  p[0] = static_cast<unsigned char>(date.year - 1900);
  p[1] = static_cast<unsigned char>(date.month);
  p[2] = static_cast<unsigned char>(date.day);
  PutLE32(p + 3, count);
  return out;
}

std::string BuildDbfHeader(const DbfHeader& h) {
  std::string out(h.headerLength, '\0');
  auto* p = reinterpret_cast<unsigned char*>(out.data());
  p[kDbfVersionOffset] = h.version;
  const std::string dc = BuildDateAndCount(h.date, h.recordCount);
  std::copy(dc.begin(), dc.end(), out.begin() + kDbfDateOffset);
  PutLE16(p + kDbfHeaderLengthOffset, h.headerLength);
  PutLE16(p + kDbfRecordLengthOffset, h.recordLength);
  p[kDbfTableFlagsOffset] = h.flags;
  p[kDbfCodePageOffset] = h.codePage;
  std::size_t at = kDbfPrefixSize;
  for (const auto& f : h.fields) {
    std::copy(f.name.begin(), f.name.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
    p[at + kDbfFieldTypeOffset] = static_cast<unsigned char>(f.type);
    p[at + kDbfFieldWidthOffset] = static_cast<unsigned char>(f.width);
    p[at + kDbfFieldDecimalsOffset] = static_cast<unsigned char>(f.decimals);
    at += kDbfFieldSize;
  }
  p[at] = kDbfHeaderTerminator;
  return out;
}

DbfDate Today() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &now);
#else
  localtime_r(&now, &tm);
#endif
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

}  // namespace vz::db
