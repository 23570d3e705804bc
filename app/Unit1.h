// The main window: both lists, the copy options, progress and the help tab.
// Unit1.cpp creates the window and dispatches its commands; the handlers
// live beside it, one file per subject (Unit1Sources.cpp, Unit1Dests.cpp,
// Unit1ListFiles.cpp, Unit1Copy.cpp, Unit1Search.cpp).
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "common/Controls.h"
#include "common/PathList.h"
#include "common/StopSignal.h"
#include "common/Window.h"
#include "copy/SameFileMode.h"

namespace copy {
class RunReport;
}
class HelpView;
class TaskbarProgress;
class TForm2;
class TfrmSearch;

class TForm1 : public Form {
 public:
  TForm1();
  ~TForm1() override;
  // Creates the window and runs FormCreate; the window stays hidden.
  void Create(HWND appWindow);
  // The dialogs the main window opens (not owned; the application keeps them).
  void UseForms(TForm2& chooser, TfrmSearch& search);
  void Show();

  // Source list (Unit1Sources.cpp).
  void Button1Click();  // 添加文件
  void Button5Click();  // 添加文件夹
  void Button2Click();  // 移除文件(夹)
  void Button6Click();  // 清空列表
  void ListBox1KeyDown(WPARAM key);
  void DropOnSourceList(HDROP drop);
  // Destination list (Unit1Dests.cpp).
  void Button3Click();  // 添加文件夹
  void Button4Click();  // 移除文件夹
  void Button7Click();  // 清空列表
  void ListBox2KeyDown(WPARAM key);
  void DropOnDestList(HDROP drop);
  void IndexDisk(const std::wstring& folder);
  void IndexDisk2(const std::wstring& folder, int depth);
  // List files (Unit1ListFiles.cpp).
  void BtnSaveFileListClick();  // 导出保存列表 (sources)
  void BtnImpFileListClick();   // 导入列表 (sources)
  void BtnSaveDirLstClick();    // 导出保存列表 (destinations)
  void BtnImpDirLstClick();     // 导入列表 (destinations)
  // Copying and emptying (Unit1Copy.cpp).
  void BtnCopyClick();                                // 开始复制
  void CheckBox1Click();                              // 复制时先清空（删除）目标文件夹中的原有内容
  void BtnEmptyDestFolderMouseDown(POINT clientPoint);  // ...
  void N1Click();                                     // 立即清空（删除）目标文件夹中的原有内容
  // Search (Unit1Search.cpp).
  void BtnSearchAddClick();  // 搜索添加文件

  // Closing: stores the policy, reporting when it cannot.
  void FormClose();

  PathList& Sources() { return sources_; }
  PathList& Dests() { return dests_; }
  copy::SameFileMode SelectedMode() const;
  void SelectMode(copy::SameFileMode mode);
  // True while long work runs: the window is disabled and paints only.
  bool Busy() const { return busyDepth_ > 0; }
  // True while a command runs, its questions and dialogs included.
  bool CommandRunning() const { return commandRunning_; }
  void ShowEmptyButton(bool visible);
  HMENU PopupMenu1() const { return popupMenu1_; }
  HWND WebBrowser1() const;
  HelpView* Help() const { return help_.get(); }

  // Marks the window busy (disabled, no input) for the life of the object.
  class BusyScope {
   public:
    explicit BusyScope(TForm1& form);
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

   private:
    TForm1& form_;
    bool wasEnabled_;
  };
  // A copy run or an emptying for the life of the object: "停止" is the one
  // control that takes input, the status line and the taskbar button show
  // the progress, and the session may not end.
  class RunScope {
   public:
    RunScope(TForm1& form, copy::RunReport& report, const wchar_t* work);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

   private:
    TForm1& form_;
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
  void FormCreate();
  void LayoutOnResize();
  void ShowRunStatus();
  // The icon frames for the window's DPI, title bar and taskbar.
  void PickIcons();
  void ShowPage(int index);

  // Bound once from the control table.
  PathList sources_, dests_;
  ProgressBar progressBar1_;
  CheckBox checkBox1_;
  RadioGroup sameFileGroup_;  // in the order of kSameFilePolicies
  HWND pageControl1_ = nullptr, tabSheet1_ = nullptr, tabSheet2_ = nullptr;
  HWND groupBox1_ = nullptr, panel1_ = nullptr;
  HWND btnCopy_ = nullptr, btnEmptyDestFolder_ = nullptr;
  HWND lblStatus_ = nullptr, lblStatusFile_ = nullptr;

  TForm2* chooser_ = nullptr;      // not owned
  TfrmSearch* search_ = nullptr;  // not owned
  HMENU popupMenu1_ = nullptr;
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
constexpr UINT kMenuN1 = 1001;
