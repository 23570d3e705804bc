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
#include "wingui/Dialogs.h"
#include "common/Raii.h"

namespace {

// Each policy with its radio button, in the order the radio group is read.
struct PolicyButton {
  copy::SameFileMode mode;
  const wchar_t* radioButton;
};
constexpr PolicyButton kPolicyButtons[] = {
    {copy::SameFileMode::Ask, L"Ask"},
    {copy::SameFileMode::Skip, L"Skip"},
    {copy::SameFileMode::Overwrite, L"Overwrite"},
    {copy::SameFileMode::AutoNumber, L"AutoNumber"},
    {copy::SameFileMode::NewerOnly, L"NewerOnly"},
};

constexpr DWORD kButton = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kRadio = WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON;
constexpr DWORD kGroup = WS_VISIBLE | BS_GROUPBOX | WS_CLIPSIBLINGS;
constexpr DWORD kList = WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_BORDER | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
constexpr int kColumnX = 644, kRowStep = 28, kRowY = 16;
// Shared by the table and the layout that stretches these with the window.
constexpr int kMargin = 2, kSourcesHeight = 222, kPanelHeight = 38, kHelpMargin = 4;
constexpr int kStatusY = 12, kStatusHeight = 14, kStatusFileX = 428;  // the status line, in Panel1

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
  return {
      {L"Tabs", WC_TABCONTROLW, L"", WS_VISIBLE | WS_CLIPCHILDREN | TCS_BUTTONS | TCS_FLATBUTTONS, nullptr, 0, 0, 744,
       610},
      {L"StartPage", kPanelClass, L"开始使用", WS_VISIBLE | WS_CLIPCHILDREN, L"Tabs", 4, 28, 744, 580},
      {L"SourceGroup", WC_BUTTONW, L"要复制的文件或文件夹", kGroup, L"StartPage", kMargin, kMargin, 740,
       kSourcesHeight},
      {L"SourceList", WC_LISTBOXW, L"", kList, L"SourceGroup", 8, 16, 632, 198},
      {L"AddFiles", WC_BUTTONW, L"添加文件", kButton, L"SourceGroup", kColumnX, Row(0), 90, 25,
       On(&MainWindow::OnAddFiles)},
      {L"SearchAddFiles", WC_BUTTONW, L"搜索添加文件", kButton, L"SourceGroup", kColumnX, Row(1), 89, 25,
       On(&MainWindow::OnSearchAdd), FontKind::Song},
      {L"AddSourceFolder", WC_BUTTONW, L"添加文件夹", kButton, L"SourceGroup", kColumnX, Row(2), 90, 25,
       On(&MainWindow::OnAddSourceFolder)},
      {L"RemoveSource", WC_BUTTONW, L"移除文件(夹)", kButton, L"SourceGroup", kColumnX, Row(3), 90, 25,
       On(&MainWindow::OnRemoveSource), FontKind::Song},
      {L"ClearSources", WC_BUTTONW, L"清空列表", kButton, L"SourceGroup", kColumnX, Row(4), 90, 25,
       On(&MainWindow::OnClearSources)},
      {L"ExportSources", WC_BUTTONW, L"导出保存列表", kButton, L"SourceGroup", kColumnX, Row(5), 90, 25,
       On(&MainWindow::OnExportSources), FontKind::Song},
      {L"ImportSources", WC_BUTTONW, L"导入列表", kButton, L"SourceGroup", kColumnX, Row(6), 90, 25,
       On(&MainWindow::OnImportSources)},
      {L"DestGroup", WC_BUTTONW, L"复制到的文件夹(目录)", kGroup, L"StartPage", 2, 224, 740, 165},
      {L"DestList", WC_LISTBOXW, L"", kList, L"DestGroup", 8, 16, 632, 141},
      {L"AddDestFolder", WC_BUTTONW, L"添加文件夹", kButton, L"DestGroup", kColumnX, Row(0), 90, 25,
       On(&MainWindow::OnAddDestFolder)},
      {L"RemoveDest", WC_BUTTONW, L"移除文件夹", kButton, L"DestGroup", kColumnX, Row(1), 90, 25,
       On(&MainWindow::OnRemoveDest)},
      {L"ClearDests", WC_BUTTONW, L"清空列表", kButton, L"DestGroup", kColumnX, Row(2), 90, 25,
       On(&MainWindow::OnClearDests)},
      {L"ExportDests", WC_BUTTONW, L"导出保存列表", kButton, L"DestGroup", kColumnX, Row(3), 90, 25,
       On(&MainWindow::OnExportDests), FontKind::Song},
      {L"ImportDests", WC_BUTTONW, L"导入列表", kButton, L"DestGroup", kColumnX, Row(4), 90, 25,
       On(&MainWindow::OnImportDests)},
      {L"OptionsGroup", WC_BUTTONW, L"复制选项", kGroup, L"StartPage", 2, 389, 740, 95},
      {L"SameNameLabel", WC_STATICW, L" 目标目录下已有同名文件存在时：", WS_VISIBLE | SS_LEFT, L"OptionsGroup", 8, 18,
       218, 13},
      {L"Overwrite", WC_BUTTONW, L"覆盖", kRadio | WS_GROUP, L"OptionsGroup", 16, 40, 60, 17},
      {L"Skip", WC_BUTTONW, L"跳过", kRadio, L"OptionsGroup", 88, 40, 60, 17},
      {L"Ask", WC_BUTTONW, L"询问", kRadio, L"OptionsGroup", 160, 40, 60, 17},
      {L"AutoNumber", WC_BUTTONW, L"自动编号同名文件", kRadio, L"OptionsGroup", 232, 40, 138, 17},
      {L"NewerOnly", WC_BUTTONW, L"按文件修改时间只替换旧文件", kRadio, L"OptionsGroup", 384, 40, 223, 17},
      {L"EmptyFirst", WC_BUTTONW, L"复制时先清空（删除）目标文件夹中的原有内容",
       WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_CHECKBOX, L"OptionsGroup", 11, 68, 320, 17,
       On(&MainWindow::OnEmptyFirstClick)},
      {L"EmptyNowButton", WC_BUTTONW, L"...", BS_PUSHBUTTON, L"OptionsGroup", 340, 67, 23, 22},
      {L"ProgressGroup", WC_BUTTONW, L"进度", kGroup, L"StartPage", 2, 484, 740, 49},
      {L"Progress", PROGRESS_CLASSW, L"", WS_VISIBLE, L"ProgressGroup", 16, 18, 641, 22},
      {L"CopyPanel", kPanelClass, L"", WS_VISIBLE, L"StartPage", kMargin, 540, 740, kPanelHeight},
      {L"Copy", WC_BUTTONW, L"开始复制", kButton, L"CopyPanel", 320, 6, 100, 25, On(&MainWindow::OnCopy)},
      // The status line of a run: counts and speed left of the button, the file in progress right of it.
      {L"Status", WC_STATICW, L"", WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, L"CopyPanel", 8, kStatusY, 304,
       kStatusHeight},
      {L"StatusFile", WC_STATICW, L"", WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, L"CopyPanel", kStatusFileX,
       kStatusY, 304, kStatusHeight},
      {L"HelpPage", kPanelClass, L"帮助及使用技巧", WS_CLIPCHILDREN, L"Tabs", 4, 28, 744, 580},
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
  tabs_ = Control(L"Tabs");
  startPage_ = Control(L"StartPage");
  helpPage_ = Control(L"HelpPage");
  sourceGroup_ = Control(L"SourceGroup");
  copyPanel_ = Control(L"CopyPanel");
  copyButton_ = Control(L"Copy");
  emptyNowButton_ = Control(L"EmptyNowButton");
  statusText_ = Control(L"Status");
  statusFile_ = Control(L"StatusFile");
  sourceList_.Attach(Control(L"SourceList"));
  destList_.Attach(Control(L"DestList"));
  progressBar_.Bind(Control(L"Progress"), 100);
  emptyFirst_.Bind(Control(L"EmptyFirst"));
  std::vector<HWND> radios;
  for (const PolicyButton& policy : kPolicyButtons) radios.push_back(Control(policy.radioButton));
  policyButtons_.Bind(radios);

  TCITEMW item = {TCIF_TEXT};
  item.pszText = const_cast<wchar_t*>(L"开始使用");
  TabCtrl_InsertItem(tabs_, 0, &item);
  item.pszText = const_cast<wchar_t*>(L"帮助及使用技巧");
  TabCtrl_InsertItem(tabs_, 1, &item);

  SubclassControl(sourceList_.box());
  SubclassControl(destList_.box());
  SubclassControl(emptyNowButton_);

  emptyNowMenu_ = CreatePopupMenu();
  AppendMenuW(emptyNowMenu_, MF_STRING, kMenuEmptyNow, L"立即清空（删除）目标文件夹中的原有内容");

  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0, hwnd_,
                             nullptr, instance, nullptr);
  TTTOOLINFOW tool = {sizeof tool};
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(emptyNowButton_);
  tool.lpszText = const_cast<wchar_t*>(L"立即清空（删除）目标文件夹中的原有内容");
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));

  help_ = std::make_unique<HelpView>(helpPage_, Dpi());
  taskbar_ = std::make_unique<TaskbarProgress>(hwnd_);
  controller_ = std::make_unique<RunController>(hwnd_);
  PickIcons();
  LayoutOnResize();
  OnCreate();
}

void MainWindow::OnCreate() {
  SetWindowTextW(hwnd_, kAppTitle);
  SelectMode(ReadSameFileSetting());
  // Drops on either list reach the drop handlers through the list's subclass.
  DragAcceptFiles(sourceList_.box(), TRUE);
  DragAcceptFiles(destList_.box(), TRUE);
  ShowPage(0);
  help_->Navigate(HelpPageAddress());
}

void MainWindow::Show() {
  CentreOver(nullptr);
  FollowMonitorDpi();
  ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
}

HWND MainWindow::HelpBrowser() const { return help_ ? help_->hwnd() : nullptr; }

copy::SameFileMode MainWindow::SelectedMode() const {
  for (size_t i = 0; i < policyButtons_.Size(); ++i)
    if (policyButtons_.IsSelected(i)) return kPolicyButtons[i].mode;
  return copy::SameFileMode::AutoNumber;
}

void MainWindow::SelectMode(copy::SameFileMode mode) {
  for (size_t i = 0; i < policyButtons_.Size(); ++i)
    if (kPolicyButtons[i].mode == mode) policyButtons_.Select(i);
}

void MainWindow::ShowEmptyButton(bool visible) { ShowWindow(emptyNowButton_, visible ? SW_SHOWNA : SW_HIDE); }

void MainWindow::OnClose() {
  if (!StoreSameFileSetting(SelectedMode())) {
    // Neither the machine-wide file nor the per-user copy could be written.
    ShowErrorBox(L"Unable to write to " + SettingsPaths().system);
  }
}

bool MainWindow::StopRunToClose() {
  askingToClose_ = true;
  const int answer =
      TheDialogs().Message(hwnd_, L"复制正在进行，是否停止并退出？", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
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
  TabCtrl_SetCurSel(tabs_, index);
  ShowWindow(startPage_, index == 0 ? SW_SHOW : SW_HIDE);
  ShowWindow(helpPage_, index == 1 ? SW_SHOW : SW_HIDE);
}

void MainWindow::LayoutOnResize() {
  if (!tabs_) return;  // sized while the window is being made
  RECT client;
  GetClientRect(hwnd_, &client);
  MoveWindow(tabs_, 0, 0, client.right, client.bottom, TRUE);
  // The pages take what the tab strip leaves; the strip's height follows its font.
  RECT page = {0, 0, client.right, client.bottom};
  TabCtrl_AdjustRect(tabs_, FALSE, &page);
  int width = page.right - page.left, height = page.bottom - page.top;
  MoveWindow(startPage_, page.left, page.top, width, height, TRUE);
  MoveWindow(helpPage_, page.left, page.top, width, height, TRUE);
  const int margin = Scaled(kMargin), panel = Scaled(kPanelHeight), help = Scaled(kHelpMargin);
  MoveWindow(sourceGroup_, margin, margin, width - 2 * margin, Scaled(kSourcesHeight), TRUE);
  MoveWindow(copyPanel_, margin, height - margin - panel, width - 2 * margin, panel, TRUE);
  // The file in progress takes the panel's width right of "停止".
  MoveWindow(statusFile_, Scaled(kStatusFileX), Scaled(kStatusY),
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
      if (run_ && reinterpret_cast<HWND>(lParam) == copyButton_) {
        if (HIWORD(wParam) == BN_CLICKED) controller_->Stop().Request();
        return true;
      }
      // Every click of the window arrives here, by control id. A click posted
      // to a radio button during a command still checks it: put it back.
      if (lParam && HIWORD(wParam) == BN_CLICKED) {
        const UINT id = LOWORD(wParam);
        if (!RunCommand([&] { DispatchClick(id); })) SelectMode(modeAtCommandStart_);
      }
      return true;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      // During a run the page with "停止" stays in front.
      if (header->hwndFrom == tabs_ && header->code == TCN_SELCHANGING && run_) {
        *result = TRUE;
        return true;
      }
      if (header->hwndFrom == tabs_ && header->code == TCN_SELCHANGE) ShowPage(TabCtrl_GetCurSel(header->hwndFrom));
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
        StoreSameFileSetting(SelectedMode());  // Windows ends without WM_CLOSE
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

bool MainWindow::OnControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  // Runs for every message of the two lists and the "..." button: no look-ups by name here.
  bool source = control == sourceList_.box(), dest = control == destList_.box();
  if (source || dest) {
    if (message == WM_DROPFILES) {
      auto drop = reinterpret_cast<HDROP>(wParam);
      if (!RunCommand([&] { source ? OnDropOnSources(drop) : OnDropOnDests(drop); }))
        DragFinish(drop);  // nothing changes under a running command
      *result = 0;
      return true;
    }
    if (message == WM_KEYDOWN) {
      if (!RunCommand([&] { source ? OnSourceListKey(wParam) : OnDestListKey(wParam); })) {
        *result = 0;
        return true;
      }
    }
    return false;
  }
  {  // BtnEmptyDestFolder, the third control whose procedure was replaced
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
  }
  return false;
}
