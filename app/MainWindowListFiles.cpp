// Export and import of both lists as list files.
#include "app/ListFeed.h"
#include "app/MainWindow.h"
#include "app/Texts.h"
#include "wingui/Dialogs.h"
#include "lists/ImportCheck.h"
#include "lists/ListFile.h"

namespace {

FileDialogOptions SaveOptions(const wchar_t* proposed) {
  FileDialogOptions options;
  options.filter = kListFileFilter;
  options.fileName = proposed;
  return options;
}

FileDialogOptions OpenOptions() {
  FileDialogOptions options;
  options.filter = L"*.lst|*.lst|*.txt|*.txt";
  options.mustExist = true;
  return options;
}

std::optional<std::wstring> ChooseListFile(HWND owner) {
  auto files = TheDialogs().OpenFiles(owner, OpenOptions());
  if (files.empty()) return std::nullopt;
  return files.front();
}

}  // namespace

struct MainWindow::Imported {
  size_t added = 0;
  bool stopped = false;  // by Esc: the lines after are unread, not missing
  size_t listed = 0;     // lines already in the list
  size_t refused = 0;    // lines naming nothing the list may hold
  size_t blank = 0;
};

namespace {

void ShowStopped(HWND owner, size_t added) {
  TheDialogs().Message(owner, ImportStoppedText(added), MB_OK | MB_ICONINFORMATION);
}

}  // namespace

void MainWindow::Export(PathList& list, const wchar_t* emptyMessage, const wchar_t* proposed) {
  if (list.Count() == 0) {
    TheDialogs().Message(hwnd_, emptyMessage, MB_OK | MB_ICONINFORMATION);
    return;
  }
  auto file = TheDialogs().SaveFile(hwnd_, SaveOptions(proposed));
  if (!file) return;
  FileWorkThen([lines = list.Items(), file = *file] { lists::WriteListFile(lines, file); }, [] {});
}

// Reads the list file and appends each line the list may hold and that is
// not listed yet, on the worker: the window paints meanwhile and takes no
// input; Esc ends it, keeping what it added. ended gets the counts.
void MainWindow::Import(PathList& list, bool foldersOnly, std::function<void(const Imported&)> ended) {
  auto file = ChooseListFile(hwnd_);
  if (!file) return;
  auto result = std::make_shared<Imported>();
  const auto wants = foldersOnly ? lists::ImportCheck::Wants::Folders : lists::ImportCheck::Wants::FilesAndFolders;
  StartFeeding(
      list,
      [this, file = *file, result, wants](ListFeed& feed) {
        const std::vector<std::wstring> lines = lists::ReadListFile(file);
        lists::ImportCheck check(wants);
        for (size_t i = 0; i < lines.size(); ++i) {
          const std::wstring& line = lines[i];
          if (feed.Listed(line))
            ++result->listed;
          else if (check.Accepts(fs::Resolve(line)))
            feed.Offer(line);
          else
            ++(line.empty() ? result->blank : result->refused);
          if (WorkStop().Requested() && i + 1 < lines.size()) {
            result->stopped = true;
            break;
          }
        }
        result->added = feed.Offered();
      },
      [result, ended = std::move(ended)](std::exception_ptr error) {
        if (error) std::rethrow_exception(error);
        ended(*result);
      },
      true, false);
}

void MainWindow::OnExportSources() { Export(ui_.sources, kNoFilesToExport, L"file.lst"); }

void MainWindow::OnExportDests() { Export(ui_.dests, kNoFoldersToExport, L"dir.lst"); }

void MainWindow::OnImportSources() {
  Import(ui_.sources, false, [this](const Imported& result) {
    if (result.stopped)
      ShowStopped(hwnd_, result.added);
    else if (result.refused)
      TheDialogs().Message(hwnd_, ImportSkippedText(result.refused), MB_OK | MB_ICONINFORMATION);
  });
}

void MainWindow::OnImportDests() {
  Import(ui_.dests, true, [this](const Imported& result) {
    if (result.added) ShowEmptyButton(true);
    if (result.stopped)
      ShowStopped(hwnd_, result.added);
    else if (result.listed + result.refused + result.blank)
      TheDialogs().Message(hwnd_, kFoldersNotImported, MB_OK | MB_ICONINFORMATION);
  });
}
