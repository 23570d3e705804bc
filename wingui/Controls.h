// Typed, non-owning wrappers of the standard controls the code reads and
// writes, bound once to the window made from the control table.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <vector>

// Check boxes and radio buttons alike.
inline bool IsChecked(HWND button) { return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }
inline void SetChecked(HWND button, bool checked) {
  SendMessageW(button, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

class CheckBox {
 public:
  void Bind(HWND box) { box_ = box; }
  HWND hwnd() const { return box_; }
  bool Checked() const { return IsChecked(box_); }
  void SetChecked(bool checked) { ::SetChecked(box_, checked); }

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
  bool IsSelected(size_t i) const { return IsChecked(buttons_.at(i)); }
  void Select(size_t chosen) {
    for (size_t i = 0; i < buttons_.size(); ++i) SetChecked(buttons_[i], i == chosen);
  }

 private:
  std::vector<HWND> buttons_;
};
