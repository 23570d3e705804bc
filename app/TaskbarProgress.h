// The run's progress on the window's taskbar button. Where the system has no
// taskbar list (older Windows, Wine), every call does nothing.
#pragma once
#include <windows.h>
#include <shobjidl.h>

#include "common/Raii.h"

class TaskbarProgress {
 public:
  enum class State { None, Normal, Paused, Error };
  explicit TaskbarProgress(HWND window);
  void Set(State state);
  void SetValue(int percent);

 private:
  HWND window_;
  ComPtr<ITaskbarList3> list_;
};
