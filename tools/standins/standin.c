/* A stand-in for one of the outside driver's or Windows' DLLs: the installer only
   copies, registers and loads these files. STANDIN_NAME names the file. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}

/* Lets a test tell which stand-in it loaded. */
__declspec(dllexport) const char* WINAPI StandInName(void) { return STANDIN_NAME; }
