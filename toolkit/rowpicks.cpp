#include "toolkit/rowpicks.hpp"

#include <algorithm>
#include <utility>

void RowPicks::SetOrder(std::vector<int> rowRecNos) {
  rows_ = std::move(rowRecNos);
  const int highest = rows_.empty() ? 0 : std::max(0, *std::max_element(rows_.begin(), rows_.end()));
  rowOfRecNo_.assign(static_cast<std::size_t>(highest) + 1, -1);
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i] > 0) rowOfRecNo_[static_cast<std::size_t>(rows_[i])] = static_cast<int>(i);
  std::erase_if(picks_, [this](int recno) { return RowOfRecNo(recno) < 0; });
  if (RowOfRecNo(anchor_) < 0) anchor_ = 0;
  if (RowOfRecNo(focus_) < 0) focus_ = 0;
}

int RowPicks::RecNoOfRow(int row) const { return ValidRow(row) ? rows_[static_cast<std::size_t>(row)] : 0; }

int RowPicks::RowOfRecNo(int recno) const {
  if (recno <= 0 || static_cast<std::size_t>(recno) >= rowOfRecNo_.size()) return -1;
  return rowOfRecNo_[static_cast<std::size_t>(recno)];
}

void RowPicks::Pick(int row) {
  const int recno = RecNoOfRow(row);
  if (recno <= 0) return;
  picks_.clear();
  picks_.insert(recno);
  anchor_ = focus_ = recno;
}

void RowPicks::Toggle(int row) {
  const int recno = RecNoOfRow(row);
  if (recno <= 0) return;
  if (picks_.erase(recno) == 0) picks_.insert(recno);
  anchor_ = focus_ = recno;
}

void RowPicks::ExtendTo(int row, bool add) {
  const int recno = RecNoOfRow(row);
  if (recno <= 0) return;
  const int from = RowOfRecNo(anchor_);
  if (from < 0) {
    Pick(row);
    return;
  }
  if (!add) picks_.clear();
  for (int r = std::min(from, row); r <= std::max(from, row); ++r)
    if (rows_[static_cast<std::size_t>(r)] > 0) picks_.insert(rows_[static_cast<std::size_t>(r)]);
  focus_ = recno;
}

bool RowPicks::Picked(int row) const {
  const int recno = RecNoOfRow(row);
  return recno > 0 && picks_.count(recno) != 0;
}

std::vector<int> RowPicks::PickedRecNos() const {
  std::vector<int> rows;
  rows.reserve(picks_.size());
  for (int recno : picks_) rows.push_back(RowOfRecNo(recno));
  std::sort(rows.begin(), rows.end());
  std::vector<int> recnos;
  recnos.reserve(rows.size());
  for (int row : rows) recnos.push_back(RecNoOfRow(row));
  return recnos;
}
