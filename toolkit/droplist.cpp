#include "toolkit/droplist.hpp"

#include <windowsx.h>

#include <algorithm>

#include "platform/windowclass.hpp"
#include "toolkit/application.hpp"

namespace {
constexpr char kClassName[] = "VzDropList";
}

bool TDropList::Create(HWND owner) {
  if (window_.Get() != nullptr) return true;
  WNDCLASSA wc{};
  wc.lpfnWndProc = &TDropList::WindowProc;
  wc.lpszClassName = kClassName;
  wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  if (!vz::win::EnsureWindowClass(wc)) return false;
  window_.Reset(CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE | WS_EX_TOPMOST, kClassName, "",
                                WS_POPUP | WS_BORDER, 0, 0, 10, 10, owner, nullptr, GetModuleHandleA(nullptr),
                                this));
  return window_.Get() != nullptr;
}

void TDropList::Open(HWND box, std::vector<Row> rows) {
  if (rows.empty()) {
    Close();
    return;
  }
  if (!Create(GetAncestor(box, GA_ROOT))) return;
  rows_ = std::move(rows);
  selected_ = 0;
  // The rows are also the window's text, "name<TAB>number" a line, for screen
  // readers and scripts.
  std::string text;
  for (const auto& [name, number] : rows_) text += (text.empty() ? "" : "\r\n") + name + "\t" + number;
  SetWindowTextA(window_.Get(), text.c_str());
  font_ = reinterpret_cast<HFONT>(SendMessageA(box, WM_GETFONT, 0, 0));
  RECT r{};
  GetWindowRect(box, &r);
  const int height = static_cast<int>(rows_.size()) * kRowHeight + 2;
  SetWindowPos(window_.Get(), HWND_TOPMOST, r.left, r.bottom, r.right - r.left, height, SWP_NOACTIVATE | SWP_SHOWWINDOW);
  InvalidateRect(window_.Get(), nullptr, TRUE);
  UpdateWindow(window_.Get());
}

void TDropList::Close() {
  if (window_.Get() != nullptr) ShowWindow(window_.Get(), SW_HIDE);
  rows_.clear();
  selected_ = -1;
}

void TDropList::Move(int step) {
  if (rows_.empty()) return;
  selected_ = std::clamp(selected_ + step, 0, static_cast<int>(rows_.size()) - 1);
  InvalidateRect(window_.Get(), nullptr, TRUE);
}

LRESULT CALLBACK TDropList::WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TDropList*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  if (self == nullptr || self->window_.Get() != wnd) return DefWindowProcA(wnd, msg, wp, lp);
  try {
    return self->OnMessage(msg, wp, lp);
  } catch (const std::exception& error) {
    if (Application != nullptr) Application->HandleException(error);
  } catch (...) {
  }
  return 0;
}

LRESULT TDropList::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_LBUTTONDOWN: {
      const int row = GET_Y_LPARAM(lp) / kRowHeight;
      if (row >= 0 && row < static_cast<int>(rows_.size()) && OnPick) OnPick(row);
      return 0;
    }
    case WM_PAINT:
      Paint();
      return 0;
    default:
      return DefWindowProcA(window_.Get(), msg, wp, lp);
  }
}

// The highlighted row in the system's selection colours; the number right-aligned.
void TDropList::Paint() {
  vz::win::PaintScope paint(window_.Get());
  HDC dc = paint.Dc();
  vz::win::SelectGuard font(dc, font_ != nullptr ? static_cast<HGDIOBJ>(font_) : GetStockObject(DEFAULT_GUI_FONT));
  RECT client{};
  GetClientRect(window_.Get(), &client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
  SetBkMode(dc, TRANSPARENT);
  for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
    RECT row{client.left, i * kRowHeight, client.right, (i + 1) * kRowHeight};
    const bool lit = i == selected_;
    if (lit) FillRect(dc, &row, GetSysColorBrush(COLOR_HIGHLIGHT));
    SetTextColor(dc, GetSysColor(lit ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT text{row.left + 4, row.top, row.right - 4, row.bottom};
    const auto& [name, number] = rows_[static_cast<std::size_t>(i)];
    DrawTextA(dc, number.c_str(), static_cast<int>(number.size()), &text, DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    DrawTextA(dc, name.c_str(), static_cast<int>(name.size()), &text,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
}
