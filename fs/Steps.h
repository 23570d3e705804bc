// The steps of a copy that volumes differ on, shared by the copy and the
// probe that asks a volume which of them it allows.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "fs/Volume.h"

namespace fs {

// Small helpers of the file layer's own.
// Sets the last error and returns false.
inline bool Fail(DWORD code) {
  SetLastError(code);
  return false;
}
// A name that is taken, as CreateFileW and the renames say it.
inline bool IsTaken(DWORD error) { return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS; }
std::wstring Hex(uint64_t value);

// Renames the open file to target by its handle; with posix, replacing with
// POSIX semantics (others may hold the old file). False with the code.
bool RenameOpenFile(HANDLE file, const std::wstring& target, bool replace, bool posix);
// Renames a closed file of ours by name, never over a file. A share's client
// lets go of a closed file a moment late: a refusal counts only when it holds.
bool MoveClosed(const std::wstring& from, const std::wstring& to);
// A refusal by which a volume may be saying that it does not rename (an
// open file, or at all), rather than that a name is taken.
bool RefusesRename(DWORD error);
// Writes all of data at the file's position. A write cut short is carried
// on, so that the system says why it stopped; where it says nothing, the
// volume that holds folder is full only when it has no room, else it is a
// write fault (a share gone mid-write).
bool WriteAllOf(HANDLE file, const char* data, DWORD size, const std::wstring& folder);
// Copies all of one open file's bytes over another's, from both starts, into
// a file on the volume that holds folder; copied counts them (what was read,
// not what a size says).
bool CopyAll(HANDLE from, HANDLE to, const std::wstring& folder, uint64_t* copied = nullptr);
// Sets a file's attribute bits by its handle.
bool SetAttributesOf(HANDLE file, DWORD attributes);

// Asks the volume that holds folder what it does, with a small file of ours
// written, renamed and removed there. False when no file could be made (the
// next write asks again).
bool ProbeVolume(VolumeTraits& volume, const std::wstring& folder);

}  // namespace fs
