#pragma once
// RowPicks: the rows a grid shows, in its order, and which of them the user picked.
// The rows are known by the record numbers they show, in row order; the picks, the
// anchor and the focus are kept by record number too, so that a new order (the rows
// read again after a change) keeps them on the same records wherever these now are,
// and drops those that are no longer shown.
//
// The anchor is where a range starts: the record of the last plain or Ctrl pick.
// The focus is the record the last pick was made on (the grid's current record).
#include <cstddef>
#include <unordered_set>
#include <vector>

class RowPicks {
 public:
  // A new order of the rows: the record numbers shown, row by row (0 and below show
  // no record). Picks, anchor and focus on records not among them are dropped.
  void SetOrder(std::vector<int> rowRecNos);

  int RowCount() const { return static_cast<int>(rows_.size()); }
  // The record shown in `row` (0 when none), and the row showing `recno` (-1: none).
  int RecNoOfRow(int row) const;
  int RowOfRecNo(int recno) const;

  // A plain click or move: that row alone is picked, and is the anchor and focus.
  void Pick(int row);
  // Ctrl+click: the row joins or leaves the picks and becomes the anchor and focus.
  void Toggle(int row);
  // Shift+click or Shift+move: the rows from the anchor to `row` are the picks; with
  // `add` (Ctrl held too) they join those picked before. The focus goes to `row`, the
  // anchor stays. Without an anchor (none yet, or its record went) it is a plain pick.
  void ExtendTo(int row, bool add = false);
  // The focus moves to the record `recno` without picking it (0: no focus).
  void MoveFocus(int recno) { focus_ = recno; }

  bool Picked(int row) const;
  bool Empty() const { return picks_.empty(); }
  std::size_t Count() const { return picks_.size(); }
  // The picked records in row order.
  std::vector<int> PickedRecNos() const;
  int Anchor() const { return anchor_; }
  int Focus() const { return focus_; }

 private:
  bool ValidRow(int row) const { return row >= 0 && row < RowCount(); }
  int ScanForRow(int recno) const;
  void MapRowsByRecNo() const;

  std::vector<int> rows_;
  // By record number, -1 for records not shown: made only once many rows are picked.
  mutable std::vector<int> rowOfRecNo_;
  // Until then, the record last scanned for, whether it was found, and the row last
  // found, where the next scan starts.
  mutable int askedRecNo_ = 0;
  mutable bool askedFound_ = false;
  mutable int askedRow_ = 0;
  std::unordered_set<int> picks_;
  int anchor_ = 0;
  int focus_ = 0;
};
