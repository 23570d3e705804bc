// The copy commands driven through the real main window.
#include "tests/support/AppFixture.h"

#include <commctrl.h>

#include "fs/FileCopy.h"
#include "fs/OwnFiles.h"
#include "fs/FileSystem.h"
#include "fs/Volume.h"

namespace {

class CopyCommands : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Start();
    form().Show();
  }
  void AddSource(const std::wstring& p) { ui().sources.Append(p); }
  void AddDest(const std::wstring& p) { ui().dests.Append(p); }
  int Progress() { return int(SendMessageW(ui().progress.hwnd(), PBM_GETPOS, 0, 0)); }
  // Records, for each box, whether the main window took input and where the bar stood.
  void WatchBoxes() {
    dialogs.onBox = [this](const ScriptedDialogs::Box&) {
      mainEnabledAtBox.push_back(IsWindowEnabled(form().hwnd()));
      progressAtBox.push_back(Progress());
    };
  }
  std::vector<bool> mainEnabledAtBox;
  std::vector<int> progressAtBox;
};

TEST_F(CopyCommands, EmptyListsOnlyShowTheMessage) {
  TempDir dir;
  AddSource(dir / L"a.txt");
  Click(ui().copy);
  AddDest(dir / L"d\\");
  ui().sources.Clear();
  Click(ui().copy);
  ASSERT_EQ(dialogs.boxes.size(), 2u);
  for (auto& box : dialogs.boxes) {
    EXPECT_EQ(box.text, L"没有需要复制的文件或文件夹!");
    EXPECT_EQ(box.flags, UINT(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(box.owner, form().hwnd());
  }
  EXPECT_FALSE(Exists(dir / L"d"));
}

// A destination that cannot keep what the copies carry (a stick whose
// driver refuses attributes) takes the copies all the same: the end box
// keeps its message and information icon, and names the destination once.
TEST_F(CopyCommands, WhatADestinationCannotKeepIsAWarningNotAFailure) {
  TempDir dir;
  for (const wchar_t* name : {L"src\\a.ini", L"src\\b.ini"}) {
    WriteBytes(dir / name, "hidden");
    SetAttributes(dir / name, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  }
  AddSource(dir / L"src");
  AddDest(dir / L"d\\");
  fs::faults::Clear();
  fs::faults::Inject(fs::faults::Step::SetAttributes, ERROR_GEN_FAILURE);  // Wine's word for the driver's ENOSYS
  Click(ui().copy);
  fs::faults::Clear();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, L"复制工作完成！\r\n\r\n以下目标所在的磁盘不能保留文件的全部信息（文件已复制）：\r\n" +
                                       dir / L"d\\：未能保留文件属性（只读、隐藏、系统）");
  EXPECT_EQ(dialogs.boxes[0].flags, UINT(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(ReadBytes(dir / L"d\\src\\a.ini"), "hidden");
  EXPECT_EQ(ReadBytes(dir / L"d\\src\\b.ini"), "hidden");
}

TEST_F(CopyCommands, ADriveRootInTheSourcesRefusesTheRun) {
  TempDir dir;
  WriteBytes(dir / L"a.txt", "a");
  AddSource(dir / L"a.txt");
  AddSource(L"C:\\");
  AddDest(dir / L"d\\");
  Click(ui().copy);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, L"不能对整个驱动器（磁盘）进行复制！");
  EXPECT_EQ(dialogs.boxes[0].owner, app_->appWindow());
  EXPECT_FALSE(Exists(dir / L"d"));
}

// A destination that is a whole drive, however spelled, may receive copies
// but is never emptied: neither the run nor the empty-now command starts.
TEST_F(CopyCommands, AWholeDriveIsNeverEmptied) {
  ASSERT_TRUE(fs::IsFile(L"Q:\\sub\\keep2.txt")) << "link fixture missing";
  TempDir dir;
  WriteBytes(dir / L"a.txt", "a");
  AddSource(dir / L"a.txt");
  AddDest(dir / L"d\\");
  AddDest(L"Q:\\sub\\..");
  ShowEmptyNow();
  dialogs.answers = {IDYES};
  Click(ui().emptyFirst);
  dialogs.boxes.clear();
  Click(ui().copy);
  dialogs.menuChoices = {kMenuEmptyNow};
  SendMessageW(ui().emptyNow.hwnd(), WM_LBUTTONDOWN, 0, MAKELPARAM(1, 1));
  WaitIdle();
  ASSERT_EQ(dialogs.boxes.size(), 2u);  // no warning before the refusal
  for (const auto& box : dialogs.boxes) {
    EXPECT_EQ(box.text, L"不能清空整个驱动器（磁盘）！");
    EXPECT_EQ(box.flags, UINT(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(box.owner, form().hwnd());
  }
  EXPECT_TRUE(Exists(L"Q:\\keep1.txt"));
  EXPECT_TRUE(Exists(L"Q:\\sub\\keep2.txt"));
  EXPECT_FALSE(Exists(dir / L"d"));
  EXPECT_TRUE(ui().emptyFirst.Checked());  // nothing changed
  EXPECT_TRUE(IsWindowEnabled(ui().emptyNow.hwnd()));
}

TEST_F(CopyCommands, ARunAsksOwnedByTheApplicationWindowAndEndsWithTheMessage) {
  TempDir dir;
  WriteBytes(dir / L"s\\a.txt", "new");
  WriteBytes(dir / L"d\\a.txt", "old");
  AddSource(dir / L"s\\a.txt");
  AddDest(dir / L"d\\");
  Click(ui().ask);
  dialogs.answers = {IDYES, IDOK};
  WatchBoxes();
  Click(ui().copy);
  ASSERT_EQ(dialogs.boxes.size(), 2u);
  EXPECT_EQ(dialogs.boxes[0].text, L"文件" + dir.path() + L"d\\a.txt已存在，是否覆盖？");
  EXPECT_EQ(dialogs.boxes[0].flags, UINT(MB_YESNOCANCEL | MB_ICONQUESTION));
  EXPECT_EQ(dialogs.boxes[0].owner, app_->appWindow());
  EXPECT_EQ(dialogs.boxes[1].text, L"复制工作完成！");
  EXPECT_EQ(dialogs.boxes[1].flags, UINT(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(dialogs.boxes[1].owner, form().hwnd());
  // No input while the question is open; the bar shows 100 under the final message, 0 after it.
  EXPECT_EQ(mainEnabledAtBox, (std::vector<bool>{false, true}));
  EXPECT_EQ(progressAtBox[1], 100);
  EXPECT_EQ(Progress(), 0);
  EXPECT_TRUE(IsWindowEnabled(ui().copy.hwnd()));
  EXPECT_EQ(ReadBytes(dir / L"d\\a.txt"), "new");
  // The run reads the selected policy: AutoNumber now numbers.
  Click(ui().autoNumber);
  Click(ui().copy);
  EXPECT_EQ(ReadBytes(dir / L"d\\a_1.txt"), "new");
}

// A folder that cannot be entered is one failure among others: the run goes
// on to its end, and the end box names it with its own reason.
TEST_F(CopyCommands, AFolderThatCannotBeEnteredNeverEndsTheRun) {
  TempDir dir;
  WriteBytes(dir / L"a.txt", "a");
  WriteBytes(dir / L"s\\x.txt", "x");
  ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + dir.path() + L"s\\bad.").c_str(), nullptr));
  AddSource(dir / L"a.txt");
  AddSource(dir / L"s");
  AddDest(dir / L"d\\");
  WatchBoxes();
  Click(ui().copy);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  // d\ does not exist for the file entry; the folder's copy made it.
  EXPECT_EQ(dialogs.boxes[0].text, L"复制工作完成！\r\n\r\n有 2 项未能完成：\r\n" + dir.path() + L"a.txt → " + dir.path() +
                                       L"d\\a.txt：" + fs::SystemErrorText(ERROR_PATH_NOT_FOUND) + L"\r\n" + dir.path() +
                                       L"s\\bad.：无法进入文件夹（错误 2）");
  EXPECT_EQ(dialogs.boxes[0].flags, UINT(MB_OK | MB_ICONWARNING));
  EXPECT_EQ(progressAtBox, std::vector<int>{100});
  EXPECT_EQ(ReadBytes(dir / L"d\\s\\x.txt"), "x");
  EXPECT_EQ(Progress(), 0);
  EXPECT_TRUE(IsWindowEnabled(form().hwnd()));
  EXPECT_TRUE(IsWindowEnabled(ui().copy.hwnd()));
  RemoveDirectoryW((L"\\\\?\\" + dir.path() + L"s\\bad.").c_str());
}

TEST_F(CopyCommands, TickingTheEmptyingBoxWarnsAndNoUnticksIt) {
  WatchBoxes();
  dialogs.answers = {IDNO};
  Click(ui().emptyFirst);
  EXPECT_FALSE(ui().emptyFirst.Checked());
  dialogs.answers = {IDYES};
  Click(ui().emptyFirst);
  EXPECT_TRUE(ui().emptyFirst.Checked());
  Click(ui().emptyFirst);  // unticking never asks
  EXPECT_FALSE(ui().emptyFirst.Checked());
  ASSERT_EQ(dialogs.boxes.size(), 2u);
  for (auto& box : dialogs.boxes) {
    EXPECT_EQ(box.text, L"清空（删除）操作是不可撤消（恢复）的，您确这要继续吗？");
    EXPECT_EQ(box.flags, 0x134u);
    EXPECT_EQ(box.owner, app_->appWindow());
  }
  EXPECT_EQ(mainEnabledAtBox, (std::vector<bool>{false, false}));
  EXPECT_TRUE(IsWindowEnabled(form().hwnd()));
}

TEST_F(CopyCommands, TheEmptyNowMenuEmptiesEveryDestinationOnYesOnly) {
  TempDir dir;
  WriteBytes(dir / L"A\\a.txt", "a");
  WriteBytes(dir / L"B\\sub\\b.txt", "b");
  AddDest(dir / L"A\\");
  AddDest(dir / L"B");
  ShowEmptyNow();
  dialogs.answers = {IDYES};
  Click(ui().emptyFirst);

  // Any mouse button pops the menu at the press point; No changes nothing.
  HWND button = ui().emptyNow.hwnd();
  dialogs.menuChoices = {kMenuEmptyNow, kMenuEmptyNow};
  dialogs.answers = {IDNO};
  SendMessageW(button, WM_RBUTTONDOWN, 0, MAKELPARAM(5, 7));
  WaitIdle();
  POINT expected = {5, 7};
  ClientToScreen(button, &expected);
  ASSERT_EQ(dialogs.menuPoints.size(), 1u);
  EXPECT_EQ(dialogs.menuPoints[0].x, expected.x);
  EXPECT_EQ(dialogs.menuPoints[0].y, expected.y);
  EXPECT_TRUE(ui().emptyFirst.Checked());
  EXPECT_TRUE(Exists(dir / L"A\\a.txt"));

  dialogs.answers = {IDYES, IDOK};
  SendMessageW(button, WM_LBUTTONDOWN, 0, MAKELPARAM(1, 1));
  WaitIdle();
  EXPECT_FALSE(ui().emptyFirst.Checked());
  EXPECT_FALSE(Exists(dir / L"A\\a.txt"));
  EXPECT_TRUE(fs::IsFolder(dir / L"A"));
  EXPECT_TRUE(fs::IsFolder(dir / L"B"));  // listed without its backslash: kept all the same
  EXPECT_FALSE(Exists(dir / L"B\\sub"));
  EXPECT_EQ(dialogs.boxes.back().text, L"目标文件夹下的内容已完全删除！");
  EXPECT_EQ(dialogs.boxes.back().owner, form().hwnd());
  EXPECT_FALSE(IsWindowEnabled(button));
  EXPECT_NE(GetFocus(), button);
}

TEST_F(CopyCommands, EmptyingBeforeCopyingInterleavesAndSparesSources) {
  TempDir dir;
  WriteBytes(dir / L"D\\old.txt", "old");
  WriteBytes(dir / L"D\\in\\src.txt", "s");
  AddSource(dir / L"D\\in\\src.txt");
  AddDest(dir / L"D\\");
  dialogs.answers = {IDYES};
  Click(ui().emptyFirst);
  Click(ui().copy);
  EXPECT_FALSE(Exists(dir / L"D\\old.txt"));
  EXPECT_EQ(ReadBytes(dir / L"D\\in\\src.txt"), "s");
  EXPECT_EQ(ReadBytes(dir / L"D\\src.txt"), "s");
  EXPECT_TRUE(ui().emptyFirst.Checked());  // the run leaves it ticked
}

}  // namespace

namespace {

// Sources and destinations are compared as the places they name.
TEST_F(CopyCommands, NoSpellingOfASourceInsideTheDestinationLetsEmptyingDeleteIt) {
  struct Case {
    const wchar_t *source, *dest;  // relative to the test folder, "e" being the destination
  } cases[] = {
      {L"e\\.\\src", L"e\\"}, {L"e\\\\src", L"e\\"},    {L"e/src", L"e\\"},   {L"E\\SRC\\", L"e\\"},
      {L"e\\src.", L"e\\"},   {L"e\\x\\..\\src", L"e"}, {L"e\\src", L"e\\."}, {L"e\\src", L"e\\sub\\.."},
  };
  Click(ui().overwrite);
  for (auto& c : cases) {
    SCOPED_TRACE(Narrow(c.source) + " into " + Narrow(c.dest));
    TempDir dir;
    WriteBytes(dir / L"e\\src\\keep.txt", "k");
    WriteBytes(dir / L"e\\junk.txt", "j");
    ui().sources.Clear();
    ui().dests.Clear();
    AddSource(dir / c.source);
    AddDest(dir / c.dest);
    SendMessageW(ui().emptyFirst.hwnd(), BM_SETCHECK, BST_CHECKED, 0);  // ticked without the warning
    dialogs.boxes.clear();
    Click(ui().copy);
    EXPECT_EQ(ReadBytes(dir / L"e\\src\\keep.txt"), "k");
    EXPECT_FALSE(Exists(dir / L"e\\junk.txt"));
    EXPECT_FALSE(Exists(dir / L"e\\src\\src"));  // never copied into itself
    ASSERT_EQ(dialogs.texts(), std::vector<std::wstring>{L"复制工作完成！"});
  }
}

TEST_F(CopyCommands, DotsNeverCopyAWholeDriveNorWriteOutsideTheDestination) {
  TempDir dir;
  WriteBytes(dir / L"top\\sub\\s.txt", "s");
  WriteBytes(dir / L"top\\rootfile.txt", "r");
  struct Case {
    std::wstring source;
    bool refused;
  } cases[] = {{L"C:\\.", true}, {L"C:\\qmtests\\..", true}, {L"C:/", true}, {dir / L"top\\sub\\..", false}};
  for (auto& c : cases) {
    SCOPED_TRACE(Narrow(c.source));
    RemoveTree(dir / L"out");
    ui().sources.Clear();
    ui().dests.Clear();
    AddSource(c.source);
    AddDest(dir / L"out\\");
    dialogs.boxes.clear();
    Click(ui().copy);
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, c.refused ? L"不能对整个驱动器（磁盘）进行复制！" : L"复制工作完成！");
    // The entry is copied under the name of the folder it names, inside the destination.
    EXPECT_EQ(ReadBytes(dir / L"out\\top\\rootfile.txt"), c.refused ? "<missing>" : "r");
    EXPECT_FALSE(Exists(dir / L"rootfile.txt"));
    EXPECT_FALSE(Exists(dir / L"sub"));
  }
}

// Clicks, keys and drops posted to the window during a command reach it
// (Wine delivers them to disabled controls too) and must change nothing;
// only "停止" takes input then.
TEST_F(CopyCommands, CommandsPostedDuringARunOrAnEmptyingAreRefused) {
  TempDir dir;
  for (int i = 0; i < 20; ++i) WriteBytes(dir / L"src\\f" + std::to_wstring(i), "x");
  const std::vector<std::wstring> dests = {dir / L"d1\\", dir / L"d2\\", dir / L"d3\\", dir / L"d4\\"};
  AddSource(dir / L"src");
  for (auto& d : dests) AddDest(d);
  SendMessageW(ui().sources.hwnd(), LB_SETCURSEL, 0, 0);
  SendMessageW(ui().dests.hwnd(), LB_SETCURSEL, 0, 0);
  Click(ui().autoNumber);
  auto postEverything = [&] {
    const Control* posted[] = {&ui().clearSources, &ui().clearDests, &ui().removeSource,
                               &ui().removeDest,   &ui().overwrite,  &ui().searchAddFiles};
    for (const Control* button : posted) PostMessageW(button->hwnd(), BM_CLICK, 0, 0);
    PostMessageW(ui().sources.hwnd(), WM_KEYDOWN, VK_DELETE, 0);
    PostMessageW(ui().dests.hwnd(), WM_KEYDOWN, VK_DELETE, 0);
    PostMessageW(ui().sources.hwnd(), WM_DROPFILES, WPARAM(MakeDrop({dir / L"src\\f1"})), 0);
  };
  postEverything();
  Click(ui().copy);
  EXPECT_EQ(dialogs.texts(), std::vector<std::wstring>{L"复制工作完成！"});  // one run, one message
  EXPECT_EQ(ui().sources.Items(), std::vector<std::wstring>{dir / L"src"});
  EXPECT_EQ(ui().dests.Items(), dests);
  for (auto& d : dests) {
    EXPECT_EQ(ReadBytes(d + L"src\\f19"), "x") << Narrow(d);
    EXPECT_FALSE(Exists(d + L"src\\f19_1")) << Narrow(d);  // no second run inside the first
  }
  EXPECT_TRUE(ui().autoNumber.Checked());
  EXPECT_FALSE(ui().overwrite.Checked());
  Pump();

  // The same during the empty-now command.
  dialogs.boxes.clear();
  dialogs.menuChoices = {kMenuEmptyNow};
  dialogs.answers = {IDYES};
  postEverything();
  SendMessageW(ui().emptyNow.hwnd(), WM_LBUTTONDOWN, 0, 0);
  WaitIdle();
  EXPECT_EQ(dialogs.texts(), (std::vector<std::wstring>{L"清空（删除）操作是不可撤消（恢复）的，您确这要继续吗？",
                                                        L"目标文件夹下的内容已完全删除！"}));
  EXPECT_EQ(ui().sources.Items(), std::vector<std::wstring>{dir / L"src"});
  EXPECT_EQ(ui().dests.Items(), dests);
  EXPECT_FALSE(Exists(dir / L"d4\\src"));
}

}  // namespace

namespace {

// A long run stops at once, giving up the file in progress: by a posted click on "停止",
// by Esc, or by Cancel on the Ask question.
TEST_F(CopyCommands, ARunStopsOnStopEscOrCancelKeepingWhatItCopied) {
  enum Way { StopButton, Escape, Cancel };
  for (Way way : {StopButton, Escape, Cancel}) {
    SCOPED_TRACE(int(way));
    TempDir dir;
    for (int i = 0; i < 300; ++i) WriteBytes(dir / L"src\\f" + std::to_wstring(i), "x");
    WriteBytes(dir / L"d1\\src\\f0", "old");
    ui().sources.Clear();
    ui().dests.Clear();
    AddSource(dir / L"src");
    AddDest(dir / L"d1\\");
    AddDest(dir / L"d2\\");
    Click(way == Cancel ? ui().ask : ui().autoNumber);
    std::vector<std::wstring> captions;
    std::vector<bool> othersEnabled;
    dialogs.boxes.clear();
    dialogs.answers = {IDCANCEL, IDOK};
    dialogs.onBox = [&](const ScriptedDialogs::Box&) {
      captions.push_back(ui().copy.Text());
      othersEnabled.push_back(IsWindowEnabled(ui().addFiles.hwnd()));
    };
    if (way == StopButton) PostMessageW(ui().copy.hwnd(), BM_CLICK, 0, 0);
    if (way == Escape) PostMessageW(ui().copy.hwnd(), WM_KEYDOWN, VK_ESCAPE, 0);
    Click(ui().copy);
    ASSERT_FALSE(dialogs.boxes.empty());
    // The box says how far the run got: every file in d1 but the old f0 is a copy.
    const size_t copied = ListEntries(dir / L"d1\\src\\*", fs::kMaskAll).size() - 3;
    EXPECT_EQ(dialogs.boxes.back().text, L"复制已停止。\r\n已复制 " + std::to_wstring(copied) + L" 个文件。");
    EXPECT_EQ(dialogs.boxes.back().flags, UINT(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(captions.back(), L"开始复制");  // the run is over when its box shows
    EXPECT_EQ(ui().copy.Text(), L"开始复制");
    EXPECT_TRUE(IsWindowEnabled(ui().addFiles.hwnd()));
    EXPECT_EQ(Progress(), 0);
    EXPECT_FALSE(Exists(dir / L"d2\\src"));  // nothing after the stop starts
    // What was copied before the stop is whole, and nothing half-made is left.
    for (const fs::Entry& e : ListEntries(dir / L"d1\\src\\*", fs::kMaskAll)) {
      if (e.attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      EXPECT_FALSE(fs::IsOwnFileName(e.name)) << Narrow(e.name);
      if (e.name != L"f0") EXPECT_EQ(ReadBytes(dir / L"d1\\src\\" + e.name), "x") << Narrow(e.name);
    }
    if (way == Cancel) {
      EXPECT_EQ(dialogs.boxes.size(), 2u);  // one question, then the end
      EXPECT_EQ(ReadBytes(dir / L"d1\\src\\f0"), "old");
      EXPECT_EQ(captions[0], L"停止");  // during the run "停止" is the one control that takes input
      EXPECT_FALSE(othersEnabled[0]);
    }
  }
  dialogs.onBox = nullptr;
}

// Everything the system refused is counted and named; the first line stays.
TEST_F(CopyCommands, TheFinalBoxTellsWhatFailedAndNothingIsLeftHalfWritten) {
  TempDir dir;
  WriteBytes(dir / L"s\\good.txt", "good");
  WriteBytes(dir / L"s\\locked.txt", "locked");
  WriteBytes(dir / L"s\\ro.txt", "new");
  WriteBytes(dir / L"s\\folder.txt", "new");
  WriteBytes(dir / L"d\\ro.txt", "old");
  WriteBytes(dir / L"d\\locked.txt", "old");
  SetFileAttributesW((dir / L"d\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  MakeDir(dir / L"d\\folder.txt");
  fs::FileHandle held(
      CreateFileW((dir / L"s\\locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  for (auto name : {L"good.txt", L"locked.txt", L"ro.txt", L"folder.txt"}) AddSource(dir / L"s\\" + name);
  AddDest(dir / L"d\\");
  Click(ui().overwrite);
  Click(ui().copy);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  const std::wstring& text = dialogs.boxes[0].text;
  EXPECT_EQ(text.substr(0, text.find(L"\r\n")), L"复制工作完成！");
  EXPECT_NE(text.find(L"有 3 项未能完成："), std::wstring::npos) << Narrow(text);
  for (auto name : {L"locked.txt", L"ro.txt", L"folder.txt"})
    EXPECT_NE(text.find(dir / L"s\\" + std::wstring(name) + L" → " + dir.path() + L"d\\" + name), std::wstring::npos)
        << Narrow(name);
  EXPECT_EQ(text.find(L"good.txt"), std::wstring::npos);
  EXPECT_EQ(dialogs.boxes[0].flags, UINT(MB_OK | MB_ICONWARNING));
  EXPECT_EQ(ReadBytes(dir / L"d\\good.txt"), "good");
  EXPECT_EQ(ReadBytes(dir / L"d\\locked.txt"), "old");  // the old file stays whole
  SetFileAttributesW((dir / L"d\\ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(ReadBytes(dir / L"d\\ro.txt"), "old");

  // The empty-now command says everything went only when it did.
  held =
      fs::FileHandle(CreateFileW((dir / L"d\\good.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  dialogs.boxes.clear();
  dialogs.menuChoices = {kMenuEmptyNow};
  dialogs.answers = {IDYES};
  SendMessageW(ui().emptyNow.hwnd(), WM_LBUTTONDOWN, 0, 0);
  WaitIdle();
  ASSERT_EQ(dialogs.boxes.size(), 2u);
  EXPECT_EQ(dialogs.boxes[1].text.substr(0, dialogs.boxes[1].text.find(L"\r\n")), L"目标文件夹下的内容未能完全删除。");
  EXPECT_NE(dialogs.boxes[1].text.find(L"有 1 项未能完成：\r\n" + dir.path() + L"d\\good.txt："), std::wstring::npos)
      << Narrow(dialogs.boxes[1].text);
  EXPECT_EQ(dialogs.boxes[1].flags, UINT(MB_OK | MB_ICONWARNING));
}

// During a run the session may not end; when idle it may. The status line
// names the file the run is at.
TEST_F(CopyCommands, TheSessionWaitsForARunAndTheStatusLineNamesItsFile) {
  TempDir dir;
  for (int i = 0; i < 5; ++i) WriteBytes(dir / L"src\\f" + std::to_wstring(i), "12345");
  WriteBytes(dir / L"last.txt", "new");
  WriteBytes(dir / L"d\\last.txt", "old");
  AddSource(dir / L"src");
  AddSource(dir / L"last.txt");
  AddDest(dir / L"d\\");
  Click(ui().ask);
  LRESULT duringRun = -1;
  std::wstring status, file;
  dialogs.answers = {IDNO, IDOK};
  dialogs.onBox = [&](const ScriptedDialogs::Box&) {
    if (duringRun != -1) return;
    duringRun = SendMessageW(form().hwnd(), WM_QUERYENDSESSION, 0, 0);
    status = ui().status.Text();
    file = ui().statusFile.Text();
  };
  Click(ui().copy);
  dialogs.onBox = nullptr;
  EXPECT_EQ(duringRun, 0);
  EXPECT_EQ(status.substr(0, status.find(L"，")), L"5 个文件");
  EXPECT_EQ(file, dir / L"last.txt");
  EXPECT_EQ(ui().status.Text(), L"");  // cleared after the run
  EXPECT_NE(SendMessageW(form().hwnd(), WM_QUERYENDSESSION, 0, 0), 0);
}

// A session that ends all the same during a run: the run gives up before the
// end message returns, nothing half-written stays, and the policy is kept.
TEST_F(CopyCommands, ASessionEndedDuringARunLeavesNothingHalfWrittenAndKeepsThePolicy) {
  TempDir dir;
  for (int i = 0; i < 200; ++i) WriteBytes(dir / L"src\\f" + std::to_wstring(i), "x");
  WriteBytes(dir / L"d\\src\\f0", "old");
  AddSource(dir / L"src");
  AddDest(dir / L"d\\");
  Click(ui().ask);
  bool workingAfterEnd = true;
  dialogs.onBox = [&](const ScriptedDialogs::Box&) {
    if (!workingAfterEnd) return;
    SendMessageW(form().hwnd(), WM_ENDSESSION, TRUE, 0);
    workingAfterEnd = false;
  };
  dialogs.answers = {IDYES, IDOK};
  Click(ui().copy);
  dialogs.onBox = nullptr;
  for (const fs::Entry& e : ListEntries(dir / L"d\\src\\*", fs::kMaskAll)) EXPECT_FALSE(fs::IsOwnFileName(e.name));
  EXPECT_LT(ListEntries(dir / L"d\\src\\*", fs::kMaskAll).size(), 202u);  // given up, not finished
  EXPECT_EQ(ReadBytes(paths_.system), "[Parameter]\r\nSameFile=3\r\nVerifyCopies=0\r\n");
}

}  // namespace
