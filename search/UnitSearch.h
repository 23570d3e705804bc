// The keyword search dialog: finds files by name in one folder or a whole
// tree and appends them to the source list.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/Window.h"
#include "search/KeywordMatch.h"

class PathList;

class TfrmSearch : public Form {
 public:
  TfrmSearch();
  ~TfrmSearch() override;
  void Create(HWND owner);

  void FormCreate();
  void BtnSetFolderClick();
  void BtnSearchClick();
  void EdtSearchFolderKeyPress(wchar_t key);

 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  bool OnControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
};

// The two searches, plain code over a source list; keepAlive is called
// often so the windows can keep painting.
void SearchFolderRecursive(const std::wstring& folder, const KeywordMatcher& matcher, PathList& sources,
                           const std::function<void()>& keepAlive);
void SearchOneFolder(const std::wstring& folder, const KeywordMatcher& matcher, PathList& sources,
                     const std::function<void()>& keepAlive);

extern TfrmSearch* frmSearch;
