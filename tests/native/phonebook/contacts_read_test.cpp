// Contact files as other programs write them (the fixtures in tests/fixtures/contacts),
// read into the phone book's code page, Windows-1252 here.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "phonebook/contacts.hpp"
#include "tests/native/dbengine/testutil.hpp"

namespace vz::phonebook {
namespace {

std::string Fixture(const std::string& name) {
  const std::string path = std::string(VZ_CONTACT_FIXTURES) + "/" + name;
  if (!std::filesystem::exists(path)) throw std::runtime_error("missing test fixture: " + path);
  return db::test::ReadAll(path);
}

// "line|name|fax" for each contact, in the order read.
std::vector<std::string> Listed(const ContactsRead& read) {
  std::vector<std::string> out;
  for (const auto& c : read.contacts) out.push_back(std::to_string(c.line) + "|" + c.name + "|" + c.fax);
  return out;
}

std::vector<std::string> Problems(const std::vector<ContactProblem>& problems) {
  std::vector<std::string> out;
  for (const auto& p : problems) out.push_back(std::to_string(p.line) + ": " + p.text);
  return out;
}

ContactsRead Read(const std::string& bytes, const std::string& name = "contacts.csv") {
  return ReadContacts(bytes, name, Windows1252());
}

TEST(ContactsCsv, OutlookExportSavedAsCsvUtf8) {
  const ContactsRead r = Read(Fixture("outlook.csv"), "outlook.csv");
  EXPECT_EQ(r.format, "CSV, comma-separated, UTF-8 with a byte order mark, with a header");
  EXPECT_EQ(Listed(r), (std::vector<std::string>{
                           "2|M\xFCller, Hans|+49 30 1234567",
                           "3|Lef\xE8vre, Zo\xEB|+33 1 4567 8901",
                           "4|Smith, Jones & Co.|+1 212 555 0199",
                           "6|Hohenzollern-Sigmaringen, Maximilian-Alexander|+49 7571 729 0",
                           "8|M\xFCller, Hans|+49 30 1234567",
                       }));
  EXPECT_EQ(Problems(r.problems),
            (std::vector<std::string>{
                "5: the name of \"Nowak, Łukasz\" has the character Ł (U+0141), which Windows-1252 cannot hold"}));
  EXPECT_EQ(r.withoutFax, 1u);  // O"Brien: phones only
}

TEST(ContactsCsv, GoogleExportWithTypedPhoneColumns) {
  const ContactsRead r = Read(Fixture("google.csv"));
  EXPECT_EQ(r.format, "CSV, comma-separated, UTF-8, with a header");
  EXPECT_EQ(Listed(r), (std::vector<std::string>{
                           "2|Jos\xE9 \xC1lvarez|+34 91 555 0101",
                           "3|Ingrid Bergstr\xF6m|+46 8 555 0203",  // the work fax, not the home fax before it
                           "4|Dubois, Chlo\xE9|+33 4 555 0303",     // no Name: "Last, First"; the first of two
                       }));
  EXPECT_EQ(Problems(r.problems),
            (std::vector<std::string>{
                "6: the name of \"Fatma Yılmaz\" has the character ı (U+0131), which Windows-1252 cannot hold"}));
  EXPECT_EQ(r.withoutFax, 1u);
}

TEST(ContactsCsv, SemicolonsInWindows1252) {
  const ContactsRead r = Read(Fixture("semicolon-1252.csv"));
  EXPECT_EQ(r.format, "CSV, semicolon-separated, Windows-1252, with a header");
  EXPECT_EQ(Listed(r), (std::vector<std::string>{
                           "2|M\xFCller, J\xFCrgen|+49 89 555 0601",
                           "3|Caf\xE9 Ol\xE9 GmbH|+43 1 555 0602",
                           "4|Se\xF1ora Garc\xED" "a|+34 93 555 0603",
                           "5|Stra\xDF" "e & S\xF6hne \x80|+49 40 555 0604",
                       }));
  EXPECT_TRUE(r.problems.empty());
  EXPECT_EQ(r.withoutFax, 1u);
}

TEST(ContactsCsv, UnicodeTextIsTabSeparatedUtf16) {
  const ContactsRead r = Read(Fixture("unicode-text.txt"));
  EXPECT_EQ(r.format, "CSV, tab-separated, UTF-16 LE, with a header");
  EXPECT_EQ(Listed(r), (std::vector<std::string>{
                           "2|\xC5ngstr\xF6m, \xC5sa|+46 18 555 0701",
                           "4|Nu\xF1" "ez; I\xF1" "aki|+34 94 555 0703",
                       }));
  EXPECT_EQ(Problems(r.problems),
            (std::vector<std::string>{
                "3: the name of \"Dvořák, Antonín\" has the character ř (U+0159), which Windows-1252 cannot hold"}));

  // The same text big-endian.
  std::string be = "\xFE\xFF";
  const std::string le = Fixture("unicode-text.txt");
  for (std::size_t i = 2; i + 1 < le.size(); i += 2) be += std::string{le[i + 1], le[i]};
  const ContactsRead big = Read(be);
  EXPECT_EQ(big.format, "CSV, tab-separated, UTF-16 BE, with a header");
  EXPECT_EQ(Listed(big), Listed(r));
}

// The faults users met: a byte order mark hid the first row's opening quote, and
// UTF-8 without a mark went into the table as raw bytes ("MÃ¼ller").
TEST(ContactsCsv, EncodingsWithAndWithoutAMark) {
  const std::string row = "\"M\xC3\xBCller, Hans\",+49 30 1\r\n";
  for (const std::string& bytes : {"\xEF\xBB\xBF" + row, row}) {
    const ContactsRead r = Read(bytes);
    EXPECT_EQ(Listed(r), (std::vector<std::string>{"1|M\xFCller, Hans|+49 30 1"})) << r.format;
    EXPECT_TRUE(r.problems.empty());
  }
  // Bytes that are not UTF-8 are the code page already.
  EXPECT_EQ(Listed(Read("M\xFCller;+49 30 1\n")), (std::vector<std::string>{"1|M\xFCller|+49 30 1"}));
  // Broken UTF-8 behind a mark is listed, never stored as bytes.
  const ContactsRead broken = Read("\xEF\xBB\xBF" "Bad \xC3(,1\n");
  EXPECT_TRUE(broken.contacts.empty());
  EXPECT_EQ(Problems(broken.problems),
            (std::vector<std::string>{
                "1: the name of \"Bad �(\" has the character � (U+FFFD), which Windows-1252 cannot hold"}));
}

TEST(ContactsCsv, WithoutAHeaderTwoColumnsAreNameAndFax) {
  const ContactsRead r = Read(
      "\"Doe, John\",\"+1 \"\"555\"\"\"\n"
      "Adams,12\r\n"
      "\r\n"
      "\"Multi\nLine\",7\n"
      "only a name\n"
      "a,b,c\n"
      "Zed,99");
  EXPECT_EQ(r.format, "CSV, comma-separated, ASCII, no header");
  EXPECT_EQ(Listed(r), (std::vector<std::string>{"1|Doe, John|+1 \"555\"", "2|Adams|12", "4|Multi\nLine|7",
                                                 "8|Zed|99"}));
  EXPECT_EQ(Problems(r.problems), (std::vector<std::string>{"7: 3 values; a row is name,fax"}));
  EXPECT_EQ(r.withoutFax, 1u);
  EXPECT_THROW(Read("a,\"b\r\n"), ContactsUnreadable);
}

TEST(ContactsCsv, HeaderWithoutAFaxColumnIsListed) {
  const ContactsRead r = Read("First Name,Last Name,Mobile Phone\nAda,Lovelace,+44 20 555\n");
  EXPECT_TRUE(r.contacts.empty());
  EXPECT_EQ(r.withoutFax, 1u);
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_EQ(r.problems[0].line, 1u);
}

TEST(ContactsVCard, Version21QuotedPrintableAndCharsets) {
  const ContactsRead r = Read(Fixture("cards-2.1.vcf"), "cards-2.1.vcf");
  EXPECT_EQ(r.format, "vCard, Windows-1252");
  EXPECT_EQ(Listed(r), (std::vector<std::string>{
                           "1|M\xFCller-L\xFC" "denscheid, J\xF6rgen|+49 2351 555 0802",  // soft break, work fax
                           "9|Fran\xE7ois Gar\xE7on|+33 5 555 0803",                      // ISO-8859-1 bytes
                       }));
  EXPECT_EQ(Problems(r.problems),
            (std::vector<std::string>{
                "15: the name of \"Łucja Kowalska\" has the character Ł (U+0141), which Windows-1252 cannot hold",
                "20: the character set KOI8-R is not known"}));
}

TEST(ContactsVCard, Version30TypesEscapesAndFoldedLines) {
  const ContactsRead r = Read(Fixture("cards-3.0.vcf"));
  EXPECT_EQ(r.format, "vCard, UTF-8");
  EXPECT_EQ(Listed(r), (std::vector<std::string>{
                           "1|Bj\xF6rk Gu\xF0mundsd\xF3ttir, Reykjav\xEDk Office of Very Long Names|+354 555 0902",
                           "10|\xD8stergaard, S\xF8ren|+45 33 55 09 03",  // N only; a grouped TEL
                           "20|Fran\xE7oise Martin|+33 1 55 09 05",       // folded inside a word
                       }));
  EXPECT_TRUE(r.problems.empty());
  EXPECT_EQ(r.withoutFax, 1u);
}

TEST(ContactsVCard, Version40UriNumbersAndQuotedTypes) {
  const ContactsRead r = Read(Fixture("cards-4.0.vcf"));
  EXPECT_EQ(Listed(r), (std::vector<std::string>{
                           "1|Zo\xEB Lef\xE8vre|+33-1-4567-8902",
                           "13|Hans M\xFCller|+49-30-1234567",
                       }));
  EXPECT_EQ(Problems(r.problems),
            (std::vector<std::string>{
                "8: the name of \"Ōsaka Trading\" has the character Ō (U+014C), which Windows-1252 cannot hold"}));
}

// Recognised from the content; the name only helps a .vcf with something before its
// first card.
TEST(ContactsVCard, TheContentDecidesTheFormat) {
  const std::string card = "BEGIN:VCARD\nVERSION:3.0\nFN:A\nTEL;TYPE=FAX:1\nEND:VCARD\n";
  EXPECT_EQ(Read(card, "contacts.csv").format, "vCard, ASCII");
  EXPECT_EQ(Read("\r\n" + card, "export.txt").format, "vCard, ASCII");
  EXPECT_EQ(Listed(Read("exported by a phone\n" + card, "Contacts.VCF")), (std::vector<std::string>{"2|A|1"}));
  EXPECT_EQ(Read("exported by a phone\n" + card, "contacts.txt").format, "CSV, comma-separated, ASCII, no header");
}

TEST(ContactsVCard, ALoneCardWithOrganisationOnly) {
  const ContactsRead r = Read("begin:vcard\nversion:3.0\nORG:Acme\\; Sons;Sales\ntel;type=fax:5\nend:vcard\n");
  EXPECT_EQ(Listed(r), (std::vector<std::string>{"1|Acme; Sons|5"}));
}

// Only address books' typed phone cells list several numbers ("a ::: b"), and only
// 4.0's numbers (or VALUE=uri ones) are tel: URIs: elsewhere these are the number
// itself, as the phone book's own exports write it.
TEST(ContactsRead, NumbersAreTakenAsWrittenOutsideTypedCellsAndUris) {
  EXPECT_EQ(Listed(Read("\xEF\xBB\xBFName,Fax\r\nA,1 ::: 2\r\n")), (std::vector<std::string>{"2|A|1 ::: 2"}));
  EXPECT_EQ(Listed(Read("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nTEL;TYPE=FAX:tel:5\r\nEND:VCARD\r\n"
                        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:B\r\nTEL;VALUE=uri;TYPE=FAX:tel:6\r\nEND:VCARD\r\n")),
            (std::vector<std::string>{"1|A|tel:5", "6|B|6"}));
}

TEST(CodePage, Windows1252BothWays) {
  const Windows1252 cp;
  std::string out;
  char32_t missing = 0;
  EXPECT_TRUE(cp.FromUtf8("\xE2\x82\xAC \xC5\xA0 \xC2\x81 \xC3\xBF", out, missing));  // € Š U+0081 ÿ
  EXPECT_EQ(out, "\x80 \x8A \x81 \xFF");
  EXPECT_FALSE(cp.FromUtf8("ab\xC4\x97", out, missing));  // ė: no best fit "e"
  EXPECT_EQ(missing, U'\u0117');
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  ASSERT_TRUE(cp.FromUtf8(cp.ToUtf8(all), out, missing));
  EXPECT_EQ(out, all);
  EXPECT_EQ(cp.ToUtf8("\x80\x9F"), "\xE2\x82\xAC\xC5\xB8");
}

}  // namespace
}  // namespace vz::phonebook
