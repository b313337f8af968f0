#include "dbengine/cdx_page.hpp"

#include <algorithm>
#include <cstring>

#include "common/bytes.hpp"

namespace vz::db::cdx {

namespace {

[[noreturn]] void Damaged(const std::string& what) { throw CdxDamaged("index damaged: " + what); }

// Duplicate and trailing counts of entry i given the previous entry's trailing count.
// The duplicate count never reaches into the previous key's trailing blanks nor into
// this key's own: every reader rebuilds the same key whichever way it fills trailing bytes.
struct Compression {
  int dup = 0;
  int trail = 0;
};
Compression Compress(const EntryList& list, std::size_t i, std::size_t first, int prevTrail,
                     unsigned char trail) {
  const int kl = list.keyLength;
  Compression c;
  c.trail = TrailCount(list.Key(i), kl, trail);
  if (i > first) {
    const int limit = std::min(kl - c.trail, kl - prevTrail);
    c.dup = CommonPrefix(list.Key(i - 1), list.Key(i), limit);
  }
  return c;
}

}  // namespace

int TrailCount(const unsigned char* key, int keyLength, unsigned char trail) {
  int n = 0;
  while (n < keyLength && key[keyLength - 1 - n] == trail) ++n;
  return n;
}

int CommonPrefix(const unsigned char* a, const unsigned char* b, int limit) {
  int n = 0;
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

std::uint32_t LowMask(int bits) { return bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1u); }

void AppendEntry(EntryList& dst, const EntryList& src, std::size_t i, std::uint32_t child) {
  dst.keys.insert(dst.keys.end(), src.Key(i), src.Key(i) + src.keyLength);
  dst.recnos.push_back(src.recnos[i]);
  dst.children.push_back(child);
}

NodeHead ReadNodeHead(const unsigned char* page) {
  NodeHead h;
  h.attr = GetLE16(page + kNodeAttr);
  h.count = GetLE16(page + kNodeCount);
  h.left = GetLE32(page + kNodeLeft);
  h.right = GetLE32(page + kNodeRight);
  return h;
}

void WriteNodeHead(unsigned char* page, const NodeHead& head) {
  PutLE16(page + kNodeAttr, head.attr);
  PutLE16(page + kNodeCount, head.count);
  PutLE32(page + kNodeLeft, head.left);
  PutLE32(page + kNodeRight, head.right);
}

int CompareEntry(const unsigned char* key, int keyLength, std::uint32_t recno, const Probe& probe) {
  const std::size_t n = std::min<std::size_t>(probe.key.size(), static_cast<std::size_t>(keyLength));
  int c = n == 0 ? 0 : std::memcmp(key, probe.key.data(), n);
  if (c != 0) return c;
  if (probe.key.size() < static_cast<std::size_t>(keyLength)) return 1;
  if (recno < probe.recno) return -1;
  return recno > probe.recno ? 1 : 0;
}

std::size_t LowerBound(const EntryList& list, const Probe& probe) {
  std::size_t lo = 0;
  std::size_t hi = list.Size();
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    if (CompareEntry(list.Key(mid), list.keyLength, list.recnos[mid], probe) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

int BitsFor(std::uint64_t value) {
  int bits = 1;
  while (bits < 64 && (value >> bits) != 0) ++bits;
  return bits;
}

LeafLayout ChooseLeafLayout(int keyLength, std::uint32_t maxRecno) {
  // Duplicate and trailing counts range over 0..keyLength. Entries take at least three
  // bytes, and the record number gets every bit the entry bytes leave over (up to 32).
  LeafLayout l;
  l.dupBits = BitsFor(static_cast<std::uint64_t>(keyLength));
  l.trailBits = l.dupBits;
  const int need = BitsFor(maxRecno) + l.dupBits + l.trailBits;
  l.entryBytes = std::max(3, (need + 7) / 8);
  l.recBits = std::min(32, l.entryBytes * 8 - l.dupBits - l.trailBits);
  return l;
}

void DecodeLeaf(const unsigned char* page, int keyLength, unsigned char trail, EntryList& out,
                std::size_t* keyBytes) {
  const NodeHead head = ReadNodeHead(page);
  const int rb = page[kLeafRecBits];
  const int db = page[kLeafDupBits];
  const int tb = page[kLeafTrailBits];
  const int bpe = page[kLeafEntryBytes];
  out.keyLength = keyLength;
  out.Clear();
  if (keyBytes) *keyBytes = 0;
  const std::size_t n = head.count;
  if (n == 0) return;
  if (bpe < 1 || bpe > 8 || rb < 1 || rb > 32 || db > 16 || tb > 16 || rb + db + tb > bpe * 8) {
    Damaged("leaf bit widths");
  }
  const std::size_t tableEnd = kLeafEntries + n * static_cast<std::size_t>(bpe);
  if (tableEnd > kPageSize) Damaged("leaf key count");
  const std::uint32_t recMask = LowMask(rb);
  const std::uint32_t dupMask = LowMask(db);
  const std::uint32_t trailMask = LowMask(tb);
  out.keys.resize(n * static_cast<std::size_t>(keyLength));
  out.recnos.resize(n);
  std::size_t ptr = kPageSize;
  unsigned char* dst = out.keys.data();
  for (std::size_t i = 0; i < n; ++i, dst += keyLength) {
    const unsigned char* e = page + kLeafEntries + i * static_cast<std::size_t>(bpe);
    std::uint64_t v = 0;
    for (int b = bpe - 1; b >= 0; --b) v = (v << 8) | e[b];
    const std::uint32_t rec = static_cast<std::uint32_t>(v) & recMask;
    const int dup = static_cast<int>((v >> rb) & dupMask);
    const int tr = static_cast<int>((v >> (rb + db)) & trailMask);
    if (dup + tr > keyLength || (i == 0 && dup > 0)) Damaged("leaf entry counts");
    const std::size_t stored = static_cast<std::size_t>(keyLength - dup - tr);
    if (ptr < tableEnd + stored) Damaged("leaf keys overlap entries");
    ptr -= stored;
    if (dup > 0) std::memcpy(dst, dst - keyLength, static_cast<std::size_t>(dup));
    if (stored > 0) std::memcpy(dst + dup, page + ptr, stored);
    if (tr > 0) std::memset(dst + dup + stored, trail, static_cast<std::size_t>(tr));
    out.recnos[i] = rec;
  }
  if (keyBytes) *keyBytes = kPageSize - ptr;
}

std::size_t LeafBytes(const EntryList& list, std::size_t from, std::size_t to, unsigned char trail) {
  std::uint32_t maxRec = 0;
  std::size_t stored = 0;
  int prevTrail = 0;
  for (std::size_t i = from; i < to; ++i) {
    maxRec = std::max(maxRec, list.recnos[i]);
    const Compression c = Compress(list, i, from, prevTrail, trail);
    stored += static_cast<std::size_t>(list.keyLength - c.dup - c.trail);
    prevTrail = c.trail;
  }
  const LeafLayout l = ChooseLeafLayout(list.keyLength, maxRec);
  return stored + (to - from) * static_cast<std::size_t>(l.entryBytes);
}

bool EncodeLeafCounted(const EntryList& list, std::size_t from, std::size_t to, const std::uint8_t* dups,
                       const std::uint8_t* trails, const NodeHead& head, unsigned char* page) {
  const int kl = list.keyLength;
  std::uint32_t maxRec = 0;
  for (std::size_t i = from; i < to; ++i) maxRec = std::max(maxRec, list.recnos[i]);
  const LeafLayout l = ChooseLeafLayout(kl, maxRec);
  const std::size_t n = to - from;
  if (n * static_cast<std::size_t>(l.entryBytes) > kLeafSpace) return false;

  unsigned char buf[kPageSize] = {};
  std::size_t ptr = kPageSize;
  const std::size_t tableEnd = kLeafEntries + n * static_cast<std::size_t>(l.entryBytes);
  for (std::size_t i = from; i < to; ++i) {
    const int dup = i == from ? 0 : dups[i];
    const int tr = trails[i];
    const std::size_t stored = static_cast<std::size_t>(kl - dup - tr);
    if (ptr < tableEnd + stored) return false;
    ptr -= stored;
    std::memcpy(buf + ptr, list.Key(i) + dup, stored);
    const std::uint64_t v = static_cast<std::uint64_t>(list.recnos[i]) |
                            (static_cast<std::uint64_t>(dup) << l.recBits) |
                            (static_cast<std::uint64_t>(tr) << (l.recBits + l.dupBits));
    unsigned char* e = buf + kLeafEntries + (i - from) * static_cast<std::size_t>(l.entryBytes);
    for (int b = 0; b < l.entryBytes; ++b) e[b] = static_cast<unsigned char>(v >> (8 * b));
  }
  NodeHead h = head;
  h.count = static_cast<std::uint16_t>(n);
  WriteNodeHead(buf, h);
  PutLE16(buf + kLeafFree, static_cast<std::uint16_t>(ptr - tableEnd));
  PutLE32(buf + kLeafRecMask, LowMask(l.recBits));
  buf[kLeafDupMask] = static_cast<unsigned char>(LowMask(l.dupBits));
  buf[kLeafTrailMask] = static_cast<unsigned char>(LowMask(l.trailBits));
  buf[kLeafRecBits] = static_cast<unsigned char>(l.recBits);
  buf[kLeafDupBits] = static_cast<unsigned char>(l.dupBits);
  buf[kLeafTrailBits] = static_cast<unsigned char>(l.trailBits);
  buf[kLeafEntryBytes] = static_cast<unsigned char>(l.entryBytes);
  std::memcpy(page, buf, kPageSize);
  return true;
}

bool EncodeLeaf(const EntryList& list, std::size_t from, std::size_t to, const NodeHead& head,
                unsigned char trail, unsigned char* page) {
  std::vector<std::uint8_t> dups(to);
  std::vector<std::uint8_t> trails(to);
  int prevTrail = 0;
  for (std::size_t i = from; i < to; ++i) {
    const Compression c = Compress(list, i, from, prevTrail, trail);
    dups[i] = static_cast<std::uint8_t>(c.dup);
    trails[i] = static_cast<std::uint8_t>(c.trail);
    prevTrail = c.trail;
  }
  return EncodeLeafCounted(list, from, to, dups.data(), trails.data(), head, page);
}

std::size_t InteriorCapacity(int keyLength) {
  return kInteriorSpace / (static_cast<std::size_t>(keyLength) + 8);
}

void DecodeInterior(const unsigned char* page, int keyLength, EntryList& out) {
  const NodeHead head = ReadNodeHead(page);
  out.keyLength = keyLength;
  out.Clear();
  const std::size_t n = head.count;
  if (n > InteriorCapacity(keyLength)) Damaged("interior key count");
  const std::size_t kl = static_cast<std::size_t>(keyLength);
  out.keys.resize(n * kl);
  out.recnos.resize(n);
  out.children.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char* e = page + kInteriorEntries + i * (kl + 8);
    std::memcpy(out.keys.data() + i * kl, e, kl);
    out.recnos[i] = GetBE32(e + kl);
    out.children[i] = GetBE32(e + kl + 4);
  }
}

void EncodeInterior(const EntryList& list, std::size_t from, std::size_t to, const NodeHead& head,
                    unsigned char* page) {
  const std::size_t kl = static_cast<std::size_t>(list.keyLength);
  std::memset(page, 0, kPageSize);
  NodeHead h = head;
  h.count = static_cast<std::uint16_t>(to - from);
  WriteNodeHead(page, h);
  for (std::size_t i = from; i < to; ++i) {
    unsigned char* e = page + kInteriorEntries + (i - from) * (kl + 8);
    std::memcpy(e, list.Key(i), kl);
    PutBE32(e + kl, list.recnos[i]);
    PutBE32(e + kl + 4, list.children[i]);
  }
}

TagHeader DecodeHeader(const unsigned char* header) {
  TagHeader h;
  h.root = GetLE32(header + kHdrRoot);
  h.freeList = GetLE32(header + kHdrFreeList);
  h.counter = GetBE32(header + kHdrCounter);
  h.keyLength = GetLE16(header + kHdrKeyLength);
  h.options = header[kHdrOptions];
  h.descending = GetLE16(header + kHdrDescending) != 0;
  if (h.keyLength < 1 || h.keyLength > kMaxKeyLength) Damaged("key length");
  const std::size_t keyLen = GetLE16(header + kHdrKeyExprLength);
  const std::size_t forLen = GetLE16(header + kHdrForLength);
  if (kHdrExpressions + keyLen + forLen > kHeaderSize) Damaged("expression lengths");
  auto text = [&](std::size_t at, std::size_t len) {
    const char* p = reinterpret_cast<const char*>(header + at);
    return std::string(p, strnlen(p, len));
  };
  h.keyExpr = text(kHdrExpressions, keyLen);
  h.forExpr = text(kHdrExpressions + keyLen, forLen);
  return h;
}

void EncodeHeader(const TagHeader& h, unsigned char* header) {
  std::memset(header, 0, kHeaderSize);
  PutLE32(header + kHdrRoot, h.root);
  PutLE32(header + kHdrFreeList, h.freeList);
  PutBE32(header + kHdrCounter, h.counter);
  PutLE16(header + kHdrKeyLength, static_cast<std::uint16_t>(h.keyLength));
  header[kHdrOptions] = h.options;
  header[kHdrSignature] = kSignature;
  PutLE16(header + kHdrHeaderLength, kHeaderSize);
  PutLE16(header + kHdrPageLength, kPageSize);
  PutLE16(header + kHdrDescending, h.descending ? 1 : 0);
  const std::size_t keyLen = h.keyExpr.size() + 1;
  const std::size_t forLen = h.forExpr.size() + 1;
  if (kHdrExpressions + keyLen + forLen > kHeaderSize) {
    throw DbError("index expressions too long");
  }
  PutLE16(header + kHdrExprTotal, static_cast<std::uint16_t>(keyLen));
  PutLE16(header + kHdrForLength, static_cast<std::uint16_t>(forLen));
  PutLE16(header + kHdrKeyExprLength, static_cast<std::uint16_t>(keyLen));
  std::memcpy(header + kHdrExpressions, h.keyExpr.data(), h.keyExpr.size());
  std::memcpy(header + kHdrExpressions + keyLen, h.forExpr.data(), h.forExpr.size());
}

std::uint8_t TagOptions(const CdxTagInfo& info) {
  std::uint8_t o = kOptCompact | kOptCompound;
  if (info.unique) o |= kOptUnique;
  if (!info.forExpr.empty()) o |= kOptHasFor;
  return o;
}

}  // namespace vz::db::cdx
