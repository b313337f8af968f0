// Incremental maintenance against a std::multiset model, page reuse, tag directory
// handling and shared use by two openers.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <random>
#include <set>

#include "cdx_testutil.hpp"

namespace vz::db::test {
namespace {

struct ModelLess {
  bool operator()(const CdxEntry& a, const CdxEntry& b) const { return CdxLess(a, b); }
};
using Model = std::set<CdxEntry, ModelLess>;

CdxTagInfo TagInfo(const std::string& name, int kl, bool unique = false) {
  CdxTagInfo info;
  info.name = name;
  info.keyExpr = name;
  info.keyLength = kl;
  info.unique = unique;
  return info;
}

std::string Key(const std::string& text, int kl) {
  std::string k = text;
  k.resize(static_cast<std::size_t>(kl), ' ');
  return k;
}

void ExpectMatches(CdxTag& tag, const Model& model) {
  const std::vector<CdxEntry> expected(model.begin(), model.end());
  ASSERT_TRUE(ListForward(tag) == expected);
  auto backward = ListBackward(tag);
  std::reverse(backward.begin(), backward.end());
  ASSERT_TRUE(backward == expected);
  EXPECT_EQ(tag.Count(), model.size());
  std::vector<std::uint32_t> recnos;
  for (const CdxEntry& e : model) recnos.push_back(e.recno);
  EXPECT_TRUE(tag.RecNos() == recnos);
}

TEST(CdxMaintenance, RandomInsertsAndRemovesFollowTheModel) {
  struct Case {
    int keyLength;
    std::uint32_t maxRecno;
    int alphabet;
  };
  // Short keys with many duplicates; long keys; record numbers that need wide entries.
  for (const Case c : {Case{8, 500, 3}, Case{35, 3000, 26}, Case{100, 0x7FFFFFFF, 4}}) {
    SCOPED_TRACE(c.keyLength);
    auto storage = NewStorage();
    auto index = CdxIndex::Create(Opener(storage));
    CdxTag& tag = index->AddTag(TagInfo("T", c.keyLength), {});
    Model model;
    std::mt19937 rng(static_cast<unsigned>(c.keyLength));
    auto randomKey = [&] {
      std::string k(1 + rng() % static_cast<unsigned>(std::min(c.keyLength, 20)), ' ');
      for (char& ch : k) ch = static_cast<char>('A' + rng() % static_cast<unsigned>(c.alphabet));
      return Key(k, c.keyLength);
    };
    for (int batch = 0; batch < 12; ++batch) {
      const bool growing = batch < 8;
      for (int i = 0; i < 400; ++i) {
        if (growing ? rng() % 4 != 0 : rng() % 4 == 0) {
          const CdxEntry e{randomKey(), 1 + static_cast<std::uint32_t>(rng() % c.maxRecno)};
          EXPECT_EQ(tag.Insert(e.key, e.recno), model.insert(e).second);
        } else if (!model.empty()) {
          auto it = model.begin();
          std::advance(it, static_cast<long>(rng() % model.size()));
          EXPECT_TRUE(tag.Remove(it->key, it->recno));
          model.erase(it);
        }
      }
      ASSERT_NO_THROW(index->Check());
      ExpectMatches(tag, model);
      // A fresh opener counts from the file, through the leaves that splits and
      // merges have scattered.
      auto reopened = CdxIndex::Open(Opener(storage));
      EXPECT_EQ(reopened->FindTag("T")->Count(), model.size());
    }
    // Absent entries are refused without change.
    EXPECT_FALSE(tag.Remove(Key("NOPE", c.keyLength), 1));
    if (!model.empty()) {
      EXPECT_FALSE(tag.Insert(model.begin()->key, model.begin()->recno));
      EXPECT_FALSE(tag.Remove(model.begin()->key, 0));
    }
    // Everything out again: one empty root leaf is left.
    for (const auto& e : model) ASSERT_TRUE(tag.Remove(e.key, e.recno));
    model.clear();
    index->Check();
    EXPECT_FALSE(tag.First());
    EXPECT_FALSE(tag.Last());
    EXPECT_EQ(tag.Count(), 0u);
  }
}

TEST(CdxBulkBuild, OrdersLikeTheModelForShortLongAndUniqueKeys) {
  std::mt19937 rng(99);
  for (const int kl : {3, 12, 13, 40}) {
    for (const bool unique : {false, true}) {
      SCOPED_TRACE(std::to_string(kl) + (unique ? " unique" : ""));
      std::vector<CdxEntry> entries;
      std::vector<std::uint32_t> recnos(5000);
      std::iota(recnos.begin(), recnos.end(), 1u);
      std::shuffle(recnos.begin(), recnos.end(), rng);
      for (std::uint32_t r : recnos) {
        // Few distinct prefixes, differences late in the key, bytes above 0x7F.
        std::string k(static_cast<std::size_t>(kl), 'x');
        k[0] = static_cast<char>(rng() % 2 ? 'A' : '\xE4');
        // Half of them spread over many leading byte pairs (small buckets of the sort).
        if (r % 2 == 0) k[1] = static_cast<char>(rng() % 256);
        k[static_cast<std::size_t>(kl) - 1] = static_cast<char>('a' + rng() % 7);
        entries.push_back({k, r});
      }
      Model model;
      std::set<std::string> seen;
      std::vector<CdxEntry> byRecno = entries;
      std::sort(byRecno.begin(), byRecno.end(), [](const CdxEntry& a, const CdxEntry& b) { return a.recno < b.recno; });
      for (const auto& e : byRecno) {
        if (!unique || seen.insert(e.key).second) model.insert(e);
      }
      auto storage = NewStorage();
      auto index = CdxIndex::Create(Opener(storage));
      CdxTag& tag = index->AddTag(TagInfo("B", kl, unique), entries);
      index->Check();
      ExpectMatches(tag, model);
      // The same keys in compact form, as the table hands them over.
      CdxKeyBlock block(kl);
      for (const auto& e : entries) std::memcpy(block.Add(e.recno), e.key.data(), e.key.size());
      CdxTag& fromKeys = index->AddTagFromKeys(TagInfo("C", kl, unique), std::move(block));
      index->Check();
      ExpectMatches(fromKeys, model);
    }
  }
  auto storage = NewStorage();
  auto index = CdxIndex::Create(Opener(storage));
  CdxKeyBlock wrongLength(5);
  std::memcpy(wrongLength.Add(1), "abcde", 5);
  EXPECT_THROW(index->AddTagFromKeys(TagInfo("W", 6), std::move(wrongLength)), DbError);
  CdxKeyBlock empty(6);
  EXPECT_EQ(index->AddTagFromKeys(TagInfo("E", 6), std::move(empty)).Count(), 0u);
}

// A tag of thousands of pages is written in runs as the build goes: every page lands
// where its neighbours and parents say, over an index that already holds another tag
// and has free pages of a replaced one.
TEST(CdxBulkBuild, ALargeTagIsWrittenInRunsAndReadsBackWhole) {
  std::mt19937 rng(7);
  auto random = [&](std::size_t n) {
    std::vector<CdxEntry> entries;
    for (std::uint32_t r = 1; r <= n; ++r) {
      std::string k(16, ' ');
      for (char& c : k) c = static_cast<char>('A' + rng() % 26);
      entries.push_back({k, r});
    }
    return entries;
  };
  auto storage = NewStorage();
  auto index = CdxIndex::Create(Opener(storage));
  index->AddTag(TagInfo("SMALL", 16), random(300));
  index->AddTag(TagInfo("BIG", 16), random(500));
  const std::vector<CdxEntry> entries = random(60000);
  CdxTag& big = index->AddTag(TagInfo("BIG", 16), entries);
  index->Check();
  EXPECT_GT(storage->bytes.size(), 2000u * 512u);
  ExpectMatches(big, Model(entries.begin(), entries.end()));
  auto reader = CdxIndex::Open(Opener(storage));
  reader->Check();
  EXPECT_EQ(reader->FindTag("BIG")->Count(), entries.size());
  EXPECT_EQ(reader->FindTag("SMALL")->Count(), 300u);
}

TEST(CdxBulkBuild, BinaryKeysCompressTrailingZeroBytes) {
  auto storage = NewStorage();
  Model model;
  std::vector<CdxEntry> entries;
  for (std::uint32_t i = 1; i <= 3000; ++i) {
    std::string k(8, '\0');
    k[0] = static_cast<char>(0x80 + i % 50);  // few distinct leading bytes, zeros after
    k[1] = static_cast<char>(i % 3 ? 0 : i % 251);
    entries.push_back({k, i});
    model.insert({k, i});
  }
  {
    auto index = CdxIndex::Create(Opener(storage));
    CdxTagInfo info = TagInfo("AMOUNT", 8);
    info.trail = '\0';
    CdxTag& tag = index->AddTag(info, entries);
    ExpectMatches(tag, model);
    std::string k(8, '\0');
    k[0] = 0x10;
    ASSERT_TRUE(tag.Insert(k, 4000));
    model.insert({k, 4000});
    index->Check();
  }
  auto index = CdxIndex::Open(Opener(storage));
  CdxTag& tag = *index->FindTag("AMOUNT");
  tag.SetTrailByte('\0');
  EXPECT_EQ(tag.Info().trail, '\0');
  ExpectMatches(tag, model);
  index->Check();
}

TEST(CdxMaintenance, SplitsMergesAndReusesFreedPages) {
  auto storage = NewStorage();
  auto index = CdxIndex::Create(Opener(storage));
  CdxTag& tag = index->AddTag(TagInfo("NAME", 35), {});
  Model model;
  // Ascending, then descending inserts: always at one edge of the tree.
  for (std::uint32_t i = 1; i <= 3000; ++i) {
    const CdxEntry e{Key("Key" + std::to_string(100000 + i), 35), i};
    ASSERT_TRUE(tag.Insert(e.key, e.recno));
    model.insert(e);
  }
  for (std::uint32_t i = 3000; i >= 1; --i) {
    const CdxEntry e{Key("Are" + std::to_string(100000 + i), 35), 3000 + i};
    ASSERT_TRUE(tag.Insert(e.key, e.recno));
    model.insert(e);
  }
  index->Check();
  ExpectMatches(tag, model);
  const std::size_t grown = storage->bytes.size();
  EXPECT_GT(grown, 100u * 512);

  // Remove nine in ten: leaves merge and empty pages go to the free list.
  std::size_t n = 0;
  for (auto it = model.begin(); it != model.end();) {
    if (n++ % 10 != 0) {
      ASSERT_TRUE(tag.Remove(it->key, it->recno));
      it = model.erase(it);
    } else {
      ++it;
    }
  }
  index->Check();
  ExpectMatches(tag, model);
  const std::uint32_t freeHead = GetLE32(storage->bytes.data() + 4);
  EXPECT_NE(freeHead, 0u);

  // Inserting again takes pages from the free list: the file does not grow.
  for (std::uint32_t i = 1; i <= 4000; ++i) {
    const CdxEntry e{Key("Mid" + std::to_string(100000 + i), 35), 9000 + i};
    ASSERT_TRUE(tag.Insert(e.key, e.recno));
    model.insert(e);
  }
  index->Check();
  ExpectMatches(tag, model);
  EXPECT_EQ(storage->bytes.size(), grown);
}

TEST(CdxMaintenance, SeekNextAndPrevStepOverChangedEntries) {
  auto storage = NewStorage();
  auto index = CdxIndex::Create(Opener(storage));
  std::vector<CdxEntry> entries;
  for (std::uint32_t i = 1; i <= 2000; ++i) entries.push_back({Key("N" + std::to_string(i % 700), 12), i});
  CdxTag& tag = index->AddTag(TagInfo("N", 12), entries);
  const auto seek = tag.Seek(Key("N42", 12));
  ASSERT_TRUE(seek);
  EXPECT_EQ(seek->key, Key("N42", 12));
  EXPECT_EQ(seek->recno, 42u);  // equal keys by record number: 42, 742, 1442
  auto next = tag.Next(*seek);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->recno, 742u);
  // The entry after a removed one is still found from the removed one.
  ASSERT_TRUE(tag.Remove(next->key, next->recno));
  const auto after = tag.Next(*next);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->recno, 1442u);
  const auto before = tag.Prev(*next);
  ASSERT_TRUE(before);
  EXPECT_EQ(before->recno, 42u);
  const auto entry = tag.SeekEntry(Key("N42", 12), 43);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->recno, 1442u);
  // Prefix: first key starting with "N6".
  const auto prefix = tag.Seek("N6");
  ASSERT_TRUE(prefix);
  EXPECT_EQ(prefix->key, Key("N6", 12));
  EXPECT_FALSE(tag.Seek("O"));
  EXPECT_FALSE(tag.Prev(*tag.First()));
  EXPECT_FALSE(tag.Next(*tag.Last()));
}

TEST(CdxMaintenance, UniqueTagKeepsTheFirstRecordOfEachKey) {
  auto storage = NewStorage();
  auto index = CdxIndex::Create(Opener(storage));
  CdxTag& tag = index->AddTag(TagInfo("U", 4, true), {{"BBBB", 9}, {"AAAA", 5}, {"BBBB", 3}, {"AAAA", 7}});
  EXPECT_EQ(ListForward(tag), (std::vector<CdxEntry>{{"AAAA", 5}, {"BBBB", 3}}));
  EXPECT_FALSE(tag.Insert("AAAA", 1));
  EXPECT_TRUE(tag.Insert("CCCC", 1));
  EXPECT_EQ(tag.Count(), 3u);
  EXPECT_TRUE(index->Tags()[0].unique);
  EXPECT_EQ(storage->bytes[0x600 + 14], 0x61);  // compact, compound, unique
  EXPECT_THROW(tag.Insert("TOO LONG", 1), DbError);
}

TEST(CdxDirectory, ManyTagsReplaceAndRemove) {
  auto storage = NewStorage();
  {
    auto index = CdxIndex::Create(Opener(storage));
    // Forty tags: the directory itself splits into several pages.
    for (int i = 39; i >= 0; --i) {
      CdxTagInfo info = TagInfo("TAG" + std::to_string(i), 6);
      info.forExpr = i % 2 ? "X > 1" : "";
      info.descending = i % 3 == 0;
      index->AddTag(info, {{Key("k" + std::to_string(i), 6), static_cast<std::uint32_t>(i + 1)}});
    }
    index->Check();
  }
  auto index = CdxIndex::Open(Opener(storage));
  auto tags = index->Tags();
  ASSERT_EQ(tags.size(), 40u);
  EXPECT_TRUE(std::is_sorted(tags.begin(), tags.end(),
                             [](const CdxTagInfo& a, const CdxTagInfo& b) { return a.name < b.name; }));
  CdxTag* t7 = index->FindTag("tag7");
  ASSERT_NE(t7, nullptr);
  EXPECT_EQ(t7->Info().forExpr, "X > 1");
  EXPECT_EQ(index->FindTag("TAG9")->Info().descending, true);
  EXPECT_EQ(t7->First()->key, Key("k7", 6));

  // Replacing a tag keeps its object and frees the old pages.
  const std::size_t size = storage->bytes.size();
  CdxTag& again = index->AddTag(TagInfo("TAG7", 6), {{"zzzzzz", 1}, {"yyyyyy", 2}});
  EXPECT_EQ(&again, t7);
  EXPECT_EQ(t7->Count(), 2u);
  EXPECT_EQ(t7->First()->key, "yyyyyy");
  EXPECT_TRUE(t7->Info().forExpr.empty());
  EXPECT_TRUE(index->RemoveTag("TAG8"));
  EXPECT_FALSE(index->RemoveTag("TAG8"));
  EXPECT_EQ(index->FindTag("TAG8"), nullptr);
  EXPECT_EQ(index->Tags().size(), 39u);
  index->Check();
  // Freed pages are reused by the next inserts.
  CdxTag* t1 = index->FindTag("TAG1");
  for (std::uint32_t i = 0; i < 200; ++i) t1->Insert(Key(std::to_string(i), 6), i + 10);
  EXPECT_LE(storage->bytes.size(), size + 1024 + 512 + 5 * 512);
  index->Check();
  EXPECT_THROW(index->AddTag(TagInfo("WAY_TOO_LONG", 6), {}), DbError);
  EXPECT_THROW(index->AddTag(TagInfo("K", 6), {{"short", 1}}), DbError);
}

TEST(CdxShared, SecondOpenerSeesChangesAndWaitsForTheLock) {
  auto storage = NewStorage();
  auto writer = CdxIndex::Create(Opener(storage));
  CdxTag& w = writer->AddTag(TagInfo("NAME", 10), {{Key("Bob", 10), 1}});
  auto reader = CdxIndex::Open(Opener(storage));
  CdxTag& r = *reader->FindTag("NAME");
  EXPECT_EQ(r.Count(), 1u);
  EXPECT_EQ(r.First()->key, Key("Bob", 10));  // pages now cached by the reader

  const std::uint32_t before = writer->ChangeCounter();
  {
    // One exclusive hold: several changes, one counter step.
    CdxLock lock(*writer, LockKind::kExclusive);
    w.Insert(Key("Al", 10), 2);
    w.Remove(Key("Bob", 10), 1);
    w.Insert(Key("Cy", 10), 3);
  }
  EXPECT_EQ(writer->ChangeCounter(), before + 1);
  EXPECT_EQ(GetBE32(storage->bytes.data() + 8), before + 1);
  EXPECT_EQ(ListForward(r), (std::vector<CdxEntry>{{Key("Al", 10), 2}, {Key("Cy", 10), 3}}));
  EXPECT_EQ(r.Count(), 2u);
  EXPECT_EQ(reader->ChangeCounter(), before + 1);

  // The other opener sees a tag added later.
  writer->AddTag(TagInfo("OTHER", 3), {{"abc", 1}});
  EXPECT_NE(reader->FindTag("OTHER"), nullptr);

  // While the reader holds its shared lock the writer cannot write; it gives up after
  // its lock timeout.
  CdxOptions impatient;
  impatient.lockTimeoutMs = 50;
  auto writer2 = CdxIndex::Open(Opener(storage), impatient);
  {
    CdxLock hold(*reader, LockKind::kShared);
    EXPECT_THROW(writer2->FindTag("NAME")->Insert(Key("Dee", 10), 4), DbError);
    EXPECT_NO_THROW(writer2->FindTag("NAME")->First());  // readers share
  }
  EXPECT_TRUE(writer2->FindTag("NAME")->Insert(Key("Dee", 10), 4));
  EXPECT_EQ(r.Last()->key, Key("Dee", 10));
  // Replaced by the other opener: the reader's tag object follows the new header.
  writer2->AddTag(TagInfo("NAME", 10), {{Key("Zed", 10), 9}});
  EXPECT_EQ(ListForward(r), (std::vector<CdxEntry>{{Key("Zed", 10), 9}}));
  writer2->RemoveTag("NAME");
  EXPECT_THROW(r.First(), DbError);
}

TEST(CdxShared, AnIndexBuiltAgainByAnotherOpenerIsNotTakenForTheOldOne) {
  auto storage = NewStorage();
  auto first = CdxIndex::Create(Opener(storage));
  first->AddTag(TagInfo("NAME", 4), {{"abcd", 1}, {"efgh", 2}});
  CdxTag& tag = *first->FindTag("NAME");
  EXPECT_EQ(tag.Count(), 2u);
  const std::uint32_t counter = first->ChangeCounter();
  // Another opener finds the index damaged and builds it again from the table.
  auto second = CdxIndex::Create(Opener(storage));
  EXPECT_GT(second->ChangeCounter(), counter);
  second->AddTag(TagInfo("NAME", 4), {{"zzzz", 7}});
  EXPECT_EQ(ListForward(tag), (std::vector<CdxEntry>{{"zzzz", 7}}));
  EXPECT_EQ(tag.Count(), 1u);
}

TEST(CdxShared, DurableUpdatesFlushTheMarkThenThePages) {
  auto storage = NewStorage();
  CdxOptions durable;
  durable.durable = true;
  auto index = CdxIndex::Create(Opener(storage), durable);
  std::vector<CdxEntry> entries;
  for (std::uint32_t i = 1; i <= 200; ++i) entries.push_back({Key(std::to_string(i), 30), i});
  CdxTag& tag = index->AddTag(TagInfo("T", 30), entries);
  storage->flushes = 0;
  // Last key of the tag: leaf and parent change. The mark, then the pages, each
  // flushed; the mark's clearing goes to the device with the next flush.
  ASSERT_TRUE(tag.Insert(Key("999", 30), 999));
  EXPECT_EQ(storage->flushes, 2);
  index->Check();
  // A group of updates leaves the flush that makes them lasting to the end: one-page
  // updates flush nothing on their own, one of several pages keeps its two ordering
  // flushes, the second of which makes everything before it lasting too.
  storage->flushes = 0;
  index->DeferSync();
  ASSERT_TRUE(tag.Remove(Key("1", 30), 1));
  ASSERT_TRUE(tag.Insert(Key("1", 30), 1));
  EXPECT_EQ(storage->flushes, 0);
  EXPECT_TRUE(index->SyncDeferred());
  EXPECT_EQ(storage->flushes, 1);
  EXPECT_FALSE(index->SyncDeferred());
  index->DeferSync();
  ASSERT_TRUE(tag.Remove(Key("2", 30), 2));
  ASSERT_TRUE(tag.Insert(Key("9999", 30), 9999));
  EXPECT_EQ(storage->flushes, 3);  // its two flushes take the one-page update along
  EXPECT_FALSE(index->SyncDeferred());
  EXPECT_EQ(storage->flushes, 3);
  ASSERT_TRUE(tag.Insert(Key("99999", 30), 99999));  // no longer deferred
  EXPECT_EQ(storage->flushes, 5);
  index->Check();
}

TEST(CdxShared, TwoProcessesUpdatingOneTagOnDisk) {
  const auto dir = std::filesystem::temp_directory_path() / ("cdx_procs_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "T.CDX").string();
  {
    auto index = CdxIndex::Create(OpenHostFile(path, OpenMode::kCreate));
    index->AddTag(TagInfo("NAME", 16), {});
  }
  constexpr std::uint32_t kEach = 400;
  std::vector<pid_t> children;
  for (std::uint32_t p = 0; p < 2; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int rc = 0;
      try {
        auto index = CdxIndex::Open(OpenHostFile(path, OpenMode::kReadWrite));
        CdxTag& tag = *index->FindTag("NAME");
        for (std::uint32_t i = 0; i < kEach; ++i) {
          const std::uint32_t rec = p * kEach + i + 1;
          if (!tag.Insert(Key("K" + std::to_string(rec % 97), 16), rec)) rc = 2;
          // Every third one of its own goes again; reading between the writes of the other.
          if (i % 3 == 2 && !tag.Remove(Key("K" + std::to_string((rec - 1) % 97), 16), rec - 1)) rc = 3;
          if (!tag.Seek(Key("K" + std::to_string(rec % 97), 16))) rc = 4;
        }
      } catch (const std::exception& e) {
        std::fprintf(stderr, "child %u: %s\n", p, e.what());
        rc = 1;
      }
      ::_exit(rc);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  Model model;
  for (std::uint32_t p = 0; p < 2; ++p) {
    for (std::uint32_t i = 0; i < kEach; ++i) {
      const std::uint32_t rec = p * kEach + i + 1;
      if (i % 3 != 1) model.insert({Key("K" + std::to_string(rec % 97), 16), rec});
    }
  }
  auto index = CdxIndex::Open(OpenHostFile(path, OpenMode::kReadWrite));
  index->Check();
  ExpectMatches(*index->FindTag("NAME"), model);
  index.reset();
  std::filesystem::remove_all(dir);
}

TEST(CdxShared, CacheStaysBoundedWhileWalkingALargeTag) {
  auto storage = NewStorage();
  CdxOptions small;
  small.cachePages = 32;
  auto index = CdxIndex::Create(Opener(storage), small);
  std::vector<CdxEntry> entries;
  for (std::uint32_t i = 1; i <= 20000; ++i) entries.push_back({Key(std::to_string(i * 7919u % 100003u), 20), i});
  CdxTag& tag = index->AddTag(TagInfo("BIG", 20), entries);
  std::sort(entries.begin(), entries.end(), CdxLess);
  // Count reads the leaves without filling the cache; a full walk keeps it bounded.
  EXPECT_EQ(tag.Count(), entries.size());
  EXPECT_LE(index->CachedPages(), 32u);
  EXPECT_TRUE(ListForward(tag) == entries);
  EXPECT_LE(index->CachedPages(), 32u);
  {
    // Within one long hold of the lock the cache stays bounded too (a few pages of slack
    // for the call running).
    CdxLock hold(*index, LockKind::kShared);
    EXPECT_TRUE(ListForward(tag) == entries);
    EXPECT_LE(index->CachedPages(), 40u);
    index->Check();
    EXPECT_LE(index->CachedPages(), 40u);
  }
  for (std::uint32_t i = 1; i <= 500; ++i) tag.Remove(Key(std::to_string(i * 7919u % 100003u), 20), i);
  index->Check();
  // Counting a fresh opener's view of the same file gives the same figure.
  auto other = CdxIndex::Open(Opener(storage), small);
  EXPECT_EQ(other->FindTag("BIG")->Count(), entries.size() - 500);
}

}  // namespace
}  // namespace vz::db::test
