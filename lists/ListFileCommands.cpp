// Export and import of both lists as list files.
#include "app/Unit1.h"
#include "common/Dialogs.h"
#include "fs/FileSystem.h"
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

void Export(HWND owner, PathList& list, const wchar_t* emptyMessage, const wchar_t* proposed) {
  if (list.Count() == 0) {
    TheDialogs().Message(owner, emptyMessage, MB_OK | MB_ICONINFORMATION);
    return;
  }
  auto file = TheDialogs().SaveFile(owner, SaveOptions(proposed));
  if (!file) return;
  WriteListFile(list.Items(), *file);
}

std::optional<std::vector<std::wstring>> ChooseAndRead(HWND owner) {
  auto files = TheDialogs().OpenFiles(owner, OpenOptions());
  if (files.empty()) return std::nullopt;
  return ReadListFile(files.front());
}

// A line names something only as an absolute path.
bool NamesFileOrFolder(const std::wstring& line) {
  return IsAbsolutePath(line) && (fs::IsFile(line) || fs::IsFolder(line));
}

}  // namespace

void TForm1::BtnSaveFileListClick() { Export(hwnd_, sources_, L"当前文件列表为空！", L"file.lst"); }

void TForm1::BtnSaveDirLstClick() { Export(hwnd_, dests_, L"当前目录列表为空！", L"dir.lst"); }

void TForm1::BtnImpFileListClick() {
  auto lines = ChooseAndRead(hwnd_);
  if (!lines) return;
  BusyScope busy(*this);
  PathList::Bulk bulk(sources_);
  sources_.Reserve(int(lines->size()));
  for (const auto& line : *lines) {
    if (!sources_.Contains(line) && NamesFileOrFolder(line)) {
      sources_.Append(line);
      sources_.RepaintThrottled();
    }
    KeepAlive();
  }
}

void TForm1::BtnImpDirLstClick() {
  auto lines = ChooseAndRead(hwnd_);
  if (!lines) return;
  bool skipped = false;
  {
    BusyScope busy(*this);
    PathList::Bulk bulk(dests_);
    dests_.Reserve(int(lines->size()));
    for (const auto& line : *lines) {
      if (!dests_.Contains(line) && IsAbsolutePath(line) && fs::IsFolder(line)) {
        dests_.Append(line);
        dests_.RepaintThrottled();
        ShowEmptyButton(true);
      } else {
        skipped = true;
      }
      KeepAlive();
    }
  }
  if (skipped) TheDialogs().Message(hwnd_, L"列表文件中所保存某些目录已不存在，未能导入。", MB_OK | MB_ICONINFORMATION);
}
