// Export and import of both lists as list files.
#include "app/ListFeed.h"
#include "app/MainWindow.h"
#include "wingui/Dialogs.h"
#include "lists/ImportCheck.h"
#include "lists/ListFile.h"

namespace {

FileDialogOptions SaveOptions(const wchar_t* proposed) {
  FileDialogOptions options;
  options.filter = L"列表文件(*.lst)|*.lst";
  options.fileName = proposed;
  return options;
}

FileDialogOptions OpenOptions() {
  FileDialogOptions options;
  options.filter = L"*.lst|*.lst|*.txt|*.txt";
  options.mustExist = true;
  return options;
}

void Export(MainWindow& form, PathList& list, const wchar_t* emptyMessage, const wchar_t* proposed) {
  if (list.Count() == 0) {
    TheDialogs().Message(form.hwnd(), emptyMessage, MB_OK | MB_ICONINFORMATION);
    return;
  }
  auto file = TheDialogs().SaveFile(form.hwnd(), SaveOptions(proposed));
  if (!file) return;
  form.FileWorkThen([lines = list.Items(), file = *file] { WriteListFile(lines, file); }, [] {});
}

std::optional<std::wstring> ChooseListFile(HWND owner) {
  auto files = TheDialogs().OpenFiles(owner, OpenOptions());
  if (files.empty()) return std::nullopt;
  return files.front();
}

struct Imported {
  size_t added = 0;
  bool stopped = false;  // by Esc: the lines after are unread, not missing
  size_t listed = 0;     // lines already in the list
  size_t refused = 0;    // lines naming nothing the list may hold
  size_t blank = 0;
};

// Reads the list file and appends each line the list may hold and that is
// not listed yet, on the worker: the window paints meanwhile and takes no
// input; Esc ends it, keeping what it added. ended gets the counts.
void Import(MainWindow& form, PathList& list, ImportCheck::Wants wants, std::function<void(const Imported&)> ended) {
  auto file = ChooseListFile(form.hwnd());
  if (!file) return;
  auto result = std::make_shared<Imported>();
  form.StartFeeding(
      list,
      [&form, file = *file, result, wants](ListFeed& feed) {
        const std::vector<std::wstring> lines = ReadListFile(file);
        ImportCheck check(wants);
        for (size_t i = 0; i < lines.size(); ++i) {
          const std::wstring& line = lines[i];
          if (feed.Listed(line))
            ++result->listed;
          else if (check.Accepts(line))
            feed.Offer(line);
          else
            ++(line.empty() ? result->blank : result->refused);
          if (form.WorkStop().Requested() && i + 1 < lines.size()) {
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

void ShowStopped(HWND owner, const Imported& result) {
  TheDialogs().Message(owner, L"导入已停止：已添加 " + std::to_wstring(result.added) + L" 行，其余各行未读。",
                       MB_OK | MB_ICONINFORMATION);
}

}  // namespace

void MainWindow::OnExportSources() { Export(*this, sourceList_, L"当前文件列表为空！", L"file.lst"); }

void MainWindow::OnExportDests() { Export(*this, destList_, L"当前目录列表为空！", L"dir.lst"); }

void MainWindow::OnImportSources() {
  Import(*this, sourceList_, ImportCheck::Wants::FilesAndFolders, [this](const Imported& result) {
    if (result.stopped)
      ShowStopped(hwnd_, result);
    else if (result.refused)
      TheDialogs().Message(hwnd_,
                           L"列表文件中有 " + std::to_wstring(result.refused) +
                               L" 行未能导入：所指的文件或文件夹不存在，或不是完整的路径。",
                           MB_OK | MB_ICONINFORMATION);
  });
}

void MainWindow::OnImportDests() {
  Import(*this, destList_, ImportCheck::Wants::Folders, [this](const Imported& result) {
    if (result.added) ShowEmptyButton(true);
    if (result.stopped)
      ShowStopped(hwnd_, result);
    else if (result.listed + result.refused + result.blank)
      TheDialogs().Message(hwnd_, L"列表文件中所保存某些目录已不存在，未能导入。", MB_OK | MB_ICONINFORMATION);
  });
}
