// Typed, non-owning wrappers of the standard controls. Each is a member of
// its form, given its window by its row of the form's control table
// (wingui/Window.h), so a misspelt control does not compile.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

// Any control; containers, labels and fields need no more.
class Control {
 public:
  Control() = default;
  Control(const Control&) = delete;  // table rows point at it
  Control& operator=(const Control&) = delete;
  HWND hwnd() const { return hwnd_; }
  std::wstring Text() const;
  void SetText(const std::wstring& text) const { SetWindowTextW(hwnd_, text.c_str()); }

 private:
  friend class Form;  // which makes the window from the control's row
  HWND hwnd_ = nullptr;
};

// A push button; its row names its click handler.
class Button : public Control {};

// Check boxes and radio buttons alike.
class CheckBox : public Control {
 public:
  bool Checked() const { return SendMessageW(hwnd(), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  void SetChecked(bool checked) const {
    SendMessageW(hwnd(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
};

class RadioButton : public CheckBox {};

// Radio buttons that each stand for a value, read in the order given.
template <typename Value>
class RadioGroup {
 public:
  RadioGroup(std::initializer_list<std::pair<Value, RadioButton*>> choices) : choices_(choices) {}
  // The value of the first button checked, else otherwise.
  Value Selected(Value otherwise) const {
    for (const auto& [value, button] : choices_)
      if (button->Checked()) return value;
    return otherwise;
  }
  void Select(Value chosen) const {
    for (const auto& [value, button] : choices_)
      if (value == chosen) {
        for (const auto& choice : choices_) choice.second->SetChecked(choice.second == button);
        return;
      }
  }

 private:
  std::vector<std::pair<Value, RadioButton*>> choices_;
};

class ProgressBar : public Control {
 public:
  void SetRange(int maximum) const { SendMessageW(hwnd(), PBM_SETRANGE32, 0, maximum); }
  int Position() const { return int(SendMessageW(hwnd(), PBM_GETPOS, 0, 0)); }
  // Shown at once, even while the thread is busy.
  void SetPosition(int position) const {
    SendMessageW(hwnd(), PBM_SETPOS, position, 0);
    UpdateWindow(hwnd());
  }
};
