// PDINSTALL /remove against the recording fake: what it takes off and in which
// order, what it leaves for other printers and other settings, every refusal
// (one box, exit status 1, nothing touched after it), and a round trip with the
// installer.
#include <gtest/gtest.h>

#include "fake_installer_system.hpp"
#include "installer/installer.hpp"

namespace {

using vz::test::FakeInstallerSystem;
using namespace vz::inst;

constexpr char kPrinter[] = "VelmorFAX Printer Driver";
constexpr char kDriver[] = "VelmorFAX APF Printer Driver";
constexpr char kKey[] = "SOFTWARE\\Orvane\\ApFaxCnv\\Settings";

// A machine as a successful install leaves it.
struct Installed : ::testing::Test {
  Installed() {
    sys.spoolPrinters = {{"Local Laser", "HP LaserJet", "LPT1:"}, {kPrinter, kDriver, "PRINTFAX:"}};
    sys.spoolPorts = {{"LPT1:", "Local Port"}, {"PRINTFAX:", "APFMON40"}};
    sys.spoolDrivers = {"HP LaserJet", kDriver};
    sys.spoolMonitors = {"Local Port", "APFMON40"};
    sys.registry[std::string(kKey) + "\\AutoExec"] = "C:\\FAXPROD\\VZNTCTL.EXE";
    sys.writtenProfile = {{"VZOutPath", "C:\\FAXPROD\\SEND\\"}, {"VZExecutable", "C:\\FAXPROD\\VZ.EXE"}};
    sys.AddFile("C:\\WINNT\\VZPD.INI");
    sys.AddFile("C:\\FAXPROD\\PDOK.DAT");
  }
  int Remove() { return RunInstaller(sys, RunMode::kRemove); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const PrinterUse& p : sys.spoolPrinters) names.push_back(p.name);
    return names;
  }
  FakeInstallerSystem sys;
};

const std::vector<std::string> kFullOrder = {
    "close VZNTCTL.EXE TMainForm \"MainForm\"",
    "delete printer VelmorFAX Printer Driver",
    "list printers",
    "delete driver VelmorFAX APF Printer Driver",
    "list ports",
    "delete monitor APFMON40",
    "delete monitor APFMON35",
    "delete value AutoExec",
    "delete profile VZOutPath of VZPD.INI",
    "delete profile VZExecutable of VZPD.INI",
    "keys VZPD.INI [Location]",
    "delete profile [Location] of VZPD.INI",
    "delete file C:\\FAXPROD\\PDOK.DAT",
};

TEST_F(Installed, RemovesEverythingOfTheProductSilently) {
  EXPECT_EQ(Remove(), 0);
  EXPECT_EQ(sys.log, kFullOrder);
  EXPECT_TRUE(sys.errorBoxes.empty());
  EXPECT_TRUE(sys.fatalErrors.empty());
  EXPECT_EQ(Names(), std::vector<std::string>{"Local Laser"});
  EXPECT_EQ(sys.spoolDrivers, std::set<std::string>{"HP LaserJet"});
  EXPECT_EQ(sys.spoolMonitors, std::set<std::string>{"Local Port"});
  EXPECT_TRUE(sys.registry.empty());
  EXPECT_TRUE(sys.writtenProfile.empty());
  EXPECT_FALSE(sys.HasFile("C:\\FAXPROD\\PDOK.DAT"));
}

TEST_F(Installed, ARunningControllerIsClosedFirst) {
  sys.closeOutcome = CloseOutcome::kClosed;
  EXPECT_EQ(Remove(), 0);
  EXPECT_EQ(sys.log, kFullOrder);
}

TEST_F(Installed, SecondRemovalOnACleanSystemPasses) {
  ASSERT_EQ(Remove(), 0);
  sys.log.clear();
  EXPECT_EQ(Remove(), 0);
  EXPECT_TRUE(sys.errorBoxes.empty());
  // A VZPD.INI that is not there is not touched: deleting from it would create it.
  sys.log.clear();
  sys.DropFile("C:\\WINNT\\VZPD.INI");
  EXPECT_EQ(Remove(), 0);
  EXPECT_TRUE(sys.Calls("delete profile").empty());
  EXPECT_TRUE(sys.Calls("keys").empty());
  EXPECT_TRUE(sys.errorBoxes.empty());
}

TEST_F(Installed, OtherLocationKeysKeepTheirSection) {
  sys.otherLocationKeys = {"Extra"};
  EXPECT_EQ(Remove(), 0);
  EXPECT_TRUE(sys.Calls("delete profile [Location]").empty());
  EXPECT_EQ(sys.Calls("delete profile").size(), 2u);
}

TEST_F(Installed, DriverAndMonitorStayWhileAnotherPrinterUsesThem) {
  // A second fax printer on the same driver and a printer on a second port of the monitor.
  sys.spoolPrinters.push_back({"Fax Copy", kDriver, "LPT1:"});
  sys.spoolPrinters.push_back({"Fax Two", "HP LaserJet", "LPT1:, FAX2:"});
  sys.spoolPorts.push_back({"FAX2:", "APFMON40"});
  EXPECT_EQ(Remove(), 0);
  EXPECT_TRUE(sys.errorBoxes.empty());
  EXPECT_EQ(sys.spoolDrivers.count(kDriver), 1u);
  EXPECT_EQ(sys.spoolMonitors.count("APFMON40"), 1u);
  EXPECT_TRUE(sys.Calls("delete driver").empty());
  EXPECT_EQ(sys.Calls("delete monitor"), std::vector<std::string>{"delete monitor APFMON35"});
  EXPECT_EQ(Names(), (std::vector<std::string>{"Local Laser", "Fax Copy", "Fax Two"}));
  // The rest goes all the same.
  EXPECT_TRUE(sys.registry.empty());
  EXPECT_FALSE(sys.HasFile("C:\\FAXPROD\\PDOK.DAT"));
}

TEST_F(Installed, AMonitorOnlyUnusedPortsBelongToGoes) {
  sys.spoolPrinters.push_back({"Plain", "HP LaserJet", "LPT1:"});
  sys.spoolPorts.push_back({"FAX2:", "APFMON40"});
  EXPECT_EQ(Remove(), 0);
  EXPECT_EQ(sys.spoolMonitors.count("APFMON40"), 0u);
}

// One refusal: what the fake is made to refuse, the box it must give, and the
// last call of the full order that may happen.
struct Refusal {
  const char* name;
  std::function<void(FakeInstallerSystem&)> arrange;
  const char* box;
  const char* lastCall;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class RemovalRefusal : public Installed, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RemovalRefusal, OneBoxExitOneAndNothingAfter) {
  GetParam().arrange(sys);
  EXPECT_EQ(Remove(), 1);
  EXPECT_EQ(sys.errorBoxes, std::vector<std::string>{GetParam().box});
  EXPECT_TRUE(sys.fatalErrors.empty());
  // The calls up to the refused one, in order, and then the box.
  std::vector<std::string> expected;
  for (const std::string& call : kFullOrder) {
    expected.push_back(call);
    if (call == GetParam().lastCall) break;
  }
  expected.push_back(std::string("error ") + GetParam().box);
  EXPECT_EQ(sys.log, expected);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, RemovalRefusal,
    ::testing::Values(
        Refusal{"ControllerStaysRunning", [](FakeInstallerSystem& s) { s.closeOutcome = CloseOutcome::kStillRunning; },
                "Could not remove the fax printer while VZNTCTL.EXE is running.\rIt was asked to close but did not "
                "end. Nothing was removed.",
                "close VZNTCTL.EXE TMainForm \"MainForm\""},
        Refusal{"PrinterAccessDenied",
                [](FakeInstallerSystem& s) { s.deleteErrors["printer VelmorFAX Printer Driver"] = 5; },
                "Could not remove the printer \"VelmorFAX Printer Driver\".\rSystem text 5. (error 5)",
                "delete printer VelmorFAX Printer Driver"},
        Refusal{"PrinterListUnreadable", [](FakeInstallerSystem& s) { s.listPrintersError = 1722; },
                "Could not remove the printer driver \"VelmorFAX APF Printer Driver\": the list of printers could "
                "not be read.\rSystem text 1722. (error 1722)",
                "list printers"},
        Refusal{"DriverInUse",
                [](FakeInstallerSystem& s) { s.deleteErrors["driver VelmorFAX APF Printer Driver"] = 3001; },
                "Could not remove the printer driver \"VelmorFAX APF Printer Driver\".\rSystem text 3001. (error 3001)",
                "delete driver VelmorFAX APF Printer Driver"},
        Refusal{"PortListUnreadable", [](FakeInstallerSystem& s) { s.listPortsError = 1722; },
                "Could not remove the port monitor: the list of ports could not be read.\rSystem text 1722. (error "
                "1722)",
                "list ports"},
        Refusal{"MonitorRefused", [](FakeInstallerSystem& s) { s.deleteErrors["monitor APFMON40"] = 3006; },
                "Could not remove the port monitor \"APFMON40\".\rSystem text 3006. (error 3006)",
                "delete monitor APFMON40"},
        Refusal{"OldMonitorRefused", [](FakeInstallerSystem& s) { s.deleteErrors["monitor APFMON35"] = 5; },
                "Could not remove the port monitor \"APFMON35\".\rSystem text 5. (error 5)",
                "delete monitor APFMON35"},
        Refusal{"AutoExecAccessDenied", [](FakeInstallerSystem& s) { s.deleteErrors["value AutoExec"] = 5; },
                "Could not remove the registry value AutoExec of "
                "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\ApFaxCnv\\Settings.\rSystem text 5. (error 5)",
                "delete value AutoExec"},
        Refusal{"OutPathReadOnly", [](FakeInstallerSystem& s) { s.deleteErrors["profile VZOutPath"] = 5; },
                "Could not remove the key VZOutPath of [Location] in VZPD.INI.\rSystem text 5. (error 5)",
                "delete profile VZOutPath of VZPD.INI"},
        Refusal{"ExecutableReadOnly", [](FakeInstallerSystem& s) { s.deleteErrors["profile VZExecutable"] = 5; },
                "Could not remove the key VZExecutable of [Location] in VZPD.INI.\rSystem text 5. (error 5)",
                "delete profile VZExecutable of VZPD.INI"},
        Refusal{"SectionReadOnly", [](FakeInstallerSystem& s) { s.deleteErrors["profile [Location]"] = 5; },
                "Could not remove the empty section [Location] of VZPD.INI.\rSystem text 5. (error 5)",
                "delete profile [Location] of VZPD.INI"},
        Refusal{"MarkerInUse", [](FakeInstallerSystem& s) { s.deleteErrors["file C:\\FAXPROD\\PDOK.DAT"] = 32; },
                "Could not remove C:\\FAXPROD\\PDOK.DAT.\rSystem text 32. (error 32)",
                "delete file C:\\FAXPROD\\PDOK.DAT"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST(RemovalRoundTrip, InstallRemoveInstallAgain) {
  FakeInstallerSystem sys;
  sys.AddUnidriverFiles();
  ASSERT_EQ(RunInstaller(sys), 0);
  ASSERT_EQ(sys.spoolPrinters.size(), 1u);
  ASSERT_EQ(RunInstaller(sys, RunMode::kRemove), 0);
  EXPECT_TRUE(sys.spoolPrinters.empty());
  EXPECT_TRUE(sys.spoolDrivers.empty());
  EXPECT_TRUE(sys.spoolMonitors.empty());
  EXPECT_TRUE(sys.registry.empty());
  EXPECT_TRUE(sys.writtenProfile.empty());
  EXPECT_FALSE(sys.HasFile("C:\\FAXPROD\\PDOK.DAT"));
  ASSERT_EQ(RunInstaller(sys), 0);
  EXPECT_EQ(sys.spoolPrinters.size(), 1u);
  EXPECT_EQ(sys.registry.size(), 1u);
  EXPECT_TRUE(sys.HasFile("C:\\FAXPROD\\PDOK.DAT"));
  EXPECT_TRUE(sys.errorBoxes.empty());
}

TEST(RemovalOption, OnlyTheWholeWordInAnyCase) {
  for (const char* line : {"/remove", "/REMOVE", "  /Remove  ", "x /remove", "/remove\tx"})
    EXPECT_TRUE(AsksForRemoval(line)) << line;
  for (const char* line : {"", "   ", "/removed", "remove", "-remove", "/re move", "x/remove"})
    EXPECT_FALSE(AsksForRemoval(line)) << line;
}

}  // namespace
