// The main window: both lists, the copy options, progress and the help tab.
// Handlers live beside the subsystem they belong to (lists/, copy/,
// search/); this unit creates the window and routes its messages.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "common/Window.h"
#include "lists/PathList.h"

class HelpView;

class TForm1 : public Form {
 public:
  TForm1();
  ~TForm1() override;
  // Creates the window and runs FormCreate; the window stays hidden.
  void Create(HWND appWindow);
  void Show();

  // Source list (lists/SourceList.cpp).
  void Button1Click();
  void Button5Click();
  void Button2Click();
  void Button6Click();
  void ListBox1KeyDown(WPARAM key);
  void DropOnSourceList(HDROP drop);
  // Destination list (lists/DestList.cpp).
  void Button3Click();
  void Button4Click();
  void Button7Click();
  void ListBox2KeyDown(WPARAM key);
  void DropOnDestList(HDROP drop);
  void IndexDisk(const std::wstring& folder);
  void IndexDisk2(const std::wstring& folder, int depth);
  // List files (lists/ListFileCommands.cpp).
  void BtnSaveFileListClick();
  void BtnImpFileListClick();
  void BtnSaveDirLstClick();
  void BtnImpDirLstClick();
  // Copy engine (copy/CopyCommands.cpp).
  void BtnCopyClick();
  void CheckBox1Click();
  void BtnEmptyDestFolderMouseDown(POINT clientPoint);
  void N1Click();
  // Search (search/UnitSearch.cpp).
  void BtnSearchAddClick();

  // Closing: stores the policy; false when the window must stay open.
  void FormClose();

  PathList& Sources() { return sources_; }
  PathList& Dests() { return dests_; }
  int SelectedMode() const;  // SameFileMode code of the selected radio button
  void SelectMode(int code);
  // True while a copy run or an emptying runs: no input changes anything.
  bool Busy() const { return busyDepth_ > 0; }
  void ShowEmptyButton(bool visible);
  HMENU PopupMenu1() const { return popupMenu1_; }
  HWND WebBrowser1() const;
  HelpView* Help() const { return help_.get(); }

  // Marks the window busy (disabled, no input) for the life of the object.
  class BusyScope {
   public:
    explicit BusyScope(TForm1& form);
    ~BusyScope();

   private:
    TForm1& form_;
    bool wasEnabled_;
  };
  // Lets the window paint during long work; cheap when called often.
  void KeepAlive();

 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  bool OnControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  void FormCreate();
  void OnCommand(HWND control, int code);
  void LayoutOnResize();
  void ShowPage(int index);

  PathList sources_, dests_;
  HMENU popupMenu1_ = nullptr;
  HWND tooltip_ = nullptr;
  std::unique_ptr<HelpView> help_;
  int busyDepth_ = 0;
  DWORD lastPump_ = 0;
};

extern TForm1* Form1;

// Command id of the menu item N1.
constexpr UINT kMenuN1 = 1001;
