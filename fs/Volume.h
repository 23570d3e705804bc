// What each volume does: which steps of a copy it allows and how finely it
// keeps times. Known per run, before its copies: the time unit when the
// volume is first met, the rest by one probe at the first write into it.
// Nothing is learned from one file's refusal. Kept by the volume's identity,
// never by a letter as typed, and forgotten when the next run begins, so a
// stick swapped in between is asked again.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace fs {

constexpr uint64_t kTicksPerSecond = 10'000'000;
// The coarsest unit any volume keeps last-write times in (FAT's 2 s); also
// the one taken where the file system cannot be told.
constexpr uint64_t kCoarsestTimeUnit = 2 * kTicksPerSecond;

// The attribute bits a copy carries that a user sees, and a volume may drop.
constexpr DWORD kShownAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;

struct VolumeTraits {
  std::wstring root;  // the first folder's volume path ("F:\", "\\server\share\")
  std::wstring key;   // its identity: a volume GUID path, a serial and file system, or a final path's root
  // Fixed when the volume is first met: from the file system's name where
  // Windows tells it truly, else the coarsest.
  uint64_t timeUnit = kCoarsestTimeUnit;
  DWORD sector = 4096;  // the unit a read past the cache keeps to
  // What the probe found; read only once probed() is true.
  bool renamesOpenFiles = true;  // by the handle that wrote the file
  // Renames nothing at all (under Wine a share whose client refuses to
  // rename an open file: Wine opens every file it renames). Copies there
  // are written under their own name, behind a journal.
  bool renamesNothing = false;
  bool posixRename = true;  // a replace with POSIX semantics (Windows 10 1709 on)
  // Of the hidden, system and read-only bits, those it keeps (a share may
  // keep read-only and drop hidden; FAT32 through FUSE refuses them all).
  DWORD keptAttributes = kShownAttributes;
  bool keepsTimes = true;
  bool timesAfterClose = false;  // set once more after the file is closed, or they are lost
  bool timesAfterRename = false;  // ...or, where this holds, through the handle after its rename

  bool probed() const { return probed_.load(std::memory_order_acquire); }
  // Of the bits a copy carries, those this volume keeps (and every bit it is not asked about).
  DWORD Keepable(DWORD bits) const { return bits & (keptAttributes | ~kShownAttributes); }

 private:
  friend const VolumeTraits& ProbedTraitsOf(const std::wstring& folder);
  friend void ForgetVolumes();
  std::atomic<bool> probed_{false};
  SRWLOCK probing_ = SRWLOCK_INIT;
};

// The path of the volume that holds path ("C:\", a mount point's folder,
// "\\server\share\"); empty when it cannot be told.
std::wstring VolumePathOf(const std::wstring& path);

// The traits of the volume that holds path (a folder or a file), as far as
// known: its time unit is. Cheap when asked again for the same folder.
VolumeTraits& TraitsOf(const std::wstring& path);
// The same, probed: the first call for a volume in a run writes, renames and
// removes a small file of ours in folder (which must exist) to see what the
// volume does. Other threads wait for that one probe.
const VolumeTraits& ProbedTraitsOf(const std::wstring& folder);
// A run begins: every volume is asked afresh.
void ForgetVolumes();

// Whether the source was written later than the target, compared at the
// coarser unit of the two places: an equal time, or one within that unit, is
// no later.
bool WrittenLater(uint64_t source, uint64_t target, uint64_t unit);

// Codes by which a file system says that it does not do a step at all (as
// opposed to a file in use, a refusal of this one file or a network gone).
// Wine reports a driver's "not implemented" as a general failure.
bool IsNotSupported(DWORD code);

// The volume flags and file system name tell what a volume does, on Windows;
// under Wine they describe Wine, not the driver (a FUSE FAT32 volume calls
// itself NTFS), so the probe alone counts there.
bool TrustVolumeFlags();

// Test seam: a step of the file layer answers with a result Windows
// documents and Wine never gives. Nothing is injected in the program.
namespace faults {
enum class Step {
  RenameOpenFile,     // a rename by handle of a file still open
  RenameByName,       // a rename of a closed file, by its name
  PosixRename,        // the rename with POSIX semantics
  SetAttributes,      // hidden, system, read-only on a copy
  SourceAttributes,   // extra attribute bits the source shows (encrypted, sparse)
  SourceStream,       // the source carries a named stream ":qm" (Wine has none)
  MarkedRefusesOpen,  // a file whose delete disposition is set cannot be opened again
  VolumeFlags,        // the flags and file system name of a volume, as Windows reads them
  PauseAt,            // a copy stops for good at a Point, for a test to kill it there
  Count
};
// The moments of a copy at which a test may kill it (PauseAt).
enum class Point : DWORD { None, TemporaryWritten, OldKept, JournalWritten, HalfWritten, TimesSet, OldRemoved };
// At a point: when PauseAt names it, signals the event "Local\\quillmere-paused"
// and waits for the kill.
void Reached(Point point);
void Inject(Step step, DWORD value);
// Clears every fault, and what volumes were seen to do under them.
void Clear();
std::optional<DWORD> Injected(Step step);
// The file system name that VolumeFlags reports, when injected.
void InjectFileSystemName(const std::wstring& name);
}  // namespace faults

}  // namespace fs
