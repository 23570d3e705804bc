// The files a copy keeps beside its targets for a moment, all named
// "~quillmere-<computer>-<process>-<start>-<n>.<kind>" so that a later run
// knows whose they are and whether their maker is gone:
//   .part     a copy being written, before it takes its name
//   .aside    the old target moved aside while a copy takes its name by a
//             rename; should we die in between, it is the user's file and stays
//   .old      the old bytes of a target written over in place, kept whole
//             until the new bytes are
//   .journal  what an in-place write is doing, written before the target is
//             touched, so that the next run finds every target whole
//   .probe    a volume asked what it does
// None of them is ever data: never copied, found or imported.
#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "fs/FileSystem.h"

namespace fs {

enum class OwnKind { Part, Aside, Old, Journal, Probe };

// A new name of ours in folder (ending with "\"), in its system form.
std::wstring OwnFilePath(const std::wstring& folder, OwnKind kind);
// Any file of ours, by its name alone.
bool IsOwnFileName(const std::wstring& name);

// Removes a file we closed. A share's client lets go of a file a moment
// after it is closed, and until then refuses to remove it, or takes the
// removal and does not carry it out: it is looked for, and tried again.
bool RemoveClosed(const std::wstring& path);

// What an in-place write does to the target named in its folder. The old
// bytes are in the .old of the same number; a new file has none.
struct Journal {
  std::wstring target;  // the name, in the journal's folder
  std::wstring old;     // the .old file's name; empty for a new file
  uint64_t oldLength = 0, oldWriteTime = 0, oldAccessTime = 0;
  DWORD oldAttributes = 0;
  uint64_t newLength = 0, newWriteTime = 0;
  // Where the write stands, as the marks after the record say: begun (the
  // target may be partial), committed (a replace's target whole and new), or
  // ended with the target untouched.
  enum class State { Open, Committed, Untouched } state = State::Open;
};
// A journal file made new, held (others may only read it) for as long as
// writes use it: a repair takes only a journal nobody holds. One journal
// serves a thread's writes into one folder in turn.
FileHandle MakeJournal(const std::wstring& path);
// Writes the record from the journal's start, marked Open, sealed with a
// checksum; flushed where flush.
bool WriteJournal(HANDLE journal, const Journal& record, bool flush);
// Marks where the write stands, at the journal's start.
bool MarkJournal(HANDLE journal, Journal::State state, bool flush);
// Puts the old bytes back under the target's name, with their times and
// attributes, then removes the .old file. False, with it left for a later
// run, when the volume will not let it.
bool PutBack(const std::wstring& folder, const Journal& journal);

// Repairs what the in-place write behind the journal at path left, unless
// someone holds the journal (a live write) or it cannot be read: a torn
// journal touched nothing and goes; a committed one goes, its target's times
// set again; an untouched one goes; otherwise the old file is put back, or
// the new file removed. False when the journal stays.
bool RepairJournal(const std::wstring& path);
// A journal this process could not act on (the volume would not let a
// failed write be undone, or its removal was refused): repaired before the
// next write of its target (RepairLeft(target), false while it cannot be)
// and as the run ends (RepairLeft(L"")).
void LeaveForRepair(const std::wstring& journalPath, const std::wstring& target);
bool RepairLeft(const std::wstring& target);

// A run's first visit to a folder (ending with "\"), before any file of it
// is planned: what this computer's dead processes left there is repaired or
// removed: each journal as RepairJournal says; temporaries and probes go,
// and .old files once no journal stays. A live process's files, another computer's and
// any .aside stay.
void RepairFolder(const std::wstring& folder);

}  // namespace fs
