#include "installer/win32_installer_system.hpp"

#include <windows.h>
#include <commdlg.h>
#include <winspool.h>
#include <winver.h>

#include <array>

#include "common/text.hpp"
#include "installer/pdwarn.hpp"
#include "platform/files.hpp"
#include "platform/handles.hpp"
#include "toolkit/application.hpp"
#include "toolkit/dialogs.hpp"

namespace vz::inst {
namespace {

constexpr DWORD kDirectoryBuffer = 256;
constexpr DWORD kProfileValueBuffer = 1024;
constexpr DWORD kProfileKeysBuffer = 8192;
constexpr UINT kTempNameBuffer = 260;
constexpr DWORD kOpenFileBuffer = 260;
// Setup files are small; anything larger is not one.
constexpr LONGLONG kMaxTextFile = 16 * 1024 * 1024;

// The record text fields the installer fills are buffers of 255 characters.
class TextField {
 public:
  explicit TextField(const OptText& text) : present_(text.has_value()) {
    if (present_) {
      const std::string clipped = Clip255(*text);
      std::copy(clipped.begin(), clipped.end(), buffer_.begin());
    }
  }
  LPSTR Get() { return present_ ? buffer_.data() : nullptr; }

 private:
  bool present_;
  std::array<char, kShortStringMax + 1> buffer_{};
};

std::uint32_t LastErrorUnless(bool ok) { return ok ? 0 : ::GetLastError(); }

// A directory query that fills `buffer`; nullopt when it failed or did not fit.
template <typename Query>
std::optional<std::string> DirectoryQuery(Query query) {
  char buffer[kDirectoryBuffer] = {};
  const DWORD length = query(buffer, kDirectoryBuffer);
  if (length == 0 || length >= kDirectoryBuffer) return std::nullopt;
  return std::string(buffer, length);
}

std::string CurrentFolder() {
  char buffer[MAX_PATH + 1] = {};
  const DWORD length = ::GetCurrentDirectoryA(sizeof(buffer), buffer);
  return length > 0 && length < sizeof(buffer) ? std::string(buffer, length) : std::string();
}

class Win32Library : public LoadedLibrary {
 public:
  explicit Win32Library(HMODULE module) : module_(module) {}
  ~Win32Library() override { ::FreeLibrary(module_); }

 private:
  HMODULE module_;
};

struct DcTraits {
  using Type = HDC;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::DeleteDC(h); }
};

struct PrinterTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::ClosePrinter(h); }
};

// A two-call spooler enumeration into `buffer`: 0 or the system error; `count` records.
template <typename Enum>
std::uint32_t EnumerateSpooler(Enum call, std::vector<BYTE>& buffer, DWORD& count) {
  DWORD needed = 0;
  count = 0;
  if (call(nullptr, 0, &needed, &count)) return 0;  // nothing to list
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return ::GetLastError();
  buffer.assign(needed, 0);
  return LastErrorUnless(call(buffer.data(), needed, &needed, &count) != FALSE);
}

std::string TextOf(const char* s) { return s != nullptr ? s : ""; }

// How long a closed controller is given to end.
constexpr DWORD kCloseWaitMs = 15000;

// The running program's file name, without its folder; "" when it cannot be read.
std::string ProcessFileName(HANDLE process) {
  char path[MAX_PATH + 1] = {};
  DWORD length = MAX_PATH;
  if (!::QueryFullProcessImageNameA(process, 0, path, &length)) return "";
  const std::string full(path, length);
  return full.substr(full.find_last_of("\\/:") + 1);
}

struct CloseSearch {
  std::string fileName, windowClass, title;
  std::vector<win::Handle> processes;
};

BOOL CALLBACK CloseMatchingWindow(HWND window, LPARAM param) {
  auto& search = *reinterpret_cast<CloseSearch*>(param);
  char text[256] = {};
  if (::GetClassNameA(window, text, sizeof(text)) == 0 || search.windowClass != text) return TRUE;
  ::GetWindowTextA(window, text, sizeof(text));
  if (search.title != text) return TRUE;
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  win::Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
  if (!process || UpperAscii(ProcessFileName(process.Get())) != UpperAscii(search.fileName)) return TRUE;
  // What the controller's own "Close" does: the main form closes and the program ends.
  ::PostMessageA(window, WM_CLOSE, 0, 0);
  search.processes.push_back(std::move(process));
  return TRUE;
}

}  // namespace

std::string Win32InstallerSystem::ModulePath() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, length < MAX_PATH ? length : MAX_PATH);
}

std::optional<OsVersion> Win32InstallerSystem::Version() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);  // the 148-byte ANSI record
  if (!::GetVersionExA(&info)) return std::nullopt;
  return OsVersion{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
}

std::optional<std::string> Win32InstallerSystem::PrinterDriverDirectory() {
  char buffer[kDirectoryBuffer] = {};
  DWORD needed = 0;
  if (!::GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(buffer), kDirectoryBuffer - 1,
                                    &needed))
    return std::nullopt;
  return std::string(buffer);
}

std::optional<std::string> Win32InstallerSystem::SystemDirectory() {
  return DirectoryQuery([](char* b, DWORD n) { return ::GetSystemDirectoryA(b, n); });
}

std::optional<std::string> Win32InstallerSystem::WindowsDirectory() {
  return DirectoryQuery([](char* b, DWORD n) { return ::GetWindowsDirectoryA(b, n); });
}

std::optional<std::uint32_t> Win32InstallerSystem::FileAttributes(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return attributes;
}

std::string Win32InstallerSystem::CurrentDirectory() { return CurrentFolder(); }

bool Win32InstallerSystem::ChangeDirectory(const std::string& path) {
  return ::SetCurrentDirectoryA(path.c_str()) != FALSE;
}

std::string Win32InstallerSystem::ReadProfileString(const std::string& file, const std::string& section,
                                                    const std::string& key) {
  char buffer[kProfileValueBuffer] = {};
  const DWORD length =
      ::GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer, kProfileValueBuffer, file.c_str());
  return std::string(buffer, length < kProfileValueBuffer ? length : kProfileValueBuffer - 1);
}

std::vector<std::string> Win32InstallerSystem::ReadProfileKeys(const std::string& file, const std::string& section) {
  std::vector<char> buffer(kProfileKeysBuffer, '\0');
  const DWORD length =
      ::GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.data(), kProfileKeysBuffer, file.c_str());
  // The keys come as NUL-terminated names one after the other.
  std::vector<std::string> keys;
  for (DWORD pos = 0; pos < length && buffer[pos] != '\0';) {
    const std::string key(buffer.data() + pos);
    keys.push_back(key);
    pos += static_cast<DWORD>(key.size()) + 1;
  }
  return keys;
}

bool Win32InstallerSystem::WriteProfileValue(const std::string& file, const std::string& section,
                                              const std::string& key, const std::string& value) {
  return ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) != FALSE;
}

std::optional<std::string> Win32InstallerSystem::ReadTextFile(const std::string& path) {
  win::Handle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxTextFile) return std::nullopt;
  std::string contents(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  if (!contents.empty() && !::ReadFile(file.Get(), contents.data(), static_cast<DWORD>(contents.size()), &got, nullptr))
    return std::nullopt;
  contents.resize(got);
  return contents;
}

bool Win32InstallerSystem::WriteWholeFile(const std::string& path, const std::string& bytes) {
  return win::WriteWholeFile(path, bytes);
}

std::uint32_t Win32InstallerSystem::SpoolerAddDriver(const DriverInfo2& info) {
  TextField name(info.name), environment(info.environment), driverPath(info.driverPath), dataFile(info.dataFile),
      configFile(info.configFile);
  DRIVER_INFO_2A record{info.version, name.Get(), environment.Get(), driverPath.Get(), dataFile.Get(),
                        configFile.Get()};
  return LastErrorUnless(::AddPrinterDriverA(nullptr, 2, reinterpret_cast<LPBYTE>(&record)) != FALSE);
}

std::uint32_t Win32InstallerSystem::SpoolerAddMonitor(const MonitorInfo2& info) {
  TextField name(info.name), environment(info.environment), dllName(info.dllName);
  MONITOR_INFO_2A record{name.Get(), environment.Get(), dllName.Get()};
  return LastErrorUnless(::AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&record)) != FALSE);
}

std::uint32_t Win32InstallerSystem::SpoolerAddPrinter(const PrinterInfo2& info) {
  TextField server(info.serverName), printer(info.printerName), share(info.shareName), port(info.portName),
      driver(info.driverName), comment(info.comment), location(info.location), sepFile(info.sepFile),
      processor(info.printProcessor), datatype(info.datatype), parameters(info.parameters);
  PRINTER_INFO_2A record{};
  record.pServerName = server.Get();
  record.pPrinterName = printer.Get();
  record.pShareName = share.Get();
  record.pPortName = port.Get();
  record.pDriverName = driver.Get();
  record.pComment = comment.Get();
  record.pLocation = location.Get();
  record.pSepFile = sepFile.Get();
  record.pPrintProcessor = processor.Get();
  record.pDatatype = datatype.Get();
  record.pParameters = parameters.Get();
  record.Attributes = info.attributes;
  record.Priority = info.priority;
  record.DefaultPriority = info.defaultPriority;
  record.StartTime = info.startTime;
  record.UntilTime = info.untilTime;
  record.Status = info.status;
  record.cJobs = info.jobs;
  record.AveragePPM = info.averagePpm;
  const HANDLE handle = ::AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&record));
  if (handle == nullptr) return ::GetLastError();
  ::ClosePrinter(handle);
  return 0;
}

std::uint32_t Win32InstallerSystem::SpoolerPrinters(std::vector<PrinterUse>& printers) {
  std::vector<BYTE> buffer;
  DWORD count = 0;
  const std::uint32_t error = EnumerateSpooler(
      [](BYTE* b, DWORD size, DWORD* needed, DWORD* n) {
        return ::EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, b, size, needed, n);
      },
      buffer, count);
  const auto* records = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
  for (DWORD i = 0; error == 0 && i < count; ++i)
    printers.push_back({TextOf(records[i].pPrinterName), TextOf(records[i].pDriverName), TextOf(records[i].pPortName)});
  return error;
}

std::uint32_t Win32InstallerSystem::SpoolerPorts(std::vector<PortOwner>& ports) {
  std::vector<BYTE> buffer;
  DWORD count = 0;
  const std::uint32_t error = EnumerateSpooler(
      [](BYTE* b, DWORD size, DWORD* needed, DWORD* n) { return ::EnumPortsA(nullptr, 2, b, size, needed, n); },
      buffer, count);
  const auto* records = reinterpret_cast<const PORT_INFO_2A*>(buffer.data());
  for (DWORD i = 0; error == 0 && i < count; ++i)
    ports.push_back({TextOf(records[i].pPortName), TextOf(records[i].pMonitorName)});
  return error;
}

std::uint32_t Win32InstallerSystem::SpoolerDeletePrinter(const std::string& name) {
  PRINTER_DEFAULTSA access{nullptr, nullptr, PRINTER_ALL_ACCESS};
  HANDLE raw = nullptr;
  std::string printerName = name;
  if (!::OpenPrinterA(printerName.data(), &raw, &access)) return ::GetLastError();
  const win::UniqueHandle<PrinterTraits> printer(raw);
  return LastErrorUnless(::DeletePrinter(printer.Get()) != FALSE);
}

std::uint32_t Win32InstallerSystem::SpoolerDeleteDriver(const std::string& name) {
  std::string driverName = name;
  return LastErrorUnless(::DeletePrinterDriverA(nullptr, nullptr, driverName.data()) != FALSE);
}

std::uint32_t Win32InstallerSystem::SpoolerDeleteMonitor(const std::string& environment, const std::string& name) {
  std::string env = environment, monitor = name;
  return LastErrorUnless(::DeleteMonitorA(nullptr, env.data(), monitor.data()) != FALSE);
}

std::uint32_t Win32InstallerSystem::InstallVersionedFile(const std::string& fileName, const std::string& sourceDir,
                                                   const std::string& destDir) {
  char tempName[kTempNameBuffer] = {};
  UINT tempLength = kTempNameBuffer;
  // The call joins the source folder and name with '\': an empty folder would
  // name the root of the drive, so the current folder is given instead.
  std::string source = sourceDir.empty() ? CurrentFolder() : sourceDir;
  if (source.size() > 1 && source.back() == '\\') source.pop_back();
  // The call takes writable buffers for texts it only reads.
  std::string name = fileName, dest = destDir, current;
  const DWORD result = ::VerInstallFileA(0, name.data(), name.data(), source.data(), dest.data(), current.data(),
                                         tempName, &tempLength);
  // A refused install can leave its temporary copy in the target folder.
  if ((result & VIF_TEMPFILE) != 0 && tempName[0] != '\0' && tempLength <= kTempNameBuffer)
    ::DeleteFileA(JoinPath(destDir, tempName).c_str());
  return result;
}

std::unique_ptr<LoadedLibrary> Win32InstallerSystem::OpenLibrary(const std::string& path, std::uint32_t& error) {
  const HMODULE module = ::LoadLibraryA(path.c_str());
  if (module == nullptr) {
    error = ::GetLastError();
    return nullptr;
  }
  error = 0;
  return std::make_unique<Win32Library>(module);
}

bool Win32InstallerSystem::CreateInformationContext(const std::string& driver, const std::string& device,
                                                    const std::string& output) {
  const win::UniqueHandle<DcTraits> dc(::CreateICA(driver.c_str(), device.c_str(), output.c_str(), nullptr));
  return static_cast<bool>(dc);
}

bool Win32InstallerSystem::SetLocalMachineString(const std::string& keyPath, const std::string& valueName,
                                                 const std::string& data) {
  HKEY raw = nullptr;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr) !=
      ERROR_SUCCESS)
    return false;
  const win::RegKey key(raw);
  return ::RegSetValueExA(key.Get(), valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
}

std::uint32_t Win32InstallerSystem::DeleteLocalMachineValue(const std::string& keyPath,
                                                           const std::string& valueName) {
  HKEY raw = nullptr;
  if (const LONG opened = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_SET_VALUE, &raw);
      opened != ERROR_SUCCESS)
    return static_cast<std::uint32_t>(opened);
  const win::RegKey key(raw);
  return static_cast<std::uint32_t>(::RegDeleteValueA(key.Get(), valueName.c_str()));
}

std::uint32_t Win32InstallerSystem::DeleteProfileEntry(const std::string& file, const std::string& section,
                                                      const std::string& key) {
  const BOOL ok = ::WritePrivateProfileStringA(section.c_str(), key.empty() ? nullptr : key.c_str(), nullptr,
                                               file.c_str());
  return LastErrorUnless(ok != FALSE);
}

std::uint32_t Win32InstallerSystem::RemoveFile(const std::string& path) {
  return LastErrorUnless(::DeleteFileA(path.c_str()) != FALSE);
}

std::string Win32InstallerSystem::ErrorText(std::uint32_t error) {
  char text[512] = {};
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        text, sizeof(text), nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  return message.empty() ? "System error." : message;
}

CloseOutcome Win32InstallerSystem::CloseProgram(const std::string& fileName, const std::string& windowClass,
                                                const std::string& title) {
  CloseSearch search{fileName, windowClass, title, {}};
  ::EnumWindows(CloseMatchingWindow, reinterpret_cast<LPARAM>(&search));
  if (search.processes.empty()) return CloseOutcome::kNotRunning;
  const DWORD deadline = ::GetTickCount() + kCloseWaitMs;
  for (const win::Handle& process : search.processes) {
    const DWORD now = ::GetTickCount();
    const DWORD left = static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0;
    if (::WaitForSingleObject(process.Get(), left) != WAIT_OBJECT_0) return CloseOutcome::kStillRunning;
  }
  return CloseOutcome::kClosed;
}

std::optional<std::uint32_t> Win32InstallerSystem::RunProcess(const std::string& program,
                                                              const std::string& commandLine, int showMode) {
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showMode);
  PROCESS_INFORMATION info{};
  // The program file is named apart from the command line: the system then starts
  // that file and looks in no folder for one of the same name.
  if (!::CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &info))
    return std::nullopt;
  const win::Handle process(info.hProcess);
  const win::Handle thread(info.hThread);
  ::WaitForSingleObject(process.Get(), INFINITE);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.Get(), &exitCode);
  return exitCode;
}

std::optional<std::string> Win32InstallerSystem::OpenFile(const OpenFileRequest& request) {
  // The filter's pairs are NUL-separated, with a second NUL at the end.
  std::string filter = request.filter;
  for (char& c : filter)
    if (c == '|') c = '\0';
  filter.append(2, '\0');
  char file[kOpenFileBuffer] = {};
  const std::string start = request.fileName.substr(0, kOpenFileBuffer - 1);
  std::copy(start.begin(), start.end(), file);
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = Application != nullptr ? Application->Handle() : nullptr;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file;
  ofn.nMaxFile = kOpenFileBuffer;
  ofn.lpstrTitle = request.title.c_str();
  ofn.Flags = OFN_FILEMUSTEXIST;
  if (!::GetOpenFileNameA(&ofn)) return std::nullopt;
  return std::string(file);
}

void Win32InstallerSystem::ShowErrorBox(const std::string& text) {
  ShowMessageBox(text, "Error", MB_OK | MB_ICONERROR);
}

void Win32InstallerSystem::ShowRasddWarning() {
  TRASDDWarning warning(Application);
  warning.ShowModal();
}

void Win32InstallerSystem::ShowFatalError(const std::string& message) {
  Application->FatalError(message);
}

}  // namespace vz::inst
