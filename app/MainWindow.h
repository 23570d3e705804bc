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

#include "app/SearchDialog.h"
#include "common/StopSignal.h"
#include "copy/SameFileMode.h"
#include "wingui/Controls.h"
#include "wingui/PathList.h"
#include "wingui/Window.h"

namespace copy {
class RunReport;
struct CopyObserver;
struct CopyJob;
enum class Answer;
}  // namespace copy
class RunController;
class ListFeed;
class HelpView;
class TaskbarProgress;
class FolderChooser;
struct FolderChoice;

// The main window's controls, one row each in the table in MainWindow.cpp.
struct MainControls {
  Control tabs, startPage, helpPage;
  Control sourceGroup, destGroup, optionsGroup, progressGroup, copyPanel;
  PathList sources, dests;
  Button addFiles, searchAddFiles, addSourceFolder, removeSource, clearSources, exportSources, importSources;
  Button addDestFolder, removeDest, clearDests, exportDests, importDests;
  Control sameNameLabel;
  RadioButton overwrite, skip, ask, autoNumber, newerOnly;
  CheckBox emptyFirst;
  Button emptyNow;  // "...": its menu empties the destinations at once
  CheckBox verify;  // "复制后校验": each copy read back and compared
  ProgressBar progress;
  Button copy;                 // "开始复制", and "停止" while a run goes on
  Control status, statusFile;  // the status line of a run
};

class MainWindow : public Form, private SearchHost {
 public:
  MainWindow();
  ~MainWindow() override;
  // Creates the window; it stays hidden.
  void Create(HWND appWindow);
  // The dialogs the main window opens (not owned; the application keeps them).
  void UseForms(FolderChooser& chooser, SearchDialog& search);
  void Show();

  // For window tests, which drive the window with messages as a user does:
  // the controls to send them to (and the lists to fill beforehand), and
  // state that no control shows. No handler is reachable from here.
  MainControls& Controls() { return ui_; }
  copy::SameFileMode SelectedMode() const { return policy_.Selected(copy::SameFileMode::AutoNumber); }
  // True while long work runs beside the window.
  bool Working() const;
  HMENU EmptyNowMenu() const { return emptyNowMenu_; }
  HelpView* Help() const { return help_.get(); }

 private:
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
  // A copy run or an emptying for the life of the object (MainWindowCopy.cpp):
  // "停止" is the one control that takes input, the status line and the
  // taskbar button show the progress, and the session may not end.
  class RunScope {
   public:
    RunScope(MainWindow& form, const wchar_t* work, bool emptiesOnly);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;
    const std::shared_ptr<copy::RunReport>& Report() const { return report_; }
    // The bar's value, set by the run on the worker.
    void SetPosition(int position) { position_ = position; }
    // The status line, the bar and the taskbar button as the report stands.
    void ShowProgress();

   private:
    MainWindow& form_;
    std::shared_ptr<copy::RunReport> report_;
    const DWORD start_;
    const bool emptiesOnly_;      // its status line counts removals alone
    const std::wstring caption_;  // what "停止" read before the run
    std::atomic<int> position_{0};
    std::vector<HWND> disabled_;
  };

  std::vector<ControlDef> ControlTable();
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnDpiChanged() override;
  // The one gate of the window's commands (clicks, keys, the "..." menu,
  // drops): while one command runs every other is refused, whatever the
  // enabled state of its control says. False when refused.
  bool RunCommand(const std::function<void()>& command);
  // Leaves the command gate closed while body runs (the end of long work).
  void AsCommand(const std::function<void()>& body);
  // The messages of the two lists and of "...", through the gate.
  bool OnListMessage(PathList& list, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnEmptyNowMessage(UINT message, LPARAM lParam, LRESULT* result);
  void LayoutOnResize();
  // The icon frames for the window's DPI, title bar and taskbar.
  void PickIcons();
  void ShowPage(int index);
  void ShowEmptyButton(bool visible);
  // "A whole drive is never copied", owned by the application window.
  void ShowWholeDriveCopied();
  // True while the window is disabled and paints only.
  bool Busy() const { return busyDepth_ > 0; }
  // Closing: stores the policy, reporting when it cannot.
  void OnClose();
  // Closing during a copy run or an emptying: asks, and on Yes stops the
  // run. True when the window may close.
  bool StopRunToClose();

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

  // Source list (MainWindowSources.cpp).
  void OnAddFiles();
  void OnAddSourceFolder();
  void OnRemoveSource();
  void OnClearSources();
  void OnSourceListKey(WPARAM key);
  void OnDropOnSources(HDROP drop);
  // Destination list (MainWindowDests.cpp).
  void OnAddDestFolder();
  void OnRemoveDest();
  void OnClearDests();
  void OnDestListKey(WPARAM key);
  void OnDropOnDests(HDROP drop);
  // The folder chooser's choice, once it is known to be a folder.
  void AddChosenFolder(const FolderChoice& choice);
  // Adds each path with levels of its subfolders (-1: all, 0: alone) on the
  // worker; dropped paths are checked as drops are.
  void AddDestinations(std::vector<std::wstring> paths, int levels, bool dropped, bool showButton);
  // List files (MainWindowListFiles.cpp).
  void OnExportSources();
  void OnImportSources();
  void OnExportDests();
  void OnImportDests();
  struct Imported;  // what an import added, and what it left out
  void Export(PathList& list, const wchar_t* emptyMessage, const wchar_t* proposed);
  void Import(PathList& list, bool foldersOnly, std::function<void(const Imported&)> ended);
  // Copying and emptying (MainWindowCopy.cpp).
  void OnCopy();
  void OnEmptyFirstClick();
  void OnEmptyNowButton(POINT clientPoint);
  void OnEmptyNow();
  // The empty-now command once its destinations passed the check.
  void WarnThenEmpty(const std::vector<std::wstring>& dests);
  // Runs a copy run or an emptying: the window in the run's state meanwhile,
  // then the outcome (headline from the report) as ended says.
  void StartRun(const wchar_t* work, bool emptiesOnly, std::function<void(const copy::CopyObserver&)> run,
                std::function<void(const copy::RunReport&)> ended);
  copy::Answer AskOverwrite(const std::wstring& target);
  // Search (MainWindowSearch.cpp), and what the search dialog asks of the window.
  void OnSearchAdd();
  void StartSearch(const std::wstring& folder, bool wholeTree, const std::wstring& keys, std::function<void()> ended,
                   std::function<void()> noFolder = nullptr) override;
  void StopSearch() override;

  MainControls ui_;
  // Each policy with its radio button, in the order the group is read.
  const RadioGroup<copy::SameFileMode> policy_{{copy::SameFileMode::Ask, &ui_.ask},
                                               {copy::SameFileMode::Skip, &ui_.skip},
                                               {copy::SameFileMode::Overwrite, &ui_.overwrite},
                                               {copy::SameFileMode::AutoNumber, &ui_.autoNumber},
                                               {copy::SameFileMode::NewerOnly, &ui_.newerOnly}};
  FolderChooser* chooser_ = nullptr;  // not owned
  SearchDialog* search_ = nullptr;    // not owned
  HMENU emptyNowMenu_ = nullptr;
  HWND tooltip_ = nullptr;
  std::unique_ptr<HelpView> help_;
  std::unique_ptr<TaskbarProgress> taskbar_;
  // The gate and the work beside the window (MainWindow.cpp).
  int busyDepth_ = 0;
  bool commandRunning_ = false;
  bool askingToClose_ = false;
  std::vector<UINT> heldWorkMessages_;  // what the work posted while the close question was open
  std::unique_ptr<RunController> controller_;
  std::unique_ptr<BusyScope> workBusy_;
  std::unique_ptr<BusyCursor> workHourglass_;
  copy::SameFileMode modeAtCommandStart_ = copy::SameFileMode::AutoNumber;
  // The copy run or emptying under way, if any (MainWindowCopy.cpp).
  std::unique_ptr<RunScope> run_;
};

// Command id of the empty-now menu's one item.
constexpr UINT kMenuEmptyNow = 1001;
