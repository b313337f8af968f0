#pragma once
// Byte layout of CDX pages: tag headers, interior nodes and compressed leaves.
// Pure functions over 512-byte buffers; every value read from a page is checked
// before use and a page that does not hold together throws CdxDamaged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/cdx.hpp"

namespace vz::db::cdx {

inline constexpr std::uint32_t kPageSize = 512;
inline constexpr std::uint32_t kHeaderSize = 1024;  // tag and directory headers span two pages
inline constexpr std::uint32_t kNone = 0xFFFFFFFF;  // sibling link: no neighbour

// Header fields (offsets within the 1024-byte header).
inline constexpr std::size_t kHdrRoot = 0;
inline constexpr std::size_t kHdrFreeList = 4;
inline constexpr std::size_t kHdrCounter = 8;  // big-endian
inline constexpr std::size_t kHdrKeyLength = 12;
inline constexpr std::size_t kHdrOptions = 14;
inline constexpr std::size_t kHdrSignature = 15;
inline constexpr std::size_t kHdrHeaderLength = 16;  // 1024, as other writers record it
inline constexpr std::size_t kHdrPageLength = 18;    // 512
// Set while a multi-page update is being written; found set under the lock it means the
// writer died half way.
inline constexpr std::size_t kHdrUpdateMark = 496;
inline constexpr std::size_t kHdrDescending = 502;
inline constexpr std::size_t kHdrExprTotal = 504;
inline constexpr std::size_t kHdrForLength = 506;
inline constexpr std::size_t kHdrKeyExprLength = 510;
inline constexpr std::size_t kHdrExpressions = 512;

inline constexpr std::uint8_t kOptUnique = 0x01;
inline constexpr std::uint8_t kOptHasFor = 0x08;
inline constexpr std::uint8_t kOptCompact = 0x20;
inline constexpr std::uint8_t kOptCompound = 0x40;
inline constexpr std::uint8_t kOptDirectory = 0x80;
inline constexpr std::uint8_t kSignature = 1;
inline constexpr std::uint32_t kUpdateMarkValue = 0x565A5550;
// In the same place while every tag is being built again (see CdxIndex::BeginRebuild).
inline constexpr std::uint32_t kRebuildMarkValue = 0x565A5242;

// Node fields.
inline constexpr std::size_t kNodeAttr = 0;
inline constexpr std::size_t kNodeCount = 2;
inline constexpr std::size_t kNodeLeft = 4;
inline constexpr std::size_t kNodeRight = 8;
inline constexpr std::uint16_t kAttrRoot = 0x01;
inline constexpr std::uint16_t kAttrLeaf = 0x02;
inline constexpr std::size_t kInteriorEntries = 12;
inline constexpr std::size_t kInteriorSpace = 500;
inline constexpr std::size_t kLeafFree = 12;
inline constexpr std::size_t kLeafRecMask = 14;
inline constexpr std::size_t kLeafDupMask = 18;
inline constexpr std::size_t kLeafTrailMask = 19;
inline constexpr std::size_t kLeafRecBits = 20;
inline constexpr std::size_t kLeafDupBits = 21;
inline constexpr std::size_t kLeafTrailBits = 22;
inline constexpr std::size_t kLeafEntryBytes = 23;
inline constexpr std::size_t kLeafEntries = 24;
inline constexpr std::size_t kLeafSpace = kPageSize - kLeafEntries;  // 488

inline constexpr int kMaxKeyLength = 240;

using Page = unsigned char[kPageSize];

struct NodeHead {
  std::uint16_t attr = 0;
  std::uint16_t count = 0;
  std::uint32_t left = kNone;
  std::uint32_t right = kNone;
  bool IsLeaf() const { return (attr & kAttrLeaf) != 0; }
  bool IsRoot() const { return (attr & kAttrRoot) != 0; }
};
NodeHead ReadNodeHead(const unsigned char* page);
void WriteNodeHead(unsigned char* page, const NodeHead& head);

// Entries of one node with their keys side by side: n * keyLength bytes.
struct EntryList {
  int keyLength = 0;
  std::vector<unsigned char> keys;
  std::vector<std::uint32_t> recnos;
  std::vector<std::uint32_t> children;  // interior nodes only

  std::size_t Size() const { return recnos.size(); }
  const unsigned char* Key(std::size_t i) const { return keys.data() + i * keyLength; }
  std::string_view KeyView(std::size_t i) const {
    return {reinterpret_cast<const char*>(Key(i)), static_cast<std::size_t>(keyLength)};
  }
  void Clear() {
    keys.clear();
    recnos.clear();
    children.clear();
  }
};

// Probe for searching: a key (possibly shorter than the key length: prefix search) and a
// record number (64-bit so that "after record 0xFFFFFFFF" can be expressed).
struct Probe {
  std::string_view key;
  std::uint64_t recno = 0;
};
// <0, 0, >0 as the entry (full key, recno) compares with the probe. An entry that starts
// with a shorter probe key sorts after it.
int CompareEntry(const unsigned char* key, int keyLength, std::uint32_t recno, const Probe& probe);
// First index in list whose entry is >= probe (list.Size() when none).
std::size_t LowerBound(const EntryList& list, const Probe& probe);

// Leaf compression.
struct LeafLayout {
  int recBits = 0;
  int dupBits = 0;
  int trailBits = 0;
  int entryBytes = 0;
};
int BitsFor(std::uint64_t value);  // bits needed to hold value (at least 1)
LeafLayout ChooseLeafLayout(int keyLength, std::uint32_t maxRecno);

int TrailCount(const unsigned char* key, int keyLength, unsigned char trail);
int CommonPrefix(const unsigned char* a, const unsigned char* b, int limit);
// Decodes a leaf page's entries into `out` (keys rebuilt in full); `keyBytes` receives the
// number of stored key bytes. Throws CdxDamaged.
void DecodeLeaf(const unsigned char* page, int keyLength, unsigned char trail, EntryList& out,
                std::size_t* keyBytes = nullptr);
// Bytes the entries need in a leaf (entry table + stored key bytes); > kLeafSpace: no fit.
std::size_t LeafBytes(const EntryList& list, std::size_t from, std::size_t to, unsigned char trail);
// Encodes entries [from, to) as a leaf. Returns false (page untouched) when they do not fit.
// The "Counted" form takes each entry's trailing count and its duplicate count against the
// entry before it in `list` (that of entry `from` is taken as 0) already worked out.
bool EncodeLeafCounted(const EntryList& list, std::size_t from, std::size_t to, const std::uint8_t* dups,
                       const std::uint8_t* trails, const NodeHead& head, unsigned char* page);
bool EncodeLeaf(const EntryList& list, std::size_t from, std::size_t to, const NodeHead& head,
                unsigned char trail, unsigned char* page);

// Appends entry i of src (with `child` as its child offset) to dst.
void AppendEntry(EntryList& dst, const EntryList& src, std::size_t i, std::uint32_t child);
std::uint32_t LowMask(int bits);

// Interior nodes.
std::size_t InteriorCapacity(int keyLength);
void DecodeInterior(const unsigned char* page, int keyLength, EntryList& out);
void EncodeInterior(const EntryList& list, std::size_t from, std::size_t to, const NodeHead& head,
                    unsigned char* page);

// Tag (and directory) headers.
struct TagHeader {
  std::uint32_t root = 0;
  std::uint32_t freeList = 0;
  std::uint32_t counter = 0;
  int keyLength = 0;
  std::uint8_t options = 0;
  bool descending = false;
  std::string keyExpr;
  std::string forExpr;
};
// Reads a 1024-byte header; throws CdxDamaged on lengths that do not fit.
TagHeader DecodeHeader(const unsigned char* header);
// Writes a complete 1024-byte header.
void EncodeHeader(const TagHeader& h, unsigned char* header);
std::uint8_t TagOptions(const CdxTagInfo& info);

// Leaf entries for the tag-directory of tag names: blank padded to 10 bytes.
inline constexpr int kDirKeyLength = 10;

}  // namespace vz::db::cdx
