// The destination list's commands: the folder chooser with subfolder
// expansion, remove, clear and folders dropped from the shell.
#include "app/Unit1.h"
#include "common/Dialogs.h"
#include "fs/FileSystem.h"
#include "lists/DropFiles.h"
#include "lists/FolderExpansion.h"
#include "lists/Unit2.h"

namespace {

// A walk over a big tree takes a while: the window keeps painting, takes no input.
void Expand(TForm1& form, const std::wstring& folder, int maxLevels) {
  TForm1::BusyScope busy(form);
  PathList::Bulk bulk(form.Dests());
  lists::AddFolderTree(form.Dests(), folder, maxLevels, [&form] {
    form.KeepAlive();
    return !form.StopRequested();  // Esc ends it, keeping what it added
  });
}

}  // namespace

void TForm1::IndexDisk(const std::wstring& folder) { Expand(*this, folder, -1); }

void TForm1::IndexDisk2(const std::wstring& folder, int depth) {
  if (depth >= 0) Expand(*this, folder, depth);  // a negative depth adds nothing
}

void TForm1::Button3Click() {
  auto choice = chooser_->Choose();
  if (!choice) return;
  BusyCursor hourglass;
  switch (choice->scope) {
    case FolderChoice::Scope::AllSubfolders:
      IndexDisk(choice->folder);
      break;
    case FolderChoice::Scope::Levels:
      IndexDisk2(choice->folder, choice->levels);
      break;
    case FolderChoice::Scope::Alone:
      dests_.AppendNew(choice->folder);
      break;
  }
  ShowEmptyButton(true);
}

void TForm1::Button4Click() {
  dests_.RemoveSelected();
  if (dests_.Count() == 0) ShowEmptyButton(false);
}

void TForm1::ListBox2KeyDown(WPARAM key) {
  if (key == VK_DELETE) Button4Click();
}

void TForm1::Button7Click() {
  dests_.Clear();
  ShowEmptyButton(false);
}

void TForm1::DropOnDestList(HDROP drop) {
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
        IndexDisk(WithBackslash(path));
      } else if (fs::IsFolder(path)) {
        dests_.AppendNew(WithBackslash(path));
      }
    }
  }
  if (count > 0) ShowEmptyButton(true);
}
