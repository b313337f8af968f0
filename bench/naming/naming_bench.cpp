// Choosing the next fax file name in a real folder: one folder listing against
// probing name after name, measured side by side with 0 to 99,999 images present.
// Usage: naming_bench FOLDER COUNT, where FOLDER holds exactly FAX00000.APF up to
// COUNT-1 (run.sh fills it from the Linux side: creating files one by one under
// Wine costs a case-blind scan of the folder each), or naming_bench --header.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <string>

#include "common/text.hpp"
#include "controller/faxfiles.hpp"
#include "controller/settings.hpp"
#include "controller/win32_controller_env.hpp"

namespace {

// The real Win32 calls, with VZOutPath pointing at the bench folder so that
// VZPD.INI is neither needed nor touched.
class BenchEnv : public vz::Win32ControllerEnv {
 public:
  explicit BenchEnv(std::string folder) : folder_(std::move(folder)) {}
  std::string ReadProfileString(const std::string& section, const std::string& key) override {
    if (section == vz::kSettingsSection && key == vz::kOutputDirKey) return folder_;
    return vz::Win32ControllerEnv::ReadProfileString(section, key);
  }

 private:
  std::string folder_;
};

double Now() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / frequency;
}

// Seconds per call: the best of five batches, each long enough to be measured.
double TimePerCall(const std::function<std::string()>& call, std::string& result) {
  double start = Now();
  result = call();
  const double once = std::max(Now() - start, 1e-7);
  const int reps = static_cast<int>(std::clamp(0.05 / once, 1.0, 20000.0));
  double best = 1e30;
  for (int batch = 0; batch < 5; ++batch) {
    start = Now();
    for (int i = 0; i < reps; ++i) result = call();
    best = std::min(best, (Now() - start) / reps);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--header") {
    std::printf("%8s %14s %14s %10s\n", "files", "listing us", "probing us", "speed-up");
    return 0;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: naming_bench --header | naming_bench FOLDER COUNT\n");
    return 2;
  }
  const std::string folder = argv[1];
  const int count = std::atoi(argv[2]);
  BenchEnv env(folder);
  const auto listing = [&env] { return vz::NextFaxFileName(env); };
  const auto probing = [&env] {
    const std::string dir = vz::ReadOutputDir(env);
    if (!env.DirectoryExists(dir)) vz::ForceOutputDir(env, dir);
    return vz::ProbeFaxFileName(env, dir);
  };
  // Alternating which goes first keeps a warm cache from favouring either side.
  std::string byListing;
  std::string byProbing;
  double listingTime = TimePerCall(listing, byListing);
  double probingTime = TimePerCall(probing, byProbing);
  probingTime = std::min(probingTime, TimePerCall(probing, byProbing));
  listingTime = std::min(listingTime, TimePerCall(listing, byListing));
  const std::string expected = vz::FaxFileName(folder, std::min(count, vz::kLastFaxNumber));
  std::printf("%8d %14.1f %14.1f %9.2fx\n", count, listingTime * 1e6, probingTime * 1e6,
              probingTime / listingTime);
  if (byListing != expected || byProbing != expected) {
    std::fprintf(stderr, "expected %s, listing gave %s, probing %s\n", expected.c_str(),
                 byListing.c_str(), byProbing.c_str());
    return 1;
  }
  return 0;
}
