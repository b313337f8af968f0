// dbftool, run as a program over copies of the golden tables and new phone books.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "tests/native/dbengine/testutil.hpp"

namespace vz::db {
namespace {

using namespace test;

struct Result {
  int rc = -1;
  std::string out;
};

Result Tool(const std::string& args) {
  int status = 0;
  Result r;
  r.out = RunCommand(std::string(VZ_DBFTOOL) + " " + args + " 2>&1", &status);
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string Q(const std::string& path) { return "'" + path + "'"; }

// A command with its output on a full disk: its exit status and all it said on standard error.
Result ToFullDisk(const std::string& args, const TempDir& dir) {
  int status = 0;
  Result r;
  RunCommand(std::string(VZ_DBFTOOL) + " " + args + " >/dev/full 2>" + Q(dir / "err.txt"), &status);
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadAll(dir / "err.txt");
  return r;
}

const char kCouldNotWrite[] = "dbftool: could not write the output: No space left on device\n";

TEST(DbfTool, ListsTheGoldenTableInTagOrderAndChecksIt) {
  TempDir dir;
  const std::string path = CopyGolden("n2000", dir);
  const Result list = Tool("list " + Q(path) + " --tag NAME");
  ASSERT_EQ(list.rc, 0);
  std::string expected;
  for (const auto& [recno, name] : ExpectedOrder(XbaseFixture("n2000/expected.tsv")))
    expected += std::to_string(recno) + "\t \t" + name + "\n";
  std::string got;  // record number, mark and name of each line
  for (std::size_t at = 0; at < list.out.size();) {
    const std::size_t end = list.out.find('\n', at);
    const std::string line = list.out.substr(at, end - at);
    got += line.substr(0, line.rfind('\t')) + "\n";
    at = end + 1;
  }
  EXPECT_EQ(got, expected);
  const Result check = Tool("check " + Q(path));
  EXPECT_EQ(check.rc, 0) << check.out;
  const Result info = Tool("info " + Q(path));
  EXPECT_NE(info.out.find("records:        2050"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("deleted:        294"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("1756 entries"), std::string::npos) << info.out;
  EXPECT_EQ(Tool("list " + Q(path) + " --tag NOPE").rc, 2);
  EXPECT_EQ(Tool("frobnicate " + Q(path)).rc, 2);
}

TEST(DbfTool, CheckExplainsDisagreementAndReindexMendsIt) {
  TempDir dir;
  const std::string path = CopyGolden("small", dir);
  std::string dbf = ReadAll(path);
  dbf.replace(98 + 1, 7, "Aardvak");  // record 1 renamed behind the index's back
  WriteAll(path, dbf);
  const std::string cdx = ReadAll(dir / "VZPB.cdx");
  Result check = Tool("check " + Q(path));
  EXPECT_EQ(check.rc, 1);
  EXPECT_NE(check.out.find("Mueller"), std::string::npos) << check.out;
  EXPECT_EQ(ReadAll(dir / "VZPB.cdx"), cdx);  // checking changes nothing
  ASSERT_EQ(Tool("reindex " + Q(path)).rc, 0);
  EXPECT_EQ(Tool("check " + Q(path)).rc, 0);
  EXPECT_EQ(Tool("list " + Q(path) + " --tag NAME").out.substr(0, 11), "1\t \tAardvak");

  // A structurally damaged index: reported, and reindex builds it from its tag list.
  std::string broken = ReadAll(dir / "VZPB.cdx");
  broken.replace(0xA00, 24, std::string(24, '\x7f'));
  WriteAll(dir / "VZPB.cdx", broken);
  check = Tool("check " + Q(path));
  EXPECT_EQ(check.rc, 1);
  EXPECT_NE(check.out.find("damaged"), std::string::npos) << check.out;
  const Result reindex = Tool("reindex " + Q(path));
  EXPECT_EQ(reindex.rc, 0) << reindex.out;
  EXPECT_EQ(ReadAll(dir / "VZPB.cdx.BAD"), broken);
  EXPECT_EQ(Tool("check " + Q(path)).rc, 0);

  // A damaged table is explained, not opened.
  WriteAll(path, dbf.substr(0, 200));
  check = Tool("check " + Q(path));
  EXPECT_EQ(check.rc, 1);
  EXPECT_NE(check.out.find("not a sound table"), std::string::npos) << check.out;
}

// Output that cannot be written fails the command, whether a write in the listing
// fails (the long table) or only the last flush (the short answers of check).
TEST(DbfTool, OutputOnAFullDiskIsAnError) {
  ASSERT_TRUE(std::filesystem::exists("/dev/full"));
  TempDir dir;
  const std::string path = CopyGolden("n2000", dir);
  for (const std::string command : {"list ", "export ", "check "}) {
    const Result r = ToFullDisk(command + Q(path), dir);
    EXPECT_EQ(r.rc, 2) << command;
    EXPECT_EQ(r.out, kCouldNotWrite) << command;
  }
  Result r = ToFullDisk("list " + Q(path) + " --tag NAME", dir);
  EXPECT_EQ(r.rc, 2);
  EXPECT_EQ(r.out, kCouldNotWrite);

  // A disagreement that cannot be reported is a failure, not a finding.
  TempDir other;
  const std::string small = CopyGolden("small", other);
  std::string dbf = ReadAll(small);
  dbf.replace(98 + 1, 7, "Aardvak");
  WriteAll(small, dbf);
  r = ToFullDisk("check " + Q(small), other);
  EXPECT_EQ(r.rc, 2);
  EXPECT_EQ(r.out, kCouldNotWrite);
  EXPECT_EQ(Tool("check " + Q(small)).rc, 1);
}

// Lines of a listing: (name, record number), in the order printed.
std::vector<std::pair<std::string, std::uint32_t>> Listed(const std::string& out) {
  std::vector<std::pair<std::string, std::uint32_t>> rows;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos || line.size() < tab + 3) continue;
    const std::string name = line.substr(tab + 3, line.find('\t', tab + 3) - tab - 3);
    rows.emplace_back(name, static_cast<std::uint32_t>(std::stoul(line.substr(0, tab))));
  }
  return rows;
}

// An index too large to be checked on open, damaged in the middle: listing and export
// stop with an error naming the index instead of finishing in record order.
TEST(DbfTool, AWalkThatMeetsDamageFailsNamingTheIndex) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  constexpr std::uint32_t kRecords = 330000;
  MakeLargePhoneTable(path, kRecords);
  std::string cdx = ReadAll(dir / "VZPB.CDX");
  ASSERT_GT(cdx.size(), std::size_t{4} << 20);
  const auto leaves = InnerLeafPages(cdx);
  for (std::size_t i = 0; i < 4; ++i) cdx.replace(leaves[leaves.size() / 10 + i * 7], 512, std::string(512, '\x5a'));
  WriteAll(dir / "VZPB.CDX", cdx);
  int status = 0;
  const std::string out = RunCommand(std::string(VZ_DBFTOOL) + " list " + Q(path) + " --tag NAME 2>" +
                                         Q(dir / "err.txt"), &status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << status;
  const std::string err = ReadAll(dir / "err.txt");
  EXPECT_NE(err.find("the index " + (dir / "VZPB.CDX") + " is damaged"), std::string::npos) << err;
  const auto rows = Listed(out);
  EXPECT_GT(rows.size(), 1000u);
  EXPECT_LT(rows.size(), kRecords * 9 / 10);
  EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end()));
  EXPECT_EQ(std::adjacent_find(rows.begin(), rows.end()), rows.end());
  EXPECT_EQ(out.find("\t*\t"), std::string::npos);
  // On a full disk the listing stops at its first failed write, long before the damage.
  const Result full = ToFullDisk("list " + Q(path) + " --tag NAME", dir);
  EXPECT_EQ(full.rc, 2);
  EXPECT_EQ(full.out, kCouldNotWrite);
  const Result exported = Tool("export " + Q(path));
  EXPECT_EQ(exported.rc, 2);
  EXPECT_EQ(exported.out.find("name,phone"), std::string::npos);
  EXPECT_NE(exported.out.find("the index " + (dir / "VZPB.CDX") + " is damaged"), std::string::npos);
}

// Once the index has been set aside, reindex builds it again: from the tags of the
// copy set aside, else the phone book's own tag; otherwise it says what it needs.
TEST(DbfTool, ReindexRebuildsAMissingIndex) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  MakePhoneTable(path, FixedDate());
  {
    auto t = Table::Open(path, FixedDate());
    t->IndexTag({"PHONE", "PHONE", "", true, false});  // descending
    t->Append(PhoneRecord(*t, "Kim", "3"));
    t->Append(PhoneRecord(*t, "Al", "2", true));
    t->Append(PhoneRecord(*t, "Bo", "1"));
  }
  std::filesystem::rename(dir / "VZPB.CDX", dir / "VZPB.CDX.BAD");
  Result r = Tool("reindex " + Q(path));
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_EQ(r.out, "rebuilt tag NAME\nrebuilt tag PHONE\n");
  EXPECT_EQ(Tool("check " + Q(path)).rc, 0);
  r = Tool("list " + Q(path) + " --tag PHONE");
  EXPECT_EQ(r.out, "1\t \tKim\t3\n2\t*\tAl\t2\n3\t \tBo\t1\n");

  // No copy to read: the phone book gets tag NAME, for entries not deleted.
  std::filesystem::remove(dir / "VZPB.CDX");
  std::filesystem::remove(dir / "VZPB.CDX.BAD");
  r = Tool("reindex " + Q(path));
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_EQ(r.out, "rebuilt tag NAME\n");
  r = Tool("info " + Q(path));
  EXPECT_NE(r.out.find("tag NAME       key \"NAME\" for \".not. deleted()\", key length 35, 2 entries"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(Tool("check " + Q(path)).rc, 0);

  // Another table, no readable copy: what it needs, in so many words.
  const std::string other = dir / "CITY.DBF";
  Table::Create(other, {{"CITY", 'C', 20, 0, 0}}, FixedDate());
  Table::Open(other, FixedDate())->IndexTag({"CITY", "CITY", "", false, false});
  std::filesystem::remove(dir / "CITY.CDX");
  WriteAll(dir / "CITY.CDX.BAD", "not an index");
  r = Tool("reindex " + Q(other));
  EXPECT_EQ(r.rc, 2);
  EXPECT_EQ(r.out, "dbftool: " + other + " has no production index, and the tags to build cannot be read from " +
                       (dir / "CITY.CDX") + ".BAD; that needs a readable copy of the old index there, or the phone "
                       "book's fields (NAME C 35, PHONE C 25), which get tag NAME back\n");
}

// An index whose tags are gone, or whose rebuild was cut short, is damage to check;
// reindex builds its tags again: those the cut-short rebuild still lists, or tag NAME
// for a phone book whose index lost them all.
TEST(DbfTool, AnIndexWithoutItsTagsIsDamageAndReindexBuildsThemAgain) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  MakePhoneTable(path, FixedDate());
  {
    auto t = Table::Open(path, FixedDate());
    t->IndexTag({"PHONE", "PHONE", "", false, false});
    t->Append(PhoneRecord(*t, "Kim", "3"));
    t->Append(PhoneRecord(*t, "Al", "2"));
  }
  std::string cdx = ReadAll(dir / "VZPB.CDX");
  cdx.replace(496, 4, "BRZV");  // the rebuild mark, left by a crash half way
  WriteAll(dir / "VZPB.CDX", cdx);
  Result r = Tool("check " + Q(path));
  EXPECT_EQ(r.rc, 1) << r.out;
  EXPECT_NE(r.out.find("the index is damaged: index damaged: a rebuild was cut short"), std::string::npos) << r.out;
  r = Tool("reindex " + Q(path));
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_NE(r.out.find("rebuilt tag NAME\nrebuilt tag PHONE\n"), std::string::npos) << r.out;
  EXPECT_EQ(Tool("check " + Q(path)).rc, 0);

  {
    CdxOptions o;
    o.shared = false;
    CdxIndex::Create(OpenHostFile(dir / "VZPB.CDX", OpenMode::kReadWrite), o);
  }
  r = Tool("check " + Q(path));
  EXPECT_EQ(r.rc, 1) << r.out;
  EXPECT_NE(r.out.find("the production index has no tags"), std::string::npos) << r.out;
  r = Tool("reindex " + Q(path));
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_NE(r.out.find("rebuilt tag NAME\n"), std::string::npos) << r.out;
  r = Tool("list " + Q(path) + " --tag NAME");
  EXPECT_EQ(r.out, "2\t \tAl\t2\n1\t \tKim\t3\n");
  EXPECT_EQ(Tool("check " + Q(path)).rc, 0);
}

// A record count beyond the records in the file: repair keeps the old header, counts
// the whole records and rebuilds the index.
TEST(DbfTool, RepairSetsTheRecordCountToTheWholeRecords) {
  TempDir dir;
  const std::string path = CopyGolden("small", dir);
  std::string dbf = ReadAll(path);
  dbf[4] = 12;  // 10 records in the file
  WriteAll(path, dbf);
  EXPECT_EQ(Tool("check " + Q(path)).rc, 1);
  Result r = Tool("repair " + Q(path));
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_EQ(r.out, "record count 12 -> 10: the file holds 10 whole records\nthe old header was kept in " + path +
                       ".HDR\nrebuilt tag NAME\n");
  EXPECT_EQ(ReadAll(path + ".HDR"), dbf.substr(0, 98));
  EXPECT_EQ(Tool("check " + Q(path)).rc, 0);
  EXPECT_EQ(ReadAll(path).substr(4, 4), std::string("\x0a\0\0\0", 4));

  // A copy cut short in the middle of record 8.
  WriteAll(path, dbf.substr(0, 98 + 7 * 61 + 30));
  r = Tool("repair " + Q(path));
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_NE(r.out.find("record count 12 -> 7"), std::string::npos) << r.out;
  EXPECT_EQ(Tool("check " + Q(path)).rc, 0);
  r = Tool("repair " + Q(path));
  EXPECT_EQ(r.out, "the record count (7) agrees with the file; the header is left as it is\nrebuilt tag NAME\n");
}

TEST(DbfTool, CreateImportAndExportAPhoneBook) {
  TempDir dir;
  const std::string path = dir / "VZPB.DBF";
  ASSERT_EQ(Tool("create-phonebook " + Q(path)).rc, 0);
  EXPECT_EQ(Tool("create-phonebook " + Q(path)).rc, 2);  // never over an existing table
  WriteAll(dir / "in.csv",
           "name,phone\r\n"
           "\"Doe, John\",\"+1 \"\"555\"\"\"\r\n"
           "Adams,12\n"
           "\r\n"
           "\"\",\n"
           "Zed," + std::string(25, '9') + "\r\n");
  const Result import = Tool("import " + Q(path) + " " + Q(dir / "in.csv"));
  ASSERT_EQ(import.rc, 0) << import.out;
  const Result out = Tool("export " + Q(path));
  ASSERT_EQ(out.rc, 0);
  // The row without a number is skipped and counted.
  EXPECT_EQ(out.out, "name,phone\r\nAdams,12\r\n\"Doe, John\",\"+1 \"\"555\"\"\"\r\nZed," + std::string(25, '9') + "\r\n");
  EXPECT_NE(import.out.find("skipped 1 without a fax number, 0 already in the phone book, 0 listed"),
            std::string::npos) << import.out;
  EXPECT_EQ(Tool("check " + Q(path)).rc, 0);

  // What does not fit is listed by line and skipped; the rest goes in.
  WriteAll(dir / "long.csv", "Ok,1\r\n" + std::string(36, 'n') + ",2\r\n");
  Result r = Tool("import " + Q(path) + " " + Q(dir / "long.csv"));
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.out.find("line 2: the name \"" + std::string(36, 'n') + "\" has 36 characters; at most 35 fit"),
            std::string::npos) << r.out;
  WriteAll(dir / "three.csv", "a,b,c\r\n");
  r = Tool("import " + Q(path) + " " + Q(dir / "three.csv"));
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.out.find("line 1: 3 values"), std::string::npos) << r.out;
  // A file that cannot be read adds nothing.
  const std::string before = ReadAll(path);
  WriteAll(dir / "open.csv", "a,\"b\r\n");
  r = Tool("import " + Q(path) + " " + Q(dir / "open.csv"));
  EXPECT_EQ(r.rc, 2);
  EXPECT_NE(r.out.find("line 1: a quoted field is not closed; nothing was imported"), std::string::npos) << r.out;
  EXPECT_EQ(ReadAll(path), before);

  // The independent reader sees the imported entries.
  int status = 0;
  const std::string dump = RunCommand("dbf_dump " + Q(path) + " 2>&1", &status);
  ASSERT_EQ(status, 0) << "the Perl DBF tools (libdbd-xbase-perl) are missing: scripts/setup installs them";
  EXPECT_NE(dump.find("Doe, John:+1 \"555\""), std::string::npos) << dump;
}

}  // namespace
}  // namespace vz::db
