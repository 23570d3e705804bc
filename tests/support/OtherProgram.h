// Quillmere started as a program of its own and seen from outside, as a user
// sees it: its windows found by class and caption, clicked by message.
// Header only, so that a probe built without the test support links it too.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace other {

inline std::wstring TextOf(HWND window) {
  wchar_t text[256] = L"";
  GetWindowTextW(window, text, 256);
  return text;
}

inline std::wstring ClassOf(HWND window) {
  wchar_t name[64] = L"";
  GetClassNameW(window, name, 64);
  return name;
}

struct ChildSearch {
  const std::wstring& cls;
  const std::wstring& text;  // empty: any
  std::vector<HWND> found;
};

inline BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<ChildSearch*>(param);
  if (lstrcmpiW(ClassOf(window).c_str(), search->cls.c_str()) == 0 &&
      (search->text.empty() || TextOf(window) == search->text))
    search->found.push_back(window);
  return TRUE;
}

// The children of parent of a class, with a text if one is given.
inline std::vector<HWND> Children(HWND parent, const std::wstring& cls, const std::wstring& text = L"") {
  ChildSearch search{cls, text, {}};
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A visible top-level window of the process, waiting up to the given time.
inline HWND WaitForWindow(DWORD pid, const wchar_t* cls, const wchar_t* caption, int seconds) {
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

// The program at exe, started; ended by force if it is still running at the end.
class OtherProgram {
 public:
  explicit OtherProgram(const std::wstring& exe) {
    STARTUPINFOW si = {sizeof si};
    std::wstring command = L"\"" + exe + L"\"";
    started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_);
  }
  ~OtherProgram() {
    if (!started_) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 1);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }
  OtherProgram(const OtherProgram&) = delete;
  OtherProgram& operator=(const OtherProgram&) = delete;

  bool started() const { return started_; }
  HWND MainWindow() const { return WaitForWindow(pi_.dwProcessId, L"MainWindow", L"Quillmere", 60); }
  HWND Box(int seconds) const { return WaitForWindow(pi_.dwProcessId, L"#32770", L"Quillmere", seconds); }
  bool Ended(int seconds) const { return WaitForSingleObject(pi_.hProcess, seconds * 1000) == WAIT_OBJECT_0; }
  // Closes the main window as the user does and waits for the process to end.
  bool Close(HWND main) const {
    PostMessageW(main, WM_CLOSE, 0, 0);
    return Ended(30);
  }

 private:
  PROCESS_INFORMATION pi_ = {};
  bool started_ = false;
};

}  // namespace other
