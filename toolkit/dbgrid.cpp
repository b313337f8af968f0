#include "toolkit/dbgrid.hpp"

#include <commctrl.h>

#include <windowsx.h>

#include <algorithm>

#include "platform/handles.hpp"
#include "toolkit/application.hpp"
#include "toolkit/forms.hpp"

namespace {

// Posted to the grid's own window: the table changed, read its order again.
constexpr UINT kWmRebuild = WM_APP + 0x210;
// Posted when others changed the rows while the rest of the map was read.
constexpr UINT kWmFollow = WM_APP + 0x211;
// Its message comes once every window has painted.
constexpr UINT_PTR kCompleteOrderTimer = 0x5A1;
// Rows read up front beyond the page: the grid may grow a little before the rest is read.
constexpr int kFirstRowsBeyondPage = 8;
constexpr int kIndicatorWidth = 12;
constexpr int kCellPadding = 8;
// Rows kept in memory beyond those the ListView asks for.
constexpr std::size_t kCacheLimit = 512;
// A pause in typing this long starts a new search.
constexpr DWORD kTypeAheadPauseMs = 1000;

// Measured on the screen's device context: the font's widths are the same there as
// on the grid's, which costs more to get.
int CharWidth(HFONT font) {
  vz::win::WindowDc dc(nullptr);
  vz::win::SelectGuard select(dc.Get(), font);
  SIZE size{};
  GetTextExtentPoint32A(dc.Get(), "0", 1, &size);
  return size.cx > 0 ? size.cx : 6;
}

}  // namespace

TDBGrid::TDBGrid(TComponent* owner) : TWinControl(owner) { SetTabStop(true); }

TDBGrid::~TDBGrid() {
  // The window goes with the control; nothing more may be asked of the table.
  if (DataSource() != nullptr) DataSource()->RemoveLink(this);
}

void TDBGrid::SetDataSource(vz::data::TDataSource* source) {
  if (source != nullptr)
    source->AddLink(this);
  else if (DataSource() != nullptr)
    DataSource()->RemoveLink(this);
  ScheduleRebuild();
}

vz::data::TTable* TDBGrid::Table() const {
  vz::data::TTable* table = DataSource() != nullptr ? DataSource()->DataSet() : nullptr;
  return table != nullptr && table->Active() ? table : nullptr;
}

void TDBGrid::DescribeWindow(CreateParams& p) {
  p.className = WC_LISTVIEWA;
  p.ownClass = false;
  p.style |= LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | WS_VSCROLL | WS_HSCROLL;
  p.exStyle |= WS_EX_CLIENTEDGE;
}

void TDBGrid::SetParent(TWinControl* parent) {
  TWinControl::SetParent(parent);
  if (Handle() == nullptr) return;
  SendMessageA(Handle(), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT,
               LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  // The selected state is the grid's to give (LVN_GETDISPINFO): an owner-data list
  // keeps a selection of its own by row number, which its own handling of input
  // extends and a new row count leaves on whatever record then has that number.
  SendMessageA(Handle(), LVM_SETCALLBACKMASK, LVIS_SELECTED, 0);
  ScheduleRebuild();
}

// The indicator column, then one column per field component in field order, titled
// with its display label and as wide as its display width in characters of the font.
void TDBGrid::SetUpColumns() {
  vz::data::TTable* table = DataSource() != nullptr ? DataSource()->DataSet() : nullptr;
  if (Handle() == nullptr || table == nullptr || columnsMade_) return;
  const int charWidth = CharWidth(Font().Handle());
  LVCOLUMNA column{};
  column.mask = LVCF_WIDTH | LVCF_TEXT;
  column.cx = kIndicatorWidth;
  column.pszText = const_cast<char*>("");
  SendMessageA(Handle(), LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
  int index = 1;
  for (const auto& field : table->Fields()) {
    std::string title = field->DisplayLabel().empty() ? field->FieldName() : field->DisplayLabel();
    column.cx = field->DisplayWidth() * charWidth + kCellPadding;
    column.pszText = title.data();
    SendMessageA(Handle(), LVM_INSERTCOLUMNA, static_cast<WPARAM>(index++), reinterpret_cast<LPARAM>(&column));
  }
  columnsMade_ = true;
  ComputeStretchLeast();
  FitColumns();
}

void TDBGrid::SetStretchField(const std::string& fieldName) {
  stretchField_ = fieldName;
  designedWidth_ = Width();
  ComputeStretchLeast();
  FitColumns();
}

void TDBGrid::ComputeStretchLeast() {
  stretchLeast_ = 0;
  const int stretch = StretchColumn();
  if (Handle() != nullptr && columnsMade_ && stretch > 0)
    stretchLeast_ = std::max(0, designedWidth_ - NonClientWidth() - OtherColumnsWidth(stretch));
}

int TDBGrid::StretchColumn() const {
  vz::data::TTable* table = DataSource() != nullptr ? DataSource()->DataSet() : nullptr;
  if (table == nullptr || stretchField_.empty()) return -1;
  int column = 1;
  for (const auto& field : table->Fields()) {
    if (field->FieldName() == stretchField_) return column;
    ++column;
  }
  return -1;
}

int TDBGrid::ColumnCount() const {
  return static_cast<int>(SendMessageA(ListView_GetHeader(Handle()), HDM_GETITEMCOUNT, 0, 0));
}

int TDBGrid::OtherColumnsWidth(int stretch) const {
  int width = 0;
  for (int c = 0; c < ColumnCount(); ++c)
    if (c != stretch) width += static_cast<int>(SendMessageA(Handle(), LVM_GETCOLUMNWIDTH, c, 0));
  return width;
}

int TDBGrid::NonClientWidth() const {
  RECT window{};
  RECT client{};
  GetWindowRect(Handle(), &window);
  GetClientRect(Handle(), &client);
  const bool barShown = (GetWindowLongPtrA(Handle(), GWL_STYLE) & WS_VSCROLL) != 0;
  return (window.right - window.left) - client.right + (barShown ? 0 : GetSystemMetrics(SM_CXVSCROLL));
}

void TDBGrid::FitColumns() {
  const int stretch = StretchColumn();
  if (Handle() == nullptr || !columnsMade_ || stretch < 0 || fitting_) return;
  // Setting a width can show or hide a scroll bar, which sizes the grid again.
  fitting_ = true;
  RECT client{};
  GetClientRect(Handle(), &client);
  const int width = std::max(stretchLeast_, static_cast<int>(client.right) - OtherColumnsWidth(stretch));
  if (width != static_cast<int>(SendMessageA(Handle(), LVM_GETCOLUMNWIDTH, stretch, 0)))
    SendMessageA(Handle(), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(stretch), MAKELPARAM(width, 0));
  fitting_ = false;
}

int TDBGrid::LeastWidth() const {
  const int stretch = StretchColumn();
  if (Handle() == nullptr || !columnsMade_) return 0;
  const int stretchWidth = stretch > 0 ? stretchLeast_ : 0;
  return NonClientWidth() + OtherColumnsWidth(stretch) + stretchWidth;
}

// The rows start below the headers (and, in some ListViews, a gap for the grid
// lines): where the top row is, when there is one.
int TDBGrid::HeightForRows(int rows) const {
  if (Handle() == nullptr) return 0;
  RECT window{};
  RECT client{};
  GetWindowRect(Handle(), &window);
  GetClientRect(Handle(), &client);
  const bool barShown = (GetWindowLongPtrA(Handle(), GWL_STYLE) & WS_HSCROLL) != 0;
  const int frame = (window.bottom - window.top) - client.bottom - (barShown ? GetSystemMetrics(SM_CYHSCROLL) : 0);
  RECT first{};
  first.left = LVIR_BOUNDS;
  const WPARAM topRow = static_cast<WPARAM>(SendMessageA(Handle(), LVM_GETTOPINDEX, 0, 0));
  if (RowCount() > 0 && SendMessageA(Handle(), LVM_GETITEMRECT, topRow, reinterpret_cast<LPARAM>(&first)))
    return frame + first.top + rows * (first.bottom - first.top);
  // No row to measure: the headers' height, and the rows' from the ListView's estimate.
  RECT header{};
  GetWindowRect(ListView_GetHeader(Handle()), &header);
  const DWORD one = static_cast<DWORD>(SendMessageA(Handle(), LVM_APPROXIMATEVIEWRECT, 1, MAKELPARAM(-1, -1)));
  const DWORD two = static_cast<DWORD>(SendMessageA(Handle(), LVM_APPROXIMATEVIEWRECT, 2, MAKELPARAM(-1, -1)));
  return frame + (header.bottom - header.top) + rows * (HIWORD(two) - HIWORD(one));
}

void TDBGrid::ScheduleRebuild() {
  if (Handle() == nullptr || rebuildPending_) return;
  rebuildPending_ = true;
  PostMessageA(Handle(), kWmRebuild, 0, 0);
}

void TDBGrid::Rebuild() {
  rebuildPending_ = false;
  partial_ = false;
  if (Handle() != nullptr) KillTimer(Handle(), kCompleteOrderTimer);
  SetUpColumns();
  vz::data::TTable* table = Table();
  cache_.clear();
  // Read before the order: a change landing in between moves it again, and is followed.
  const std::uint32_t indexCounter = table != nullptr ? table->IndexChangeCounter() : 0;
  // The picks stay on their records; those gone from the rows drop out.
  picks_.SetOrder(table != nullptr ? table->OrderRecNos() : std::vector<int>{});
  seenIndexCounter_ = indexCounter;
  seenChanges_ = table != nullptr ? table->ChangeCount() : ~0u;
  if (Handle() != nullptr) ShowOrder();
}

void TDBGrid::ReadRowsNow() {
  if (rebuildPending_ && !RebuildFirstRows()) Rebuild();
}

void TDBGrid::ShowOrder() {
  // The ListView keeps an owner-data list's focus by row number across a new count,
  // where that number may now be another record's row.
  ClearShownRow();
  SendMessageA(Handle(), LVM_SETITEMCOUNT, static_cast<WPARAM>(RowCount()), 0);
  FitColumns();  // the vertical scroll bar may have come or gone
  Invalidate();
  ShowCurrent();
}

// Only in the table's index order (the count then comes from the tag whose condition
// the filter is) and when the current record is on the first page: a grid opened
// further down needs its row number, which only the whole map gives. A table that
// fits the first page is read whole.
bool TDBGrid::RebuildFirstRows() {
  SetUpColumns();
  vz::data::TTable* table = Table();
  if (Handle() == nullptr || table == nullptr || table->IndexName().empty() ||
      table->State() != vz::data::TDataSetState::dsBrowse)
    return false;
  const int page = static_cast<int>(SendMessageA(Handle(), LVM_GETCOUNTPERPAGE, 0, 0));
  const std::uint32_t indexCounter = table->IndexChangeCounter();
  const int count = table->RecordCount();
  vz::data::TTable::TopRows first = table->ReadTopRows(std::max(page, 1) + kFirstRowsBeyondPage);
  const int read = static_cast<int>(first.recnos.size());
  if (count <= read) return false;
  if (!table->IsEmpty() && std::find(first.recnos.begin(), first.recnos.end(), table->RecNo()) == first.recnos.end())
    return false;
  rebuildPending_ = false;
  // The first rows are read with their record numbers, not once more for the paint.
  cache_.clear();
  for (int row = 0; row < read; ++row) cache_[row] = std::move(first.rows[static_cast<std::size_t>(row)]);
  rowsRead_ += read;
  picks_.SetOrder(std::move(first.recnos));
  partial_ = true;
  partialCount_ = count;
  seenIndexCounter_ = indexCounter;
  seenChanges_ = table->ChangeCount();
  ShowOrder();
  SetTimer(Handle(), kCompleteOrderTimer, USER_TIMER_MINIMUM, nullptr);
  return true;
}

void TDBGrid::CompleteOrder() {
  if (!partial_) return;
  partial_ = false;
  if (Handle() != nullptr) KillTimer(Handle(), kCompleteOrderTimer);
  vz::data::TTable* table = Table();
  if (table == nullptr) {
    picks_.SetOrder({});
    ScheduleRebuild();
    return;
  }
  const std::uint32_t indexCounter = table->IndexChangeCounter();
  picks_.SetOrder(table->OrderRecNos());
  // The index moved since the first rows were read: the seen counter stays behind, so
  // that following the change refreshes the table and reads the rows again.
  if (indexCounter != seenIndexCounter_ || picks_.RowCount() != partialCount_) {
    cache_.clear();
    if (Handle() != nullptr) PostMessageA(Handle(), kWmFollow, 0, 0);
  }
}

void TDBGrid::NeedRow(int row) {
  if (partial_ && row >= picks_.RowCount()) CompleteOrder();
}

void TDBGrid::ClearShownRow() {
  if (shownRow_ < 0) return;
  const int row = shownRow_;
  shownRow_ = -1;
  following_ = true;
  LVITEMA state{};
  state.stateMask = LVIS_FOCUSED;
  SendMessageA(Handle(), LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
  following_ = false;
  ListView_RedrawItems(Handle(), row, row);
}

bool TDBGrid::FollowOtherChanges() {
  vz::data::TTable* table = Table();
  // A rebuild on its way reads everything anyway.
  if (table == nullptr || rebuildPending_ || table->State() != vz::data::TDataSetState::dsBrowse) return false;
  if (table->IndexChangeCounter() == seenIndexCounter_) return false;
  table->Refresh();
  Rebuild();
  return true;
}

int TDBGrid::CurrentRow() const {
  vz::data::TTable* table = Table();
  if (table == nullptr || table->IsEmpty()) return -1;
  return picks_.RowOfRecNo(table->RecNo());
}

// Focuses and shows the current record's row, and moves the indicator there; the
// picks follow (see FollowCurrent).
void TDBGrid::ShowCurrent() {
  if (Handle() == nullptr) return;
  vz::data::TTable* table = Table();
  if (partial_ && table != nullptr && !table->IsEmpty() && CurrentRow() < 0) CompleteOrder();
  const int row = CurrentRow();
  if (shownRow_ != row) ClearShownRow();
  shownRow_ = row;
  if (row >= 0) {
    FollowCurrent(row);
    following_ = true;
    LVITEMA state{};
    state.stateMask = LVIS_FOCUSED;
    state.state = LVIS_FOCUSED;
    SendMessageA(Handle(), LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
    following_ = false;
    SendMessageA(Handle(), LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    ListView_RedrawItems(Handle(), row, row);
  }
}

// The current record moved other than by a pick (a plain key or click, a new entry,
// type-ahead, the program): it is picked alone, as a plain click picks it. When the
// focused record went from the rows (deleted, here or elsewhere) while others stay
// picked, they stay, and the focus moves without picking.
void TDBGrid::FollowCurrent(int row) {
  const int recno = picks_.RecNoOfRow(row);
  if (picks_.Focus() == recno) return;
  if (picks_.Focus() == 0 && !picks_.Empty())
    picks_.MoveFocus(recno);
  else
    picks_.Pick(row);
  RedrawPicks();
}

// Picks may change on any row on screen.
void TDBGrid::RedrawPicks() {
  if (Showing()) InvalidateRect(Handle(), nullptr, FALSE);
}

void TDBGrid::ActiveChanged(vz::data::TTable&) { ScheduleRebuild(); }

void TDBGrid::DataSetChanged(vz::data::TTable& table) {
  if (table.ChangeCount() != seenChanges_)
    ScheduleRebuild();
  else if (!rebuildPending_)
    ShowCurrent();
}

void TDBGrid::FillCache(int from, int to) {
  vz::data::TTable* table = Table();
  if (table == nullptr) return;
  from = std::max(from, 0);
  to = std::min(to, RowCount() - 1);
  NeedRow(to);
  to = std::min(to, RowCount() - 1);
  if (cache_.size() > kCacheLimit) cache_.clear();
  std::vector<int> rows;
  std::vector<int> recnos;
  for (int row = from; row <= to; ++row) {
    if (cache_.count(row) != 0) continue;
    rows.push_back(row);
    recnos.push_back(picks_.RecNoOfRow(row));
  }
  if (recnos.empty()) return;
  auto read = table->ReadRows(recnos);
  rowsRead_ += static_cast<long>(recnos.size());
  for (std::size_t i = 0; i < rows.size(); ++i) cache_[rows[i]] = std::move(read[i]);
}

const std::vector<std::string>* TDBGrid::Row(int row) {
  if (row < 0 || row >= RowCount()) return nullptr;
  NeedRow(row);
  if (cache_.count(row) == 0) FillCache(row, row);
  const auto it = cache_.find(row);
  return it != cache_.end() ? &it->second : nullptr;
}

// The picked rows are the selected ones.
void TDBGrid::SelectedState(LVITEMA& item) const {
  if (!(item.mask & LVIF_STATE) || !(item.stateMask & LVIS_SELECTED)) return;
  item.state &= ~LVIS_SELECTED;
  if (picks_.Picked(item.iItem)) item.state |= LVIS_SELECTED;
}

void TDBGrid::GetDisplayText(NMLVDISPINFOA& info) {
  if (!(info.item.mask & LVIF_TEXT) || info.item.pszText == nullptr || info.item.cchTextMax <= 0) return;
  displayText_.clear();
  const std::vector<std::string>* row = info.item.iSubItem > 0 ? Row(info.item.iItem) : nullptr;
  if (row != nullptr && static_cast<std::size_t>(info.item.iSubItem) <= row->size())
    displayText_ = (*row)[static_cast<std::size_t>(info.item.iSubItem) - 1];
  const std::size_t n = std::min(displayText_.size(), static_cast<std::size_t>(info.item.cchTextMax - 1));
  displayText_.copy(info.item.pszText, n);
  info.item.pszText[n] = '\0';
}

void TDBGrid::RowChosen(int row) {
  vz::data::TTable* table = Table();
  if (table == nullptr || row < 0 || row >= RowCount()) return;
  NeedRow(row);
  const int recno = picks_.RecNoOfRow(row);
  if (recno <= 0) return;
  if (shownRow_ != row) {
    const int before = shownRow_;
    shownRow_ = row;
    if (before >= 0) ListView_RedrawItems(Handle(), before, before);
    ListView_RedrawItems(Handle(), row, row);
  }
  if (picks_.Focus() != recno) {
    picks_.Pick(row);
    RedrawPicks();
  }
  if (table->RecNo() == recno) return;
  table->GotoBookmark(recno);
}

int TDBGrid::FindRow(const char* text) {
  vz::data::TTable* table = Table();
  if (table == nullptr || text == nullptr) return -1;
  // Letters typed while the rows wait to be read again (a change was just written:
  // its writing takes a while when every change goes to the device) find in rows
  // read now.
  if (rebuildPending_) Rebuild();
  if (!table->FindNearestCaseless(text)) return -1;
  // The index found a record the rows do not hold: another program added it since
  // they were read.
  if (CurrentRow() < 0) Rebuild();
  return CurrentRow();
}

// The indicator column is drawn here: a small triangle on the current record's row.
// Its width and the current row are read once a paint, not once a row.
LRESULT TDBGrid::CustomDraw(NMLVCUSTOMDRAW& draw) {
  const DWORD stage = draw.nmcd.dwDrawStage;
  if (stage == CDDS_PREPAINT) {
    paintCurrentRow_ = CurrentRow();
    paintIndicatorWidth_ = static_cast<int>(SendMessageA(Handle(), LVM_GETCOLUMNWIDTH, 0, 0));
    return CDRF_NOTIFYITEMDRAW | CDRF_NOTIFYPOSTPAINT;
  }
  if (stage == CDDS_POSTPAINT) {
    DrawGridLines(draw.nmcd.hdc);
    return CDRF_DODEFAULT;
  }
  if (stage == CDDS_ITEMPREPAINT) return CDRF_NOTIFYSUBITEMDRAW;
  const int row = static_cast<int>(draw.nmcd.dwItemSpec);
  if (stage != (CDDS_ITEMPREPAINT | CDDS_SUBITEM) || draw.iSubItem != 0) return CDRF_DODEFAULT;
  RECT box{};
  ListView_GetItemRect(Handle(), row, &box, LVIR_BOUNDS);
  box.right = box.left + paintIndicatorWidth_ - 1;
  box.bottom -= 1;
  vz::gfx::FillRectColor(draw.nmcd.hdc, box, clBtnFace);
  if (row == paintCurrentRow_) {
    const int midY = (box.top + box.bottom) / 2;
    const int x = box.left + 3;
    POINT tri[3] = {{x, midY - 4}, {x + 4, midY}, {x, midY + 4}};
    vz::win::Brush brush(CreateSolidBrush(RGB(0, 0, 0)));
    vz::win::SelectGuard selBrush(draw.nmcd.hdc, brush.Get());
    vz::win::SelectGuard selPen(draw.nmcd.hdc, GetStockObject(BLACK_PEN));
    Polygon(draw.nmcd.hdc, tri, 3);
  }
  return CDRF_SKIPDEFAULT;
}

// Row and column lines over the rows on screen, drawn once the ListView has painted,
// on its paint's device context: the ListView's own lines take the button face colour,
// too faint on some desktops. One pen and one reading of the column widths for all the
// rows: the first paint comes before anything else the user sees.
void TDBGrid::DrawGridLines(HDC dc) const {
  vz::win::Pen pen(CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW)));
  vz::win::SelectGuard select(dc, pen.Get());
  std::vector<int> edges;  // each column's last pixel, from the row's left
  int x = 0;
  for (int c = 0; c < ColumnCount(); ++c) {
    x += static_cast<int>(SendMessageA(Handle(), LVM_GETCOLUMNWIDTH, c, 0));
    edges.push_back(x - 1);
  }
  const int top = static_cast<int>(SendMessageA(Handle(), LVM_GETTOPINDEX, 0, 0));
  const int page = static_cast<int>(SendMessageA(Handle(), LVM_GETCOUNTPERPAGE, 0, 0));
  for (int row = top; row <= top + page && row < RowCount(); ++row) DrawRowLines(dc, row, edges);
}

void TDBGrid::DrawRowLines(HDC dc, int row, const std::vector<int>& edges) const {
  RECT r{};
  ListView_GetItemRect(Handle(), row, &r, LVIR_BOUNDS);
  MoveToEx(dc, r.left, r.bottom - 1, nullptr);
  LineTo(dc, r.right, r.bottom - 1);
  for (const int edge : edges) {
    MoveToEx(dc, r.left + edge, r.top, nullptr);
    LineTo(dc, r.left + edge, r.bottom);
  }
}

bool TDBGrid::Notify(NMHDR& header, LRESULT& result) {
  switch (header.code) {
    case LVN_GETDISPINFOA:
      SelectedState(reinterpret_cast<NMLVDISPINFOA&>(header).item);
      GetDisplayText(reinterpret_cast<NMLVDISPINFOA&>(header));
      return true;
    case LVN_ODCACHEHINT: {
      const auto& hint = reinterpret_cast<NMLVCACHEHINT&>(header);
      FillCache(hint.iFrom, hint.iTo);
      return true;
    }
    case LVN_ITEMCHANGED: {
      const auto& change = reinterpret_cast<NMLISTVIEW&>(header);
      if (!following_ && change.iItem >= 0 && (change.uNewState & LVIS_FOCUSED) && !(change.uOldState & LVIS_FOCUSED))
        RowChosen(change.iItem);
      return true;
    }
    case LVN_ODFINDITEMA: {
      const auto& find = reinterpret_cast<NMLVFINDITEMA&>(header);
      result = (find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) ? FindRow(find.lvfi.psz) : -1;
      return true;
    }
    case LVN_ODFINDITEMW: {
      // Typed letters come in wide characters from some ListViews, whatever the
      // notification format, flagged partial without the string flag: back to the
      // ANSI code page the table is written in.
      const auto& find = reinterpret_cast<NMLVFINDITEMW&>(header);
      result = -1;
      if ((find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) && find.lvfi.psz != nullptr) {
        char text[256] = {};
        if (WideCharToMultiByte(CP_ACP, 0, find.lvfi.psz, -1, text, sizeof(text) - 1, nullptr, nullptr) > 0)
          result = FindRow(text);
      }
      return true;
    }
    case NM_CUSTOMDRAW:
      result = CustomDraw(reinterpret_cast<NMLVCUSTOMDRAW&>(header));
      return true;
    default:
      return false;
  }
}

// The row `row` made current (the selection follows through the data link).
void TDBGrid::GoToRow(int row) {
  vz::data::TTable* table = Table();
  if (table == nullptr || RowCount() == 0) return;
  NeedRow(row);
  if (RowCount() == 0) return;
  row = std::clamp(row, 0, RowCount() - 1);
  if (table->RecNo() == picks_.RecNoOfRow(row))
    ShowCurrent();
  else
    table->GotoBookmark(picks_.RecNoOfRow(row));
}

// Moving keys are answered here rather than by the ListView, which clears the old
// selection of an owner-data list by visiting every row: a pass over the whole phone
// book for each key. (For the same reason the list is not single-selection: the grid
// keeps the picked rows selected itself.) With Ctrl they move the same way; with
// Shift they pick the rows from the anchor to where they move (with Ctrl too, beside
// the rows picked before).
bool TDBGrid::NavigationKey(WPARAM key) {
  if (rebuildPending_) return false;
  const int page = std::max(1, static_cast<int>(SendMessageA(Handle(), LVM_GETCOUNTPERPAGE, 0, 0)) - 1);
  const int row = CurrentRow();
  int to = row;
  switch (key) {
    case VK_UP: to = row - 1; break;
    case VK_DOWN: to = row + 1; break;
    case VK_PRIOR: to = row - page; break;
    case VK_NEXT: to = row + page; break;
    case VK_HOME: to = 0; break;
    case VK_END: to = RowCount() - 1; break;
    default: return false;
  }
  NeedRow(to);
  to = std::clamp(to, 0, std::max(0, RowCount() - 1));
  if (GetKeyState(VK_SHIFT) < 0) {
    picks_.ExtendTo(to, GetKeyState(VK_CONTROL) < 0);
    RedrawPicks();
  }
  GoToRow(to);
  return true;
}

// A click on a row makes it current (for the same reason as the keys), picking it
// alone; with Ctrl it joins or leaves the picks, with Shift the rows from the anchor
// to it are picked (with Ctrl too, beside those picked before). Clicks on the headers
// and scroll bars stay the ListView's.
bool TDBGrid::RowClick(UINT msg, WPARAM wp, LPARAM lp) {
  LVHITTESTINFO hit{};
  hit.pt = POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
  const int row = static_cast<int>(SendMessageA(Handle(), LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
  if (row < 0 || rebuildPending_) return false;
  NeedRow(row);
  if (row >= RowCount()) return false;
  ::SetFocus(Handle());
  const bool ctrl = (wp & MK_CONTROL) != 0;
  if (msg == WM_LBUTTONDBLCLK) {
    // The first click of a plain double click has picked the row alone already.
    if (!picks_.Picked(row)) picks_.Pick(row);
  } else if ((wp & MK_SHIFT) != 0) {
    picks_.ExtendTo(row, ctrl);
  } else if (ctrl) {
    picks_.Toggle(row);
  } else {
    picks_.Pick(row);
  }
  RedrawPicks();
  GoToRow(row);
  if (msg == WM_LBUTTONDBLCLK && OnRowDblClick) OnRowDblClick(this);
  return true;
}

// Typed letters: the text typed within a second, searched through the index. Anything
// else the user does in between (a key that moves, a command that takes the focus
// away) starts the text afresh.
void TDBGrid::TypeAhead(char ch) {
  const DWORD now = GetTickCount();
  if (now - lastTypedAt_ > kTypeAheadPauseMs) typed_.clear();
  lastTypedAt_ = now;
  typed_ += ch;
  FindRow(typed_.c_str());
}

LRESULT TDBGrid::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kWmRebuild:
      ReadRowsNow();
      return 0;
    case kWmFollow:
      if (!FollowOtherChanges()) Rebuild();
      return 0;
    case WM_TIMER:
      if (wp != kCompleteOrderTimer) break;
      CompleteOrder();
      return 0;
    case WM_KEYDOWN:
      if (NavigationKey(wp)) {
        typed_.clear();
        return 0;
      }
      if (OnKeyDown) {
        WORD key = static_cast<WORD>(wp);
        OnKeyDown(this, key);
        if (key == 0) return 0;
      }
      break;
    case WM_KILLFOCUS:
      typed_.clear();
      break;
    case WM_CHAR:
      if (static_cast<unsigned char>(wp) >= ' ') {
        TypeAhead(static_cast<char>(wp));
        return 0;
      }
      break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (RowClick(msg, wp, lp)) return 0;
      break;
    default:
      break;
  }
  const LRESULT result = TWinControl::OnMessage(msg, wp, lp);
  if (msg == WM_SIZE) FitColumns();
  return result;
}

void RegisterDBGrid() {
  RegisterControlClass("TDBGrid", [](TComponent* owner) { return new TDBGrid(owner); });
}
