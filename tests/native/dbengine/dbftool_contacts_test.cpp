// dbftool import and export of contacts, run as a program: the summary and the exit
// code, every fixture format, the faults users met, imports cut short, and round trips
// of every export format through an empty phone book.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>

#include "tests/native/dbengine/testutil.hpp"

namespace vz::db {
namespace {

using namespace test;

struct Outcome {
  int rc = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

std::string Q(const std::string& path) { return "'" + path + "'"; }

Outcome Tool(const std::string& args, const TempDir& dir, const std::string& before = "") {
  int status = 0;
  Outcome r;
  r.out = RunCommand(before + std::string(VZ_DBFTOOL) + " " + args + " 2>" + Q(dir / "stderr.txt"), &status);
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = ReadAll(dir / "stderr.txt");
  return r;
}

std::string Fixture(const std::string& name) {
  const std::string path = std::string(VZ_CONTACT_FIXTURES) + "/" + name;
  if (!std::filesystem::exists(path)) throw std::runtime_error("missing test fixture: " + path);
  return path;
}

// The records of a table (flag byte and fields as stored), sorted.
std::vector<std::string> StoredRecords(const std::string& path) {
  const std::string dbf = ReadAll(path);
  const std::uint32_t count = static_cast<unsigned char>(dbf[4]) | static_cast<unsigned char>(dbf[5]) << 8 |
                              static_cast<unsigned char>(dbf[6]) << 16;
  std::vector<std::string> out;
  for (std::uint32_t i = 0; i < count; ++i) out.push_back(dbf.substr(98 + i * 61, 61));
  std::sort(out.begin(), out.end());
  return out;
}

std::string NewPhoneBook(const TempDir& dir, const std::string& name) {
  const std::string path = dir / name;
  if (Tool("create-phonebook " + Q(path), dir).rc != 0) throw std::runtime_error("cannot create " + path);
  return path;
}

TEST(DbfToolContacts, ImportSaysWhatItAddedSkippedAndListed) {
  TempDir dir;
  const std::string book = NewPhoneBook(dir, "VZPB.DBF");
  const std::string file = Fixture("outlook.csv");
  Outcome r = Tool("import " + Q(book) + " " + Q(file), dir);
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.out, "read 7 contacts from " + file +
                       " (CSV, comma-separated, UTF-8 with a byte order mark, with a header)\n"
                       "added 3 entries to " + book + "\n"
                       "skipped 1 without a fax number, 1 already in the phone book, 2 listed\n");
  EXPECT_EQ(r.err, "dbftool: " + file +
                       " line 5: the name of \"Nowak, Łukasz\" has the character Ł (U+0141), which Windows-1252 "
                       "cannot hold\n"
                       "dbftool: " + file +
                       " line 6: the name \"Hohenzollern-Sigmaringen, Maximilian-Alexander\" has 46 characters; at "
                       "most 35 fit\n"
                       "dbftool: the entries listed were not imported (--cut shortens names and numbers that are "
                       "too long)\n");
  // Twice: nothing more.
  r = Tool("import " + Q(book) + " " + Q(file), dir);
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.out.find("added 0 entries to "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("skipped 1 without a fax number, 4 already in the phone book, 2 listed\n"), std::string::npos);
  r = Tool("import " + Q(book) + " " + Q(file) + " --cut", dir);
  EXPECT_EQ(r.rc, 1);  // the name with Ł is still listed
  EXPECT_NE(r.out.find("added 1 entry to "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("cut 1 entry to fit the phone book's fields\n"), std::string::npos) << r.out;
  const Outcome list = Tool("list " + Q(book) + " --tag NAME", dir);
  EXPECT_EQ(list.out,
            "4\t \tHohenzollern-Sigmaringen, Maximilia\t+49 7571 729 0\n"
            "2\t \tLef\xE8vre, Zo\xEB\t+33 1 4567 8901\n"
            "1\t \tM\xFCller, Hans\t+49 30 1234567\n"
            "3\t \tSmith, Jones & Co.\t+1 212 555 0199\n");
  EXPECT_EQ(Tool("check " + Q(book), dir).rc, 0);
  EXPECT_EQ(Tool("import " + Q(book) + " " + Q(file) + " --cat", dir).rc, 2);
}

// A spreadsheet's "CSV UTF-8" starts with a byte order mark: the first row was refused
// ("3 values") as the quote after the mark went unseen. UTF-8 without the mark was
// stored as raw bytes, "MÃ¼ller" in the Windows programs.
TEST(DbfToolContacts, UserReportedFaults) {
  TempDir dir;
  const std::string book = NewPhoneBook(dir, "VZPB.DBF");
  WriteAll(dir / "bom.csv", "\xEF\xBB\xBF\"M\xC3\xBCller, Hans\",+49 30 1\r\n");
  WriteAll(dir / "plain.csv", "\"Dvo\xC3\xA1k, Jan\",+420 2 1\r\n");
  EXPECT_EQ(Tool("import " + Q(book) + " " + Q(dir / "bom.csv"), dir).rc, 0);
  EXPECT_EQ(Tool("import " + Q(book) + " " + Q(dir / "plain.csv"), dir).rc, 0);
  EXPECT_EQ(Tool("list " + Q(book), dir).out, "1\t \tM\xFCller, Hans\t+49 30 1\n2\t \tDvo\xE1k, Jan\t+420 2 1\n");
}

TEST(DbfToolContacts, EveryFormatImports) {
  const std::vector<std::tuple<const char*, int, const char*>> cases{
      {"google.csv", 1, "added 3 entries"},      {"semicolon-1252.csv", 0, "added 4 entries"},
      {"unicode-text.txt", 1, "added 2 entries"}, {"cards-2.1.vcf", 1, "added 2 entries"},
      {"cards-3.0.vcf", 1, "added 2 entries"},   {"cards-4.0.vcf", 1, "added 2 entries"}};
  for (const auto& [name, rc, added] : cases) {
    SCOPED_TRACE(name);
    TempDir dir;
    const std::string book = NewPhoneBook(dir, "VZPB.DBF");
    const Outcome r = Tool("import " + Q(book) + " " + Q(Fixture(name)), dir);
    EXPECT_EQ(r.rc, rc) << r.err;
    EXPECT_NE(r.out.find(added), std::string::npos) << r.out;
    EXPECT_EQ(Tool("check " + Q(book), dir).rc, 0);
  }
}

// The disk fills part-way through a batch (here a file size limit of 1,228,800 bytes): the summary says
// how many went in and the line it stopped at, and a second run adds only the rest.
TEST(DbfToolContacts, AnImportCutShortSaysWhereAndIsRunAgain) {
  TempDir dir;
  const std::string book = NewPhoneBook(dir, "VZPB.DBF");
  std::string rows;
  for (int i = 0; i < 40000; ++i) rows += "Name " + std::to_string(i) + "," + std::to_string(i) + "\n";
  WriteAll(dir / "many.csv", rows);
  Outcome r = Tool("import " + Q(book) + " " + Q(dir / "many.csv"), dir, "trap '' XFSZ; prlimit --fsize=1228800 ");
  EXPECT_EQ(r.rc, 2);
  EXPECT_NE(r.out.find("added 16384 entries to "), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "dbftool: the import stopped at line 16385 of " + (dir / "many.csv") +
                       " after adding 16384 entries: cannot write " + book +
                       ": File too large\n"
                       "dbftool: running it again adds only the rest (entries already in the phone book are skipped)\n");
  EXPECT_EQ(Tool("check " + Q(book), dir).rc, 0);
  r = Tool("import " + Q(book) + " " + Q(dir / "many.csv"), dir);
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("added 23616 entries to "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("16384 already in the phone book"), std::string::npos) << r.out;
  EXPECT_EQ(Tool("check " + Q(book), dir).rc, 0);
}

TEST(DbfToolContacts, ExportFormats) {
  TempDir dir;
  const std::string book = NewPhoneBook(dir, "VZPB.DBF");
  WriteAll(dir / "in.csv", "Name;Fax\r\nM\xFCller, Hans;+49 30 1\r\nCaf\xE9 \x80;2\r\n");
  ASSERT_EQ(Tool("import " + Q(book) + " " + Q(dir / "in.csv"), dir).rc, 0);
  EXPECT_EQ(Tool("export " + Q(book), dir).out, "name,phone\r\nCaf\xE9 \x80,2\r\n\"M\xFCller, Hans\",+49 30 1\r\n");
  EXPECT_EQ(Tool("export " + Q(book) + " --format csv-utf8", dir).out,
            "\xEF\xBB\xBFName,Fax\r\nCaf\xC3\xA9 \xE2\x82\xAC,2\r\n\"M\xC3\xBCller, Hans\",+49 30 1\r\n");
  const Outcome vcard = Tool("export " + Q(book) + " --format vcard " + Q(dir / "out.vcf"), dir);
  EXPECT_EQ(vcard.rc, 0);
  EXPECT_EQ(vcard.out, "");
  EXPECT_EQ(ReadAll(dir / "out.vcf"),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Caf\xC3\xA9 \xE2\x82\xAC\r\nN:Caf\xC3\xA9 \xE2\x82\xAC;;;;\r\n"
            "TEL;TYPE=WORK,FAX:2\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:M\xC3\xBCller\\, Hans\r\nN:M\xC3\xBCller;Hans;;;\r\n"
            "TEL;TYPE=WORK,FAX:+49 30 1\r\nEND:VCARD\r\n");
  EXPECT_EQ(Tool("export " + Q(book) + " --format xml", dir).rc, 2);
  EXPECT_EQ(Tool("export " + Q(book) + " --format vcard " + Q(dir / "no/such/dir/out.vcf"), dir).rc, 2);
}

// Names with every kind of character the code page and the formats make hard, a name
// long enough to fold vCard lines, one without a name: each export imported into an
// empty phone book gives the same records, byte for byte.
TEST(DbfToolContacts, EveryExportFormatComesBackTheSame) {
  TempDir dir;
  const std::string book = NewPhoneBook(dir, "VZPB.DBF");
  const std::string rows =
      "Name\tFax\r\n"
      "M\xFCller, Hans\t+49 30 1234567\r\n"
      "\"O\"\"Brien; Sons\\Co\"\t+353 1\r\n"
      "\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\xC4\xD6\xDC\xE4\xF6\xFC\xDF, \x8A\x9A\x8C\x9C\x9F\xFF\x81\x8D\t" +
      std::string(25, '7') + "\r\n"
      "\t+1 555\r\n"
      "Caf\xE9, Ol\xE9\t+33 \"1\"\r\n"
      "Same Name\t1\r\n"
      "Same Name\t2\r\n";
  WriteAll(dir / "in.txt", rows);
  const Outcome in = Tool("import " + Q(book) + " " + Q(dir / "in.txt"), dir);
  ASSERT_EQ(in.rc, 0) << in.err;
  ASSERT_NE(in.out.find("added 7 entries"), std::string::npos) << in.out;
  const auto original = StoredRecords(book);
  for (const std::string format : {"csv", "csv-utf8", "vcard"}) {
    SCOPED_TRACE(format);
    const std::string file = dir / ("out." + format);
    ASSERT_EQ(Tool("export " + Q(book) + " --format " + format + " " + Q(file), dir).rc, 0);
    const std::string copy = NewPhoneBook(dir, "COPY-" + format + ".DBF");
    const Outcome r = Tool("import " + Q(copy) + " " + Q(file), dir);
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(StoredRecords(copy), original);
    EXPECT_EQ(Tool("check " + Q(copy), dir).rc, 0);
  }
  // The long name's vCard lines are folded within 75 octets.
  const std::string vcf = ReadAll(dir / "out.vcard");
  for (std::size_t at = 0, end; (end = vcf.find("\r\n", at)) != std::string::npos; at = end + 2)
    EXPECT_LE(end - at, 75u) << vcf.substr(at, end - at);
  EXPECT_NE(vcf.find("\r\n "), std::string::npos);
}

}  // namespace
}  // namespace vz::db
