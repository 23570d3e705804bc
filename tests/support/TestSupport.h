// Helpers for tests: real folders in the prefix's temp folder, file bytes,
// and the scripted Dialogs.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "wingui/Dialogs.h"
#include "fs/FileSystem.h"
#include "fs/Volume.h"

// A fresh folder under C:\qmtests, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::wstring& path() const { return path_; }  // ends with a backslash
  std::wstring operator/(const std::wstring& rel) const { return path_ + rel; }

 private:
  std::wstring path_;
};

void RemoveTree(const std::wstring& path);
// Writes bytes, creating missing folders.
void WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
using fs::Exists;
void MakeDir(const std::wstring& path);
void SetWriteTime(const std::wstring& path, uint64_t ticks);
uint64_t GetWriteTime(const std::wstring& path);
std::string Narrow(const std::wstring& w);  // UTF-8, for test messages
// A listing, empty when it cannot be read.
std::vector<fs::Entry> ListEntries(const std::wstring& pattern, DWORD mask);
std::wstring CurrentFolder();
bool SetAttributes(const std::wstring& path, DWORD bits);
// Other names of one place: through the second letter O: for C: (the link
// fixtures make it), and as Wine's Z: path into the prefix.
std::wstring ThroughSecondLetter(const std::wstring& path);
std::wstring ThroughZ(const std::wstring& path);

// Records every box and dialog and answers from queues.
class ScriptedDialogs : public Dialogs {
 public:
  struct Box {
    HWND owner;
    std::wstring text;
    UINT flags;
  };
  std::vector<Box> boxes;
  std::deque<int> answers;  // for boxes; IDOK when empty
  std::vector<std::wstring> browseTitles;
  std::deque<std::optional<std::wstring>> folders;
  std::vector<FileDialogOptions> openOptions, saveOptions;
  std::deque<std::vector<std::wstring>> openResults;
  std::deque<std::optional<std::wstring>> saveResults;
  std::deque<UINT> menuChoices;
  std::vector<POINT> menuPoints;
  std::vector<HWND> browseOwners;
  // Runs as each box is shown (before it is answered).
  std::function<void(const Box&)> onBox;

  int Message(HWND owner, const std::wstring& text, UINT flags) override;
  std::optional<std::wstring> BrowseFolder(HWND owner, const std::wstring& title) override;
  std::vector<std::wstring> OpenFiles(HWND owner, const FileDialogOptions& options) override;
  std::optional<std::wstring> SaveFile(HWND owner, const FileDialogOptions& options) override;
  UINT PopupMenu(HWND owner, HMENU menu, POINT screen) override;
  std::vector<std::wstring> texts() const;
};

// Installs a ScriptedDialogs for the life of the object.
class ScopedScriptedDialogs : public ScriptedDialogs {
 public:
  ScopedScriptedDialogs() { UseDialogs(this); }
  ~ScopedScriptedDialogs() override { UseDialogs(nullptr); }
};

// Starts this test program as a copy run of source into destination under
// 覆盖 (written in place, as on a share, when inPlace) and kills it once it
// reaches point. False when it never did, with its exit code in ended (the
// code of the copy's failure, or 3).
bool CopyKilledAt(fs::faults::Point point, bool inPlace, const std::wstring& source, const std::wstring& destination,
                  DWORD* ended = nullptr);

// A real drop handle holding the given paths, as the shell makes one.
HDROP MakeDrop(const std::vector<std::wstring>& paths);
// True once DragFinish released the handle.
bool DropReleased(HDROP drop);
