// dbftool: looks into and maintains DBF tables with their production CDX index,
// always through the table engine and in shared mode.
//
//   dbftool info FILE.DBF               header, fields, counts, tags
//   dbftool list FILE.DBF [--tag NAME]  recno, deletion mark, fields (tab-separated)
//   dbftool check FILE.DBF              index against table; exit 1 when they disagree
//   dbftool reindex FILE.DBF            builds every tag again from the records
//   dbftool repair FILE.DBF             a record count beyond the file's records mended
//   dbftool create-phonebook FILE.DBF   a new phone book table with its NAME tag
//   dbftool import FILE.DBF CONTACTS [--cut]
//                                       adds the contacts of a CSV or vCard file
//   dbftool export FILE.DBF [--format csv|csv-utf8|vcard] [OUT]
//                                       the visible entries in name order
//
// Exit 2 for any failure, output that cannot be written included; import exits 1
// when it listed contacts it did not import.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.hpp"
#include "dbengine/table.hpp"
#include "phonebook/contacts.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

using vz::db::Table;

constexpr int kExitOk = 0;
constexpr int kExitDisagree = 1;
constexpr int kExitListed = 1;
constexpr int kExitError = 2;

// Standard output with every write checked: on a full disk a listing stops at the
// first write that fails, and the command fails instead of ending with 0 and no word.
class OutputFailed : public std::runtime_error {
 public:
  explicit OutputFailed(int error) : std::runtime_error(Describe(error)) {}

  static std::string Describe(int error) {
    std::string text = "could not write the output";
    if (error != 0) text += std::string(": ") + std::strerror(error);
    return text;
  }
};

void Out(std::string_view text) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) throw OutputFailed(errno);
}

// Short output stays in the buffer until this flush, so only here can its write fail:
// every command ends through this check.
int FinishOutput(int rc) {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return rc;
  std::fprintf(stderr, "dbftool: %s\n", OutputFailed::Describe(errno).c_str());
  return kExitError;
}

int Usage() {
  std::fputs(
      "usage: dbftool info FILE.DBF\n"
      "       dbftool list FILE.DBF [--tag NAME]\n"
      "       dbftool check FILE.DBF\n"
      "       dbftool reindex FILE.DBF\n"
      "       dbftool repair FILE.DBF\n"
      "       dbftool create-phonebook FILE.DBF\n"
      "       dbftool import FILE.DBF CONTACTS [--cut]\n"
      "       dbftool export FILE.DBF [--format csv|csv-utf8|vcard] [OUT]\n",
      stderr);
  return kExitError;
}

std::string RTrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

vz::db::TableOptions Shared(bool readOnly = false) {
  vz::db::TableOptions o;
  o.mode = readOnly ? vz::db::ShareMode::kReadOnly : vz::db::ShareMode::kShared;
  return o;
}

// On standard error, so that a listing or an export on standard output stays whole.
void ReportDamage(const Table& t) {
  if (!t.DamageReason().empty()) {
    std::fprintf(stderr, "warning: the production index is damaged: %s\n", t.DamageReason().c_str());
    if (!t.DamagedIndexPath().empty() && t.HasIndex())
      std::fprintf(stderr, "warning: it was built again; the damaged file was kept as %s\n",
                   t.DamagedIndexPath().c_str());
    else if (!t.DamagedIndexPath().empty())
      std::fprintf(stderr, "warning: it was moved to %s\n", t.DamagedIndexPath().c_str());
  }
}

int Info(const std::string& path) {
  auto t = Table::Open(path, Shared(true));
  const auto& h = t->Header();
  Out(vz::Format("table:          %s\n", path.c_str()));
  Out(vz::Format("version:        0x%02X%s\n", h.version, h.Writable() ? "" : " (read-only here)"));
  Out(vz::Format("last update:    %04d-%02d-%02d\n", h.date.year, h.date.month, h.date.day));
  Out(vz::Format("records:        %u\n", h.recordCount));
  std::uint32_t deleted = 0;
  for (bool ok = t->GoTop(); ok; ok = t->Skip(1)) deleted += t->Deleted() ? 1 : 0;
  Out(vz::Format("deleted:        %u\n", deleted));
  Out(vz::Format("header length:  %u\n", h.headerLength));
  Out(vz::Format("record length:  %u\n", h.recordLength));
  Out(vz::Format("flags:          0x%02X%s\n", h.flags, (h.flags & vz::db::kDbfFlagStructuralCdx) ? " (production index)" : ""));
  Out(vz::Format("code page mark: 0x%02X\n", h.codePage));
  Out(vz::Format("fields:         %zu\n", h.fields.size()));
  for (const auto& f : h.fields)
    Out(vz::Format("  %-10s %c %3d %2d  at %d\n", f.name.c_str(), f.type, f.width, f.decimals, f.offset));
  ReportDamage(*t);
  if (!t->HasIndex()) {
    Out("index:          none\n");
    return kExitOk;
  }
  Out(vz::Format("index:          %s\n", t->IndexPath().c_str()));
  int order = 0;
  for (const auto& tag : t->Tags()) {
    ++order;
    t->SetOrder(order);
    std::uint64_t entries = 0;
    for (bool ok = t->GoTop(); ok; ok = t->Skip(1)) ++entries;
    Out(vz::Format("  tag %-10s key \"%s\"%s%s%s, key length %d, %llu entries\n", tag.name.c_str(),
                tag.keyExpr.c_str(), tag.forExpr.empty() ? "" : (" for \"" + tag.forExpr + "\"").c_str(),
                tag.descending ? ", descending" : "", tag.unique ? ", unique" : "", tag.keyLength,
                static_cast<unsigned long long>(entries)));
  }
  return kExitOk;
}

int List(const std::string& path, const std::string& tag) {
  auto t = Table::Open(path, Shared(true));
  ReportDamage(*t);
  if (!tag.empty()) {
    const int order = t->TagOrder(tag);
    if (order == 0 && !t->HasIndex() && !t->DamageReason().empty()) {
      std::fprintf(stderr, "dbftool: the index %s is damaged: %s\n", t->IndexPath().c_str(), t->DamageReason().c_str());
      return kExitError;
    }
    if (order == 0) {
      std::fprintf(stderr, "dbftool: %s has no tag %s\n", path.c_str(), tag.c_str());
      return kExitError;
    }
    t->SetOrder(order);
  }
  const auto& fields = t->Fields();
  for (bool ok = t->GoTop(); ok; ok = t->Skip(1)) {
    std::string line = std::to_string(t->RecNo()) + '\t' + (t->Deleted() ? '*' : ' ');
    for (std::size_t i = 0; i < fields.size(); ++i) line += '\t' + RTrim(t->FieldText(static_cast<int>(i)));
    line += '\n';
    Out(line);
  }
  return kExitOk;
}

int Check(const std::string& path) {
  // The comparison is made once, below, where every disagreement is listed.
  vz::db::TableOptions o = Shared(true);
  o.checkIndexOnOpenBytes = 0;
  auto t = Table::Open(path, o);
  const auto problems = t->CheckIndex();
  if (problems.empty()) {
    if (!t->HasIndex()) {
      Out(vz::Format("%s has no production index; nothing to check\n", path.c_str()));
    } else {
      Out(vz::Format("%s: the index agrees with the table (%u records, %zu tags)\n", path.c_str(), t->RecordCount(),
                  t->Tags().size()));
    }
    return kExitOk;
  }
  Out(vz::Format("%s: the index and the table disagree:\n", path.c_str()));
  for (const auto& p : problems) Out(vz::Format("  %s\n", p.c_str()));
  Out(vz::Format("run \"dbftool reindex %s\" to build the index again from the records\n", path.c_str()));
  return kExitDisagree;
}

bool IsField(const Table& t, const char* name, int width) {
  const int i = t.FieldIndex(name);
  if (i < 0) return false;
  const auto& f = t.Fields()[static_cast<std::size_t>(i)];
  return f.type == 'C' && f.width == width;
}

const vz::db::IndexTagSpec kPhoneBookTag{"NAME", "NAME", ".not. deleted()", false, false};

// Without an index, the tags come from the copy set aside; failing that, a phone book
// gets its own tag back.
int RebuildIndex(Table& t) {
  if (!t.HasIndex() && t.RebuildableTags().empty()) {
    if (!IsField(t, "NAME", 35) || !IsField(t, "PHONE", 25)) {
      std::fprintf(stderr,
                   "dbftool: %s has no production index, and the tags to build cannot be read from %s.BAD; "
                   "that needs a readable copy of the old index there, or the phone book's fields "
                   "(NAME C 35, PHONE C 25), which get tag NAME back\n",
                   t.Path().c_str(), t.IndexPath().c_str());
      return kExitError;
    }
    t.IndexTag(kPhoneBookTag);
  } else {
    t.Reindex();
  }
  for (const auto& tag : t.Tags()) Out(vz::Format("rebuilt tag %s\n", tag.name.c_str()));
  return kExitOk;
}

int Reindex(const std::string& path) {
  auto t = Table::Open(path, Shared());
  ReportDamage(*t);
  return RebuildIndex(*t);
}

int Repair(const std::string& path) {
  const auto r = Table::RepairRecordCount(path);
  if (r.headerCopy.empty()) {
    Out(vz::Format("the record count (%u) agrees with the file; the header is left as it is\n", r.oldCount));
  } else {
    Out(vz::Format("record count %u -> %u: the file holds %u whole records\n", r.oldCount, r.newCount, r.newCount));
    Out(vz::Format("the old header was kept in %s\n", r.headerCopy.c_str()));
  }
  auto t = Table::Open(path, Shared());
  ReportDamage(*t);
  return RebuildIndex(*t);
}

int CreatePhoneBook(const std::string& path) {
  if (vz::db::HostFileExists(path)) {
    std::fprintf(stderr, "dbftool: %s exists already; it is left as it is\n", path.c_str());
    return kExitError;
  }
  Table::Create(path, {{"NAME", 'C', 35, 0, 0}, {"PHONE", 'C', 25, 0, 0}}, Shared());
  Table::Open(path, Shared())->IndexTag(kPhoneBookTag);
  Out(vz::Format("created %s with tag NAME\n", path.c_str()));
  return kExitOk;
}

bool ReadFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

std::string Plural(std::size_t n, const char* one, const char* many) {
  return vz::Format("%zu %s", n, n == 1 ? one : many);
}

// The summary on standard output, what was listed on standard error (each naming the
// file and line), so that the summary can be read on its own.
void ReportImport(const std::string& path, const std::string& file, const vz::phonebook::ContactsRead& read,
                  const vz::phonebook::ImportPlan& plan, const vz::phonebook::ImportSummary& done) {
  for (const auto& p : plan.problems)
    std::fprintf(stderr, "dbftool: %s line %zu: %s\n", file.c_str(), p.line, p.text.c_str());
  Out(vz::Format("read %s from %s (%s)\n", Plural(read.contacts.size() + read.withoutFax + read.problems.size(),
                                                  "contact", "contacts").c_str(),
                 file.c_str(), read.format.c_str()));
  Out(vz::Format("added %s to %s\n", Plural(done.added, "entry", "entries").c_str(), path.c_str()));
  Out(vz::Format("skipped %zu without a fax number, %zu already in the phone book, %zu listed\n", done.withoutFax,
                 done.duplicates, done.listed));
  if (done.cut > 0) Out(vz::Format("cut %s to fit the phone book's fields\n", Plural(done.cut, "entry", "entries").c_str()));
  if (done.listed > 0 && !plan.problems.empty())
    std::fprintf(stderr, "dbftool: the entries listed were not imported (--cut shortens names and numbers "
                         "that are too long)\n");
  if (done.stopped) {
    // Line 0: every entry was written, and only the last flush failed.
    const std::string where = done.stoppedAtLine > 0
                                  ? vz::Format("at line %zu of %s ", done.stoppedAtLine, file.c_str())
                                  : std::string();
    std::fprintf(stderr,
                 "dbftool: the import stopped %safter adding %s: %s\n"
                 "dbftool: running it again adds only the rest (entries already in the phone book are skipped)\n",
                 where.c_str(), Plural(done.added, "entry", "entries").c_str(), done.stopReason.c_str());
  }
}

// Exit 0 only when every contact of the file is in the phone book (added now or
// before, or without a fax number); 1 when some were listed; 2 when it stopped.
int Import(const std::string& path, const std::string& file, bool cut) {
  std::string bytes;
  if (!ReadFile(file, bytes)) {
    std::fprintf(stderr, "dbftool: cannot read %s\n", file.c_str());
    return kExitError;
  }
  const auto codePage = vz::phonebook::SystemAnsiCodePage();
  vz::phonebook::ContactsRead read;
  try {
    read = vz::phonebook::ReadContacts(bytes, file, *codePage);
  } catch (const vz::phonebook::ContactsUnreadable& e) {
    std::fprintf(stderr, "dbftool: %s %s; nothing was imported\n", file.c_str(), e.what());
    return kExitError;
  }
  auto t = Table::Open(path, Shared());
  ReportDamage(*t);
  vz::phonebook::ImportOptions options;
  options.cut = cut;
  const auto plan = vz::phonebook::PlanImport(*t, read, options, *codePage);
  const auto done = vz::phonebook::ApplyImport(*t, plan);
  ReportImport(path, file, read, plan, done);
  if (done.stopped) return kExitError;
  return done.listed > 0 ? kExitListed : kExitOk;
}

bool ParseFormat(const std::string& name, vz::phonebook::ExportFormat& format) {
  if (name == "csv") format = vz::phonebook::ExportFormat::kCsv;
  else if (name == "csv-utf8") format = vz::phonebook::ExportFormat::kCsvUtf8;
  else if (name == "vcard") format = vz::phonebook::ExportFormat::kVCard;
  else return false;
  return true;
}

int Export(const std::string& path, vz::phonebook::ExportFormat format, const std::string& outPath) {
  auto t = Table::Open(path, Shared(true));
  ReportDamage(*t);
  const auto codePage = vz::phonebook::SystemAnsiCodePage();
  const std::string text = vz::phonebook::WriteContacts(vz::phonebook::ReadPhoneEntries(*t), format, *codePage);
  if (outPath.empty()) {
    Out(text);
    return kExitOk;
  }
  std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "dbftool: cannot write %s\n", outPath.c_str());
    return kExitError;
  }
  return kExitOk;
}

// import FILE.DBF CONTACTS [--cut]
int ImportCommand(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  bool cut = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--cut") cut = true;
    else if (args[i].rfind("--", 0) == 0) return Usage();
    else files.push_back(args[i]);
  }
  if (files.size() != 2) return Usage();
  return Import(files[0], files[1], cut);
}

// export FILE.DBF [--format csv|csv-utf8|vcard] [OUT]
int ExportCommand(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  auto format = vz::phonebook::ExportFormat::kCsv;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--format" && i + 1 < args.size()) {
      if (!ParseFormat(args[++i], format)) return Usage();
    } else if (args[i].rfind("--format=", 0) == 0) {
      if (!ParseFormat(args[i].substr(9), format)) return Usage();
    } else if (args[i].rfind("--", 0) == 0) {
      return Usage();
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.empty() || files.size() > 2) return Usage();
  return Export(files[0], format, files.size() == 2 ? files[1] : std::string());
}

int Run(const std::vector<std::string>& args) {
  const std::string& command = args[0];
  const std::string& file = args[1];
  try {
    if (command == "info" && args.size() == 2) return Info(file);
    if (command == "list" && args.size() == 2) return List(file, {});
    if (command == "list" && args.size() == 4 && args[2] == "--tag") return List(file, args[3]);
    if (command == "check" && args.size() == 2) return Check(file);
    if (command == "reindex" && args.size() == 2) return Reindex(file);
    if (command == "repair" && args.size() == 2) return Repair(file);
    if (command == "create-phonebook" && args.size() == 2) return CreatePhoneBook(file);
    if (command == "import") return ImportCommand(args);
    if (command == "export") return ExportCommand(args);
  } catch (const OutputFailed&) {
    throw;  // reported once, in main
  } catch (const vz::db::DbfDamaged& e) {
    std::fprintf(stderr, "dbftool: %s\n", e.what());
    return command == "check" ? kExitDisagree : kExitError;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dbftool: %s\n", e.what());
    return kExitError;
  }
  return Usage();
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) return Usage();
  try {
    return FinishOutput(Run(args));
  } catch (const OutputFailed& e) {
    // Said once; what is still buffered cannot be written either.
    std::fprintf(stderr, "dbftool: %s\n", e.what());
    return kExitError;
  }
}
