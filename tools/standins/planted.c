/* A program that carries the name of one of Windows' own (expand.exe) and is put
   where a search by bare name looks first: beside the installer or in the current
   folder. When it runs, it leaves PLANTED.RAN beside itself with its command line
   and ends with exit code 42, so that the run shows both in the files and in the
   exit code. */
#include <windows.h>

#include <string.h>

int main(void) {
  char path[MAX_PATH + 16];
  const DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 42;
  char* cut = strrchr(path, '\\');
  if (cut == NULL) return 42;
  strcpy(cut + 1, "PLANTED.RAN");
  const HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    const char* line = GetCommandLineA();
    DWORD written = 0;
    WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
    CloseHandle(file);
  }
  return 42;
}
