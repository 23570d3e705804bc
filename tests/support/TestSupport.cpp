#include "tests/support/TestSupport.h"

#include <shlobj.h>
#include <cstring>

#include <atomic>
#include <stdexcept>

#include "common/Paths.h"
#include "fs/FileSystem.h"

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  // Not under the profile's temp folder: its AppData parent is hidden, and
  // the folder chooser leaves hidden folders out.
  CreateDirectoryW(L"C:\\qmtests", nullptr);
  path_ = std::wstring(L"C:\\qmtests\\t") + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(GetTickCount64()) + L"_" + std::to_wstring(counter++) + L"\\";
  CreateDirectoryW(path_.c_str(), nullptr);
}

TempDir::~TempDir() { RemoveTree(path_); }

void RemoveTree(const std::wstring& path) {
  if (path.empty()) return;
  const std::wstring base = WithBackslash(path);
  for (const fs::Entry& entry : ListEntries(base + L"*", fs::kMaskAll)) {
    if (entry.name == L"." || entry.name == L"..") continue;
    const std::wstring full = fs::ChildPath(base, entry.name);
    SetAttributes(full, FILE_ATTRIBUTE_NORMAL);
    if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) && !fs::WalkPath::IsLink(entry.attributes))
      RemoveTree(full);
    else if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY)
      RemoveDirectoryW(fs::SystemPath(full).c_str());  // a link
    else
      DeleteFileW(fs::SystemPath(full).c_str());
  }
  RemoveDirectoryW(fs::SystemPath(base).c_str());
}

void MakeDir(const std::wstring& path) { fs::MakeFolderPath(path); }

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  size_t slash = path.rfind(L'\\');
  if (slash != std::wstring::npos) fs::MakeFolderPath(path.substr(0, slash));
  fs::FileHandle file(CreateFileW(fs::SystemPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid() || !fs::WriteAll(file, bytes)) throw std::runtime_error("cannot write " + Narrow(path));
}

std::string ReadBytes(const std::wstring& path) {
  auto bytes = fs::ReadWholeFileDenyWriters(path);
  return bytes ? *bytes : std::string("<missing>");
}

void SetWriteTime(const std::wstring& path, uint64_t ticks) {
  HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  FILETIME ft{DWORD(ticks), DWORD(ticks >> 32)};
  SetFileTime(h, nullptr, nullptr, &ft);
  CloseHandle(h);
}

uint64_t GetWriteTime(const std::wstring& path) {
  auto look = fs::Look(path);
  return look ? look->writeTime : 0;
}

std::string Narrow(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

int ScriptedDialogs::Message(HWND owner, const std::wstring& text, UINT flags) {
  boxes.push_back({owner, text, flags});
  if (onBox) onBox(boxes.back());
  if (answers.empty()) return IDOK;
  int a = answers.front();
  answers.pop_front();
  return a;
}

std::optional<std::wstring> ScriptedDialogs::BrowseFolder(HWND owner, const std::wstring& title) {
  browseTitles.push_back(title);
  browseOwners.push_back(owner);
  if (folders.empty()) return std::nullopt;
  auto f = folders.front();
  folders.pop_front();
  return f;
}

std::vector<std::wstring> ScriptedDialogs::OpenFiles(HWND, const FileDialogOptions& options) {
  openOptions.push_back(options);
  if (openResults.empty()) return {};
  auto r = openResults.front();
  openResults.pop_front();
  return r;
}

std::optional<std::wstring> ScriptedDialogs::SaveFile(HWND, const FileDialogOptions& options) {
  saveOptions.push_back(options);
  if (saveResults.empty()) return std::nullopt;
  auto r = saveResults.front();
  saveResults.pop_front();
  return r;
}

UINT ScriptedDialogs::PopupMenu(HWND, HMENU, POINT screen) {
  menuPoints.push_back(screen);
  if (menuChoices.empty()) return 0;
  UINT c = menuChoices.front();
  menuChoices.pop_front();
  return c;
}

std::vector<std::wstring> ScriptedDialogs::texts() const {
  std::vector<std::wstring> t;
  for (auto& b : boxes) t.push_back(b.text);
  return t;
}

HDROP MakeDrop(const std::vector<std::wstring>& paths) {
  std::wstring list;
  for (auto& p : paths) list += p + L'\0';
  list += L'\0';
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + list.size() * sizeof(wchar_t));
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), list.data(), list.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

bool DropReleased(HDROP drop) { return GlobalFlags(drop) == GMEM_INVALID_HANDLE; }

std::vector<fs::Entry> ListEntries(const std::wstring& pattern, DWORD mask) {
  return fs::ListMatches(pattern, mask).value_or(std::vector<fs::Entry>{});
}

std::wstring CurrentFolder() {
  std::wstring folder(GetCurrentDirectoryW(0, nullptr), L'\0');
  folder.resize(GetCurrentDirectoryW(DWORD(folder.size()), folder.data()));
  return folder;
}

bool SetAttributes(const std::wstring& path, DWORD bits) {
  return SetFileAttributesW(fs::SystemPath(path).c_str(), bits);
}

bool CopyKilledAt(fs::faults::Point point, bool inPlace, const std::wstring& source, const std::wstring& destination,
                  DWORD* ended) {
  const HANDLE paused = CreateEventW(nullptr, TRUE, FALSE, L"Local\\quillmere-paused");
  ResetEvent(paused);
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  // A backslash before a closing quote is doubled, or it would escape the quote.
  const std::wstring to = destination.back() == L'\\' ? destination + L"\\" : destination;
  std::wstring command = L"\"" + std::wstring(self) + L"\" --copy-killed-at " + std::to_wstring(DWORD(point)) +
                         (inPlace ? L" 1 \"" : L" 0 \"") + source + L"\" \"" + to + L"\"";
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &child)) {
    CloseHandle(paused);
    return false;
  }
  const HANDLE either[] = {paused, child.hProcess};
  const bool reached = WaitForMultipleObjects(2, either, FALSE, 60000) == WAIT_OBJECT_0;
  TerminateProcess(child.hProcess, 9);
  WaitForSingleObject(child.hProcess, 10000);
  if (ended) GetExitCodeProcess(child.hProcess, ended);
  CloseHandle(child.hProcess);
  CloseHandle(child.hThread);
  CloseHandle(paused);
  Sleep(200);  // the server closes the dead process's handles
  return reached;
}

std::wstring ThroughSecondLetter(const std::wstring& path) { return L"O" + path.substr(1); }

std::wstring ThroughZ(const std::wstring& path) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  static const auto unixName =
      reinterpret_cast<UnixName>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name"));
  char* unix = unixName ? unixName(path.c_str()) : nullptr;
  if (!unix) return path;
  std::wstring z = L"Z:";
  for (const char* c = unix; *c; ++c) z += *c == '/' ? L'\\' : wchar_t(*c);
  HeapFree(GetProcessHeap(), 0, unix);
  return z;
}
