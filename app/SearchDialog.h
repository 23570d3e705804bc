// The keyword search dialog: finds files by name in one folder or a whole
// tree and appends them to the source list.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "wingui/Controls.h"
#include "wingui/Window.h"
#include "search/KeywordMatch.h"

class PathList;

class SearchDialog : public Form {
 public:
  SearchDialog() = default;
  ~SearchDialog() override;
  void Create(HWND owner);

  // Shows the dialog modally; a search appends what it finds to sources.
  // keepGoing lets the windows paint during a long search and says whether
  // to go on; closing the dialog stops the search too.
  void Run(PathList& sources, std::function<bool()> keepGoing);

  void OnCreate();
  void OnChooseFolder();  // 选择
  void OnSearch();        // 确定
  void OnCancel();        // 取消
  void OnFolderFieldKey(wchar_t key);

 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  bool OnControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  PathList* sourceList_ = nullptr;  // not owned; set while Run shows the dialog
  std::function<bool()> keepGoing_;
  bool searching_ = false, closed_ = false;
  HWND folderField_ = nullptr, keys_ = nullptr, searchButton_ = nullptr;
  CheckBox subfolders_;
};

// The two searches, plain code over a source list; keepGoing is called
// often so the windows can keep painting, and ends the search (keeping what
// it added) when it returns false.
void SearchFolderRecursive(const std::wstring& folder, const KeywordMatcher& matcher, PathList& sources,
                           const std::function<bool()>& keepGoing);
void SearchOneFolder(const std::wstring& folder, const KeywordMatcher& matcher, PathList& sources,
                     const std::function<bool()>& keepGoing);
