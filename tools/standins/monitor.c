/* Stands in for the fax port monitors (APFMON35.DLL, APFMON40.DLL): enough of a
   port monitor for the spooler to register it. It offers no ports of its own. */
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}

static BOOL WINAPI EnumNoPorts(HANDLE monitor, LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
                               LPDWORD returned) {
  (void)monitor;
  (void)name;
  (void)level;
  (void)ports;
  (void)size;
  if (needed != NULL) *needed = 0;
  if (returned != NULL) *returned = 0;
  return TRUE;
}

static BOOL WINAPI OpenNoPort(HANDLE monitor, LPWSTR name, PHANDLE handle) {
  (void)monitor;
  (void)name;
  (void)handle;
  SetLastError(ERROR_INVALID_NAME);
  return FALSE;
}

static void WINAPI Shutdown(HANDLE monitor) { (void)monitor; }

static MONITOR2 monitor2;

__declspec(dllexport) LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor) {
  (void)init;
  monitor2.cbSize = sizeof(monitor2);
  monitor2.pfnEnumPorts = EnumNoPorts;
  monitor2.pfnOpenPort = OpenNoPort;
  monitor2.pfnShutdown = Shutdown;
  if (monitor != NULL) *monitor = (HANDLE)&monitor2;
  return &monitor2;
}

__declspec(dllexport) const char* WINAPI StandInName(void) { return STANDIN_NAME; }
