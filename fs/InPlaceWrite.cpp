#include "fs/InPlaceWrite.h"

#include "common/Paths.h"
#include "fs/LateTimes.h"
#include "fs/OwnFiles.h"
#include "fs/Steps.h"

namespace fs {
namespace {

Placement Failed(DWORD code) {
  Placement placement;
  placement.error = code ? code : ERROR_WRITE_FAULT;
  return placement;
}

// Writes everything feed hands over into file in folder (length bytes are expected).
bool WriteFed(HANDLE file, const std::wstring& folder, const Feed& feed, uint64_t length) {
  uint64_t written = 0;
  return feed([&](const char* data, DWORD size) {
    if (!WriteAllOf(file, data, size, folder)) return false;
    if (written < length / 2 && (written += size) >= length / 2) faults::Reached(faults::Point::HalfWritten);
    return true;
  });
}

// The copy's bytes, times and bits but read-only into the open target,
// flushed. What the volume does not keep is said in lost.
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
  // Read-only comes after the commit, so that an undo can still write the
  // file. The data is whole: a bit refused is no failure of it.
  if (kept && !SetAttributesOf(file, bits & (kept | ~kShownAttributes) & ~FILE_ATTRIBUTE_READONLY))
    lost |= kLostAttributes;
  if (!FlushFileBuffers(file)) return false;
  faults::Reached(faults::Point::TimesSet);
  return true;
}

// The commit after the target's close: read-only, the times again where the
// volume needs it, the mark that the write is whole, then the .old file and
// the journal. Nothing here fails the copy.
void Commit(const InPlaceCopy& copy, const std::wstring& target, const std::wstring& old, FileHandle& journal,
            const std::wstring& journalPath, unsigned& lost) {
  const DWORD bits = copy.facts.attributes & (copy.volume->keptAttributes | ~kShownAttributes);
  if ((bits & FILE_ATTRIBUTE_READONLY) && !SetFileAttributesW(SystemPath(target).c_str(), bits))
    lost |= kLostAttributes;
  if (copy.volume->keepsTimes && copy.volume->timesAfterClose)
    SetTimesNowAndLater(target, copy.volume->root, copy.facts.writeTime, copy.facts.accessTime);
  const bool ended = EndJournal(journal, Journal::Ending::Committed);
  journal = FileHandle();
  if (!old.empty()) RemoveClosed(old);
  faults::Reached(faults::Point::OldRemoved);
  // A journal that stays says the copy is whole, or, unmarked, would have it
  // undone: tried again as the run ends.
  if (!ended || !RemoveClosed(journalPath)) LeaveForRepair(journalPath, target);
}

// A write that never touched its target ends: its files go.
void Untouched(FileHandle& journal, const std::wstring& journalPath, const std::wstring& old) {
  EndJournal(journal, Journal::Ending::Untouched);
  journal = FileHandle();
  if (!old.empty()) RemoveClosed(old);
  RemoveClosed(journalPath);
}

// A copy of the old target's bytes, whole and flushed, never in the clear;
// its length in length (as many bytes as were read: a client's cache may
// tell a stale size).
bool KeepOld(const std::wstring& folder, const std::wstring& target, const std::wstring& old, uint64_t& length) {
  const FileHandle from = OpenToRead(target);
  FileHandle to(CreateFileW(old.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  length = 0;
  if (from.valid() && to.valid() && CopyAll(from.get(), to.get(), folder, &length) && FlushFileBuffers(to.get()))
    return true;
  const DWORD error = GetLastError();
  if (to.valid()) {
    to = FileHandle();
    RemoveClosed(old);
  }
  SetLastError(error);
  return false;
}

Placement WriteNew(const InPlaceCopy& copy, const std::wstring& target, const Feed& feed) {
  Placement placement;
  // A name that is taken never gets a journal that a repair would read as ours.
  if (Look(target)) {
    placement.placed = Placed::Taken;
    return placement;
  }
  const std::wstring journalPath = OwnFilePath(copy.folder, OwnKind::Journal);
  Journal record;
  record.target = NamePart(target);
  record.newLength = copy.facts.size;
  record.newWriteTime = copy.facts.writeTime;
  FileHandle journal = WriteJournal(journalPath, record);
  if (!journal.valid()) return Failed(GetLastError());
  faults::Reached(faults::Point::JournalWritten);
  // An encrypted source is written encrypted, or not at all.
  const bool encrypted = copy.facts.attributes & FILE_ATTRIBUTE_ENCRYPTED;
  FileHandle file(CreateFileW(SystemPath(target).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                              CREATE_NEW,
                              (encrypted ? FILE_ATTRIBUTE_ENCRYPTED : FILE_ATTRIBUTE_NORMAL) | FILE_FLAG_SEQUENTIAL_SCAN,
                              nullptr));
  if (!file.valid()) {
    const DWORD error = GetLastError();
    Untouched(journal, journalPath, L"");
    if (!IsTaken(error)) return Failed(error);
    placement.placed = Placed::Taken;
    return placement;
  }
  FILE_BASIC_INFO made;
  const bool sealed = !encrypted || (GetFileInformationByHandleEx(file.get(), FileBasicInfo, &made, sizeof made) &&
                                     (made.FileAttributes & FILE_ATTRIBUTE_ENCRYPTED));
  if (!sealed || !WriteWhole(file.get(), copy, feed, placement.lost)) {
    const DWORD error = sealed ? GetLastError() : ERROR_ENCRYPTION_FAILED;
    file = FileHandle();
    journal = FileHandle();
    // The partial new file goes; where it cannot, the journal stays for a repair.
    if (RemoveClosed(SystemPath(target)) && RemoveClosed(journalPath)) return Failed(error);
    LeaveForRepair(journalPath, target);
    return Failed(error);
  }
  file = FileHandle();
  Commit(copy, target, L"", journal, journalPath, placement.lost);
  placement.placed = Placed::New;
  return placement;
}

Placement WriteOver(const InPlaceCopy& copy, const std::wstring& target, const Feed& feed) {
  const auto standing = Look(target);
  if (!standing) return WriteNew(copy, target, feed);  // gone meanwhile
  // The old bytes would be kept in the clear, or the new ones written so.
  if ((standing->attributes | copy.facts.attributes) & FILE_ATTRIBUTE_ENCRYPTED) return Failed(ERROR_ENCRYPTION_FAILED);
  const std::wstring journalPath = OwnFilePath(copy.folder, OwnKind::Journal);
  const std::wstring old = SiblingOf(journalPath, OwnKind::Old);
  Journal record;
  record.target = NamePart(target);
  record.old = NamePart(old);
  record.oldWriteTime = standing->writeTime;
  record.oldAccessTime = standing->accessTime;
  record.oldAttributes = standing->attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                 FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  record.newLength = copy.facts.size;
  record.newWriteTime = copy.facts.writeTime;
  if (!KeepOld(copy.folder, target, old, record.oldLength)) return Failed(GetLastError());
  faults::Reached(faults::Point::OldKept);
  FileHandle journal = WriteJournal(journalPath, record);
  if (!journal.valid()) {
    const DWORD error = GetLastError();
    RemoveClosed(old);
    return Failed(error);
  }
  faults::Reached(faults::Point::JournalWritten);
  // Written over from its start and cut after, not truncated as it opens:
  // some drivers (FAT32 through FUSE) refuse to set an open file's length.
  FileHandle file(CreateFileW(SystemPath(target).c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.valid()) {
    const DWORD error = GetLastError();
    Untouched(journal, journalPath, old);
    return Failed(error);
  }
  Placement placement;
  if (!WriteWhole(file.get(), copy, feed, placement.lost)) {
    const DWORD error = GetLastError();
    file = FileHandle();
    journal = FileHandle();
    if (!PutBack(copy.folder, journalPath, record)) LeaveForRepair(journalPath, target);
    return Failed(error);
  }
  file = FileHandle();
  Commit(copy, target, old, journal, journalPath, placement.lost);
  placement.placed = Placed::Replaced;
  return placement;
}

}  // namespace

Placement WriteInPlace(const InPlaceCopy& copy, const std::wstring& name, bool replace, const Feed& feed) {
  const std::wstring target = ChildPath(copy.folder, name);
  // An earlier write of this target that failed is undone first: its partial
  // file would otherwise pass for a copy.
  if (!RepairLeft(target)) return Failed(ERROR_NOT_READY);
  // A replace over a file that stands needs no journal for a new file first.
  if (replace && Look(target)) return WriteOver(copy, target, feed);
  Placement placement = WriteNew(copy, target, feed);
  if (placement.placed != Placed::Taken || !replace) return placement;
  return WriteOver(copy, target, feed);
}

}  // namespace fs
