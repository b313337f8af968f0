// The version block and the manifest of PDINSTALL.EXE and VZNTCTL.EXE, read from
// the built programs the way Explorer and the loader read them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The programs lie in bin\ beside the tests' folder.
std::string ProgramPath(const char* name) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  folder.erase(folder.find_last_of('\\'));
  folder.erase(folder.find_last_of('\\') + 1);
  return folder + "bin\\" + name;
}

class VersionBlock {
 public:
  explicit VersionBlock(const std::string& path) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) return;
    data_.resize(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data_.data())) data_.clear();
  }
  bool Found() const { return !data_.empty(); }

  std::string Text(const std::string& name) {
    void* value = nullptr;
    UINT length = 0;
    const std::string query = "\\StringFileInfo\\040904e4\\" + name;
    if (!VerQueryValueA(data_.data(), query.c_str(), &value, &length) || length == 0) return "<missing>";
    return std::string(static_cast<const char*>(value));
  }
  const VS_FIXEDFILEINFO* Fixed() {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data_.data(), "\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) return nullptr;
    return static_cast<const VS_FIXEDFILEINFO*>(value);
  }
  std::string Translation() {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data_.data(), "\\VarFileInfo\\Translation", &value, &length) || length < 4) return "";
    const WORD* pair = static_cast<const WORD*>(value);
    return std::to_string(pair[0]) + "/" + std::to_string(pair[1]);
  }

 private:
  std::vector<char> data_;
};

std::string Dotted(DWORD high, DWORD low) {
  return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." + std::to_string(HIWORD(low)) +
         "." + std::to_string(LOWORD(low));
}

// The process manifest (RT_MANIFEST 1) as text; "" when the program has none.
std::string Manifest(const std::string& path) {
  const HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return "";
  std::string text;
  if (const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
    const HGLOBAL loaded = LoadResource(module, found);
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    if (bytes != nullptr) text.assign(bytes, SizeofResource(module, found));
  }
  FreeLibrary(module);
  return text;
}

struct Program {
  const char* file;
  const char* description;
  const char* executionLevel;
};

void PrintTo(const Program& program, std::ostream* out) { *out << program.file; }

class ReleaseResources : public ::testing::TestWithParam<Program> {};

TEST_P(ReleaseResources, VersionBlockNamesProductCompanyAndFile) {
  VersionBlock block(ProgramPath(GetParam().file));
  ASSERT_TRUE(block.Found()) << ProgramPath(GetParam().file);
  EXPECT_EQ(block.Text("ProductName"), "VelmorFAX NT Print To Fax");
  EXPECT_EQ(block.Text("CompanyName"), "VelmorFAX");
  EXPECT_EQ(block.Text("FileDescription"), GetParam().description);
  EXPECT_EQ(block.Text("OriginalFilename"), GetParam().file);
  EXPECT_EQ(block.Text("FileVersion"), VZ_PROJECT_VERSION);
  EXPECT_EQ(block.Text("ProductVersion"), VZ_PROJECT_VERSION);
  EXPECT_EQ(block.Translation(), "1033/1252");
  const VS_FIXEDFILEINFO* fixed = block.Fixed();
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS), VZ_PROJECT_VERSION);
  EXPECT_EQ(Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS), VZ_PROJECT_VERSION);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST_P(ReleaseResources, ManifestSetsExecutionLevelAndLeavesScalingToWindows) {
  const std::string manifest = Manifest(ProgramPath(GetParam().file));
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find(std::string("<requestedExecutionLevel level=\"") + GetParam().executionLevel +
                          "\" uiAccess=\"false\"/>"),
            std::string::npos)
      << manifest;
  EXPECT_NE(manifest.find(">false</dpiAware>"), std::string::npos) << manifest;
  EXPECT_NE(manifest.find(">unaware</dpiAwareness>"), std::string::npos) << manifest;
  // No common-controls dependency: the dialogs keep their classic look.
  EXPECT_EQ(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(manifest.find("processorArchitecture=\"amd64\""), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, ReleaseResources,
    ::testing::Values(Program{"PDINSTALL.EXE", "VelmorFAX fax printer installer", "requireAdministrator"},
                      Program{"VZNTCTL.EXE", "VelmorFAX NT print to fax controller", "asInvoker"}),
    [](const ::testing::TestParamInfo<Program>& info) {
      return std::string(info.param.file).substr(0, std::string(info.param.file).find('.'));
    });

}  // namespace
