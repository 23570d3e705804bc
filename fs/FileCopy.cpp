#include "fs/FileCopy.h"

#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/AppError.h"
#include "common/Paths.h"
#include "fs/InPlaceWrite.h"
#include "fs/LateTimes.h"
#include "fs/OwnFiles.h"
#include "fs/Steps.h"

namespace fs {
namespace {

// Files go in chunks of 64 KiB: a stop is seen within one, and under Wine a
// larger read or write costs far more per byte (1 GiB on three copying threads:
// 0.23 s in 64 KiB chunks, 0.21 s in 128 KiB, 0.75 s in 256 KiB, 0.99 s in 1 MiB;
// onto the FUSE kinds 128 KiB was no better).
constexpr size_t kChunk = 64u << 10;
// What a copy takes over of its source's attribute bits.
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// The bits a fresh file lacks and a copy must be given.
constexpr DWORD kSetAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// How often a held target is tried again, 5 ms apart, before its copy fails.
constexpr int kHeldRetries = 20;

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
    // A device may fail a read without a code: said as a read fault, never "success".
    if (!ReadFile(from, buffer.data(), wanted, &got, nullptr)) return Fail(LastErrorOr(ERROR_READ_FAULT));
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
bool WriteChunk(HANDLE to, const char* data, DWORD size, bool sparse, bool& skipped, const std::wstring& folder) {
  if (sparse && AllZero(data, size)) {
    LARGE_INTEGER step;
    step.QuadPart = size;
    skipped = true;
    return SetFilePointerEx(to, step, nullptr, FILE_CURRENT);
  }
  skipped = false;
  return WriteAllOf(to, data, size, folder);
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
        if (!WriteChunk(to, data, size, sparse, skipped, L"")) return false;
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


}  // namespace

PendingCopy::~PendingCopy() {
  if (stage_ != Stage::Empty && stage_ != Stage::Placed) KeepingError([this] { Discard(); });
}

bool PendingCopy::MarkForRemoval(bool remove) {
  FILE_DISPOSITION_INFO disposition{BOOLEAN(remove)};
  if (!SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition, sizeof disposition)) return false;
  marked_ = remove;
  return true;
}

void PendingCopy::Discard() {
  if (file_.valid() && !marked_) MarkForRemoval(true);
  file_ = FileHandle();
  // What the system did not remove as the handle closed (a share refuses to
  // remove an open file), or a copy closed before its rename.
  if (!temporary_.empty()) RemoveClosed(temporary_);
  temporary_.clear();
  source_ = FileHandle();
  if (written_ && bytes_) written_(-bytes_);
  bytes_ = 0;
  stage_ = Stage::Empty;
}

bool PendingCopy::CreateTemporary() {
  // An encrypted source is written into a file the system encrypts, never
  // in the clear; where it cannot be, the copy is refused.
  const bool encrypted = facts_.attributes & FILE_ATTRIBUTE_ENCRYPTED;
  const DWORD flags = (encrypted ? FILE_ATTRIBUTE_ENCRYPTED : FILE_ATTRIBUTE_NORMAL) | FILE_FLAG_SEQUENTIAL_SCAN;
  // Made new, never an existing file.
  for (int attempt = 0; !file_.valid(); ++attempt) {
    temporary_ = OwnFilePath(folder_, OwnKind::Part);
    file_ = FileHandle(CreateFileW(temporary_.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                   flags, nullptr));
    const DWORD error = GetLastError();
    if (!file_.valid() && (attempt == 8 || !IsTaken(error))) {
      temporary_.clear();
      return false;
    }
  }
  stage_ = Stage::Writing;
  if (encrypted) {
    FILE_BASIC_INFO made;
    if (!GetFileInformationByHandleEx(file_.get(), FileBasicInfo, &made, sizeof made) ||
        !(made.FileAttributes & FILE_ATTRIBUTE_ENCRYPTED))
      return Fail(ERROR_ENCRYPTION_FAILED);
  }
  // A sparse source stays sparse where the volume allows; elsewhere it is written whole.
  if (attributes_ & FILE_ATTRIBUTE_SPARSE_FILE) {
    DWORD returned = 0;
    if (!DeviceIoControl(file_.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr))
      attributes_ &= ~FILE_ATTRIBUTE_SPARSE_FILE;
  }
  return true;
}

bool PendingCopy::Write(const std::wstring& source, const std::wstring& targetFolder, const Entry* listed,
                        const StopSignal* stop, const std::function<void(int64_t)>& written, const Entry* begun) {
  SourceFile from;
  if (!OpenSource(source, listed, from)) return false;
  if (begun) from.facts = *begun;
  if (!Start(source, targetFolder, from.facts, from.streams, stop, written, &from.handle)) return false;
  if (stage_ == Stage::AtPlacing) return true;  // written when placed
  bool changed = false;
  std::optional<Hasher> hasher;
  if (verifying_) hasher.emplace();
  if (!ReadChunks(
          from.handle.get(), facts_.size, stop,
          [&](const char* data, DWORD size) {
            if (hasher) hasher->Add(data, size);
            return Append(data, size);
          },
          &changed)) {
    KeepingError([this] { Discard(); });
    return false;
  }
  if (hasher) hash_ = hasher->Result();
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
  facts_ = facts;
  attributes_ = facts_.attributes & (kCarriedAttributes | FILE_ATTRIBUTE_SPARSE_FILE);
  stop_ = stop;
  skipped_ = false;
  volume_ = &ProbedTraitsOf(targetFolder);
  if (volume_->renamesNothing) {  // written when placed, under its own name, from its own read
    if (!bytes_held_) source_ = opened ? std::move(*opened) : OpenToRead(source);
    if (!bytes_held_ && !source_.valid()) return false;
    stage_ = Stage::AtPlacing;
    return true;
  }
  if (!CreateTemporary() || !CopyNamedStreams(source, streams, temporary_, marked_, stop)) {
    KeepingError([this] { Discard(); });
    return false;
  }
  // Removed by the system should we die from here on; where it cannot be,
  // Discard removes it by name, and a later run sweeps what a death left.
  MarkForRemoval(true);
  return true;
}

bool PendingCopy::BeginBytes(const std::string& bytes, const std::wstring& targetFolder) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t time = (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  bytes_held_ = &bytes;
  return Start(L"", targetFolder, Entry{L"", 0, bytes.size(), time, time}, {}, nullptr, nullptr, nullptr);
}

bool PendingCopy::Append(const char* data, DWORD size) {
  if (stage_ == Stage::AtPlacing) return true;  // it reads its source itself
  if (stage_ != Stage::Writing) return Fail(ERROR_INVALID_HANDLE);
  if (!WriteChunk(file_.get(), data, size, attributes_ & FILE_ATTRIBUTE_SPARSE_FILE, skipped_, folder_)) {
    KeepingError([this] { Discard(); });
    return false;
  }
  bytes_ += size;
  if (written_) written_(size);
  return true;
}

bool PendingCopy::End(bool changed) {
  if (stage_ == Stage::AtPlacing) return true;
  if (stage_ != Stage::Writing) return Fail(ERROR_INVALID_HANDLE);
  changed_ = changed;  // the copy holds what it began with, and that time
  bool done = !skipped_ || SetEndOfFile(file_.get());
  // What is read back must come from the device, not from what the system still holds to write.
  if (done && verifying_) done = FlushFileBuffers(file_.get());
  // Access and write times together: some drivers drop a write time set alone.
  if (done && volume_->keepsTimes) done = SetFileTimes(file_.get(), facts_.writeTime, facts_.accessTime);
  // Hidden and system before the rename (a fresh file has none); read-only
  // after it, since until then the copy must stay removable.
  const DWORD kept = volume_->keptAttributes;
  if (done && kept && volume_->Keepable(attributes_ & kSetAttributes))
    done = SetAttributesOf(file_.get(), volume_->Keepable(attributes_ & kCarriedAttributes) & ~FILE_ATTRIBUTE_READONLY);
  if (!done) {
    KeepingError([this] { Discard(); });
    return false;
  }
  if (!volume_->keepsTimes) lost_ |= kLostTimes;
  if (attributes_ & kShownAttributes & ~kept) lost_ |= kLostAttributes;
  stage_ = Stage::Written;
  faults::Reached(faults::Point::TemporaryWritten);
  return true;
}

// Without replace, a name that is taken stays. By the handle that wrote the
// copy, or, on a volume that will not rename an open file, closed and by name.
bool PendingCopy::Rename(const std::wstring& target, bool replace) {
  if (volume_->renamesOpenFiles && file_.valid()) {
    // The mark is off only for the rename itself, so a process killed at any
    // other moment leaves nothing.
    if (marked_ && !MarkForRemoval(false)) return false;
    const bool renamed = RenameOpenFile(file_.get(), target, replace, replace && volume_->posixRename);
    if (!renamed) KeepingError([this] { MarkForRemoval(true); });
    return renamed;
  }
  if (marked_) MarkForRemoval(false);
  file_ = FileHandle();
  return MoveClosed(temporary_, target);
}

// The old file keeps the target's name until the copy can take it: moved
// aside, the copy renamed into the free name, the old file removed; moved
// back should the copy not go. No replacing rename by name is used: Wine's
// removes the old file first and loses it when the rename then fails.
bool PendingCopy::ReplaceViaAside(const std::wstring& target) {
  const std::wstring targetPath = SystemPath(target), aside = OwnFilePath(folder_, OwnKind::Aside);
  if (!MoveFileExW(targetPath.c_str(), aside.c_str(), 0)) return false;
  if (!Rename(target, false)) {
    KeepingError([&] { MoveFileExW(aside.c_str(), targetPath.c_str(), 0); });
    return false;
  }
  RemoveClosed(aside);
  return true;
}

Placement PendingCopy::PlaceAs(const std::wstring& name, bool replace) {
  // A name longer than file systems hold: said as such, not as the "file not
  // found" that some systems give.
  if (name.size() > kLongestName) return Placement::Failure(ERROR_FILENAME_EXCED_RANGE);
  switch (stage_) {
    case Stage::Written:
      return PlaceTemporary(ChildPath(folder_, name), replace);
    case Stage::AtPlacing:
      return PlaceInPlace(name, replace);
    default:
      return Placement::Failure(ERROR_INVALID_HANDLE);
  }
}

Placement PendingCopy::PlaceTemporary(const std::wstring& target, bool replace) {
  // A replace asks first what stands when the last one on this thread found
  // a file there (a copy over an earlier copy): a look and one rename, where
  // a rename that fails first, a look and a second rename would cost twice.
  thread_local bool lastReplaceFoundOne = false;
  DWORD standing = INVALID_FILE_ATTRIBUTES;
  if (replace && lastReplaceFoundOne) standing = GetFileAttributesW(SystemPath(target).c_str());
  if (standing == INVALID_FILE_ATTRIBUTES) {
    if (Rename(target, false)) {
      if (replace) lastReplaceFoundOne = false;
      return Finish(target, Placed::New);
    }
    const DWORD error = GetLastError();
    if (!IsTaken(error)) return Placement::Failure(error);
    if (!replace) {
      Placement taken;
      taken.placed = Placed::Taken;
      return taken;
    }
    lastReplaceFoundOne = true;
    standing = GetFileAttributesW(SystemPath(target).c_str());
  }
  // Wine's rename replaces a read-only file, Windows refuses it. Hidden and
  // system bits hide a file, they do not protect it: it is replaced.
  if (standing != INVALID_FILE_ATTRIBUTES && (standing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
    return Placement::Failure(ERROR_ACCESS_DENIED);
  // By the handle in one rename where the volume renames open files, else by
  // way of the aside. The file standing there may be held for a moment
  // (another copy that just placed it and is closing it): the later copy
  // wins once it lets go.
  auto replaceOnce = [&] { return volume_->renamesOpenFiles ? Rename(target, true) : ReplaceViaAside(target); };
  bool replaced = replaceOnce();
  for (int wait = 0; !replaced && wait < kHeldRetries; ++wait) {
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) break;
    Sleep(5);
    replaced = replaceOnce();
  }
  if (replaced) return Finish(target, Placed::Replaced);
  // Not read-only, not a folder: the file is in use, which may pass (a retry may take it).
  const DWORD error = GetLastError();
  return Placement::Failure(error == ERROR_ACCESS_DENIED ? ERROR_SHARING_VIOLATION : error);
}

Placement PendingCopy::PlaceInPlace(const std::wstring& name, bool replace) {
  InPlaceCopy copy{folder_, facts_, volume_, verifying_};
  copy.facts.attributes = attributes_ & kCarriedAttributes;
  copy.facts.attributes |= facts_.attributes & FILE_ATTRIBUTE_ENCRYPTED;
  // Counted once, however often the write is tried (a taken name, a replace).
  const bool counting = bytes_ == 0;
  bool changed = false;
  std::optional<Hasher> hasher;
  const Feed feed = [&](const Take& take) {
    if (verifying_) hasher.emplace();  // afresh at each try
    if (bytes_held_) {
      for (size_t at = 0; at < bytes_held_->size(); at += kChunk)
        if (!take(bytes_held_->data() + at, DWORD(std::min<size_t>(kChunk, bytes_held_->size() - at)))) return false;
      return true;
    }
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(source_.get(), start, nullptr, FILE_BEGIN)) return false;
    int64_t fed = 0;
    const bool whole = ReadChunks(
        source_.get(), facts_.size, stop_,
        [&](const char* data, DWORD size) {
          if (!take(data, size)) return false;
          if (hasher) hasher->Add(data, size);
          fed += size;
          if (counting && written_) written_(size);
          return true;
        },
        &changed);
    if (counting) bytes_ = fed;
    return whole;
  };
  Placement placement = WriteInPlace(copy, name, replace, feed);
  changed_ |= changed;
  if (hasher) hash_ = hasher->Result();  // it read its source itself
  if (placement.placed == Placed::Taken) return placement;
  if (placement.placed == Placed::Failed) {
    KeepingError([this] { Discard(); });
    return placement;
  }
  lost_ |= placement.lost;
  source_ = FileHandle();  // a share will not remove a file still open
  bytes_ = 0;
  stage_ = Stage::Placed;
  placement.lost = lost_;
  return placement;
}

// The copy has its name: the read-only bit and the times where the volume
// needs them after the close. Nothing here fails the copy: what the volume
// does not keep is said as lost.
Placement PendingCopy::Finish(const std::wstring& target, Placed placed) {
  temporary_.clear();
  bytes_ = 0;
  stage_ = Stage::Placed;
  if (attributes_ & volume_->keptAttributes & FILE_ATTRIBUTE_READONLY) {
    const DWORD bits = volume_->Keepable(attributes_ & kCarriedAttributes);
    const bool set = file_.valid() ? SetAttributesOf(file_.get(), bits) : SetFileAttributesW(SystemPath(target).c_str(), bits);
    if (!set) lost_ |= kLostAttributes;
  }
  // A driver that stamps a file renamed while open as it closes it (fusefat)
  // keeps times set after the rename, through the handle or on the closed
  // file at once: measured, none of 150 lost either way. A client that will
  // not rename an open file writes it out as it lets go of it, a moment after
  // the close, and stamps it then: its times are set now and after that moment.
  const bool timesAgain = volume_->keepsTimes && volume_->timesAfterClose;
  const bool byHandle = timesAgain && volume_->timesAfterRename && file_.valid();
  if (byHandle) KeepingError([&] { SetFileTimes(file_.get(), facts_.writeTime, facts_.accessTime); });
  KeepingError([this] { file_ = FileHandle(); });
  if (timesAgain && !byHandle)
    KeepingError([&] {
      if (volume_->renamesOpenFiles)
        SetTimesOfClosed(target, facts_.writeTime, facts_.accessTime);
      else
        SetTimesNowAndLater(target, volume_->root, facts_.writeTime, facts_.accessTime);
    });
  Placement placement;
  placement.placed = placed;
  placement.lost = lost_;
  return placement;
}

WholeWrite WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  const std::wstring full = FullPath(path);
  if (IsDevice(full) || OpensAsDevice(full)) {
    SetLastError(ERROR_BAD_DEVICE);
    return WholeWrite::NotMade;
  }
  const size_t cut = full.rfind(L'\\') + 1;
  const std::wstring folder = full.substr(0, cut), name = full.substr(cut);
  // A write of ours killed here is settled first: its repair must not undo this one.
  RepairFolder(folder);
  WholeWrite result = WholeWrite::Done;
  {
    PendingCopy copy;
    if (!copy.BeginBytes(bytes, folder)) return WholeWrite::NotMade;
    for (size_t at = 0; at < bytes.size() && result == WholeWrite::Done; at += kChunk)
      if (!copy.Append(bytes.data() + at, DWORD(std::min<size_t>(kChunk, bytes.size() - at))))
        result = WholeWrite::WriteFailed;
    if (result == WholeWrite::Done && !copy.End(false)) result = WholeWrite::WriteFailed;
    if (result == WholeWrite::Done) {
      const Placement placement = copy.PlaceAs(name, true);
      if (placement.placed == Placed::Failed) {
        const DWORD error = placement.error;
        result = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? WholeWrite::WriteFailed
                                                                               : WholeWrite::NotMade;
        SetLastError(error);
      }
    }
  }
  // Written behind a journal, outside a run: it goes now, as a run's goes at its end.
  KeepingError([] {
    CloseJournals();
    RemoveJournals();
  });
  return result;
}

}  // namespace fs
