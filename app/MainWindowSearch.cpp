// The search command: the dialog runs its search through the main window,
// which appends what it finds to the source list as it is found.
#include "app/ListFeed.h"
#include "app/MainWindow.h"
#include "app/SearchDialog.h"
#include "app/Texts.h"
#include "wingui/Dialogs.h"
#include "fs/FileSystem.h"
#include "search/FileSearch.h"

void MainWindow::OnSearchAdd() { search_->Run(*this); }

void MainWindow::StartSearch(const std::wstring& folder, bool wholeTree, const std::wstring& keys,
                             std::function<void()> ended, std::function<void()> noFolder) {
  auto isFolder = std::make_shared<bool>(false);
  auto unreadable = std::make_shared<size_t>(0);
  StartFeeding(
      ui_.sources,
      [this, isFolder, unreadable, folder, wholeTree,
       matcher = search::KeywordMatcher(search::SplitAtCrLf(keys))](ListFeed& feed) {
        *isFolder = fs::IsFolder(folder);
        if (!*isFolder) return;
        *unreadable = search::FindFiles(folder, wholeTree, matcher, WorkStop(),
                                        [&](const std::wstring& path) { feed.Offer(path); });
      },
      [this, isFolder, unreadable, ended = std::move(ended), noFolder = std::move(noFolder)](std::exception_ptr error) {
        (*isFolder || !noFolder ? ended : noFolder)();
        if (error) std::rethrow_exception(error);
        if (*unreadable) TheDialogs().Message(hwnd_, UnreadableFoldersText(*unreadable), MB_OK | MB_ICONINFORMATION);
      },
      false, true);
}

void MainWindow::StopSearch() { WorkStop().Request(); }
