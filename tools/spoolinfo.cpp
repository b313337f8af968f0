// spoolinfo: prints what the local print spooler knows, one line each, for
// scripts that check an installation:
//   printer NAME|DRIVER|PORT
//   driver NAME|DRIVER PATH|DATA FILE|CONFIG FILE
//   monitor NAME
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <vector>

namespace {

// Runs a two-call spooler enumeration; the records in `buffer`, their count returned.
template <typename Enum>
DWORD Enumerate(Enum call, std::vector<BYTE>& buffer) {
  DWORD needed = 0, count = 0;
  call(nullptr, 0, &needed, &count);
  if (needed == 0) return 0;
  buffer.assign(needed, 0);
  if (!call(buffer.data(), needed, &needed, &count)) return 0;
  return count;
}

const char* Text(const char* s) { return s != nullptr ? s : ""; }

}  // namespace

int main() {
  std::vector<BYTE> buffer;
  DWORD n = Enumerate([](BYTE* b, DWORD size, DWORD* needed, DWORD* count) {
    return EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, b, size, needed, count);
  }, buffer);
  for (DWORD i = 0; i < n; ++i) {
    const auto& p = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data())[i];
    std::printf("printer %s|%s|%s\n", Text(p.pPrinterName), Text(p.pDriverName), Text(p.pPortName));
  }
  n = Enumerate([](BYTE* b, DWORD size, DWORD* needed, DWORD* count) {
    return EnumPrinterDriversA(nullptr, nullptr, 2, b, size, needed, count);
  }, buffer);
  for (DWORD i = 0; i < n; ++i) {
    const auto& d = reinterpret_cast<const DRIVER_INFO_2A*>(buffer.data())[i];
    std::printf("driver %s|%s|%s|%s\n", Text(d.pName), Text(d.pDriverPath), Text(d.pDataFile), Text(d.pConfigFile));
  }
  n = Enumerate([](BYTE* b, DWORD size, DWORD* needed, DWORD* count) {
    return EnumMonitorsA(nullptr, 1, b, size, needed, count);
  }, buffer);
  for (DWORD i = 0; i < n; ++i)
    std::printf("monitor %s\n", Text(reinterpret_cast<const MONITOR_INFO_1A*>(buffer.data())[i].pName));
  return 0;
}
