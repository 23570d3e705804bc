// The items of one drop from the shell; releases the drop handle exactly
// once, however the handler ends.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <string>

class DroppedFiles {
 public:
  explicit DroppedFiles(HDROP drop) : drop_(drop) {}
  ~DroppedFiles() { DragFinish(drop_); }
  DroppedFiles(const DroppedFiles&) = delete;
  DroppedFiles& operator=(const DroppedFiles&) = delete;
  UINT Count() const { return DragQueryFileW(drop_, 0xFFFFFFFF, nullptr, 0); }
  // Read at full length, however long the path.
  std::wstring At(UINT i) const {
    UINT length = DragQueryFileW(drop_, i, nullptr, 0);
    std::wstring path(length + 1, L'\0');
    DragQueryFileW(drop_, i, path.data(), length + 1);
    path.resize(length);
    return path;
  }

 private:
  HDROP drop_;
};
