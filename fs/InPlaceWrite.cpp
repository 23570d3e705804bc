#include "fs/InPlaceWrite.h"

#include "common/Paths.h"
#include "fs/LateTimes.h"
#include "fs/OwnFiles.h"
#include "fs/Steps.h"

namespace fs {
namespace {

Placement Failed(DWORD code, bool leftForRepair = false) {
  Placement placement;
  placement.error = code ? code : ERROR_WRITE_FAULT;
  placement.leftForRepair = leftForRepair;
  return placement;
}

bool IsTaken(DWORD error) { return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS; }

// Writes everything feed hands over into file in folder (length bytes are expected).
bool WriteFed(HANDLE file, const std::wstring& folder, const Feed& feed, uint64_t length) {
  uint64_t written = 0;
  return feed([&](const char* data, DWORD size) {
    if (!WriteAllOf(file, data, size, folder)) return false;
    if (written < length / 2 && (written += size) >= length / 2) faults::Reached(faults::Point::HalfWritten);
    return true;
  });
}

// The copy's bytes, times and bits into the open target, flushed. What the
// volume does not keep is said in lost.
bool WriteWhole(HANDLE file, const InPlaceCopy& copy, const Feed& feed, unsigned& lost) {
  if (!WriteFed(file, copy.folder, feed, copy.facts.size)) return false;
  // Cut only where the old file was longer: some drivers (FAT32 through
  // FUSE) refuse to set the length of an open file.
  LARGE_INTEGER at{}, size{}, none{};
  if (!SetFilePointerEx(file, none, &at, FILE_CURRENT) || !GetFileSizeEx(file, &size) ||
      (at.QuadPart < size.QuadPart && !SetEndOfFile(file)))
    return false;
  if (!copy.volume->keepsTimes)
    lost |= kLostTimes;
  else if (!SetFileTimes(file, copy.facts.writeTime, copy.facts.accessTime))
    return false;
  const DWORD bits = copy.facts.attributes, kept = copy.volume->keptAttributes;
  if (bits & kShownAttributes & ~kept) lost |= kLostAttributes;
  // The data is whole: a bit refused is no failure of it.
  if (kept && !SetAttributesOf(file, bits & (kept | ~kShownAttributes))) lost |= kLostAttributes;
  if (!FlushFileBuffers(file)) return false;
  faults::Reached(faults::Point::TimesSet);
  return true;
}

// The commit after the close: times again where the volume needs it, then
// the .old file, then the journal.
void Commit(const InPlaceCopy& copy, const std::wstring& target, const std::wstring& old,
            const std::wstring& journal) {
  if (copy.volume->keepsTimes && copy.volume->timesAfterClose)
    SetTimesNowAndLater(target, copy.volume->root, copy.facts.writeTime, copy.facts.accessTime);
  if (!old.empty()) RemoveClosed(old);
  faults::Reached(faults::Point::OldRemoved);
  if (!RemoveClosed(journal)) LeaveForRepair(journal);  // the copy is whole: the journal says so
}

// A copy of the old target's bytes, whole and flushed; its length in length
// (as many bytes as were read: a client's cache may tell a stale size).
bool KeepOld(const std::wstring& folder, const std::wstring& target, const std::wstring& old, uint64_t& length) {
  const FileHandle from = OpenToRead(target);
  FileHandle to(CreateFileW(old.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  length = 0;
  const bool kept = from.valid() && to.valid() &&
                    WriteFed(to.get(), folder, [&](const Take& take) {
                      std::vector<char> buffer(64u << 10);
                      for (DWORD got = 0;;) {
                        if (!ReadFile(from.get(), buffer.data(), DWORD(buffer.size()), &got, nullptr)) return false;
                        if (!got) return true;
                        length += got;
                        if (!take(buffer.data(), got)) return false;
                      }
                    }, 0) &&
                    FlushFileBuffers(to.get());
  if (kept) return true;
  const DWORD error = GetLastError();
  if (to.valid()) {
    to = FileHandle();
    RemoveClosed(old);
  }
  SetLastError(error);
  return false;
}

Placement WriteNew(const InPlaceCopy& copy, const std::wstring& target, const Feed& feed) {
  const std::wstring journalPath = OwnFilePath(copy.folder, OwnKind::Journal);
  Journal journal;
  journal.target = NamePart(target);
  journal.newLength = copy.facts.size;
  journal.newWriteTime = copy.facts.writeTime;
  if (!WriteJournal(journalPath, journal)) return Failed(GetLastError());
  faults::Reached(faults::Point::JournalWritten);
  // An encrypted source is written encrypted, or not at all.
  const bool encrypted = copy.facts.attributes & FILE_ATTRIBUTE_ENCRYPTED;
  FileHandle file(CreateFileW(SystemPath(target).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                              CREATE_NEW,
                              (encrypted ? FILE_ATTRIBUTE_ENCRYPTED : FILE_ATTRIBUTE_NORMAL) | FILE_FLAG_SEQUENTIAL_SCAN,
                              nullptr));
  if (!file.valid()) {
    const DWORD error = GetLastError();
    RemoveClosed(journalPath);
    if (IsTaken(error)) {
      Placement taken;
      taken.placed = Placed::Taken;
      return taken;
    }
    return Failed(error);
  }
  Placement placement;
  FILE_BASIC_INFO made;
  const bool sealed = !encrypted || (GetFileInformationByHandleEx(file.get(), FileBasicInfo, &made, sizeof made) &&
                                     (made.FileAttributes & FILE_ATTRIBUTE_ENCRYPTED));
  if (!sealed || !WriteWhole(file.get(), copy, feed, placement.lost)) {
    const DWORD error = sealed ? GetLastError() : ERROR_ENCRYPTION_FAILED;
    file = FileHandle();
    // The partial new file goes; where it cannot, the next run removes it.
    const bool removed = RemoveClosed(SystemPath(target)) && RemoveClosed(journalPath);
    if (!removed) LeaveForRepair(journalPath);
    return Failed(error, !removed);
  }
  file = FileHandle();
  Commit(copy, target, L"", journalPath);
  placement.placed = Placed::New;
  return placement;
}

Placement WriteOver(const InPlaceCopy& copy, const std::wstring& target, const Feed& feed) {
  const auto standing = Look(target);
  if (!standing) return Failed(GetLastError());
  const std::wstring journalPath = OwnFilePath(copy.folder, OwnKind::Journal);
  const std::wstring old = SiblingOf(journalPath, OwnKind::Old);
  Journal journal;
  journal.target = NamePart(target);
  journal.old = NamePart(old);
  journal.oldWriteTime = standing->writeTime;
  journal.oldAccessTime = standing->accessTime;
  journal.oldAttributes = standing->attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  journal.newLength = copy.facts.size;
  journal.newWriteTime = copy.facts.writeTime;
  if (!KeepOld(copy.folder, target, old, journal.oldLength)) return Failed(GetLastError());
  faults::Reached(faults::Point::OldKept);
  if (!WriteJournal(journalPath, journal)) {
    const DWORD error = GetLastError();
    RemoveClosed(old);
    return Failed(error);
  }
  faults::Reached(faults::Point::JournalWritten);
  // Written over from its start and cut after, not truncated as it opens:
  // some drivers (FAT32 through FUSE) refuse to set an open file's length.
  FileHandle file(CreateFileW(SystemPath(target).c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.valid()) {  // untouched
    const DWORD error = GetLastError();
    RemoveClosed(old);
    RemoveClosed(journalPath);
    return Failed(error);
  }
  Placement placement;
  if (!WriteWhole(file.get(), copy, feed, placement.lost)) {
    const DWORD error = GetLastError();
    file = FileHandle();
    const bool putBack = PutBack(copy.folder, journalPath, journal);
    if (!putBack) LeaveForRepair(journalPath);
    return Failed(error, !putBack);
  }
  file = FileHandle();
  Commit(copy, target, old, journalPath);
  placement.placed = Placed::Replaced;
  return placement;
}

}  // namespace

Placement WriteInPlace(const InPlaceCopy& copy, const std::wstring& name, bool replace, const Feed& feed) {
  const std::wstring target = ChildPath(copy.folder, name);
  // An earlier write of this target that failed is undone first: its partial
  // file would otherwise pass for a copy.
  if (!RepairLeft(target)) return Failed(ERROR_NOT_READY, true);
  // A replace over a file that stands needs no journal for a new file first.
  if (replace && Look(target)) return WriteOver(copy, target, feed);
  Placement placement = WriteNew(copy, target, feed);
  if (placement.placed != Placed::Taken || !replace) return placement;
  return WriteOver(copy, target, feed);
}

}  // namespace fs
