#include "fs/FileSystem.h"

#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <string_view>

#include "common/Paths.h"
#include "common/Text.h"
#include "fs/Volume.h"

namespace fs {
namespace {

// CreateDirectoryW's classic limit, the shortest of the system's limits.
constexpr size_t kClassicLimit = 248;

// The \\?\ (or \\?\UNC\) form of an absolute path, which the system takes
// as written, at any length.
std::wstring LongForm(const std::wstring& absolute) {
  if (absolute.rfind(L"\\\\?\\", 0) == 0) return absolute;
  if (absolute.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + absolute.substr(2);
  return L"\\\\?\\" + absolute;
}

// True when some backslash-separated name of path, from `from` on, meets test.
template <typename Test>
bool AnyName(const std::wstring& path, size_t from, Test test) {
  for (size_t start = from, end; start <= path.size(); start = end + 1) {
    end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    if (test(std::wstring_view(path).substr(start, end - start))) return true;
  }
  return false;
}

// Closes a find handle exactly once.
class FindHandle {
 public:
  explicit FindHandle(HANDLE h) : h_(h) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    const DWORD error = GetLastError();  // the caller reads why the listing ended
    if (valid()) FindClose(h_);
    SetLastError(error);
  }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

uint64_t Ticks(DWORD high, DWORD low) { return (uint64_t(high) << 32) | low; }

bool IsSeparator(const std::wstring& set, wchar_t c) { return set.find(c) != std::wstring::npos; }

std::wstring ParentPart(const std::wstring& path) {
  size_t pos = LastSeparator(L"\\:", path);
  return path.substr(0, pos);
}

}  // namespace

std::optional<std::vector<Entry>> ListMatches(const std::wstring& pattern, DWORD mask) {
  std::vector<Entry> result;
  WIN32_FIND_DATAW data;
  FindHandle find(FindFirstFileExW(SystemPath(pattern).c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH));
  if (!find.valid()) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return result;  // nothing matches
    return std::nullopt;
  }
  const DWORD excluded =
      ~mask & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | kVolumeLabelBit | FILE_ATTRIBUTE_DIRECTORY);
  do {
    if (data.dwFileAttributes & excluded) continue;
    result.push_back({data.cFileName, data.dwFileAttributes, Ticks(data.nFileSizeHigh, data.nFileSizeLow),
                      Ticks(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime),
                      Ticks(data.ftLastAccessTime.dwHighDateTime, data.ftLastAccessTime.dwLowDateTime)});
  } while (FindNextFileW(find.get(), &data));
  if (GetLastError() != ERROR_NO_MORE_FILES) return std::nullopt;  // a listing cut short
  return result;
}

DWORD AttributesOf(const std::wstring& path) { return GetFileAttributesW(SystemPath(path).c_str()); }

bool IsFolder(const std::wstring& path) {
  DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::wstring& path) { return AttributesOf(path) != INVALID_FILE_ATTRIBUTES; }

bool IsNotFound(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool IsAbsent(const std::wstring& path) {
  if (AttributesOf(path) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  if (error != ERROR_PATH_NOT_FOUND) return error == ERROR_FILE_NOT_FOUND;
  const std::wstring root = VolumePathOf(path);
  const bool answers = !root.empty() && AttributesOf(root) != INVALID_FILE_ATTRIBUTES;
  SetLastError(error);
  return answers;
}

bool RemovalPending() {
  constexpr LONG kDeletePending = LONG(0xC0000056);  // STATUS_DELETE_PENDING
  using LastStatus = LONG(WINAPI*)();
  static const auto lastStatus =
      reinterpret_cast<LastStatus>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetLastNtStatus"));
  return GetLastError() == ERROR_ACCESS_DENIED && lastStatus && lastStatus() == kDeletePending;
}

bool SetFileTimes(HANDLE file, uint64_t writeTime, uint64_t accessTime) {
  FILE_BASIC_INFO basic{};
  basic.LastWriteTime.QuadPart = LONGLONG(writeTime);
  basic.LastAccessTime.QuadPart = LONGLONG(accessTime ? accessTime : writeTime);
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

bool IsFile(const std::wstring& path) {
  if (path.empty()) return false;
  // A search would read "a." as "a without an extension"; a \\?\ path means its one name.
  if (path.rfind(L"\\\\?\\", 0) == 0) {
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  WIN32_FIND_DATAW data;
  FindHandle find(
      FindFirstFileExW(SystemPath(path).c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
  if (!find.valid()) return false;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  } while (FindNextFileW(find.get(), &data));
  return false;
}

bool MakeFolderPath(const std::wstring& path) {
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  std::wstring dir = path;
  if (dir.back() == L'\\') dir.pop_back();
  if (dir.size() < 3 || IsFolder(dir) || ParentPart(dir) == dir) return true;
  if (!MakeFolderPath(ParentPart(dir))) return false;
  // Another program (or thread) may make it between our look and ours.
  if (CreateDirectoryW(SystemPath(dir).c_str(), nullptr)) return true;
  if (GetLastError() != ERROR_ALREADY_EXISTS || !IsFolder(dir)) return false;
  return true;
}

bool CanEnterFolder(const std::wstring& folder) {
  DWORD attributes = AttributesOf(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetLastError(ERROR_DIRECTORY);
    return false;
  }
  // What entering a folder asks of it: the right to list it.
  FileHandle handle(CreateFileW(SystemPath(folder).c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return handle.valid();
}

std::wstring NamePart(const std::wstring& path) { return path.substr(LastSeparator(L"\\:", path)); }

namespace {
// "con", "NUL.txt", "com1 .h": a plain path with such a last name names a device.
bool IsDeviceName(const std::wstring& name) {
  std::wstring stem = text::Upper(name.substr(0, name.find(L'.')));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL" || stem == L"CONIN$" || stem == L"CONOUT$")
    return true;
  return stem.size() == 4 && (stem.rfind(L"COM", 0) == 0 || stem.rfind(L"LPT", 0) == 0) && iswdigit(stem[3]);
}
}  // namespace

std::optional<std::wstring> LiteralPath(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\", 0) == 0) return path;
  const bool drive = path.size() > 3 && path[1] == L':' && path[2] == L'\\';
  const bool share = path.rfind(L"\\\\", 0) == 0 && path.rfind(L"\\\\.\\", 0) != 0;
  if (!drive && !share) return std::nullopt;
  std::wstring literal = path;
  if (literal.back() == L'\\') literal.pop_back();
  auto needsResolving = [](std::wstring_view name) { return name.empty() || name == L"." || name == L".."; };
  if (literal.find(L'/') != std::wstring::npos || AnyName(literal, drive ? 3 : 2, needsResolving)) return std::nullopt;
  return LongForm(literal);
}

std::wstring ChildPath(const std::wstring& folder, const std::wstring& name) {
  std::wstring path = folder + name;
  if (name == L"." || name == L"..") return path;
  const bool altered = !name.empty() && (name.back() == L'.' || name.back() == L' ' || IsDeviceName(name));
  return altered ? LongForm(path) : path;
}

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

std::wstring FullPath(const std::wstring& path) {
  if (path.empty()) return path;
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return path;
  full.resize(length);
  return full;
}

namespace {
// "\\?\C:\x" and "\\.\C:\x" name C:\x, "\\?\UNC\srv\share" names \\srv\share.
std::wstring WithoutDevicePrefix(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
  if ((path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) && path.size() >= 6 && path[5] == L':')
    return path.size() == 6 ? path.substr(4) + L"\\" : path.substr(4);  // "\\.\C:" is the drive, not its current folder
  return path;
}

// Some name of at most 8 + 1 + 3 characters holds a "~", as every short
// name the system makes for a long one does.
bool HasShortNameShape(const std::wstring& path) {
  return AnyName(path, 0, [](std::wstring_view name) { return name.size() <= 12 && name.find(L'~') != name.npos; });
}

// The place a full path without a device prefix names.
std::wstring PlaceOf(std::wstring place) {
  // A short (8.3) name spells the place of a long one; the long name is its
  // own. Only a path with a short name's shape pays for the look-up.
  if (HasShortNameShape(place)) {
    const std::wstring system = SystemPath(place);
    std::wstring full(GetLongPathNameW(system.c_str(), nullptr, 0), L'\0');
    if (!full.empty() && GetLongPathNameW(system.c_str(), full.data(), DWORD(full.size())) < full.size()) {
      full.resize(wcslen(full.c_str()));
      place = WithoutDevicePrefix(full);
    }
  }
  while (place.size() > 1 && place.back() == L'\\' && !(place.size() == 3 && place[1] == L':')) place.pop_back();
  return place;
}
}  // namespace

std::wstring ResolvePath(const std::wstring& path) { return PlaceOf(FullPath(WithoutDevicePrefix(path))); }

GivenPath Resolve(const std::wstring& given) {
  std::wstring full = FullPath(given);
  // A full path is its own full path, unless it loses a \\?\ prefix, which the system never resolves behind.
  const std::wstring plain = WithoutDevicePrefix(full);
  std::wstring place = PlaceOf(plain == full ? full : FullPath(plain));
  return {given, std::move(full), std::move(place)};
}

bool SameResolvedPath(const std::wstring& a, const std::wstring& b) {
  return SameTextIgnoreCase(ResolvePath(a), ResolvePath(b));
}

bool IsDevice(const std::wstring& path) { return IsDevice(GivenPath{path, FullPath(path), L""}); }

bool IsDevice(const GivenPath& path) {
  // The system turns a device's name into \\.\NAME wherever it stands.
  const std::wstring& full = path.full;
  if (full.rfind(L"\\\\.\\", 0) != 0 && full.rfind(L"\\\\?\\", 0) != 0) return false;
  // After the prefix, a path begins with a drive, UNC\ or a volume's name.
  const std::wstring first = full.substr(4, full.find(L'\\', 4) - 4);
  return !(first.size() == 2 && first[1] == L':') && !SameTextIgnoreCase(first, L"UNC") &&
         !SameTextIgnoreCase(first.substr(0, 7), L"Volume{");
}

namespace {
bool IsDriveRoot(const std::wstring& place) { return place.size() == 3 && place[1] == L':' && place[2] == L'\\'; }
// \\server\share, with nothing after the share (\\.\aux is a device).
bool IsShareRoot(const std::wstring& place) {
  if (place.rfind(L"\\\\", 0) != 0) return false;
  const size_t server = place.find(L'\\', 2);
  if (server == 3 && (place[2] == L'.' || place[2] == L'?')) return false;
  return server != std::wstring::npos && server > 2 && server + 1 < place.size() &&
         place.find(L'\\', server + 1) == std::wstring::npos;
}
}  // namespace

bool IsWholeDrive(const std::wstring& path) {
  const std::wstring place = ResolvePath(path);
  if (IsDriveRoot(place) || IsShareRoot(place)) return true;
  // A link, a mapped drive or a share that leads to the root of a volume.
  if (!IsFolder(place)) return false;
  if (auto final = FinalPath(place); final && (IsDriveRoot(*final) || IsShareRoot(*final))) return true;
  std::wstring volume(place.size() + 2, L'\0');
  if (GetVolumePathNameW(SystemPath(place).c_str(), volume.data(), DWORD(volume.size()))) {
    volume.resize(wcslen(volume.c_str()));
    if (SameTextIgnoreCase(WithBackslash(place), volume)) return true;
  } else if (place.size() > 2 && place[1] == L':') {
    volume = place.substr(0, 2) + L"\\";  // Wine finds no volume path through a link
  } else {
    return false;
  }
  auto id = Identify(place);
  return id && id == Identify(volume);
}

std::wstring LongPath(const std::wstring& path) {
  return path.rfind(L"\\\\?\\", 0) == 0 ? path : LongForm(FullPath(path));
}

std::wstring SystemPath(const std::wstring& path) {
  if (path.size() < kClassicLimit || path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) return path;
  return LongForm(FullPath(path));
}

FileHandle& FileHandle::operator=(FileHandle&& o) noexcept {
  if (this != &o) {
    const DWORD error = GetLastError();  // as the destructor keeps it
    if (valid()) CloseHandle(h_);
    SetLastError(error);
    h_ = o.h_;
    o.h_ = INVALID_HANDLE_VALUE;
  }
  return *this;
}

FileHandle::~FileHandle() {
  // A handle closes without a trace: the caller reads the error of what it did.
  const DWORD error = GetLastError();
  if (valid()) CloseHandle(h_);
  SetLastError(error);
}

FileHandle OpenToRead(const std::wstring& path) {
  return FileHandle(CreateFileW(SystemPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

bool CanReadFile(const std::wstring& path) { return OpenToRead(path).valid(); }

std::optional<Entry> Look(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return Entry{L"", data.dwFileAttributes, Ticks(data.nFileSizeHigh, data.nFileSizeLow),
               Ticks(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime),
               Ticks(data.ftLastAccessTime.dwHighDateTime, data.ftLastAccessTime.dwLowDateTime)};
}

namespace {
// Opens a file or folder (a folder needs backup semantics) sharing everything.
FileHandle OpenShared(const std::wstring& path, DWORD access, DWORD flags) {
  return FileHandle(CreateFileW(SystemPath(path).c_str(), access,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
}
}  // namespace

FileHandle OpenToLook(const std::wstring& path) { return OpenShared(path, 0, 0); }
FileHandle OpenForRemoval(const std::wstring& path) {
  return OpenShared(path, DELETE | FILE_READ_ATTRIBUTES, FILE_FLAG_OPEN_REPARSE_POINT);
}
FileHandle OpenLinkToLook(const std::wstring& path) {
  return OpenShared(path, FILE_READ_ATTRIBUTES, FILE_FLAG_OPEN_REPARSE_POINT);
}

namespace {
std::optional<PlaceId> IdentityOf(const FileHandle& entry) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!entry.valid() || !GetFileInformationByHandle(entry.get(), &info)) return std::nullopt;
  const uint64_t index = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  // Some network file systems give every entry the index 0, and Wine gives a
  // volume reached by a Z: path the serial 0 and repeats its indexes on the
  // next: neither names one place.
  if (index == 0 || info.dwVolumeSerialNumber == 0) return std::nullopt;
  return PlaceId{info.dwVolumeSerialNumber, index};
}

// Wine's GetFinalPathNameByHandleW fails (234) for a path longer than
// MAX_PATH; its object name holds the same path as \??\C:\... at any
// length. Windows names a device there, which no caller takes for a path.
std::optional<std::wstring> ObjectPath(HANDLE handle) {
  std::vector<char> buffer(sizeof(UNICODE_STRING) + 65536 * sizeof(wchar_t));
  ULONG length = 0;
  if (NtQueryObject(handle, ObjectNameInformation, buffer.data(), ULONG(buffer.size()), &length) != 0)
    return std::nullopt;
  const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
  const std::wstring path(name->Buffer, name->Length / sizeof(wchar_t));
  if (path.rfind(L"\\??\\", 0) != 0) return std::nullopt;
  return WithoutDevicePrefix(L"\\\\?\\" + path.substr(4));
}

std::optional<std::wstring> FinalPathOf(const FileHandle& entry) {
  if (!entry.valid()) return std::nullopt;
  std::wstring final(GetFinalPathNameByHandleW(entry.get(), nullptr, 0, FILE_NAME_NORMALIZED), L'\0');
  if (final.empty()) return GetLastError() == ERROR_MORE_DATA ? ObjectPath(entry.get()) : std::nullopt;
  DWORD length = GetFinalPathNameByHandleW(entry.get(), final.data(), DWORD(final.size()), FILE_NAME_NORMALIZED);
  if (length == 0 || length >= final.size()) return std::nullopt;
  final.resize(length);
  return WithoutDevicePrefix(final);
}
}  // namespace

std::optional<PlaceId> Identify(const std::wstring& path) { return IdentityOf(OpenToLook(path)); }
std::optional<std::wstring> FinalPath(const std::wstring& path) { return FinalPathOf(OpenToLook(path)); }

std::optional<HeldEntry> Inspect(const FileHandle& entry) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!entry.valid() || !GetFileInformationByHandleEx(entry.get(), FileAttributeTagInfo, &tag, sizeof tag))
    return std::nullopt;
  auto final = FinalPathOf(entry);
  if (!final) {
    if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    return std::nullopt;
  }
  const bool link = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(tag.ReparseTag);
  return HeldEntry{std::move(*final), IdentityOf(entry), tag.FileAttributes, link};
}

namespace {
// FileDispositionInfoEx and its flags, which this SDK level does not name.
constexpr auto kDispositionInfoEx = FILE_INFO_BY_HANDLE_CLASS(21);
constexpr DWORD kDelete = 0x1, kPosixSemantics = 0x2, kIgnoreReadOnly = 0x10;

bool SetReadOnly(const FileHandle& entry, DWORD attributes, bool readOnly) {
  // A handle of its own asks for the right to write attributes, which the
  // removal itself does not need.
  FileHandle writer(ReOpenFile(entry.get(), FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  FILE_BASIC_INFO basic{};  // zero times stay as they are
  basic.FileAttributes = readOnly ? attributes | FILE_ATTRIBUTE_READONLY : attributes & ~DWORD(FILE_ATTRIBUTE_READONLY);
  basic.FileAttributes &= ~DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
  if (!basic.FileAttributes) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return writer.valid() && SetFileInformationByHandle(writer.get(), FileBasicInfo, &basic, sizeof basic);
}
}  // namespace

bool RemoveHeld(const FileHandle& entry, DWORD attributes) {
  // Where the system can, the name goes at once (a file another program
  // still holds open no longer keeps its folder from going), read-only or not.
  DWORD flags = kDelete | kPosixSemantics | kIgnoreReadOnly;
  if (SetFileInformationByHandle(entry.get(), kDispositionInfoEx, &flags, sizeof flags)) return true;
  const DWORD exError = GetLastError();
  if (exError != ERROR_INVALID_PARAMETER && exError != ERROR_NOT_SUPPORTED && exError != ERROR_INVALID_FUNCTION)
    return false;
  const bool readOnly = attributes & FILE_ATTRIBUTE_READONLY;
  if (readOnly) SetReadOnly(entry, attributes, false);
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (SetFileInformationByHandle(entry.get(), FileDispositionInfo, &disposition, sizeof disposition)) return true;
  const DWORD error = GetLastError();
  if (readOnly) SetReadOnly(entry, attributes, true);  // it stays as it was
  SetLastError(error);
  return false;
}

bool WalkPath::Enter(const std::wstring& folder, bool viaLink) {
  if (!viaLink) {
    path_.push_back({folder});
    return true;
  }
  auto held = Inspect(OpenToLook(folder));
  if (held) {
    for (Level& level : path_) {
      if (!level.identified) {
        if (auto above = Inspect(OpenToLook(level.folder))) level.held = std::move(*above);
        level.identified = true;
      }
      // One folder by its final path, or by an identity where the final paths differ (a share by two names).
      if (SameTextIgnoreCase(level.held.finalPath, held->finalPath) || (level.held.id && level.held.id == held->id))
        return false;
    }
  }
  path_.push_back({folder, held ? std::move(*held) : HeldEntry{}, true});
  return true;
}

namespace {
// False when the visitor ended the walk.
bool Walk(const std::wstring& folder, bool viaLink, DWORD mask, int levelsLeft, const FolderVisitor& visit,
          WalkPath& path, size_t& unreadable) {
  if (!path.Enter(folder, viaLink)) return true;
  std::vector<Entry> entries;
  if (levelsLeft != 0) {
    auto listed = ListMatches(folder + L"*.*", mask);
    if (listed)
      entries = std::move(*listed);
    else
      ++unreadable;
  }
  bool going = visit(folder, entries);
  for (const Entry& entry : entries) {
    if (!going) break;
    if (!(entry.attributes & FILE_ATTRIBUTE_DIRECTORY) || entry.name == L"." || entry.name == L"..") continue;
    going = Walk(folder + entry.name + L"\\", WalkPath::IsLink(entry.attributes), mask, levelsLeft - 1, visit, path,
                 unreadable);
  }
  path.Leave();
  return going;
}
}  // namespace

size_t WalkFolders(const std::wstring& root, DWORD mask, int maxLevels, const FolderVisitor& visit) {
  WalkPath path;
  size_t unreadable = 0;
  Walk(root, false, mask, maxLevels < 0 ? -1 : maxLevels, visit, path, unreadable);
  return unreadable;
}

namespace {
// What opened at a plain name is a device after all (Wine's Z:\dev\zero).
bool OpenedADevice(const FileHandle& file) {
  if (GetFileType(file.get()) == FILE_TYPE_DISK) return false;
  SetLastError(ERROR_BAD_DEVICE);
  return true;
}

}  // namespace

bool OpensAsDevice(const std::wstring& path) {
  FileHandle there = OpenToLook(path);
  return there.valid() && OpenedADevice(there);
}

std::optional<std::string> ReadWholeFileDenyWriters(const std::wstring& path) {
  if (IsDevice(path)) {
    SetLastError(ERROR_BAD_DEVICE);
    return std::nullopt;
  }
  FileHandle file(CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid() || OpenedADevice(file)) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  for (;;) {
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return std::nullopt;  // never a part as the whole
    if (got == 0) return bytes;
    bytes.append(buffer, got);
  }
}

bool WriteAll(const FileHandle& file, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = DWORD(std::min<size_t>(bytes.size() - done, 1u << 30)), written = 0;
    if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    done += written;
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
  // A code the system has no words for is still a reason: never an empty one.
  return result.empty() ? L"Error " + std::to_wstring(code) + L"." : result;
}

std::optional<std::wstring> ReadProfileString(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
  if (file.empty()) return std::nullopt;
  // A sentinel default tells a missing key from an empty value.
  std::wstring value(2048, L'\0');
  DWORD n = GetPrivateProfileStringW(section, key, L"\x01", value.data(), DWORD(value.size()), file.c_str());
  value.resize(n);
  if (value == L"\x01") return std::nullopt;
  return value;
}

bool WriteProfileString(const std::wstring& file, const wchar_t* section, const wchar_t* key, const wchar_t* value) {
  if (!WritePrivateProfileStringW(section, key, value, file.c_str())) return false;
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str());  // flush the cached file
  return true;
}

}  // namespace fs
