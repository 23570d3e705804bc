// The destination list's commands: the folder chooser with subfolder
// expansion, remove, clear and folders dropped from the shell.
#include "app/FolderChooser.h"
#include "app/ListFeed.h"
#include "app/MainWindow.h"
#include "app/Texts.h"
#include "fs/FileSystem.h"
#include "lists/FolderExpansion.h"
#include "wingui/Dialogs.h"
#include "wingui/DropFiles.h"

// Walks the folders on the worker; the list grows as they are found, and
// Esc ends the walk keeping what it added. A dropped path that names no
// folder adds nothing, a whole drive is said so in its place.
void MainWindow::AddDestinations(std::vector<std::wstring> paths, int levels, bool dropped, bool showButton) {
  auto unreadable = std::make_shared<size_t>(0);
  StartFeeding(
      ui_.dests,
      [this, unreadable, paths = std::move(paths), levels, dropped](ListFeed& feed) {
        // Esc ends the walk under way; each walk adds its first folder all the same.
        for (const std::wstring& path : paths) {
          if (dropped && HasWildcard(path)) continue;
          if (dropped && fs::IsWholeDrive(path)) {
            AskFromWork([this, &feed] {
              feed.Flush();  // what came before it shows first
              ShowWholeDriveCopied();
              return IDOK;
            });
            continue;
          }
          if (dropped && !fs::IsFolder(path)) continue;
          if (levels == 0) {
            feed.Offer(WithBackslash(path));
            continue;
          }
          *unreadable += lists::WalkFolderTree(WithBackslash(path), levels, [&](const std::wstring& each) {
            feed.Offer(each);
            return !WorkStop().Requested();
          });
        }
      },
      [this, unreadable, showButton](std::exception_ptr error) {
        if (showButton) ShowEmptyButton(true);
        if (error) std::rethrow_exception(error);
        if (*unreadable) TheDialogs().Message(hwnd_, UnreadableFoldersText(*unreadable), MB_OK | MB_ICONINFORMATION);
      },
      true, levels != 0);
}

void MainWindow::OnAddDestFolder() {
  auto choice = chooser_->Choose();
  if (!choice) return;
  // A folder gone since it was shown, or a shell item that is no folder, adds nothing.
  CheckThen([folder = choice->folder] { return fs::IsFolder(folder); },
            [this, choice = *choice](bool folder) {
              if (folder) AddChosenFolder(choice);
            });
}

void MainWindow::AddChosenFolder(const FolderChoice& choice) {
  switch (choice.scope) {
    case FolderChoice::Scope::AllSubfolders:
      return AddDestinations({choice.folder}, -1, false, true);
    case FolderChoice::Scope::Levels:
      if (const int levels = choice.Levels(); levels >= 0) return AddDestinations({choice.folder}, levels, false, true);
      break;  // a negative depth adds nothing
    case FolderChoice::Scope::Alone:
      ui_.dests.AppendNew(choice.folder);
      break;
  }
  ShowEmptyButton(true);
}

void MainWindow::OnRemoveDest() {
  ui_.dests.RemoveSelected();
  if (ui_.dests.Count() == 0) ShowEmptyButton(false);
}

void MainWindow::OnDestListKey(WPARAM key) {
  if (key == VK_DELETE) OnRemoveDest();
}

void MainWindow::OnClearDests() {
  ui_.dests.Clear();
  ShowEmptyButton(false);
}

void MainWindow::OnDropOnDests(HDROP drop) {
  std::vector<std::wstring> paths = TakeDroppedPaths(drop);
  if (paths.empty()) return;
  const bool withSubfolders = TheDialogs().Message(hwnd_, kWithSubfolders, MB_YESNO | MB_ICONQUESTION) == IDYES;
  AddDestinations(std::move(paths), withSubfolders ? -1 : 0, true, true);
}
