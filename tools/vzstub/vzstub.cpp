// vzstub: stands in for the main fax program VZ.EXE. It shows a window titled
// "VelmorFAX" and records in vzstub.log, beside itself, what happens to it:
//   started YYYY-MM-DD HH:MM:SS.mmm in WORKING-DIRECTORY
//   command COMMAND-LINE                    (as the program was given it)
//   front YYYY-MM-DD HH:MM:SS.mmm           (the window was activated after start-up)
//   owner restored YYYY-MM-DD HH:MM:SS.mmm  (its minimised owner came back)
// Options: --owner gives the window an owner window "VelmorFAX Owner" that can be
// minimised; --minimized starts that owner minimised. The program ends when its
// window is closed.
#include <windows.h>

#include <cstring>
#include <string>

namespace {

constexpr char kClass[] = "VzStubWindow";
constexpr char kTitle[] = "VelmorFAX";
constexpr char kOwnerTitle[] = "VelmorFAX Owner";

bool startupDone = false;
HWND mainWindow = nullptr;

std::string LogPath() {
  char path[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path);
  dir.erase(dir.find_last_of("\\:") + 1);
  return dir + "vzstub.log";
}

std::string Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char text[64];
  wsprintfA(text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
            t.wSecond, t.wMilliseconds);
  return text;
}

// Appends one line; opened and closed each time so that readers see it at once.
void Log(const std::string& event) {
  const std::string line = event + "\r\n";
  HANDLE file = CreateFileA(LogPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ACTIVATE:
      if (wnd == mainWindow && LOWORD(wp) != WA_INACTIVE && startupDone) Log("front " + Now());
      break;
    case WM_SIZE:
      if (wnd != mainWindow && wp == SIZE_RESTORED && startupDone) Log("owner restored " + Now());
      break;
    case WM_DESTROY:
      if (wnd == mainWindow) PostQuitMessage(0);
      break;
    default:
      break;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  bool withOwner = false;
  bool minimized = false;
  for (int i = 1; i < __argc; ++i) {
    if (std::strcmp(__argv[i], "--owner") == 0) withOwner = true;
    if (std::strcmp(__argv[i], "--minimized") == 0) minimized = true;
  }
  char cwd[MAX_PATH + 1] = {};
  GetCurrentDirectoryA(MAX_PATH, cwd);
  Log("started " + Now() + " in " + cwd);
  Log(std::string("command ") + GetCommandLineA());

  WNDCLASSA wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClass;
  RegisterClassA(&wc);
  HWND owner = nullptr;
  if (withOwner) {
    owner = CreateWindowExA(0, kClass, kOwnerTitle, WS_OVERLAPPEDWINDOW, 40, 40, 300, 200, nullptr, nullptr,
                            instance, nullptr);
    ShowWindow(owner, SW_SHOWNORMAL);
  }
  mainWindow = CreateWindowExA(0, kClass, kTitle, WS_OVERLAPPEDWINDOW, 120, 120, 400, 260, owner, nullptr,
                               instance, nullptr);
  if (mainWindow == nullptr) return 1;
  ShowWindow(mainWindow, SW_SHOWNORMAL);
  if (owner != nullptr && minimized) ShowWindow(owner, SW_MINIMIZE);
  startupDone = true;

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
