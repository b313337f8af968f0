// vzrobot: plays the user against the programs' windows in end-to-end scripts.
//   vzrobot wait TITLE [MS]           waits until a visible top-level window has that title
//   vzrobot gone TITLE [MS]           waits until no visible top-level window has that title
//   vzrobot exists TITLE [MS]         waits until any top-level window, hidden or not, has it
//   vzrobot text TITLE                prints the texts of the window's child controls
//   vzrobot press TITLE BUTTON        clicks the child button captioned BUTTON ("&" ignored)
//   vzrobot settext TITLE ID TEXT     puts TEXT into the child control with that ID
//   vzrobot close TITLE               asks the window to close
//   vzrobot traymenu X Y              right-clicks the tray icon with the pointer at X,Y
//                                     (as the shell reports it), so its menu opens there
//   vzrobot key TITLE KEY             posts a key press (enter, escape, down) to the
//                                     window's focused control
// Exit code 0 on success, 1 when the window or control is not found in time.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr DWORD kDefaultWaitMs = 10000;

std::string WithoutAmpersands(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != '&') out += c;
  return out;
}

struct TopLevelSearch {
  std::string title;
  bool visibleOnly;
  HWND found = nullptr;
};

BOOL CALLBACK MatchTopLevel(HWND wnd, LPARAM lp) {
  auto* search = reinterpret_cast<TopLevelSearch*>(lp);
  if (search->visibleOnly && !IsWindowVisible(wnd)) return TRUE;
  char text[256] = {};
  GetWindowTextA(wnd, text, sizeof(text));
  if (search->title != text) return TRUE;
  search->found = wnd;
  return FALSE;
}

// Programs keep hidden windows with the same titles as their boxes (the
// application window): the user only ever deals with visible ones.
HWND FindTopLevel(const std::string& title, bool visibleOnly) {
  TopLevelSearch search{title, visibleOnly};
  EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForWindow(const std::string& title, DWORD ms, bool visibleOnly) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    HWND wnd = FindTopLevel(title, visibleOnly);
    if (wnd != nullptr) return wnd;
    if (GetTickCount64() >= deadline) return nullptr;
    Sleep(20);
  }
}

struct ChildSearch {
  std::string caption;
  HWND found = nullptr;
};

BOOL CALLBACK FindChildByCaption(HWND child, LPARAM lp) {
  auto* search = reinterpret_cast<ChildSearch*>(lp);
  char text[256] = {};
  GetWindowTextA(child, text, sizeof(text));
  if (WithoutAmpersands(text) == search->caption) {
    search->found = child;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK PrintChildText(HWND child, LPARAM) {
  char text[1024] = {};
  GetWindowTextA(child, text, sizeof(text));
  if (text[0] != '\0') std::printf("%s\n", text);
  return TRUE;
}

// What the shell sends a tray icon's window when the user right-clicks the icon.
int TrayMenu(int x, int y) {
  HWND tray = FindWindowA("TTrayIconMsgWindow", nullptr);
  if (tray == nullptr) {
    std::fputs("vzrobot: no tray icon\n", stderr);
    return 1;
  }
  constexpr UINT kTrayMessage = WM_USER + 100;
  constexpr WPARAM kTrayIconId = 42;
  SetCursorPos(x, y);
  PostMessageA(tray, kTrayMessage, kTrayIconId, WM_MOUSEMOVE);
  PostMessageA(tray, kTrayMessage, kTrayIconId, WM_RBUTTONDOWN);
  return 0;
}

// Posted to the control with the keyboard focus in the window's thread, so that the
// window's own loop sees it as the user's key.
int PostKey(HWND wnd, const std::string& name) {
  WPARAM key = 0;
  if (name == "enter") key = VK_RETURN;
  if (name == "escape") key = VK_ESCAPE;
  if (name == "down") key = VK_DOWN;
  if (key == 0) return 2;
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  HWND target = wnd;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(wnd, nullptr), &gui) && gui.hwndFocus != nullptr)
    target = gui.hwndFocus;
  PostMessageA(target, WM_KEYDOWN, key, 0);
  return 0;
}

int Fail(const char* what, const std::string& name) {
  std::fprintf(stderr, "vzrobot: %s not found: %s\n", what, name.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: vzrobot wait|gone|exists|text|press|settext|close|key TITLE ... | traymenu X Y\n", stderr);
    return 2;
  }
  const std::string command = argv[1];
  if (command == "traymenu" && argc == 4) return TrayMenu(std::atoi(argv[2]), std::atoi(argv[3]));
  const std::string title = argv[2];
  const DWORD waitMs =
      (command == "wait" || command == "gone" || command == "exists") && argc > 3 ? std::strtoul(argv[3], nullptr, 10)
                                                           : kDefaultWaitMs;
  if (command == "gone") {
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    while (FindTopLevel(title, true) != nullptr) {
      if (GetTickCount64() >= deadline) return Fail("window still there", title);
      Sleep(20);
    }
    return 0;
  }
  const bool anyWindow = command == "exists" || command == "close";
  HWND wnd = WaitForWindow(title, waitMs, !anyWindow);
  if (wnd == nullptr) return Fail("window", title);
  if (command == "wait" || command == "exists") return 0;
  if (command == "text") {
    EnumChildWindows(wnd, PrintChildText, 0);
    return 0;
  }
  if (command == "close") {
    PostMessageA(wnd, WM_CLOSE, 0, 0);
    return 0;
  }
  if (command == "press" && argc == 4) {
    ChildSearch search{WithoutAmpersands(argv[3])};
    EnumChildWindows(wnd, FindChildByCaption, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) return Fail("button", argv[3]);
    // Posted, so that the dialog's own loop handles it as a click.
    PostMessageA(search.found, BM_CLICK, 0, 0);
    return 0;
  }
  if (command == "key" && argc == 4) return PostKey(wnd, argv[3]);
  if (command == "settext" && argc == 5) {
    HWND control = GetDlgItem(wnd, std::atoi(argv[3]));
    if (control == nullptr) return Fail("control", argv[3]);
    SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]));
    return 0;
  }
  std::fputs("vzrobot: unknown command or wrong arguments\n", stderr);
  return 2;
}
