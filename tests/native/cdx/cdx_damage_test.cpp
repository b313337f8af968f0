// Damaged files and failing writes: every fault reads as CdxDamaged (or DbError for the
// failing I/O itself), never as a crash and never as a silently different index.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "cdx_testutil.hpp"
#include "dbengine/cdx_page.hpp"

namespace vz::db::test {
namespace {

using namespace cdx;

// Everything a reader does with an index; true when it all went through.
bool Exercise(const std::vector<unsigned char>& bytes) {
  auto storage = NewStorage(bytes);
  try {
    CdxOptions o;
    o.cachePages = 16;
    auto index = CdxIndex::Open(Opener(storage), o);
    bool checked = true;
    try {
      index->Check();
    } catch (const CdxDamaged&) {
      checked = false;
    }
    for (const auto& info : index->Tags()) {
      CdxTag* tag = index->FindTag(info.name);
      std::size_t n = 0;
      for (auto e = tag->First(); e; e = tag->Next(*e)) ++n;
      for (auto e = tag->Last(); e; e = tag->Prev(*e)) --n;
      if (checked) {
        EXPECT_EQ(n, 0u);
      }
      tag->Count();
      const std::size_t listed = tag->RecNos().size();
      if (checked) {
        EXPECT_EQ(listed, tag->Count());
      }
      tag->Seek("M");
      std::string key(static_cast<std::size_t>(info.keyLength), 'Q');
      tag->Insert(key, 77);
      tag->Remove(key, 77);
    }
    return checked;
  } catch (const CdxDamaged&) {
    return false;
  }
}

std::vector<unsigned char> BuiltIndex() {
  auto storage = NewStorage();
  auto index = CdxIndex::Create(Opener(storage));
  index->AddTag(NameTagInfo(), LiveEntries(ReadNames(XbaseFixture("n2000/VZPB.dbf"))));
  CdxTagInfo phone;
  phone.name = "SHORT";
  phone.keyExpr = "LEFT(NAME,4)";
  phone.keyLength = 4;
  std::vector<CdxEntry> entries;
  for (std::uint32_t i = 1; i <= 300; ++i) entries.push_back({std::to_string(1000 + i * 37 % 500), i});
  index->AddTag(phone, entries);
  return storage->bytes;
}

TEST(CdxDamage, TruncatedFilesAreDamagedNotFatal) {
  for (const auto& bytes : {ReadWholeFile(XbaseFixture("n2000/VZPB.cdx")), BuiltIndex()}) {
    ASSERT_TRUE(Exercise(bytes));
    std::mt19937 rng(3);
    for (std::size_t len = 0; len < bytes.size(); len += (len < 4096 ? 1 + rng() % 97 : 512)) {
      SCOPED_TRACE(len);
      std::vector<unsigned char> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(len));
      EXPECT_NO_THROW(Exercise(cut));
    }
  }
}

TEST(CdxDamage, RandomCorruptionNeverCrashes) {
  const auto sources = {ReadWholeFile(XbaseFixture("n2000/VZPB.cdx")), BuiltIndex()};
  std::mt19937 rng(5);
  int damaged = 0;
  int runs = 0;
  for (const auto& bytes : sources) {
    for (int round = 0; round < 250; ++round) {
      std::vector<unsigned char> bad = bytes;
      const int flips = 1 + static_cast<int>(rng() % 6);
      // Mostly in node headers and entry tables, where structure lives.
      for (int f = 0; f < flips; ++f) {
        const std::size_t page = rng() % (bad.size() / kPageSize);
        const std::size_t at = page * kPageSize + (rng() % 2 ? rng() % 32 : rng() % kPageSize);
        bad[at] = static_cast<unsigned char>(rng());
      }
      ++runs;
      try {
        if (!Exercise(bad)) ++damaged;
      } catch (const std::exception& e) {
        ADD_FAILURE() << "round " << round << ": unexpected " << e.what();
      }
    }
  }
  // Most random changes of structure bytes are noticed.
  EXPECT_GT(damaged, runs / 4);
}

class CdxCheck : public ::testing::Test {
 protected:
  void SetUp() override { bytes_ = BuiltIndex(); }
  std::uint32_t NameRoot() { return GetLE32(bytes_.data() + 0x600); }
  // First leaf and an interior node of tag NAME.
  std::uint32_t FirstLeaf() {
    std::uint32_t off = NameRoot();
    while (!(GetLE16(bytes_.data() + off) & kAttrLeaf)) off = GetBE32(bytes_.data() + off + 12 + 35 + 4);
    return off;
  }
  void ExpectDamaged(const char* what) {
    SCOPED_TRACE(what);
    auto storage = NewStorage(bytes_);
    try {
      auto index = CdxIndex::Open(Opener(storage));
      EXPECT_THROW(index->Check(), CdxDamaged);
    } catch (const CdxDamaged&) {
      // Refused at open: as good.
    }
  }
  std::vector<unsigned char> bytes_;
};

TEST_F(CdxCheck, FindsEachKindOfStructuralFault) {
  const std::uint32_t leaf = FirstLeaf();
  const std::uint32_t root = NameRoot();
  const auto original = bytes_;
  auto reset = [&] { bytes_ = original; };

  PutLE16(bytes_.data() + leaf + kLeafFree, GetLE16(bytes_.data() + leaf + kLeafFree) + 1);
  ExpectDamaged("free byte count");
  reset();
  {
    EntryList l;
    DecodeLeaf(bytes_.data() + leaf, 35, ' ', l);
    ASSERT_GT(l.Size(), 2u);
    std::swap(l.recnos[0], l.recnos[1]);
    std::swap_ranges(l.keys.begin(), l.keys.begin() + 35, l.keys.begin() + 35);
    ASSERT_TRUE(EncodeLeaf(l, 0, l.Size(), ReadNodeHead(bytes_.data() + leaf), ' ', bytes_.data() + leaf));
  }
  ExpectDamaged("keys out of order");
  reset();
  {
    // The first two leaves swapped in the root: the walk of all record numbers meets
    // them out of key order.
    const std::uint32_t first = root + kInteriorEntries + 35 + 4, second = first + 35 + 8;
    const std::uint32_t a = GetBE32(bytes_.data() + first);
    PutBE32(bytes_.data() + first, GetBE32(bytes_.data() + second));
    PutBE32(bytes_.data() + second, a);
    auto storage = NewStorage(bytes_);
    auto index = CdxIndex::Open(Opener(storage));
    try {
      index->FindTag("NAME")->RecNos();
      ADD_FAILURE() << "leaves out of order not noticed";
    } catch (const CdxDamaged& e) {
      EXPECT_NE(std::string(e.what()).find("keys out of order"), std::string::npos) << e.what();
    }
  }
  reset();
  PutLE32(bytes_.data() + leaf + kNodeRight, leaf);
  ExpectDamaged("right sibling loop");
  reset();
  bytes_[root + kInteriorEntries] ^= 0x01;  // first interior key
  ExpectDamaged("interior key differs from child");
  reset();
  PutBE32(bytes_.data() + root + kInteriorEntries + 35 + 4, root);  // child is its own parent
  ExpectDamaged("loop through child pointer");
  reset();
  PutBE32(bytes_.data() + root + kInteriorEntries + 35 + 4, 0x7FFFFE00);
  ExpectDamaged("child outside the file");
  reset();
  bytes_[leaf + kLeafRecBits] = 30;
  ExpectDamaged("bit widths");
  reset();
  PutLE16(bytes_.data() + leaf, 0);  // a leaf marked interior
  ExpectDamaged("attributes");
  reset();
  PutLE32(bytes_.data() + kHdrFreeList, leaf);  // a page both free and in use
  ExpectDamaged("free list");
  reset();
  PutLE32(bytes_.data() + kHdrUpdateMark, kUpdateMarkValue);
  ExpectDamaged("interrupted update");
  reset();
  PutLE16(bytes_.data() + 0x600 + kHdrKeyExprLength, 600);
  ExpectDamaged("expression lengths");
  reset();
  PutLE16(bytes_.data() + kHdrKeyLength, 0);
  ExpectDamaged("directory key length");
  reset();
  auto storage = NewStorage(bytes_);
  EXPECT_NO_THROW(CdxIndex::Open(Opener(storage))->Check());
}

// A scenario of updates on a shared index; returns the entries after each completed step.
struct Scenario {
  static constexpr int kSteps = 60;
  static CdxEntry Step(int i) {
    std::string key = "Step" + std::to_string((i * 7) % 23);
    key.resize(35, ' ');
    return {key, static_cast<std::uint32_t>(i % 3 == 2 ? (i - 2) * 1000 + 1 : i * 1000 + 1)};
  }
};

TEST(CdxFaults, AWriterDyingAtAnyWriteLeavesTheOldStateTheNewStateOrDamage) {
  const auto base = [] {
    auto s = NewStorage();
    auto index = CdxIndex::Create(Opener(s));
    std::vector<CdxEntry> entries;
    for (std::uint32_t i = 1; i <= 700; ++i) {
      std::string k = "Base" + std::to_string(i % 250);
      k.resize(35, ' ');
      entries.push_back({k, i});
    }
    index->AddTag(NameTagInfo(), entries);
    return s->bytes;
  }();
  // The fault-free run: model states and the number of writes.
  std::vector<std::set<std::pair<std::string, std::uint32_t>>> states;
  long totalWrites = 0;
  {
    auto s = NewStorage(base);
    auto index = CdxIndex::Open(Opener(s));
    CdxTag& tag = *index->FindTag("NAME");
    auto state = [&] {
      std::set<std::pair<std::string, std::uint32_t>> m;
      for (const auto& e : ListForward(tag)) m.emplace(e.key, e.recno);
      return m;
    };
    states.push_back(state());
    s->writes = 0;
    for (int i = 0; i < Scenario::kSteps; ++i) {
      const CdxEntry e = Scenario::Step(i);
      if (i % 3 == 2) {
        tag.Remove(e.key, e.recno);
      } else {
        tag.Insert(e.key, e.recno);
      }
      states.push_back(state());
    }
    totalWrites = s->writes;
  }
  ASSERT_GT(totalWrites, Scenario::kSteps);
  int damagedSeen = 0;
  for (long failAt = 1; failAt <= totalWrites; ++failAt) {
    SCOPED_TRACE(failAt);
    auto s = NewStorage(base);
    int completed = 0;
    {
      auto index = CdxIndex::Open(Opener(s));
      CdxTag& tag = *index->FindTag("NAME");
      s->writes = 0;
      s->failWriteAt = failAt;
      s->failForever = true;  // the writer is gone: nothing after this write reaches the file
      try {
        for (int i = 0; i < Scenario::kSteps; ++i, ++completed) {
          const CdxEntry e = Scenario::Step(i);
          if (i % 3 == 2) {
            tag.Remove(e.key, e.recno);
          } else {
            tag.Insert(e.key, e.recno);
          }
        }
      } catch (const DbError&) {
      }
    }
    ASSERT_LT(completed, Scenario::kSteps);
    auto after = NewStorage(s->bytes);
    try {
      auto index = CdxIndex::Open(Opener(after));
      index->Check();
      std::set<std::pair<std::string, std::uint32_t>> m;
      for (const auto& e : ListForward(*index->FindTag("NAME"))) m.emplace(e.key, e.recno);
      EXPECT_TRUE(m == states[static_cast<std::size_t>(completed)] || m == states[static_cast<std::size_t>(completed) + 1])
          << "silently different index after a failed write";
    } catch (const CdxDamaged&) {
      ++damagedSeen;
      // The table's answer: build the index again over the same file.
      auto rebuilt = CdxIndex::Create(Opener(after));
      EXPECT_TRUE(rebuilt->Tags().empty());
    }
  }
  // Multi-page updates (splits) did happen and were caught half way.
  EXPECT_GT(damagedSeen, 0);
}

TEST(CdxFaults, FailedWriteInALiveIndexIsNotKeptInMemory) {
  auto s = NewStorage();
  auto index = CdxIndex::Create(Opener(s));
  CdxTag& tag = index->AddTag(NameTagInfo(), {});
  std::string key(35, 'A');
  s->writes = 0;
  s->failWriteAt = 1;
  EXPECT_THROW(tag.Insert(key, 1), DbError);
  s->failWriteAt = 0;
  // The failed insert left nothing behind, in memory or on file.
  EXPECT_FALSE(tag.First());
  EXPECT_TRUE(tag.Insert(key, 1));
  EXPECT_EQ(tag.Count(), 1u);
  auto other = NewStorage(s->bytes);
  other->failReads = true;
  EXPECT_THROW(CdxIndex::Open(Opener(other)), DbError);
}

}  // namespace
}  // namespace vz::db::test
