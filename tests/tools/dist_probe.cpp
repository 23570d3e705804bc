// dist_probe: what the release's install check (tests/dist/install-check.sh)
// asks of an installed Quillmere, from a second process, as a user would see it.
//
//   dist_probe version FILE           prints the version resource's strings (UTF-8)
//   dist_probe start EXE [SECONDS]    the main window appears (and stays SECONDS,
//                                     for a screenshot); closed again
//   dist_probe policy EXE [CAPTION]   prints the ticked same-name choice, ticks
//                                     CAPTION if given, and closes (which stores it)
//   dist_probe copy EXE SOURCE DEST   copies folder SOURCE into DEST from the window
//
// Exit code 0 when all went as expected, 1 otherwise (said on stderr).
// Built 32-bit, so one probe serves the 32-bit and the 64-bit prefixes.
#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/OtherProgram.h"

namespace {

using other::Children;
using other::TextOf;

void Write(HANDLE stream, const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), bytes.data(), n, nullptr, nullptr);
  DWORD done;
  WriteFile(stream, bytes.data(), DWORD(bytes.size()), &done, nullptr);
}
void Say(const std::wstring& text) { Write(GetStdHandle(STD_OUTPUT_HANDLE), text + L"\n"); }
int Fail(const std::wstring& text) {
  Write(GetStdHandle(STD_ERROR_HANDLE), L"dist_probe: " + text + L"\n");
  return 1;
}

int Version(const std::wstring& file) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (!size) return Fail(L"no version resource in " + file);
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return Fail(L"cannot read the version of " + file);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed)
    Say(L"Fixed=" + std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
        std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(HIWORD(fixed->dwFileVersionLS)) +
        L"." + std::to_wstring(LOWORD(fixed->dwFileVersionLS)));
  struct Translation {
    WORD language, codePage;
  }* translation = nullptr;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
      length < sizeof *translation)
    return Fail(L"no translation in " + file);
  wchar_t block[64];
  wsprintfW(block, L"\\StringFileInfo\\%04x%04x\\", translation->language, translation->codePage);
  for (const wchar_t* key : {L"FileVersion", L"ProductVersion", L"ProductName", L"FileDescription", L"OriginalFilename"}) {
    wchar_t* value = nullptr;
    if (VerQueryValueW(data.data(), (std::wstring(block) + key).c_str(), reinterpret_cast<void**>(&value), &length) &&
        value)
      Say(std::wstring(key) + L"=" + value);
  }
  return 0;
}

int Start(const std::wstring& exe, int holdSeconds) {
  other::OtherProgram program(exe);
  if (!program.started()) return Fail(L"cannot start " + exe);
  HWND main = program.MainWindow();
  if (!main) return Fail(L"the main window did not appear");
  if (Children(main, L"Button", L"开始复制").size() != 1) return Fail(L"the main window has no 开始复制 button");
  Sleep(1000);  // let it finish painting
  Say(L"shown: " + TextOf(main));
  Sleep(holdSeconds * 1000);
  return program.Close(main) ? 0 : Fail(L"the program did not end on close");
}

const wchar_t* const kChoices[] = {L"覆盖", L"跳过", L"询问", L"自动编号同名文件", L"按文件修改时间只替换旧文件"};

int Policy(const std::wstring& exe, const std::wstring& choose) {
  other::OtherProgram program(exe);
  if (!program.started()) return Fail(L"cannot start " + exe);
  HWND main = program.MainWindow();
  if (!main) return Fail(L"the main window did not appear");
  std::wstring ticked;
  for (const wchar_t* caption : kChoices)
    for (HWND button : Children(main, L"Button", caption))
      if (SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED) ticked = caption;
  Say(L"ticked: " + ticked);
  if (!choose.empty()) {
    auto buttons = Children(main, L"Button", choose);
    if (buttons.size() != 1) return Fail(L"no choice " + choose);
    SendMessageW(buttons[0], BM_CLICK, 0, 0);
  }
  return program.Close(main) ? 0 : Fail(L"the program did not end on close");
}

int Copy(const std::wstring& exe, std::wstring source, std::wstring dest) {
  if (source.back() != L'\\') source += L'\\';  // a folder entry
  if (dest.back() != L'\\') dest += L'\\';
  other::OtherProgram program(exe);
  if (!program.started()) return Fail(L"cannot start " + exe);
  HWND main = program.MainWindow();
  if (!main) return Fail(L"the main window did not appear");
  auto lists = Children(main, L"ListBox");
  if (lists.size() != 2) return Fail(L"the main window has not its two lists");
  SendMessageW(lists[0], LB_ADDSTRING, 0, LPARAM(source.c_str()));
  SendMessageW(lists[1], LB_ADDSTRING, 0, LPARAM(dest.c_str()));
  auto overwrite = Children(main, L"Button", L"覆盖");
  auto start = Children(main, L"Button", L"开始复制");
  if (overwrite.size() != 1 || start.size() != 1) return Fail(L"no 覆盖 or 开始复制 button");
  SendMessageW(overwrite[0], BM_CLICK, 0, 0);
  PostMessageW(start[0], BM_CLICK, 0, 0);
  HWND box = program.Box(120);
  if (!box) return Fail(L"no box at the end of the copy");
  std::wstring said;
  for (HWND text : Children(box, L"Static")) said += TextOf(text);
  Say(L"said: " + said);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  Sleep(500);
  if (!program.Close(main)) return Fail(L"the program did not end on close");
  return said.find(L"复制工作完成！") == 0 ? 0 : Fail(L"the copy did not end as done");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == L"version") return Version(args[1]);
  if ((args.size() == 2 || args.size() == 3) && args[0] == L"start")
    return Start(args[1], args.size() == 3 ? _wtoi(args[2].c_str()) : 0);
  if ((args.size() == 2 || args.size() == 3) && args[0] == L"policy")
    return Policy(args[1], args.size() == 3 ? args[2] : L"");
  if (args.size() == 4 && args[0] == L"copy") return Copy(args[1], args[2], args[3]);
  return Fail(L"usage: dist_probe version FILE | start EXE [SECONDS] | policy EXE [CAPTION] | copy EXE SOURCE DEST");
}
