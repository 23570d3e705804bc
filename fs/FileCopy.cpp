#include "fs/FileCopy.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <vector>

#include "common/Paths.h"

namespace fs {
namespace {

constexpr wchar_t kTemporaryPrefix[] = L"~quillmere-";
constexpr wchar_t kTemporarySuffix[] = L".part";
// Files go in chunks of 64 KiB: a stop is seen within one, and under Wine a
// larger read or write costs far more per byte (1 GiB on three copying threads:
// 0.3 s in 64 KiB chunks, 1.0 s in 256 KiB ones).
constexpr size_t kChunk = 64u << 10;
// What a copy takes over of its source's attribute bits.
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Windows 10's rename with flags; the headers name it only for newer targets.
constexpr auto kFileRenameInfoEx = FILE_INFO_BY_HANDLE_CLASS(22);

// How often a held target is tried again, 5 ms apart, before its copy fails.
constexpr int kHeldRetries = 20;

std::atomic<unsigned> g_temporaryCounter{0};

// 64 random bits of this process in every temporary name: no existing file
// (a stale one, another program's) can hold a name before we make it.
const std::wstring& Salt() {
  static const std::wstring salt = [] {
    std::random_device random;
    wchar_t text[17];
    swprintf(text, 17, L"%08x%08x", unsigned(random()), unsigned(random()));
    return std::wstring(text);
  }();
  return salt;
}

// One buffer per copying thread.
std::vector<char>& Buffer() {
  thread_local std::vector<char> buffer(kChunk);
  return buffer;
}

// Keeps the last error across a clean-up.
template <typename Work>
void KeepingError(Work work) {
  const DWORD error = GetLastError();
  work();
  SetLastError(error);
}

// Copies one open file's data into another, chunk by chunk; false on a
// failure or a stop (ERROR_OPERATION_ABORTED).
bool CopyData(HANDLE from, HANDLE to, const StopSignal* stop, const std::function<void(DWORD)>& written) {
  std::vector<char>& buffer = Buffer();
  for (;;) {
    if (stop && stop->Requested()) {
      SetLastError(ERROR_OPERATION_ABORTED);
      return false;
    }
    DWORD got = 0, put = 0;
    if (!ReadFile(from, buffer.data(), DWORD(kChunk), &got, nullptr)) return false;
    if (got == 0) return true;
    if (!WriteFile(to, buffer.data(), got, &put, nullptr) || put != got) {
      if (put != got && GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_DISK_FULL);
      return false;
    }
    if (written) written(got);
  }
}

// The named streams of the source (a download's Zone.Identifier, say)
// travel with the copy, as the system's own copy carries them. A file
// system without streams has none to give.
bool CopyNamedStreams(const std::wstring& source, const std::wstring& temporary, const StopSignal* stop) {
  WIN32_FIND_STREAM_DATA stream;
  const HANDLE find = FindFirstStreamW(SystemPath(source).c_str(), FindStreamInfoStandard, &stream, 0);
  if (find == INVALID_HANDLE_VALUE) return true;
  bool copied = true;
  do {
    const std::wstring name = stream.cStreamName;  // ":name:$DATA"
    if (name == L"::$DATA") continue;
    const FileHandle from = OpenToRead(LongPath(source) + name);
    FileHandle to(CreateFileW((temporary + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    copied = from.valid() && to.valid() && CopyData(from.get(), to.get(), stop, nullptr);
  } while (copied && FindNextStreamW(find, &stream));
  KeepingError([find] { FindClose(find); });
  return copied;
}

}  // namespace

bool IsTemporaryName(const std::wstring& name) {
  const size_t prefix = std::size(kTemporaryPrefix) - 1, suffix = std::size(kTemporarySuffix) - 1;
  return name.size() > prefix + suffix && SameTextIgnoreCase(name.substr(0, prefix), kTemporaryPrefix) &&
         SameTextIgnoreCase(name.substr(name.size() - suffix), kTemporarySuffix);
}

PendingCopy::~PendingCopy() {
  if (file_.valid()) KeepingError([this] { Discard(); });
}

bool PendingCopy::MarkForRemoval(bool remove) {
  FILE_DISPOSITION_INFO disposition{BOOLEAN(remove)};
  if (!SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition, sizeof disposition)) return false;
  marked_ = remove;
  return true;
}

void PendingCopy::Discard() {
  if (!marked_ && !MarkForRemoval(true)) {
    file_ = FileHandle();
    DeleteFileW(path_.c_str());
  }
  file_ = FileHandle();
  if (written_ && bytes_) written_(-bytes_);
  bytes_ = 0;
}

bool PendingCopy::Write(const std::wstring& source, const std::wstring& targetFolder, const Entry* listed,
                        const StopSignal* stop, const std::function<void(int64_t)>& written) {
  written_ = written;
  folder_ = targetFolder;
  const FileHandle from = OpenToRead(source);
  if (!from.valid()) return false;
  auto readFacts = [&from](Entry& facts) {
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(from.get(), FileBasicInfo, &basic, sizeof basic) ||
        !GetFileInformationByHandleEx(from.get(), FileStandardInfo, &standard, sizeof standard))
      return false;
    facts.attributes = basic.FileAttributes;
    facts.writeTime = uint64_t(basic.LastWriteTime.QuadPart);
    facts.size = uint64_t(standard.EndOfFile.QuadPart);
    return true;
  };
  Entry facts{};
  if (listed)
    facts = *listed;
  else if (!readFacts(facts))
    return false;

  // Made new, never an existing file; removed by the system unless placed.
  for (int attempt = 0; !file_.valid(); ++attempt) {
    path_ = SystemPath(targetFolder + kTemporaryPrefix + std::to_wstring(GetCurrentProcessId()) + L"-" + Salt() + L"-" +
                       std::to_wstring(g_temporaryCounter.fetch_add(1)) + kTemporarySuffix);
    file_ = FileHandle(CreateFileW(path_.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    const DWORD error = GetLastError();
    if (!file_.valid() && (attempt == 8 || (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS))) return false;
  }
  MarkForRemoval(true);  // where the system cannot, Discard removes it by name

  // One read and one write for a small file.
  if (!CopyData(from.get(), file_.get(), stop, [this](DWORD got) {
        bytes_ += got;
        if (written_) written_(got);
      })) {
    KeepingError([this] { Discard(); });
    return false;
  }
  // The file changed since it was listed: its own time, not the listing's.
  if (listed && uint64_t(bytes_) != facts.size) readFacts(facts);

  // Read-only comes last, once the copy has its name: until then it must stay removable.
  attributes_ = facts.attributes & kCarriedAttributes;
  FILE_BASIC_INFO basic{};
  basic.LastWriteTime.QuadPart = LONGLONG(facts.writeTime);
  basic.FileAttributes =
      (attributes_ & ~FILE_ATTRIBUTE_READONLY) ? (attributes_ & ~FILE_ATTRIBUTE_READONLY) : FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(file_.get(), FileBasicInfo, &basic, sizeof basic) ||
      !CopyNamedStreams(source, path_, stop)) {
    KeepingError([this] { Discard(); });
    return false;
  }
  return true;
}

bool PendingCopy::Rename(const std::wstring& target, bool replace) {
  // The mark is off only for the rename itself, so a process killed at any
  // other moment leaves nothing.
  if (marked_ && !MarkForRemoval(false)) return false;
  const std::wstring name = L"\\??\\" + LongPath(target).substr(4);
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->RootDirectory = nullptr;
  info->FileNameLength = DWORD(name.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, name.data(), info->FileNameLength);
  bool renamed = false;
  // Where the system has it (Windows 10 1709 on), a replace with POSIX
  // semantics succeeds while others hold the old file open with delete sharing.
  static std::atomic<bool> posixReplace{true};
  if (replace && posixReplace) {
    info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    renamed = SetFileInformationByHandle(file_.get(), kFileRenameInfoEx, info, DWORD(buffer.size()));
    const DWORD error = GetLastError();
    if (!renamed && (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
                     error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED)) {
      posixReplace = false;  // not on this system: the classic rename below
    } else if (!renamed) {
      KeepingError([this] { MarkForRemoval(true); });
      return false;
    }
  }
  if (!renamed) {
    info->Flags = 0;
    info->ReplaceIfExists = replace;
    renamed = SetFileInformationByHandle(file_.get(), FileRenameInfo, info, DWORD(buffer.size()));
  }
  if (!renamed) KeepingError([this] { MarkForRemoval(true); });
  return renamed;
}

Placed PendingCopy::PlaceAs(const std::wstring& name, bool replace) {
  if (!file_.valid()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return Placed::Failed;
  }
  // A name longer than file systems hold: said as such, not as the "file not
  // found" that some systems give.
  if (name.size() > kLongestName) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return Placed::Failed;
  }
  const std::wstring target = ChildPath(folder_, name);
  Placed placed = Placed::New;
  if (!Rename(target, false)) {
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return Placed::Failed;
    if (!replace) return Placed::Taken;
    // Wine's rename replaces these, Windows' copy refuses them.
    const DWORD standing = GetFileAttributesW(SystemPath(target).c_str());
    if (standing != INVALID_FILE_ATTRIBUTES &&
        (standing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN))) {
      SetLastError(ERROR_ACCESS_DENIED);
      return Placed::Failed;
    }
    // The file standing there may be held for a moment (another copy that just
    // placed it and is closing it): the later copy wins once it lets go.
    bool replaced = Rename(target, true);
    for (int wait = 0; !replaced && wait < kHeldRetries; ++wait) {
      const DWORD error = GetLastError();
      if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) break;
      Sleep(5);
      replaced = Rename(target, true);
    }
    if (!replaced) {
      // Not read-only, not hidden, not a folder: the file is in use, which
      // may pass (a retry may take it).
      if (GetLastError() == ERROR_ACCESS_DENIED) SetLastError(ERROR_SHARING_VIOLATION);
      return Placed::Failed;
    }
    placed = Placed::Replaced;
  }
  if (attributes_ & FILE_ATTRIBUTE_READONLY) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes_;
    if (!SetFileInformationByHandle(file_.get(), FileBasicInfo, &basic, sizeof basic)) {
      file_ = FileHandle();  // the copy stands, without its read-only bit: said as a failure
      bytes_ = 0;
      return Placed::Failed;
    }
  }
  file_ = FileHandle();
  bytes_ = 0;
  return placed;
}

}  // namespace fs
