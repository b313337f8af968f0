#include "toolkit/rowpicks.hpp"

#include <algorithm>
#include <utility>

namespace {

// Up to this many picks, a row is found by scanning the rows; beyond it the rows are
// mapped by record number, which takes as much memory again as the rows themselves.
constexpr std::size_t kScannedPicks = 16;
// How far from the row found last a scan looks first: the current record mostly moves
// by a row or a page.
constexpr int kNearRows = 64;

}  // namespace

void RowPicks::SetOrder(std::vector<int> rowRecNos) {
  rows_ = std::move(rowRecNos);
  std::vector<int>().swap(rowOfRecNo_);
  askedRecNo_ = 0;
  std::erase_if(picks_, [this](int recno) { return RowOfRecNo(recno) < 0; });
  if (RowOfRecNo(anchor_) < 0) anchor_ = 0;
  if (RowOfRecNo(focus_) < 0) focus_ = 0;
}

int RowPicks::RecNoOfRow(int row) const { return ValidRow(row) ? rows_[static_cast<std::size_t>(row)] : 0; }

int RowPicks::RowOfRecNo(int recno) const {
  if (recno <= 0) return -1;
  if (rowOfRecNo_.empty() && picks_.size() > kScannedPicks) MapRowsByRecNo();
  if (rowOfRecNo_.empty()) return ScanForRow(recno);
  return static_cast<std::size_t>(recno) < rowOfRecNo_.size() ? rowOfRecNo_[static_cast<std::size_t>(recno)] : -1;
}

int RowPicks::ScanForRow(int recno) const {
  if (recno == askedRecNo_) return askedFound_ ? askedRow_ : -1;
  const auto near = [this](int offset) {
    return rows_.begin() + std::clamp(askedRow_ + offset, 0, RowCount());
  };
  auto found = std::find(near(-kNearRows), near(kNearRows + 1), recno);
  if (found == near(kNearRows + 1)) found = std::find(rows_.begin(), rows_.end(), recno);
  askedRecNo_ = recno;
  askedFound_ = found != rows_.end();
  if (askedFound_) askedRow_ = static_cast<int>(found - rows_.begin());
  return askedFound_ ? askedRow_ : -1;
}

void RowPicks::MapRowsByRecNo() const {
  const int highest = rows_.empty() ? 0 : std::max(0, *std::max_element(rows_.begin(), rows_.end()));
  rowOfRecNo_.assign(static_cast<std::size_t>(highest) + 1, -1);
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i] > 0) rowOfRecNo_[static_cast<std::size_t>(rows_[i])] = static_cast<int>(i);
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
