/* Stands in for the raster driver's configuration module. The spooler asks it for
   the printer's default device mode when a printer is created. */
#include <windows.h>

#include <string.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}

/* The spooler's DOCUMENTPROPERTYHEADER (Unicode, as drivers get it). */
typedef struct {
  WORD cbSize;
  WORD Reserved;
  HANDLE hPrinter;
  LPWSTR pszPrinterName;
  DEVMODEW* pdmIn;
  DEVMODEW* pdmOut;
  DWORD cbOut;
  DWORD fMode;
} DocumentPropertyHeader;

/* Without property sheet information the call is about device modes: it reports
   their size, or fills the output with a plain default one. */
__declspec(dllexport) LONG WINAPI DrvDocumentPropertySheets(void* info, LPARAM lParam) {
  DocumentPropertyHeader* header = (DocumentPropertyHeader*)lParam;
  if (info != NULL || header == NULL) return -1;
  if (header->fMode == 0 || header->pdmOut == NULL) {
    header->cbOut = sizeof(DEVMODEW);
    return (LONG)header->cbOut;
  }
  DEVMODEW* dm = header->pdmOut;
  memset(dm, 0, sizeof(*dm));
  if (header->pszPrinterName != NULL) lstrcpynW(dm->dmDeviceName, header->pszPrinterName, CCHDEVICENAME);
  dm->dmSpecVersion = DM_SPECVERSION;
  dm->dmSize = sizeof(*dm);
  dm->dmFields = DM_ORIENTATION | DM_PAPERSIZE;
  dm->dmOrientation = DMORIENT_PORTRAIT;
  dm->dmPaperSize = DMPAPER_A4;
  return IDOK;
}

__declspec(dllexport) const char* WINAPI StandInName(void) { return "RASDDUI.DLL"; }
