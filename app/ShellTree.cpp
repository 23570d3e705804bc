#include "app/ShellTree.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <vector>

namespace {

struct Node {
  CoTaskMem<ITEMIDLIST_ABSOLUTE> pidl;
  bool loaded;
};
size_t g_nodesAlive = 0;  // window thread only

Node* NodeOf(HWND tree, HTREEITEM item) {
  TVITEMW tv = {TVIF_PARAM};
  tv.hItem = item;
  if (!item || !TreeView_GetItem(tree, &tv)) return nullptr;
  return reinterpret_cast<Node*>(tv.lParam);
}

int IconOf(PCIDLIST_ABSOLUTE pidl, UINT extra) {
  SHFILEINFOW info = {};
  SHGetFileInfoW(reinterpret_cast<LPCWSTR>(pidl), 0, &info, sizeof info,
                 SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON | extra);
  return info.iIcon;
}

struct SortContext {
  IShellFolder* folder;
};

int CALLBACK CompareNodes(LPARAM a, LPARAM b, LPARAM context) {
  auto* folder = reinterpret_cast<SortContext*>(context)->folder;
  HRESULT hr = folder->CompareIDs(0, ILFindLastID(reinterpret_cast<Node*>(a)->pidl.get()),
                                  ILFindLastID(reinterpret_cast<Node*>(b)->pidl.get()));
  return short(HRESULT_CODE(hr));
}

}  // namespace

void ShellTree::Prepare() {
  SHGetDesktopFolder(desktop_.Put());
  SHFILEINFOW info = {};
  auto images = reinterpret_cast<HIMAGELIST>(
      SHGetFileInfoW(L"C:\\", 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
  TreeView_SetImageList(hwnd(), images, TVSIL_NORMAL);
  TreeView_SetIndent(hwnd(), 19);
}

size_t ShellTree::NodesAlive() { return g_nodesAlive; }

PCIDLIST_ABSOLUTE ShellTree::PidlOf(HTREEITEM item) const {
  Node* node = NodeOf(hwnd(), item);
  return node ? node->pidl.get() : nullptr;
}

HTREEITEM ShellTree::InsertNode(HTREEITEM parent, CoTaskMem<ITEMIDLIST_ABSOLUTE> owned) {
  PCIDLIST_ABSOLUTE pidl = owned.get();
  std::wstring name = ParsingName(pidl, SHGDN_NORMAL);
  SFGAOF attributes = SFGAO_HASSUBFOLDER;
  PCUITEMID_CHILD last = nullptr;
  ComPtr<IShellFolder> parentFolder;
  if (ILIsEmpty(pidl)) {
    attributes = SFGAO_HASSUBFOLDER;
  } else if (SUCCEEDED(SHBindToParent(pidl, IID_IShellFolder, parentFolder.PutVoid(), &last))) {
    parentFolder->GetAttributesOf(1, &last, &attributes);
  }
  TVINSERTSTRUCTW insert = {};
  insert.hParent = parent;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
  insert.item.pszText = name.data();
  insert.item.lParam = reinterpret_cast<LPARAM>(new Node{std::move(owned), false});
  ++g_nodesAlive;
  insert.item.iImage = IconOf(pidl, 0);
  insert.item.iSelectedImage = IconOf(pidl, SHGFI_OPENICON);
  insert.item.cChildren = (attributes & SFGAO_HASSUBFOLDER) ? 1 : 0;
  return TreeView_InsertItem(hwnd(), &insert);
}

void ShellTree::LoadChildren(HTREEITEM item) {
  Node* node = NodeOf(hwnd(), item);
  if (!node || node->loaded) return;
  node->loaded = true;
  ComPtr<IShellFolder> folder;
  if (ILIsEmpty(node->pidl.get())) {
    folder = desktop_;
  } else if (FAILED(desktop_->BindToObject(node->pidl.get(), nullptr, IID_IShellFolder, folder.PutVoid()))) {
    return;
  }
  ComPtr<IEnumIDList> items;
  // Folders only; without SHCONTF_INCLUDEHIDDEN hidden folders stay out.
  if (folder->EnumObjects(GetAncestor(hwnd(), GA_ROOT), SHCONTF_FOLDERS, items.Put()) == S_OK && items) {
    CoTaskMem<ITEMID_CHILD> child;
    while (items->Next(1, child.Put(), nullptr) == S_OK)
      InsertNode(item, CoTaskMem<ITEMIDLIST_ABSOLUTE>(ILCombine(node->pidl.get(), child.get())));
  }
  SortContext context{folder.get()};
  TVSORTCB sort = {item, CompareNodes, reinterpret_cast<LPARAM>(&context)};
  TreeView_SortChildrenCB(hwnd(), &sort, FALSE);
  if (!TreeView_GetChild(hwnd(), item)) {
    TVITEMW tv = {TVIF_CHILDREN};
    tv.hItem = item;
    tv.cChildren = 0;
    TreeView_SetItem(hwnd(), &tv);
  }
}

HTREEITEM ShellTree::FindLoaded(HTREEITEM from, PCIDLIST_ABSOLUTE pidl) const {
  for (HTREEITEM i = from; i; i = TreeView_GetNextSibling(hwnd(), i)) {
    PCIDLIST_ABSOLUTE own = PidlOf(i);
    if (own && ILIsEqual(own, pidl)) return i;
    if (own && ILIsParent(own, pidl, FALSE)) {
      if (HTREEITEM found = FindLoaded(TreeView_GetChild(hwnd(), i), pidl)) return found;
    }
  }
  return nullptr;
}

void ShellTree::Refresh() {
  HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  SendMessageW(hwnd(), WM_SETREDRAW, FALSE, 0);
  std::vector<CoTaskMem<ITEMIDLIST_ABSOLUTE>> expanded;
  CoTaskMem<ITEMIDLIST_ABSOLUTE> selected, top;
  if (built_) {
    if (auto p = PidlOf(TreeView_GetSelection(hwnd()))) selected = CoTaskMem<ITEMIDLIST_ABSOLUTE>(ILClone(p));
    if (auto p = PidlOf(TreeView_GetFirstVisible(hwnd()))) top = CoTaskMem<ITEMIDLIST_ABSOLUTE>(ILClone(p));
    // Pre-order, so a parent is expanded again before its children.
    std::vector<HTREEITEM> stack{TreeView_GetRoot(hwnd())};
    while (!stack.empty()) {
      HTREEITEM item = stack.back();
      stack.pop_back();
      if (!item) continue;
      if (TreeView_GetItemState(hwnd(), item, TVIS_EXPANDED) & TVIS_EXPANDED)
        expanded.emplace_back(ILClone(PidlOf(item)));
      std::vector<HTREEITEM> children;
      for (HTREEITEM c = TreeView_GetChild(hwnd(), item); c; c = TreeView_GetNextSibling(hwnd(), c))
        children.push_back(c);
      stack.insert(stack.end(), children.rbegin(), children.rend());
    }
  }
  TreeView_DeleteAllItems(hwnd());
  CoTaskMem<ITEMIDLIST_ABSOLUTE> rootPidl;
  SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, rootPidl.Put());
  HTREEITEM root = InsertNode(TVI_ROOT, std::move(rootPidl));
  if (!built_) {
    TreeView_Expand(hwnd(), root, TVE_EXPAND);
    TreeView_SelectItem(hwnd(), root);
    built_ = true;
  } else {
    for (const auto& p : expanded)
      if (HTREEITEM item = FindLoaded(root, p.get())) TreeView_Expand(hwnd(), item, TVE_EXPAND);
    if (HTREEITEM item = selected ? FindLoaded(root, selected.get()) : nullptr) TreeView_SelectItem(hwnd(), item);
    if (HTREEITEM item = top ? FindLoaded(root, top.get()) : nullptr) TreeView_SelectSetFirstVisible(hwnd(), item);
  }
  SendMessageW(hwnd(), WM_SETREDRAW, TRUE, 0);
  InvalidateRect(hwnd(), nullptr, TRUE);
  SetCursor(previous);
}

std::wstring ShellTree::ParsingName(PCIDLIST_ABSOLUTE pidl, SHGDNF flags) const {
  if (!pidl || !desktop_) return L"";
  STRRET name;
  if (FAILED(desktop_->GetDisplayNameOf(pidl, flags, &name))) return L"";
  CoTaskMem<wchar_t> text;
  if (FAILED(StrRetToStrW(&name, pidl, text.Put()))) return L"";
  return text.get();
}

std::wstring ShellTree::SelectedFolderPath() const {
  PCIDLIST_ABSOLUTE pidl = PidlOf(TreeView_GetSelection(hwnd()));
  if (!pidl) return L"";
  std::wstring path = ParsingName(pidl, SHGDN_FORPARSING);
  if (path.rfind(L"::{", 0) == 0) return ParsingName(pidl, SHGDN_NORMAL);
  return path;
}

bool ShellTree::SelectedIsVirtual() const {
  PCIDLIST_ABSOLUTE pidl = PidlOf(TreeView_GetSelection(hwnd()));
  return pidl && ParsingName(pidl, SHGDN_FORPARSING).rfind(L"::{", 0) == 0;
}

bool ShellTree::SelectPath(const std::wstring& path) {
  CoTaskMem<ITEMIDLIST_ABSOLUTE> owned;
  if (FAILED(SHParseDisplayName(path.c_str(), nullptr, owned.Put(), 0, nullptr))) return false;
  PCIDLIST_ABSOLUTE target = owned.get();
  HTREEITEM item = TreeView_GetRoot(hwnd());
  bool found = false;
  while (item) {
    PCIDLIST_ABSOLUTE own = PidlOf(item);
    if (ILIsEqual(own, target)) {
      TreeView_SelectItem(hwnd(), item);
      found = true;
      break;
    }
    if (ILIsParent(own, target, FALSE)) {
      TreeView_Expand(hwnd(), item, TVE_EXPAND);
      item = TreeView_GetChild(hwnd(), item);
    } else {
      item = TreeView_GetNextSibling(hwnd(), item);
    }
  }
  return found;
}

bool ShellTree::OnNotify(NMHDR* header, LRESULT* result) {
  if (header->hwndFrom != hwnd()) return false;
  // Every item goes this way, those of a tree being destroyed included.
  if (header->code == TVN_DELETEITEMW) {
    delete reinterpret_cast<Node*>(reinterpret_cast<NMTREEVIEWW*>(header)->itemOld.lParam);
    --g_nodesAlive;
    return true;
  }
  if (header->code == TVN_ITEMEXPANDINGW) {
    auto* info = reinterpret_cast<NMTREEVIEWW*>(header);
    if (info->action & TVE_EXPAND) LoadChildren(info->itemNew.hItem);
    *result = FALSE;
    return true;
  }
  if (header->code == NM_RCLICK) {
    TVHITTESTINFO hit = {};
    GetCursorPos(&hit.pt);
    ScreenToClient(hwnd(), &hit.pt);
    if (HTREEITEM item = TreeView_HitTest(hwnd(), &hit)) TreeView_SelectItem(hwnd(), item);
    *result = 0;
    return true;
  }
  return false;
}
