// Finds Windows NT's raster-driver files, and when they are missing, works out
// from the setup INF files which disk holds them, asks the user for each and
// expands it into the printer driver directory.
#include <array>
#include <set>
#include <vector>

#include "common/text.hpp"
#include "installer/infparse.hpp"
#include "installer/installer.hpp"

namespace vz::inst {
namespace {

struct FileSpec {
  const char* driverName;      // in the printer driver directory, and LAYOUT.INF's key
  const char* printerSection;  // PRINTER.INF section that names it
  const char* searchName;      // searched in that section
  const char* compressedName;  // offered in the prompt
};

// The order matters: the same-disk shortcuts compare file 2 with 1 and 3 with 2.
constexpr std::array<FileSpec, 3> kFiles = {{
    {"Rasdd.dll", "[FILES-PRINTERDRIVER]", "RASDD", "Rasdd.dl_"},
    {"Rasddui.hlp", "[FILES-PRINTERDRIVERHELP]", "RASDD", "Rasddui.hl_"},
    {"Rasddui.dll", "[FILES-PRINTERCONFIG]", "RASDDUI", "Rasddui.dl_"},
}};

constexpr char kNtSignature[] = "$Windows NT$";
// Windows' own file expander, in the system folder.
constexpr char kExpandProgram[] = "expand.exe";
constexpr int kShowHidden = 0;
constexpr std::size_t kMaxCommandLine = 511;

struct UnidriverFile {
  std::string infEntry;
  std::uint8_t diskNumber = 0;
  std::string diskDescription;
};
using UnidriverFiles = std::array<UnidriverFile, 3>;

bool IsPresent(InstallerSystem& sys, const std::string& path) {
  const std::optional<std::uint32_t> attributes = sys.FileAttributes(path);
  return attributes && (*attributes & (kAttrDirectory | kAttrSystem)) == 0;
}

// A disk number is kept in 8 bits, as the setup files' numbering needs no more.
std::uint8_t DiskNumber(std::string_view field) {
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(InfInteger(field)) & 0xFF);
}

// One "key=value" line per key of the section with a value, keys in file order,
// a repeated key (compared without case, as the profile reader does) once.
std::vector<std::string> KeyValueList(InstallerSystem& sys, const std::string& file, const std::string& section) {
  std::vector<std::string> list;
  std::set<std::string> seen;
  for (const std::string& key : sys.ReadProfileKeys(file, section)) {
    if (!seen.insert(UpperAscii(key)).second) continue;
    const std::string value = sys.ReadProfileString(file, section, key);
    if (!value.empty()) list.push_back(key + "=" + value);
  }
  return list;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// The working state of one LocateUnidriverFiles run.
class Locator {
 public:
  Locator(InstallerSystem& sys, std::string windowsDir, std::string systemDir, std::string driverDir)
      : sys_(sys), windowsDir_(std::move(windowsDir)), systemDir_(std::move(systemDir)),
        driverDir_(std::move(driverDir)) {}

  // False when an INF entry is missing.
  bool ReadInf(UnidriverFiles& files) {
    const std::string layout = JoinPath(windowsDir_, "INF\\LAYOUT.INF");
    if (sys_.ReadProfileString(layout, "version", "signature") == kNtSignature) return ReadLayout(layout, files);
    return ReadSetup(files);
  }

  std::int32_t PromptAndExpand(const UnidriverFiles& files);

 private:
  bool ReadLayout(const std::string& layout, UnidriverFiles& files);
  bool ReadSetup(UnidriverFiles& files);
  std::optional<std::string> Prompt(std::size_t index, const UnidriverFile& file);
  bool ExpandToDriverDir(const std::string& source, const std::string& target);

  InstallerSystem& sys_;
  std::string windowsDir_, systemDir_, driverDir_;
};

bool Locator::ReadLayout(const std::string& layout, UnidriverFiles& files) {
  for (std::size_t i = 0; i < files.size(); ++i)
    files[i].infEntry = Clip255(sys_.ReadProfileString(layout, "SourceDisksFiles", kFiles[i].driverName));
  for (const UnidriverFile& f : files)
    if (f.infEntry.empty()) return false;
  const std::vector<std::string> strings = KeyValueList(sys_, layout, "Strings");
  for (UnidriverFile& f : files) {
    f.diskNumber = DiskNumber(NthWord(1, f.infEntry, ","));
    const std::string disk = sys_.ReadProfileString(layout, "SourceDisksNames.x86", std::to_string(f.diskNumber));
    f.diskDescription = ExpandInfToken(strings, NthWord(1, disk, ",\\"));
  }
  return true;
}

bool Locator::ReadSetup(UnidriverFiles& files) {
  const std::vector<std::string> media = KeyValueList(sys_, JoinPath(systemDir_, "SETUP.INF"), "Source Media Descriptions");
  // A PRINTER.INF that cannot be opened reads as empty.
  InfLineReader printerInf(sys_.ReadTextFile(JoinPath(systemDir_, "PRINTER.INF")).value_or(std::string()));
  for (std::size_t i = 0; i < files.size(); ++i)
    files[i].infEntry = Clip255(FindInfLine(printerInf, kFiles[i].searchName, kFiles[i].printerSection));
  for (const UnidriverFile& f : files)
    if (f.infEntry.empty()) return false;
  for (UnidriverFile& f : files) {
    f.diskNumber = DiskNumber(NthWord(2, f.infEntry, "=,"));
    // Disk numbers count the list's lines from 1.
    if (f.diskNumber == 0 || f.diskNumber > media.size()) throw Exception("List index out of bounds");
    f.diskDescription = Clip255(NthWord(2, media[f.diskNumber - 1], ",\""));
  }
  return true;
}

std::optional<std::string> Locator::Prompt(std::size_t index, const UnidriverFile& file) {
  const std::string compressed = kFiles[index].compressedName;
  OpenFileRequest request;
  request.title = "Insert " + file.diskDescription + " and Browse to listed file";
  request.fileName = compressed;
  request.filter = compressed + "|" + compressed + "|All files|*.*";
  std::optional<std::string> chosen = sys_.OpenFile(request);
  // The files after this one are looked for by bare name beside the chosen one;
  // the dialog does not always leave the current directory there.
  if (chosen) sys_.ChangeDirectory(DirectoryOf(*chosen));
  return chosen;
}

bool Locator::ExpandToDriverDir(const std::string& source, const std::string& target) {
  // Quoted, so that folders with blanks in their names work. The expander is
  // named by its full path: a program called expand in the installer's folder
  // or the current one (the disk) would otherwise run first, with the
  // installer's elevation.
  const std::string arguments = Quoted(source) + " " + Quoted(JoinPath(driverDir_, target));
  return RunAndWait(sys_, JoinPath(systemDir_, kExpandProgram), arguments, kShowHidden).has_value();
}

std::int32_t Locator::PromptAndExpand(const UnidriverFiles& files) {
  // The prompts move the current folder to the disk; the driver's own files are
  // installed from the folder the run started in, so it is put back afterwards.
  const std::string startFolder = sys_.CurrentDirectory();
  bool givenUp = false;
  // One prompt per disk change; a file on the same disk as the one before is
  // taken by bare name from the folder of the last chosen file.
  for (std::size_t i = 0; i < files.size() && !givenUp; ++i) {
    std::string source = kFiles[i].compressedName;
    if (i == 0 || files[i].diskNumber != files[i - 1].diskNumber) {
      const std::optional<std::string> chosen = Prompt(i, files[i]);
      if (!chosen) break;
      source = *chosen;
    }
    givenUp = !ExpandToDriverDir(source, kFiles[i].driverName);
  }
  sys_.ChangeDirectory(startFolder);
  return UnidriverFilesPresent(sys_) ? 0 : kErrUnidriverMissing;
}

}  // namespace

bool UnidriverFilesPresent(InstallerSystem& sys) {
  const std::optional<std::string> dir = sys.PrinterDriverDirectory();
  if (!dir) {
    sys.ShowErrorBox("Couldn't determine the Windows NT printer driver directory");
    return false;
  }
  for (const FileSpec& f : kFiles)
    if (!IsPresent(sys, JoinPath(*dir, f.driverName))) return false;
  return true;
}

std::int32_t LocateUnidriverFiles(InstallerSystem& sys) {
  if (UnidriverFilesPresent(sys)) return kFilesWerePresent;
  const std::optional<std::string> systemDir = sys.SystemDirectory();
  if (!systemDir) return kErrSystemDirectory;
  const std::optional<std::string> driverDir = sys.PrinterDriverDirectory();
  if (!driverDir) return kErrDriverDirectory;
  const std::optional<std::string> windowsDir = sys.WindowsDirectory();
  if (!windowsDir) return kErrWindowsDirectory;
  Locator locator(sys, *windowsDir, *systemDir, *driverDir);
  UnidriverFiles files;
  if (!locator.ReadInf(files)) return kErrNoInfEntry;
  return locator.PromptAndExpand(files);
}

std::optional<std::uint32_t> RunAndWait(InstallerSystem& sys, const std::string& program, const std::string& arguments,
                                        int showMode) {
  // A bare or relative name would be looked for in folders others can write to.
  if (!IsFullPath(program)) return std::nullopt;
  const std::string commandLine = Quoted(program) + " " + arguments;
  // A cut command line would run something else: it is not started at all.
  if (commandLine.size() > kMaxCommandLine) return std::nullopt;
  return sys.RunProcess(program, commandLine, showMode);
}

}  // namespace vz::inst
