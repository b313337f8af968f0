// Contacts into the phone book's table: the fields' widths, duplicates, counts, and
// imports that stop part-way (a full disk, a lock held too long) and are run again.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "dbengine/file.hpp"
#include "phonebook/contacts.hpp"
#include "tests/native/dbengine/testutil.hpp"

namespace vz::phonebook {
namespace {

using db::MemoryFileSystem;
using db::Table;
using db::test::FixedDate;
using db::test::MakePhoneTable;
using db::test::Trimmed;

std::string Fixture(const std::string& name) {
  const std::string path = std::string(VZ_CONTACT_FIXTURES) + "/" + name;
  if (!std::filesystem::exists(path)) throw std::runtime_error("missing test fixture: " + path);
  return db::test::ReadAll(path);
}

// "name|phone" of the live entries in NAME order, straight from the tag.
std::vector<std::string> Entries(Table& t) {
  std::vector<std::string> out;
  t.SetOrder(t.TagOrder("NAME"));
  t.SetFilter(".not. deleted()");
  for (bool ok = t.GoTop(); ok; ok = t.Skip(1))
    out.push_back(Trimmed(t.FieldText(0)) + "|" + Trimmed(t.FieldText(1)));
  return out;
}

std::vector<std::string> Problems(const std::vector<ContactProblem>& problems) {
  std::vector<std::string> out;
  for (const auto& p : problems) out.push_back(std::to_string(p.line) + ": " + p.text);
  return out;
}

struct PhoneBook {
  MemoryFileSystem mem;
  std::unique_ptr<Table> table;
  explicit PhoneBook(db::FileSystem* fs = nullptr, int lockTimeoutMs = 2000) {
    MakePhoneTable("VZPB.DBF", FixedDate(db::ShareMode::kShared, &mem));
    Open(fs ? fs : &mem, lockTimeoutMs);
  }
  void Open(db::FileSystem* fs, int lockTimeoutMs = 2000) {
    auto o = FixedDate(db::ShareMode::kShared, fs);
    o.lockTimeoutMs = lockTimeoutMs;
    table = Table::Open("VZPB.DBF", o);
  }
  ImportSummary Import(const std::string& bytes, bool cut = false) {
    const Windows1252 cp;
    ImportOptions options;
    options.cut = cut;
    return ImportContacts(*table, ReadContacts(bytes, "in.csv", cp), options, cp);
  }
};

TEST(ContactsImport, OutlookFileIntoAnEmptyPhoneBookAndAgain) {
  PhoneBook book;
  const Windows1252 cp;
  const ContactsRead read = ReadContacts(Fixture("outlook.csv"), "outlook.csv", cp);
  const ImportPlan plan = PlanImport(*book.table, read, {}, cp);
  EXPECT_EQ(plan.records.size(), 3u);
  EXPECT_EQ(plan.lines, (std::vector<std::size_t>{2, 3, 4}));
  EXPECT_EQ(Problems(plan.problems),
            (std::vector<std::string>{
                "5: the name of \"Nowak, Łukasz\" has the character Ł (U+0141), which Windows-1252 cannot hold",
                "6: the name \"Hohenzollern-Sigmaringen, Maximilian-Alexander\" has 46 characters; at most 35 fit"}));
  EXPECT_EQ(plan.duplicates, 1u);  // Müller twice in the file
  const ImportSummary done = ApplyImport(*book.table, plan);
  EXPECT_EQ(done.added, 3u);
  EXPECT_EQ(done.firstRecNo, 1u);
  EXPECT_EQ(done.withoutFax, 1u);
  EXPECT_EQ(done.duplicates, 1u);
  EXPECT_EQ(done.listed, 2u);
  EXPECT_FALSE(done.stopped);
  EXPECT_EQ(Entries(*book.table), (std::vector<std::string>{"Lef\xE8vre, Zo\xEB|+33 1 4567 8901",
                                                            "M\xFCller, Hans|+49 30 1234567",
                                                            "Smith, Jones & Co.|+1 212 555 0199"}));
  // Run twice: nothing more.
  const ImportSummary again = book.Import(Fixture("outlook.csv"));
  EXPECT_EQ(again.added, 0u);
  EXPECT_EQ(again.duplicates, 4u);
  EXPECT_EQ(book.table->RecordCount(), 3u);
  EXPECT_TRUE(book.table->CheckIndex().empty());
}

TEST(ContactsImport, CutShortensWhatIsTooLong) {
  PhoneBook book;
  const std::string file = "Name,Fax\n" + std::string(36, 'n') + ",1\nok," + std::string(26, '9') + "\nfits," +
                           std::string(25, '8') + "\n";
  ImportSummary s = book.Import(file);
  EXPECT_EQ(s.added, 1u);
  EXPECT_EQ(s.listed, 2u);
  s = book.Import(Fixture("outlook.csv"), true);
  EXPECT_EQ(s.added, 4u);
  EXPECT_EQ(s.cut, 1u);
  EXPECT_EQ(s.listed, 1u);  // Łukasz: cutting cannot help
  s = book.Import(file, true);
  EXPECT_EQ(s.added, 2u);
  EXPECT_EQ(s.cut, 2u);
  const auto entries = Entries(*book.table);
  EXPECT_EQ(entries[0], "Hohenzollern-Sigmaringen, Maximilia|+49 7571 729 0");
  EXPECT_EQ(entries.back(), "ok|" + std::string(25, '9'));
  EXPECT_EQ(entries[entries.size() - 2], std::string(35, 'n') + "|1");
}

TEST(ContactsImport, DeletedEntriesAreNotDuplicates) {
  PhoneBook book;
  book.table->Append(db::test::PhoneRecord(*book.table, "Gone", "1", true));
  book.table->Append(db::test::PhoneRecord(*book.table, "Kept", "2"));
  const ImportSummary s = book.Import("Gone,1\nKept,2\nKept,3\n");
  EXPECT_EQ(s.added, 2u);
  EXPECT_EQ(s.duplicates, 1u);
  EXPECT_EQ(Entries(*book.table), (std::vector<std::string>{"Gone|1", "Kept|2", "Kept|3"}));
}

// Counts the reads of the table file.
class ReadCounter : public db::ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  int reads = 0;

 protected:
  std::unique_ptr<db::File> Wrap(std::unique_ptr<db::File> file, const std::string& path) override {
    if (path != "VZPB.DBF") return file;
    return std::make_unique<Counted>(std::move(file), reads);
  }

 private:
  class Counted : public db::ForwardingFile {
   public:
    Counted(std::unique_ptr<db::File> inner, int& reads) : ForwardingFile(std::move(inner)), reads_(reads) {}
    std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) override {
      ++reads_;
      return ForwardingFile::ReadAt(offset, buf, n);
    }

   private:
    int& reads_;
  };
};

// An entry another desk added after this one opened the phone book is a duplicate too;
// the entries are read in large runs, not one read each (an import of a few contacts
// into a large shared phone book).
TEST(ContactsImport, DuplicatesAmongEveryonesEntriesAreFoundReadingInLargeRuns) {
  PhoneBook book;
  ReadCounter counter(book.mem);
  book.Open(&counter);
  auto other = Table::Open("VZPB.DBF", FixedDate(db::ShareMode::kShared, &book.mem));
  std::vector<std::string> records;
  for (int i = 0; i < 5000; ++i) records.push_back(db::test::PhoneRecord(*other, "Desk " + std::to_string(i), "1"));
  Table::BatchProgress progress;
  other->AppendBatch(records, progress);
  const int before = counter.reads;
  const ImportSummary s = book.Import("Desk 4999,1\nDesk 17,1\nDesk 17,2\n");
  EXPECT_EQ(s.added, 1u);
  EXPECT_EQ(s.duplicates, 2u);
  EXPECT_LT(counter.reads - before, 100);
  EXPECT_EQ(Entries(*other).size(), 5001u);
}

// Writes to the table past a number of bytes fail as on a full disk; the limit can
// be lifted.
class FullDisk : public db::ForwardingFileSystem {
 public:
  explicit FullDisk(db::FileSystem& inner) : ForwardingFileSystem(inner) {}
  std::uint64_t capacity = ~std::uint64_t{0};

 protected:
  std::unique_ptr<db::File> Wrap(std::unique_ptr<db::File> file, const std::string& path) override {
    if (path != "VZPB.DBF") return file;
    return std::make_unique<Limited>(std::move(file), capacity);
  }

 private:
  class Limited : public db::ForwardingFile {
   public:
    Limited(std::unique_ptr<db::File> inner, const std::uint64_t& capacity)
        : ForwardingFile(std::move(inner)), capacity_(capacity) {}
    void WriteAt(std::uint64_t offset, const void* buf, std::size_t n) override {
      if (offset + n > capacity_) throw db::DbError("cannot write " + Path() + ": No space left on device");
      ForwardingFile::WriteAt(offset, buf, n);
    }

   private:
    const std::uint64_t& capacity_;
  };
};

std::string Rows(int from, int to) {
  std::string text;
  for (int i = from; i < to; ++i) text += "Name " + std::to_string(i) + "," + std::to_string(i) + "\n";
  return text;
}

// Few entries joining many go in as one batch with their keys; the disk has room for
// two of them only. The batch adds nothing (its records are counted together), the
// tag still agrees, the summary says it stopped at the first entry, and running the
// import again adds them all.
TEST(ContactsImport, StoppedSmallBatchAndRunAgain) {
  MemoryFileSystem mem;
  FullDisk disk(mem);
  MakePhoneTable("VZPB.DBF", FixedDate(db::ShareMode::kShared, &mem));
  {
    auto t = Table::Open("VZPB.DBF", FixedDate(db::ShareMode::kShared, &mem));
    Table::BatchProgress progress;
    std::vector<std::string> many;
    for (int i = 0; i < 1000; ++i) many.push_back(db::test::PhoneRecord(*t, "Old " + std::to_string(i), "0"));
    t->AppendBatch(many, progress);
  }
  disk.capacity = 98 + 1002 * 61 + 1;
  auto t = Table::Open("VZPB.DBF", FixedDate(db::ShareMode::kShared, &disk));
  const Windows1252 cp;
  const std::string file = "Name,Fax\n" + Rows(0, 5);
  ImportSummary s = ImportContacts(*t, ReadContacts(file, "in.csv", cp), {}, cp);
  EXPECT_FALSE(s.bulk);
  EXPECT_TRUE(s.stopped);
  EXPECT_EQ(s.added, 0u);
  EXPECT_EQ(s.firstRecNo, 0u);
  EXPECT_EQ(s.stoppedAtLine, 2u);
  EXPECT_EQ(s.stopReason, "cannot write VZPB.DBF: No space left on device");
  EXPECT_EQ(t->RecordCount(), 1000u);
  EXPECT_TRUE(t->CheckIndex().empty());
  EXPECT_EQ(t->DamageReason(), "");

  disk.capacity = ~std::uint64_t{0};
  s = ImportContacts(*t, ReadContacts(file, "in.csv", cp), {}, cp);
  EXPECT_FALSE(s.stopped);
  EXPECT_EQ(s.added, 5u);
  EXPECT_EQ(s.firstRecNo, 1001u);
  EXPECT_EQ(s.duplicates, 0u);
  EXPECT_EQ(Entries(*t).size(), 1005u);
  EXPECT_TRUE(t->CheckIndex().empty());
}

// Many entries go in as a batch; the disk fills part-way: the chunks written are
// whole and indexed, and running it again adds only the rest.
TEST(ContactsImport, StoppedBatchAndRunAgain) {
  MemoryFileSystem mem;
  FullDisk disk(mem);
  MakePhoneTable("VZPB.DBF", FixedDate(db::ShareMode::kShared, &mem));
  disk.capacity = 98 + 20000 * 61;
  auto t = Table::Open("VZPB.DBF", FixedDate(db::ShareMode::kShared, &disk));
  const Windows1252 cp;
  const std::string file = Rows(0, 40000);
  ImportSummary s = ImportContacts(*t, ReadContacts(file, "in.csv", cp), {}, cp);
  EXPECT_TRUE(s.bulk);
  EXPECT_TRUE(s.stopped);
  EXPECT_EQ(s.added, 16384u);
  EXPECT_EQ(s.firstRecNo, 1u);
  EXPECT_EQ(s.stoppedAtLine, 16385u);
  EXPECT_TRUE(t->CheckIndex().empty());
  disk.capacity = ~std::uint64_t{0};
  s = ImportContacts(*t, ReadContacts(file, "in.csv", cp), {}, cp);
  EXPECT_EQ(s.added, 40000u - 16384u);
  EXPECT_EQ(s.firstRecNo, 16385u);
  EXPECT_EQ(s.duplicates, 16384u);
  EXPECT_EQ(t->RecordCount(), 40000u);
  EXPECT_TRUE(t->CheckIndex().empty());
}

// Another program holds the header lock longer than the import waits: nothing is
// added, and the summary says so with the first line.
TEST(ContactsImport, ALockHeldTooLongStopsBeforeTheFirstEntry) {
  PhoneBook book(nullptr, 50);
  auto holder = book.mem.Open("VZPB.DBF", db::OpenMode::kReadWrite);
  ASSERT_TRUE(holder->TryLock(db::kDbfLockBase, 1, db::LockKind::kExclusive));
  const ImportSummary s = book.Import("Name,Fax\nA,1\nB,2\n");
  EXPECT_TRUE(s.stopped);
  EXPECT_EQ(s.added, 0u);
  EXPECT_EQ(s.stoppedAtLine, 2u);
  EXPECT_EQ(s.stopReason, "the header of VZPB.DBF is locked by another user");
  holder->Unlock(db::kDbfLockBase, 1);
  EXPECT_EQ(book.Import("Name,Fax\nA,1\nB,2\n").added, 2u);
}

}  // namespace
}  // namespace vz::phonebook
