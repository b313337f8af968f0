#pragma once
// TDBGrid: a read-only grid of a data source's table, on the report-style ListView of
// the common controls in owner-data mode. The ListView addresses rows by number and a
// CDX page holds no count of the keys beneath it, so the grid keeps the table's order
// as a map from row to record number, read from the index alone (one walk of the
// leaves) whenever the set of records changes; the rows themselves are read only when
// they come on screen. The current record and the focused row follow each other.
// The selected rows are the picked ones (RowPicks, by record number): the current
// row alone after a plain click or move, more with Ctrl and Shift; the ListView asks
// the grid which rows are selected and keeps no selection of its own.
// Typing letters jumps to the first name starting with them, through index seeks.
//
// The whole map costs one walk of the leaves (about 100 ms at a million entries), so
// a grid shown on its first records reads only the rows of its first page and the
// count (the scroll bar is whole and right from the start), and the rest of the map
// once its window has painted. Anything that needs a row beyond the first page
// before then (a scroll, End, PgDn, a click, type-ahead, a current record further
// down) reads the rest at once.
//
// One column may stretch: it takes the width the others leave, so that the columns
// fill the grid without a horizontal scroll bar, and never gets narrower than it is
// at the grid's designed size (its size when the stretching is switched on) with a
// vertical scroll bar showing.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dbengine/dataset.hpp"
#include "toolkit/controls.hpp"
#include "toolkit/rowpicks.hpp"

class TDBGrid : public TWinControl, public vz::data::TDataLink {
 public:
  explicit TDBGrid(TComponent* owner);
  ~TDBGrid() override;

  vz::data::TDataSource* DataSource() const { return LinkedSource(); }
  void SetDataSource(vz::data::TDataSource* source);

  void SetParent(TWinControl* parent) override;

  // The column of the field `fieldName` stretches, from the grid's present size on.
  void SetStretchField(const std::string& fieldName);
  // The width of the grid's window and the height it needs to show `rows` whole rows
  // under its headers, with its columns at their least widths.
  int LeastWidth() const;
  int HeightForRows(int rows) const;

  // Rows known to the grid, and the row of the current record (-1: none).
  int RowCount() const { return partial_ ? partialCount_ : picks_.RowCount(); }
  // False while only the first page of the map is read.
  bool OrderComplete() const { return !partial_; }
  int CurrentRow() const;
  // Rows read from the table since the grid was made (what painting cost).
  long RowsRead() const { return rowsRead_; }
  // The picked records, in row order, and how many there are.
  std::vector<int> PickedRecNos() const { return picks_.PickedRecNos(); }
  int PickedCount() const { return static_cast<int>(picks_.Count()); }
  // Reads the table's order again at once (normally done after a change, when idle).
  void Rebuild();
  // Reads the rows a rebuild on its way would read (the first page, or all) now:
  // before the window shows, telling the ListView of them costs it no redraw.
  void ReadRowsNow();
  // Another program's changes never move the table's own change count; the index's
  // change counter shows them. When it moved since the rows were read, the table is
  // refreshed (its current record stays current while it exists, else a neighbour
  // does), the rows are read again at once and repainted: true then. Only while the
  // table is browsed and no rebuild is on its way; one read of four bytes when
  // nothing changed.
  bool FollowOtherChanges();

  // A key pressed in the grid that does not move in it, before the ListView sees it;
  // a handler that sets the key to 0 keeps it from the ListView.
  std::function<void(TComponent* sender, WORD& key)> OnKeyDown;
  // A double click on a row, once the row is current (and picked).
  std::function<void(TComponent* sender)> OnRowDblClick;

  void ActiveChanged(vz::data::TTable& table) override;
  void DataSetChanged(vz::data::TTable& table) override;

 protected:
  void DescribeWindow(CreateParams& params) override;
  bool Notify(NMHDR& header, LRESULT& result) override;
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  vz::data::TTable* Table() const;
  void SetUpColumns();
  int StretchColumn() const;
  void ComputeStretchLeast();
  int ColumnCount() const;
  int OtherColumnsWidth(int stretch) const;
  // Gives the stretching column the width the others leave.
  void FitColumns();
  // The frame and scroll bars' share of the window's width, the vertical bar's
  // counted whether it shows or not.
  int NonClientWidth() const;
  void ScheduleRebuild();
  // The first page's rows and the count alone, the rest of the map read after the
  // window's paint; false (nothing done) when the whole map is wanted at once.
  bool RebuildFirstRows();
  // The ListView told of the rows, the current one shown.
  void ShowOrder();
  // Reads the rest of the map; the ListView is not touched (this may run while it
  // paints), except through a rebuild posted when others changed the rows meanwhile.
  void CompleteOrder();
  // The map read far enough to hold `row`.
  void NeedRow(int row);
  void ShowCurrent();
  void FollowCurrent(int row);
  void RedrawPicks();
  // Takes the selection and the focus from the row shown as current.
  void ClearShownRow();
  void FillCache(int from, int to);
  const std::vector<std::string>* Row(int row);
  void SelectedState(LVITEMA& item) const;
  void GetDisplayText(NMLVDISPINFOA& info);
  void RowChosen(int row);
  void GoToRow(int row);
  bool NavigationKey(WPARAM key);
  bool RowClick(UINT msg, WPARAM wp, LPARAM lp);
  void TypeAhead(char ch);
  int FindRow(const char* text);
  LRESULT CustomDraw(NMLVCUSTOMDRAW& draw);
  void DrawGridLines(HDC dc) const;
  void DrawRowLines(HDC dc, int row, const std::vector<int>& edges) const;

  RowPicks picks_;  // the rows' records in order, and the picked ones
  std::map<int, std::vector<std::string>> cache_;
  std::string displayText_;
  unsigned seenChanges_ = ~0u;
  std::uint32_t seenIndexCounter_ = 0;  // the index's change counter when the rows were read
  bool rebuildPending_ = false;
  bool partial_ = false;   // only the first page of the map is read
  int partialCount_ = 0;   // the rows there are meanwhile
  int shownRow_ = -1;        // the row shown as current: the focused one
  bool following_ = false;  // moving the selection to the current record
  bool columnsMade_ = false;
  std::string stretchField_;
  int designedWidth_ = 0;   // the window's width when the stretching was switched on
  int stretchLeast_ = 0;    // the stretching column's least width, once the columns are made
  bool fitting_ = false;
  long rowsRead_ = 0;
  int paintCurrentRow_ = -1;      // the current row, as the paint in progress found it
  int paintIndicatorWidth_ = 0;   // the indicator column's width, likewise
  std::string typed_;
  DWORD lastTypedAt_ = 0;
};

// Makes TDBGrid known to form templates.
void RegisterDBGrid();
