// Starts the real Quillmere.exe and drives it from this process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wingui/Window.h"
#include "tests/support/TestSupport.h"

namespace {

std::wstring ExePath() {
  std::string unix = QM_EXE_UNIX_PATH;
  std::wstring path = L"Z:";
  for (char c : unix) path += c == '/' ? L'\\' : wchar_t(c);
  return path;
}

struct Found {
  const wchar_t* cls;
  const wchar_t* text;  // nullptr: any
  std::vector<HWND> windows;
};

BOOL CALLBACK Collect(HWND w, LPARAM p) {
  auto* f = reinterpret_cast<Found*>(p);
  wchar_t cls[64];
  GetClassNameW(w, cls, 64);
  if (lstrcmpiW(cls, f->cls) == 0 && (!f->text || WindowText(w) == f->text)) f->windows.push_back(w);
  return TRUE;
}

std::vector<HWND> Children(HWND parent, const wchar_t* cls, const wchar_t* text = nullptr) {
  Found f{cls, text, {}};
  EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&f));
  return f.windows;
}

// A top-level window of the process, waiting up to the given time.
HWND WaitForWindow(DWORD pid, const wchar_t* cls, const wchar_t* caption, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    for (HWND w = FindWindowW(cls, caption); w; w = FindWindowExW(nullptr, w, cls, caption)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == pid && IsWindowVisible(w)) return w;
    }
    Sleep(100);
  }
  return nullptr;
}

class Running {
 public:
  Running() {
    STARTUPINFOW si = {sizeof si};
    std::wstring command = L"\"" + ExePath() + L"\"";
    started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_);
  }
  ~Running() {
    if (!started_) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 1);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }
  bool started() const { return started_; }
  DWORD pid() const { return pi_.dwProcessId; }
  bool Ended(int seconds) { return WaitForSingleObject(pi_.hProcess, seconds * 1000) == WAIT_OBJECT_0; }

 private:
  PROCESS_INFORMATION pi_ = {};
  bool started_ = false;
};

TEST(EndToEnd, StartsShowsTheMainWindowAndEndsOnClose) {
  Running app;
  ASSERT_TRUE(app.started()) << Narrow(ExePath());
  HWND main = WaitForWindow(app.pid(), L"MainWindow", L"Quillmere", 60);
  ASSERT_TRUE(main);
  EXPECT_EQ(Children(main, L"Button", L"开始复制").size(), 1u);
  EXPECT_EQ(Children(main, L"ListBox").size(), 2u);
  PostMessageW(main, WM_CLOSE, 0, 0);
  EXPECT_TRUE(app.Ended(30));
}

TEST(EndToEnd, ACopyRunFromTheRealWindow) {
  TempDir dir;
  WriteBytes(dir / L"src\\tree\\a.txt", "a");
  WriteBytes(dir / L"src\\one.txt", "one");
  MakeDir(dir / L"d1");
  Running app;
  ASSERT_TRUE(app.started());
  HWND main = WaitForWindow(app.pid(), L"MainWindow", L"Quillmere", 60);
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

  HWND done = WaitForWindow(app.pid(), L"#32770", L"Quillmere", 60);
  ASSERT_TRUE(done);
  auto statics = Children(done, L"Static", L"复制工作完成！");
  EXPECT_EQ(statics.size(), 1u);
  EXPECT_EQ(ReadBytes(dir / L"d1\\tree\\a.txt"), "a");
  EXPECT_EQ(ReadBytes(dir / L"d2\\tree\\a.txt"), "a");
  EXPECT_EQ(ReadBytes(dir / L"d1\\one.txt"), "one");
  EXPECT_EQ(ReadBytes(dir / L"d2\\one.txt"), "one");  // d2 was made by the folder entry before it
  PostMessageW(done, WM_COMMAND, IDOK, 0);
  Sleep(500);
  PostMessageW(main, WM_CLOSE, 0, 0);
  EXPECT_TRUE(app.Ended(30));
}

TEST(EndToEnd, RealMessageBoxesCarryTheTitleAndTheirOwner) {
  Running app;
  ASSERT_TRUE(app.started());
  HWND main = WaitForWindow(app.pid(), L"MainWindow", L"Quillmere", 60);
  ASSERT_TRUE(main);
  auto exportButtons = Children(main, L"Button", L"导出保存列表");
  ASSERT_EQ(exportButtons.size(), 2u);
  PostMessageW(exportButtons[1], BM_CLICK, 0, 0);
  HWND box = WaitForWindow(app.pid(), L"#32770", L"Quillmere", 30);
  ASSERT_TRUE(box);
  EXPECT_EQ(Children(box, L"Static", L"当前目录列表为空！").size(), 1u);
  EXPECT_EQ(GetWindow(box, GW_OWNER), main);
  EXPECT_FALSE(IsWindowEnabled(main));  // owned by the main window: it waits
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  for (int i = 0; i < 50 && !IsWindowEnabled(main); ++i) Sleep(100);
  EXPECT_TRUE(IsWindowEnabled(main));
  PostMessageW(main, WM_CLOSE, 0, 0);
  EXPECT_TRUE(app.Ended(30));
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
