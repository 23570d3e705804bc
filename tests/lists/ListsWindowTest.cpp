// The list commands through the real windows, scripted dialogs and real drops.
#include "tests/support/AppFixture.h"

#include <shlobj.h>
#include <commctrl.h>

#include "fs/FileSystem.h"

namespace {

class Lists : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Start();
    form().Show();
  }
  void Drop(const PathList& list, const std::vector<std::wstring>& paths) {
    HDROP drop = MakeDrop(paths);
    SendMessageW(list.hwnd(), WM_DROPFILES, WPARAM(drop), 0);
    WaitIdle();
    EXPECT_TRUE(DropReleased(drop));
  }
  bool EmptyButtonVisible() { return IsWindowVisible(ui().emptyNow.hwnd()); }
  FolderChooser& chooser() { return app_->folderChooser(); }
  ChooserControls& options() { return chooser().Controls(); }
  // Chooses a folder in the real chooser and presses OK (or Cancel).
  void Choose(const std::wstring& folder, bool ok = true) {
    options().tree.Refresh();
    ASSERT_TRUE(options().tree.SelectPath(folder)) << Narrow(folder);
    PostMessageW((ok ? options().ok : options().cancel).hwnd(), BM_CLICK, 0, 0);
    Click(ui().addDestFolder);
  }
  // Ticks one of the chooser's options with a click, unless it is ticked.
  void Tick(const CheckBox& box) {
    if (!box.Checked()) SendMessageW(box.hwnd(), BM_CLICK, 0, 0);
  }
  void Key(const PathList& list, WPARAM key, BYTE modifier = 0) {
    BYTE state[256] = {};
    if (modifier) {
      state[modifier] = 0x80;
      SetKeyboardState(state);
    }
    SendMessageW(list.hwnd(), WM_KEYDOWN, key, 0);
    state[modifier] = 0;
    SetKeyboardState(state);
  }
};

TEST_F(Lists, FileDialogAddsInOrderSkippingWhatIsListedInAnyCase) {
  TempDir dir;
  ui().sources.Append(L"C:\\Data\\A.TXT");
  dialogs.openResults = {{L"c:\\data\\a.txt", L"C:\\Data\\b.txt", L"C:\\Data\\c.txt"}};
  Click(ui().addFiles);
  ASSERT_EQ(dialogs.openOptions.size(), 1u);
  EXPECT_EQ(dialogs.openOptions[0].filter, L"*.*|*.*");
  EXPECT_TRUE(dialogs.openOptions[0].multiSelect);
  EXPECT_EQ(ui().sources.Items(),
            (std::vector<std::wstring>{L"C:\\Data\\A.TXT", L"C:\\Data\\b.txt", L"C:\\Data\\c.txt"}));
  Click(ui().addFiles);  // cancelled: nothing
  EXPECT_EQ(ui().sources.Items().size(), 3u);
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(Lists, FolderButtonAddsWithBackslashAndRefusesDrives) {
  dialogs.folders = {L"C:\\Data", L"c:\\data", L"D:\\", std::nullopt};
  for (int i = 0; i < 4; ++i) Click(ui().addSourceFolder);
  EXPECT_EQ(ui().sources.Items(), (std::vector<std::wstring>{L"C:\\Data\\"}));
  EXPECT_EQ(dialogs.browseTitles, (std::vector<std::wstring>(4, L"请选择文件夹")));
  EXPECT_EQ(dialogs.browseOwners[0], app_->appWindow());
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, L"不能对整个驱动器（磁盘）进行复制！");
  EXPECT_EQ(dialogs.boxes[0].flags, UINT(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(dialogs.boxes[0].owner, app_->appWindow());
  // The same folder dropped keeps its own spelling beside it.
  Drop(ui().sources, {L"C:\\Data"});
  EXPECT_EQ(ui().sources.Items(), (std::vector<std::wstring>{L"C:\\Data\\", L"C:\\Data"}));
}

TEST_F(Lists, SourceDropsKeepDuplicatesAndRefuseDriveRootsOneBoxEach) {
  Drop(ui().sources, {L"C:\\x.txt", L"D:\\", L"C:\\y", L"E:\\"});
  Drop(ui().sources, {L"C:\\x.txt"});
  EXPECT_EQ(ui().sources.Items(), (std::vector<std::wstring>{L"C:\\x.txt", L"C:\\y", L"C:\\x.txt"}));
  EXPECT_EQ(dialogs.boxes.size(), 2u);
  // A path longer than MAX_PATH arrives whole.
  std::wstring longPath = L"C:\\" + std::wstring(300, L'n') + L"\\file.txt";
  Drop(ui().sources, {longPath});
  EXPECT_EQ(ui().sources.Items().back(), longPath);
}

TEST_F(Lists, RemoveClearAndTheDeleteKeyWithAnyModifier) {
  for (auto p : {L"C:\\a", L"C:\\b", L"C:\\c", L"C:\\d"}) ui().sources.Append(p);
  Click(ui().removeSource);  // nothing selected: nothing happens
  EXPECT_EQ(ui().sources.Items().size(), 4u);
  SendMessageW(ui().sources.hwnd(), LB_SETCURSEL, 1, 0);
  Click(ui().removeSource);
  EXPECT_EQ(SendMessageW(ui().sources.hwnd(), LB_GETCURSEL, 0, 0), LB_ERR);
  for (BYTE modifier : {BYTE(0), BYTE(VK_SHIFT), BYTE(VK_CONTROL)}) {
    SendMessageW(ui().sources.hwnd(), LB_SETCURSEL, 0, 0);
    Key(ui().sources, VK_DELETE, modifier);
  }
  EXPECT_TRUE(ui().sources.Items().empty());
  ui().sources.Append(L"C:\\a");
  // Removed entries can be added again: the index follows the list.
  dialogs.folders = {L"C:\\a"};
  SendMessageW(ui().sources.hwnd(), LB_SETCURSEL, 0, 0);
  Key(ui().sources, VK_DELETE);
  ui().sources.AppendNew(L"C:\\A");
  EXPECT_EQ(ui().sources.Items(), (std::vector<std::wstring>{L"C:\\A"}));
  Click(ui().clearSources);
  Click(ui().clearSources);
  EXPECT_TRUE(ui().sources.Items().empty());
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(Lists, DestinationDropsAskOnceAndShowTheEmptyButton) {
  TempDir dir;
  MakeDir(dir / L"A\\B");
  MakeDir(dir / L"C");
  WriteBytes(dir / L"f.txt", "f");
  // Only files: still asked, nothing added, the button shows over the empty list.
  dialogs.answers = {IDNO};
  Drop(ui().dests, {dir / L"f.txt"});
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, L"添加包括选定文件夹下的所有子文件夹吗？");
  EXPECT_EQ(dialogs.boxes[0].flags, UINT(MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(dialogs.boxes[0].owner, form().hwnd());
  EXPECT_TRUE(ui().dests.Items().empty());
  EXPECT_TRUE(EmptyButtonVisible());
  Click(ui().clearDests);
  EXPECT_FALSE(EmptyButtonVisible());
  // No: the folders alone, with backslashes; files ignored; drive roots refused.
  dialogs.answers = {IDNO};
  Drop(ui().dests, {dir / L"A", dir / L"f.txt", L"C:\\", dir / L"C"});
  EXPECT_EQ(ui().dests.Items(), (std::vector<std::wstring>{dir / L"A\\", dir / L"C\\"}));
  EXPECT_EQ(dialogs.boxes.back().text, L"不能对整个驱动器（磁盘）进行复制！");
  EXPECT_EQ(dialogs.boxes.back().owner, app_->appWindow());
  // Yes: with every subfolder, already listed ones not twice.
  dialogs.answers = {IDYES};
  Drop(ui().dests, {dir / L"A"});
  EXPECT_EQ(ui().dests.Items(), (std::vector<std::wstring>{dir / L"A\\", dir / L"C\\", dir / L"A\\B\\"}));
  // Removing the last entry hides the button again, by button or key.
  SendMessageW(ui().dests.hwnd(), LB_SETCURSEL, 0, 0);
  Click(ui().removeDest);
  EXPECT_TRUE(EmptyButtonVisible());
  SendMessageW(ui().dests.hwnd(), LB_SETCURSEL, 0, 0);
  Key(ui().dests, VK_DELETE, VK_SHIFT);
  SendMessageW(ui().dests.hwnd(), LB_SETCURSEL, 0, 0);
  Key(ui().dests, VK_DELETE);
  EXPECT_TRUE(ui().dests.Items().empty());
  EXPECT_FALSE(EmptyButtonVisible());
}

TEST_F(Lists, ExpansionIsPreOrderKeepsHiddenAndLeavesOutSystem) {
  TempDir dir;
  MakeDir(dir / L"A\\B\\D");
  MakeDir(dir / L"A\\C");
  MakeDir(dir / L"A\\H\\deep");
  MakeDir(dir / L"A\\S\\under");
  SetAttributes(dir / L"A\\H", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
  SetAttributes(dir / L"A\\S", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM);
  dialogs.answers = {IDYES};  // with all its subfolders
  Drop(ui().dests, {dir / L"A"});
  auto items = ui().dests.Items();
  // Listing order decides siblings; each folder comes before its subtree.
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items[0], dir / L"A\\");
  auto at = [&](const std::wstring& p) { return std::find(items.begin(), items.end(), dir / p) - items.begin(); };
  EXPECT_EQ(at(L"A\\B\\D\\"), at(L"A\\B\\") + 1);
  EXPECT_EQ(at(L"A\\H\\deep\\"), at(L"A\\H\\") + 1);
  EXPECT_LT(at(L"A\\C\\"), 6);
  EXPECT_EQ(at(L"A\\S\\"), 6);  // system: left out with its subtree

  struct Case {
    int depth;
    size_t count;
  } depths[] = {{-1, 0}, {0, 1}, {1, 4}, {2, 6}};
  Tick(options().levels);
  for (auto& c : depths) {
    Click(ui().clearDests);
    options().depth.SetText(std::to_wstring(c.depth));
    Choose(dir / L"A");
    EXPECT_EQ(ui().dests.Items().size(), c.count) << c.depth;
  }
}

TEST_F(Lists, ExpansionDoesNotRunInACircleThroughLinks) {
  const std::wstring root = L"C:\\qm-links\\loop\\";
  ASSERT_EQ(GetFileAttributesW((root + L"A\\B\\up").c_str()) & 0x410, 0x410u);
  dialogs.answers = {IDYES};  // with all its subfolders
  Drop(ui().dests, {root + L"A"});
  EXPECT_EQ(ui().dests.Items(), (std::vector<std::wstring>{root + L"A\\", root + L"A\\B\\"}));
}

TEST_F(Lists, ChooserOptionsKeepInStepAndTheDepthBoxTakesDigitsOnly) {
  FolderChooser& f = chooser();
  const HWND combo = options().depth.hwnd();
  const CheckBox &all = options().allSubfolders, &levels = options().levels;
  EXPECT_EQ(WindowText(f.hwnd()), L"选择要添加的目录（文件夹）");
  RECT client;
  GetClientRect(f.hwnd(), &client);
  EXPECT_EQ(client.right, 409);
  EXPECT_EQ(client.bottom, 391);
  EXPECT_EQ(WindowText(combo), L"1");
  EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 3);
  EXPECT_FALSE(IsWindowEnabled(combo));
  auto state = [&] { return std::make_tuple(all.Checked(), levels.Checked(), bool(IsWindowEnabled(combo))); };
  EXPECT_EQ(state(), std::make_tuple(false, false, false));  // Alone
  SendMessageW(all.hwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(state(), std::make_tuple(true, false, false));  // All
  SendMessageW(all.hwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(state(), std::make_tuple(false, true, true));  // Levels
  SendMessageW(levels.hwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(state(), std::make_tuple(true, false, false));  // All
  SendMessageW(levels.hwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(state(), std::make_tuple(false, true, true));  // Levels
  COMBOBOXINFO info = {sizeof info};
  GetComboBoxInfo(combo, &info);
  SendMessageW(info.hwndItem, EM_SETSEL, 1, 1);  // caret after the "1"
  for (wchar_t c : {L'a', L'-', L' ', L'7', L'\x1b'}) SendMessageW(info.hwndItem, WM_CHAR, c, 0);
  EXPECT_EQ(WindowText(combo), L"17");
  SendMessageW(info.hwndItem, WM_CHAR, 8, 0);
  EXPECT_EQ(WindowText(combo), L"1");
}

TEST_F(Lists, TheChooserAddsAloneAllOrLevels) {
  TempDir dir;
  MakeDir(dir / L"A\\B\\D");
  MakeDir(dir / L"A\\C");
  // Alone; choosing it again adds nothing but shows the button.
  Choose(dir / L"A");
  EXPECT_EQ(ui().dests.Items(), (std::vector<std::wstring>{dir / L"A\\"}));
  EXPECT_TRUE(EmptyButtonVisible());
  Click(ui().clearDests);
  Choose(dir / L"A");
  Choose(dir / L"A");
  EXPECT_EQ(ui().dests.Items().size(), 1u);
  EXPECT_TRUE(EmptyButtonVisible());
  // Cancel adds nothing.
  Click(ui().clearDests);
  Choose(dir / L"A", false);
  EXPECT_TRUE(ui().dests.Items().empty());
  EXPECT_FALSE(EmptyButtonVisible());
  // All subfolders.
  Tick(options().allSubfolders);
  Choose(dir / L"A");
  EXPECT_EQ(ui().dests.Items().size(), 4u);
  // Levels: one level below.
  Click(ui().clearDests);
  Tick(options().levels);
  options().depth.SetText(L"1");
  Choose(dir / L"A");
  EXPECT_EQ(ui().dests.Items().size(), 3u);
  // The state is still there at the next showing.
  EXPECT_TRUE(options().levels.Checked());
  EXPECT_EQ(options().depth.Text(), L"1");
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(Lists, EachShowingRebuildsTheTreeKeepingSelectionAndExpandedNodes) {
  TempDir dir;
  MakeDir(dir / L"A\\B");
  ShellTree& tree = options().tree;
  tree.Refresh();
  ASSERT_TRUE(tree.SelectPath(dir / L"A\\B"));
  MakeDir(dir / L"A\\New");  // made while the dialog is closed
  tree.Refresh();
  EXPECT_EQ(tree.SelectedFolderPath(), dir / L"A\\B");
  HTREEITEM selected = TreeView_GetSelection(tree.hwnd());
  HTREEITEM parent = TreeView_GetParent(tree.hwnd(), selected);
  EXPECT_TRUE(TreeView_GetItemState(tree.hwnd(), parent, TVIS_EXPANDED) & TVIS_EXPANDED);
  std::vector<std::wstring> siblings;
  wchar_t text[MAX_PATH];
  for (HTREEITEM i = TreeView_GetChild(tree.hwnd(), parent); i; i = TreeView_GetNextSibling(tree.hwnd(), i)) {
    TVITEMW item = {TVIF_TEXT};
    item.hItem = i;
    item.pszText = text;
    item.cchTextMax = MAX_PATH;
    TreeView_GetItem(tree.hwnd(), &item);
    siblings.push_back(text);
  }
  EXPECT_EQ(siblings, (std::vector<std::wstring>{L"B", L"New"}));
}

TEST_F(Lists, OkAtTheFirstShowingChoosesTheDesktop) {
  PostMessageW(options().ok.hwnd(), BM_CLICK, 0, 0);
  Click(ui().addDestFolder);
  wchar_t desktop[MAX_PATH];
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE));
  EXPECT_EQ(ui().dests.Items(), (std::vector<std::wstring>{std::wstring(desktop) + L"\\"}));
}

TEST_F(Lists, AnEmptyDepthIsAnIntegerErrorAndAddsNothing) {
  TempDir dir;
  MakeDir(dir / L"A");
  Tick(options().levels);
  for (const wchar_t* text : {L"", L"x", L"99999999999"}) {
    options().depth.SetText(text);
    Choose(dir / L"A");
    ASSERT_FALSE(dialogs.boxes.empty());
    EXPECT_EQ(dialogs.boxes.back().text, L"'" + std::wstring(text) + L"' is not a valid integer value.");
    EXPECT_EQ(dialogs.boxes.back().flags & 0xFF, UINT(MB_ICONERROR));
  }
  EXPECT_TRUE(ui().dests.Items().empty());
  EXPECT_FALSE(EmptyButtonVisible());
  EXPECT_FALSE(BusyCursor::Active());
}

TEST_F(Lists, AShellItemThatIsNoFolderAddsNothing) {
  Choose(L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}");  // the computer
  EXPECT_TRUE(ui().dests.Items().empty());
  EXPECT_FALSE(EmptyButtonVisible());
  // A drive root chosen there is added like any folder.
  Choose(L"C:\\");
  EXPECT_EQ(ui().dests.Items(), (std::vector<std::wstring>{L"C:\\"}));
}

TEST_F(Lists, ExportWritesTheListAndRefusesAnEmptyOne) {
  TempDir dir;
  Click(ui().exportSources);
  Click(ui().exportDests);
  EXPECT_EQ(dialogs.texts(), (std::vector<std::wstring>{L"当前文件列表为空！", L"当前目录列表为空！"}));
  EXPECT_EQ(dialogs.boxes[0].owner, form().hwnd());
  EXPECT_TRUE(dialogs.saveOptions.empty());
  ui().dests.Append(L"C:\\A\\");
  ui().dests.Append(L"D:\\B\\");
  ui().sources.Append(L"C:\\数据\\x.txt");
  dialogs.saveResults = {dir / L"dirs", dir / L"files.lst"};
  Click(ui().exportDests);
  Click(ui().exportSources);
  ASSERT_EQ(dialogs.saveOptions.size(), 2u);
  EXPECT_EQ(dialogs.saveOptions[0].fileName, L"dir.lst");
  EXPECT_EQ(dialogs.saveOptions[1].fileName, L"file.lst");
  EXPECT_EQ(dialogs.saveOptions[0].filter, L"列表文件(*.lst)|*.lst");
  EXPECT_EQ(ReadBytes(dir / L"dirs"), "C:\\A\\\r\nD:\\B\\\r\n");
  EXPECT_EQ(ReadBytes(dir / L"files.lst"), "C:\\\xca\xfd\xbe\xdd\\x.txt\r\n");
  // A file that cannot be created: the error box.
  dialogs.saveResults = {dir / L"no\\such\\dir.lst"};
  Click(ui().exportDests);
  EXPECT_EQ(dialogs.boxes.back().text.rfind(L"Cannot create file \"" + dir.path() + L"no\\such\\dir.lst\". ", 0), 0u);
}

TEST_F(Lists, SourceImportTakesExistingAbsolutePathsOnce) {
  TempDir dir;
  WriteBytes(dir / L"f.txt", "f");
  WriteBytes(dir / L"w\\x.txt", "x");
  MakeDir(dir / L"folder");
  std::string n = Narrow(dir.path());
  WriteBytes(dir / L"list.txt", n + "f.txt\n" + n + "folder\r" + n + "gone.txt\r\n\r\nrelative.txt\r\n" + n +
                                    "w\\*.txt\r\nC:\\\r\n" + n + "F.TXT\r\n" + n + "folder\\\r\n" + n + "w\\?.txt\r\n" +
                                    n + "w\\*");
  ui().sources.Append(dir / L"w\\*.TXT");
  dialogs.openResults = {{dir / L"list.txt"}};
  Click(ui().importSources);
  EXPECT_EQ(dialogs.openOptions[0].filter, L"*.lst|*.lst|*.txt|*.txt");
  EXPECT_TRUE(dialogs.openOptions[0].mustExist);
  EXPECT_EQ(ui().sources.Items(), (std::vector<std::wstring>{dir / L"w\\*.TXT", dir / L"f.txt", dir / L"folder",
                                                             L"C:\\", dir / L"folder\\"}));
  // It says how many lines named nothing it could take (blank and listed lines aside).
  EXPECT_EQ(dialogs.texts(),
            std::vector<std::wstring>{L"列表文件中有 4 行未能导入：所指的文件或文件夹不存在，或不是完整的路径。"});
}

TEST_F(Lists, DestinationImportReportsSkippedLinesOnce) {
  TempDir dir;
  MakeDir(dir / L"keep");
  std::string n = Narrow(dir.path());
  WriteBytes(dir / L"d.lst", n + "keep\\\r\n" + n + "deleted\\\r\n" + n + "KEEP\\\r\n");
  dialogs.openResults = {{dir / L"d.lst"}, {dir / L"d.lst"}};
  Click(ui().importDests);
  EXPECT_EQ(ui().dests.Items(), (std::vector<std::wstring>{dir / L"keep\\"}));
  EXPECT_TRUE(EmptyButtonVisible());
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, L"列表文件中所保存某些目录已不存在，未能导入。");
  EXPECT_EQ(dialogs.boxes[0].owner, form().hwnd());
  Click(ui().importDests);  // everything already listed: the message again, nothing added
  EXPECT_EQ(dialogs.boxes.size(), 2u);
  EXPECT_EQ(ui().dests.Items().size(), 1u);
}

TEST_F(Lists, WildcardsNeverBecomeEntries) {
  TempDir dir;
  WriteBytes(dir / L"nm\\normal.txt", "n");
  const std::vector<std::wstring> patterns = {dir / L"nm\\*.txt", dir / L"nm\\n?rmal.txt", dir / L"nm\\*"};
  Drop(ui().sources, patterns);
  dialogs.answers = {IDNO};
  Drop(ui().dests, patterns);
  dialogs.openResults = {patterns};
  Click(ui().addFiles);
  dialogs.folders = {dir / L"nm\\*"};
  Click(ui().addSourceFolder);
  std::string lines;
  for (auto& p : patterns) lines += Narrow(p) + "\r\n";
  WriteBytes(dir / L"d.lst", lines);
  dialogs.openResults = {{dir / L"d.lst"}};
  Click(ui().importDests);
  EXPECT_TRUE(ui().sources.Items().empty());
  EXPECT_TRUE(ui().dests.Items().empty());
  EXPECT_EQ(dialogs.texts().back(), L"列表文件中所保存某些目录已不存在，未能导入。");  // counted as missing
}

// Here the command is the emptying warning's: a drop while it is open changes nothing.
TEST_F(Lists, NothingChangesUnderARunningCommand) {
  HDROP drop = MakeDrop({L"C:\\a"});
  bool windowEnabled = true;
  dialogs.onBox = [&](const ScriptedDialogs::Box&) {
    windowEnabled = IsWindowEnabled(form().hwnd());
    SendMessageW(ui().sources.hwnd(), WM_DROPFILES, WPARAM(drop), 0);
  };
  dialogs.answers = {IDNO};
  Click(ui().emptyFirst);
  EXPECT_TRUE(DropReleased(drop));
  EXPECT_TRUE(ui().sources.Items().empty());
  EXPECT_FALSE(windowEnabled);
  EXPECT_FALSE(ui().emptyFirst.Checked());
}

}  // namespace

namespace {

// Esc stops an import or an expansion; what they added stays. Both are
// long enough here (thousands of missing lines, hundreds of folders) for the
// Esc to arrive while they run.
TEST_F(Lists, EscStopsImportsAndExpansionsKeepingWhatTheyAdded) {
  TempDir dir;
  for (int i = 0; i < 300; ++i) MakeDir(dir / L"A\\sub" + std::to_wstring(i));
  std::string lines = Narrow(dir / L"A") + "\r\n";
  for (int i = 0; i < 5000; ++i) lines += Narrow(dir / L"gone") + std::to_string(i) + "\r\n";
  WriteBytes(dir / L"d.lst", lines);
  dialogs.openResults = {{dir / L"d.lst"}};
  PostMessageW(form().hwnd(), WM_KEYDOWN, VK_ESCAPE, 0);
  Click(ui().importDests);
  EXPECT_EQ(ui().dests.Items(), std::vector<std::wstring>{dir / L"A"});
  // Unread lines are not called missing.
  EXPECT_EQ(dialogs.texts(), std::vector<std::wstring>{L"导入已停止：已添加 1 行，其余各行未读。"});
  Click(ui().clearDests);
  dialogs.answers = {IDYES};  // dropped with all its subfolders
  HDROP drop = MakeDrop({dir / L"A"});
  SendMessageW(ui().dests.hwnd(), WM_DROPFILES, WPARAM(drop), 0);
  PostMessageW(form().hwnd(), WM_KEYDOWN, VK_ESCAPE, 0);
  WaitIdle();
  const auto added = ui().dests.Items();
  ASSERT_FALSE(added.empty());
  EXPECT_EQ(added[0], dir / L"A\\");
  EXPECT_LT(added.size(), 301u);
}

}  // namespace
