// A second baseline of the installer benchmark: a GUI program that asks the print
// spooler one question (its driver folder) and ends, so the spooler's own start-up
// is counted as in the installer.
#include <windows.h>
#include <winspool.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char folder[MAX_PATH] = {};
  DWORD needed = 0;
  return GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(folder), sizeof(folder), &needed)
             ? 0
             : 1;
}
