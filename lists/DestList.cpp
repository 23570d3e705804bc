// The destination list's commands: the folder chooser with subfolder
// expansion, remove, clear and folders dropped from the shell.
#include "app/Unit1.h"
#include "common/AppError.h"
#include "common/Dialogs.h"
#include "fs/FileSystem.h"
#include "lists/DropFiles.h"
#include "lists/Unit2.h"

namespace {

// Pre-order walk: the folder, then each subfolder's whole tree in listing
// order. depth < 0 means no limit. One listing is open at a time.
void AddTree(TForm1& form, const std::wstring& folder, bool viaLink, int depth, bool limited, fs::WalkPath& walk) {
  if (limited && depth < 0) return;
  if (!walk.Enter(folder, viaLink)) return;
  PathList& dests = form.Dests();
  dests.AppendNew(folder);
  dests.RepaintThrottled();
  form.KeepAlive();
  std::vector<fs::Entry> subfolders;
  if (!limited || depth > 0) {
    for (fs::Entry& entry : fs::ListEntries(folder + L"*.*", fs::kMaskNoSystem))
      if (ClassifyEntry(entry.name, entry.attributes) == 1) subfolders.push_back(std::move(entry));
  }
  for (const auto& sub : subfolders)
    AddTree(form, folder + sub.name + L"\\", fs::WalkPath::IsLink(sub.attributes), depth - 1, limited, walk);
  walk.Leave();
}

}  // namespace

// A walk over a big tree takes a while: the window keeps painting, takes no input.
void TForm1::IndexDisk(const std::wstring& folder) {
  BusyScope busy(*this);
  PathList::Bulk bulk(dests_);
  fs::WalkPath walk;
  AddTree(*this, folder, false, 0, false, walk);
}

void TForm1::IndexDisk2(const std::wstring& folder, int depth) {
  BusyScope busy(*this);
  PathList::Bulk bulk(dests_);
  fs::WalkPath walk;
  AddTree(*this, folder, false, depth, true, walk);
}

void TForm1::Button3Click() {
  if (Form2->ShowModal() != IDOK) return;
  // A shell item that is no file-system folder adds nothing.
  if (Form2->SelectedIsVirtual()) return;
  std::wstring path = Form2->SelectedFolderPath();
  if (!fs::IsFolder(path)) return;
  BusyCursor hourglass;
  if (Form2->AllSubfolders()) {
    IndexDisk(WithBackslash(path));
  } else if (Form2->Levels()) {
    std::wstring text = Form2->DepthText();
    auto depth = ParseInteger(text);
    if (!depth) throw AppError(L"'" + text + L"' is not a valid integer value");
    IndexDisk2(WithBackslash(path), *depth);
  } else {
    dests_.AppendNew(WithBackslash(path));
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
      if (IsDriveRoot(path)) {
        TheDialogs().Message(AppWindow(), kDriveRootMessage, MB_OK | MB_ICONINFORMATION);
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
