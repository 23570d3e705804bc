// The main window: both lists, the copy options, progress and the help tab.
// MainWindow.cpp creates the window, lets its commands through one gate and
// hands long work to the run controller; the commands live beside it, one
// file per subject (MainWindowSources.cpp, MainWindowDests.cpp,
// MainWindowListFiles.cpp, MainWindowCopy.cpp, MainWindowSearch.cpp).
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "wingui/Controls.h"
#include "wingui/PathList.h"
#include "common/StopSignal.h"
#include "wingui/Window.h"
#include "app/SearchDialog.h"
#include "copy/SameFileMode.h"

namespace copy {
class RunReport;
struct CopyObserver;
enum class Answer;
}  // namespace copy
class RunController;
class ListFeed;
class HelpView;
class TaskbarProgress;
class FolderChooser;
struct FolderChoice;

class MainWindow : public Form, public SearchHost {
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
  // Adds the folder with all its subfolders, or with that many levels of them.
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
  void StartSearch(const std::wstring& folder, bool wholeTree, const std::wstring& keys, std::function<void()> ended,
                   std::function<void()> noFolder = nullptr) override;
  void StopSearch() override;

  // Closing: stores the policy, reporting when it cannot.
  void OnClose();

  PathList& Sources() { return sourceList_; }
  PathList& Dests() { return destList_; }
  copy::SameFileMode SelectedMode() const;
  void SelectMode(copy::SameFileMode mode);
  // True while the window is disabled and paints only.
  bool Busy() const { return busyDepth_ > 0; }
  // True while long work runs beside the window.
  bool Working() const;
  // True while a command runs, its questions and dialogs included.
  bool CommandRunning() const { return commandRunning_; }
  void ShowEmptyButton(bool visible);
  HMENU EmptyNowMenu() const { return emptyNowMenu_; }
  HWND HelpBrowser() const;
  HelpView* Help() const { return help_.get(); }

  // Long work: runs on the worker while the window takes no input (with
  // blockWindow, none at all; else only the stop control of a run), under
  // the hourglass when asked. tick runs on the window thread every 100 ms,
  // ended once the work has returned; what the work threw reaches ended,
  // and the error box when ended throws it again.
  void StartWork(std::function<void()> work, std::function<void()> tick, std::function<void(std::exception_ptr)> ended,
                 bool blockWindow, bool hourglass);
  // Long work that finds paths for list: they reach it in batches while it
  // runs, and all of them before ended.
  void StartFeeding(PathList& list, std::function<void(ListFeed&)> work, std::function<void(std::exception_ptr)> ended,
                    bool blockWindow, bool hourglass);
  // File calls a command waits on before it goes on (the checks before an
  // addition or an emptying, a list export): a volume that stops answering
  // must not freeze the window, so work runs on the worker, the window
  // taking no input meanwhile, and then runs on the window thread after it.
  // Esc does not cut the work short, and once the work is abandoned (the
  // window goes, the session ends) then never runs.
  void FileWorkThen(std::function<void()> work, std::function<void()> then);
  // The same for a check: then gets what check returned.
  template <class Check, class Then>
  void CheckThen(Check check, Then then) {
    auto answer = std::make_shared<decltype(check())>();
    FileWorkThen([answer, check = std::move(check)] { *answer = check(); },
                 [answer, then = std::move(then)] { then(std::move(*answer)); });
  }
  // On the worker: runs question on the window thread and returns its answer.
  int AskFromWork(std::function<int()> question);
  StopSignal& WorkStop();

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
    RunScope(MainWindow& form, std::shared_ptr<copy::RunReport> report, const wchar_t* work);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

   private:
    MainWindow& form_;
    std::vector<HWND> disabled_;
  };

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
  // Adds each path with levels of its subfolders (-1: all, 0: alone) on the
  // worker; dropped paths are checked as drops are.
  void AddDestinations(std::vector<std::wstring> paths, int levels, bool dropped, bool showButton);
  // Runs a copy run or an emptying: the window in the run's state meanwhile,
  // then the outcome (headline from the report) as ended says.
  void StartRun(const wchar_t* work, bool emptiesOnly, std::function<void(const copy::CopyObserver&)> run,
                std::function<void(const copy::RunReport&)> ended);
  copy::Answer AskOverwrite(const std::wstring& target);
  // Closing during a copy run or an emptying: asks, and on Yes stops the
  // run. True when the window may close.
  bool StopRunToClose();
  // The folder chooser's choice, once it is known to be a folder.
  void AddChosenFolder(const FolderChoice& choice);
  // The empty-now command once its destinations passed the check.
  void WarnThenEmpty(const std::vector<std::wstring>& dests);
  // Leaves the command gate closed while body runs (the end of long work).
  void AsCommand(const std::function<void()>& body);
  // The icon frames for the window's DPI, title bar and taskbar.
  void PickIcons();
  void ShowPage(int index);

  // Bound once from the control table.
  PathList sourceList_, destList_;
  ProgressBar progressBar_;
  CheckBox emptyFirst_;
  RadioGroup policyButtons_;  // in the order of kPolicyButtons
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
  bool askingToClose_ = false;
  std::vector<UINT> heldWorkMessages_;  // what the work posted while the close question was open
  std::unique_ptr<RunController> controller_;
  std::shared_ptr<copy::RunReport> runReport_;  // the run under way, if any (set by run_)
  std::unique_ptr<BusyScope> workBusy_;
  std::unique_ptr<BusyCursor> workHourglass_;
  std::unique_ptr<RunScope> run_;
  std::atomic<int> runPosition_{0};  // the bar's value, set by the run
  DWORD runStart_ = 0;
  bool runEmptiesOnly_ = false;  // an emptying: its status line counts removals alone
  std::unique_ptr<TaskbarProgress> taskbar_;
  copy::SameFileMode modeAtCommandStart_ = copy::SameFileMode::AutoNumber;
};

// Command id of the menu item N1.
constexpr UINT kMenuEmptyNow = 1001;
