// Starts the real Quillmere.exe and drives it from this process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/OtherProgram.h"
#include "tests/support/TestSupport.h"

namespace {

using other::Children;

std::wstring ExePath() {
  std::string unix = QM_EXE_UNIX_PATH;
  std::wstring path = L"Z:";
  for (char c : unix) path += c == '/' ? L'\\' : wchar_t(c);
  return path;
}

TEST(EndToEnd, StartsShowsTheMainWindowAndEndsOnClose) {
  other::OtherProgram app(ExePath());
  ASSERT_TRUE(app.started()) << Narrow(ExePath());
  HWND main = app.MainWindow();
  ASSERT_TRUE(main);
  EXPECT_EQ(Children(main, L"Button", L"开始复制").size(), 1u);
  EXPECT_EQ(Children(main, L"ListBox").size(), 2u);
  EXPECT_TRUE(app.Close(main));
}

TEST(EndToEnd, ACopyRunFromTheRealWindow) {
  TempDir dir;
  WriteBytes(dir / L"src\\tree\\a.txt", "a");
  WriteBytes(dir / L"src\\one.txt", "one");
  MakeDir(dir / L"d1");
  other::OtherProgram app(ExePath());
  ASSERT_TRUE(app.started());
  HWND main = app.MainWindow();
  ASSERT_TRUE(main);
  auto lists = Children(main, L"ListBox");
  ASSERT_EQ(lists.size(), 2u);
  for (auto path : {dir / L"src\\tree\\", dir / L"src\\one.txt"})
    SendMessageW(lists[0], LB_ADDSTRING, 0, LPARAM(path.c_str()));
  for (auto path : {dir / L"d1\\", dir / L"d2\\"}) SendMessageW(lists[1], LB_ADDSTRING, 0, LPARAM(path.c_str()));
  auto overwrite = Children(main, L"Button", L"覆盖");
  ASSERT_EQ(overwrite.size(), 1u);
  SendMessageW(overwrite[0], BM_CLICK, 0, 0);
  auto start = Children(main, L"Button", L"开始复制");
  ASSERT_EQ(start.size(), 1u);
  PostMessageW(start[0], BM_CLICK, 0, 0);

  HWND done = app.Box(60);
  ASSERT_TRUE(done);
  auto statics = Children(done, L"Static", L"复制工作完成！");
  EXPECT_EQ(statics.size(), 1u);
  EXPECT_EQ(ReadBytes(dir / L"d1\\tree\\a.txt"), "a");
  EXPECT_EQ(ReadBytes(dir / L"d2\\tree\\a.txt"), "a");
  EXPECT_EQ(ReadBytes(dir / L"d1\\one.txt"), "one");
  EXPECT_EQ(ReadBytes(dir / L"d2\\one.txt"), "one");  // d2 was made by the folder entry before it
  PostMessageW(done, WM_COMMAND, IDOK, 0);
  Sleep(500);
  EXPECT_TRUE(app.Close(main));
}

TEST(EndToEnd, RealMessageBoxesCarryTheTitleAndTheirOwner) {
  other::OtherProgram app(ExePath());
  ASSERT_TRUE(app.started());
  HWND main = app.MainWindow();
  ASSERT_TRUE(main);
  auto exportButtons = Children(main, L"Button", L"导出保存列表");
  ASSERT_EQ(exportButtons.size(), 2u);
  PostMessageW(exportButtons[1], BM_CLICK, 0, 0);
  HWND box = app.Box(30);
  ASSERT_TRUE(box);
  EXPECT_EQ(Children(box, L"Static", L"当前目录列表为空！").size(), 1u);
  EXPECT_EQ(GetWindow(box, GW_OWNER), main);
  EXPECT_FALSE(IsWindowEnabled(main));  // owned by the main window: it waits
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  for (int i = 0; i < 50 && !IsWindowEnabled(main); ++i) Sleep(100);
  EXPECT_TRUE(IsWindowEnabled(main));
  EXPECT_TRUE(app.Close(main));
}

// Windows reads the awareness from the exe's manifest (Wine treats every
// program as aware): per monitor, v2 where known, with the older spelling.
TEST(EndToEnd, TheExeDeclaresPerMonitorDpiAwareness) {
  HMODULE exe = LoadLibraryExW(ExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_TRUE(exe);
  HRSRC resource = FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
  ASSERT_TRUE(resource);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(exe, resource)));
  std::string manifest(bytes, SizeofResource(exe, resource));
  FreeLibrary(exe);
  EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
  EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
}

}  // namespace
