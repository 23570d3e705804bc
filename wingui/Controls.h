// Typed, non-owning wrappers of the standard controls the code reads and
// writes, bound once to the window made from the control table.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <vector>

class CheckBox {
 public:
  void Bind(HWND box) { box_ = box; }
  HWND hwnd() const { return box_; }
  bool Checked() const { return SendMessageW(box_, BM_GETCHECK, 0, 0) == BST_CHECKED; }
  void SetChecked(bool checked) { SendMessageW(box_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0); }

 private:
  HWND box_ = nullptr;
};

class ProgressBar {
 public:
  void Bind(HWND bar, int maximum) {
    bar_ = bar;
    SendMessageW(bar_, PBM_SETRANGE32, 0, maximum);
  }
  HWND hwnd() const { return bar_; }
  int Position() const { return int(SendMessageW(bar_, PBM_GETPOS, 0, 0)); }
  // Shown at once, even while the thread is busy.
  void SetPosition(int position) {
    SendMessageW(bar_, PBM_SETPOS, position, 0);
    UpdateWindow(bar_);
  }

 private:
  HWND bar_ = nullptr;
};

// Radio buttons of one group, by position in the order they were bound.
class RadioGroup {
 public:
  void Bind(std::vector<HWND> buttons) { buttons_ = std::move(buttons); }
  HWND At(size_t i) const { return buttons_.at(i); }
  size_t Size() const { return buttons_.size(); }
  bool IsSelected(size_t i) const { return SendMessageW(buttons_.at(i), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  void Select(size_t chosen) {
    for (size_t i = 0; i < buttons_.size(); ++i)
      SendMessageW(buttons_[i], BM_SETCHECK, i == chosen ? BST_CHECKED : BST_UNCHECKED, 0);
  }

 private:
  std::vector<HWND> buttons_;
};
