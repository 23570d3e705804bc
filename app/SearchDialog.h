// The keyword search dialog: finds files by name in one folder or a whole
// tree and appends them to the source list.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "wingui/Controls.h"
#include "wingui/Window.h"

// What the dialog asks of the window whose list it fills: to run a search
// beside the windows, calling ended on the window thread when it is over,
// and to stop it. A folder that is no folder is not searched: noFolder, when
// given, runs instead of ended.
class SearchHost {
 public:
  virtual ~SearchHost() = default;
  virtual void StartSearch(const std::wstring& folder, bool wholeTree, const std::wstring& keys,
                           std::function<void()> ended, std::function<void()> noFolder = nullptr) = 0;
  virtual void StopSearch() = 0;
};

// The dialog's controls, one row each in its table in SearchDialog.cpp.
struct SearchControls {
  Control folderLabel, keysLabel, keysHint;
  Control keys;  // several lines, one keyword each
  CheckBox subfolders;
  Control folder;  // read-only: a typed character opens the folder browser
  Button chooseFolder, cancel, search;
};

class SearchDialog : public Form {
 public:
  SearchDialog() = default;
  ~SearchDialog() override;
  void Create(HWND owner);

  // Shows the dialog modally; a search appends what it finds through host.
  // Closing the dialog, or Esc, stops a search under way; the dialog closes
  // after every search.
  void Run(SearchHost& host);

  // For window tests, which drive the dialog with messages: its controls.
  SearchControls& Controls() { return ui_; }

 private:
  std::vector<ControlDef> ControlTable();
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  bool OnFolderFieldMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  void OnChooseFolder();
  void OnSearch();
  void Close();
  void OnSearchEnded(bool searched);

  SearchControls ui_;
  SearchHost* host_ = nullptr;  // not owned; set while Run shows the dialog
  bool searching_ = false;
  bool closeAsked_ = false;  // during a search: the dialog closes at its end, whatever it found
};
