// A copy written under its target's own name, on a volume that renames
// nothing (under Wine, a share). A journal is written before the target is
// touched, so that a kill, a crash or an outage at any moment leaves every
// target whole, old or new, once the next run has repaired the folder:
//   1. the old bytes (a replace) are copied whole into a .old file and flushed;
//   2. the journal is written whole (flushed for a replace): the target's
//      name, the .old file's name and length, the old times and attributes,
//      the new copy's length and time, sealed with a checksum. It stays
//      open, others may only read it, so no repair takes a live write's
//      journal; a thread writes its next file in that folder through it;
//   3. only then is the target made (a name found taken is marked
//      untouched) or opened, and written;
//   4. commit: after the close, read-only and the times again where the
//      volume needs it; for a replace, the mark that the copy is whole, then
//      the .old file removed. A new file's record is ended by the next one,
//      or by the run's end, when the journal goes (CloseJournals).
// A write that fails within the run puts the old file back with its times
// and attributes, or removes the partial new file; where the volume will not
// let it, the journal stays, for the run's end or the next run
// (fs::RepairLeft, fs::RepairFolder). A repair never guesses: a journal
// without the mark is undone.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "fs/FileSystem.h"
#include "fs/Placement.h"
#include "fs/Volume.h"

namespace fs {

// Hands a copy's bytes from their start, chunk by chunk, to take; false on a
// failure or a stop, with the code.
using Take = std::function<bool(const char* data, DWORD size)>;
using Feed = std::function<bool(const Take& take)>;

struct InPlaceCopy {
  std::wstring folder;  // ending with "\"
  Entry facts;          // the copy's length, times and the attribute bits it carries
  const VolumeTraits* volume = nullptr;
  bool flush = false;  // through its handle before it closes, a new file too (a copy to be read back)
};

// Writes the copy under name in its folder. Without replace, an entry that
// holds the name keeps it (Taken); with it, a file standing there is written
// over, but a folder or a read-only file (access denied). The name is tried
// new first: a look first would cost every new file a call more.
Placement WriteInPlace(const InPlaceCopy& copy, const std::wstring& name, bool replace, const Feed& feed);
// As a run ends: every thread's journal, its writes ended, is closed; then,
// a moment later (a share's client lets go of a file a moment after its
// close), removed.
void CloseJournals();
void RemoveJournals();

}  // namespace fs
