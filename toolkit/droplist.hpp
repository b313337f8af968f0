#pragma once
// TDropList: the list that drops down under an edit box with texts to choose from
// (a name and, right-aligned, a number on each row). It never takes the focus: the
// box keeps it and passes Up, Down, Enter and Esc on; a click picks a row.
#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/handles.hpp"

class TDropList {
 public:
  using Row = std::pair<std::string, std::string>;
  TDropList() = default;
  TDropList(const TDropList&) = delete;
  TDropList& operator=(const TDropList&) = delete;

  // Shows `rows` under `box` (owned by the box's top-level window), the first one
  // highlighted; no rows close the list. The window's text lists the rows,
  // "name<TAB>number" each, CR LF between them.
  void Open(HWND box, std::vector<Row> rows);
  void Close();
  bool IsOpen() const { return window_.Get() != nullptr && IsWindowVisible(window_.Get()); }
  HWND Handle() const { return window_.Get(); }
  const std::vector<Row>& Rows() const { return rows_; }
  int Selected() const { return selected_; }
  // Moves the highlight by `step` rows, staying inside the list.
  void Move(int step);

  // A row chosen by a click (the index); Enter is the box's to handle.
  std::function<void(int row)> OnPick;

  static constexpr int kRowHeight = 18;

 private:
  static LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  void Paint();
  bool Create(HWND owner);

  vz::win::OwnedWindow window_;
  HFONT font_ = nullptr;  // the box's font, owned by the dialog
  std::vector<Row> rows_;
  int selected_ = -1;
};
