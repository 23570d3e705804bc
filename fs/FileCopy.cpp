#include "fs/FileCopy.h"

#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "common/Paths.h"
#include "fs/LateTimes.h"

namespace fs {
namespace {

constexpr wchar_t kTemporaryPrefix[] = L"~quillmere-";
constexpr wchar_t kTemporarySuffix[] = L".part";
// The old target while a copy takes its name on a volume that cannot
// replace by the copy's handle. Not a temporary: should we die between the
// two renames, it is the user's file and stays.
constexpr wchar_t kAsideSuffix[] = L".aside";
// Files go in chunks of 64 KiB: a stop is seen within one, and under Wine a
// larger read or write costs far more per byte (1 GiB on three copying threads:
// 0.3 s in 64 KiB chunks, 1.0 s in 256 KiB ones).
constexpr size_t kChunk = 64u << 10;
// What a copy takes over of its source's attribute bits.
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// The bits a fresh file lacks and a copy must be given.
constexpr DWORD kSetAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Windows 10's rename with flags; the headers name it only for newer targets.
constexpr auto kFileRenameInfoEx = FILE_INFO_BY_HANDLE_CLASS(22);

// How often a held target is tried again, 5 ms apart, before its copy fails.
constexpr int kHeldRetries = 20;

std::atomic<unsigned> g_temporaryCounter{0};

// Who makes a temporary: this computer, this process and when it started,
// so that a sweep knows whether its maker is gone (a process id alone may
// have been given to another process since).
struct Maker {
  std::wstring computer;
  DWORD process;
  uint64_t started;
};

uint64_t StartOf(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (uint64_t(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

const Maker& Me() {
  static const Maker me = [] {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    std::wstring computer = GetComputerNameW(name, &size) ? name : L"PC";
    return Maker{computer, GetCurrentProcessId(), StartOf(GetCurrentProcess())};
  }();
  return me;
}

std::wstring Hex(uint64_t value) {
  wchar_t text[17];
  swprintf(text, 17, L"%llx", static_cast<unsigned long long>(value));
  return text;
}

// "~quillmere-<computer>-<process>-<start>-<n><suffix>" in folder.
std::wstring TemporaryPath(const std::wstring& folder, const wchar_t* suffix) {
  const Maker& me = Me();
  return SystemPath(folder + kTemporaryPrefix + me.computer + L"-" + Hex(me.process) + L"-" + Hex(me.started) + L"-" +
                    std::to_wstring(g_temporaryCounter.fetch_add(1)) + suffix);
}

// An aside of the file that stands at name while a copy is written over it,
// on a volume that renames nothing: "~quillmere-<maker>-<n>-<hash of name>.aside".
std::wstring NameHash(const std::wstring& name) {
  uint64_t hash = 14695981039346656037ull;
  for (wchar_t c : CaseKey(name)) hash = (hash ^ uint64_t(c)) * 1099511628211ull;
  return Hex(hash);
}

std::wstring AsidePath(const std::wstring& folder, const std::wstring& name) {
  const std::wstring counted = TemporaryPath(folder, L"");
  return counted + L"-" + NameHash(name) + kAsideSuffix;
}

// The maker a temporary's name tells, read from the right (a computer's
// name may hold dashes); empty for a name of another shape.
std::optional<Maker> MakerOf(const std::wstring& name, size_t suffix = std::size(kTemporarySuffix) - 1) {
  const size_t prefix = std::size(kTemporaryPrefix) - 1;
  if (name.size() <= prefix + suffix) return std::nullopt;
  std::wstring rest = name.substr(prefix, name.size() - prefix - suffix);
  uint64_t fields[3];
  for (int i = 3; i-- > 0;) {  // counter, start, process
    const size_t dash = rest.rfind(L'-');
    if (dash == std::wstring::npos || dash + 1 == rest.size()) return std::nullopt;
    const std::wstring field = rest.substr(dash + 1);
    if (field.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos) return std::nullopt;
    fields[i] = wcstoull(field.c_str(), nullptr, i == 2 ? 10 : 16);
    rest.resize(dash);
  }
  if (rest.empty()) return std::nullopt;
  return Maker{rest, DWORD(fields[0]), fields[1]};
}

bool IsGone(const Maker& maker) {
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, maker.process);
  if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process; refused: alive
  const uint64_t started = StartOf(process);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return started != maker.started || code != STILL_ACTIVE;
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

bool Rewind(HANDLE file) {
  LARGE_INTEGER start{};
  return SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
}

bool Fail(DWORD code) {
  SetLastError(code);
  return false;
}

// Removes a file we just closed. A share's client lets go of a file a
// moment after it is closed, and until then refuses to remove it, or takes
// the removal and does not carry it out: it is looked for, and tried again.
bool RemoveClosed(const std::wstring& path) {
  for (int attempt = 0;; ++attempt) {
    const bool deleted = DeleteFileW(path.c_str());
    const DWORD error = GetLastError();
    if (IsAbsent(path)) return true;
    if (attempt == 40 || (!deleted && error != ERROR_LOCK_VIOLATION && error != ERROR_SHARING_VIOLATION))
      return Fail(deleted ? ERROR_LOCK_VIOLATION : error);
    Sleep(5);
  }
}


bool AllZero(const char* data, DWORD size) {
  return std::all_of(data, data + size, [](char c) { return c == 0; });
}

// The named streams of an open file (":name:$DATA"), asked of its handle.
std::vector<std::wstring> NamedStreamsOf(HANDLE file) {
  if (faults::Injected(faults::Step::SourceStream)) return {L":qm:$DATA"};  // a stream Wine cannot show
  std::vector<char> buffer(4096);
  while (!GetFileInformationByHandleEx(file, FileStreamInfo, buffer.data(), DWORD(buffer.size()))) {
    if (GetLastError() != ERROR_MORE_DATA || buffer.size() >= (1u << 20)) return {};  // none, or no streams there
    buffer.resize(buffer.size() * 4);
  }
  std::vector<std::wstring> names;
  for (size_t at = 0;;) {
    const auto* info = reinterpret_cast<const FILE_STREAM_INFO*>(buffer.data() + at);
    const std::wstring name(info->StreamName, info->StreamNameLength / sizeof(wchar_t));
    if (!name.empty() && name != L"::$DATA") names.push_back(name);
    if (!info->NextEntryOffset) return names;
    at += info->NextEntryOffset;
  }
}

}  // namespace

bool ReadChunks(HANDLE from, uint64_t length, const StopSignal* stop,
                const std::function<bool(const char*, DWORD)>& take, bool* changed) {
  std::vector<char>& buffer = Buffer();
  uint64_t left = length;
  for (;;) {
    if (stop && stop->Requested()) return Fail(ERROR_OPERATION_ABORTED);
    DWORD got = 0;
    // At the length it began with, one byte more tells whether it grew.
    const DWORD wanted = left == 0 ? 1 : DWORD(std::min<uint64_t>(kChunk, left));
    if (!ReadFile(from, buffer.data(), wanted, &got, nullptr)) return false;
    if (left == 0 || got == 0) {
      if (changed) *changed = length != UINT64_MAX && (got != 0 || left != 0);
      return true;
    }
    left -= got;
    if (!take(buffer.data(), got)) return false;
  }
}

bool OpenSource(const std::wstring& path, const Entry* listed, SourceFile& source) {
  source.handle = OpenToRead(path);
  if (!source.handle.valid()) return false;
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  if (GetFileInformationByHandleEx(source.handle.get(), FileBasicInfo, &basic, sizeof basic) &&
      GetFileInformationByHandleEx(source.handle.get(), FileStandardInfo, &standard, sizeof standard)) {
    source.facts.attributes = basic.FileAttributes;
    source.facts.writeTime = uint64_t(basic.LastWriteTime.QuadPart);
    source.facts.accessTime = uint64_t(basic.LastAccessTime.QuadPart);
    source.facts.size = uint64_t(standard.EndOfFile.QuadPart);
  } else if (listed) {
    source.facts = *listed;
  } else {
    source.handle = FileHandle();
    return false;
  }
  if (const auto extra = faults::Injected(faults::Step::SourceAttributes)) source.facts.attributes |= *extra;
  source.streams = NamedStreamsOf(source.handle.get());
  return true;
}

namespace {

// Writes one chunk; a sparse copy leaves a hole for a chunk of zeros.
bool WriteChunk(HANDLE to, const char* data, DWORD size, bool sparse, bool& skipped) {
  if (sparse && AllZero(data, size)) {
    LARGE_INTEGER step;
    step.QuadPart = size;
    skipped = true;
    return SetFilePointerEx(to, step, nullptr, FILE_CURRENT);
  }
  skipped = false;
  DWORD put = 0;
  if (WriteFile(to, data, size, &put, nullptr) && put == size) return true;
  if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_DISK_FULL);
  return false;
}

// Copies one open file's data into another, chunk by chunk, up to the
// length given (all of it by default); false on a failure or a stop. A
// sparse copy sets its length at the end, after its holes.
bool CopyData(HANDLE from, HANDLE to, const StopSignal* stop, bool sparse, const std::function<void(DWORD)>& written,
              uint64_t length = UINT64_MAX, bool* changed = nullptr) {
  bool skipped = false;
  const bool copied = ReadChunks(
      from, length, stop,
      [&](const char* data, DWORD size) {
        if (!WriteChunk(to, data, size, sparse, skipped)) return false;
        if (written) written(size);
        return true;
      },
      changed);
  return copied && (!skipped || SetEndOfFile(to));
}

// The source's named streams (a download's Zone.Identifier, say), as the
// system's own copy carries them. Copied before the temporary is marked for
// removal: Windows refuses to open any stream of a file so marked.
bool CopyNamedStreams(const std::wstring& source, const std::vector<std::wstring>& streams,
                      const std::wstring& temporary, bool marked, const StopSignal* stop) {
  for (const std::wstring& stream : streams) {
    const std::wstring name = stream.substr(0, stream.rfind(L':'));  // ":name"
    if (marked && faults::Injected(faults::Step::MarkedRefusesOpen)) return Fail(ERROR_ACCESS_DENIED);
    const FileHandle from = OpenToRead(LongPath(source) + name);
    FileHandle to(CreateFileW((temporary + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    if (!from.valid() || !to.valid() || !CopyData(from.get(), to.get(), stop, false, nullptr)) return false;
  }
  return true;
}


bool IsTaken(DWORD error) { return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS; }

// A refusal that may only mean the file system will not rename a file still
// open (a share answers "busy", which Wine calls a lock violation). Learned
// as such only when the rename by name then succeeds.
bool MayRefuseOpenRename(DWORD error) {
  return IsNotSupported(error) || error == ERROR_LOCK_VIOLATION || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

// Read-back tolerance: a time within this of what was set was kept, rounded
// to the volume's unit.
constexpr uint64_t kRounding = kCoarsestTimeUnit;

uint64_t Distance(uint64_t a, uint64_t b) { return a > b ? a - b : b - a; }

}  // namespace

bool IsTemporaryName(const std::wstring& name) {
  const size_t prefix = std::size(kTemporaryPrefix) - 1, suffix = std::size(kTemporarySuffix) - 1;
  return name.size() > prefix + suffix && SameTextIgnoreCase(name.substr(0, prefix), kTemporaryPrefix) &&
         SameTextIgnoreCase(name.substr(name.size() - suffix), kTemporarySuffix);
}

size_t SweepTemporaries(const std::wstring& folder) {
  const auto listed =
      ListMatches(folder + kTemporaryPrefix + L"*" + kTemporarySuffix, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  if (!listed) return 0;
  size_t swept = 0;
  for (const Entry& entry : *listed) {
    if (!IsTemporaryName(entry.name)) continue;
    const auto maker = MakerOf(entry.name);
    if (!maker || !SameTextIgnoreCase(maker->computer, Me().computer) || !IsGone(*maker)) continue;
    const std::wstring path = ChildPath(folder, entry.name);
    // Shares nothing: a file someone still has open stays.
    FileHandle file(CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) continue;
    FILE_DISPOSITION_INFO disposition{TRUE};
    SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
    file = FileHandle();
    // Where the system did not carry the disposition out (a share), by name.
    if (RemoveClosed(path)) ++swept;
  }
  return swept;
}

namespace {
// The old bytes a dead process kept aside for name are stale once a whole
// copy stands there again.
void RemoveDeadAsides(const std::wstring& folder, const std::wstring& name) {
  const std::wstring tail = L"-" + NameHash(name) + kAsideSuffix;
  const auto listed = ListMatches(folder + kTemporaryPrefix + L"*" + tail, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  if (!listed) return;
  for (const Entry& entry : *listed) {
    if (entry.name.size() <= tail.size()) continue;
    const auto maker = MakerOf(entry.name.substr(0, entry.name.size() - tail.size()) + kTemporarySuffix);
    if (maker && SameTextIgnoreCase(maker->computer, Me().computer) && IsGone(*maker))
      RemoveClosed(ChildPath(folder, entry.name));
  }
}

}  // namespace

PendingCopy::~PendingCopy() {
  if (!path_.empty() || !spent_.empty() || from_.valid()) KeepingError([this] { Discard(); });
}

bool PendingCopy::MarkForRemoval(bool remove) {
  FILE_DISPOSITION_INFO disposition{BOOLEAN(remove)};
  if (!SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition, sizeof disposition)) return false;
  marked_ = remove;
  return true;
}

void PendingCopy::Close() {
  if (marked_) MarkForRemoval(false);
  file_ = FileHandle();
}

void PendingCopy::Discard() {
  if (file_.valid() && !marked_) MarkForRemoval(true);
  file_ = FileHandle();
  // What the system did not remove as the handle closed (a share refuses to
  // remove an open file), or a copy closed before its rename.
  if (!path_.empty()) RemoveClosed(path_);
  path_.clear();
  from_ = FileHandle();
  if (!spent_.empty()) RemoveClosed(spent_);
  spent_.clear();
  if (written_ && bytes_) written_(-bytes_);
  bytes_ = 0;
}

bool PendingCopy::CreateTemporary(DWORD attributes) {
  // An encrypted source is written into a file the system encrypts, never
  // in the clear; where it cannot be, the copy is refused.
  const bool encrypted = attributes & FILE_ATTRIBUTE_ENCRYPTED;
  const DWORD flags = (encrypted ? FILE_ATTRIBUTE_ENCRYPTED : FILE_ATTRIBUTE_NORMAL) | FILE_FLAG_SEQUENTIAL_SCAN;
  // Made new, never an existing file.
  for (int attempt = 0; !file_.valid(); ++attempt) {
    path_ = TemporaryPath(folder_, kTemporarySuffix);
    file_ = FileHandle(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                   flags, nullptr));
    const DWORD error = GetLastError();
    if (!file_.valid() && (attempt == 8 || !IsTaken(error))) {
      path_.clear();
      return false;
    }
  }
  if (encrypted) {
    FILE_BASIC_INFO made;
    if (!GetFileInformationByHandleEx(file_.get(), FileBasicInfo, &made, sizeof made) ||
        !(made.FileAttributes & FILE_ATTRIBUTE_ENCRYPTED))
      return Fail(ERROR_ENCRYPTION_FAILED);
  }
  // A sparse source stays sparse where the volume allows; elsewhere it is written whole.
  if (attributes & FILE_ATTRIBUTE_SPARSE_FILE) {
    DWORD returned = 0;
    if (!DeviceIoControl(file_.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr))
      attributes_ &= ~FILE_ATTRIBUTE_SPARSE_FILE;
  }
  return true;
}

// The access and write times are set together: some drivers (FAT32 and
// exFAT through FUSE) report a write time set alone as set, and drop it.
bool PendingCopy::SetTimes(HANDLE file) {
  if (!volume_->keepsTimes) {
    losses_ |= kLostTimes;
    return true;
  }
  if (SetFileTimes(file, facts_.writeTime, facts_.accessTime)) return true;
  if (!IsNotSupported(GetLastError())) return false;
  volume_->keepsTimes = false;
  losses_ |= kLostTimes;
  return true;
}

// Hidden and system before the rename (a fresh file has none); read-only
// after it, since until then the copy must stay removable.
bool PendingCopy::SetCarriedAttributes() {
  const DWORD wanted = attributes_ & kSetAttributes;
  if (!wanted) return true;
  if (!volume_->keepsAttributes) {
    losses_ |= kLostAttributes;
    return true;
  }
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = attributes_ & ~FILE_ATTRIBUTE_READONLY;
  const auto injected = faults::Injected(faults::Step::SetAttributes);
  if (injected ? Fail(*injected) : SetFileInformationByHandle(file_.get(), FileBasicInfo, &basic, sizeof basic))
    return true;
  if (!IsNotSupported(GetLastError())) return false;
  volume_->keepsAttributes = false;
  losses_ |= kLostAttributes;
  return true;
}

bool PendingCopy::Write(const std::wstring& source, const std::wstring& targetFolder, const Entry* listed,
                        const StopSignal* stop, const std::function<void(int64_t)>& written) {
  SourceFile from;
  if (!OpenSource(source, listed, from) ||
      !Start(source, targetFolder, from.facts, from.streams, stop, written, &from.handle))
    return false;
  if (from_.valid()) return true;  // written when placed
  bool changed = false;
  if (!ReadChunks(
          from.handle.get(), facts_.size, stop, [this](const char* data, DWORD size) { return Append(data, size); },
          &changed)) {
    KeepingError([this] { Discard(); });
    return false;
  }
  return End(changed);
}

bool PendingCopy::Begin(const std::wstring& source, const std::wstring& targetFolder, const Entry& facts,
                        const std::vector<std::wstring>& streams, const StopSignal* stop,
                        const std::function<void(int64_t)>& written) {
  return Start(source, targetFolder, facts, streams, stop, written, nullptr);
}

bool PendingCopy::Start(const std::wstring& source, const std::wstring& targetFolder, const Entry& facts,
                        const std::vector<std::wstring>& streams, const StopSignal* stop,
                        const std::function<void(int64_t)>& written, FileHandle* opened) {
  written_ = written;
  folder_ = targetFolder;
  volume_ = &TraitsOf(targetFolder);
  facts_ = facts;
  attributes_ = facts_.attributes & (kCarriedAttributes | FILE_ATTRIBUTE_SPARSE_FILE);
  stop_ = stop;
  skipped_ = false;
  if (volume_->renamesNothing) {  // written when placed, under its own name, from its own read
    from_ = opened ? std::move(*opened) : OpenToRead(source);
    return from_.valid();
  }
  if (!CreateTemporary(facts_.attributes)) {
    if (!path_.empty()) KeepingError([this] { Discard(); });
    return false;
  }
  if (!CopyNamedStreams(source, streams, path_, marked_, stop)) {
    KeepingError([this] { Discard(); });
    return false;
  }
  // Removed by the system should we die from here on; where it cannot be,
  // Discard removes it by name, and a later run sweeps what a death left.
  MarkForRemoval(true);
  return true;
}

bool PendingCopy::Append(const char* data, DWORD size) {
  if (from_.valid()) return true;  // it reads its source itself
  if (!file_.valid()) return Fail(ERROR_INVALID_HANDLE);
  if (!WriteChunk(file_.get(), data, size, attributes_ & FILE_ATTRIBUTE_SPARSE_FILE, skipped_)) {
    KeepingError([this] { Discard(); });
    return false;
  }
  bytes_ += size;
  if (written_) written_(size);
  return true;
}

bool PendingCopy::End(bool changed) {
  if (from_.valid()) return true;
  changed_ = changed;  // the copy holds what it began with, and that time
  if (file_.valid() && (!skipped_ || SetEndOfFile(file_.get())) && SetTimes(file_.get()) && SetCarriedAttributes())
    return true;
  KeepingError([this] { Discard(); });
  return false;
}

bool PendingCopy::RenameByHandle(const std::wstring& target, bool replace) {
  if (const auto refused = faults::Injected(faults::Step::RenameOpenFile)) return Fail(*refused);
  // The mark is off only for the rename itself, so a process killed at any
  // other moment leaves nothing.
  if (marked_ && !MarkForRemoval(false)) return false;
  const std::wstring name = L"\\??\\" + LongPath(target).substr(4);
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->RootDirectory = nullptr;
  info->FileNameLength = DWORD(name.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, name.data(), info->FileNameLength);
  bool renamed = false, tried = false;
  // Where the volume has it, a replace with POSIX semantics succeeds while
  // others hold the old file open with delete sharing.
  if (replace && volume_->posixRename) {
    info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    const auto injected = faults::Injected(faults::Step::PosixRename);
    renamed = injected ? Fail(*injected)
                       : SetFileInformationByHandle(file_.get(), kFileRenameInfoEx, info, DWORD(buffer.size()));
    if (!renamed && IsNotSupported(GetLastError()))
      volume_->posixRename = false;  // not on this volume: the classic rename below
    else
      tried = true;
  }
  if (!tried) {
    info->Flags = 0;
    info->ReplaceIfExists = replace;
    renamed = SetFileInformationByHandle(file_.get(), FileRenameInfo, info, DWORD(buffer.size()));
  }
  if (!renamed) KeepingError([this] { MarkForRemoval(true); });
  return renamed;
}

// Without replacing: by the handle, or, on a volume that will not rename an
// open file, closed and by name. Either way a name that is taken stays.
bool PendingCopy::Rename(const std::wstring& target) {
  bool renamed;
  if (file_.valid() && volume_->renamesOpenFiles) {
    renamed = RenameByHandle(target, false);
    if (!renamed && MayRefuseOpenRename(GetLastError())) {
      Close();
      renamed = MoveByName(path_, target);
      // Closed, the rename went or reached its decision (the name is taken):
      // the volume refuses to rename open files.
      if (renamed || IsTaken(GetLastError())) volume_->renamesOpenFiles = false;
    }
  } else {
    Close();
    renamed = MoveByName(path_, target);
  }
  if (renamed) volume_->renamesProven = true;
  return renamed;
}

// A rename by name. Where even a closed file of ours is refused (no taken
// name, nobody else's file), the volume renames nothing.
bool PendingCopy::MoveByName(const std::wstring& from, const std::wstring& to) {
  const auto injected = faults::Injected(faults::Step::RenameByName);
  // A share's client lets go of a file a moment after it is closed: a
  // refusal counts only when it holds.
  for (int attempt = 0;; ++attempt) {
    if (injected ? Fail(*injected) : MoveFileExW(from.c_str(), SystemPath(to).c_str(), 0)) return true;
    const DWORD error = GetLastError();
    const bool refused = from == path_ && (IsNotSupported(error) || error == ERROR_LOCK_VIOLATION);
    if (!refused) return Fail(error);
    if (attempt == 10) {
      volume_->renamesNothing = true;
      return Fail(error);
    }
    Sleep(5);
  }
}

// The old file keeps the target's name until the copy can take it: moved
// aside, the copy renamed into the free name, the old file removed; moved
// back should the copy not go. No replacing rename is used: Wine's removes
// the old file first and loses it when the rename then fails.
bool PendingCopy::ReplaceViaAside(const std::wstring& target) {
  const std::wstring targetPath = SystemPath(target), aside = TemporaryPath(folder_, kAsideSuffix);
  if (!MoveFileExW(targetPath.c_str(), aside.c_str(), 0)) {
    const DWORD error = GetLastError();
    // Refused as our own file would be? Then the volume renames nothing.
    if (error == ERROR_LOCK_VIOLATION || IsNotSupported(error)) {
      Close();
      const std::wstring moved = TemporaryPath(folder_, kTemporarySuffix);
      if (MoveByName(path_, moved)) path_ = moved;
    }
    return Fail(error);
  }
  if (!Rename(target)) {
    KeepingError([&] { MoveFileExW(aside.c_str(), targetPath.c_str(), 0); });
    return false;
  }
  RemoveClosed(aside);
  return true;
}

// Over the file standing there: by the handle in one rename where this
// volume has been seen to rename (Windows does it at once), else by way of
// the aside.
bool PendingCopy::Replace(const std::wstring& target) {
  if (file_.valid() && volume_->renamesOpenFiles && volume_->renamesProven) {
    if (RenameByHandle(target, true)) return true;
    // A target held by another program gives the same codes: by way of
    // the aside it then fails alike, and nothing is learned.
    if (!MayRefuseOpenRename(GetLastError())) return false;
  }
  return ReplaceViaAside(target);
}

Placed PendingCopy::PlaceAs(const std::wstring& name, bool replace) {
  if (path_.empty() && !from_.valid()) {
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
  if (from_.valid()) return PlaceInPlace(target, replace);
  // Once the volume is found to rename nothing, the finished temporary is
  // the data, written again under the name.
  auto inPlace = [&] {
    Close();
    spent_ = std::move(path_);
    path_.clear();
    from_ = OpenToRead(spent_);
    return from_.valid() ? PlaceInPlace(target, replace) : Placed::Failed;
  };
  // A replace asks first what stands when the last one on this thread found
  // a file there (a copy over an earlier copy): a look and one rename, where
  // a rename that fails first, a look and a second rename would cost twice.
  thread_local bool lastReplaceFoundOne = false;
  DWORD standing = INVALID_FILE_ATTRIBUTES;
  const bool lookFirst = replace && lastReplaceFoundOne;
  if (lookFirst) standing = GetFileAttributesW(SystemPath(target).c_str());
  if (standing == INVALID_FILE_ATTRIBUTES) {
    if (Rename(target)) {
      if (replace) lastReplaceFoundOne = false;
      return Finish(target, Placed::New);
    }
    if (volume_->renamesNothing) return inPlace();
    if (!IsTaken(GetLastError())) return Placed::Failed;
    if (!replace) return Placed::Taken;
    lastReplaceFoundOne = true;
    standing = GetFileAttributesW(SystemPath(target).c_str());
  }
  // Wine's rename replaces a read-only file, Windows refuses it. Hidden and
  // system bits hide a file, they do not protect it: it is replaced.
  if (standing != INVALID_FILE_ATTRIBUTES && (standing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return Placed::Failed;
  }
  // The file standing there may be held for a moment (another copy that just
  // placed it and is closing it): the later copy wins once it lets go.
  bool replaced = Replace(target);
  for (int wait = 0; !replaced && wait < kHeldRetries; ++wait) {
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) break;
    Sleep(5);
    replaced = Replace(target);
  }
  if (!replaced && volume_->renamesNothing) return inPlace();
  if (!replaced) {
    // Not read-only, not a folder: the file is in use, which
    // may pass (a retry may take it).
    if (GetLastError() == ERROR_ACCESS_DENIED) SetLastError(ERROR_SHARING_VIOLATION);
    return Placed::Failed;
  }
  return Finish(target, Placed::Replaced);
}

// On a volume that renames nothing, the copy is made under its own name:
// made new (what stands there is decided at the making), marked for
// removal until it is whole. A replace writes the data into a temporary
// first, so that a stop or a failed read never touches the old file.
Placed PendingCopy::PlaceInPlace(const std::wstring& target, bool replace) {
  const std::function<void(DWORD)> counted = [this](DWORD got) {
    bytes_ += got;
    if (written_) written_(got);
  };
  const bool counting = bytes_ == 0;  // the data was not written yet
  const bool sparse = attributes_ & FILE_ATTRIBUTE_SPARSE_FILE;
  // An encrypted source is written encrypted here too, or not at all.
  const bool encrypted = facts_.attributes & FILE_ATTRIBUTE_ENCRYPTED;
  file_ = FileHandle(CreateFileW(SystemPath(target).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                 CREATE_NEW,
                                 (encrypted ? FILE_ATTRIBUTE_ENCRYPTED : FILE_ATTRIBUTE_NORMAL) | FILE_FLAG_SEQUENTIAL_SCAN,
                                 nullptr));
  if (file_.valid()) {
    path_ = SystemPath(target);
    FILE_BASIC_INFO made;
    if (encrypted && (!GetFileInformationByHandleEx(file_.get(), FileBasicInfo, &made, sizeof made) ||
                      !(made.FileAttributes & FILE_ATTRIBUTE_ENCRYPTED))) {
      KeepingError([this] { Discard(); });
      SetLastError(ERROR_ENCRYPTION_FAILED);
      return Placed::Failed;
    }
    MarkForRemoval(true);
    bool changed = false;
    if (!Rewind(from_.get()) ||
        !CopyData(from_.get(), file_.get(), stop_, sparse, counting ? counted : nullptr, facts_.size, &changed) ||
        !SetTimes(file_.get()) || !SetCarriedAttributes() || (marked_ && !MarkForRemoval(false))) {
      KeepingError([this] { Discard(); });
      return Placed::Failed;
    }
    changed_ |= changed;
    from_ = FileHandle();  // a share will not remove a file still open
    if (!spent_.empty()) RemoveClosed(spent_);
    spent_.clear();
    RemoveDeadAsides(folder_, NamePart(target));
    return Finish(target, Placed::New);
  }
  if (!IsTaken(GetLastError())) return Placed::Failed;
  if (!replace) return Placed::Taken;
  const DWORD standing = GetFileAttributesW(SystemPath(target).c_str());
  if (standing != INVALID_FILE_ATTRIBUTES && (standing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
    return SetLastError(ERROR_ACCESS_DENIED), Placed::Failed;
  if (spent_.empty()) {  // the data into a temporary of its own first
    if (!CreateTemporary(attributes_)) return Placed::Failed;
    MarkForRemoval(true);
    bool changed = false;
    if (!Rewind(from_.get()) || !CopyData(from_.get(), file_.get(), stop_, false, counted, facts_.size, &changed)) {
      KeepingError([this] { Discard(); });
      return Placed::Failed;
    }
    changed_ |= changed;
    Close();
    spent_ = std::move(path_);
    path_.clear();
    from_ = OpenToRead(spent_);
    if (!from_.valid()) return Placed::Failed;
  }
  if (!WriteOver(target, standing)) return Placed::Failed;
  from_ = FileHandle();
  RemoveClosed(spent_);
  spent_.clear();
  RemoveDeadAsides(folder_, NamePart(target));
  return Finish(target, Placed::Replaced);
}

// Writes the copy's data over the file standing at target, its old bytes
// kept aside and written back should the write fail.
bool PendingCopy::WriteOver(const std::wstring& target, DWORD standing) {
  const std::wstring targetPath = SystemPath(target), aside = AsidePath(folder_, NamePart(target));
  const auto old = Look(target);
  {
    const FileHandle oldData = OpenToRead(target);
    FileHandle kept(CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    if (!oldData.valid() || !kept.valid() || !CopyData(oldData.get(), kept.get(), nullptr, false, nullptr)) {
      KeepingError([&] {
        kept = FileHandle();
        RemoveClosed(aside);
      });
      return false;
    }
  }
  auto overwrite = [&](HANDLE data) {
    // A hidden or system file is opened with its own bits, or Windows refuses to truncate it.
    const DWORD bits = standing == INVALID_FILE_ATTRIBUTES ? 0 : standing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    file_ = FileHandle();  // a handle of ours still on it would bar the opening
    file_ = FileHandle(CreateFileW(targetPath.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                   TRUNCATE_EXISTING, bits | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return file_.valid() && Rewind(data) && CopyData(data, file_.get(), nullptr, false, nullptr);
  };
  // The copy takes the source's bits, not the old file's hidden or system ones.
  auto clearOldBits = [&] {
    if ((attributes_ & kSetAttributes) || standing == INVALID_FILE_ATTRIBUTES ||
        !(standing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) || !volume_->keepsAttributes)
      return true;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return bool(SetFileInformationByHandle(file_.get(), FileBasicInfo, &basic, sizeof basic));
  };
  const bool written = overwrite(from_.get());
  if (!written && !file_.valid()) {  // not opened: the old file is untouched
    KeepingError([&] { RemoveClosed(aside); });
    return false;
  }
  // Written out before the old bytes go: a share's client writes as it closes.
  if (written && SetTimes(file_.get()) && SetCarriedAttributes() && clearOldBits() && FlushFileBuffers(file_.get())) {
    RemoveClosed(aside);
    return true;
  }
  KeepingError([&] {
    bool restored = false;
    {
      const FileHandle keptData = OpenToRead(aside);
      restored = keptData.valid() && overwrite(keptData.get());
      if (restored && old) SetFileTimes(file_.get(), old->writeTime, old->accessTime);
      file_ = FileHandle();
    }
    if (restored) RemoveClosed(aside);  // put back whole; else the old bytes stay aside
  });
  return false;
}

// The copy has its name: the read-only bit, and the check that its time held.
Placed PendingCopy::Finish(const std::wstring& target, Placed placed) {
  path_.clear();
  bytes_ = 0;
  bool failed = false;
  if (attributes_ & FILE_ATTRIBUTE_READONLY) {
    if (!volume_->keepsAttributes) {
      losses_ |= kLostAttributes;
    } else {
      FILE_BASIC_INFO basic{};
      basic.FileAttributes = attributes_ & kCarriedAttributes;
      const auto injected = faults::Injected(faults::Step::SetAttributes);
      const bool set = injected               ? Fail(*injected)
                       : file_.valid()        ? SetFileInformationByHandle(file_.get(), FileBasicInfo, &basic,
                                                                           sizeof basic)
                                              : SetFileAttributesW(SystemPath(target).c_str(), basic.FileAttributes);
      if (!set && IsNotSupported(GetLastError())) {
        volume_->keepsAttributes = false;
        losses_ |= kLostAttributes;
      } else if (!set) {
        failed = true;  // the copy stands, without its read-only bit: said as a failure
      }
    }
  }
  KeepingError([this] { file_ = FileHandle(); });
  // Some drivers report bits as set and keep none (exFAT through FUSE): the
  // first copy on a volume that carries some reads them back.
  const DWORD shown = attributes_ & (kSetAttributes | FILE_ATTRIBUTE_READONLY) & ~FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (shown && volume_->keepsAttributes && !volume_->attributesChecked.exchange(true)) {
    KeepingError([&] {
      const auto look = Look(target);
      if (look && (look->attributes & shown) != shown) {
        volume_->keepsAttributes = false;
        losses_ |= kLostAttributes;
      }
    });
  }
  // A client that will not rename an open file writes it out as it lets go
  // of it, a moment after the close, and stamps it then (the share here):
  // its times are set on the closed file, now and after that moment. Its
  // cache hides that from a read-back for a second, so this is not learned.
  if (volume_->renamesNothing) volume_->timesAfterClose = true;
  if (volume_->keepsTimes) {
    if (volume_->timesAfterClose)
      KeepingError([&] { SetTimesNowAndLater(target, volume_->root, facts_.writeTime, facts_.accessTime); });
    if (!volume_->timesChecked) KeepingError([&] { CheckTimesKept(target); });
  } else {
    losses_ |= kLostTimes;
  }
  return failed ? Placed::Failed : placed;
}

// Once per volume, the time of a placed copy is read back: it tells the
// unit the volume keeps times in, and whether it keeps them at all. A time
// that did not hold is set once more on the closed file (some file systems
// write the time of the close); when that holds, every copy there gets it so.
void PendingCopy::CheckTimesKept(const std::wstring& target) {
  const uint64_t wanted = facts_.writeTime;
  auto kept = [&] {
    const auto look = Look(target);
    return look && Distance(look->writeTime, wanted) <= kRounding ? look : std::optional<Entry>();
  };
  auto seen = kept();
  if (!seen) {
    if (!SetTimesOfClosed(target, facts_.writeTime, facts_.accessTime)) return;  // learned nothing
    seen = kept();
    if (!seen) {
      volume_->keepsTimes = false;
      volume_->timesChecked = true;
      losses_ |= kLostTimes;
      return;
    }
    volume_->timesAfterClose = true;
  }
  // Only a time with a part of a second shows how finely it is kept.
  if (wanted % kTicksPerSecond == 0) return;
  const uint64_t off = Distance(seen->writeTime, wanted);
  volume_->timeUnit = off == 0 ? 1 : (off < kTicksPerSecond ? kTicksPerSecond : kCoarsestTimeUnit);
  volume_->timesChecked = true;
}

}  // namespace fs
