// The phone book browser with N entries against a bare owner-data ListView of N items
// in a window of the same size, measured in one run:
//   construction to first paint, 100,000 and 1,000,000 entries (ratio to the bare list);
//   End (the last entry made current and painted);
//   one type-ahead keystroke (engine time of the seeks);
//   resident memory of the open browser.
// And what decided the grid's design: reaching the middle row by moving the cursor
// row by row (a window of rows) against one jump through the row-to-record map, and
// the map's one walk of the index leaves.
//   gridbench [DIR] [--small]      --small: 10,000 and 100,000 entries
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/table/random_names.hpp"
#include "dbengine/dbe.hpp"
#include "dbengine/table.hpp"
#include "phonebook/buttonlook.hpp"
#include "phonebook/mainscreen.hpp"
#include "toolkit/application.hpp"
#include "toolkit/dbgrid.hpp"
#include "toolkit/graphics.hpp"
#include "widgets/res/buttonbitmaps.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

class FolderUi : public vz::phonebook::PhoneBookUi {
 public:
  explicit FolderUi(std::string dir) : dir_(std::move(dir)) {}
  std::string ProgramPath() override { return dir_ + "\\VZNTCTL.EXE"; }
  void ShowInfo(const std::string& text) override { std::printf("info: %s\n", text.c_str()); }
  void Terminate() override {}
  void Beep() override {}

 private:
  std::string dir_;
};

// A phone book of n entries in dir (kept between runs when it already has them).
void MakePhoneBook(const std::string& dir, unsigned n) {
  using namespace vz::db;
  const std::string path = dir + "\\VZPB.DBF";
  TableOptions exclusive;
  exclusive.mode = ShareMode::kExclusive;
  if (std::filesystem::exists(dir + "\\VZPB.CDX")) {
    auto t = Table::Open(path, exclusive);
    if (t->RecordCount() == n) return;
  }
  std::filesystem::create_directories(dir);
  std::filesystem::remove(dir + "\\VZPB.CDX");
  Table::Create(path, {{"NAME", 'C', 35, 0, 0}, {"PHONE", 'C', 25, 0, 0}}, exclusive);
  auto t = Table::Open(path, exclusive);
  std::mt19937_64 rng(20261208);
  for (unsigned i = 0; i < n; ++i) {
    std::string rec = t->BlankRecord();
    t->SetFieldText(rec, 0, vz::bench::RandomName(rng));
    t->SetFieldText(rec, 1, "+49 " + std::to_string(100000 + i));
    t->Append(rec);
  }
  t->IndexTag({"NAME", "NAME", ".not. deleted()", false, false});
}

void PumpUntil(const std::function<bool()>& done) {
  while (!done()) {
    Application->ProcessMessages();
    if (!done()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
}

// ---- the bare owner-data ListView ----

LRESULT CALLBACK BareProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lp)->code == LVN_GETDISPINFOA) {
    auto* info = reinterpret_cast<NMLVDISPINFOA*>(lp);
    if ((info->item.mask & LVIF_TEXT) && info->item.cchTextMax > 12)
      std::snprintf(info->item.pszText, 12, "Row %d", info->item.iItem);
    return 0;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}

double BareListView(int items) {
  static bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &BareProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "GridBenchBare";
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    return RegisterClassA(&wc) != 0;
  }();
  (void)registered;
  const auto t0 = Clock::now();
  HWND frame = CreateWindowExA(0, "GridBenchBare", "Bare", WS_OVERLAPPEDWINDOW, 100, 100, 434, 402, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  HWND list = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA,
                              20, 20, 378, 273, frame, nullptr, GetModuleHandleA(nullptr), nullptr);
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT,
               LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  LVCOLUMNA column{};
  column.mask = LVCF_WIDTH | LVCF_TEXT;
  for (const char* title : {"", "Name", "Fax #"}) {
    column.cx = 100;
    column.pszText = const_cast<char*>(title);
    SendMessageA(list, LVM_INSERTCOLUMNA, 9, reinterpret_cast<LPARAM>(&column));
  }
  SendMessageA(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(items), 0);
  ShowWindow(frame, SW_SHOW);
  UpdateWindow(frame);
  Application->ProcessMessages();
  const double ms = Ms(t0, Clock::now());
  DestroyWindow(frame);
  Application->ProcessMessages();
  return ms;
}

// ---- the browser ----

bool Unpainted(HWND wnd) { return IsWindowVisible(wnd) && GetUpdateRect(wnd, nullptr, FALSE); }

BOOL CALLBACK FindUnpainted(HWND wnd, LPARAM found) {
  if (!Unpainted(wnd)) return TRUE;
  *reinterpret_cast<bool*>(found) = true;
  return FALSE;
}

// The window and every control in it painted, the grid's rows among them.
bool AllPainted(HWND top, const TDBGrid& grid, int rows) {
  if (grid.RowCount() != rows || grid.RowsRead() == 0 || Unpainted(top)) return false;
  bool found = false;
  EnumChildWindows(top, &FindUnpainted, reinterpret_cast<LPARAM>(&found));
  return !found;
}

// One message at a time, so that the clock stops at the paint and not after what
// the queue holds beyond it.
void PumpOneByOneUntil(const std::function<bool()>& done) {
  MSG msg;
  const auto limit = Clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (Clock::now() > limit) throw std::runtime_error("the browser did not paint within 30 s");
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    } else {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
  }
}

struct Opening {
  double made = 0;      // the window made and the phone book opened, nothing shown
  double shown = 0;     // shown, nothing painted yet
  double painted = 0;   // construction to the first paint of the window and its rows
  double complete = 0;  // construction to the whole row map read
};

Opening OpenBrowser(FolderUi& ui, int rows, std::unique_ptr<TMainScreen>* keep = nullptr) {
  Opening out;
  const auto t0 = Clock::now();
  auto screen = std::make_unique<TMainScreen>(Application, ui);
  out.made = Ms(t0, Clock::now());
  screen->Show();
  out.shown = Ms(t0, Clock::now());
  PumpOneByOneUntil([&] { return AllPainted(screen->Handle(), *screen->PhoneGrid, rows); });
  out.painted = Ms(t0, Clock::now());
  PumpUntil([&] { return screen->PhoneGrid->OrderComplete(); });
  out.complete = Ms(t0, Clock::now());
  Application->ProcessMessages();
  if (keep != nullptr) *keep = std::move(screen);
  return out;
}

std::size_t WorkingSet() {
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof(pmc);
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
  return pmc.WorkingSetSize;
}

// Median of three opens of the phone book of n entries through the data layer alone.
double OpenAlone(FolderUi& ui, int n) {
  std::vector<double> alone;
  for (int i = 0; i < 3; ++i) {
    vz::data::TTable table;
    vz::data::TDataSource source;
    vz::phonebook::TDataEngine engine;
    vz::phonebook::AddPhoneFields(table);
    source.SetDataSet(&table);
    engine.SetDataSource(&source);
    const auto t0 = Clock::now();
    const bool opened = vz::phonebook::OpenPhoneDBF(table, engine, ui) && table.RecordCount() == n;
    alone.push_back(Ms(t0, Clock::now()));
    if (!opened) std::printf("  the phone book did not open on its own\n");
  }
  return Median(alone);
}

constexpr double kWarmUntilMs = 3000;

Clock::time_point ProcessStart() {
  static const Clock::time_point start = Clock::now();
  return start;
}

void MeasureSize(const std::string& dir, int n, bool detailed) {
  FolderUi ui(dir);
  std::printf("\n%d entries\n", n);
  // Both paths warmed, over and over for the first seconds after the start: Wine starts
  // its own background processes with the first program, and they take the processors
  // for a while.
  int warmups = 0;
  do {
    BareListView(n);
    OpenBrowser(ui, n);
    ++warmups;
  } while (Ms(ProcessStart(), Clock::now()) < kWarmUntilMs);
  std::printf("  (after %d warm-up rounds of both)\n", warmups);
  std::vector<double> bare;
  std::vector<double> browser;
  std::vector<double> complete;
  std::vector<double> made;
  std::vector<double> shown;
  for (int i = 0; i < 5; ++i) {
    bare.push_back(BareListView(n));
    const Opening opening = OpenBrowser(ui, n);
    made.push_back(opening.made);
    shown.push_back(opening.shown - opening.made);
    browser.push_back(opening.painted);
    complete.push_back(opening.complete);
  }
  const double b = Median(bare);
  const double g = Median(browser);
  std::printf("  construction to first paint: bare ListView %.1f ms, browser %.1f ms, ratio %.2f\n", b, g, g / b);
  std::printf("  of which the window made, the phone book opened and its first rows read %.1f ms, shown %.1f ms, "
              "the rest the paint\n",
              Median(made), Median(shown));
  std::printf("  construction to the whole row map read (after the paint): %.1f ms\n", Median(complete));
  // The browser leaves the index check an opener makes for after its paint.
  double aloneMs[2] = {};
  for (int deferred = 0; deferred < 2; ++deferred) {
    const int setting = dbe_SetDeferIndexCheck(deferred);
    aloneMs[deferred] = OpenAlone(ui, n);
    dbe_SetDeferIndexCheck(setting);
  }
  std::printf("  opening and counting the phone book (no window): %.1f ms with the index check on open, %.1f ms "
              "without it (as the browser opens)\n",
              aloneMs[0], aloneMs[1]);
  if (!detailed) return;


  const std::size_t before = WorkingSet();
  std::unique_ptr<TMainScreen> screen;
  OpenBrowser(ui, n, &screen);
  const std::size_t open = WorkingSet();
  std::printf("  resident memory with the browser open: %.1f MB (%.1f MB more than before it opened)\n",
              open / 1048576.0, (static_cast<double>(open) - static_cast<double>(before)) / 1048576.0);

  TDBGrid* grid = screen->PhoneGrid;
  vz::data::TTable& table = screen->PhoneTable;
  const long readBefore = grid->RowsRead();
  const auto t0 = Clock::now();
  SendMessageA(grid->Handle(), WM_KEYDOWN, VK_END, 0);
  Application->ProcessMessages();
  UpdateWindow(screen->Handle());
  const double end = Ms(t0, Clock::now());
  std::printf("  End: last entry current and painted in %.1f ms (%ld rows read); current row %d of %d\n", end,
              grid->RowsRead() - readBefore, grid->CurrentRow() + 1, grid->RowCount());

  const char* prefixes[] = {"ka", "BERmo", "lin", "Stewel", "rido", "vetra", "Hoka", "zU"};
  std::vector<double> seeks;
  // Engine and data layer alone: the grid is unbound while the seeks are timed.
  grid->SetDataSource(nullptr);
  for (int round = 0; round < 5; ++round)
    for (const char* p : prefixes) {
      const auto s0 = Clock::now();
      table.FindNearestCaseless(p);
      seeks.push_back(Ms(s0, Clock::now()));
    }
  std::printf("  type-ahead: one keystroke's seeks %.3f ms (median of %zu)\n", Median(seeks), seeks.size());
  grid->SetDataSource(&screen->PhoneDataSource);

  // Window of rows: the middle row (at most 100,000 rows down) reached by moving the
  // cursor; map: one jump.
  const int middle = std::min(n / 2, 100000);
  const int area = table.WorkArea();
  const int previous = dbe_Select(area);
  auto s0 = Clock::now();
  dbe_GoTop();
  for (int i = 0; i < middle; i += 1000) dbe_Skip(std::min(1000, middle - i));
  const double walk = Ms(s0, Clock::now());
  const std::vector<int> order = table.OrderRecNos();
  s0 = Clock::now();
  dbe_Go(order[static_cast<std::size_t>(middle)]);
  const double jump = Ms(s0, Clock::now());
  s0 = Clock::now();
  const std::vector<int> again = table.OrderRecNos();
  const double mapWalk = Ms(s0, Clock::now());
  dbe_Select(previous);
  std::printf("  row %d: window of rows (cursor moved row by row) %.1f ms, map jump %.3f ms, ratio %.0f; "
              "map rebuilt from the index in %.1f ms (%zu record numbers)\n",
              middle, walk, jump, walk / std::max(jump, 0.001), mapWalk, again.size());
  screen.reset();
  Application->ProcessMessages();
}

// The browser's six button bitmaps, each read from the resources as every window
// once did, against copies of those read once per process.
void MeasureButtonBitmaps() {
  const char* names[] = {kBitmapNew, kBitmapEdit, kBitmapDelete, kBitmapHelp, kBitmapAccept, kBitmapCancel};
  std::vector<double> read;
  std::vector<double> copied;
  for (int round = 0; round < 9; ++round) {
    TBitmap bitmaps[6];
    auto t0 = Clock::now();
    for (int i = 0; i < 6; ++i) bitmaps[i].LoadFromResourceName(GetModuleHandleA(nullptr), names[i]);
    read.push_back(Ms(t0, Clock::now()));
    t0 = Clock::now();
    for (int i = 0; i < 6; ++i) bitmaps[i].Assign(vz::phonebook::ButtonBitmap(names[i]));
    copied.push_back(Ms(t0, Clock::now()));
  }
  std::printf("\nsix button bitmaps: read from the resources %.2f ms, copied from those read once %.2f ms\n",
              Median(read), Median(copied));
}

}  // namespace

int main(int argc, char** argv) {
  ProcessStart();
  setvbuf(stdout, nullptr, _IONBF, 0);
  std::string dir = std::filesystem::temp_directory_path().string() + "vz_grid_bench";
  bool small = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--small") == 0)
      small = true;
    else
      dir = argv[i];
  }
  const int sizes[2] = {small ? 10000 : 100000, small ? 100000 : 1000000};
  try {
    TApplication app;
    app.SetTitle("Grid Benchmark");
    std::printf("grid benchmark under %s\n", dir.c_str());
    for (int n : sizes) {
      const std::string sub = dir + "\\n" + std::to_string(n);
      const auto t0 = Clock::now();
      MakePhoneBook(sub, static_cast<unsigned>(n));
      std::printf("phone book of %d entries ready in %.1f s\n", n, Ms(t0, Clock::now()) / 1000);
    }
    MeasureSize(dir + "\\n" + std::to_string(sizes[0]), sizes[0], false);
    MeasureSize(dir + "\\n" + std::to_string(sizes[1]), sizes[1], true);
    MeasureButtonBitmaps();
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gridbench: %s\n", e.what());
    return 1;
  }
}
