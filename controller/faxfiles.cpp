#include "controller/faxfiles.hpp"

#include <utility>
#include <vector>

#include "common/text.hpp"
#include "controller/settings.hpp"

namespace vz {
namespace {

constexpr char kFaxPrefix[] = "FAX";
constexpr char kFaxExtension[] = ".APF";
constexpr char kFaxPattern[] = "FAX*.APF";
constexpr char kJobExtension[] = ".JFD";
// Not ".JFD" and a valid 8.3 extension, so that "*.JFD" never matches a descriptor
// that is still being written (a longer extension would, through its short name).
constexpr char kJobTempExtension[] = ".$JF";
constexpr std::size_t kFaxNameLength = 12;  // FAXnnnnn.APF
constexpr std::size_t kDigitsOffset = 3;
constexpr std::size_t kDigits = 5;
// A free number is usually among the first few, and a handful of probes cost
// less than reading a folder.
constexpr int kProbesBeforeListing = 4;
// A name found free and then taken by someone else before it could be created is
// chosen again, a few times at most.
constexpr int kReserveAttempts = 8;
// A name shorter than this ("", "C:", "\\") is a root or nothing: never created.
constexpr std::size_t kShortestCreatedDir = 3;

// The number of a FAXnnnnn.APF name in any letter case, or -1.
int FaxNumberOf(const std::string& name) {
  if (name.size() != kFaxNameLength) return -1;
  const std::string upper = UpperAscii(name);
  if (upper.compare(0, kDigitsOffset, kFaxPrefix) != 0) return -1;
  if (upper.compare(kDigitsOffset + kDigits, std::string::npos, kFaxExtension) != 0) return -1;
  int number = 0;
  for (std::size_t i = kDigitsOffset; i < kDigitsOffset + kDigits; ++i) {
    if (upper[i] < '0' || upper[i] > '9') return -1;
    number = number * 10 + (upper[i] - '0');
  }
  return number;
}

std::string ParentOf(const std::string& dir) {
  const auto cut = dir.find_last_of("\\:");
  return cut == std::string::npos ? std::string() : dir.substr(0, cut + 1);
}

std::string LineValue(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

}  // namespace

std::size_t LongestOutputDir() {
  return kShortStringMax - FaxFileName(std::string(), 0).size();
}

std::string FaxFileName(const std::string& outputDir, int number) {
  return outputDir + "\\" + kFaxPrefix + Format("%5.5d", number) + kFaxExtension;
}

void ForceOutputDir(ControllerEnv& env, const std::string& dir) {
  std::string path = dir;
  if (!path.empty() && path.back() == '\\') path.pop_back();
  if (path.size() < kShortestCreatedDir || env.DirectoryExists(path)) return;
  // A name ending in ':' (or in a second '\') is its own parent: stop there.
  const std::string parent = ParentOf(path);
  if (parent != path) ForceOutputDir(env, parent);
  env.MakeDirectory(path);
}

std::string ProbeFaxFileName(ControllerEnv& env, const std::string& outputDir, int first) {
  int number = first;
  std::string name = FaxFileName(outputDir, number);
  while (env.EntryExists(name) && number < kLastFaxNumber) name = FaxFileName(outputDir, ++number);
  return name;
}

std::string ChooseFaxFileName(ControllerEnv& env, const std::string& outputDir) {
  for (int number = 0; number < kProbesBeforeListing; ++number) {
    std::string name = FaxFileName(outputDir, number);
    if (!env.EntryExists(name)) return name;
  }
  std::vector<std::string> names;
  if (!env.ListEntryNames(outputDir + "\\", kFaxPattern, names))
    return ProbeFaxFileName(env, outputDir, kProbesBeforeListing);
  std::vector<bool> taken(kLastFaxNumber + 1, false);
  for (const std::string& name : names) {
    const int number = FaxNumberOf(name);
    if (number >= 0) taken[static_cast<std::size_t>(number)] = true;
  }
  int number = 0;
  while (number < kLastFaxNumber && taken[static_cast<std::size_t>(number)]) ++number;
  return FaxFileName(outputDir, number);
}

bool ReserveFaxFileName(ControllerEnv& env, const std::string& folder, std::string& name,
                        std::string& reason) {
  std::string dir = folder;
  if (!dir.empty() && dir.back() == '\\') dir.pop_back();
  for (int attempt = 0; attempt < kReserveAttempts; ++attempt) {
    std::string chosen = ChooseFaxFileName(env, dir);
    if (env.CreateNewFile(chosen)) {
      name = std::move(chosen);
      return true;
    }
    reason = env.LastErrorText();
    if (!env.EntryExists(chosen)) return false;
  }
  return false;
}

std::string NextFaxFileName(ControllerEnv& env) {
  const std::string outputDir = ReadOutputDir(env);
  if (!env.DirectoryExists(outputDir)) ForceOutputDir(env, outputDir);
  return ChooseFaxFileName(env, outputDir);
}

std::string GetOutputFileName(ControllerEnv& env) {
  if (!CheckSettings(env)) return kFallbackFaxFileName;
  // The driver is handed at most 255 characters: a longer name would lose its
  // number, and every fax would overwrite the one before.
  const std::size_t dirLength = ReadOutputDir(env).size();
  if (dirLength > LongestOutputDir()) {
    env.ShowInfo(OutputDirTooLongText(dirLength, LongestOutputDir()));
    return kFallbackFaxFileName;
  }
  return NextFaxFileName(env);
}

std::string JobFileName(const std::string& faxFileName) {
  return ChangeFileExt(faxFileName, kJobExtension);
}

std::string JobFileText(const std::string& phone, const std::string& recipient,
                        const std::string& subject) {
  return LineValue(phone) + "\r\n" + LineValue(recipient) + "\r\n" + LineValue(subject) + "\r\n";
}

bool WriteJobFile(ControllerEnv& env, const std::string& jobFileName, const std::string& phone,
                  const std::string& recipient, const std::string& subject, std::string* reason) {
  std::string tempName = ChangeFileExt(jobFileName, kJobTempExtension);
  if (tempName == jobFileName) tempName += '$';
  if (env.WriteWholeFile(tempName, JobFileText(phone, recipient, subject)) &&
      env.RenameReplacing(tempName, jobFileName))
    return true;
  if (reason != nullptr) *reason = env.LastErrorText();
  env.RemoveFile(tempName);
  return false;
}

void DeleteFaxFile(ControllerEnv& env, const std::string& faxFileName) {
  env.RemoveFile(faxFileName);
}

}  // namespace vz
