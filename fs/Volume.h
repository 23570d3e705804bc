// What each volume is seen to do: which steps of a copy it refuses and how
// finely it keeps times. Learned per volume as the copies go, so a stick that
// refuses a step never turns it off for a disk in the same run.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace fs {

constexpr uint64_t kTicksPerSecond = 10'000'000;
// The coarsest unit any volume keeps last-write times in (FAT's 2 s); also
// the one assumed where nothing was seen.
constexpr uint64_t kCoarsestTimeUnit = 2 * kTicksPerSecond;

struct VolumeTraits {
  std::wstring root;                        // the volume's path ("F:\", "\\server\share\")
  std::atomic<bool> renamesOpenFiles{true};  // by the handle that wrote the file
  std::atomic<bool> renamesProven{false};    // a copy of ours took its name by a rename here
  // Renames nothing at all (under Wine a share whose client refuses to
  // rename an open file: Wine opens every file it renames). Copies there are
  // written under their own name, made new, marked for removal until whole.
  std::atomic<bool> renamesNothing{false};
  std::atomic<bool> posixRename{true};       // a replace with POSIX semantics (Windows 10 1709 on)
  std::atomic<bool> keepsAttributes{true};   // hidden, system, read-only
  std::atomic<bool> keepsTimes{true};
  std::atomic<bool> timesAfterClose{false};  // set once more after the file is closed, or they are lost
  std::atomic<bool> timesChecked{false};     // read back once
  std::atomic<bool> attributesChecked{false};  // read back once, on a copy that carries some
  std::atomic<uint64_t> timeUnit{0};         // in ticks; 0 while not seen
};

// The path of the volume that holds path ("C:\", a mount point's folder,
// "\\server\share\"); empty when it cannot be told.
std::wstring VolumePathOf(const std::wstring& path);

// The traits of the volume that holds path (a folder or a file). Cheap when
// asked again for the same folder on the same thread.
VolumeTraits& TraitsOf(const std::wstring& path);

// The unit a volume keeps times in, as far as seen: what a copy's time read
// back showed, or a time read from it with a part of a second (that volume
// keeps fine times); 2 s where nothing tells.
uint64_t TimeUnit(VolumeTraits& volume, uint64_t seenTime);
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
// itself NTFS), so only what is seen counts there.
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
  Count
};
void Inject(Step step, DWORD value);
// Clears every fault, and what volumes were seen to do under them.
void Clear();
std::optional<DWORD> Injected(Step step);
// The file system name that VolumeFlags reports, when injected.
void InjectFileSystemName(const std::wstring& name);
}  // namespace faults

}  // namespace fs
