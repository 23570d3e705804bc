// The source list's commands: file dialog, folder browser, remove, clear
// and files dropped from the shell.
#include "app/MainWindow.h"

#include <algorithm>

#include "app/Texts.h"
#include "wingui/Dialogs.h"
#include "fs/FileSystem.h"
#include "wingui/DropFiles.h"

void MainWindow::OnAddFiles() {
  FileDialogOptions options;
  options.filter = L"*.*|*.*";
  options.multiSelect = true;
  auto files = TheDialogs().OpenFiles(hwnd_, options);
  PathList::Bulk bulk(ui_.sources);
  for (const auto& path : files)
    if (!HasWildcard(path)) ui_.sources.AppendNew(path);
}

void MainWindow::OnAddSourceFolder() {
  auto folder = BrowseForFolder(kChooseFolderTitle);
  if (!folder) return;
  std::wstring path = WithBackslash(*folder);
  if (HasWildcard(path)) return;
  CheckThen([path] { return fs::IsWholeDrive(path); },
            [this, path](bool wholeDrive) {
              if (wholeDrive)
                ShowWholeDriveCopied();
              else
                ui_.sources.AppendNew(path);
            });
}

void MainWindow::OnRemoveSource() { ui_.sources.RemoveSelected(); }

void MainWindow::OnSourceListKey(WPARAM key) {
  if (key == VK_DELETE) OnRemoveSource();
}

void MainWindow::OnClearSources() { ui_.sources.Clear(); }

void MainWindow::OnDropOnSources(HDROP drop) {
  std::vector<std::wstring> paths = TakeDroppedPaths(drop);
  paths.erase(std::remove_if(paths.begin(), paths.end(), HasWildcard), paths.end());
  if (paths.empty()) return;
  CheckThen(
      [paths] {
        std::vector<bool> wholeDrive;
        for (const std::wstring& path : paths) wholeDrive.push_back(fs::IsWholeDrive(path));
        return wholeDrive;
      },
      [this, paths](std::vector<bool> wholeDrive) {
        PathList::Bulk bulk(ui_.sources);
        for (size_t i = 0; i < paths.size(); ++i) {
          if (wholeDrive[i])
            ShowWholeDriveCopied();
          else
            ui_.sources.Append(paths[i]);  // as delivered: no test, no trailing backslash
        }
      });
}
