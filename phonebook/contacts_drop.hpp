#pragma once
// Contact files dropped on the phone book browser: which files it takes, how several
// become one import, and what the user is asked and told. Plain text only; the
// browser shows it in message boxes, which hold 255 characters.
#include <string>
#include <string_view>
#include <vector>

#include "phonebook/contacts.hpp"

namespace vz::phonebook {

// A file the browser imports when dropped: .csv, .vcf or .txt in any letter case.
// The content decides the format, as for `dbftool import`; the extension only keeps
// pictures and documents dropped by mistake from being read as contacts.
bool IsContactsFileName(std::string_view path);

// The name of a file without its folder (after the last backslash or slash).
std::string FileNameOf(std::string_view path);

// How the question names the files: "a.vcf", "a.vcf and b.csv", "a.vcf, b.csv and
// c.txt", or "4 files" when more or longer names would crowd the question. A long
// single name keeps its start and end around "...".
std::string FilesLabel(const std::vector<std::string>& paths);

// Several files' contacts as one import: duplicates between the files are found as
// within one, and one question and one append take them all.
ContactsRead JoinReads(std::vector<ContactsRead> reads);

// "Import 3 entries from a.vcf into the phone book?" and, on lines of their own, what
// is left out and why (see LeftOutText).
std::string ImportQuestion(const ImportPlan& plan, const std::string& files);
// The information box for a plan with nothing to add.
std::string NothingToImportText(const ImportPlan& plan, const std::string& files);
// What is left out: "2 without a fax number and 1 already in the phone book are left
// out." and "1 could not be read (a name too long, ...)."; empty when nothing is.
std::string LeftOutText(const ImportPlan& plan);
// The error box of an import that stopped part-way.
std::string ImportStoppedText(const ImportSummary& done);

}  // namespace vz::phonebook
