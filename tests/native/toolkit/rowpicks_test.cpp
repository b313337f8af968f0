#include <gtest/gtest.h>

#include <vector>

#include "toolkit/rowpicks.hpp"

namespace {

using Recs = std::vector<int>;

// Name order seldom follows record order: rows 0..5 show records 7, 3, 9, 1, 5, 2.
RowPicks InNameOrder() {
  RowPicks picks;
  picks.SetOrder({7, 3, 9, 1, 5, 2});
  return picks;
}

TEST(RowPicksTest, APlainPickLeavesThatRowAloneAndMakesItAnchorAndFocus) {
  RowPicks picks = InNameOrder();
  EXPECT_TRUE(picks.Empty());
  picks.Toggle(0);
  picks.Toggle(4);
  picks.Pick(2);
  EXPECT_EQ(picks.PickedRecNos(), (Recs{9}));
  EXPECT_EQ(picks.Anchor(), 9);
  EXPECT_EQ(picks.Focus(), 9);
  EXPECT_TRUE(picks.Picked(2));
  EXPECT_FALSE(picks.Picked(0));
  // Rows that show no record pick nothing.
  picks.Pick(6);
  picks.Pick(-1);
  EXPECT_EQ(picks.PickedRecNos(), (Recs{9}));
}

TEST(RowPicksTest, CtrlTogglesRowsInAndOutAndTheyComeBackInRowOrder) {
  RowPicks picks = InNameOrder();
  picks.Pick(4);
  picks.Toggle(1);
  picks.Toggle(3);
  EXPECT_EQ(picks.PickedRecNos(), (Recs{3, 1, 5}));
  EXPECT_EQ(picks.Anchor(), 1);
  picks.Toggle(4);
  EXPECT_EQ(picks.PickedRecNos(), (Recs{3, 1}));
  // The row toggled out is where the focus and the next range start.
  EXPECT_EQ(picks.Focus(), 5);
  EXPECT_EQ(picks.Anchor(), 5);
  picks.Toggle(1);
  picks.Toggle(3);
  EXPECT_TRUE(picks.Empty());
}

TEST(RowPicksTest, ShiftPicksTheRangeFromTheAnchorDownwardsAndUpwards) {
  RowPicks picks = InNameOrder();
  picks.Pick(2);
  picks.ExtendTo(4);
  EXPECT_EQ(picks.PickedRecNos(), (Recs{9, 1, 5}));
  EXPECT_EQ(picks.Focus(), 5);
  EXPECT_EQ(picks.Anchor(), 9);
  // Back over the anchor: the range is on its other side now.
  picks.ExtendTo(0);
  EXPECT_EQ(picks.PickedRecNos(), (Recs{7, 3, 9}));
  picks.ExtendTo(2);
  EXPECT_EQ(picks.PickedRecNos(), (Recs{9}));
  // One row at a time, as Shift+Down does.
  picks.ExtendTo(3);
  picks.ExtendTo(4);
  picks.ExtendTo(5);
  EXPECT_EQ(picks.PickedRecNos(), (Recs{9, 1, 5, 2}));
  picks.ExtendTo(4);
  EXPECT_EQ(picks.PickedRecNos(), (Recs{9, 1, 5}));
}

TEST(RowPicksTest, ShiftAfterCtrlStartsAtTheLastCtrlPickAndWithCtrlKeepsTheOthers) {
  RowPicks picks = InNameOrder();
  picks.Pick(0);
  picks.Toggle(3);
  picks.ExtendTo(5);
  EXPECT_EQ(picks.PickedRecNos(), (Recs{1, 5, 2}));
  picks.Pick(0);
  picks.Toggle(3);
  picks.ExtendTo(4, /*add=*/true);
  EXPECT_EQ(picks.PickedRecNos(), (Recs{7, 1, 5}));
  // Without any pick before, Shift picks the row alone and anchors there.
  RowPicks fresh = InNameOrder();
  fresh.ExtendTo(3);
  EXPECT_EQ(fresh.PickedRecNos(), (Recs{1}));
  EXPECT_EQ(fresh.Anchor(), 1);
}

TEST(RowPicksTest, ANewOrderKeepsThePicksOnTheirRecordsAndDropsThoseGone) {
  RowPicks picks = InNameOrder();
  picks.Pick(1);      // record 3
  picks.Toggle(3);    // record 1
  picks.Toggle(5);    // record 2: anchor and focus
  // Record 3 renamed to sort last, record 9 deleted, record 8 added.
  picks.SetOrder({7, 1, 8, 5, 2, 3});
  EXPECT_EQ(picks.PickedRecNos(), (Recs{1, 2, 3}));
  EXPECT_TRUE(picks.Picked(5));
  EXPECT_FALSE(picks.Picked(2));
  EXPECT_EQ(picks.RowOfRecNo(3), 5);
  EXPECT_EQ(picks.RowOfRecNo(9), -1);
  EXPECT_EQ(picks.RecNoOfRow(2), 8);
  // A range from the anchor runs over the rows as they are now.
  picks.ExtendTo(2);
  EXPECT_EQ(picks.PickedRecNos(), (Recs{8, 5, 2}));

  // The anchor's and focus's records gone: the picks left stay, a range starts afresh.
  picks.Toggle(0);
  picks.SetOrder({1, 8, 5, 2, 3});
  EXPECT_EQ(picks.PickedRecNos(), (Recs{8, 5, 2}));
  EXPECT_EQ(picks.Anchor(), 0);
  EXPECT_EQ(picks.Focus(), 0);
  picks.ExtendTo(4);
  EXPECT_EQ(picks.PickedRecNos(), (Recs{3}));
  picks.SetOrder({});
  EXPECT_TRUE(picks.Empty());
  EXPECT_EQ(picks.RowOfRecNo(3), -1);
}

// Rows asked for near the last one found, far from it, twice, and not shown; then in a
// new order, where a record asked for before may be on another row.
TEST(RowPicksTest, TheRowOfARecordIsFoundWhereverItIsAndFollowsANewOrder) {
  const int n = 1000;
  Recs order;
  for (int row = 0; row < n; ++row) order.push_back((row * 7919) % n + 1);  // every record once, scattered
  RowPicks picks;
  picks.SetOrder(order);
  for (const int row : {500, 501, 499, 560, 0, 999, 999, 3, 700})
    EXPECT_EQ(picks.RowOfRecNo(order[static_cast<std::size_t>(row)]), row) << row;
  EXPECT_EQ(picks.RowOfRecNo(n + 1), -1);
  EXPECT_EQ(picks.RowOfRecNo(n + 1), -1);
  EXPECT_EQ(picks.RowOfRecNo(0), -1);
  const int recno = order[700];
  Recs reversed(order.rbegin(), order.rend());
  picks.SetOrder(reversed);
  EXPECT_EQ(picks.RowOfRecNo(recno), n - 1 - 700);
  picks.SetOrder({recno});
  EXPECT_EQ(picks.RowOfRecNo(recno), 0);
  EXPECT_EQ(picks.RowOfRecNo(order[0]), -1);
}

// Hundreds of rows picked: they come back in row order, and stay on their records
// through a new order that drops some of them.
TEST(RowPicksTest, ManyPicksComeBackInRowOrderAndFollowANewOrder) {
  const int n = 1000;
  Recs order;
  for (int row = 0; row < n; ++row) order.push_back((row * 7919) % n + 1);
  RowPicks picks;
  picks.SetOrder(order);
  picks.Pick(100);
  picks.ExtendTo(399);
  EXPECT_EQ(picks.PickedRecNos(), Recs(order.begin() + 100, order.begin() + 400));
  EXPECT_EQ(picks.RowOfRecNo(order[250]), 250);
  // The first 200 rows go, and the rest are shown in the reverse order.
  Recs rest(order.begin() + 200, order.end());
  Recs reversed(rest.rbegin(), rest.rend());
  picks.SetOrder(reversed);
  EXPECT_EQ(picks.PickedRecNos(), Recs(reversed.end() - 200, reversed.end()));
  EXPECT_EQ(picks.Count(), 200u);
  EXPECT_EQ(picks.RowOfRecNo(order[250]), n - 1 - 250);
  EXPECT_EQ(picks.RowOfRecNo(order[150]), -1);
}

}  // namespace
