// Contact files dropped on the browser: the files it takes, several files as one
// import, and the question and boxes it shows, from real reads and plans.
#include <gtest/gtest.h>

#include "phonebook/contacts_drop.hpp"
#include "tests/native/dbengine/testutil.hpp"

namespace vz::phonebook {
namespace {

using db::MemoryFileSystem;
using db::Table;

struct PhoneBook {
  MemoryFileSystem mem;
  std::unique_ptr<Table> table;
  const Windows1252 cp;
  PhoneBook() {
    db::test::MakePhoneTable("VZPB.DBF", db::test::FixedDate(db::ShareMode::kShared, &mem));
    table = Table::Open("VZPB.DBF", db::test::FixedDate(db::ShareMode::kShared, &mem));
  }
  ContactsRead Read(const std::string& bytes, const std::string& name = "in.csv") {
    return ReadContacts(bytes, name, cp);
  }
  ImportPlan Plan(const ContactsRead& read) { return PlanImport(*table, read, {}, cp); }
  ImportPlan Plan(const std::string& bytes) { return Plan(Read(bytes)); }
};

TEST(ContactsDrop, TakesContactFilesByExtensionInAnyCase) {
  EXPECT_TRUE(IsContactsFileName("C:\\Users\\Anna\\Desktop\\outlook.csv"));
  EXPECT_TRUE(IsContactsFileName("C:\\x\\PHONE.VCF"));
  EXPECT_TRUE(IsContactsFileName("Z:/tmp/unicode.Txt"));
  EXPECT_FALSE(IsContactsFileName("C:\\x\\photo.jpg"));
  EXPECT_FALSE(IsContactsFileName("C:\\x\\csv"));
  EXPECT_FALSE(IsContactsFileName("C:\\x.csv\\notes"));
  EXPECT_FALSE(IsContactsFileName("C:\\x\\contacts.csv.bak"));
}

TEST(ContactsDrop, TheQuestionNamesOneFileAFewOrHowMany) {
  EXPECT_EQ(FilesLabel({"C:\\a\\team.vcf"}), "team.vcf");
  EXPECT_EQ(FilesLabel({"C:\\a\\team.vcf", "Z:/b/office.csv"}), "team.vcf and office.csv");
  EXPECT_EQ(FilesLabel({"a.vcf", "b.csv", "c.txt"}), "a.vcf, b.csv and c.txt");
  EXPECT_EQ(FilesLabel({"a.vcf", "b.csv", "c.txt", "d.txt"}), "4 files");
  EXPECT_EQ(FilesLabel({"C:\\customers in northern europe.csv", "suppliers.csv"}), "2 files");
  EXPECT_EQ(FilesLabel({"C:\\x\\customers and suppliers in northern europe 2024.csv"}),
            "customers and suppliers i...ope 2024.csv");
}

TEST(ContactsDrop, TheQuestionCountsWhatIsAddedAndWhatIsLeftOutAndWhy) {
  PhoneBook book;
  book.table->Append(db::test::PhoneRecord(*book.table, "Keller Anna", "+49 30 1"));
  const std::string file =
      "Name,Fax\n"
      "Keller Anna,+49 30 1\n"                         // already there
      "Adler Eva,+49 30 2\n"
      "Zeller Paul,\n"                                 // no fax
      "Jansen Olga,\n"                                 // no fax
      "A name much longer than thirty-five characters,3\n"
      "D\xC5\x8D Minh,4\n"                             // U+014D, not in Windows-1252
      "Another name much longer than thirty-five,5\n";
  const ImportPlan plan = book.Plan(file);
  EXPECT_EQ(ImportQuestion(plan, "team.csv"),
            "Import 1 entry from team.csv into the phone book?\n\n"
            "2 without a fax number and 1 already in the phone book are left out.\n"
            "3 could not be read (a name too long, a character this computer cannot show).");
  EXPECT_EQ(ImportQuestion(book.Plan("Name,Fax\nAdler Eva,1\nBecker Carla,2\nZeller Paul,\n"), "team.csv"),
            "Import 2 entries from team.csv into the phone book?\n\n"
            "1 without a fax number is left out.");
  EXPECT_EQ(ImportQuestion(book.Plan("Adler Eva,1\n"), "a.csv"), "Import 1 entry from a.csv into the phone book?");
  EXPECT_EQ(LeftOutText(book.Plan("Adler Eva,1\n")), "");
  EXPECT_EQ(LeftOutText(book.Plan("Adler Eva,1,2\nKeller Anna,+49 30 1\n")),
            "1 already in the phone book is left out.\n1 could not be read (not a name and a fax number).");
}

TEST(ContactsDrop, NothingToImportSaysWhyAndAHeaderWithoutFaxColumnIsNamed) {
  PhoneBook book;
  book.table->Append(db::test::PhoneRecord(*book.table, "Keller Anna", "1"));
  EXPECT_EQ(NothingToImportText(book.Plan("Keller Anna,1\n"), "old.csv"),
            "There is nothing to import from old.csv.\n\n1 already in the phone book is left out.");
  EXPECT_EQ(NothingToImportText(book.Plan("Name,Mobile\nAdler Eva,1\nBecker Carla,2\n"), "mail.csv"),
            "There is nothing to import from mail.csv.\n\n"
            "2 without a fax number are left out.\nThe file's header names no fax column.");
  EXPECT_EQ(NothingToImportText(book.Plan(""), "empty.csv"), "There is nothing to import from empty.csv.");
}

// Every reason with large counts would overflow the box: the reasons go, the counts stay.
TEST(ContactsDrop, TheQuestionFitsAMessageBox) {
  ImportPlan plan;
  plan.records.resize(12345);
  plan.withoutFax = 23456;
  plan.duplicates = 34567;
  for (ProblemKind kind : {ProblemKind::kNameTooLong, ProblemKind::kFaxTooLong, ProblemKind::kCharacter,
                           ProblemKind::kCharacterSet, ProblemKind::kRowShape})
    plan.problems.push_back({1, "x", kind});
  const std::string question = ImportQuestion(plan, FilesLabel({"a very long name of a file of contacts.vcf"}));
  EXPECT_EQ(question,
            "Import 12345 entries from a very long name of a fil...contacts.vcf into the phone book?\n\n"
            "23456 without a fax number and 34567 already in the phone book are left out.\n"
            "5 could not be read.");
  plan.problems.resize(2);
  EXPECT_EQ(LeftOutText(plan).substr(LeftOutText(plan).find('\n') + 1),
            "2 could not be read (a name too long, a fax number too long).");
}

// Two files as one import: a contact in both is added once and counted as already there.
TEST(ContactsDrop, SeveralFilesAreOneImport) {
  PhoneBook book;
  ContactsRead cards = book.Read(
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Adler Eva\r\nTEL;TYPE=WORK,FAX:1\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Becker Carla\r\nEND:VCARD\r\n",
      "a.vcf");
  ContactsRead csv = book.Read("Adler Eva,1\nZeller Paul,3\nA name much longer than thirty-five characters,3\n");
  std::vector<ContactsRead> reads;
  reads.push_back(std::move(cards));
  reads.push_back(std::move(csv));
  const ImportPlan plan = book.Plan(JoinReads(std::move(reads)));
  EXPECT_EQ(ImportQuestion(plan, "a.vcf and b.csv"),
            "Import 2 entries from a.vcf and b.csv into the phone book?\n\n"
            "1 without a fax number and 1 already in the phone book are left out.\n"
            "1 could not be read (a name too long).");
  const ImportSummary done = ApplyImport(*book.table, plan);
  EXPECT_EQ(done.added, 2u);
  EXPECT_EQ(done.firstRecNo, 1u);
}

TEST(ContactsDrop, AStoppedImportSaysHowManyWereAdded) {
  ImportSummary done;
  done.stopped = true;
  done.added = 1;
  done.stopReason = "the header of VZPB.DBF is locked by another user";
  EXPECT_EQ(ImportStoppedText(done),
            "The import stopped after adding 1 entry: the header of VZPB.DBF is locked by another user\n\n"
            "Dropping the files again adds only the rest.");
}

}  // namespace
}  // namespace vz::phonebook
