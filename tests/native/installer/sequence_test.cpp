// The main sequence, the spooler registration and the configuration outputs,
// run against the recording fake.
#include <gtest/gtest.h>

#include "fake_installer_system.hpp"
#include "installer/installer.hpp"

namespace {

using vz::test::FakeInstallerSystem;
using namespace vz::inst;

constexpr char kDriverDir[] = "C:\\WINNT\\system32\\spool\\drivers\\w32x86";
constexpr char kDirBox[] = "Couldn't determine the Windows NT printer driver directory";

// A machine with the raster-driver files in place.
struct InstalledNt : ::testing::Test {
  InstalledNt() { sys.AddUnidriverFiles(); }
  int Run() { return RunInstaller(sys); }
  bool NothingWritten() const {
    return sys.writtenProfile.empty() && sys.registry.empty() && sys.writtenFiles.empty();
  }
  FakeInstallerSystem sys;
};

TEST(InstallErrorTest, EveryCodeHasItsMessage) {
  const std::pair<std::int32_t, const char*> table[] = {
      {-8101, "Couldn't determine Windows NT printer driver directory"},
      {-8100, "A required printer driver file was not found"},
      {-8099, "Printer driver file contains bad or missing string resources"},
      {-8098, "Could not install APFGEN.DRV as a Windows printer"},
      {-8097, "Unable to copy printer driver to Windows system directory"},
      {-8096, "This printer driver is not compatible with Windows NT"},
      {-8095, "Unidriver files not installed.  The print driver\rmay not be configured properly."},
      {-8094, "Cannot locate unidriver files in\rWindows Setup (INF) file."},
      {-8093, "   -- Unknown Windows Layout --\rUnable to locate  required  support\rfiles"},
      {-8092, "Couldn't determine Windows directory"},
      {-8091, "Couldn't determine Windows\\System directory"},
  };
  for (const auto& [code, message] : table) EXPECT_EQ(InstallErrorMessage(code), message) << code;
  EXPECT_EQ(InstallErrorMessage(-8102), "Unknown installation error : -8102");
  EXPECT_EQ(InstallErrorMessage(5), "Unknown installation error : 5");
}

// Every failure code the run can end in: its box, then exit status 1 (a script
// that deploys the installer must not take it for a success), and nothing written.
struct FailureCase {
  const char* name;
  void (*arrange)(FakeInstallerSystem&);
  const char* box;
};

const FailureCase kFailureCases[] = {
    {"NotNt", [](FakeInstallerSystem& s) { s.version = OsVersion{1, 4, 10}; },
     "This printer driver is not compatible with Windows NT"},
    {"FileNotFound", [](FakeInstallerSystem& s) { s.sourceFiles.erase("APFMON40.DLL"); },
     "A required printer driver file was not found"},
    {"CantCopy", [](FakeInstallerSystem& s) { s.verResults["APFPDENT.DLL"] = 0x40; },
     "Unable to copy printer driver to Windows system directory"},
    {"NoInfEntry", [](FakeInstallerSystem& s) { s.DropFile(*s.driverDir + "\\Rasdd.dll"); },
     "Cannot locate unidriver files in\rWindows Setup (INF) file."},
    {"UnidriverMissing",
     [](FakeInstallerSystem& s) {
       s.DropFile(*s.driverDir + "\\Rasddui.hlp");
       s.SetInf("C:\\WINNT\\INF\\LAYOUT.INF",
                "[Version]\r\nsignature=$Windows NT$\r\n[SourceDisksNames.x86]\r\n1=CD\r\n"
                "[SourceDisksFiles]\r\nRasdd.dll=1\r\nRasddui.hlp=1\r\nRasddui.dll=1\r\n");
     },
     "Unidriver files not installed.  The print driver\rmay not be configured properly."},
    {"SystemDirectory",
     [](FakeInstallerSystem& s) {
       s.DropFile(*s.driverDir + "\\Rasdd.dll");
       s.systemDir.reset();
     },
     "Couldn't determine Windows\\System directory"},
    {"WindowsDirectory",
     [](FakeInstallerSystem& s) {
       s.DropFile(*s.driverDir + "\\Rasdd.dll");
       s.windowsDir.reset();
     },
     "Couldn't determine Windows directory"},
    {"DriverDirectory", [](FakeInstallerSystem& s) { s.driverDir.reset(); },
     "Couldn't determine Windows NT printer driver directory"},
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class FailureExit : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureExit, BoxThenExitStatusOneAndNothingWritten) {
  FakeInstallerSystem sys;
  sys.AddUnidriverFiles();
  GetParam().arrange(sys);
  EXPECT_EQ(RunInstaller(sys), 1);
  ASSERT_FALSE(sys.errorBoxes.empty());
  EXPECT_EQ(sys.errorBoxes.back(), GetParam().box);
  EXPECT_EQ(sys.log.back(), std::string("error ") + GetParam().box) << "the box is the last thing the run does";
  EXPECT_TRUE(sys.fatalErrors.empty());
  EXPECT_TRUE(sys.writtenProfile.empty() && sys.registry.empty() && sys.writtenFiles.empty());
}

INSTANTIATE_TEST_SUITE_P(EveryCode, FailureExit, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstalledNt, FilesPresentRegistersEverythingAndWritesSilently) {
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(sys.warnings, 0);
  EXPECT_TRUE(sys.prompts.empty());
  EXPECT_TRUE(sys.errorBoxes.empty());
  EXPECT_TRUE(sys.fatalErrors.empty());
  const std::vector<std::string> order = {
      std::string("install APFPDENT.DLL from '' to ") + kDriverDir,
      "AddPrinterDriver",
      "install APFMON40.DLL from '' to C:\\WINNT\\system32",
      "install APFAXCNV.DLL from '' to C:\\WINNT\\system32",
      "AddMonitor",
      "AddPrinter",
      std::string("load ") + kDriverDir + "\\APFPDENT.DLL",
      "ic WINSPOOL,VelmorFAX Printer Driver,PRINTFAX:",
      std::string("free ") + kDriverDir + "\\APFPDENT.DLL",
      "profile VZPD.INI [Location] VZOutPath",
      "profile VZPD.INI [Location] VZExecutable",
      "registry SOFTWARE\\Orvane\\ApFaxCnv\\Settings AutoExec",
      "file C:\\FAXPROD\\PDOK.DAT",
  };
  EXPECT_EQ(sys.log, order);
  EXPECT_EQ(sys.writtenProfile["VZOutPath"], "C:\\FAXPROD\\SEND\\");
  EXPECT_EQ(sys.writtenProfile["VZExecutable"], "C:\\FAXPROD\\VZ.EXE");
  EXPECT_EQ(sys.registry["SOFTWARE\\Orvane\\ApFaxCnv\\Settings\\AutoExec"], "C:\\FAXPROD\\VZNTCTL.EXE");
  EXPECT_EQ(sys.writtenFiles["C:\\FAXPROD\\PDOK.DAT"], "ok\r\n");
}

TEST_F(InstalledNt, RecordsCarryTheFixedValues) {
  Run();
  ASSERT_EQ(sys.drivers.size(), 1u);
  const DriverInfo2& d = sys.drivers[0];
  EXPECT_EQ(d.version, 0x400u);
  EXPECT_EQ(d.name, "VelmorFAX APF Printer Driver");
  EXPECT_FALSE(d.environment.has_value());
  EXPECT_EQ(d.driverPath, std::string(kDriverDir) + "\\RASDD.DLL");
  EXPECT_EQ(d.dataFile, std::string(kDriverDir) + "\\APFPDENT.DLL");
  EXPECT_EQ(d.configFile, std::string(kDriverDir) + "\\RASDDUI.DLL");
  ASSERT_EQ(sys.monitors.size(), 1u);
  EXPECT_EQ(sys.monitors[0].name, "APFMON40");
  EXPECT_EQ(sys.monitors[0].environment, "Windows NT x86");
  EXPECT_EQ(sys.monitors[0].dllName, "APFMON40.DLL");
  ASSERT_EQ(sys.printers.size(), 1u);
  const PrinterInfo2& p = sys.printers[0];
  EXPECT_EQ(p.serverName, std::optional<std::string>(""));
  EXPECT_EQ(p.printerName, "VelmorFAX Printer Driver");
  EXPECT_FALSE(p.shareName.has_value());
  EXPECT_EQ(p.portName, "PRINTFAX:");
  EXPECT_EQ(p.driverName, "VelmorFAX APF Printer Driver");
  EXPECT_EQ(p.comment, std::optional<std::string>(""));
  EXPECT_FALSE(p.location.has_value() || p.sepFile.has_value() || p.parameters.has_value());
  EXPECT_FALSE(p.hasDevMode || p.hasSecurityDescriptor);
  EXPECT_EQ(p.printProcessor, "WinPrint");
  EXPECT_EQ(p.datatype, "RAW");
  EXPECT_EQ(p.attributes | p.priority | p.defaultPriority | p.startTime | p.untilTime | p.status | p.jobs |
                p.averagePpm,
            0u);
}

TEST_F(InstalledNt, InstallerDirKeepsASingleBackslash) {
  sys.modulePath = "D:\\PDINSTALL.EXE";
  Run();
  EXPECT_EQ(sys.writtenProfile["VZOutPath"], "D:\\SEND\\");
  EXPECT_EQ(sys.writtenFiles.count("D:\\PDOK.DAT"), 1u);
  sys.modulePath = "E:PDINSTALL.EXE";
  Run();
  EXPECT_EQ(sys.writtenProfile["VZExecutable"], "E:\\VZ.EXE");
}

TEST_F(InstalledNt, UnreadableDataFileIsNotFoundAndNothingIsWritten) {
  sys.sourceFiles.erase("APFPDENT.DLL");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(sys.errorBoxes, std::vector<std::string>{"A required printer driver file was not found"});
  EXPECT_TRUE(sys.Calls("Add").empty());
  EXPECT_TRUE(sys.Calls("load").empty());
  EXPECT_TRUE(NothingWritten());
}

TEST_F(InstalledNt, RefusedCopyIsCantCopy) {
  sys.verResults["APFAXCNV.DLL"] = 0x800;  // cannot create the target
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(sys.errorBoxes, std::vector<std::string>{"Unable to copy printer driver to Windows system directory"});
  // The driver was registered before; the printer and the check are not reached.
  EXPECT_EQ(sys.Calls("Add"), std::vector<std::string>{"AddPrinterDriver"});
  EXPECT_TRUE(NothingWritten());
}

TEST_F(InstalledNt, OlderSourceAndFileInUseKeepTheFileThere) {
  for (std::uint32_t result : {0x7u, 0x4u, 0x80u, 0x81u}) {
    FakeInstallerSystem fresh;
    fresh.AddUnidriverFiles();
    fresh.verResults["APFPDENT.DLL"] = result;
    fresh.verResults["APFMON40.DLL"] = result;
    EXPECT_EQ(RunInstaller(fresh), 0);
    EXPECT_TRUE(fresh.errorBoxes.empty()) << result;
    EXPECT_EQ(fresh.printers.size(), 1u) << result;
    EXPECT_EQ(fresh.writtenFiles.size(), 1u) << result;
  }
  // Cannot-read-source wins over any other refusal bit.
  sys.verResults["APFPDENT.DLL"] = 0x10000 | 0x2;
  Run();
  EXPECT_EQ(sys.errorBoxes, std::vector<std::string>{"A required printer driver file was not found"});
}

TEST_F(InstalledNt, AlreadyRegisteredDriverAndPrinterPassThrough) {
  sys.driverError = 1795;
  sys.printerError = 1802;
  sys.monitorError = 3006;
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(sys.errorBoxes.empty());
  EXPECT_TRUE(sys.fatalErrors.empty());
  EXPECT_EQ(sys.writtenFiles.size(), 1u);
}

TEST_F(InstalledNt, OtherDriverRefusalStopsTheRun) {
  sys.driverError = 5;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(sys.fatalErrors, std::vector<std::string>{"Failed to add printer driver. Reason: 5"});
  EXPECT_TRUE(sys.monitors.empty());
  EXPECT_TRUE(sys.printers.empty());
  EXPECT_TRUE(NothingWritten());
  EXPECT_TRUE(sys.errorBoxes.empty());
}

TEST_F(InstalledNt, OtherPrinterRefusalStopsTheRun) {
  sys.printerError = 1801;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(sys.fatalErrors, std::vector<std::string>{"Failed to add printer. Reason: 1801"});
  EXPECT_TRUE(sys.Calls("load").empty());
  EXPECT_TRUE(NothingWritten());
}

TEST_F(InstalledNt, DataFileThatDoesNotLoadStopsTheRun) {
  sys.loadError = 126;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(sys.fatalErrors, std::vector<std::string>{"Unable to load driver DLL. Reason:126"});
  EXPECT_TRUE(sys.Calls("ic").empty());
  EXPECT_TRUE(NothingWritten());
}

TEST_F(InstalledNt, FailedPrinterCheckChangesNothing) {
  sys.icResult = false;
  Installer installer(sys);
  EXPECT_FALSE(installer.InstallFaxPrinter(""));
  EXPECT_EQ(installer.InstallError(), 0);
  EXPECT_EQ(sys.Calls("free").size(), 1u);
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(sys.errorBoxes.empty());
  EXPECT_EQ(sys.writtenFiles.count("C:\\FAXPROD\\PDOK.DAT"), 1u);
}

TEST_F(InstalledNt, InstallStepUsesTheGivenSourceDirectory) {
  Installer installer(sys);
  EXPECT_TRUE(installer.InstallFaxPrinter("A:\\DRIVER"));
  EXPECT_EQ(installer.Settings().sourceDirectory, "A:\\DRIVER");
  EXPECT_EQ(sys.Calls("install APFPDENT.DLL")[0], std::string("install APFPDENT.DLL from 'A:\\DRIVER' to ") + kDriverDir);
  EXPECT_EQ(installer.Settings().portName, "PRINTFAX:");
  EXPECT_EQ(installer.Settings().printProcessor, "WinPrint");
  EXPECT_EQ(installer.Settings().datatype, "RAW");
}

struct MonitorCase {
  std::uint32_t major, minor;
  const char* monitor;
};

TEST(InstallerMonitorTest, VersionChoosesTheMonitor) {
  const MonitorCase cases[] = {{3, 50, "APFMON35"}, {3, 51, "APFMON35"}, {3, 10, "APFMON35"},
                               {3, 52, "APFMON40"}, {4, 0, "APFMON40"},  {5, 1, "APFMON40"}};
  for (const MonitorCase& c : cases) {
    FakeInstallerSystem sys;
    sys.AddUnidriverFiles();
    sys.version = OsVersion{kPlatformWindowsNt, c.major, c.minor};
    EXPECT_EQ(RunInstaller(sys), 0);
    ASSERT_EQ(sys.monitors.size(), 1u);
    EXPECT_EQ(sys.monitors[0].name, c.monitor);
    EXPECT_EQ(sys.monitors[0].dllName, std::string(c.monitor) + ".DLL");
    EXPECT_EQ(sys.Calls("install APFMON")[0], "install " + std::string(c.monitor) + ".DLL from '' to C:\\WINNT\\system32");
  }
}

TEST(InstallerMonitorTest, MonitorFilesPresentAreNotInstalledAgain) {
  FakeInstallerSystem sys;
  sys.AddUnidriverFiles();
  sys.AddMonitorFiles("APFMON40.DLL");
  RunInstaller(sys);
  EXPECT_TRUE(sys.Calls("install APFMON").empty());
  EXPECT_TRUE(sys.Calls("install APFAXCNV").empty());
  ASSERT_EQ(sys.monitors.size(), 1u);
  EXPECT_EQ(sys.monitors[0].name, "APFMON40");
}

TEST(InstallerMonitorTest, ConverterWithoutMonitorInstallsBothMonitorFirst) {
  FakeInstallerSystem sys;
  sys.AddUnidriverFiles();
  sys.AddMonitorFiles("APFMON35.DLL");  // the wrong version's monitor
  RunInstaller(sys);
  const std::vector<std::string> installs = sys.Calls("install APF");
  ASSERT_EQ(installs.size(), 3u);
  EXPECT_EQ(installs[1], "install APFMON40.DLL from '' to C:\\WINNT\\system32");
  EXPECT_EQ(installs[2], "install APFAXCNV.DLL from '' to C:\\WINNT\\system32");
}

TEST(InstallerPlatformTest, OtherPlatformsAreRefusedWithoutWriting) {
  FakeInstallerSystem sys;
  sys.AddUnidriverFiles();
  sys.version = OsVersion{1, 4, 10};
  EXPECT_EQ(RunInstaller(sys), 1);
  EXPECT_EQ(sys.log, std::vector<std::string>{"error This printer driver is not compatible with Windows NT"});
}

TEST_F(InstalledNt, RefusedSettingsWriteStopsAtTheFirstKey) {
  sys.failingProfileKeys = {"VZOutPath"};
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(sys.fatalErrors, std::vector<std::string>{"Unable to write to VZPD.INI"});
  EXPECT_EQ(sys.Calls("profile").size(), 1u);
  EXPECT_TRUE(sys.registry.empty());
  EXPECT_TRUE(sys.writtenFiles.empty());
}

TEST_F(InstalledNt, RefusedSecondKeyKeepsTheFirst) {
  sys.failingProfileKeys = {"VZExecutable"};
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(sys.fatalErrors, std::vector<std::string>{"Unable to write to VZPD.INI"});
  EXPECT_EQ(sys.writtenProfile.size(), 1u);
  EXPECT_TRUE(sys.registry.empty());
}

TEST_F(InstalledNt, RefusedRegistryWriteKeepsTheSettingsAndWritesNoMarker) {
  sys.registryFails = true;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(sys.fatalErrors, std::vector<std::string>{"Failed to set data for 'AutoExec'"});
  EXPECT_EQ(sys.writtenProfile.size(), 2u);
  EXPECT_TRUE(sys.Calls("file").empty());
}

TEST_F(InstalledNt, RefusedMarkerIsReportedWithItsPath) {
  sys.markerFails = true;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(sys.fatalErrors, std::vector<std::string>{"Cannot create file C:\\FAXPROD\\PDOK.DAT"});
  EXPECT_EQ(sys.registry.size(), 1u);
}

TEST(InstallerDirectoryTest, UnknownDriverDirectoryIsReportedTwiceThenByCode) {
  FakeInstallerSystem sys;
  sys.driverDir.reset();
  EXPECT_EQ(RunInstaller(sys), 1);
  const std::vector<std::string> expected = {
      std::string("error ") + kDirBox, "warning", std::string("error ") + kDirBox,
      "error Couldn't determine Windows NT printer driver directory"};
  EXPECT_EQ(sys.log, expected);
}

TEST(InstallerDirectoryTest, SystemAndWindowsDirectoryFailuresHaveTheirCodes) {
  FakeInstallerSystem noSystem;
  noSystem.systemDir.reset();
  EXPECT_EQ(RunInstaller(noSystem), 1);
  EXPECT_EQ(noSystem.errorBoxes, std::vector<std::string>{"Couldn't determine Windows\\System directory"});
  FakeInstallerSystem noWindows;
  noWindows.windowsDir.reset();
  EXPECT_EQ(RunInstaller(noWindows), 1);
  EXPECT_EQ(noWindows.errorBoxes, std::vector<std::string>{"Couldn't determine Windows directory"});
  EXPECT_TRUE(noWindows.writtenFiles.empty());
}

}  // namespace
