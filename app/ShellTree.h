// A tree control over the shell's folder namespace, rooted at the desktop:
// folders only (hidden ones left out), shell icons, children loaded when a
// node is first expanded.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "common/Raii.h"
#include "wingui/Controls.h"

class ShellTree : public Control {
 public:
  // Once the tree's window is made: the shell's icons and the desktop folder.
  void Prepare();

  // Rebuilds from the root, keeping expanded nodes, selection and the top
  // node where they still exist. The first build expands and selects the root.
  void Refresh();
  // Parsing name of the selected item; "::{" names fall back to the plain
  // display name. Empty when nothing is selected.
  std::wstring SelectedFolderPath() const;
  // True when the selected item's parsing name begins with "::{".
  bool SelectedIsVirtual() const;
  // Selects the node for a file-system path, expanding its parents.
  bool SelectPath(const std::wstring& path);
  // The nodes of every tree, each holding its item list: none outlives its item.
  static size_t NodesAlive();
  // Handles the tree's notifications, which its parent must pass on (each
  // node is freed as its item is deleted); true when handled.
  bool OnNotify(NMHDR* header, LRESULT* result);

 private:
  HTREEITEM InsertNode(HTREEITEM parent, CoTaskMem<ITEMIDLIST_ABSOLUTE> pidl);
  void LoadChildren(HTREEITEM item);
  HTREEITEM FindLoaded(HTREEITEM from, PCIDLIST_ABSOLUTE pidl) const;
  PCIDLIST_ABSOLUTE PidlOf(HTREEITEM item) const;
  std::wstring ParsingName(PCIDLIST_ABSOLUTE pidl, SHGDNF flags) const;

  ComPtr<IShellFolder> desktop_;
  bool built_ = false;
};
