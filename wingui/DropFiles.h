// The items of one drop from the shell.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

// Reads every dropped path at full length, however long, and releases the
// drop handle, which must be released exactly once.
inline std::vector<std::wstring> TakeDroppedPaths(HDROP drop) {
  std::vector<std::wstring> paths(DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0));
  for (UINT i = 0; i < paths.size(); ++i) {
    const UINT length = DragQueryFileW(drop, i, nullptr, 0);
    paths[i].resize(length + 1);
    DragQueryFileW(drop, i, paths[i].data(), length + 1);
    paths[i].resize(length);
  }
  DragFinish(drop);
  return paths;
}
