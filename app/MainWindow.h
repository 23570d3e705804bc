// The main window: both lists, the copy options, progress and the help tab.
// MainWindow.cpp creates the window and dispatches its commands; the handlers
// live beside it, one file per subject (MainWindowSources.cpp, MainWindowDests.cpp,
// MainWindowListFiles.cpp, MainWindowCopy.cpp, MainWindowSearch.cpp).
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "wingui/Controls.h"
#include "wingui/PathList.h"
#include "common/StopSignal.h"
#include "wingui/Window.h"
#include "copy/SameFileMode.h"

namespace copy {
class RunReport;
}
class HelpView;
class TaskbarProgress;
class FolderChooser;
class SearchDialog;

class MainWindow : public Form {
 public:
  MainWindow();
  ~MainWindow() override;
  // Creates the window and runs OnCreate; the window stays hidden.
  void Create(HWND appWindow);
  // The dialogs the main window opens (not owned; the application keeps them).
  void UseForms(FolderChooser& chooser, SearchDialog& search);
  void Show();

  // Source list (MainWindowSources.cpp).
  void OnAddFiles();         // 添加文件
  void OnAddSourceFolder();  // 添加文件夹
  void OnRemoveSource();     // 移除文件(夹)
  void OnClearSources();     // 清空列表
  void OnSourceListKey(WPARAM key);
  void OnDropOnSources(HDROP drop);
  // Destination list (MainWindowDests.cpp).
  void OnAddDestFolder();  // 添加文件夹
  void OnRemoveDest();     // 移除文件夹
  void OnClearDests();     // 清空列表
  void OnDestListKey(WPARAM key);
  void OnDropOnDests(HDROP drop);
  void ExpandDestination(const std::wstring& folder);
  void ExpandDestinationLevels(const std::wstring& folder, int depth);
  // List files (MainWindowListFiles.cpp).
  void OnExportSources();  // 导出保存列表 (sources)
  void OnImportSources();  // 导入列表 (sources)
  void OnExportDests();    // 导出保存列表 (destinations)
  void OnImportDests();    // 导入列表 (destinations)
  // Copying and emptying (MainWindowCopy.cpp).
  void OnCopy();                             // 开始复制
  void OnEmptyFirstClick();                  // 复制时先清空（删除）目标文件夹中的原有内容
  void OnEmptyNowButton(POINT clientPoint);  // ...
  void OnEmptyNow();                         // 立即清空（删除）目标文件夹中的原有内容
  // Search (MainWindowSearch.cpp).
  void OnSearchAdd();  // 搜索添加文件

  // Closing: stores the policy, reporting when it cannot.
  void OnClose();

  PathList& Sources() { return sourceList_; }
  PathList& Dests() { return destList_; }
  copy::SameFileMode SelectedMode() const;
  void SelectMode(copy::SameFileMode mode);
  // True while long work runs: the window is disabled and paints only.
  bool Busy() const { return busyDepth_ > 0; }
  // True while a command runs, its questions and dialogs included.
  bool CommandRunning() const { return commandRunning_; }
  void ShowEmptyButton(bool visible);
  HMENU EmptyNowMenu() const { return emptyNowMenu_; }
  HWND HelpBrowser() const;
  HelpView* Help() const { return help_.get(); }

  // Marks the window busy (disabled, no input) for the life of the object.
  class BusyScope {
   public:
    explicit BusyScope(MainWindow& form);
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

   private:
    MainWindow& form_;
    bool wasEnabled_;
  };
  // A copy run or an emptying for the life of the object: "停止" is the one
  // control that takes input, the status line and the taskbar button show
  // the progress, and the session may not end.
  class RunScope {
   public:
    RunScope(MainWindow& form, copy::RunReport& report, const wchar_t* work);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

   private:
    MainWindow& form_;
    std::vector<HWND> disabled_;
  };
  // Lets the window paint during long work; cheap when called often. Esc
  // pressed meanwhile asks the work to stop.
  void KeepAlive();
  // Long work asks this between its steps: Esc, "停止" or the session's end.
  bool StopRequested() const { return stop_.Requested(); }

 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  bool OnControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnDpiChanged() override;

 private:
  std::vector<ControlDef> ControlTable();
  // The one gate of the window's commands (clicks, keys, the "..." menu,
  // drops): while one command runs every other is refused, whatever the
  // enabled state of its control says. False when refused.
  bool RunCommand(const std::function<void()>& command);
  void OnCreate();
  void LayoutOnResize();
  void ShowRunStatus();
  // The icon frames for the window's DPI, title bar and taskbar.
  void PickIcons();
  void ShowPage(int index);

  // Bound once from the control table.
  PathList sourceList_, destList_;
  ProgressBar progressBar_;
  CheckBox emptyFirst_;
  RadioGroup policyButtons_;  // in the order of kSameFilePolicies
  HWND tabs_ = nullptr, startPage_ = nullptr, helpPage_ = nullptr;
  HWND sourceGroup_ = nullptr, copyPanel_ = nullptr;
  HWND copyButton_ = nullptr, emptyNowButton_ = nullptr;
  HWND statusText_ = nullptr, statusFile_ = nullptr;

  FolderChooser* chooser_ = nullptr;  // not owned
  SearchDialog* search_ = nullptr;    // not owned
  HMENU emptyNowMenu_ = nullptr;
  HWND tooltip_ = nullptr;
  std::unique_ptr<HelpView> help_;
  int busyDepth_ = 0;
  bool commandRunning_ = false;
  StopSignal stop_;
  copy::RunReport* runReport_ = nullptr;  // the run under way, if any (not owned)
  DWORD runStart_ = 0, lastStatus_ = 0;
  std::unique_ptr<TaskbarProgress> taskbar_;
  copy::SameFileMode modeAtCommandStart_ = copy::SameFileMode::AutoNumber;
  DWORD lastPump_ = 0;
};

// Command id of the menu item N1.
constexpr UINT kMenuEmptyNow = 1001;
