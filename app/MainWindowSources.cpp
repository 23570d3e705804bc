// The source list's commands: file dialog, folder browser, remove, clear
// and files dropped from the shell.
#include "app/MainWindow.h"
#include "wingui/Dialogs.h"
#include "fs/FileSystem.h"
#include "wingui/DropFiles.h"

void MainWindow::OnAddFiles() {
  FileDialogOptions options;
  options.filter = L"*.*|*.*";
  options.multiSelect = true;
  auto files = TheDialogs().OpenFiles(hwnd_, options);
  PathList::Bulk bulk(sourceList_);
  for (const auto& path : files)
    if (!HasWildcard(path)) sourceList_.AppendNew(path);
}

void MainWindow::OnAddSourceFolder() {
  auto folder = BrowseForFolder(L"请选择文件夹");
  if (!folder) return;
  std::wstring path = WithBackslash(*folder);
  if (HasWildcard(path)) return;
  if (fs::IsWholeDrive(path)) {
    ShowDriveRootMessage();
    return;
  }
  sourceList_.AppendNew(path);
}

void MainWindow::OnRemoveSource() { sourceList_.RemoveSelected(); }

void MainWindow::OnSourceListKey(WPARAM key) {
  if (key == VK_DELETE) OnRemoveSource();
}

void MainWindow::OnClearSources() { sourceList_.Clear(); }

void MainWindow::OnDropOnSources(HDROP drop) {
  DroppedFiles dropped(drop);
  PathList::Bulk bulk(sourceList_);
  for (UINT i = 0, n = dropped.Count(); i < n; ++i) {
    std::wstring path = dropped.At(i);
    if (HasWildcard(path)) continue;
    if (fs::IsWholeDrive(path)) {
      ShowDriveRootMessage();
      continue;
    }
    sourceList_.Append(path);  // as delivered: no test, no trailing backslash
  }
}
