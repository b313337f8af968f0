#include "toolkit/placement.hpp"

#include <algorithm>

#include "toolkit/forms.hpp"

RECT CentredOver(const RECT& over, int width, int height) {
  const int left = over.left + ((over.right - over.left) - width) / 2;
  const int top = over.top + ((over.bottom - over.top) - height) / 2;
  return RECT{left, top, left + width, top + height};
}

RECT KeptInside(const RECT& r, const RECT& work) {
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  // The far edge first, then the near one: the near edge wins when both cannot hold.
  const int left = std::max<int>(std::min<int>(r.left, work.right - width), work.left);
  const int top = std::max<int>(std::min<int>(r.top, work.bottom - height), work.top);
  return RECT{left, top, left + width, top + height};
}

RECT PrimaryWorkArea() {
  RECT work{};
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0) || work.right <= work.left || work.bottom <= work.top)
    work = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  return work;
}

RECT WorkAreaOf(const RECT& r) {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  HMONITOR monitor = MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST);
  if (monitor != nullptr && GetMonitorInfoA(monitor, &info)) return info.rcWork;
  return PrimaryWorkArea();
}

bool PlacesOthers(HWND wnd) {
  if (wnd == nullptr || !IsWindow(wnd) || !IsWindowVisible(wnd) || IsIconic(wnd)) return false;
  RECT r{};
  GetWindowRect(wnd, &r);
  return MonitorFromRect(&r, MONITOR_DEFAULTTONULL) != nullptr;
}

RECT ReferenceRect(HWND wnd) {
  RECT r{};
  GetWindowRect(wnd, &r);
  // A maximised window's frame hangs over the screen's edges.
  return IsZoomed(wnd) ? WorkAreaOf(r) : r;
}

void PlaceCentredOver(TForm& form, const RECT& over) {
  const RECT centred = CentredOver(over, form.Width(), form.Height());
  const RECT placed = KeptInside(centred, WorkAreaOf(centred));
  form.SetBounds(placed.left, placed.top, form.Width(), form.Height());
}
