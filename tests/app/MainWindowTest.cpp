#include "tests/support/AppFixture.h"

#include <commctrl.h>

#include <algorithm>
#include <map>

#include "app/HelpTab.h"
#include "copy/CopyEngine.h"
#include "fs/FileCopy.h"
#include "fs/OwnFiles.h"

namespace {

std::wstring ClassOf(HWND w) {
  wchar_t name[64];
  GetClassNameW(w, name, 64);
  return name;
}

RECT Rect(HWND w) {
  RECT r;
  GetWindowRect(w, &r);
  return r;
}
int Width(HWND w) { return Rect(w).right - Rect(w).left; }
int Height(HWND w) { return Rect(w).bottom - Rect(w).top; }

using MainWindow = AppTest;

TEST_F(MainWindow, EveryControlIsMadeAsItsTableRowSays) {
  Start();
  // The layout stretches these with the window; every other control keeps its table size.
  const MainControls& c = ui();
  const std::vector<const Control*> stretched = {&c.tabs,        &c.startPage, &c.helpPage,
                                                 &c.sourceGroup, &c.copyPanel, &c.statusFile};
  for (const ControlDef& def : form().Definitions()) {
    HWND w = def.control->hwnd();
    SCOPED_TRACE(Narrow(def.text));
    EXPECT_EQ(lstrcmpiW(ClassOf(w).c_str(), def.windowClass), 0);
    EXPECT_EQ(WindowText(w), def.text);
    EXPECT_EQ(GetParent(w), def.parent ? def.parent->hwnd() : form().hwnd());
    if (std::find(stretched.begin(), stretched.end(), def.control) == stretched.end()) {
      EXPECT_EQ(Width(w), def.width);
      EXPECT_EQ(Height(w), def.height);
    }
  }
  // Fonts: 宋体 9 pt on four buttons, MS Sans Serif 8 pt elsewhere.
  for (const Button* button : {&c.removeSource, &c.exportSources, &c.exportDests, &c.searchAddFiles, &c.addFiles}) {
    LOGFONTW font;
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(button->hwnd(), WM_GETFONT, 0, 0)), sizeof font, &font);
    bool song = button != &c.addFiles;
    EXPECT_EQ(std::wstring(font.lfFaceName), song ? L"宋体" : L"MS Sans Serif") << Narrow(button->Text());
    EXPECT_EQ(font.lfHeight, song ? -12 : -11);
  }
  // Tab reaches the controls inside the bands.
  EXPECT_EQ(GetNextDlgTabItem(form().hwnd(), ui().sources.hwnd(), FALSE), ui().addFiles.hwnd());
  EXPECT_EQ(GetNextDlgTabItem(form().hwnd(), ui().importSources.hwnd(), FALSE), ui().dests.hwnd());
  // The tabs and the menu.
  HWND tabs = ui().tabs.hwnd();
  EXPECT_TRUE(GetWindowLongW(tabs, GWL_STYLE) & TCS_BUTTONS);
  ASSERT_EQ(TabCtrl_GetItemCount(tabs), 2);
  wchar_t text[64];
  TCITEMW item = {TCIF_TEXT};
  item.pszText = text;
  item.cchTextMax = 64;
  TabCtrl_GetItem(tabs, 1, &item);
  EXPECT_EQ(std::wstring(text), L"帮助及使用技巧");
  ASSERT_EQ(GetMenuItemCount(form().EmptyNowMenu()), 1);
  GetMenuStringW(form().EmptyNowMenu(), 0, text, 64, MF_BYPOSITION);
  EXPECT_EQ(std::wstring(text), L"立即清空（删除）目标文件夹中的原有内容");
}

TEST_F(MainWindow, OpensAsTheTextSays) {
  Application& app = Start();
  form().Show();
  HWND w = form().hwnd();
  EXPECT_EQ(WindowText(w), L"Quillmere");
  EXPECT_EQ(ClassOf(w), L"MainWindow");
  EXPECT_EQ(GetWindow(w, GW_OWNER), app.appWindow());
  EXPECT_FALSE(IsWindowVisible(app.appWindow()));
  EXPECT_EQ(Width(w), 760);
  EXPECT_EQ(Height(w), 648);
  LONG style = GetWindowLongW(w, GWL_STYLE);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_TRUE(style & WS_THICKFRAME);
  EXPECT_TRUE(GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_APPWINDOW);
  EXPECT_EQ(TabCtrl_GetCurSel(ui().tabs.hwnd()), 0);
  EXPECT_TRUE(IsWindowVisible(ui().startPage.hwnd()));
  EXPECT_FALSE(IsWindowVisible(ui().helpPage.hwnd()));
  EXPECT_TRUE(ui().sources.Items().empty());
  EXPECT_TRUE(ui().dests.Items().empty());
  EXPECT_FALSE(ui().emptyFirst.Checked());
  EXPECT_FALSE(IsWindowVisible(ui().emptyNow.hwnd()));
  EXPECT_TRUE(IsWindowEnabled(ui().emptyNow.hwnd()));
  EXPECT_FALSE(GetWindowLongW(ui().emptyNow.hwnd(), GWL_STYLE) & WS_TABSTOP);
  EXPECT_EQ(SendMessageW(ui().progress.hwnd(), PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(SendMessageW(ui().progress.hwnd(), PBM_GETRANGE, FALSE, 0), 100);
  EXPECT_TRUE(IsWindowEnabled(ui().copy.hwnd()));
  // First start: no settings file, so 自动编号同名文件, not 覆盖.
  EXPECT_TRUE(ui().autoNumber.Checked());
  EXPECT_EQ(form().SelectedMode(), copy::SameFileMode::AutoNumber);
  // Centred on the screen's work area.
  RECT work, r = Rect(w);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_NEAR((r.left + r.right) / 2, (work.left + work.right) / 2, 2);
  // The dialogs exist, hidden, with their classes.
  EXPECT_EQ(ClassOf(app.folderChooser().hwnd()), L"FolderChooser");
  EXPECT_EQ(ClassOf(app.searchDialog().hwnd()), L"SearchDialog");
  EXPECT_FALSE(IsWindowVisible(app.folderChooser().hwnd()));
  EXPECT_FALSE(IsWindowVisible(app.searchDialog().hwnd()));
}

TEST_F(MainWindow, RadioButtonsFormOneExclusiveGroup) {
  Start();
  form().Show();
  const RadioButton* radios[] = {&ui().overwrite, &ui().skip, &ui().ask, &ui().autoNumber, &ui().newerOnly};
  for (int chosen = 0; chosen < 5; ++chosen) {
    Click(*radios[chosen]);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(radios[i]->Checked(), i == chosen) << chosen << " " << i;
    EXPECT_EQ(int(form().SelectedMode()), chosen + 1);
  }
}

// "复制后校验" sits on the emptying's row right of "...", off at first; the
// run is given its tick, and a click that arrives during the run is refused.
TEST_F(MainWindow, TheVerifyBoxSitsRightOfEmptyNowAndItsTickReachesTheRun) {
  Start();
  form().Show();
  ShowEmptyNow();
  const MainControls& c = ui();
  EXPECT_EQ(GetParent(c.verify.hwnd()), c.optionsGroup.hwnd());
  EXPECT_FALSE(c.verify.Checked());
  const RECT box = Rect(c.verify.hwnd());
  EXPECT_EQ(box.top, Rect(c.emptyFirst.hwnd()).top);
  EXPECT_GT(box.left, Rect(c.emptyNow.hwnd()).right);
  EXPECT_LT(box.right, Rect(c.optionsGroup.hwnd()).right);
  TempDir dir;
  WriteBytes(dir / L"a.txt", "a");
  MakeDir(dir / L"d");
  ui().sources.Append(dir / L"a.txt");
  ui().dests.Append(dir / L"d\\");
  Click(c.verify);
  PostMessageW(c.verify.hwnd(), BM_CLICK, 0, 0);
  SendMessageW(c.copy.hwnd(), BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindowEnabled(c.verify.hwnd()));
  WaitIdle();
  EXPECT_TRUE(c.verify.Checked());
  EXPECT_EQ(ReadBytes(dir / L"d\\a.txt"), "a");
  ASSERT_FALSE(dialogs.boxes.empty());  // the end box counts the copy read back
  EXPECT_NE(dialogs.boxes.back().text.find(L"已校验 1 个文件"), std::wstring::npos) << Narrow(dialogs.boxes.back().text);
}

TEST_F(MainWindow, ResizingMovesOnlyTheStretchingControls) {
  Start();
  form().Show();
  const MainControls& c = ui();
  const Control* fixed[] = {&c.destGroup, &c.optionsGroup, &c.progressGroup, &c.sources, &c.copy, &c.addFiles};
  std::map<const Control*, RECT> before;
  for (auto n : fixed) before[n] = Rect(n->hwnd());
  int group1 = Width(ui().sourceGroup.hwnd()), panel = Width(ui().copyPanel.hwnd()), tabs = Width(ui().tabs.hwnd());
  int help = Width(form().Help()->hwnd()), helpHeight = Height(form().Help()->hwnd());
  RECT panelBefore = Rect(ui().copyPanel.hwnd());
  SetWindowPos(form().hwnd(), nullptr, 0, 0, 900, 750, SWP_NOMOVE | SWP_NOZORDER);
  RECT moved = Rect(form().hwnd());
  for (auto n : fixed) {
    RECT r = Rect(n->hwnd());
    EXPECT_EQ(r.right - r.left, before[n].right - before[n].left) << Narrow(n->Text());
    EXPECT_EQ(r.bottom - r.top, before[n].bottom - before[n].top) << Narrow(n->Text());
  }
  EXPECT_EQ(Width(ui().sourceGroup.hwnd()), group1 + 140);
  EXPECT_EQ(Width(ui().copyPanel.hwnd()), panel + 140);
  EXPECT_EQ(Width(ui().tabs.hwnd()), tabs + 140);
  EXPECT_EQ(Width(form().Help()->hwnd()), help + 140);
  EXPECT_EQ(Height(form().Help()->hwnd()), helpHeight + 102);
  EXPECT_EQ(Rect(ui().copyPanel.hwnd()).top - panelBefore.top, 102);  // stays at the bottom
  (void)moved;
}

TEST_F(MainWindow, DropsReachTheirOwnListOnlyAndReleaseTheHandleOnce) {
  Start();
  TempDir dir;
  MakeDir(dir / L"folder");
  WriteBytes(dir / L"a.txt", "a");
  HDROP drop = MakeDrop({dir / L"a.txt", dir / L"folder"});
  EXPECT_EQ(SendMessageW(ui().sources.hwnd(), WM_DROPFILES, WPARAM(drop), 0), 0);
  WaitIdle();
  EXPECT_TRUE(DropReleased(drop));
  EXPECT_EQ(ui().sources.Items(), (std::vector<std::wstring>{dir / L"a.txt", dir / L"folder"}));
  EXPECT_TRUE(ui().dests.Items().empty());
  EXPECT_TRUE(dialogs.boxes.empty());

  dialogs.answers = {IDNO};
  drop = MakeDrop({dir / L"folder", dir / L"a.txt"});
  SendMessageW(ui().dests.hwnd(), WM_DROPFILES, WPARAM(drop), 0);
  WaitIdle();
  EXPECT_TRUE(DropReleased(drop));
  EXPECT_EQ(ui().dests.Items(), (std::vector<std::wstring>{dir / L"folder\\"}));
  EXPECT_EQ(ui().sources.Items().size(), 2u);
  // Other messages still do the list boxes' own work.
  SendMessageW(ui().dests.hwnd(), LB_ADDSTRING, 0, LPARAM(L"typed"));
  EXPECT_EQ(SendMessageW(ui().dests.hwnd(), LB_GETCOUNT, 0, 0), 2);
  SendMessageW(ui().sources.hwnd(), LB_SETCURSEL, 0, 0);
  SendMessageW(ui().sources.hwnd(), WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(SendMessageW(ui().sources.hwnd(), LB_GETCURSEL, 0, 0), 1);
  // The drop hook is not on the buttons: a drop there is not accepted.
  EXPECT_FALSE(GetWindowLongW(ui().addFiles.hwnd(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
  EXPECT_TRUE(GetWindowLongW(ui().sources.hwnd(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
  EXPECT_TRUE(GetWindowLongW(ui().dests.hwnd(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
}

TEST_F(MainWindow, HelpTabShowsTheBuiltInTipsWhenNoPageArrives) {
  Start();
  form().Show();
  TabCtrl_SetCurSel(ui().tabs.hwnd(), 1);
  NMHDR change = {ui().tabs.hwnd(), 0, UINT(TCN_SELCHANGE)};
  SendMessageW(form().hwnd(), WM_NOTIFY, 0, LPARAM(&change));
  for (int i = 0; i < 20; ++i) {
    Pump();
    Sleep(50);
  }
  EXPECT_TRUE(IsWindowVisible(ui().helpPage.hwnd()));
  EXPECT_FALSE(IsWindowVisible(ui().startPage.hwnd()));
  HelpView* help = form().Help();
  ASSERT_TRUE(help);
  EXPECT_TRUE(help->ShowingTips());
  EXPECT_TRUE(IsWindowVisible(help->tipsWindow()));
  std::wstring tips = WindowText(help->tipsWindow());
  for (const wchar_t* command :
       {L"添加文件", L"搜索添加文件", L"开始复制", L"导出保存列表", L"导入列表", L"复制后校验"})
    EXPECT_NE(tips.find(command), std::wstring::npos) << Narrow(command);
  EXPECT_EQ(HelpPageAddress().rfind(L"http://", 0), 0u);
  EXPECT_NE(HelpPageAddress().find(L"/soft/Tandrel.asp?ver=3.35"), std::wstring::npos);
  // A page that failed never replaces the tips; one that arrived does.
  help->OnNavigateError();
  help->OnDocumentComplete();
  EXPECT_TRUE(help->ShowingTips());
}

TEST_F(MainWindow, AnErrorInAHandlerIsShownAndTheWindowStaysUsable) {
  Start();
  dialogs.openResults = {{L"C:\\qmtests\\no such folder\\list.lst"}};
  Click(ui().importSources);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text.rfind(L"Cannot open file \"C:\\qmtests\\no such folder\\list.lst\". ", 0), 0u);
  EXPECT_EQ(dialogs.boxes[0].flags & 0xFF, UINT(MB_ICONERROR));
  EXPECT_TRUE(IsWindowEnabled(form().hwnd()));
  dialogs.openResults = {{L"C:\\qmtests\\none.lst"}};
  // Whatever is thrown stops where messages are dispatched.
  dialogs.boxes.clear();
  Guarded([] { throw 42; });
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, L"Unknown error.");
}

}  // namespace

namespace {

// The checks a command makes before it goes on call the file system, which a
// volume that stops answering can hold for long: they run beside the window.
// When the click returns the answer is not in yet. The check for whole drives
// is a run's first step: meanwhile "停止" is the one control that takes
// input, and a stop cannot make the check pass.
TEST_F(MainWindow, ChecksGoBesideTheWindowAndCannotBeStoppedIntoAPass) {
  Start();
  form().Show();
  TempDir dir;
  WriteBytes(dir / L"a.txt", "a");
  WriteBytes(dir / L"d\\kept.txt", "k");
  ui().sources.Append(dir / L"a.txt");
  ui().sources.Append(dir / L"..\\..");  // C:\, however spelled
  ui().dests.Append(dir / L"d\\");
  // Posted first, so that they arrive while the check runs.
  const Control* posted[] = {&ui().clearSources, &ui().clearDests, &ui().overwrite, &ui().copy};
  for (const Control* button : posted) PostMessageW(button->hwnd(), BM_CLICK, 0, 0);
  HDROP drop = MakeDrop({dir / L"a.txt"});
  PostMessageW(ui().sources.hwnd(), WM_DROPFILES, WPARAM(drop), 0);
  PostMessageW(form().hwnd(), WM_KEYDOWN, VK_ESCAPE, 0);
  SendMessageW(ui().copy.hwnd(), BM_CLICK, 0, 0);
  EXPECT_TRUE(form().Working());
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_EQ(ui().copy.Text(), L"停止");
  EXPECT_FALSE(IsWindowEnabled(ui().addFiles.hwnd()));
  WaitIdle();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, L"不能对整个驱动器（磁盘）进行复制！");
  EXPECT_EQ(dialogs.boxes[0].flags, UINT(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(dialogs.boxes[0].owner, app_->appWindow());
  EXPECT_EQ(ui().sources.Items(), (std::vector<std::wstring>{dir / L"a.txt", dir / L"..\\.."}));
  EXPECT_EQ(ui().dests.Items(), std::vector<std::wstring>{dir / L"d\\"});
  EXPECT_TRUE(DropReleased(drop));
  EXPECT_TRUE(ui().autoNumber.Checked());
  EXPECT_FALSE(Exists(dir / L"d\\a.txt"));
  EXPECT_EQ(ui().copy.Text(), L"开始复制");
  EXPECT_TRUE(IsWindowEnabled(ui().addFiles.hwnd()));

  // The empty-now command's check: the window takes no input meanwhile; then
  // its message, no warning, nothing emptied.
  dialogs.boxes.clear();
  ui().dests.Append(dir / L"..\\..");
  ShowEmptyNow();
  dialogs.menuChoices = {kMenuEmptyNow};
  SendMessageW(ui().emptyNow.hwnd(), WM_LBUTTONDOWN, 0, MAKELPARAM(1, 1));
  EXPECT_TRUE(form().Working());
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_FALSE(IsWindowEnabled(form().hwnd()));
  WaitIdle();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, L"不能清空整个驱动器（磁盘）！");
  EXPECT_EQ(dialogs.boxes[0].flags, UINT(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(dialogs.boxes[0].owner, form().hwnd());
  EXPECT_EQ(ReadBytes(dir / L"d\\kept.txt"), "k");
  EXPECT_TRUE(IsWindowEnabled(ui().emptyNow.hwnd()));
  EXPECT_TRUE(IsWindowEnabled(form().hwnd()));
}

// A check abandoned, by the session's end or the window's, starts nothing:
// here the empty-now command's, which would otherwise ask before emptying.
TEST_F(MainWindow, ACheckAbandonedStartsNothing) {
  TempDir dir;
  WriteBytes(dir / L"d\\kept.txt", "k");
  for (bool sessionEnds : {true, false}) {
    SCOPED_TRACE(sessionEnds);
    Start();
    form().Show();
    ui().dests.Append(dir / L"d\\");
    ShowEmptyNow();
    dialogs.menuChoices = {kMenuEmptyNow};
    dialogs.answers = {IDYES};
    SendMessageW(ui().emptyNow.hwnd(), WM_LBUTTONDOWN, 0, MAKELPARAM(1, 1));
    ASSERT_TRUE(form().Working());
    if (sessionEnds) {
      SendMessageW(form().hwnd(), WM_ENDSESSION, TRUE, 0);
      WaitIdle();
      EXPECT_TRUE(IsWindowEnabled(form().hwnd()));
    }
    app_.reset();
    Pump();
    EXPECT_TRUE(dialogs.boxes.empty());
    EXPECT_EQ(ReadBytes(dir / L"d\\kept.txt"), "k");
  }
}

// The search checks its folder beside the window too; a folder that is gone
// leaves the dialog open, ready for another, as before.
TEST_F(MainWindow, ASearchOfAFolderThatIsGoneLeavesTheDialogOpen) {
  Start();
  form().Show();
  TempDir dir;
  SearchDialog& search = app_->searchDialog();
  search.Controls().folder.SetText(dir / L"gone\\");
  search.Controls().keys.SetText(L"key");
  PostMessageW(search.Controls().search.hwnd(), BM_CLICK, 0, 0);
  // Once the search has ended (timers come when the queue is empty, so after the click),
  // what the dialog shows is noted and 取消 closes it.
  struct Seen {
    ::MainWindow* form;
    SearchDialog* search;
    bool noted = false, open = false, ready = false;
  };
  static Seen* seen;
  Seen here{&form(), &search};
  seen = &here;
  UINT_PTR timer = SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR, DWORD) {
    if (seen->noted || seen->form->Working()) return;
    seen->noted = true;
    seen->open = IsWindowVisible(seen->search->hwnd());
    seen->ready = IsWindowEnabled(seen->search->Controls().search.hwnd());
    PostMessageW(seen->search->Controls().cancel.hwnd(), BM_CLICK, 0, 0);
  });
  Click(ui().searchAddFiles);
  KillTimer(nullptr, timer);
  EXPECT_TRUE(here.noted);
  EXPECT_TRUE(here.open);
  EXPECT_TRUE(here.ready);
  EXPECT_FALSE(IsWindowVisible(search.hwnd()));
  EXPECT_TRUE(ui().sources.Items().empty());
  EXPECT_TRUE(dialogs.boxes.empty());
}

// Closing during a run asks first. No lets the run go on to its end; Yes
// stops it (the file in progress given up, nothing half-written left),
// keeps the policy and closes the window.
TEST_F(MainWindow, ClosingDuringARunAsksAndOnlyYesStopsItAndCloses) {
  TempDir dir;
  for (int i = 0; i < 300; ++i) WriteBytes(dir / L"src\\f" + std::to_wstring(i), "x");
  for (int answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer);
    Start();
    form().Show();
    const std::wstring dest = dir / (answer == IDYES ? L"yes\\" : L"no\\");
    ui().sources.Append(dir / L"src");
    ui().dests.Append(dest);
    Click(ui().skip);
    dialogs.boxes.clear();
    dialogs.answers = {answer, IDOK};
    PostMessageW(form().hwnd(), WM_CLOSE, 0, 0);  // arrives once the run has begun
    SendMessageW(ui().copy.hwnd(), BM_CLICK, 0, 0);
    const HWND window = form().hwnd();
    for (DWORD start = GetTickCount(); IsWindow(window) && form().Working() && GetTickCount() - start < 120000;) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      Pump();
    }
    ASSERT_FALSE(dialogs.boxes.empty());
    EXPECT_EQ(dialogs.boxes[0].text, L"复制正在进行，是否停止并退出？");
    EXPECT_EQ(dialogs.boxes[0].flags, UINT(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2));
    EXPECT_EQ(dialogs.boxes[0].owner, window);
    const std::vector<fs::Entry> copies = ListEntries(dest + L"src\\*", fs::kMaskAll);
    if (answer == IDNO) {
      EXPECT_TRUE(IsWindow(window));
      ASSERT_EQ(dialogs.boxes.size(), 2u);
      EXPECT_EQ(dialogs.boxes[1].text, L"复制工作完成！");
      EXPECT_EQ(copies.size(), 302u);  // with . and ..
      continue;
    }
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_LT(copies.size(), 302u);
    for (const fs::Entry& e : copies) {
      if (e.attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      EXPECT_FALSE(fs::IsOwnFileName(e.name)) << Narrow(e.name);
      EXPECT_EQ(ReadBytes(dest + L"src\\" + e.name), "x") << Narrow(e.name);
    }
    EXPECT_EQ(ReadBytes(paths_.system), "[Parameter]\r\nSameFile=2\r\nVerifyCopies=0\r\n");
  }
}

// An emptying's status line counts what it removed.
TEST_F(MainWindow, TheStatusLineCountsRemovalsDuringAnEmptying) {
  Start();
  form().Show();
  TempDir dir;
  for (int i = 0; i < 500; ++i) WriteBytes(dir / L"d\\f" + std::to_wstring(i), "x");
  ui().dests.Append(dir / L"d\\");
  ShowEmptyNow();
  dialogs.menuChoices = {kMenuEmptyNow};
  dialogs.answers = {IDYES, IDOK};
  static std::vector<std::wstring> seen;
  static HWND status;
  seen.clear();
  status = ui().status.hwnd();
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
    if (GetWindowTextLengthW(status)) seen.push_back(WindowText(status));
  });
  SendMessageW(ui().emptyNow.hwnd(), WM_LBUTTONDOWN, 0, 0);
  WaitIdle();
  KillTimer(nullptr, timer);
  ASSERT_EQ(dialogs.boxes.size(), 2u);
  EXPECT_EQ(dialogs.boxes[1].text, L"目标文件夹下的内容已完全删除！");
  ASSERT_FALSE(seen.empty()) << "the emptying ended before its status line was seen";
  for (const std::wstring& line : seen) EXPECT_EQ(line.rfind(L"已删除 ", 0), 0u) << Narrow(line);
  EXPECT_NE(seen.back(), L"已删除 0 项");
}

}  // namespace
