#include "fs/InPlaceWrite.h"

#include "common/Paths.h"
#include "common/Sync.h"

#include <atomic>
#include <memory>
#include <vector>
#include "fs/LateTimes.h"
#include "fs/OwnFiles.h"
#include "fs/Steps.h"

namespace fs {
namespace {

// A write in place that fails without a code failed writing.
Placement Failed(DWORD code) { return Placement::Failure(code ? code : ERROR_WRITE_FAULT); }

// Writes everything feed hands over into file in folder (length bytes are expected).
bool WriteFed(HANDLE file, const std::wstring& folder, const Feed& feed, uint64_t length) {
  uint64_t written = 0;
  return feed([&](const char* data, DWORD size) {
    if (!WriteAllOf(file, data, size, folder)) return false;
    if (written < length / 2 && (written += size) >= length / 2) faults::Reached(faults::Point::HalfWritten);
    return true;
  });
}

// The copy's bytes, times and bits but read-only into the open target; over
// an old file, cut to length and flushed. What the volume does not keep is
// said in lost.
bool WriteWhole(HANDLE file, const InPlaceCopy& copy, const Feed& feed, bool over, unsigned& lost) {
  if (!WriteFed(file, copy.folder, feed, copy.facts.size)) return false;
  // Cut only where the old file was longer: some drivers (FAT32 through
  // FUSE) refuse to set the length of an open file.
  LARGE_INTEGER at{}, size{}, none{};
  if (over && (!SetFilePointerEx(file, none, &at, FILE_CURRENT) || !GetFileSizeEx(file, &size) ||
               (at.QuadPart < size.QuadPart && !SetEndOfFile(file))))
    return false;
  const bool flush = over || copy.flush;
  if (!copy.volume->keepsTimes)
    lost |= kLostTimes;
  else if (!SetFileTimes(file, copy.facts.writeTime, copy.facts.accessTime))
    return false;
  const DWORD bits = copy.facts.attributes, kept = copy.volume->keptAttributes;
  if (bits & kShownAttributes & ~kept) lost |= kLostAttributes;
  // Read-only comes after the commit, so that an undo can still write the
  // file. A new file needs no call for the archive bit it has. The data is
  // whole: a bit refused is no failure of it.
  const DWORD wanted = copy.volume->Keepable(bits) & ~FILE_ATTRIBUTE_READONLY;
  if (kept && (flush || (wanted & ~FILE_ATTRIBUTE_ARCHIVE)) && !SetAttributesOf(file, wanted)) lost |= kLostAttributes;
  if (flush && !FlushFileBuffers(file)) return false;
  faults::Reached(faults::Point::TimesSet);
  return true;
}

// The journal each thread writes into one folder through, reused file after
// file: a file adds one record to an open file, not a file of its own made
// and removed (on a share each call is a round trip, and a removal waits for
// the client to let go of what was just closed).
struct Slot {
  std::wstring folder, path;
  FileHandle file;
  bool ended = false;  // closed with its writes ended: removed as the run ends
};
Lock g_slotsLock;
std::vector<std::unique_ptr<Slot>> g_slots;  // every thread's, for CloseJournals
std::atomic<unsigned> g_slotsGeneration{1};  // read on every write's path: no lock
thread_local Slot* t_slot = nullptr;
thread_local unsigned t_slotGeneration = 0;

// This thread's journal for folder, made when there is none; null, with the
// code, when it cannot be made.
Slot* JournalFor(const std::wstring& folder) {
  const unsigned generation = g_slotsGeneration.load();
  if (t_slotGeneration != generation) t_slot = nullptr;  // the run that made it is over
  if (t_slot && t_slot->file.valid() && SameTextIgnoreCase(t_slot->folder, folder)) return t_slot;
  if (t_slot && t_slot->file.valid()) {  // another folder's, done with
    // Closed now, removed as the run ends: a share's client lets go of a
    // file a moment after its close, and a removal now would wait for it.
    t_slot->file = FileHandle();
    t_slot->ended = true;
  }
  auto slot = std::make_unique<Slot>();
  slot->folder = folder;
  slot->path = OwnFilePath(folder, OwnKind::Journal);
  slot->file = MakeJournal(slot->path);
  if (!slot->file.valid()) return nullptr;
  t_slot = slot.get();
  t_slotGeneration = generation;
  std::lock_guard<Lock> hold(g_slotsLock);
  g_slots.push_back(std::move(slot));
  return t_slot;
}

// A journal whose write could not be ended is let go, for a repair to take.
Placement LeftForRepair(Slot& slot, const std::wstring& target, DWORD error) {
  slot.file = FileHandle();
  LeaveForRepair(slot.path, target);
  return Failed(error);
}

// The commit after the target's close: read-only, the times again where the
// volume needs it, then the mark that the copy is whole, then the .old file.
// Nothing here fails the copy.
void Commit(const InPlaceCopy& copy, const std::wstring& target, const std::wstring& old, Slot& journal,
            unsigned& lost) {
  const DWORD bits = copy.volume->Keepable(copy.facts.attributes);
  if ((bits & FILE_ATTRIBUTE_READONLY) && !SetFileAttributesW(SystemPath(target).c_str(), bits))
    lost |= kLostAttributes;
  if (copy.volume->keepsTimes && copy.volume->timesAfterClose)
    SetTimesNowAndLater(target, copy.volume->root, copy.facts.writeTime, copy.facts.accessTime);
  // A new file takes no mark: the next record, or the run's end, says it
  // ended (after a kill, the next run removes it and copies it again). A
  // replace's mark must hold before its .old file goes.
  if (old.empty()) return;
  if (!MarkJournal(journal.file.get(), Journal::State::Committed, true)) {
    LeftForRepair(journal, target, GetLastError());
    return;
  }
  RemoveClosed(old);  // one that stays is the next run's
  faults::Reached(faults::Point::OldRemoved);
}

// A copy of the old target's bytes, whole and flushed; its length in length
// (as many bytes as were read: a client's cache may tell a stale size).
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
  Slot* journal = JournalFor(copy.folder);
  if (!journal) return Failed(GetLastError());
  Journal record;
  record.target = NamePart(target);
  record.newLength = copy.facts.size;
  record.newWriteTime = copy.facts.writeTime;
  // A new file risks nothing of the user's: its journal and its bytes reach
  // the volume as the calls return, unflushed (a kill cannot lose them). Each
  // call to a share costs: the record is the one this file adds. A repair
  // removes a file the record names unless the name was found taken (marked
  // untouched): only a name another program takes in the instant between
  // the record and the making, as we are killed, would be lost with it.
  if (!WriteJournal(journal->file.get(), record, false)) return LeftForRepair(*journal, target, GetLastError());
  faults::Reached(faults::Point::JournalWritten);
  // An encrypted source is written encrypted, or not at all.
  const bool encrypted = copy.facts.attributes & FILE_ATTRIBUTE_ENCRYPTED;
  FileHandle file(CreateFileW(SystemPath(target).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                              CREATE_NEW,
                              (encrypted ? FILE_ATTRIBUTE_ENCRYPTED : FILE_ATTRIBUTE_NORMAL) | FILE_FLAG_SEQUENTIAL_SCAN,
                              nullptr));
  if (!file.valid()) {  // the name is another's, or nothing was made
    const DWORD error = GetLastError();
    if (!MarkJournal(journal->file.get(), Journal::State::Untouched, false)) LeftForRepair(*journal, target, error);
    if (!IsTaken(error)) return Failed(error);
    placement.placed = Placed::Taken;
    return placement;
  }
  FILE_BASIC_INFO made;
  const bool sealed = !encrypted || (GetFileInformationByHandleEx(file.get(), FileBasicInfo, &made, sizeof made) &&
                                     (made.FileAttributes & FILE_ATTRIBUTE_ENCRYPTED));
  if (!sealed || !WriteWhole(file.get(), copy, feed, false, placement.lost)) {
    const DWORD error = !sealed ? ERROR_ENCRYPTION_FAILED : GetLastError();
    file = FileHandle();
    // The partial new file goes; where it cannot, the journal stays for a repair.
    if (RemoveClosed(SystemPath(target)) && MarkJournal(journal->file.get(), Journal::State::Untouched, false))
      return Failed(error);
    return LeftForRepair(*journal, target, error);
  }
  file = FileHandle();
  Commit(copy, target, L"", *journal, placement.lost);
  placement.placed = Placed::New;
  return placement;
}

Placement WriteOver(const InPlaceCopy& copy, const std::wstring& target, const Feed& feed) {
  const auto standing = Look(target);
  if (!standing) return WriteNew(copy, target, feed);  // gone meanwhile
  // What Windows refuses to replace by a copy: a folder or a read-only file.
  if (standing->attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return Failed(ERROR_ACCESS_DENIED);
  // The old bytes would be kept in the clear, or the new ones written so.
  if ((standing->attributes | copy.facts.attributes) & FILE_ATTRIBUTE_ENCRYPTED) return Failed(ERROR_ENCRYPTION_FAILED);
  Slot* journal = JournalFor(copy.folder);
  if (!journal) return Failed(GetLastError());
  const std::wstring old = OwnFilePath(copy.folder, OwnKind::Old);
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
  if (!WriteJournal(journal->file.get(), record, true)) {
    const DWORD error = GetLastError();
    RemoveClosed(old);
    return LeftForRepair(*journal, target, error);
  }
  faults::Reached(faults::Point::JournalWritten);
  // Written over from its start and cut after, not truncated as it opens:
  // some drivers (FAT32 through FUSE) refuse to set an open file's length.
  FileHandle file(CreateFileW(SystemPath(target).c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.valid()) {
    const DWORD error = GetLastError();
    RemoveClosed(old);
    if (!MarkJournal(journal->file.get(), Journal::State::Untouched, false)) return LeftForRepair(*journal, target, error);
    return Failed(error);
  }
  Placement placement;
  if (!WriteWhole(file.get(), copy, feed, true, placement.lost)) {
    const DWORD error = GetLastError();
    file = FileHandle();
    if (PutBack(copy.folder, record) && MarkJournal(journal->file.get(), Journal::State::Untouched, false))
      return Failed(error);
    return LeftForRepair(*journal, target, error);
  }
  file = FileHandle();
  Commit(copy, target, old, *journal, placement.lost);
  placement.placed = Placed::Replaced;
  return placement;
}

}  // namespace

Placement WriteInPlace(const InPlaceCopy& copy, const std::wstring& name, bool replace, const Feed& feed) {
  const std::wstring target = ChildPath(copy.folder, name);
  // An earlier write of this target that failed is undone first: its partial
  // file would otherwise pass for a copy.
  if (!RepairLeft(target)) return Failed(ERROR_NOT_READY);
  // Made new first, even for a replace: one call where a look first would
  // cost two for every new file (each a round trip on a share).
  Placement placement = WriteNew(copy, target, feed);
  if (placement.placed != Placed::Taken || !replace) return placement;
  return WriteOver(copy, target, feed);
}

void CloseJournals() {
  std::lock_guard<Lock> hold(g_slotsLock);
  for (auto& slot : g_slots) {
    if (!slot->file.valid()) continue;  // let go for a repair, or ended
    slot->file = FileHandle();
    slot->ended = true;
  }
  ++g_slotsGeneration;
}

void RemoveJournals() {
  std::vector<std::unique_ptr<Slot>> slots;
  {
    std::lock_guard<Lock> hold(g_slotsLock);
    slots.swap(g_slots);
    ++g_slotsGeneration;
  }
  for (const auto& slot : slots)
    if (slot->ended) RemoveClosed(slot->path);  // one that stays says its writes ended: the next run's
}

}  // namespace fs
