// Byte layout: leaf compression, interior nodes, headers, and the files we write compared
// with the golden files of an independent xBase system and with an independent reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>

#include "cdx_testutil.hpp"
#include "dbengine/cdx_page.hpp"

namespace vz::db::test {
namespace {

using namespace cdx;

EntryList MakeList(int kl, const std::vector<std::pair<std::string, std::uint32_t>>& items) {
  EntryList l;
  l.keyLength = kl;
  for (const auto& [k, r] : items) {
    std::string key = k;
    key.resize(static_cast<std::size_t>(kl), ' ');
    l.keys.insert(l.keys.end(), key.begin(), key.end());
    l.recnos.push_back(r);
  }
  return l;
}

TEST(CdxLeaf, RoundTripsAndCountsFreeBytes) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    const int kl = 1 + static_cast<int>(rng() % 60);
    std::vector<std::pair<std::string, std::uint32_t>> items;
    const std::uint32_t maxRec = round % 3 == 0 ? 100 : (round % 3 == 1 ? 70000 : 0xFFFFFFF0u);
    for (int i = 0; i < 12; ++i) {
      std::string k(rng() % (kl + 1), 'a');
      for (char& c : k) c = static_cast<char>('a' + rng() % 3);
      items.emplace_back(k, 1 + rng() % maxRec);
    }
    std::sort(items.begin(), items.end());
    EntryList list = MakeList(kl, items);
    unsigned char page[kPageSize];
    const NodeHead head{kAttrLeaf, 0, 0x400, kNone};
    ASSERT_TRUE(EncodeLeaf(list, 0, list.Size(), head, ' ', page));
    EntryList back;
    std::size_t keyBytes = 0;
    DecodeLeaf(page, kl, ' ', back, &keyBytes);
    ASSERT_EQ(back.keys, list.keys);
    ASSERT_EQ(back.recnos, list.recnos);
    EXPECT_EQ(GetLE16(page + kLeafFree), kLeafSpace - list.Size() * page[kLeafEntryBytes] - keyBytes);
    EXPECT_EQ(LeafBytes(list, 0, list.Size(), ' '), kLeafSpace - GetLE16(page + kLeafFree));
    EXPECT_EQ(ReadNodeHead(page).left, 0x400u);
    EXPECT_EQ(ReadNodeHead(page).right, kNone);
  }
}

TEST(CdxLeaf, BitWidthsAreMinimalForThePage) {
  // 35-byte keys need 6 bits for each count; record numbers get what three or more bytes leave.
  auto layout = ChooseLeafLayout(35, 4095);
  EXPECT_EQ(layout.entryBytes, 3);
  EXPECT_EQ(layout.recBits, 12);
  EXPECT_EQ(layout.dupBits, 6);
  layout = ChooseLeafLayout(35, 4096);
  EXPECT_EQ(layout.entryBytes, 4);
  EXPECT_EQ(layout.recBits, 20);
  layout = ChooseLeafLayout(35, 1u << 20);
  EXPECT_EQ(layout.entryBytes, 5);
  layout = ChooseLeafLayout(10, 0x600);  // the tag directory of the golden files: 16/4/4
  EXPECT_EQ(layout.entryBytes, 3);
  EXPECT_EQ(layout.recBits, 16);
  EXPECT_EQ(layout.dupBits, 4);
  layout = ChooseLeafLayout(240, 0xFFFFFFFFu);
  EXPECT_EQ(layout.recBits, 32);
  EXPECT_EQ(layout.entryBytes, 6);
}

TEST(CdxLeaf, DuplicateCountStopsAtThePreviousKeysTrailingBlanks) {
  // "AB   " then "AB  X": the common prefix is 4 bytes, but two of them are the previous
  // key's trailing blanks, so only 2 count as duplicates and "  X" is stored.
  EntryList list = MakeList(5, {{"AB", 1}, {"AB  X", 2}});
  unsigned char page[kPageSize];
  ASSERT_TRUE(EncodeLeaf(list, 0, 2, NodeHead{kAttrLeaf, 0, kNone, kNone}, ' ', page));
  const int bpe = page[kLeafEntryBytes];
  const int rb = page[kLeafRecBits];
  const int db = page[kLeafDupBits];
  std::uint64_t v = 0;
  for (int b = bpe - 1; b >= 0; --b) v = (v << 8) | page[kLeafEntries + bpe + b];
  EXPECT_EQ((v >> rb) & LowMask(db), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(page) + kPageSize - 2 - 3, 3), "  X");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(page) + kPageSize - 2, 2), "AB");
}

TEST(CdxLeaf, RefusesWhatDoesNotFitAndRejectsBrokenPages) {
  std::vector<std::pair<std::string, std::uint32_t>> items;
  for (int i = 0; i < 20; ++i) items.emplace_back(std::string(30, static_cast<char>('A' + i)), i + 1);
  EntryList list = MakeList(30, items);
  unsigned char page[kPageSize];
  EXPECT_FALSE(EncodeLeaf(list, 0, list.Size(), NodeHead{kAttrLeaf, 0, kNone, kNone}, ' ', page));
  ASSERT_TRUE(EncodeLeaf(list, 0, 10, NodeHead{kAttrLeaf, 0, kNone, kNone}, ' ', page));
  EntryList out;
  unsigned char bad[kPageSize];
  std::memcpy(bad, page, kPageSize);
  PutLE16(bad + kNodeCount, 200);  // more entries than the page holds
  EXPECT_THROW(DecodeLeaf(bad, 30, ' ', out), CdxDamaged);
  std::memcpy(bad, page, kPageSize);
  bad[kLeafEntryBytes] = 1;  // fewer bits than the widths add up to
  EXPECT_THROW(DecodeLeaf(bad, 30, ' ', out), CdxDamaged);
  std::memcpy(bad, page, kPageSize);
  PutLE16(bad + kNodeCount, 40);  // keys would run into the entry table
  EXPECT_THROW(DecodeLeaf(bad, 30, ' ', out), CdxDamaged);
}

TEST(CdxInterior, EntriesAreBigEndianAndCapacityFollowsKeyLength) {
  EXPECT_EQ(InteriorCapacity(35), 11u);
  EXPECT_EQ(InteriorCapacity(10), 27u);
  EntryList list = MakeList(35, {{"Adams", 0x01020304}, {"Zimmer", 7}});
  list.children = {0xA00, 0x1200};
  unsigned char page[kPageSize];
  EncodeInterior(list, 0, 2, NodeHead{kAttrRoot, 0, kNone, kNone}, page);
  EXPECT_EQ(GetLE16(page + kNodeCount), 2);
  const unsigned char* e = page + kInteriorEntries;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(e), 5), "Adams");
  EXPECT_EQ(e[35], 0x01);
  EXPECT_EQ(e[38], 0x04);
  EXPECT_EQ(GetBE32(e + 39), 0xA00u);
  EntryList back;
  DecodeInterior(page, 35, back);
  EXPECT_EQ(back.keys, list.keys);
  EXPECT_EQ(back.children, list.children);
  PutLE16(page + kNodeCount, 12);
  EXPECT_THROW(DecodeInterior(page, 35, back), CdxDamaged);
}

TEST(CdxGolden, SmallFileMatchesByteForByte) {
  const auto golden = ReadWholeFile(XbaseFixture("small/VZPB.cdx"));
  ASSERT_EQ(golden.size(), 3072u);
  auto storage = NewStorage();
  CdxOptions exclusive;
  exclusive.shared = false;
  auto index = CdxIndex::Create(Opener(storage), exclusive);
  index->AddTag(NameTagInfo(), LiveEntries(ReadNames(XbaseFixture("small/VZPB.dbf"))));
  const auto& ours = storage->bytes;
  ASSERT_EQ(ours.size(), golden.size());
  // The only difference: four bytes at directory header offset 20 where the other writer
  // records its own identification; we leave them zero.
  for (std::size_t i = 0; i < ours.size(); ++i) {
    if (i >= 20 && i < 24) {
      EXPECT_EQ(ours[i], 0) << "offset " << i;
    } else {
      ASSERT_EQ(ours[i], golden[i]) << "offset " << i;
    }
  }
}

TEST(CdxGolden, ReadsBothGoldenFilesInTagOrder) {
  for (const std::string set : {"small", "n2000"}) {
    SCOPED_TRACE(set);
    auto storage = NewStorage(ReadWholeFile(XbaseFixture(set + "/VZPB.cdx")));
    auto index = CdxIndex::Open(Opener(storage));
    const auto tags = index->Tags();
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_EQ(tags[0].name, "NAME");
    EXPECT_EQ(tags[0].keyExpr, "NAME");
    EXPECT_EQ(tags[0].forExpr, ".not. deleted()");
    EXPECT_EQ(tags[0].keyLength, 35);
    EXPECT_FALSE(tags[0].descending);
    EXPECT_FALSE(tags[0].unique);
    CdxTag* tag = index->FindTag("name");
    ASSERT_NE(tag, nullptr);
    std::vector<CdxEntry> expected = LiveEntries(ReadNames(XbaseFixture(set + "/VZPB.dbf")));
    std::sort(expected.begin(), expected.end(), CdxLess);
    if (set == "n2000") {
      const auto tsv = ReadExpected(XbaseFixture("n2000/expected.tsv"));
      ASSERT_EQ(tsv.size(), expected.size());
      EXPECT_TRUE(tsv == expected);
    }
    EXPECT_TRUE(ListForward(*tag) == expected);
    auto backward = ListBackward(*tag);
    std::reverse(backward.begin(), backward.end());
    EXPECT_TRUE(backward == expected);
    EXPECT_EQ(tag->Count(), expected.size());
    EXPECT_NO_THROW(index->Check());
    // Seeks: every key finds its first record; a prefix finds the first key starting with it.
    for (std::size_t i = 0; i < expected.size(); ++i) {
      if (i > 0 && expected[i - 1].key == expected[i].key) continue;
      auto e = tag->Seek(expected[i].key);
      ASSERT_TRUE(e);
      EXPECT_EQ(*e, expected[i]);
    }
    const std::string prefix = expected[expected.size() / 2].key.substr(0, 3);
    auto e = tag->Seek(prefix);
    ASSERT_TRUE(e);
    const auto first = std::find_if(expected.begin(), expected.end(),
                                    [&](const CdxEntry& x) { return x.key.compare(0, 3, prefix) == 0; });
    EXPECT_EQ(*e, *first);
    EXPECT_FALSE(tag->Seek(std::string(35, '\xFF')));
  }
}

// index_dump prints "key recno" per entry, key without its trailing blanks.
std::vector<std::pair<std::string, std::uint32_t>> IndexDump(const std::string& path) {
  std::vector<std::pair<std::string, std::uint32_t>> out;
  std::istringstream in(RunCommand("index_dump --type char '" + path + "' NAME 2>/dev/null"));
  std::string line;
  while (std::getline(in, line)) {
    const auto sp = line.rfind(' ');
    if (sp == std::string::npos) continue;
    out.emplace_back(line.substr(0, sp), static_cast<std::uint32_t>(std::stoul(line.substr(sp + 1))));
  }
  return out;
}

std::vector<std::pair<std::string, std::uint32_t>> Trimmed(const std::vector<CdxEntry>& entries) {
  std::vector<std::pair<std::string, std::uint32_t>> out;
  for (const auto& e : entries) {
    std::string k = e.key;
    while (!k.empty() && k.back() == ' ') k.pop_back();
    out.emplace_back(k, e.recno);
  }
  return out;
}

class CdxIndependentReader : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists("/usr/bin/index_dump"))
        << "index_dump (libdbd-xbase-perl) is missing: scripts/setup installs it";
    dir_ = std::filesystem::temp_directory_path() / ("cdx_reader_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(CdxIndependentReader, ReadsOurBuiltAndUpdatedFilesInTheSameOrder) {
  auto storage = NewStorage();
  auto index = CdxIndex::Create(Opener(storage));
  CdxTag& tag = index->AddTag(NameTagInfo(), LiveEntries(ReadNames(XbaseFixture("n2000/VZPB.dbf"))));
  const std::string built = (dir_ / "built.cdx").string();
  WriteWholeFile(built, storage->bytes);
  const auto ours = ListForward(tag);
  EXPECT_EQ(ours, ReadExpected(XbaseFixture("n2000/expected.tsv")));
  EXPECT_EQ(IndexDump(built), Trimmed(ours));

  // Incremental changes: splits, merges, emptied pages, record numbers that widen entries.
  std::mt19937 rng(11);
  for (int i = 0; i < 3000; ++i) {
    std::string key = "Upd" + std::to_string(rng() % 500);
    key.resize(35, ' ');
    tag.Insert(key, 5000 + static_cast<std::uint32_t>(rng() % 70000));
  }
  auto all = ListForward(tag);
  for (std::size_t i = 0; i < all.size(); i += 2) tag.Remove(all[i].key, all[i].recno);
  index->Check();
  const std::string updated = (dir_ / "updated.cdx").string();
  WriteWholeFile(updated, storage->bytes);
  EXPECT_EQ(IndexDump(updated), Trimmed(ListForward(tag)));
}

TEST_F(CdxIndependentReader, GoldenFileStaysReadableAfterOurUpdates) {
  auto storage = NewStorage(ReadWholeFile(XbaseFixture("n2000/VZPB.cdx")));
  auto index = CdxIndex::Open(Opener(storage));
  CdxTag& tag = *index->FindTag("NAME");
  std::string key = "Aaaa, New";
  key.resize(35, ' ');
  EXPECT_TRUE(tag.Insert(key, 2001));
  const auto first = ListForward(tag).front();
  EXPECT_TRUE(tag.Remove(first.key, first.recno));
  const auto counterBefore = GetBE32(ReadWholeFile(XbaseFixture("n2000/VZPB.cdx")).data() + 8);
  EXPECT_EQ(index->ChangeCounter(), counterBefore + 2);
  index->Check();
  const std::string path = (dir_ / "golden_updated.cdx").string();
  WriteWholeFile(path, storage->bytes);
  EXPECT_EQ(IndexDump(path), Trimmed(ListForward(tag)));
}

}  // namespace
}  // namespace vz::db::test
