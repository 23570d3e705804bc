#include "app/MainWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <map>

#include "app/HelpTab.h"
#include "app/ListFeed.h"
#include "app/RunController.h"
#include "copy/Settings.h"
#include "copy/RunReport.h"
#include "app/TaskbarProgress.h"
#include "app/Texts.h"
#include "common/Text.h"
#include "wingui/Dialogs.h"
#include "common/Raii.h"

namespace {

// Captions that two controls of the table share.
const wchar_t kAddFolder[] = L"添加文件夹", kClearList[] = L"清空列表", kExportList[] = L"导出保存列表",
              kImportList[] = L"导入列表";
// The "..." button's one command: its menu item and its tip.
const wchar_t kEmptyNowCommand[] = L"立即清空（删除）目标文件夹中的原有内容";

constexpr DWORD kButton = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kRadio = WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON;
constexpr DWORD kGroup = WS_VISIBLE | BS_GROUPBOX | WS_CLIPSIBLINGS;
constexpr DWORD kList = WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_BORDER | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
constexpr int kColumnX = 644, kRowStep = 28, kRowY = 16;
// Shared by the table and the layout that stretches these with the window.
constexpr int kMargin = 2, kSourcesHeight = 222, kPanelHeight = 38, kHelpMargin = 4;
constexpr int kStatusY = 12, kStatusHeight = 14, kStatusFileX = 428;  // the status line, in the copy panel

int Row(int n) { return kRowY + n * kRowStep; }

// The program's icon with the frame for that size (made once for each size).
HICON AppIcon(int size) {
  static std::map<int, HICON> icons;
  HICON& icon = icons[size];
  if (!icon)
    icon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
  return icon;
}

}  // namespace

std::vector<ControlDef> MainWindow::ControlTable() {
  MainControls& c = ui_;
  return {
      {&c.tabs, WC_TABCONTROLW, L"", WS_VISIBLE | WS_CLIPCHILDREN | TCS_BUTTONS | TCS_FLATBUTTONS, nullptr, 0, 0, 744,
       610},
      {&c.startPage, kPanelClass, L"开始使用", WS_VISIBLE | WS_CLIPCHILDREN, &c.tabs, 4, 28, 744, 580},
      {&c.sourceGroup, WC_BUTTONW, L"要复制的文件或文件夹", kGroup, &c.startPage, kMargin, kMargin, 740,
       kSourcesHeight},
      {&c.sources, WC_LISTBOXW, L"", kList, &c.sourceGroup, 8, 16, 632, 198},
      {&c.addFiles, WC_BUTTONW, L"添加文件", kButton, &c.sourceGroup, kColumnX, Row(0), 90, 25,
       On(&MainWindow::OnAddFiles)},
      {&c.searchAddFiles, WC_BUTTONW, kSearchAddFiles, kButton, &c.sourceGroup, kColumnX, Row(1), 89, 25,
       On(&MainWindow::OnSearchAdd), FontKind::Song},
      {&c.addSourceFolder, WC_BUTTONW, kAddFolder, kButton, &c.sourceGroup, kColumnX, Row(2), 90, 25,
       On(&MainWindow::OnAddSourceFolder)},
      {&c.removeSource, WC_BUTTONW, L"移除文件(夹)", kButton, &c.sourceGroup, kColumnX, Row(3), 90, 25,
       On(&MainWindow::OnRemoveSource), FontKind::Song},
      {&c.clearSources, WC_BUTTONW, kClearList, kButton, &c.sourceGroup, kColumnX, Row(4), 90, 25,
       On(&MainWindow::OnClearSources)},
      {&c.exportSources, WC_BUTTONW, kExportList, kButton, &c.sourceGroup, kColumnX, Row(5), 90, 25,
       On(&MainWindow::OnExportSources), FontKind::Song},
      {&c.importSources, WC_BUTTONW, kImportList, kButton, &c.sourceGroup, kColumnX, Row(6), 90, 25,
       On(&MainWindow::OnImportSources)},
      {&c.destGroup, WC_BUTTONW, L"复制到的文件夹(目录)", kGroup, &c.startPage, 2, 224, 740, 165},
      {&c.dests, WC_LISTBOXW, L"", kList, &c.destGroup, 8, 16, 632, 141},
      {&c.addDestFolder, WC_BUTTONW, kAddFolder, kButton, &c.destGroup, kColumnX, Row(0), 90, 25,
       On(&MainWindow::OnAddDestFolder)},
      {&c.removeDest, WC_BUTTONW, L"移除文件夹", kButton, &c.destGroup, kColumnX, Row(1), 90, 25,
       On(&MainWindow::OnRemoveDest)},
      {&c.clearDests, WC_BUTTONW, kClearList, kButton, &c.destGroup, kColumnX, Row(2), 90, 25,
       On(&MainWindow::OnClearDests)},
      {&c.exportDests, WC_BUTTONW, kExportList, kButton, &c.destGroup, kColumnX, Row(3), 90, 25,
       On(&MainWindow::OnExportDests), FontKind::Song},
      {&c.importDests, WC_BUTTONW, kImportList, kButton, &c.destGroup, kColumnX, Row(4), 90, 25,
       On(&MainWindow::OnImportDests)},
      {&c.optionsGroup, WC_BUTTONW, L"复制选项", kGroup, &c.startPage, 2, 389, 740, 95},
      {&c.sameNameLabel, WC_STATICW, L" 目标目录下已有同名文件存在时：", WS_VISIBLE | SS_LEFT, &c.optionsGroup, 8, 18,
       218, 13},
      {&c.overwrite, WC_BUTTONW, text::kOverwrite, kRadio | WS_GROUP, &c.optionsGroup, 16, 40, 60, 17},
      {&c.skip, WC_BUTTONW, text::kSkip, kRadio, &c.optionsGroup, 88, 40, 60, 17},
      {&c.ask, WC_BUTTONW, text::kAsk, kRadio, &c.optionsGroup, 160, 40, 60, 17},
      {&c.autoNumber, WC_BUTTONW, text::kAutoNumber, kRadio, &c.optionsGroup, 232, 40, 138, 17},
      {&c.newerOnly, WC_BUTTONW, text::kNewerOnly, kRadio, &c.optionsGroup, 384, 40, 223, 17},
      {&c.emptyFirst, WC_BUTTONW, L"复制时先清空（删除）目标文件夹中的原有内容",
       WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_CHECKBOX, &c.optionsGroup, 11, 68, 320, 17,
       On(&MainWindow::OnEmptyFirstClick)},
      {&c.emptyNow, WC_BUTTONW, L"...", BS_PUSHBUTTON, &c.optionsGroup, 340, 67, 23, 22},
      // A plain check box: the tick changes only through the command gate, never during a run.
      {&c.verify, WC_BUTTONW, L"复制后校验", WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_CHECKBOX, &c.optionsGroup, 376, 68,
       96, 17, [] {}},
      {&c.progressGroup, WC_BUTTONW, L"进度", kGroup, &c.startPage, 2, 484, 740, 49},
      {&c.progress, PROGRESS_CLASSW, L"", WS_VISIBLE, &c.progressGroup, 16, 18, 641, 22},
      {&c.copyPanel, kPanelClass, L"", WS_VISIBLE, &c.startPage, kMargin, 540, 740, kPanelHeight},
      {&c.copy, WC_BUTTONW, L"开始复制", kButton, &c.copyPanel, 320, 6, 100, 25, On(&MainWindow::OnCopy)},
      // The status line of a run: counts and speed left of the button, the file in progress right of it.
      {&c.status, WC_STATICW, L"", WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, &c.copyPanel, 8, kStatusY, 304,
       kStatusHeight},
      {&c.statusFile, WC_STATICW, L"", WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, &c.copyPanel, kStatusFileX,
       kStatusY, 304, kStatusHeight},
      {&c.helpPage, kPanelClass, L"帮助及使用技巧", WS_CLIPCHILDREN, &c.tabs, 4, 28, 744, 580},
  };
}

MainWindow::MainWindow() = default;

MainWindow::~MainWindow() {
  help_.reset();                            // the browser closes while its window still exists
  if (controller_) controller_->Abandon();  // while it can still ask, and be answered Cancel
  controller_.reset();
  run_.reset();
  workBusy_.reset();
  workHourglass_.reset();
  if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  if (emptyNowMenu_) DestroyMenu(emptyNowMenu_);
}

void MainWindow::UseForms(FolderChooser& chooser, SearchDialog& search) {
  chooser_ = &chooser;
  search_ = &search;
}

void MainWindow::Create(HWND appWindow) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterFormClass(instance, L"MainWindow", LoadIconW(instance, MAKEINTRESOURCEW(1)));
  // Owned by the hidden application window, yet with a taskbar button of its own.
  CreateForm(L"MainWindow", L"",
             WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME | WS_CLIPCHILDREN,
             WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, appWindow, 760, 648, false);
  CreateControls(ControlTable());
  ui_.progress.SetRange(100);

  // The tabs are named as their pages are.
  TCITEMW item = {TCIF_TEXT};
  for (const Control* page : {&ui_.startPage, &ui_.helpPage}) {
    const std::wstring caption = page->Text();
    item.pszText = const_cast<wchar_t*>(caption.c_str());
    TabCtrl_InsertItem(ui_.tabs.hwnd(), TabCtrl_GetItemCount(ui_.tabs.hwnd()), &item);
  }

  for (PathList* list : {&ui_.sources, &ui_.dests})
    Subclass(list->hwnd(), [this, list](UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
      return OnListMessage(*list, message, wParam, lParam, result);
    });
  Subclass(ui_.emptyNow.hwnd(), [this](UINT message, WPARAM, LPARAM lParam, LRESULT* result) {
    return OnEmptyNowMessage(message, lParam, result);
  });

  emptyNowMenu_ = CreatePopupMenu();
  AppendMenuW(emptyNowMenu_, MF_STRING, kMenuEmptyNow, kEmptyNowCommand);

  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0, hwnd_,
                             nullptr, instance, nullptr);
  TTTOOLINFOW tool = {sizeof tool};
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(ui_.emptyNow.hwnd());
  tool.lpszText = const_cast<wchar_t*>(kEmptyNowCommand);
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));

  help_ = std::make_unique<HelpView>(ui_.helpPage.hwnd(), Dpi());
  taskbar_ = std::make_unique<TaskbarProgress>(hwnd_);
  controller_ = std::make_unique<RunController>(hwnd_);
  PickIcons();
  LayoutOnResize();
  SetWindowTextW(hwnd_, kAppTitle);
  policy_.Select(copy::ReadSameFileSetting());
  ui_.verify.SetChecked(copy::ReadVerifySetting());
  // Drops on either list reach the drop handlers through the list's subclass.
  DragAcceptFiles(ui_.sources.hwnd(), TRUE);
  DragAcceptFiles(ui_.dests.hwnd(), TRUE);
  ShowPage(0);
  help_->Navigate(HelpPageAddress());
}

void MainWindow::Show() {
  CentreOver(nullptr);
  FollowMonitorDpi();
  ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
}

void MainWindow::ShowWholeDriveCopied() {
  TheDialogs().Message(AppWindow(), text::kWholeDriveCopied, MB_OK | MB_ICONINFORMATION);
}

void MainWindow::ShowEmptyButton(bool visible) { ShowWindow(ui_.emptyNow.hwnd(), visible ? SW_SHOWNA : SW_HIDE); }

void MainWindow::OnClose() {
  if (!copy::StoreWindowSettings(SelectedMode(), ui_.verify.Checked())) {
    // Neither the machine-wide file nor the per-user copy could be written.
    ShowErrorBox(UnableToWriteText(copy::SettingsPaths().system));
  }
}

bool MainWindow::StopRunToClose() {
  askingToClose_ = true;
  const int answer = TheDialogs().Message(hwnd_, kStopToClose, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
  askingToClose_ = false;
  if (answer == IDYES) {
    controller_->Abandon();  // the file in progress is given up, as a stop gives it up
    return true;
  }
  for (UINT message : heldWorkMessages_) PostMessageW(hwnd_, message, 0, 0);
  heldWorkMessages_.clear();
  return false;
}

void MainWindow::ShowPage(int index) {
  TabCtrl_SetCurSel(ui_.tabs.hwnd(), index);
  ShowWindow(ui_.startPage.hwnd(), index == 0 ? SW_SHOW : SW_HIDE);
  ShowWindow(ui_.helpPage.hwnd(), index == 1 ? SW_SHOW : SW_HIDE);
}

void MainWindow::LayoutOnResize() {
  const HWND tabs = ui_.tabs.hwnd();
  if (!tabs) return;  // sized while the window is being made
  RECT client;
  GetClientRect(hwnd_, &client);
  MoveWindow(tabs, 0, 0, client.right, client.bottom, TRUE);
  // The pages take what the tab strip leaves; the strip's height follows its font.
  RECT page = {0, 0, client.right, client.bottom};
  TabCtrl_AdjustRect(tabs, FALSE, &page);
  int width = page.right - page.left, height = page.bottom - page.top;
  MoveWindow(ui_.startPage.hwnd(), page.left, page.top, width, height, TRUE);
  MoveWindow(ui_.helpPage.hwnd(), page.left, page.top, width, height, TRUE);
  const int margin = Scaled(kMargin), panel = Scaled(kPanelHeight), help = Scaled(kHelpMargin);
  MoveWindow(ui_.sourceGroup.hwnd(), margin, margin, width - 2 * margin, Scaled(kSourcesHeight), TRUE);
  MoveWindow(ui_.copyPanel.hwnd(), margin, height - margin - panel, width - 2 * margin, panel, TRUE);
  // The file in progress takes the panel's width right of "停止".
  MoveWindow(ui_.statusFile.hwnd(), Scaled(kStatusFileX), Scaled(kStatusY),
             std::max(0, width - 2 * margin - Scaled(kStatusFileX + 8)), Scaled(kStatusHeight), TRUE);
  if (help_) help_->Resize(help, help, width - 2 * help, height - 2 * help);
}

void MainWindow::OnDpiChanged() {
  if (help_) help_->SetDpi(Dpi());
  PickIcons();
  LayoutOnResize();
}

void MainWindow::PickIcons() {
  if (HICON small = AppIcon(display::SystemMetric(SM_CXSMICON, Dpi())))
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, LPARAM(small));
  if (HICON big = AppIcon(display::SystemMetric(SM_CXICON, Dpi())))
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, LPARAM(big));
}

MainWindow::BusyScope::BusyScope(MainWindow& form) : form_(form), wasEnabled_(IsWindowEnabled(form.hwnd_)) {
  if (form_.busyDepth_++ == 0) EnableWindow(form_.hwnd_, FALSE);
}

MainWindow::BusyScope::~BusyScope() {
  if (--form_.busyDepth_ == 0 && wasEnabled_) EnableWindow(form_.hwnd_, TRUE);
}

bool MainWindow::Working() const { return controller_ && controller_->Busy(); }
StopSignal& MainWindow::WorkStop() { return controller_->Stop(); }
int MainWindow::AskFromWork(std::function<int()> question) { return controller_->Ask(std::move(question)); }

void MainWindow::StartWork(std::function<void()> work, std::function<void()> tick,
                           std::function<void(std::exception_ptr)> ended, bool blockWindow, bool hourglass) {
  controller_->Start(std::move(work), std::move(tick), [this, ended = std::move(ended)](std::exception_ptr error) {
    workHourglass_.reset();
    workBusy_.reset();
    ended(error);
  });
  if (blockWindow) workBusy_ = std::make_unique<BusyScope>(*this);
  if (hourglass) workHourglass_ = std::make_unique<BusyCursor>();
}

void MainWindow::StartFeeding(PathList& list, std::function<void(ListFeed&)> work,
                              std::function<void(std::exception_ptr)> ended, bool blockWindow, bool hourglass) {
  auto feed = std::make_shared<ListFeed>(list);
  StartWork([feed, work = std::move(work)] { work(*feed); }, [feed] { feed->Flush(); },
            [feed, ended = std::move(ended)](std::exception_ptr error) {
              feed->Finish();
              ended(error);
            },
            blockWindow, hourglass);
}

void MainWindow::FileWorkThen(std::function<void()> work, std::function<void()> then) {
  StartWork(
      std::move(work), nullptr,
      [this, then = std::move(then)](std::exception_ptr error) {
        if (controller_->Abandoned()) return;
        if (error) std::rethrow_exception(error);
        then();
      },
      true, false);
}

void MainWindow::AsCommand(const std::function<void()>& body) {
  const bool was = commandRunning_;
  commandRunning_ = true;
  Guarded([&] {
    try {
      body();
    } catch (const FileError& error) {
      throw Worded(error);
    } catch (const ListBoxError& error) {
      throw Worded(error);
    }
  });
  commandRunning_ = was;
}

bool MainWindow::RunCommand(const std::function<void()>& command) {
  if (commandRunning_ || Busy() || Working()) return false;
  modeAtCommandStart_ = SelectedMode();
  // The error box is part of the command: nothing else starts while it is open.
  AsCommand(command);
  return true;
}

bool MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_COMMAND:
      // During a run "停止" is the one control that takes input.
      if (run_ && reinterpret_cast<HWND>(lParam) == ui_.copy.hwnd()) {
        if (HIWORD(wParam) == BN_CLICKED) controller_->Stop().Request();
        return true;
      }
      // Every click of the window arrives here, by control id. A click posted
      // to a radio button during a command still checks it: put it back.
      if (lParam && HIWORD(wParam) == BN_CLICKED) {
        const UINT id = LOWORD(wParam);
        if (!RunCommand([&] { DispatchClick(id); })) policy_.Select(modeAtCommandStart_);
      }
      return true;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      // During a run the page with "停止" stays in front.
      if (header->hwndFrom == ui_.tabs.hwnd() && header->code == TCN_SELCHANGING && run_) {
        *result = TRUE;
        return true;
      }
      if (header->hwndFrom == ui_.tabs.hwnd() && header->code == TCN_SELCHANGE)
        ShowPage(TabCtrl_GetCurSel(header->hwndFrom));
      return false;
    }
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) LayoutOnResize();
      return true;
    case kWorkEnded:
    case kWorkAsks:
      // Held while the close question is open: its answer decides whether they matter.
      if (askingToClose_) {
        heldWorkMessages_.push_back(message);
        return true;
      }
      AsCommand([this, message] { message == kWorkEnded ? controller_->OnEnded() : controller_->OnAsks(); });
      return true;
    case WM_TIMER:
      if (wParam != kWorkTimer) return false;
      controller_->OnTick();
      return true;
    case WM_CLOSE:
      // A command cannot be abandoned half way; a copy run or an emptying can, once the user says so.
      if (commandRunning_ || askingToClose_ || (Working() && !run_)) return true;
      if (run_ && !StopRunToClose()) return true;
      OnClose();
      DestroyWindow(hwnd_);
      return true;
    case WM_QUERYENDSESSION:
      // A run or an emptying cut off half way would leave the destinations incomplete.
      *result = run_ ? FALSE : TRUE;
      return true;
    case WM_ENDSESSION:
      if (wParam) {
        // Ended all the same: the work gives up before the session may end (a
        // run its file in progress, so no copy is left half-written; a check
        // starts nothing), and the policy is kept.
        if (Working()) controller_->Abandon();
        copy::StoreWindowSettings(SelectedMode(), ui_.verify.Checked());  // Windows ends without WM_CLOSE
      }
      *result = 0;
      return true;
    case WM_DESTROY:
      help_.reset();  // before the children go: closing it later stalls
      PostQuitMessage(0);
      return true;
  }
  return false;
}

bool MainWindow::OnListMessage(PathList& list, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  const bool sources = &list == &ui_.sources;
  if (message == WM_DROPFILES) {
    auto drop = reinterpret_cast<HDROP>(wParam);
    if (!RunCommand([&] { sources ? OnDropOnSources(drop) : OnDropOnDests(drop); }))
      DragFinish(drop);  // nothing changes under a running command
    *result = 0;
    return true;
  }
  // A key that passes the gate goes on to the list box too (the arrows move the selection).
  if (message == WM_KEYDOWN && !RunCommand([&] { sources ? OnSourceListKey(wParam) : OnDestListKey(wParam); })) {
    *result = 0;
    return true;
  }
  return false;
}

bool MainWindow::OnEmptyNowMessage(UINT message, LPARAM lParam, LRESULT* result) {
  if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN ||
      message == WM_LBUTTONDBLCLK || message == WM_RBUTTONDBLCLK || message == WM_MBUTTONDBLCLK) {
    RunCommand([&] { OnEmptyNowButton(POINT{short(LOWORD(lParam)), short(HIWORD(lParam))}); });
    *result = 0;
    return true;  // the button never takes the focus
  }
  if (message == WM_MOUSEACTIVATE) {
    *result = MA_NOACTIVATE;
    return true;
  }
  return false;
}
