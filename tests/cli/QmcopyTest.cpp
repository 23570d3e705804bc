// qmcopy started as a real process on real folders: one table of
// invocations, each with its exit code, the files it leaves and what it says.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "common/Text.h"
#include "fs/FileSystem.h"
#include "tests/support/TestSupport.h"

namespace {

std::wstring QmcopyPath() {
  std::string unix = QM_EXE_UNIX_PATH;  // build/Quillmere.exe; qmcopy.exe lies beside it
  unix = unix.substr(0, unix.rfind('/') + 1) + "qmcopy.exe";
  std::wstring path = L"Z:";
  for (char c : unix) path += c == '/' ? L'\\' : wchar_t(c);
  return path;
}

struct Ran {
  DWORD exit = 999;
  std::wstring output;  // standard output and error, UTF-8 decoded
};

// Runs qmcopy with its output and input redirected, as a script would; on
// this process's console, or on none.
Ran Qmcopy(const std::wstring& arguments, bool onOurConsole = false) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read, write;
  CreatePipe(&read, &write, &inherit, 0);
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{sizeof startup};
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = write;
  startup.hStdInput = nul;
  PROCESS_INFORMATION child{};
  std::wstring command = L"\"" + QmcopyPath() + L"\" " + arguments;
  Ran ran;
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, onOurConsole ? 0 : CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &child)) {
    ADD_FAILURE() << "qmcopy did not start: " << GetLastError();
    return ran;
  }
  CloseHandle(write);
  CloseHandle(nul);
  std::string bytes;
  char buffer[4096];
  DWORD got;
  while (ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got) bytes.append(buffer, got);
  CloseHandle(read);
  WaitForSingleObject(child.hProcess, 60000);
  GetExitCodeProcess(child.hProcess, &ran.exit);
  CloseHandle(child.hProcess);
  CloseHandle(child.hThread);
  ran.output = text::FromUtf8(bytes);
  return ran;
}

// A summary row's value ("已复制", "失败"...).
std::wstring Row(const std::wstring& output, const std::wstring& label) {
  const size_t at = output.find(L"  " + label + L" ");
  if (at == std::wstring::npos) return L"<none>";
  const size_t value = output.find_first_not_of(L' ', at + 2 + label.size());
  return output.substr(value, output.find(L"\r\n", value) - value);
}

// The same folders for every row: two sources (a tree and a file, in a
// list), two destinations (in a list), the first holding an older a.txt.
struct Tree {
  TempDir dir;
  Tree() {
    WriteBytes(dir / L"src\\a.txt", "new a");
    WriteBytes(dir / L"src\\sub\\b.txt", "new b");
    WriteBytes(dir / L"one.txt", "one");
    WriteBytes(dir / L"d1\\src\\a.txt", "old a");
    SetWriteTime(dir / L"d1\\src\\a.txt", 120000000000000000ull);
    WriteBytes(dir / L"d1\\old.txt", "old");
    MakeDir(dir / L"d2");
    WriteBytes(dir / L"s.lst", Narrow(dir / L"src") + "\r\n" + Narrow(dir / L"one.txt") + "\r\n");
    WriteBytes(dir / L"d.lst", Narrow(dir / L"d1") + "\r\n" + Narrow(dir / L"d2\\") + "\r\n");
  }
  std::wstring Lists() const { return L"/src:" + dir / L"s.lst" + L" /dst:" + dir / L"d.lst"; }
};

TEST(Qmcopy, EachInvocationEndsWithItsCodeFilesAndWords) {
  struct Case {
    const char* what;
    std::function<std::wstring(Tree&)> arguments;  // may prepare the tree
    DWORD exit;
    std::vector<std::pair<std::wstring, std::string>> files;  // relative path, contents ("" = absent)
    std::wstring says;
  } cases[] = {
      {"overwrite",
       [](Tree& t) { return t.Lists() + L" /policy:overwrite"; },
       0,
       {{L"d1\\src\\a.txt", "new a"}, {L"d2\\src\\sub\\b.txt", "new b"}, {L"d2\\one.txt", "one"}},
       L"已替换"},
      {"a list line naming nothing is said and fails the run",
       [](Tree& t) {
         WriteBytes(t.dir / L"s.lst", Narrow(t.dir / L"src") + "\r\n" + Narrow(t.dir / L"gone.txt") + "\r\n");
         return t.Lists() + L" /policy:overwrite";
       },
       1,
       {{L"d2\\src\\a.txt", "new a"}},
       L"未能使用的源："},
      {"a mistyped destination is said and fails the run",
       [](Tree& t) { return L"/src:" + t.dir / L"one.txt /dst:" + t.dir / L"d2 /dst:" + t.dir / L"d3"; },
       1,
       {{L"d2\\one.txt", "one"}},
       L"未能使用的目标："},
      {"a log among the sources",
       [](Tree& t) { return t.Lists() + L" /log:" + t.dir / L"src\\run.log"; },
       2,
       {{L"d2\\one.txt", ""}, {L"src\\run.log", ""}},
       L"日志文件"},
      {"a log that is an unreadable list's companion, spelled otherwise",
       [](Tree& t) {
         WriteBytes(t.dir / L"s.lst", "C:\\x\r\n");
         return L"/src:" + t.dir / L"s.lst /dst:" + t.dir / L"missing.lst /log:" + t.dir / L".\\S.LST";
       },
       2,
       {{L"s.lst", "C:\\x\r\n"}},
       L"日志文件"},
      {"a log that is a source beside an unreadable list",
       [](Tree& t) { return L"/src:" + t.dir / L"one.txt /dst:" + t.dir / L"missing.lst /log:" + t.dir / L"ONE.TXT"; },
       2,
       {{L"one.txt", "one"}},
       L"日志文件"},
      {"a log that is the list",
       [](Tree& t) { return t.Lists() + L" /log:" + t.dir / L"s.lst"; },
       2,
       {{L"d2\\one.txt", ""}},
       L"日志文件"},
      {"a log that is the list through a second letter",
       [](Tree& t) { return t.Lists() + L" /log:" + ThroughSecondLetter(t.dir / L"s.lst"); },
       2,
       {{L"d2\\one.txt", ""}},
       L"日志文件"},
      {"a log in a destination through Wine's Z: path",
       [](Tree& t) { return t.Lists() + L" /log:" + ThroughZ(t.dir / L"d2\\run.log"); },
       2,
       {{L"d2\\one.txt", ""}, {L"d2\\run.log", ""}},
       L"日志文件"},
      {"skip",
       [](Tree& t) { return t.Lists() + L" /policy:skip"; },
       0,
       {{L"d1\\src\\a.txt", "old a"}, {L"d2\\src\\a.txt", "new a"}},
       L"同名文件：跳过"},
      {"number",
       [](Tree& t) { return t.Lists() + L" /policy:number"; },
       0,
       {{L"d1\\src\\a.txt", "old a"}, {L"d1\\src\\a_1.txt", "new a"}},
       L"已编号"},
      {"newer", [](Tree& t) { return t.Lists() + L" /policy:newer"; }, 0, {{L"d1\\src\\a.txt", "new a"}}, L"已替换"},
      {"empty spares a source inside the destination",
       [](Tree& t) {
         WriteBytes(t.dir / L"d1\\keep.txt", "keep");
         return L"/src:" + t.dir / L"src" + L" /src:" + t.dir / L"d1\\keep.txt" + L" /dst:" + t.dir / L"d1" +
                L" /empty /policy:overwrite";
       },
       0,
       {{L"d1\\keep.txt", "keep"}, {L"d1\\old.txt", ""}, {L"d1\\src\\a.txt", "new a"}},
       L"清空时删除"},
      {"empty with the destination inside a source keeps the source whole",
       [](Tree& t) { return L"/src:" + t.dir / L"src /dst:" + t.dir / L"src\\sub /empty /policy:overwrite"; },
       0,
       {{L"src\\sub\\b.txt", "new b"}, {L"src\\sub\\src\\a.txt", "new a"}},
       L"清空时删除"},
      {"empty keeps the list file it was given",
       [](Tree& t) {
         WriteBytes(t.dir / L"d2\\d.lst", Narrow(t.dir / L"d2") + "\r\n");
         return L"/src:" + t.dir / L"one.txt /dst:" + t.dir / L"d2\\d.lst /empty";
       },
       0,
       {{L"d2\\one.txt", "one"}, {L"d2\\d.lst", "<kept>"}},
       L"清空时删除"},
      {"dry run",
       [](Tree& t) { return t.Lists() + L" /policy:number /empty /dry-run"; },
       0,
       {{L"d1\\old.txt", "old"}, {L"d1\\src\\a.txt", "old a"}, {L"d2\\one.txt", ""}},
       L"删除  "},
      {"a read-only target fails and is named",
       [](Tree& t) {
         SetAttributes(t.dir / L"d1\\src\\a.txt", FILE_ATTRIBUTE_READONLY);
         return t.Lists() + L" /policy:overwrite";
       },
       1,
       {{L"d1\\src\\a.txt", "old a"}, {L"d2\\src\\a.txt", "new a"}},
       L"d1\\src\\a.txt："},
      {"ask needs a console", [](Tree& t) { return t.Lists() + L" /policy:ask"; }, 2, {{L"d2\\one.txt", ""}}, L"询问"},
      {"a missing list, with the log elsewhere",
       [](Tree& t) { return L"/src:" + t.dir / L"none.lst /dst:" + t.dir / L"d.lst /log:" + t.dir / L"run.log"; },
       2,
       {{L"run.log", "<kept>"}},
       L"无法读取列表文件"},
      {"a device as a list",
       [](Tree& t) { return L"/src:" + t.dir / L"nul.lst /dst:" + t.dir / L"d2"; },
       2,
       {},
       L"无法读取列表文件 \\\\.\\nul：这是设备"},
      {"devices as a source and destinations",
       [](Tree& t) { return L"/src:" + t.dir / L"one.txt /src:NUL /dst:" + t.dir / L"d2 /dst:\\\\.\\PhysicalDrive0 /dst:CON"; },
       1,
       {{L"d2\\one.txt", "one"}},
       L"未能使用的目标：CON（这是设备"},
      {"\\\\?\\ paths",
       [](Tree& t) { return L"/src:\\\\?\\" + t.dir / L"one.txt /dst:\\\\?\\" + t.dir / L"d2"; },
       0,
       {{L"d2\\one.txt", "one"}},
       L"1 个源"},
      {"two spellings of one place are one source and one destination",
       [](Tree& t) {
         return L"/src:" + t.dir / L"src /src:" + text::Upper(t.dir / L".\\src\\") + L" /src:" +
                ThroughSecondLetter(t.dir / L"src") + L" /dst:" + t.dir / L"d2 /dst:" + t.dir / L"D2\\ /dst:" +
                ThroughZ(t.dir / L"d2") + L" /policy:number";
       },
       0,
       {{L"d2\\src\\a.txt", "new a"}, {L"d2\\src\\a_1.txt", ""}},
       L"qmcopy：1 个源，1 个目标"},
      {"nothing to copy",
       [](Tree& t) { return L"/src:" + t.dir / L"gone.txt /dst:" + t.dir / L"d2"; },
       2,
       {},
       L"没有要复制的文件或文件夹。"},
      {"a whole drive",
       [](Tree& t) { return L"/src:C:\\ /dst:" + t.dir / L"d2"; },
       2,
       {},
       L"不能对整个驱动器（磁盘）进行复制！"},
      {"a whole drive emptied",
       [](Tree& t) { return L"/src:" + t.dir / L"one.txt /dst:C:\\ /empty"; },
       2,
       {},
       L"不能清空整个驱动器（磁盘）！"},
      {"two destinations: a line for each, and each one's failures under its name",
       [](Tree& t) {
         WriteBytes(t.dir / L"d2\\src", "a file where the copy's folder goes");
         return t.Lists() + L" /policy:overwrite";
       },
       1,
       {{L"d1\\src\\sub\\b.txt", "new b"}, {L"d2\\one.txt", "one"}},
       L"\\d2\\：\r\n    "},
      {"bad arguments", [](Tree& t) { return t.Lists() + L" /policy:sometimes"; }, 2, {}, L"/?"},
      {"a switch given twice",
       [](Tree& t) { return t.Lists() + L" /policy:skip /policy:overwrite"; },
       2,
       {},
       L"参数重复"},
      {"a quoted path ending in a backslash",
       [](Tree& t) { return L"/src:\"" + t.dir / L"src\\\" /dst:" + t.dir / L"d2"; },
       2,
       {{L"d2\\src\\a.txt", ""}},
       L"引号"},
      {"usage", [](Tree&) { return L"/?"; }, 0, {}, L"退出代码"},
      {"usage says what /verify does and costs",
       [](Tree&) { return L"/?"; },
       0,
       {},
       L"再读一遍全部副本的时间。缺省不校验。"},
      {"a dry run with verify says so and changes nothing",
       [](Tree& t) { return t.Lists() + L" /policy:overwrite /verify /dry-run"; },
       0,
       {{L"d1\\src\\a.txt", "old a"}, {L"d2\\one.txt", ""}},
       L"同名文件：覆盖；复制后校验；演练，不做任何改动\r\n"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    Tree tree;
    const Ran ran = Qmcopy(c.arguments(tree));
    EXPECT_EQ(ran.exit, c.exit) << Narrow(ran.output);
    EXPECT_NE(ran.output.find(c.says), std::wstring::npos) << Narrow(ran.output);
    for (auto& [path, contents] : c.files) {
      if (contents.empty())
        EXPECT_FALSE(Exists(tree.dir / path)) << Narrow(path);
      else if (contents == "<kept>")
        EXPECT_TRUE(Exists(tree.dir / path)) << Narrow(path);
      else
        EXPECT_EQ(ReadBytes(tree.dir / path), contents) << Narrow(path);
    }
  }
}

// The dry run's summary is what the real run then reports, and its log the
// same words in UTF-8.
TEST(Qmcopy, TheDryRunForetellsTheRunAndTheLogKeepsWhatWasSaid) {
  for (const wchar_t* options :
       {L" /policy:number /empty", L" /policy:newer /empty", L" /policy:number", L" /policy:overwrite"}) {
    SCOPED_TRACE(Narrow(options));
    Tree tree;
    // Two folders of one name merged into one destination: the second
    // meets what the first made.
    WriteBytes(tree.dir / L"other\\src\\a.txt", "other a");
    const std::wstring arguments = tree.Lists() + L" /src:" + tree.dir / L"other\\src" + options;
    const Ran dry = Qmcopy(arguments + L" /dry-run");
    const Ran real = Qmcopy(arguments + L" /log:" + tree.dir / L"run.log");
    ASSERT_EQ(dry.exit, 0u) << Narrow(dry.output);
    ASSERT_EQ(real.exit, 0u) << Narrow(real.output);
    for (const wchar_t* row : {L"已复制", L"已替换", L"已跳过", L"已编号", L"失败", L"清空时删除", L"字节"})
      EXPECT_EQ(Row(dry.output, row), Row(real.output, row)) << Narrow(row);
    EXPECT_EQ(ReadBytes(tree.dir / L"run.log"), "\xEF\xBB\xBF" + text::ToUtf8(real.output));
  }
}

// Types keys into this process's console, where a child started on it reads them.
void TypeOnOurConsole(const std::wstring& keys) {
  fs::FileHandle input(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
  for (wchar_t key : keys) {
    INPUT_RECORD press[2]{};
    for (int up = 0; up < 2; ++up) {
      press[up].EventType = KEY_EVENT;
      press[up].Event.KeyEvent = {!up, 1, WORD(key == L'\r' ? VK_RETURN : towupper(key)), 0, {key}, 0};
    }
    DWORD written;
    ASSERT_TRUE(WriteConsoleInputW(input.get(), press, 2, &written));
  }
}

std::wstring OurConsoleScreen() {
  fs::FileHandle output(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
  CONSOLE_SCREEN_BUFFER_INFO info{};
  GetConsoleScreenBufferInfo(output.get(), &info);
  std::wstring screen(size_t(info.dwSize.X) * info.dwSize.Y, L' ');
  DWORD read = 0;
  ReadConsoleOutputCharacterW(output.get(), screen.data(), DWORD(screen.size()), {0, 0}, &read);
  return screen;
}

// The question goes to the console, never into the redirected output,
// and the answer is read there.
TEST(Qmcopy, AsksOnTheConsoleWhateverItsOutputIsRedirectedTo) {
  Tree tree;
  FreeConsole();
  bool console = false;
  for (int tries = 0; tries < 3 && !console; ++tries) console = AllocConsole() || (Sleep(500), false);
  ASSERT_TRUE(console) << GetLastError();
  TypeOnOurConsole(L"y\r");
  const Ran ran = Qmcopy(L"/src:" + tree.dir / L"src /dst:" + tree.dir / L"d1 /policy:ask", true);
  const std::wstring screen = OurConsoleScreen();
  FreeConsole();
  EXPECT_EQ(ran.exit, 0u) << Narrow(ran.output);
  EXPECT_EQ(ReadBytes(tree.dir / L"d1\\src\\a.txt"), "new a");
  EXPECT_NE(screen.find(L"是否覆盖"), std::wstring::npos) << Narrow(screen);
  EXPECT_EQ(ran.output.find(L"是否覆盖"), std::wstring::npos) << Narrow(ran.output);
}

// A file held by another program is copied once it is let go.
TEST(Qmcopy, ARetryWaitsForAFileInUse) {
  Tree tree;
  fs::FileHandle held(
      CreateFileW((tree.dir / L"one.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.valid());
  std::thread release([&] {
    Sleep(1500);
    held = fs::FileHandle();
  });
  const Ran ran = Qmcopy(L"/src:" + tree.dir / L"one.txt /dst:" + tree.dir / L"d2 /retry:5 /wait:1");
  release.join();
  EXPECT_EQ(ran.exit, 0u) << Narrow(ran.output);
  EXPECT_EQ(ReadBytes(tree.dir / L"d2\\one.txt"), "one");
  // Without a retry the same lock is a failure, exit 1.
  held =
      fs::FileHandle(CreateFileW((tree.dir / L"one.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(Qmcopy(L"/src:" + tree.dir / L"one.txt /dst:" + tree.dir / L"d1").exit, 1u);
}

}  // namespace
