#include "fs/FileSystem.h"

#include <cwchar>

#include "common/AppError.h"

namespace fs {
namespace {

void (*g_heartbeat)() = nullptr;
DWORD g_heartbeatThread = 0;  // only that thread may pump its windows

// Closes a find handle exactly once.
class FindHandle {
 public:
  explicit FindHandle(HANDLE h) : h_(h) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (valid()) FindClose(h_);
  }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

bool IsSeparator(const std::wstring& set, wchar_t c) { return set.find(c) != std::wstring::npos; }

std::wstring ParentPart(const std::wstring& path) {
  size_t pos = LastSeparator(L"\\:", path);
  return path.substr(0, pos);
}

}  // namespace

std::vector<Entry> ListEntries(const std::wstring& pattern, DWORD mask) {
  std::vector<Entry> result;
  WIN32_FIND_DATAW data;
  FindHandle find(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH));
  if (!find.valid()) return result;
  const DWORD excluded = ~mask & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | 0x08 | FILE_ATTRIBUTE_DIRECTORY);
  do {
    if (data.dwFileAttributes & excluded) continue;
    result.push_back({data.cFileName, data.dwFileAttributes});
  } while (FindNextFileW(find.get(), &data));
  return result;
}

bool IsFolder(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFile(const std::wstring& path) {
  if (path.empty()) return false;
  WIN32_FIND_DATAW data;
  FindHandle find(FindFirstFileExW(path.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
  if (!find.valid()) return false;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  } while (FindNextFileW(find.get(), &data));
  return false;
}

bool MakeFolderPath(const std::wstring& path) {
  if (path.empty()) throw AppError(L"Unable to create directory");
  std::wstring dir = path;
  if (dir.back() == L'\\') dir.pop_back();
  if (dir.size() < 3 || IsFolder(dir) || ParentPart(dir) == dir) return true;
  return MakeFolderPath(ParentPart(dir)) && CreateDirectoryW(dir.c_str(), nullptr);
}

std::wstring NamePart(const std::wstring& path) { return path.substr(LastSeparator(L"\\:", path)); }

std::wstring ExtensionPart(const std::wstring& path) {
  size_t dot = LastSeparator(L".\\:", path);
  if (dot == 0 || path[dot - 1] != L'.') return L"";
  return path.substr(dot - 1);
}

size_t LastSeparator(const std::wstring& set, const std::wstring& text) {
  for (size_t i = text.size(); i > 0; --i)
    if (IsSeparator(set, text[i - 1])) return i;
  return 0;
}

FileHandle& FileHandle::operator=(FileHandle&& o) noexcept {
  if (this != &o) {
    if (valid()) CloseHandle(h_);
    h_ = o.h_;
    o.h_ = INVALID_HANDLE_VALUE;
  }
  return *this;
}

FileHandle::~FileHandle() {
  if (valid()) CloseHandle(h_);
}

FileHandle OpenForTimes(const std::wstring& path) {
  return FileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::optional<uint64_t> LastWriteTime(const FileHandle& file) {
  FILETIME written;
  if (!file.valid() || !GetFileTime(file.get(), nullptr, nullptr, &written)) return std::nullopt;
  return (uint64_t(written.dwHighDateTime) << 32) | written.dwLowDateTime;
}

int CompareTimes(uint64_t a, uint64_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

namespace {
DWORD CALLBACK CopyProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE,
                            LPVOID) {
  if (g_heartbeat && GetCurrentThreadId() == g_heartbeatThread) g_heartbeat();
  return PROGRESS_CONTINUE;
}
}  // namespace

bool CopyOneFileRaw(const std::wstring& source, const std::wstring& target, bool failIfExists, DWORD sourceAttributes) {
  auto copyFile = [&](DWORD flags) {
    return CopyFileExW(source.c_str(), target.c_str(), g_heartbeat ? CopyProgress : nullptr, nullptr, nullptr, flags);
  };
  // Most targets do not exist yet: try that first, so no extra look-up is paid.
  bool copied = copyFile(COPY_FILE_FAIL_IF_EXISTS);
  if (!copied) {
    DWORD error = GetLastError();
    if (failIfExists || (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)) return false;
    // CopyFileW under Wine replaces such targets; Windows refuses them.
    DWORD existing = GetFileAttributesW(target.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && !(existing & FILE_ATTRIBUTE_DIRECTORY) &&
        (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN))) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    if (!copyFile(0)) return false;
  }
  // The copy takes over the source's attributes; Wine's CopyFileW drops them.
  if (sourceAttributes == INVALID_FILE_ATTRIBUTES) sourceAttributes = GetFileAttributesW(source.c_str());
  const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if (sourceAttributes != INVALID_FILE_ATTRIBUTES && (sourceAttributes & kept) &&
      (GetFileAttributesW(target.c_str()) & kept) != (sourceAttributes & kept))
    SetFileAttributesW(target.c_str(), sourceAttributes);
  return true;
}

bool SetAttributes(const std::wstring& path, DWORD bits) { return SetFileAttributesW(path.c_str(), bits); }
bool RemoveFile(const std::wstring& path) { return DeleteFileW(path.c_str()); }
bool RemoveEmptyFolder(const std::wstring& path) { return RemoveDirectoryW(path.c_str()); }

std::wstring CurrentFolder() {
  DWORD size = GetCurrentDirectoryW(0, nullptr);
  std::wstring folder(size, L'\0');
  DWORD length = GetCurrentDirectoryW(size, folder.data());
  folder.resize(length < size ? length : 0);
  return folder;
}

std::wstring IoErrorText(DWORD code) {
  switch (code) {
    case 2:
      return L"File not found";
    case 3:
      return L"Invalid filename";
    case 4:
      return L"Too many open files";
    case 5:
      return L"File access denied";
    case 100:
      return L"Read beyond end of file";
    case 101:
      return L"Disk full";
    case 106:
      return L"Invalid numeric input";
  }
  return L"I/O error " + std::to_wstring(code);
}

CurrentFolderKept::~CurrentFolderKept() { SetCurrentDirectoryW(saved_.c_str()); }

void ChangeFolder(const std::wstring& path) {
  if (!SetCurrentDirectoryW(path.c_str())) throw AppError(IoErrorText(GetLastError()));
}

std::optional<FolderId> IdentifyFolder(const std::wstring& path) {
  FileHandle folder(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!folder.valid() || !GetFileInformationByHandle(folder.get(), &info)) return std::nullopt;
  return FolderId{info.dwVolumeSerialNumber, (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

bool WalkPath::Enter(const std::wstring& folder, bool viaLink) {
  if (!viaLink) {
    path_.push_back({folder, std::nullopt, false});
    return true;
  }
  auto id = IdentifyFolder(folder);
  if (id) {
    for (Level& level : path_) {
      if (!level.identified) {
        level.id = IdentifyFolder(level.folder);
        level.identified = true;
      }
      if (level.id && *level.id == *id) return false;
    }
  }
  path_.push_back({folder, id, true});
  return true;
}

std::optional<std::string> ReadWholeFileDenyWriters(const std::wstring& path, DWORD* error) {
  FileHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    *error = GetLastError();
    return std::nullopt;
  }
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  return bytes;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes, DWORD* error, bool* created) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  *created = file.valid();
  if (!file.valid()) {
    *error = GetLastError();
    return false;
  }
  DWORD written = 0;
  if (!WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) || written != bytes.size()) {
    *error = GetLastError();
    return false;
  }
  return true;
}

std::wstring SystemErrorText(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring result = n ? std::wstring(text, n) : L"";
  if (text) LocalFree(text);
  while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r' || result.back() == L' '))
    result.pop_back();
  return result;
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return text;
}

size_t Find(const std::string& sub, const std::string& text) {
  if (sub.empty() || text.empty()) return 0;
  size_t pos = text.find(sub);
  return pos == std::string::npos ? 0 : pos + 1;
}

std::wstring TrimBlank(const std::wstring& text) {
  size_t first = 0, last = text.size();
  while (first < last && text[first] <= 32) ++first;
  while (last > first && text[last - 1] <= 32) --last;
  return text.substr(first, last - first);
}

void SetCopyHeartbeat(void (*beat)()) {
  g_heartbeat = beat;
  g_heartbeatThread = GetCurrentThreadId();
}

}  // namespace fs
