#pragma once
// The installer's operating-system calls on Win32 (ANSI functions), with the
// toolkit's boxes and the TRASDDWarning dialog.
#include "installer/installer_system.hpp"

namespace vz::inst {

class Win32InstallerSystem : public InstallerSystem {
 public:
  std::string ModulePath() override;
  std::optional<OsVersion> Version() override;
  std::optional<std::string> PrinterDriverDirectory() override;
  std::optional<std::string> SystemDirectory() override;
  std::optional<std::string> WindowsDirectory() override;
  std::optional<std::uint32_t> FileAttributes(const std::string& path) override;
  std::string CurrentDirectory() override;
  bool ChangeDirectory(const std::string& path) override;
  std::string ReadProfileString(const std::string& file, const std::string& section, const std::string& key) override;
  std::vector<std::string> ReadProfileKeys(const std::string& file, const std::string& section) override;
  bool WriteProfileValue(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& value) override;
  std::optional<std::string> ReadTextFile(const std::string& path) override;
  bool WriteWholeFile(const std::string& path, const std::string& bytes) override;
  std::uint32_t SpoolerAddDriver(const DriverInfo2& info) override;
  std::uint32_t SpoolerAddMonitor(const MonitorInfo2& info) override;
  std::uint32_t SpoolerAddPrinter(const PrinterInfo2& info) override;
  std::uint32_t SpoolerPrinters(std::vector<PrinterUse>& printers) override;
  std::uint32_t SpoolerPorts(std::vector<PortOwner>& ports) override;
  std::uint32_t SpoolerDeletePrinter(const std::string& name) override;
  std::uint32_t SpoolerDeleteDriver(const std::string& name) override;
  std::uint32_t SpoolerDeleteMonitor(const std::string& environment, const std::string& name) override;
  std::uint32_t InstallVersionedFile(const std::string& fileName, const std::string& sourceDir,
                               const std::string& destDir) override;
  std::unique_ptr<LoadedLibrary> OpenLibrary(const std::string& path, std::uint32_t& error) override;
  bool CreateInformationContext(const std::string& driver, const std::string& device,
                                const std::string& output) override;
  bool SetLocalMachineString(const std::string& keyPath, const std::string& valueName,
                             const std::string& data) override;
  std::uint32_t DeleteLocalMachineValue(const std::string& keyPath, const std::string& valueName) override;
  std::uint32_t DeleteProfileEntry(const std::string& file, const std::string& section,
                                   const std::string& key) override;
  std::uint32_t RemoveFile(const std::string& path) override;
  std::string ErrorText(std::uint32_t error) override;
  CloseOutcome CloseProgram(const std::string& fileName, const std::string& windowClass,
                            const std::string& title) override;
  std::optional<std::uint32_t> RunProcess(const std::string& program, const std::string& commandLine,
                                          int showMode) override;
  std::optional<std::string> OpenFile(const OpenFileRequest& request) override;
  void ShowErrorBox(const std::string& text) override;
  void ShowRasddWarning() override;
  void ShowFatalError(const std::string& message) override;
};

}  // namespace vz::inst
