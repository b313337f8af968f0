#pragma once
// One B-tree of a CDX file (a tag, or the tag directory), reached through its header.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "dbengine/cdx_page.hpp"
#include "dbengine/cdx_store.hpp"

namespace vz::db::cdx {

class Tree {
 public:
  Tree(PageStore& store, std::uint32_t header, int keyLength, unsigned char trail, bool unique);

  std::uint32_t Header() const { return header_; }
  int KeyLength() const { return keyLength_; }
  void SetTrail(unsigned char trail) {
    trail_ = trail;
    leafGen_ = 0;
  }

  std::optional<CdxEntry> First();
  std::optional<CdxEntry> Last();
  // First entry >= probe.
  std::optional<CdxEntry> LowerBound(const Probe& probe);
  // Last entry < probe.
  std::optional<CdxEntry> Before(const Probe& probe);

  bool Insert(std::string_view key, std::uint32_t recno);
  bool Remove(std::string_view key, std::uint32_t recno);

  // Counts entries by walking the leaf level straight from the file (reads ahead in
  // growing runs, so a tree built in one go is read in a few large reads). Only call
  // with no uncommitted changes.
  std::uint64_t CountLeaves();
  // The record numbers of all entries in key order, from one such walk (keys out of
  // order between leaves are damage). Same condition.
  std::vector<std::uint32_t> RecNosInOrder();

  // Verifies the whole tree; appends every page it uses (header pages included) to
  // `pages` and returns the number of entries.
  std::uint64_t Check(std::vector<std::uint32_t>& pages);
  // Every page of the tree (header pages included), for freeing.
  void CollectPages(std::vector<std::uint32_t>& pages);

 private:
  struct Step {
    std::uint32_t offset;
    std::size_t index;
  };
  struct Replacement {
    EntryList entries;  // last entry of each node + its offset (children)
    bool underfull = false;
  };

  std::uint32_t Root();
  template <typename Visit>
  std::size_t VisitLeaves(Visit visit);
  void SetRoot(std::uint32_t root);
  bool Descend(const Probe& probe, bool forInsert, std::vector<Step>* path, std::uint32_t& leaf);
  const EntryList& LoadLeaf(std::uint32_t offset, NodeHead& head);
  void CheckLeafEnd(const EntryList& leaf);
  std::optional<CdxEntry> BeforeSlow(const Probe& probe);
  std::optional<CdxEntry> EntryAt(std::uint32_t leaf, std::size_t index);
  std::uint32_t Edge(bool last);
  void Propagate(const std::vector<Step>& path, std::uint32_t offset, const NodeHead& head,
                 EntryList& list);
  Replacement StoreNode(std::uint32_t offset, const NodeHead& head, EntryList& list);
  std::vector<std::size_t> Partition(const EntryList& list, bool leaf);
  void TryMerge(EntryList& parent, std::size_t index);
  void CollapseRoot();
  void Link(std::uint32_t offset, bool setLeft, std::uint32_t value);

  PageStore& store_;
  std::uint32_t header_;
  int keyLength_;
  unsigned char trail_;
  bool unique_;
  std::size_t interiorCap_;

  // The interior entry the last Descend took to its leaf (empty key: the root is a leaf).
  std::string parentKey_;
  std::uint64_t parentRecno_ = 0;
  // Last decoded leaf, valid while the store's generation is unchanged.
  std::uint64_t leafGen_ = 0;
  std::uint32_t leafOff_ = 0;
  NodeHead leafHead_;
  EntryList leaf_;
};

// Writes a complete tag at the end of the file in one go: its header, full leaves in key
// order, then each interior level up to the root. `sorted` must be in tag order. Returns
// the header offset. Nothing refers to the new pages until the caller enters the header
// in the directory.
std::uint32_t BuildTree(PageStore& store, TagHeader header, const EntryList& sorted,
                        unsigned char trail);

}  // namespace vz::db::cdx
