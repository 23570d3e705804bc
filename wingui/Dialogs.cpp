#include "wingui/Dialogs.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <string_view>

#include "common/AppError.h"
#include "common/Paths.h"
#include "common/Raii.h"

const wchar_t kAppTitle[] = L"Quillmere";

namespace {

HWND g_appWindow = nullptr;

// Keeps every other window of this thread disabled while a dialog is open.
class ThreadWindowsDisabled {
 public:
  explicit ThreadWindowsDisabled(HWND except) : except_(except) {
    EnumThreadWindows(GetCurrentThreadId(), &Collect, reinterpret_cast<LPARAM>(this));
  }
  ~ThreadWindowsDisabled() {
    for (HWND w : disabled_) EnableWindow(w, TRUE);
  }

 private:
  static BOOL CALLBACK Collect(HWND w, LPARAM self) {
    auto* me = reinterpret_cast<ThreadWindowsDisabled*>(self);
    if (w != me->except_ && IsWindowEnabled(w) && IsWindowVisible(w)) {
      EnableWindow(w, FALSE);
      me->disabled_.push_back(w);
    }
    return TRUE;
  }
  HWND except_;
  std::vector<HWND> disabled_;
};

std::wstring FilterBuffer(const std::wstring& filter) {
  std::wstring buffer = filter;
  for (wchar_t& c : buffer)
    if (c == L'|') c = L'\0';
  buffer.push_back(L'\0');
  buffer.push_back(L'\0');
  return buffer;
}

// What both file dialogs share: filter, name buffer and options.
struct FileDialogCall {
  FileDialogCall(HWND owner, const FileDialogOptions& options, size_t bufferSize)
      : filter(FilterBuffer(options.filter)), buffer(bufferSize, L'\0') {
    options.fileName.copy(buffer.data(), buffer.size() - 1);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = DWORD(buffer.size());
    // No overwrite prompt and no default extension: a typed name is used as typed.
    ofn.Flags = OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER | OFN_NOCHANGEDIR;
  }
  std::wstring filter, buffer;
  OPENFILENAMEW ofn = {sizeof(OPENFILENAMEW)};
};

int CALLBACK CentreOnInit(HWND dialog, UINT message, LPARAM, LPARAM over) {
  if (message != BFFM_INITIALIZED || !over) return 0;
  RECT area, self;
  GetWindowRect(reinterpret_cast<HWND>(over), &area);
  GetWindowRect(dialog, &self);
  int w = self.right - self.left, h = self.bottom - self.top;
  SetWindowPos(dialog, nullptr, area.left + (area.right - area.left - w) / 2,
               area.top + (area.bottom - area.top - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  return 0;
}

class WindowsDialogs : public Dialogs {
 public:
  int Message(HWND owner, const std::wstring& text, UINT flags) override {
    return MessageBoxW(owner, text.c_str(), kAppTitle, flags);
  }

  std::optional<std::wstring> BrowseFolder(HWND owner, const std::wstring& title) override {
    // Owned by the hidden application window, so placed over the window the user works in.
    HWND over = GetActiveWindow();
    ThreadWindowsDisabled disabled(owner);
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = CentreOnInit;
    info.lParam = reinterpret_cast<LPARAM>(over);
    CoTaskMem<ITEMIDLIST_ABSOLUTE> chosen(SHBrowseForFolderW(&info));
    SetErrorMode(oldMode);
    if (!chosen) return std::nullopt;
    // Read at full length: a long path is never cut at MAX_PATH.
    std::wstring path(32768, L'\0');
    BOOL ok = SHGetPathFromIDListEx(chosen.get(), path.data(), DWORD(path.size()), GPFIDL_DEFAULT);
    if (!ok) return std::nullopt;
    path.resize(wcslen(path.c_str()));
    if (path.empty()) return std::nullopt;
    return path;
  }

  std::vector<std::wstring> OpenFiles(HWND owner, const FileDialogOptions& options) override {
    // 65519 characters for the folder and every chosen name; more ends the dialog.
    FileDialogCall call(owner, options, options.multiSelect ? 65520 : 32768);
    if (options.multiSelect) call.ofn.Flags |= OFN_ALLOWMULTISELECT;
    if (options.mustExist) call.ofn.Flags |= OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    std::vector<std::wstring> result;
    if (!GetOpenFileNameW(&call.ofn)) return result;
    // Several files: the folder, then each name, each ended by NUL.
    const wchar_t* p = call.buffer.c_str();
    std::wstring first = p;
    p += first.size() + 1;
    if (*p == L'\0') {
      result.push_back(first);
      return result;
    }
    std::wstring folder = WithBackslash(first);
    while (*p) {
      std::wstring name = p;
      result.push_back(folder + name);
      p += name.size() + 1;
    }
    return result;
  }

  std::optional<std::wstring> SaveFile(HWND owner, const FileDialogOptions& options) override {
    FileDialogCall call(owner, options, 32768);
    if (!GetSaveFileNameW(&call.ofn)) return std::nullopt;
    return std::wstring(call.buffer.c_str());
  }

  UINT PopupMenu(HWND owner, HMENU menu, POINT screen) override {
    return TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.x, screen.y, 0,
                          owner, nullptr);
  }
};

WindowsDialogs g_windowsDialogs;
Dialogs* g_dialogs = &g_windowsDialogs;

}  // namespace

Dialogs& TheDialogs() { return *g_dialogs; }
void UseDialogs(Dialogs* dialogs) { g_dialogs = dialogs ? dialogs : &g_windowsDialogs; }
HWND AppWindow() { return g_appWindow; }
void SetAppWindow(HWND window) { g_appWindow = window; }

std::wstring ErrorBoxText(const std::wstring& text) {
  if (!text.empty() && text.back() > L'.') return text + L".";
  return text;
}

void ShowErrorBox(const std::wstring& text, const std::wstring& detail) {
  const std::wstring shown = ErrorBoxText(text) + (detail.empty() ? L"" : L"\r\n" + detail);
  TheDialogs().Message(nullptr, shown, MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

std::optional<std::wstring> BrowseForFolder(const std::wstring& title) {
  return TheDialogs().BrowseFolder(AppWindow(), title);
}

size_t MessageLineUnits(HWND owner) {
  MONITORINFO monitor{sizeof monitor};
  GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY), &monitor);
  NONCLIENTMETRICSW metrics{sizeof metrics};
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  GdiObject font(CreateFontIndirectW(&metrics.lfMessageFont));
  // A path's characters, the wide ones over-represented.
  static constexpr std::wstring_view kSample = L"WMwmABCDEFGHabcdefgh0123456789\\_-.";
  SIZE wide{}, sample{};
  HDC screen = GetDC(nullptr);
  {
    Selected selected(screen, font.get());
    GetTextExtentPoint32W(screen, L"中", 1, &wide);
    GetTextExtentPoint32W(screen, kSample.data(), int(kSample.size()), &sample);
  }
  ReleaseDC(nullptr, screen);
  const long count = long(kSample.size());
  const long unit = std::max<long>({1, (wide.cx + 1) / 2, (sample.cx + count - 1) / count});
  // The icon, the margins and the frame take the rest.
  const long room = (monitor.rcWork.right - monitor.rcWork.left) * 4 / 5;
  return size_t(std::max<long>(40, room / unit));
}
