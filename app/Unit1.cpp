#include "app/Unit1.h"

#include <commctrl.h>

#include <algorithm>
#include <map>

#include "app/HelpTab.h"
#include "app/Settings.h"
#include "app/TaskbarProgress.h"
#include "common/Dialogs.h"
#include "common/Raii.h"

namespace {

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

std::vector<ControlDef> TForm1::ControlTable() {
  return {
      {L"PageControl1", WC_TABCONTROLW, L"", WS_VISIBLE | WS_CLIPCHILDREN | TCS_BUTTONS | TCS_FLATBUTTONS, nullptr, 0,
       0, 744, 610},
      {L"TabSheet1", kPanelClass, L"开始使用", WS_VISIBLE | WS_CLIPCHILDREN, L"PageControl1", 4, 28, 744, 580},
      {L"GroupBox1", WC_BUTTONW, L"要复制的文件或文件夹", kGroup, L"TabSheet1", kMargin, kMargin, 740, kSourcesHeight},
      {L"ListBox1", WC_LISTBOXW, L"", kList, L"GroupBox1", 8, 16, 632, 198},
      {L"Button1", WC_BUTTONW, L"添加文件", kButton, L"GroupBox1", kColumnX, Row(0), 90, 25, On(&TForm1::Button1Click)},
      {L"BtnSearchAdd", WC_BUTTONW, L"搜索添加文件", kButton, L"GroupBox1", kColumnX, Row(1), 89, 25,
       On(&TForm1::BtnSearchAddClick), FontKind::Song},
      {L"Button5", WC_BUTTONW, L"添加文件夹", kButton, L"GroupBox1", kColumnX, Row(2), 90, 25,
       On(&TForm1::Button5Click)},
      {L"Button2", WC_BUTTONW, L"移除文件(夹)", kButton, L"GroupBox1", kColumnX, Row(3), 90, 25,
       On(&TForm1::Button2Click), FontKind::Song},
      {L"Button6", WC_BUTTONW, L"清空列表", kButton, L"GroupBox1", kColumnX, Row(4), 90, 25, On(&TForm1::Button6Click)},
      {L"BtnSaveFileList", WC_BUTTONW, L"导出保存列表", kButton, L"GroupBox1", kColumnX, Row(5), 90, 25,
       On(&TForm1::BtnSaveFileListClick), FontKind::Song},
      {L"BtnImpFileList", WC_BUTTONW, L"导入列表", kButton, L"GroupBox1", kColumnX, Row(6), 90, 25,
       On(&TForm1::BtnImpFileListClick)},
      {L"GroupBox2", WC_BUTTONW, L"复制到的文件夹(目录)", kGroup, L"TabSheet1", 2, 224, 740, 165},
      {L"ListBox2", WC_LISTBOXW, L"", kList, L"GroupBox2", 8, 16, 632, 141},
      {L"Button3", WC_BUTTONW, L"添加文件夹", kButton, L"GroupBox2", kColumnX, Row(0), 90, 25,
       On(&TForm1::Button3Click)},
      {L"Button4", WC_BUTTONW, L"移除文件夹", kButton, L"GroupBox2", kColumnX, Row(1), 90, 25,
       On(&TForm1::Button4Click)},
      {L"Button7", WC_BUTTONW, L"清空列表", kButton, L"GroupBox2", kColumnX, Row(2), 90, 25, On(&TForm1::Button7Click)},
      {L"BtnSaveDirLst", WC_BUTTONW, L"导出保存列表", kButton, L"GroupBox2", kColumnX, Row(3), 90, 25,
       On(&TForm1::BtnSaveDirLstClick), FontKind::Song},
      {L"BtnImpDirLst", WC_BUTTONW, L"导入列表", kButton, L"GroupBox2", kColumnX, Row(4), 90, 25,
       On(&TForm1::BtnImpDirLstClick)},
      {L"GroupBox3", WC_BUTTONW, L"复制选项", kGroup, L"TabSheet1", 2, 389, 740, 95},
      {L"Label1", WC_STATICW, L" 目标目录下已有同名文件存在时：", WS_VISIBLE | SS_LEFT, L"GroupBox3", 8, 18, 218, 13},
      {L"Rb1", WC_BUTTONW, L"覆盖", kRadio | WS_GROUP, L"GroupBox3", 16, 40, 60, 17},
      {L"Rb2", WC_BUTTONW, L"跳过", kRadio, L"GroupBox3", 88, 40, 60, 17},
      {L"Rb3", WC_BUTTONW, L"询问", kRadio, L"GroupBox3", 160, 40, 60, 17},
      {L"RbRename", WC_BUTTONW, L"自动编号同名文件", kRadio, L"GroupBox3", 232, 40, 138, 17},
      {L"RbEditFileTime", WC_BUTTONW, L"按文件修改时间只替换旧文件", kRadio, L"GroupBox3", 384, 40, 223, 17},
      {L"CheckBox1", WC_BUTTONW, L"复制时先清空（删除）目标文件夹中的原有内容",
       WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_CHECKBOX, L"GroupBox3", 11, 68, 320, 17, On(&TForm1::CheckBox1Click)},
      {L"BtnEmptyDestFolder", WC_BUTTONW, L"...", BS_PUSHBUTTON, L"GroupBox3", 340, 67, 23, 22},
      {L"GroupBox4", WC_BUTTONW, L"进度", kGroup, L"TabSheet1", 2, 484, 740, 49},
      {L"ProgressBar1", PROGRESS_CLASSW, L"", WS_VISIBLE, L"GroupBox4", 16, 18, 641, 22},
      {L"Panel1", kPanelClass, L"", WS_VISIBLE, L"TabSheet1", kMargin, 540, 740, kPanelHeight},
      {L"BtnCopy", WC_BUTTONW, L"开始复制", kButton, L"Panel1", 320, 6, 100, 25, On(&TForm1::BtnCopyClick)},
      // The status line of a run: counts and speed left of the button, the file in progress right of it.
      {L"LblStatus", WC_STATICW, L"", WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, L"Panel1", 8, kStatusY, 304,
       kStatusHeight},
      {L"LblStatusFile", WC_STATICW, L"", WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, L"Panel1", kStatusFileX,
       kStatusY, 304, kStatusHeight},
      {L"TabSheet2", kPanelClass, L"帮助及使用技巧", WS_CLIPCHILDREN, L"PageControl1", 4, 28, 744, 580},
  };
}

TForm1::TForm1() = default;

TForm1::~TForm1() {
  help_.reset();  // the browser closes while its window still exists
  if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  if (popupMenu1_) DestroyMenu(popupMenu1_);
}

void TForm1::UseForms(TForm2& chooser, TfrmSearch& search) {
  chooser_ = &chooser;
  search_ = &search;
}

void TForm1::Create(HWND appWindow) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterFormClass(instance, L"TForm1", LoadIconW(instance, MAKEINTRESOURCEW(1)));
  // Owned by the hidden application window, yet with a taskbar button of its own.
  CreateForm(L"TForm1", L"", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME | WS_CLIPCHILDREN,
             WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, appWindow, 760, 648, false);
  CreateControls(ControlTable());
  pageControl1_ = Control(L"PageControl1");
  tabSheet1_ = Control(L"TabSheet1");
  tabSheet2_ = Control(L"TabSheet2");
  groupBox1_ = Control(L"GroupBox1");
  panel1_ = Control(L"Panel1");
  btnCopy_ = Control(L"BtnCopy");
  btnEmptyDestFolder_ = Control(L"BtnEmptyDestFolder");
  lblStatus_ = Control(L"LblStatus");
  lblStatusFile_ = Control(L"LblStatusFile");
  sources_.Attach(Control(L"ListBox1"));
  dests_.Attach(Control(L"ListBox2"));
  progressBar1_.Bind(Control(L"ProgressBar1"), 100);
  checkBox1_.Bind(Control(L"CheckBox1"));
  std::vector<HWND> radios;
  for (const SameFilePolicy& policy : kSameFilePolicies) radios.push_back(Control(policy.radioButton));
  sameFileGroup_.Bind(radios);

  TCITEMW item = {TCIF_TEXT};
  item.pszText = const_cast<wchar_t*>(L"开始使用");
  TabCtrl_InsertItem(pageControl1_, 0, &item);
  item.pszText = const_cast<wchar_t*>(L"帮助及使用技巧");
  TabCtrl_InsertItem(pageControl1_, 1, &item);

  SubclassControl(sources_.box());
  SubclassControl(dests_.box());
  SubclassControl(btnEmptyDestFolder_);

  popupMenu1_ = CreatePopupMenu();
  AppendMenuW(popupMenu1_, MF_STRING, kMenuN1, L"立即清空（删除）目标文件夹中的原有内容");

  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0, hwnd_,
                             nullptr, instance, nullptr);
  TTTOOLINFOW tool = {sizeof tool};
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(btnEmptyDestFolder_);
  tool.lpszText = const_cast<wchar_t*>(L"立即清空（删除）目标文件夹中的原有内容");
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));

  help_ = std::make_unique<HelpView>(tabSheet2_, Dpi());
  taskbar_ = std::make_unique<TaskbarProgress>(hwnd_);
  PickIcons();
  LayoutOnResize();
  FormCreate();
}

void TForm1::FormCreate() {
  SetWindowTextW(hwnd_, kAppTitle);
  SelectMode(ReadSameFileSetting());
  // Drops on either list reach the drop handlers through the list's subclass.
  DragAcceptFiles(sources_.box(), TRUE);
  DragAcceptFiles(dests_.box(), TRUE);
  ShowPage(0);
  help_->Navigate(HelpPageAddress());
}

void TForm1::Show() {
  CentreOver(nullptr);
  FollowMonitorDpi();
  ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
}

HWND TForm1::WebBrowser1() const { return help_ ? help_->hwnd() : nullptr; }

copy::SameFileMode TForm1::SelectedMode() const {
  for (size_t i = 0; i < sameFileGroup_.Size(); ++i)
    if (sameFileGroup_.IsSelected(i)) return kSameFilePolicies[i].mode;
  return copy::SameFileMode::AutoNumber;
}

void TForm1::SelectMode(copy::SameFileMode mode) {
  for (size_t i = 0; i < sameFileGroup_.Size(); ++i)
    if (kSameFilePolicies[i].mode == mode) sameFileGroup_.Select(i);
}

void TForm1::ShowEmptyButton(bool visible) { ShowWindow(btnEmptyDestFolder_, visible ? SW_SHOWNA : SW_HIDE); }

void TForm1::FormClose() {
  if (!StoreSameFileSetting(SelectedMode())) {
    // Neither the machine-wide file nor the per-user copy could be written.
    ShowErrorBox(L"Unable to write to " + SettingsPaths().system);
  }
}

void TForm1::ShowPage(int index) {
  TabCtrl_SetCurSel(pageControl1_, index);
  ShowWindow(tabSheet1_, index == 0 ? SW_SHOW : SW_HIDE);
  ShowWindow(tabSheet2_, index == 1 ? SW_SHOW : SW_HIDE);
}

void TForm1::LayoutOnResize() {
  if (!pageControl1_) return;  // sized while the window is being made
  RECT client;
  GetClientRect(hwnd_, &client);
  MoveWindow(pageControl1_, 0, 0, client.right, client.bottom, TRUE);
  // The pages take what the tab strip leaves; the strip's height follows its font.
  RECT page = {0, 0, client.right, client.bottom};
  TabCtrl_AdjustRect(pageControl1_, FALSE, &page);
  int width = page.right - page.left, height = page.bottom - page.top;
  MoveWindow(tabSheet1_, page.left, page.top, width, height, TRUE);
  MoveWindow(tabSheet2_, page.left, page.top, width, height, TRUE);
  const int margin = Scaled(kMargin), panel = Scaled(kPanelHeight), help = Scaled(kHelpMargin);
  MoveWindow(groupBox1_, margin, margin, width - 2 * margin, Scaled(kSourcesHeight), TRUE);
  MoveWindow(panel1_, margin, height - margin - panel, width - 2 * margin, panel, TRUE);
  // The file in progress takes the panel's width right of "停止".
  MoveWindow(lblStatusFile_, Scaled(kStatusFileX), Scaled(kStatusY),
             std::max(0, width - 2 * margin - Scaled(kStatusFileX + 8)), Scaled(kStatusHeight), TRUE);
  if (help_) help_->Resize(help, help, width - 2 * help, height - 2 * help);
}

void TForm1::OnDpiChanged() {
  if (help_) help_->SetDpi(Dpi());
  PickIcons();
  LayoutOnResize();
}

void TForm1::PickIcons() {
  if (HICON small = AppIcon(display::SystemMetric(SM_CXSMICON, Dpi())))
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, LPARAM(small));
  if (HICON big = AppIcon(display::SystemMetric(SM_CXICON, Dpi())))
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, LPARAM(big));
}

TForm1::BusyScope::BusyScope(TForm1& form) : form_(form), wasEnabled_(IsWindowEnabled(form.hwnd_)) {
  if (form_.busyDepth_++ == 0) EnableWindow(form_.hwnd_, FALSE);
}

TForm1::BusyScope::~BusyScope() {
  if (--form_.busyDepth_ == 0 && wasEnabled_) EnableWindow(form_.hwnd_, TRUE);
}

void TForm1::KeepAlive() {
  DWORD now = GetTickCount();
  if (now - lastPump_ < 40) return;
  lastPump_ = now;
  // The window takes no input but "停止" and Esc meanwhile (the controls, or
  // the whole window, are disabled, and the command gate refuses the rest).
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(int(msg.wParam));
      break;
    }
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
      stop_.Request();
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (runReport_ && now - lastStatus_ >= 100) ShowRunStatus();
}

bool TForm1::RunCommand(const std::function<void()>& command) {
  if (commandRunning_ || Busy()) return false;
  commandRunning_ = true;
  modeAtCommandStart_ = SelectedMode();
  stop_.Reset();
  ScopeGuard done([this] { commandRunning_ = false; });
  // The error box is part of the command: nothing else starts while it is open.
  Guarded(command);
  return true;
}

bool TForm1::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_COMMAND:
      // During a run "停止" is the one control that takes input.
      if (runReport_ && reinterpret_cast<HWND>(lParam) == btnCopy_) {
        if (HIWORD(wParam) == BN_CLICKED) stop_.Request();
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
      if (header->hwndFrom == pageControl1_ && header->code == TCN_SELCHANGING && runReport_) {
        *result = TRUE;
        return true;
      }
      if (header->hwndFrom == pageControl1_ && header->code == TCN_SELCHANGE)
        ShowPage(TabCtrl_GetCurSel(header->hwndFrom));
      return false;
    }
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) LayoutOnResize();
      return true;
    case WM_CLOSE:
      if (commandRunning_) return true;  // a command cannot be abandoned half way
      FormClose();
      DestroyWindow(hwnd_);
      return true;
    case WM_QUERYENDSESSION:
      // A run or an emptying cut off half way would leave the destinations incomplete.
      *result = runReport_ ? FALSE : TRUE;
      return true;
    case WM_ENDSESSION:
      if (wParam && runReport_) {
        stop_.Abandon();  // ended all the same: no copy is left half-written
      } else if (wParam) {
        StoreSameFileSetting(SelectedMode());  // Windows ends without WM_CLOSE: keep the policy
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

bool TForm1::OnControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  // Runs for every message of the two lists and the "..." button: no look-ups by name here.
  bool source = control == sources_.box(), dest = control == dests_.box();
  if (source || dest) {
    if (message == WM_DROPFILES) {
      auto drop = reinterpret_cast<HDROP>(wParam);
      if (!RunCommand([&] { source ? DropOnSourceList(drop) : DropOnDestList(drop); }))
        DragFinish(drop);  // nothing changes under a running command
      *result = 0;
      return true;
    }
    if (message == WM_KEYDOWN) {
      if (!RunCommand([&] { source ? ListBox1KeyDown(wParam) : ListBox2KeyDown(wParam); })) {
        *result = 0;
        return true;
      }
    }
    return false;
  }
  {  // BtnEmptyDestFolder, the third control whose procedure was replaced
    if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN ||
        message == WM_LBUTTONDBLCLK || message == WM_RBUTTONDBLCLK || message == WM_MBUTTONDBLCLK) {
      RunCommand([&] { BtnEmptyDestFolderMouseDown(POINT{short(LOWORD(lParam)), short(HIWORD(lParam))}); });
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
