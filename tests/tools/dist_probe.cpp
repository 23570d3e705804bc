// dist_probe: what the release's install check (tests/dist/install-check.sh)
// asks of an installed Quillmere and of its installer, from a second process,
// as a user would see it.
//
//   dist_probe version FILE           prints the version resource's strings (UTF-8)
//   dist_probe manifest FILE          prints the manifest that FILE carries
//   dist_probe start EXE [SECONDS]    the main window appears (and stays SECONDS,
//                                     for a screenshot); closed again. Prints
//                                     where it is and the colours it is drawn in
//   dist_probe policy EXE [CAPTION]   prints the ticked same-name choice, ticks
//                                     CAPTION if given, and closes (which stores it)
//   dist_probe copy EXE SOURCE DEST   copies folder SOURCE into DEST from the window
//   dist_probe hold EXE               starts EXE, says "shown" once its main window
//                                     is up, and waits until the program ends
//   dist_probe close                  closes the running Quillmere as a user does
//   dist_probe exec COMMAND-LINE      runs it as a deployment tool would; its
//                                     exit code is the probe's
//   dist_probe drive SHOTS COMMAND-LINE STEP...
//                                     starts an installer or uninstaller and takes
//                                     it through its pages and boxes, step by step:
//     page=TEXT      waits for the wizard to show TEXT; prints what it shows
//     box=TEXT       waits for a message box saying TEXT; prints what it says
//     answer=ID      presses button ID of that box (IDRETRY 4, IDCANCEL 2, IDYES 6...)
//     next, cancel   presses the wizard's 下一步/安装/完成 (1) or 取消 (2)
//     tree=N:0|1     unticks or ticks the N-th item of the components page
//     ticked=N:0|1   fails unless that item is unticked or ticked
//     uncheck=TEXT   unticks the wizard's check box whose caption holds TEXT
//     absent=TEXT    fails if the wizard shows TEXT
//     shot=NAME      asks the caller for a screenshot: prints "shot NAME L T R B"
//                    (the window's place) and waits until SHOTS\NAME.png exists
//     exit=N         waits for the program to end with code N
//
// Exit code 0 when all went as expected, 1 otherwise (said on stderr).
// Built 32-bit, so one probe serves the 32-bit and the 64-bit prefixes.
#include <windows.h>
#include <commctrl.h>

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
  for (const wchar_t* key : {L"FileVersion", L"ProductVersion", L"ProductName", L"FileDescription", L"OriginalFilename",
                             L"CompanyName", L"LegalCopyright"}) {
    wchar_t* value = nullptr;
    if (VerQueryValueW(data.data(), (std::wstring(block) + key).c_str(), reinterpret_cast<void**>(&value), &length) &&
        value)
      Say(std::wstring(key) + L"=" + value);
  }
  return 0;
}

std::wstring RectText(const RECT& r) {
  return std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " + std::to_wstring(r.right) + L" " +
         std::to_wstring(r.bottom);
}
std::wstring ColourText(COLORREF c) {
  wchar_t text[16];
  wsprintfW(text, L"%02x%02x%02x", GetRValue(c), GetGValue(c), GetBValue(c));
  return text;
}

int Start(const std::wstring& exe, int holdSeconds) {
  other::OtherProgram program(exe);
  if (!program.started()) return Fail(L"cannot start " + exe);
  HWND main = program.MainWindow();
  if (!main) return Fail(L"the main window did not appear");
  if (Children(main, L"Button", L"开始复制").size() != 1) return Fail(L"the main window has no 开始复制 button");
  Sleep(1000);  // let it finish painting
  Say(L"shown: " + TextOf(main));
  // Where a screenshot must show it, and in which colours.
  RECT window, client;
  GetWindowRect(main, &window);
  GetClientRect(main, &client);
  MapWindowPoints(main, nullptr, reinterpret_cast<POINT*>(&client), 2);
  TITLEBARINFO title = {sizeof title};
  GetTitleBarInfo(main, &title);
  Say(L"window: " + RectText(window));
  Say(L"client: " + RectText(client));
  Say(L"caption: " + RectText(title.rcTitleBar));
  Say(L"colours: " + ColourText(GetSysColor(COLOR_ACTIVECAPTION)) + L" " +
      ColourText(GetSysColor(COLOR_GRADIENTACTIVECAPTION)) + L" " + ColourText(GetSysColor(COLOR_BTNFACE)));
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

int Manifest(const std::wstring& file) {
  HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return Fail(L"cannot read the resources of " + file);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
  if (!found) {
    FreeLibrary(module);
    return Fail(L"no manifest in " + file);
  }
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
  std::string xml(bytes, SizeofResource(module, found));
  FreeLibrary(module);
  DWORD done;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), xml.data(), DWORD(xml.size()), &done, nullptr);
  return 0;
}

HWND RunningMain() {
  HWND main = FindWindowW(L"MainWindow", L"Quillmere");
  return main && IsWindowVisible(main) ? main : nullptr;
}

int Hold(const std::wstring& exe) {
  other::OtherProgram program(exe);
  if (!program.started()) return Fail(L"cannot start " + exe);
  if (!program.MainWindow()) return Fail(L"the main window did not appear");
  Say(L"shown");
  return program.Ended(600) ? 0 : Fail(L"still running after ten minutes");
}

int Close() {
  HWND main = RunningMain();
  if (!main) return Fail(L"Quillmere is not running");
  DWORD pid = 0;
  GetWindowThreadProcessId(main, &pid);
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  PostMessageW(main, WM_CLOSE, 0, 0);
  bool ended = process && WaitForSingleObject(process, 30000) == WAIT_OBJECT_0;
  if (process) CloseHandle(process);
  return ended ? 0 : Fail(L"Quillmere did not end on close");
}

// A program started from a command line, as a deployment tool starts it.
class Started {
 public:
  explicit Started(std::wstring command) {
    STARTUPINFOW si = {sizeof si};
    ok_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_);
  }
  ~Started() {
    if (!ok_) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 1);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;
  bool ok() const { return ok_; }
  DWORD pid() const { return pi_.dwProcessId; }
  // The exit code, or -1 while it runs past the time.
  long ExitCode(int seconds) const {
    if (WaitForSingleObject(pi_.hProcess, seconds * 1000) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return long(code);
  }

 private:
  PROCESS_INFORMATION pi_ = {};
  bool ok_ = false;
};

int Exec(const std::wstring& command) {
  Started program(command);
  if (!program.ok()) return Fail(L"cannot start " + command);
  long code = program.ExitCode(300);
  if (code < 0) return Fail(L"still running after five minutes: " + command);
  Say(L"exit: " + std::to_wstring(code));
  return int(code);
}

// A control's text, asked of its own process (an edit's text is not its caption).
std::wstring TextAsked(HWND window) {
  wchar_t text[1024] = L"";
  DWORD_PTR ignored;
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, LPARAM(text), SMTO_ABORTIFHUNG, 2000, &ignored);
  return text;
}

struct TopLevels {
  DWORD pid;
  std::vector<HWND> found;
};
BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TopLevels*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->pid && IsWindowVisible(window) && other::ClassOf(window) == L"#32770")
    search->found.push_back(window);
  return TRUE;
}

// NSIS's wizard holds its page as a dialog of its own; a message box holds
// its text in the control MessageBox gives the id 0xFFFF.
HWND Wizard(DWORD pid) {
  TopLevels search{pid, {}};
  EnumWindows(CollectTopLevel, LPARAM(&search));
  for (HWND window : search.found)
    if (!Children(window, L"#32770").empty()) return window;
  return nullptr;
}
HWND MessageBoxOf(DWORD pid) {
  TopLevels search{pid, {}};
  EnumWindows(CollectTopLevel, LPARAM(&search));
  for (HWND window : search.found) {
    HWND text = GetDlgItem(window, 0xFFFF);
    if (Children(window, L"#32770").empty() && text && !TextAsked(text).empty()) return window;
  }
  return nullptr;
}

std::vector<HWND> VisibleControls(HWND parent) {
  std::vector<HWND> shown;
  for (const wchar_t* cls : {L"Static", L"Button", L"Edit", L"RichEdit20W"})
    for (HWND control : Children(parent, cls))
      if (IsWindowVisible(control)) shown.push_back(control);
  return shown;
}
std::wstring Shows(HWND parent) {
  std::wstring all;
  for (HWND control : VisibleControls(parent)) {
    std::wstring text = TextAsked(control);
    if (text.empty() || text[0] == 0xFFFF) continue;  // an icon's resource id
    if (!IsWindowEnabled(control)) text = L"(" + text + L")";
    for (wchar_t& c : text)
      if (c == L'\r' || c == L'\n') c = L' ';
    all += (all.empty() ? L"" : L" | ") + text;
  }
  return all;
}

int Drive(const std::wstring& shots, const std::wstring& command, const std::vector<std::wstring>& steps) {
  Started program(command);
  if (!program.ok()) return Fail(L"cannot start " + command);
  HWND box = nullptr;
  auto wait = [&](auto found) {
    for (int i = 0; i < 600; ++i) {
      if (found()) return true;
      Sleep(100);
    }
    return false;
  };
  for (const std::wstring& step : steps) {
    size_t equals = step.find(L'=');
    std::wstring verb = step.substr(0, equals), arg = equals == std::wstring::npos ? L"" : step.substr(equals + 1);
    HWND wizard = Wizard(program.pid());
    if (verb == L"page") {
      if (!wait([&] {
            wizard = Wizard(program.pid());
            return wizard && Shows(wizard).find(arg) != std::wstring::npos;
          }))
        return Fail(L"no page showing " + arg + (wizard ? L"; the wizard shows: " + Shows(wizard) : L""));
      Sleep(300);
      Say(L"page: " + Shows(wizard));
    } else if (verb == L"box") {
      if (!wait([&] {
            box = MessageBoxOf(program.pid());
            return box && Shows(box).find(arg) != std::wstring::npos;
          }))
        return Fail(L"no box saying " + arg + (box ? L"; the box says: " + Shows(box) : L""));
      Say(L"box: " + TextAsked(GetDlgItem(box, 0xFFFF)));
    } else if (verb == L"answer") {
      if (!box || !IsWindow(box)) return Fail(L"no box to answer");
      int id = _wtoi(arg.c_str());
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(box, id)));
      if (!wait([&] { return !IsWindow(box); })) return Fail(L"the box stayed");
      box = nullptr;
    } else if (verb == L"next" || verb == L"cancel") {
      if (!wizard) return Fail(L"no wizard for " + verb);
      int id = verb == L"next" ? IDOK : IDCANCEL;
      PostMessageW(wizard, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(wizard, id)));
      Sleep(500);
    } else if (verb == L"tree" || verb == L"ticked") {
      auto trees = wizard ? Children(wizard, L"SysTreeView32") : std::vector<HWND>{};
      if (trees.size() != 1) return Fail(L"no components tree");
      HWND tree = trees[0];
      auto item = HTREEITEM(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
      for (int n = _wtoi(arg.c_str()); n > 0 && item; --n)
        item = HTREEITEM(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, LPARAM(item)));
      if (!item) return Fail(L"no tree item " + arg);
      // NSIS's own check boxes: state image 2 ticked, 1 not (and their read-only kinds above).
      auto ticked = [&] { return (SendMessageW(tree, TVM_GETITEMSTATE, WPARAM(item), TVIS_STATEIMAGEMASK) >> 12) % 2 == 0; };
      bool want = arg.substr(arg.find(L':') + 1) == L"1";
      if (verb == L"ticked" && ticked() != want) return Fail(L"tree item " + arg.substr(0, arg.find(L':')) + L" is not so");
      if (ticked() != want) {
        SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(item));
        PostMessageW(tree, WM_KEYDOWN, VK_SPACE, 0x00390001);
        PostMessageW(tree, WM_KEYUP, VK_SPACE, 0xC0390001);
        if (!wait([&] { return ticked() == want; })) return Fail(L"tree item " + arg + L" does not change");
      }
      Say(L"tree: item " + arg);
    } else if (verb == L"uncheck" || verb == L"absent") {
      HWND control = nullptr;
      for (HWND c : wizard ? VisibleControls(wizard) : std::vector<HWND>{})
        if (TextAsked(c).find(arg) != std::wstring::npos) control = c;
      if (verb == L"absent") {
        if (control) return Fail(L"the wizard shows " + TextAsked(control));
        Say(L"absent: " + arg);
      } else {
        if (!control) return Fail(L"no check box " + arg);
        SendMessageW(control, BM_SETCHECK, BST_UNCHECKED, 0);
        Say(L"unticked: " + TextAsked(control));
      }
    } else if (verb == L"shot") {
      HWND shown = box && IsWindow(box) ? box : wizard;
      if (!shown) return Fail(L"nothing to take a screenshot of");
      Sleep(700);  // the X side shows a change a moment after Windows' side
      RECT r;
      GetWindowRect(shown, &r);
      Say(L"shot " + arg + L" " + RectText(r));
      std::wstring file = shots + L"\\" + arg + L".png";
      if (!wait([&] { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; }))
        return Fail(L"no screenshot " + file);
    } else if (verb == L"exit") {
      long code = program.ExitCode(120);
      if (code < 0) return Fail(L"still running" + (wizard ? L"; the wizard shows: " + Shows(wizard) : L""));
      Say(L"exit: " + std::to_wstring(code));
      if (code != _wtoi(arg.c_str())) return Fail(L"exit code " + std::to_wstring(code) + L", not " + arg);
    } else {
      return Fail(L"no step " + step);
    }
  }
  return 0;
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
  if (args.size() == 2 && args[0] == L"manifest") return Manifest(args[1]);
  if (args.size() == 2 && args[0] == L"hold") return Hold(args[1]);
  if (args.size() == 1 && args[0] == L"close") return Close();
  if (args.size() == 2 && args[0] == L"exec") return Exec(args[1]);
  if (args.size() >= 3 && args[0] == L"drive")
    return Drive(args[1], args[2], std::vector<std::wstring>(args.begin() + 3, args.end()));
  return Fail(
      L"usage: dist_probe version FILE | manifest FILE | start EXE [SECONDS] | policy EXE [CAPTION] | "
      L"copy EXE SOURCE DEST | hold EXE | close | exec COMMAND-LINE | drive SHOTS COMMAND-LINE STEP...");
}
