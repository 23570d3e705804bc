// Every message box, folder browser, file dialog and pop-up menu goes
// through this interface: the program uses the Windows one, tests plug in
// a scripted one that records what was shown and returns prepared answers.
#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

struct FileDialogOptions {
  std::wstring filter;    // display|pattern|display|pattern...
  std::wstring fileName;  // proposed name
  bool multiSelect = false;
  bool mustExist = false;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A standard box captioned with the application title; returns IDOK/IDYES/IDNO/IDCANCEL.
  virtual int Message(HWND owner, const std::wstring& text, UINT flags) = 0;
  // The folder path, a drive root with its backslash, others without; empty when cancelled.
  virtual std::optional<std::wstring> BrowseFolder(HWND owner, const std::wstring& title) = 0;
  // Full paths in the dialog's order; empty when cancelled.
  virtual std::vector<std::wstring> OpenFiles(HWND owner, const FileDialogOptions& options) = 0;
  virtual std::optional<std::wstring> SaveFile(HWND owner, const FileDialogOptions& options) = 0;
  // The chosen command id, 0 when the menu was dismissed.
  virtual UINT PopupMenu(HWND owner, HMENU menu, POINT screen) = 0;
};

// The dialogs in force (Windows' unless a test installed its own).
Dialogs& TheDialogs();
// Installs a replacement (not owned); nullptr restores Windows' dialogs.
void UseDialogs(Dialogs* dialogs);

// The hidden top-level application window, which owns the main window and
// the boxes "owned by the application window".
HWND AppWindow();
void SetAppWindow(HWND window);

// How many half-width characters a line of a message box may hold on the
// monitor of owner (or the primary one) without the box outgrowing its
// work area, in the font message boxes use.
size_t MessageLineUnits(HWND owner);

// The one error box: stop icon, OK, the full-stop rule; task-modal, so no
// window of the application takes input while it is open.
// A detail, when given, goes on a second line after the full stop.
void ShowErrorBox(const std::wstring& text, const std::wstring& detail = L"");
// The error box's text: a full stop is appended when the last character
// sorts after "." (so "!", ",", "." and a blank get none).
std::wstring ErrorBoxText(const std::wstring& text);

// The application title, caption of the main window and every box.
extern const wchar_t kAppTitle[];

// The platform folder browser, owned by the application window, rooted at
// the desktop, file-system folders only, nothing preselected.
std::optional<std::wstring> BrowseForFolder(const std::wstring& title);
