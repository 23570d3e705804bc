#include "app/TaskbarProgress.h"

TaskbarProgress::TaskbarProgress(HWND window) : window_(window) {
  if (SUCCEEDED(
          CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3, list_.PutVoid())) &&
      FAILED(list_->HrInit()))
    list_.Reset();
}

void TaskbarProgress::Set(State state) {
  if (!list_) return;
  static const TBPFLAG kFlags[] = {TBPF_NOPROGRESS, TBPF_NORMAL, TBPF_PAUSED, TBPF_ERROR};
  list_->SetProgressState(window_, kFlags[int(state)]);
}

void TaskbarProgress::SetValue(int percent) {
  if (list_) list_->SetProgressValue(window_, ULONGLONG(percent), 100);
}
