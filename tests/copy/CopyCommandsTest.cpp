// The copy commands driven through the real main window.
#include "tests/support/AppFixture.h"

#include <commctrl.h>

#include "fs/FileSystem.h"

namespace {

class CopyCommands : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Start();
    form().Show();
  }
  void AddSource(const std::wstring& p) { form().Sources().Append(p); }
  void AddDest(const std::wstring& p) { form().Dests().Append(p); }
  int Progress() { return int(SendMessageW(Ctl(L"ProgressBar1"), PBM_GETPOS, 0, 0)); }
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
  Click(L"BtnCopy");
  AddDest(dir / L"d\\");
  form().Sources().Clear();
  Click(L"BtnCopy");
  ASSERT_EQ(dialogs.boxes.size(), 2u);
  for (auto& box : dialogs.boxes) {
    EXPECT_EQ(box.text, L"没有需要复制的文件或文件夹!");
    EXPECT_EQ(box.flags, UINT(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(box.owner, form().hwnd());
  }
  EXPECT_FALSE(Exists(dir / L"d"));
}

TEST_F(CopyCommands, ADriveRootInTheSourcesRefusesTheRun) {
  TempDir dir;
  WriteBytes(dir / L"a.txt", "a");
  AddSource(dir / L"a.txt");
  AddSource(L"C:\\");
  AddDest(dir / L"d\\");
  Click(L"BtnCopy");
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, L"不能对整个驱动器（磁盘）进行复制！");
  EXPECT_EQ(dialogs.boxes[0].owner, app_->appWindow());
  EXPECT_FALSE(Exists(dir / L"d"));
}

TEST_F(CopyCommands, ARunAsksOwnedByTheApplicationWindowAndEndsWithTheMessage) {
  TempDir dir;
  WriteBytes(dir / L"s\\a.txt", "new");
  WriteBytes(dir / L"d\\a.txt", "old");
  AddSource(dir / L"s\\a.txt");
  AddDest(dir / L"d\\");
  Click(L"Rb3");
  dialogs.answers = {IDYES, IDOK};
  WatchBoxes();
  Click(L"BtnCopy");
  ASSERT_EQ(dialogs.boxes.size(), 2u);
  EXPECT_EQ(dialogs.boxes[0].text, L"文件" + dir.path() + L"d\\a.txt已存在，是否覆盖？");
  EXPECT_EQ(dialogs.boxes[0].flags, UINT(MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(dialogs.boxes[0].owner, app_->appWindow());
  EXPECT_EQ(dialogs.boxes[1].text, L"复制工作完成！");
  EXPECT_EQ(dialogs.boxes[1].flags, UINT(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(dialogs.boxes[1].owner, form().hwnd());
  // No input while the question is open; the bar shows 100 under the final message, 0 after it.
  EXPECT_EQ(mainEnabledAtBox, (std::vector<bool>{false, true}));
  EXPECT_EQ(progressAtBox[1], 100);
  EXPECT_EQ(Progress(), 0);
  EXPECT_TRUE(IsWindowEnabled(Ctl(L"BtnCopy")));
  EXPECT_EQ(ReadBytes(dir / L"d\\a.txt"), "new");
  // The run reads the selected policy: AutoNumber now numbers.
  Click(L"RbRename");
  Click(L"BtnCopy");
  EXPECT_EQ(ReadBytes(dir / L"d\\a_1.txt"), "new");
}

TEST_F(CopyCommands, AnIoErrorEndsTheRunWithTheErrorBoxAndEverythingEnabledAgain) {
  TempDir dir;
  WriteBytes(dir / L"a.txt", "a");
  WriteBytes(dir / L"s\\x.txt", "x");
  ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + dir.path() + L"s\\bad.").c_str(), nullptr));
  AddSource(dir / L"a.txt");
  AddSource(dir / L"s");
  AddDest(dir / L"d\\");
  Click(L"BtnCopy");
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, L"File not found.");
  EXPECT_EQ(dialogs.boxes[0].flags & 0xFF, UINT(MB_ICONERROR));
  EXPECT_EQ(Progress(), 50);  // where the run stopped
  EXPECT_TRUE(IsWindowEnabled(form().hwnd()));
  EXPECT_TRUE(IsWindowEnabled(Ctl(L"BtnCopy")));
  RemoveDirectoryW((L"\\\\?\\" + dir.path() + L"s\\bad.").c_str());
}

TEST_F(CopyCommands, TickingTheEmptyingBoxWarnsAndNoUnticksIt) {
  WatchBoxes();
  dialogs.answers = {IDNO};
  Click(L"CheckBox1");
  EXPECT_FALSE(IsChecked(Ctl(L"CheckBox1")));
  dialogs.answers = {IDYES};
  Click(L"CheckBox1");
  EXPECT_TRUE(IsChecked(Ctl(L"CheckBox1")));
  Click(L"CheckBox1");  // unticking never asks
  EXPECT_FALSE(IsChecked(Ctl(L"CheckBox1")));
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
  form().ShowEmptyButton(true);
  dialogs.answers = {IDYES};
  Click(L"CheckBox1");

  // Any mouse button pops the menu at the press point; No changes nothing.
  HWND button = Ctl(L"BtnEmptyDestFolder");
  dialogs.menuChoices = {kMenuN1, kMenuN1};
  dialogs.answers = {IDNO};
  SendMessageW(button, WM_RBUTTONDOWN, 0, MAKELPARAM(5, 7));
  POINT expected = {5, 7};
  ClientToScreen(button, &expected);
  ASSERT_EQ(dialogs.menuPoints.size(), 1u);
  EXPECT_EQ(dialogs.menuPoints[0].x, expected.x);
  EXPECT_EQ(dialogs.menuPoints[0].y, expected.y);
  EXPECT_TRUE(IsChecked(Ctl(L"CheckBox1")));
  EXPECT_TRUE(Exists(dir / L"A\\a.txt"));

  dialogs.answers = {IDYES, IDOK};
  SendMessageW(button, WM_LBUTTONDOWN, 0, MAKELPARAM(1, 1));
  EXPECT_FALSE(IsChecked(Ctl(L"CheckBox1")));
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
  Click(L"CheckBox1");
  Click(L"BtnCopy");
  EXPECT_FALSE(Exists(dir / L"D\\old.txt"));
  EXPECT_EQ(ReadBytes(dir / L"D\\in\\src.txt"), "s");
  EXPECT_EQ(ReadBytes(dir / L"D\\src.txt"), "s");
  EXPECT_TRUE(IsChecked(Ctl(L"CheckBox1")));  // the run leaves it ticked
}

}  // namespace
