// The destination list's commands: the folder chooser with subfolder
// expansion, remove, clear and folders dropped from the shell.
#include "app/MainWindow.h"
#include "wingui/Dialogs.h"
#include "fs/FileSystem.h"
#include "wingui/DropFiles.h"
#include "lists/FolderExpansion.h"
#include "app/FolderChooser.h"

namespace {

// A walk over a big tree takes a while: the window keeps painting, takes no input.
void Expand(MainWindow& form, const std::wstring& folder, int maxLevels) {
  MainWindow::BusyScope busy(form);
  PathList::Bulk bulk(form.Dests());
  lists::WalkFolderTree(folder, maxLevels, [&form](const std::wstring& each) {
    form.Dests().AppendNew(each);
    form.Dests().RepaintThrottled();
    form.KeepAlive();
    return !form.StopRequested();  // Esc ends it, keeping what it added
  });
}

}  // namespace

void MainWindow::ExpandDestination(const std::wstring& folder) { Expand(*this, folder, -1); }

void MainWindow::ExpandDestinationLevels(const std::wstring& folder, int depth) {
  if (depth >= 0) Expand(*this, folder, depth);  // a negative depth adds nothing
}

void MainWindow::OnAddDestFolder() {
  auto choice = chooser_->Choose();
  if (!choice) return;
  BusyCursor hourglass;
  switch (choice->scope) {
    case FolderChoice::Scope::AllSubfolders:
      ExpandDestination(choice->folder);
      break;
    case FolderChoice::Scope::Levels:
      ExpandDestinationLevels(choice->folder, choice->levels);
      break;
    case FolderChoice::Scope::Alone:
      destList_.AppendNew(choice->folder);
      break;
  }
  ShowEmptyButton(true);
}

void MainWindow::OnRemoveDest() {
  destList_.RemoveSelected();
  if (destList_.Count() == 0) ShowEmptyButton(false);
}

void MainWindow::OnDestListKey(WPARAM key) {
  if (key == VK_DELETE) OnRemoveDest();
}

void MainWindow::OnClearDests() {
  destList_.Clear();
  ShowEmptyButton(false);
}

void MainWindow::OnDropOnDests(HDROP drop) {
  UINT count;
  {
    DroppedFiles dropped(drop);
    count = dropped.Count();
    bool withSubfolders = count > 0 && TheDialogs().Message(hwnd_, L"添加包括选定文件夹下的所有子文件夹吗？",
                                                            MB_YESNO | MB_ICONQUESTION) == IDYES;
    for (UINT i = 0; i < count; ++i) {
      std::wstring path = dropped.At(i);
      if (HasWildcard(path)) continue;
      if (fs::IsWholeDrive(path)) {
        ShowDriveRootMessage();
      } else if (fs::IsFolder(path) && withSubfolders) {
        BusyCursor hourglass;
        ExpandDestination(WithBackslash(path));
      } else if (fs::IsFolder(path)) {
        destList_.AppendNew(WithBackslash(path));
      }
    }
  }
  if (count > 0) ShowEmptyButton(true);
}
