// The file system layer: the only code that calls file APIs.
// Paths are UTF-16 and reach the system as given (case, doubled and trailing
// backslashes pass through), except that a path too long for the system's
// classic limit is handed over in its \\?\ form.
//
// One error convention: a function that can fail returns bool or
// std::optional and leaves the system error code in GetLastError(). Only
// command code turns a failure into an error of its own.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fs {

struct Entry {
  std::wstring name;  // no folder part
  DWORD attributes;
  uint64_t size = 0;
  uint64_t writeTime = 0;   // last written, in FILETIME ticks
  uint64_t accessTime = 0;  // last read, in FILETIME ticks
};

// The longest name of one file or folder that NTFS and FAT hold (ext4 counts
// 255 bytes, so a shorter name of wide characters may still be refused there).
constexpr size_t kLongestName = 255;

// Listing masks: an entry is left out when it carries one of hidden, system,
// volume label or directory that the mask lacks.
constexpr DWORD kVolumeLabelBit = 0x8;  // the DOS volume label; Windows names no attribute for it
constexpr DWORD kMaskAll = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | kVolumeLabelBit |
                           FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE;
constexpr DWORD kMaskNoSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY;

// Entries matching a wildcard pattern, in file-system order, "." and ".."
// included; a pattern that matches nothing gives no entries. Empty (the
// code in GetLastError()) when the folder cannot be read or its listing
// breaks off.
std::optional<std::vector<Entry>> ListMatches(const std::wstring& pattern, DWORD mask);

bool IsFolder(const std::wstring& path);
// Anything at all (file, folder, device) stands at the path.
bool Exists(const std::wstring& path);
// Looked for and not there. A place that cannot be reached is not absent:
// "path not found" counts only where the volume still answers (a drive that
// went away says it too).
bool IsAbsent(const std::wstring& path);
bool IsNotFound(DWORD error);
// The last call failed because the entry's removal is pending: it goes as
// its last holder lets go (Windows says "access denied" for it).
bool RemovalPending();
// Sets the last-write and last-access times through a handle that may write
// attributes; an access time of 0 takes the write time.
bool SetFileTimes(HANDLE file, uint64_t writeTime, uint64_t accessTime);
// True when a search for the path (wildcards allowed in the last component;
// a \\?\ path names its one entry) finds an entry that is not a folder,
// whatever its time stamp.
bool IsFile(const std::wstring& path);
// Creates the folder and its missing parents; false when one could not be
// made (an empty path included).
bool MakeFolderPath(const std::wstring& path);
// True when the folder exists and may be entered (listed); otherwise the
// code tells why: 2 or 3 when missing, 267 for a file, 5 when refused.
bool CanEnterFolder(const std::wstring& folder);

std::wstring NamePart(const std::wstring& path);
// The path of an entry that a listing of folder (an absolute path ending
// with "\\") returned. A name the system would read otherwise in a plain
// path (a trailing dot or space, as disks written by other systems hold; a
// device name such as "nul" or "aux.h") keeps its own meaning in the long
// (\\?\) form, so "a." is never taken for "a" nor "aux.h" for a device.
std::wstring ChildPath(const std::wstring& folder, const std::wstring& name);
// The \\?\ form of an absolute path taken exactly as written ("aux.h" a
// file, "keep." with its dot), when nothing in it needs resolving ("." or
// ".." names, forward or doubled slashes); empty otherwise.
std::optional<std::wstring> LiteralPath(const std::wstring& path);
std::wstring ExtensionPart(const std::wstring& path);
// 1-based position of the last character of text that is in set, or 0.
size_t LastSeparator(const std::wstring& set, const std::wstring& text);

// The absolute path the system makes of a path ("." and ".." resolved,
// forward slashes turned, trailing dots and spaces of a name dropped).
std::wstring FullPath(const std::wstring& path);
// The place a path names, as the system resolves it: the full path with "."
// and ".." resolved, doubled and forward slashes made one backslash, trailing
// dots and spaces of names dropped; no trailing backslash but on a drive
// root ("C:\"); the \\?\ and \\.\ prefixes dropped. Every protection compares
// places, never spellings.
std::wstring ResolvePath(const std::wstring& path);
// The two paths resolve to the same path (letter case ignored); fs/Place.h
// tells one place by any of its names.
bool SameResolvedPath(const std::wstring& a, const std::wstring& b);

// A path as it was given (typed, or a list file's line), resolved once: the
// full path the system makes of it (a relative one counts from the current
// folder) and the place it names, for every comparison that follows.
struct GivenPath {
  std::wstring given;
  std::wstring full;   // FullPath(given)
  std::wstring place;  // ResolvePath(given)
};
GivenPath Resolve(const std::wstring& given);

// The path names a device, not a file or folder: "NUL", "C:\x\con.lst"
// (where the system reads it as CON), "\\.\PhysicalDrive0", "\\.\COM1".
bool IsDevice(const std::wstring& path);
bool IsDevice(const GivenPath& path);
// What opens at the path is a device after all (Wine's Z:\dev\zero); 1200.
bool OpensAsDevice(const std::wstring& path);
// The path names a whole drive ("Q:\", "Q:\.", "Q:\sub\..", "\\.\Q:\", or a
// link, mapped drive or share that leads to a volume's root).
bool IsWholeDrive(const std::wstring& path);

// The form handed to the system: the path itself while it is short enough
// for every Windows, else \\?\C:\... or \\?\UNC\server\share\... of its full path.
std::wstring SystemPath(const std::wstring& path);
// The \\?\ form of a path at any length (its full path; a \\?\ path as it is).
std::wstring LongPath(const std::wstring& path);

// Owns a kernel handle; closes it exactly once, keeping the last error.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(HANDLE h) : h_(h) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&& o) noexcept : h_(o.h_) { o.h_ = INVALID_HANDLE_VALUE; }
  FileHandle& operator=(FileHandle&& o) noexcept;
  ~FileHandle();
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

// A file opened to read its data from start to end; others may go on
// reading, writing or renaming it (we read what is there).
FileHandle OpenToRead(const std::wstring& path);
// The file can be opened for reading now.
bool CanReadFile(const std::wstring& path);
// What stands at the path (the name left empty), links followed; empty
// when nothing can be read there.
std::optional<Entry> Look(const std::wstring& path);

// The system's own description of an error code, without line breaks at the
// end; "Error N." for a code it has no words for.
std::wstring SystemErrorText(DWORD code);

// Identity of a file or folder (volume serial and file index): the same for
// every spelling, link or short name of it. Empty when it cannot be read.
struct PlaceId {
  DWORD volume;
  uint64_t index;
  bool operator==(const PlaceId& o) const { return volume == o.volume && index == o.index; }
};
struct PlaceIdHash {
  size_t operator()(const PlaceId& id) const { return std::hash<uint64_t>()(id.index ^ (uint64_t(id.volume) << 40)); }
};
std::optional<PlaceId> Identify(const std::wstring& path);
// Where a path leads once every link on it is followed (no \\?\ prefix).
std::optional<std::wstring> FinalPath(const std::wstring& path);

// An entry held open for its removal. What it is (where it leads, its
// identity, its attributes) is read from the very handle that removes it, so
// nothing can be put in its place between the look and the removal. The
// handle holds a link itself where the system allows; Wine opens what a Unix
// link leads to, and the final path tells it apart.
FileHandle OpenForRemoval(const std::wstring& path);
// The same without the right to delete, which would bar listing a folder
// while it is held.
FileHandle OpenLinkToLook(const std::wstring& path);
// An entry held to look at it, links followed: it asks for no access, so it
// conflicts with no one's use.
FileHandle OpenToLook(const std::wstring& path);

struct HeldEntry {
  std::wstring finalPath;  // where it is once links are followed
  std::optional<PlaceId> id;
  DWORD attributes;  // as the handle reads them
  // A link of Windows' own making: a symbolic link, a junction or a mount
  // point (a reparse point whose tag stands for another name; a cloud
  // placeholder is none).
  bool link;
};
// Empty when it cannot be read or where it leads cannot be told (the code
// in GetLastError()).
std::optional<HeldEntry> Inspect(const FileHandle& entry);
// Removes the held entry (a folder must be empty: 145 otherwise), read-only
// or not; a read-only entry that stays keeps its bit.
bool RemoveHeld(const FileHandle& entry, DWORD attributes);

// The folders on a walk's current path. Enter refuses a folder reached
// through a link when it is already on the path, so no walk runs in a
// circle. Without links a tree has no circles, so identities (which cost a
// file open each) are read only when a link is met.
class WalkPath {
 public:
  bool Enter(const std::wstring& folder, bool viaLink);
  void Leave() { path_.pop_back(); }
  static bool IsLink(DWORD attributes) { return attributes & FILE_ATTRIBUTE_REPARSE_POINT; }

 private:
  struct Level {
    std::wstring folder;
    HeldEntry held{};  // where it leads and its identity, once asked
    bool identified = false;
  };
  std::vector<Level> path_;
};

// Pre-order walk: the root (ending with "\"), then each subfolder's whole
// tree in listing order, down to maxLevels below the root (negative: no
// limit). The visitor sees each folder with its listing under mask; a folder
// at the last level is not listed (empty entries). Never runs in a circle
// through links; one listing is open at a time. The walk ends early when the
// visitor returns false.
using FolderVisitor = std::function<bool(const std::wstring& folder, const std::vector<Entry>& entries)>;
// Returns how many folders could not be listed (each is visited with no entries).
size_t WalkFolders(const std::wstring& root, DWORD mask, int maxLevels, const FolderVisitor& visit);

// Whole-file helpers used by the list files and the log.
// A device is no file to read (1200): NUL reads as empty, CON waits for typing.
std::optional<std::string> ReadWholeFileDenyWriters(const std::wstring& path);
bool WriteAll(const FileHandle& file, const std::string& bytes);
// Profile (.ini) files: empty when the file, section or key is missing.
std::optional<std::wstring> ReadProfileString(const std::wstring& file, const wchar_t* section, const wchar_t* key);
// Writes the value (or deletes the key when value is null) and flushes the file.
bool WriteProfileString(const std::wstring& file, const wchar_t* section, const wchar_t* key, const wchar_t* value);

}  // namespace fs
