// The source list's commands: file dialog, folder browser, remove, clear
// and files dropped from the shell.
#include "app/Unit1.h"
#include "common/Dialogs.h"
#include "fs/FileSystem.h"
#include "lists/DropFiles.h"

void TForm1::Button1Click() {
  FileDialogOptions options;
  options.filter = L"*.*|*.*";
  options.multiSelect = true;
  auto files = TheDialogs().OpenFiles(hwnd_, options);
  PathList::Bulk bulk(sources_);
  for (const auto& path : files)
    if (!HasWildcard(path)) sources_.AppendNew(path);
}

void TForm1::Button5Click() {
  auto folder = BrowseForFolder(L"请选择文件夹");
  if (!folder) return;
  std::wstring path = WithBackslash(*folder);
  if (HasWildcard(path)) return;
  if (fs::IsWholeDrive(path)) {
    ShowDriveRootMessage();
    return;
  }
  sources_.AppendNew(path);
}

void TForm1::Button2Click() { sources_.RemoveSelected(); }

void TForm1::ListBox1KeyDown(WPARAM key) {
  if (key == VK_DELETE) Button2Click();
}

void TForm1::Button6Click() { sources_.Clear(); }

void TForm1::DropOnSourceList(HDROP drop) {
  DroppedFiles dropped(drop);
  PathList::Bulk bulk(sources_);
  for (UINT i = 0, n = dropped.Count(); i < n; ++i) {
    std::wstring path = dropped.At(i);
    if (HasWildcard(path)) continue;
    if (fs::IsWholeDrive(path)) {
      ShowDriveRootMessage();
      continue;
    }
    sources_.Append(path);  // as delivered: no test, no trailing backslash
  }
}
