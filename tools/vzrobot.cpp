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
//   vzrobot key TITLE KEY             posts a key press (enter, escape, down, delete, tab, or alt+LETTER
//                                     for a caption's accelerator) to the window's focused
//                                     control
//   vzrobot type TITLE TEXT           posts TEXT as typed characters to the focused control
//   vzrobot rows TITLE                prints the rows of the window's list (a report-style
//                                     ListView): its cells after the first column joined by
//                                     "|", each row after "* " when selected, else "  "
//   vzrobot click TITLE ROW [ctrl|shift]  posts a left click on row ROW (from 0) of the
//                                     window's list, with Ctrl or Shift held as the
//                                     mouse message tells
// Exit code 0 on success, 1 when the window or control is not found in time.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

// The control with the keyboard focus in the window's thread (the window itself
// when there is none): what the user's keys reach.
HWND FocusOf(HWND wnd) {
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(wnd, nullptr), &gui) && gui.hwndFocus != nullptr)
    return gui.hwndFocus;
  return wnd;
}

// Posted to the focused control, so that the window's own loop sees it as the
// user's key. Alt+letter arrives as the system character the letter makes.
int PostKey(HWND wnd, const std::string& name) {
  constexpr LPARAM kAltDown = LPARAM{1} << 29;
  if (name.size() == 5 && name.rfind("alt+", 0) == 0) {
    PostMessageA(FocusOf(wnd), WM_SYSCHAR, static_cast<unsigned char>(name[4]), kAltDown | 1);
    return 0;
  }
  WPARAM key = 0;
  if (name == "enter") key = VK_RETURN;
  if (name == "escape") key = VK_ESCAPE;
  if (name == "down") key = VK_DOWN;
  if (name == "delete") key = VK_DELETE;
  if (name == "tab") key = VK_TAB;
  if (key == 0) return 2;
  PostMessageA(FocusOf(wnd), WM_KEYDOWN, key, 0);
  return 0;
}

int TypeText(HWND wnd, const std::string& text) {
  HWND target = FocusOf(wnd);
  for (char c : text) PostMessageA(target, WM_CHAR, static_cast<unsigned char>(c), 1);
  return 0;
}

BOOL CALLBACK FindListView(HWND child, LPARAM lp) {
  char cls[64] = {};
  GetClassNameA(child, cls, sizeof cls);
  if (std::string(cls) != WC_LISTVIEWA) return TRUE;
  *reinterpret_cast<HWND*>(lp) = child;
  return FALSE;
}

// Memory in another process, for the messages whose answer is written through a
// pointer: the list fills the item the pointer names, in its own address space.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND wnd, std::size_t size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_ != nullptr) at_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  }
  ~RemoteBuffer() {
    if (at_ != nullptr) VirtualFreeEx(process_, at_, 0, MEM_RELEASE);
    if (process_ != nullptr) CloseHandle(process_);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  bool Ok() const { return at_ != nullptr; }
  char* At(std::size_t offset) const { return static_cast<char*>(at_) + offset; }
  bool Write(const void* data, std::size_t n) { return WriteProcessMemory(process_, at_, data, n, nullptr) != 0; }
  std::vector<char> Read() const {
    std::vector<char> out(size_);
    if (!ReadProcessMemory(process_, at_, out.data(), size_, nullptr)) out.clear();
    return out;
  }

 private:
  std::size_t size_;
  HANDLE process_ = nullptr;
  void* at_ = nullptr;
};

std::string CellText(HWND list, RemoteBuffer& remote, int row, int column) {
  constexpr int kTextSize = 256;
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = remote.At(sizeof item);
  item.cchTextMax = kTextSize;
  if (!remote.Write(&item, sizeof item)) return {};
  SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0)));
  const std::vector<char> bytes = remote.Read();
  if (bytes.empty()) return {};
  const char* text = bytes.data() + sizeof item;
  return std::string(text, strnlen(text, kTextSize - 1));
}

int PrintRows(HWND wnd) {
  HWND list = nullptr;
  EnumChildWindows(wnd, FindListView, reinterpret_cast<LPARAM>(&list));
  if (list == nullptr) return 1;
  RemoteBuffer remote(list, sizeof(LVITEMA) + 256);
  if (!remote.Ok()) return 1;
  const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  const int columns = static_cast<int>(SendMessageA(ListView_GetHeader(list), HDM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < rows; ++row) {
    const bool selected = SendMessageA(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) != 0;
    std::string line = selected ? "* " : "  ";
    for (int column = 1; column < columns; ++column) {
      if (column > 1) line += '|';
      line += CellText(list, remote, row, column);
    }
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

int ClickRow(HWND wnd, int row, const std::string& held) {
  HWND list = nullptr;
  EnumChildWindows(wnd, FindListView, reinterpret_cast<LPARAM>(&list));
  if (list == nullptr) return 1;
  RemoteBuffer remote(list, sizeof(RECT));
  RECT rect{};
  rect.left = LVIR_BOUNDS;
  if (!remote.Ok() || !remote.Write(&rect, sizeof rect)) return 1;
  if (!SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0)))) return 1;
  const std::vector<char> bytes = remote.Read();
  if (bytes.size() < sizeof rect) return 1;
  std::memcpy(&rect, bytes.data(), sizeof rect);
  const WPARAM keys = held == "ctrl" ? MK_CONTROL : held == "shift" ? MK_SHIFT : 0;
  const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON | keys, at);
  PostMessageA(list, WM_LBUTTONUP, keys, at);
  return 0;
}

int Fail(const char* what, const std::string& name) {
  std::fprintf(stderr, "vzrobot: %s not found: %s\n", what, name.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: vzrobot wait|gone|exists|text|press|settext|close|key|type|rows|click TITLE ... | traymenu X Y\n",
               stderr);
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
  if (command == "type" && argc == 4) return TypeText(wnd, argv[3]);
  if (command == "rows") return PrintRows(wnd) == 0 ? 0 : Fail("list", title);
  if (command == "click" && (argc == 4 || argc == 5))
    return ClickRow(wnd, std::atoi(argv[3]), argc == 5 ? argv[4] : "") == 0 ? 0 : Fail("row", argv[3]);
  if (command == "settext" && argc == 5) {
    HWND control = GetDlgItem(wnd, std::atoi(argv[3]));
    if (control == nullptr) return Fail("control", argv[3]);
    SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]));
    return 0;
  }
  std::fputs("vzrobot: unknown command or wrong arguments\n", stderr);
  return 2;
}
