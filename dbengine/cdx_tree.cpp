#include "dbengine/cdx_tree.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>

#include "common/bytes.hpp"

namespace vz::db::cdx {

namespace {

// Deeper than any real tree (a million keys need five levels); a deeper walk is a loop.
constexpr int kMaxDepth = 40;

[[noreturn]] void Damaged(const std::string& what) { throw CdxDamaged("index damaged: " + what); }

const unsigned char* InteriorEntry(const unsigned char* page, std::size_t i, int keyLength) {
  return page + kInteriorEntries + i * (static_cast<std::size_t>(keyLength) + 8);
}

CdxEntry MakeEntry(const EntryList& list, std::size_t i) {
  return CdxEntry{std::string(list.KeyView(i)), list.recnos[i]};
}

int CompareAt(const EntryList& list, std::size_t i, const Probe& probe) {
  return CompareEntry(list.Key(i), list.keyLength, list.recnos[i], probe);
}

void EraseEntry(EntryList& list, std::size_t i) {
  const std::size_t kl = static_cast<std::size_t>(list.keyLength);
  list.keys.erase(list.keys.begin() + static_cast<std::ptrdiff_t>(i * kl),
                  list.keys.begin() + static_cast<std::ptrdiff_t>((i + 1) * kl));
  list.recnos.erase(list.recnos.begin() + static_cast<std::ptrdiff_t>(i));
  if (!list.children.empty()) list.children.erase(list.children.begin() + static_cast<std::ptrdiff_t>(i));
}

bool SameEntry(const EntryList& a, std::size_t i, const EntryList& b, std::size_t j) {
  return a.recnos[i] == b.recnos[j] && a.children[i] == b.children[j] &&
         std::memcmp(a.Key(i), b.Key(j), static_cast<std::size_t>(a.keyLength)) == 0;
}

}  // namespace

Tree::Tree(PageStore& store, std::uint32_t header, int keyLength, unsigned char trail, bool unique)
    : store_(store),
      header_(header),
      keyLength_(keyLength),
      trail_(trail),
      unique_(unique),
      interiorCap_(InteriorCapacity(keyLength)) {}

std::uint32_t Tree::Root() { return GetLE32(store_.Get(header_) + kHdrRoot); }

void Tree::SetRoot(std::uint32_t root) { PutLE32(store_.Mutable(header_) + kHdrRoot, root); }

bool Tree::Descend(const Probe& probe, bool forInsert, std::vector<Step>* path, std::uint32_t& leaf) {
  std::uint32_t off = Root();
  parentKey_.clear();
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) Damaged("tree deeper than possible (loop)");
    const unsigned char* page = store_.Get(off);
    const NodeHead h = ReadNodeHead(page);
    if (h.IsLeaf()) {
      leaf = off;
      return true;
    }
    const std::size_t n = h.count;
    if (n == 0 || n > interiorCap_) Damaged("interior node key count");
    std::size_t lo = 0;
    std::size_t hi = n;
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      const unsigned char* e = InteriorEntry(page, mid, keyLength_);
      if (CompareEntry(e, keyLength_, GetBE32(e + keyLength_), probe) < 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    if (lo == n) {
      if (!forInsert) return false;
      lo = n - 1;
    }
    if (path) path->push_back({off, lo});
    const unsigned char* chosen = InteriorEntry(page, lo, keyLength_);
    parentKey_.assign(reinterpret_cast<const char*>(chosen), static_cast<std::size_t>(keyLength_));
    parentRecno_ = GetBE32(chosen + keyLength_);
    off = GetBE32(chosen + keyLength_ + 4);
  }
}

// A leaf reached from an interior entry ends with that entry. One that does not was
// overwritten (by another page, say): reading on would skip or repeat keys.
void Tree::CheckLeafEnd(const EntryList& leaf) {
  if (parentKey_.empty() || leaf.Size() == 0) return;
  const std::size_t last = leaf.Size() - 1;
  if (leaf.recnos[last] != parentRecno_ || leaf.KeyView(last) != parentKey_)
    Damaged("a leaf does not end with its parent's entry");
}

const EntryList& Tree::LoadLeaf(std::uint32_t offset, NodeHead& head) {
  if (leafGen_ != store_.Generation() || leafOff_ != offset) {
    leafGen_ = 0;
    const unsigned char* page = store_.Get(offset);
    leafHead_ = ReadNodeHead(page);
    if (!leafHead_.IsLeaf()) Damaged("leaf expected");
    DecodeLeaf(page, keyLength_, trail_, leaf_);
    leafOff_ = offset;
    leafGen_ = store_.Generation();
  }
  head = leafHead_;
  return leaf_;
}

std::optional<CdxEntry> Tree::EntryAt(std::uint32_t leaf, std::size_t index) {
  const std::uint64_t limit = store_.End() / kPageSize + 1;
  for (std::uint64_t steps = 0; leaf != kNone; ++steps) {
    if (steps > limit) Damaged("sibling links loop");
    NodeHead h;
    const EntryList& l = LoadLeaf(leaf, h);
    if (index < l.Size()) return MakeEntry(l, index);
    index = 0;
    leaf = h.right;
  }
  return std::nullopt;
}

std::uint32_t Tree::Edge(bool last) {
  std::uint32_t off = Root();
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) Damaged("tree deeper than possible (loop)");
    const unsigned char* page = store_.Get(off);
    const NodeHead h = ReadNodeHead(page);
    if (h.IsLeaf()) return off;
    if (h.count == 0 || h.count > interiorCap_) Damaged("interior node key count");
    const std::size_t i = last ? h.count - 1u : 0u;
    off = GetBE32(InteriorEntry(page, i, keyLength_) + keyLength_ + 4);
  }
}

std::optional<CdxEntry> Tree::First() {
  const std::uint32_t leaf = Edge(false);
  return EntryAt(leaf, 0);
}

std::optional<CdxEntry> Tree::Last() {
  std::uint32_t leaf = Edge(true);
  const std::uint64_t limit = store_.End() / kPageSize + 1;
  for (std::uint64_t steps = 0; leaf != kNone; ++steps) {
    if (steps > limit) Damaged("sibling links loop");
    NodeHead h;
    const EntryList& l = LoadLeaf(leaf, h);
    if (l.Size() > 0) return MakeEntry(l, l.Size() - 1);
    leaf = h.left;
  }
  return std::nullopt;
}

std::optional<CdxEntry> Tree::LowerBound(const Probe& probe) {
  // Stepping through a leaf: the last decoded leaf answers when the probe falls inside it.
  if (leafGen_ == store_.Generation() && leaf_.Size() > 0 && CompareAt(leaf_, 0, probe) < 0 &&
      CompareAt(leaf_, leaf_.Size() - 1, probe) >= 0) {
    return MakeEntry(leaf_, cdx::LowerBound(leaf_, probe));
  }
  std::uint32_t leaf = 0;
  if (!Descend(probe, false, nullptr, leaf)) return std::nullopt;
  NodeHead h;
  const EntryList& l = LoadLeaf(leaf, h);
  CheckLeafEnd(l);
  const std::size_t i = cdx::LowerBound(l, probe);
  std::optional<CdxEntry> e = i < l.Size() ? MakeEntry(l, i) : EntryAt(h.right, 0);
  // Keys out of order would otherwise let a caller stepping forward go round for ever.
  if (e && CompareEntry(reinterpret_cast<const unsigned char*>(e->key.data()), keyLength_, e->recno, probe) < 0) {
    Damaged("keys out of order");
  }
  return e;
}

std::optional<CdxEntry> Tree::Before(const Probe& probe) {
  if (leafGen_ == store_.Generation() && leaf_.Size() > 0 && CompareAt(leaf_, 0, probe) < 0 &&
      CompareAt(leaf_, leaf_.Size() - 1, probe) >= 0) {
    return MakeEntry(leaf_, cdx::LowerBound(leaf_, probe) - 1);
  }
  std::optional<CdxEntry> e = BeforeSlow(probe);
  if (e && CompareEntry(reinterpret_cast<const unsigned char*>(e->key.data()), keyLength_, e->recno, probe) >= 0) {
    Damaged("keys out of order");
  }
  return e;
}

std::optional<CdxEntry> Tree::BeforeSlow(const Probe& probe) {
  std::uint32_t leaf = 0;
  if (!Descend(probe, false, nullptr, leaf)) return Last();
  NodeHead h;
  const EntryList& l = LoadLeaf(leaf, h);
  CheckLeafEnd(l);
  const std::size_t i = cdx::LowerBound(l, probe);
  if (i > 0) return MakeEntry(l, i - 1);
  std::uint32_t left = h.left;
  const std::uint64_t limit = store_.End() / kPageSize + 1;
  for (std::uint64_t steps = 0; left != kNone; ++steps) {
    if (steps > limit) Damaged("sibling links loop");
    const EntryList& ll = LoadLeaf(left, h);
    if (ll.Size() > 0) return MakeEntry(ll, ll.Size() - 1);
    left = h.left;
  }
  return std::nullopt;
}

bool Tree::Insert(std::string_view key, std::uint32_t recno) {
  if (key.size() != static_cast<std::size_t>(keyLength_)) throw DbError("index key of wrong length");
  if (unique_) {
    const auto e = LowerBound(Probe{key, 0});
    if (e && e->key == key) return false;
  }
  const Probe probe{key, recno};
  std::vector<Step> path;
  std::uint32_t leaf = 0;
  Descend(probe, true, &path, leaf);
  NodeHead h;
  EntryList list = LoadLeaf(leaf, h);
  const std::size_t i = cdx::LowerBound(list, probe);
  if (i < list.Size() && CompareAt(list, i, probe) == 0) return false;
  list.keys.insert(list.keys.begin() + static_cast<std::ptrdiff_t>(i * key.size()), key.begin(), key.end());
  list.recnos.insert(list.recnos.begin() + static_cast<std::ptrdiff_t>(i), recno);
  Propagate(path, leaf, h, list);
  return true;
}

bool Tree::Remove(std::string_view key, std::uint32_t recno) {
  if (key.size() != static_cast<std::size_t>(keyLength_)) return false;
  const Probe probe{key, recno};
  std::vector<Step> path;
  std::uint32_t leaf = 0;
  if (!Descend(probe, false, &path, leaf)) return false;
  NodeHead h;
  EntryList list = LoadLeaf(leaf, h);
  const std::size_t i = cdx::LowerBound(list, probe);
  if (i >= list.Size() || CompareAt(list, i, probe) != 0) return false;
  EraseEntry(list, i);
  Propagate(path, leaf, h, list);
  return true;
}

void Tree::Link(std::uint32_t offset, bool setLeft, std::uint32_t value) {
  PutLE32(store_.Mutable(offset) + (setLeft ? kNodeLeft : kNodeRight), value);
}

std::vector<std::size_t> Tree::Partition(const EntryList& list, bool leaf) {
  const std::size_t n = list.Size();
  if (!leaf) {
    const std::size_t pieces = (n + interiorCap_ - 1) / interiorCap_;
    std::vector<std::size_t> cuts;
    for (std::size_t k = 0; k <= pieces; ++k) cuts.push_back(n * k / pieces);
    return cuts;
  }
  if (LeafBytes(list, 0, n, trail_) <= kLeafSpace) return {0, n};
  // Two leaves as even as possible: start from the middle by stored bytes.
  std::vector<std::size_t> cost(n + 1, 0);
  int prevTrail = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const int tr = TrailCount(list.Key(i), keyLength_, trail_);
    int dup = 0;
    if (i > 0) dup = CommonPrefix(list.Key(i - 1), list.Key(i), std::min(keyLength_ - tr, keyLength_ - prevTrail));
    prevTrail = tr;
    cost[i + 1] = cost[i] + static_cast<std::size_t>(keyLength_ - dup - tr) + 4;
  }
  std::size_t mid = 1;
  while (mid < n - 1 && cost[mid] * 2 < cost[n]) ++mid;
  for (std::size_t d = 0; d < n; ++d) {
    for (int sign = 0; sign < 2; ++sign) {
      if (sign == 1 && d == 0) continue;
      const std::size_t k = sign == 0 ? mid + d : mid - d;
      if (k < 1 || k >= n || (sign == 1 && d > mid)) continue;
      if (LeafBytes(list, 0, k, trail_) <= kLeafSpace && LeafBytes(list, k, n, trail_) <= kLeafSpace) {
        return {0, k, n};
      }
    }
  }
  // Long keys with wide record numbers: as many leaves as it takes.
  std::vector<std::size_t> cuts{0};
  std::size_t start = 0;
  while (start < n) {
    std::size_t end = start + 1;
    while (end < n && LeafBytes(list, start, end + 1, trail_) <= kLeafSpace) ++end;
    cuts.push_back(end);
    start = end;
  }
  return cuts;
}

Tree::Replacement Tree::StoreNode(std::uint32_t offset, const NodeHead& head, EntryList& list) {
  const bool leaf = head.IsLeaf();
  const std::size_t n = list.Size();
  Replacement r;
  r.entries.keyLength = keyLength_;
  if (n == 0) {
    if (head.IsRoot()) {
      const NodeHead empty{static_cast<std::uint16_t>(kAttrRoot | kAttrLeaf), 0, kNone, kNone};
      EncodeLeaf(list, 0, 0, empty, trail_, store_.Mutable(offset));
      return r;
    }
    if (head.left != kNone) Link(head.left, false, head.right);
    if (head.right != kNone) Link(head.right, true, head.left);
    store_.Release(offset);
    return r;
  }
  const std::vector<std::size_t> cuts = Partition(list, leaf);
  const std::size_t pieces = cuts.size() - 1;
  if (pieces == 1) {
    unsigned char* page = store_.Mutable(offset);
    if (leaf) {
      if (!EncodeLeaf(list, 0, n, head, trail_, page)) Damaged("leaf overflow");
      const std::size_t used = kLeafSpace - GetLE16(page + kLeafFree);
      r.underfull = !head.IsRoot() && used * 3 < kLeafSpace;
    } else {
      EncodeInterior(list, 0, n, head, page);
      r.underfull = !head.IsRoot() && n * 3 < interiorCap_;
    }
    AppendEntry(r.entries, list, n - 1, offset);
    return r;
  }
  // Split: the first piece stays in place, the others take new pages to its right.
  std::vector<std::uint32_t> offs(pieces, offset);
  for (std::size_t k = 1; k < pieces; ++k) offs[k] = store_.Allocate();
  const std::uint16_t attr = static_cast<std::uint16_t>(head.attr & ~kAttrRoot);
  for (std::size_t k = pieces; k-- > 0;) {
    const NodeHead ph{attr, 0, k == 0 ? head.left : offs[k - 1], k + 1 < pieces ? offs[k + 1] : head.right};
    unsigned char* page = store_.Mutable(offs[k]);
    if (leaf) {
      if (!EncodeLeaf(list, cuts[k], cuts[k + 1], ph, trail_, page)) Damaged("leaf overflow");
    } else {
      EncodeInterior(list, cuts[k], cuts[k + 1], ph, page);
    }
  }
  if (head.right != kNone) Link(head.right, true, offs.back());
  for (std::size_t k = 0; k < pieces; ++k) AppendEntry(r.entries, list, cuts[k + 1] - 1, offs[k]);
  return r;
}

void Tree::TryMerge(EntryList& parent, std::size_t index) {
  const std::size_t n = parent.Size();
  for (int side = 0; side < 2; ++side) {
    if (side == 0 && index + 1 >= n) continue;
    if (side == 1 && index == 0) continue;
    const std::size_t li = side == 0 ? index : index - 1;
    const std::uint32_t lOff = parent.children[li];
    const std::uint32_t rOff = parent.children[li + 1];
    const unsigned char* lp = store_.Get(lOff);
    const unsigned char* rp = store_.Get(rOff);
    const NodeHead lh = ReadNodeHead(lp);
    const NodeHead rh = ReadNodeHead(rp);
    if (lh.right != rOff || rh.left != lOff || lh.IsLeaf() != rh.IsLeaf()) Damaged("sibling links");
    EntryList combined;
    EntryList right;
    if (lh.IsLeaf()) {
      DecodeLeaf(lp, keyLength_, trail_, combined);
      DecodeLeaf(rp, keyLength_, trail_, right);
    } else {
      DecodeInterior(lp, keyLength_, combined);
      DecodeInterior(rp, keyLength_, right);
      if (combined.Size() + right.Size() > interiorCap_) continue;
    }
    combined.keys.insert(combined.keys.end(), right.keys.begin(), right.keys.end());
    combined.recnos.insert(combined.recnos.end(), right.recnos.begin(), right.recnos.end());
    combined.children.insert(combined.children.end(), right.children.begin(), right.children.end());
    NodeHead nh = rh;
    nh.left = lh.left;
    if (lh.IsLeaf()) {
      if (LeafBytes(combined, 0, combined.Size(), trail_) > kLeafSpace) continue;
      EncodeLeaf(combined, 0, combined.Size(), nh, trail_, store_.Mutable(rOff));
    } else {
      EncodeInterior(combined, 0, combined.Size(), nh, store_.Mutable(rOff));
    }
    if (lh.left != kNone) Link(lh.left, false, rOff);
    store_.Release(lOff);
    EraseEntry(parent, li);
    return;
  }
}

void Tree::CollapseRoot() {
  for (int i = 0; i < kMaxDepth; ++i) {
    const std::uint32_t root = Root();
    const unsigned char* page = store_.Get(root);
    const NodeHead h = ReadNodeHead(page);
    if (h.IsLeaf() || h.count != 1) return;
    const std::uint32_t child = GetBE32(InteriorEntry(page, 0, keyLength_) + keyLength_ + 4);
    unsigned char* cp = store_.Mutable(child);
    NodeHead ch = ReadNodeHead(cp);
    ch.attr = static_cast<std::uint16_t>(ch.attr | kAttrRoot);
    ch.left = kNone;
    ch.right = kNone;
    WriteNodeHead(cp, ch);
    SetRoot(child);
    store_.Release(root);
  }
}

void Tree::Propagate(const std::vector<Step>& path, std::uint32_t offset, const NodeHead& head,
                     EntryList& list) {
  Replacement r = StoreNode(offset, head, list);
  for (std::size_t level = path.size(); level-- > 0;) {
    const Step& s = path[level];
    const unsigned char* page = store_.Get(s.offset);
    const NodeHead ph = ReadNodeHead(page);
    EntryList parent;
    DecodeInterior(page, keyLength_, parent);
    if (s.index >= parent.Size()) Damaged("interior node changed under the update");
    if (r.entries.Size() == 1 && !r.underfull && SameEntry(parent, s.index, r.entries, 0)) return;
    EraseEntry(parent, s.index);
    const std::size_t kl = static_cast<std::size_t>(keyLength_);
    parent.keys.insert(parent.keys.begin() + static_cast<std::ptrdiff_t>(s.index * kl), r.entries.keys.begin(),
                       r.entries.keys.end());
    parent.recnos.insert(parent.recnos.begin() + static_cast<std::ptrdiff_t>(s.index), r.entries.recnos.begin(),
                         r.entries.recnos.end());
    parent.children.insert(parent.children.begin() + static_cast<std::ptrdiff_t>(s.index),
                           r.entries.children.begin(), r.entries.children.end());
    if (r.entries.Size() == 1 && r.underfull) TryMerge(parent, s.index);
    r = StoreNode(s.offset, ph, parent);
  }
  if (r.entries.Size() == 1) {
    CollapseRoot();
    return;
  }
  // The root split: new levels on top until one node holds them all.
  EntryList level = std::move(r.entries);
  while (level.Size() > 1) {
    const std::size_t n = level.Size();
    const std::size_t pieces = (n + interiorCap_ - 1) / interiorCap_;
    std::vector<std::uint32_t> offs(pieces);
    for (auto& o : offs) o = store_.Allocate();
    EntryList next;
    next.keyLength = keyLength_;
    for (std::size_t k = 0; k < pieces; ++k) {
      const std::size_t from = n * k / pieces;
      const std::size_t to = n * (k + 1) / pieces;
      const NodeHead h{static_cast<std::uint16_t>(pieces == 1 ? kAttrRoot : 0), 0,
                       k == 0 ? kNone : offs[k - 1], k + 1 < pieces ? offs[k + 1] : kNone};
      EncodeInterior(level, from, to, h, store_.Mutable(offs[k]));
      AppendEntry(next, level, to - 1, offs[k]);
    }
    if (pieces == 1) SetRoot(offs[0]);
    level = std::move(next);
  }
}

namespace {

// Reads the pages at `offsets` (sorted, distinct) from the file in few large reads,
// coalescing pages that lie close together, and hands each one to `visit`.
template <typename Visit>
void ReadPagesInFileOrder(File& file, std::uint64_t end, const std::vector<std::uint32_t>& offsets, Visit visit) {
  constexpr std::uint64_t kMaxRun = 2048 * kPageSize;  // 1 MB a read
  constexpr std::uint64_t kMaxGap = 8 * kPageSize;     // reading a short gap beats another call
  std::vector<unsigned char> buf;
  for (std::size_t first = 0; first < offsets.size();) {
    std::size_t last = first;
    while (last + 1 < offsets.size() && offsets[last + 1] - offsets[last] <= kMaxGap &&
           offsets[last + 1] + kPageSize - offsets[first] <= kMaxRun)
      ++last;
    const std::uint64_t start = offsets[first];
    const std::uint64_t len = offsets[last] + kPageSize - start;
    if (start % kPageSize != 0 || start + len > end) Damaged("node outside the file");
    buf.resize(len);
    if (file.ReadAt(start, buf.data(), len) != len) Damaged("file ends inside a node");
    for (std::size_t k = first; k <= last; ++k) visit(offsets[k], buf.data() + (offsets[k] - start));
    first = last + 1;
  }
}

}  // namespace

// Level by level from the root: the interior nodes name their children, so the
// leaves are read in file order, in large reads, however scattered splits and page
// reuse have left them. `visit(position, page)` gets each leaf with its position in
// key order.
template <typename Visit>
std::size_t Tree::VisitLeaves(Visit visit) {
  File& file = store_.GetFile();
  const std::uint64_t end = store_.End();
  const std::uint64_t maxPages = end / kPageSize + 1;
  std::vector<std::uint32_t> level{Root()};  // in key order
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) Damaged("tree deeper than possible (loop)");
    if (level.size() > maxPages) Damaged("more nodes than pages in the file");
    std::vector<std::pair<std::uint32_t, std::size_t>> sorted(level.size());  // offset, position
    for (std::size_t i = 0; i < level.size(); ++i) sorted[i] = {level[i], i};
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::uint32_t> offsets(sorted.size());
    for (std::size_t i = 0; i < sorted.size(); ++i) offsets[i] = sorted[i].first;
    if (std::adjacent_find(offsets.begin(), offsets.end()) != offsets.end()) Damaged("node reached twice");
    std::size_t leaves = 0, k = 0;
    std::vector<std::vector<std::uint32_t>> children(level.size());
    ReadPagesInFileOrder(file, end, offsets, [&](std::uint32_t, const unsigned char* page) {
      const std::size_t position = sorted[k++].second;
      const NodeHead h = ReadNodeHead(page);
      if (h.IsLeaf()) {
        ++leaves;
        visit(position, page);
        return;
      }
      if (h.count == 0 || h.count > interiorCap_) Damaged("interior node key count");
      for (std::size_t i = 0; i < h.count; ++i)
        children[position].push_back(GetBE32(InteriorEntry(page, i, keyLength_) + keyLength_ + 4));
    });
    if (leaves == level.size()) return leaves;
    if (leaves != 0) Damaged("leaves and interior nodes on one level");
    level.clear();
    for (const auto& c : children) level.insert(level.end(), c.begin(), c.end());
  }
}

std::uint64_t Tree::CountLeaves() {
  std::uint64_t total = 0;
  VisitLeaves([&](std::size_t, const unsigned char* page) { total += ReadNodeHead(page).count; });
  return total;
}

std::vector<std::uint32_t> Tree::RecNosInOrder() {
  struct Leaf {
    std::vector<std::uint32_t> recnos;
    std::string first, last;  // keys, for the order check between leaves
  };
  std::vector<Leaf> leaves;
  EntryList list;
  VisitLeaves([&](std::size_t position, const unsigned char* page) {
    if (position >= leaves.size()) leaves.resize(position + 1);
    DecodeLeaf(page, keyLength_, trail_, list);
    if (list.Size() == 0) return;
    Leaf& leaf = leaves[position];
    leaf.recnos = list.recnos;
    leaf.first.assign(list.KeyView(0));
    leaf.last.assign(list.KeyView(list.Size() - 1));
  });
  std::vector<std::uint32_t> out;
  const Leaf* previous = nullptr;
  for (const Leaf& leaf : leaves) {
    if (leaf.recnos.empty()) continue;
    if (previous != nullptr &&
        CompareEntry(reinterpret_cast<const unsigned char*>(leaf.first.data()), keyLength_, leaf.recnos.front(),
                     Probe{previous->last, previous->recnos.back()}) <= 0)
      Damaged("keys out of order");
    out.insert(out.end(), leaf.recnos.begin(), leaf.recnos.end());
    previous = &leaf;
  }
  return out;
}

std::uint64_t Tree::Check(std::vector<std::uint32_t>& pages) {
  pages.push_back(header_);
  pages.push_back(header_ + kPageSize);
  std::unordered_set<std::uint32_t> seen;
  std::vector<std::uint32_t> level{Root()};
  EntryList expect;
  expect.keyLength = keyLength_;
  EntryList prev;
  prev.keyLength = keyLength_;
  std::uint64_t total = 0;
  const std::size_t kl = static_cast<std::size_t>(keyLength_);
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) Damaged("tree deeper than possible (loop)");
    std::vector<std::uint32_t> next;
    EntryList nextExpect;
    nextExpect.keyLength = keyLength_;
    bool leafLevel = false;
    for (std::size_t j = 0; j < level.size(); ++j) {
      store_.Trim();
      const std::uint32_t off = level[j];
      const std::string where = " (page " + std::to_string(off) + ")";
      if (off < kHeaderSize || !seen.insert(off).second) Damaged("page reached twice" + where);
      const unsigned char* page = store_.Get(off);
      const NodeHead h = ReadNodeHead(page);
      if (j == 0) leafLevel = h.IsLeaf();
      if (h.IsLeaf() != leafLevel) Damaged("leaves at different depths" + where);
      if ((h.attr & ~(kAttrRoot | kAttrLeaf)) != 0) Damaged("node attributes" + where);
      if (h.IsRoot() != (depth == 0)) Damaged("root flag" + where);
      if (h.left != (j > 0 ? level[j - 1] : kNone)) Damaged("left sibling link" + where);
      if (h.right != (j + 1 < level.size() ? level[j + 1] : kNone)) Damaged("right sibling link" + where);
      EntryList l;
      if (leafLevel) {
        std::size_t keyBytes = 0;
        DecodeLeaf(page, keyLength_, trail_, l, &keyBytes);
        if (l.Size() == 0 && depth != 0) Damaged("empty leaf" + where);
        if (l.Size() > 0) {
          const int rb = page[kLeafRecBits];
          const int db = page[kLeafDupBits];
          const int tb = page[kLeafTrailBits];
          const std::size_t bpe = page[kLeafEntryBytes];
          if (GetLE32(page + kLeafRecMask) != LowMask(rb) || page[kLeafDupMask] != LowMask(db) ||
              page[kLeafTrailMask] != LowMask(tb)) {
            Damaged("leaf masks do not match bit widths" + where);
          }
          if (GetLE16(page + kLeafFree) != kLeafSpace - l.Size() * bpe - keyBytes) {
            Damaged("leaf free byte count" + where);
          }
        }
        for (std::size_t i = 0; i < l.Size(); ++i) {
          if (l.recnos[i] == 0) Damaged("record number 0" + where);
          if (prev.Size() > 0) {
            const int c = CompareEntry(l.Key(i), keyLength_, l.recnos[i], Probe{prev.KeyView(0), prev.recnos[0]});
            if (c <= 0) Damaged("keys out of order" + where);
            if (unique_ && std::memcmp(l.Key(i), prev.Key(0), kl) == 0) Damaged("duplicate key in unique tag" + where);
          }
          prev.Clear();
          AppendEntry(prev, l, i, 0);
        }
        total += l.Size();
      } else {
        DecodeInterior(page, keyLength_, l);
        if (l.Size() == 0) Damaged("empty interior node" + where);
        for (std::size_t i = 0; i < l.Size(); ++i) {
          if (i > 0 && CompareEntry(l.Key(i), keyLength_, l.recnos[i], Probe{l.KeyView(i - 1), l.recnos[i - 1]}) <= 0) {
            Damaged("interior keys out of order" + where);
          }
          next.push_back(l.children[i]);
          AppendEntry(nextExpect, l, i, l.children[i]);
        }
      }
      if (depth > 0 && l.Size() > 0) {
        const std::size_t last = l.Size() - 1;
        if (l.recnos[last] != expect.recnos[j] || std::memcmp(l.Key(last), expect.Key(j), kl) != 0) {
          Damaged("interior entry differs from its child's last entry" + where);
        }
      }
      pages.push_back(off);
    }
    if (leafLevel) return total;
    level = std::move(next);
    expect = std::move(nextExpect);
  }
}

void Tree::CollectPages(std::vector<std::uint32_t>& pages) {
  pages.push_back(header_);
  pages.push_back(header_ + kPageSize);
  std::unordered_set<std::uint32_t> seen;
  std::vector<std::uint32_t> level{Root()};
  for (int depth = 0; !level.empty(); ++depth) {
    if (depth > kMaxDepth) Damaged("tree deeper than possible (loop)");
    std::vector<std::uint32_t> next;
    for (std::uint32_t off : level) {
      store_.Trim();
      if (off < kHeaderSize || !seen.insert(off).second) Damaged("page reached twice");
      const unsigned char* page = store_.Get(off);
      const NodeHead h = ReadNodeHead(page);
      pages.push_back(off);
      if (h.IsLeaf()) continue;
      if (h.count > interiorCap_) Damaged("interior node key count");
      for (std::size_t i = 0; i < h.count; ++i) next.push_back(GetBE32(InteriorEntry(page, i, keyLength_) + keyLength_ + 4));
    }
    level = std::move(next);
  }
}

namespace {

// The pages of a tree being built, numbered from 0 at `base` in the file: kept in
// memory only until a run of them is written, so the build needs little beside its
// keys. The newest page stays, as the build may still change it. Runs stay small on
// purpose too: the system caches a file written in large pieces in large pieces, and
// each later write of one page into such a piece costs several times more (measured:
// 1.2 us a page after 128 KB writes, 4 us after 1 MB, 12 us after one 20 MB write).
class PageSink {
 public:
  PageSink(File& file, std::uint32_t base) : file_(file), base_(base) {}
  std::uint32_t New() {
    if (buf_.size() >= kRunBytes) Spill();
    buf_.resize(buf_.size() + kPageSize);
    return count_++;
  }
  unsigned char* Page(std::uint32_t index) {
    if (index < first_) throw DbError("index build: page already written");
    return buf_.data() + static_cast<std::size_t>(index - first_) * kPageSize;
  }
  std::uint32_t Count() const { return count_; }
  void Finish() {
    Write(buf_.size());
    buf_.clear();
    first_ = count_;
  }

 private:
  static constexpr std::size_t kRunBytes = 256 * kPageSize;
  void Spill() {
    const std::size_t keep = kPageSize;
    Write(buf_.size() - keep);
    buf_.erase(buf_.begin(), buf_.end() - static_cast<std::ptrdiff_t>(keep));
    first_ = count_ - 1;
  }
  void Write(std::size_t bytes) {
    if (bytes > 0) file_.WriteAt(base_ + std::uint64_t{first_} * kPageSize, buf_.data(), bytes);
  }

  File& file_;
  std::uint32_t base_;
  std::vector<unsigned char> buf_;
  std::uint32_t first_ = 0;
  std::uint32_t count_ = 0;
};

}  // namespace

namespace {

// Compression counts of every entry against the one before it, worked out once.
struct Compression {
  std::vector<std::uint8_t> dups;
  std::vector<std::uint8_t> trails;
};

Compression CompressionCounts(const EntryList& sorted, unsigned char trail) {
  const int kl = sorted.keyLength;
  const std::size_t n = sorted.Size();
  Compression c{std::vector<std::uint8_t>(n), std::vector<std::uint8_t>(n)};
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char* key = sorted.Key(i);
    c.trails[i] = static_cast<std::uint8_t>(TrailCount(key, kl, trail));
    if (i > 0) {
      const int limit = std::min(kl - c.trails[i], kl - c.trails[i - 1]);
      c.dups[i] = static_cast<std::uint8_t>(CommonPrefix(sorted.Key(i - 1), key, limit));
    }
  }
  return c;
}

// The leaves, as many entries per page as fit; returns the last entry of each leaf
// with the leaf's offset, the entries of the level above.
EntryList WriteLeaves(PageSink& out, std::uint32_t base, const EntryList& sorted, unsigned char trail) {
  const int kl = sorted.keyLength;
  const std::size_t n = sorted.Size();
  const Compression c = CompressionCounts(sorted, trail);
  EntryList upper;
  upper.keyLength = kl;
  std::uint32_t prevOff = kNone;
  auto emitLeaf = [&](std::size_t from, std::size_t to) {
    const std::uint32_t idx = out.New();
    const std::uint32_t off = base + idx * kPageSize;
    const NodeHead h{kAttrLeaf, 0, prevOff, off + kPageSize};
    if (!EncodeLeafCounted(sorted, from, to, c.dups.data(), c.trails.data(), h, out.Page(idx))) {
      throw DbError("index build: leaf overflow");
    }
    if (to > from) AppendEntry(upper, sorted, to - 1, off);
    prevOff = off;
  };
  std::size_t start = 0;
  std::size_t stored = 0;
  std::uint32_t maxRec = 0;
  int recBitsFor = 0;
  std::size_t bpe = 3;
  for (std::size_t i = 0; i < n; ++i) {
    std::size_t st = static_cast<std::size_t>(kl - (i > start ? c.dups[i] : 0) - c.trails[i]);
    std::uint32_t m = std::max(maxRec, sorted.recnos[i]);
    if (m != maxRec || i == start) {
      const int bits = BitsFor(m);
      if (bits != recBitsFor) {
        recBitsFor = bits;
        bpe = static_cast<std::size_t>(ChooseLeafLayout(kl, m).entryBytes);
      }
    }
    if (i > start && (i - start + 1) * bpe + stored + st > kLeafSpace) {
      emitLeaf(start, i);
      start = i;
      stored = 0;
      st = static_cast<std::size_t>(kl - c.trails[i]);
      m = sorted.recnos[i];
      recBitsFor = BitsFor(m);
      bpe = static_cast<std::size_t>(ChooseLeafLayout(kl, m).entryBytes);
    }
    stored += st;
    maxRec = m;
  }
  emitLeaf(start, n);
  PutLE32(out.Page(out.Count() - 1) + kNodeRight, kNone);
  return upper;
}

// The interior levels above the leaves, each page filled evenly; returns the root.
std::uint32_t WriteInteriorLevels(PageSink& out, std::uint32_t base, EntryList upper) {
  const int kl = upper.keyLength;
  const std::size_t cap = InteriorCapacity(kl);
  std::uint32_t root = base;
  while (upper.Size() > 1) {
    const std::size_t m = upper.Size();
    const std::size_t pieces = (m + cap - 1) / cap;
    EntryList next;
    next.keyLength = kl;
    std::uint32_t left = kNone;
    for (std::size_t k = 0; k < pieces; ++k) {
      const std::size_t from = m * k / pieces;
      const std::size_t to = m * (k + 1) / pieces;
      const std::uint32_t idx = out.New();
      const std::uint32_t off = base + idx * kPageSize;
      const NodeHead h{static_cast<std::uint16_t>(pieces == 1 ? kAttrRoot : 0), 0, left,
                       k + 1 < pieces ? off + kPageSize : kNone};
      EncodeInterior(upper, from, to, h, out.Page(idx));
      AppendEntry(next, upper, to - 1, off);
      left = off;
      root = off;
    }
    upper = std::move(next);
  }
  return root;
}

}  // namespace

std::uint32_t BuildTree(PageStore& store, TagHeader header, const EntryList& sorted, unsigned char trail) {
  const std::uint32_t at = store.Reserve(kHeaderSize);
  const std::uint32_t base = at + kHeaderSize;
  PageSink out(store.GetFile(), base);
  EntryList upper = WriteLeaves(out, base, sorted, trail);
  std::uint32_t root = base;
  if (out.Count() == 1)
    PutLE16(out.Page(0) + kNodeAttr, kAttrRoot | kAttrLeaf);
  else
    root = WriteInteriorLevels(out, base, std::move(upper));
  header.root = root;
  std::vector<unsigned char> head(kHeaderSize);
  EncodeHeader(header, head.data());
  out.Finish();
  if (store.Reserve(std::uint64_t{out.Count()} * kPageSize) != base) throw DbError("index build: space not contiguous");
  store.GetFile().WriteAt(at, head.data(), head.size());
  return at;
}

}  // namespace vz::db::cdx
