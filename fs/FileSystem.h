// The file system layer: the only code that calls file APIs.
// Paths are UTF-16 and never normalised; case, doubled and trailing
// backslashes pass through unchanged.
#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fs {

struct Entry {
  std::wstring name;  // no folder part
  DWORD attributes;
};

// Listing masks: an entry is left out when it carries one of hidden, system,
// volume label or directory that the mask lacks.
constexpr DWORD kMaskAll = 63;
constexpr DWORD kMaskNoSystem = 18;  // hidden + directory

// Entries matching a wildcard pattern, in file-system order, "." and ".."
// included. Anything that cannot be read gives an empty listing.
std::vector<Entry> ListEntries(const std::wstring& pattern, DWORD mask);

bool IsFolder(const std::wstring& path);
// Anything at all (file, folder, device) stands at the path.
bool Exists(const std::wstring& path);
// True when a search for the path (wildcards allowed in the last component)
// finds an entry that is not a folder, whatever its time stamp.
bool IsFile(const std::wstring& path);
// Creates the folder and its missing parents; throws AppError for "".
bool MakeFolderPath(const std::wstring& path);

std::wstring NamePart(const std::wstring& path);
std::wstring ExtensionPart(const std::wstring& path);
// 1-based position of the last character of text that is in set, or 0.
size_t LastSeparator(const std::wstring& set, const std::wstring& text);

// Owns a kernel handle; closes it exactly once.
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

// Opens an existing file to read its times (readers and writers shared).
FileHandle OpenForTimes(const std::wstring& path);
std::optional<uint64_t> LastWriteTime(const FileHandle& file);
// -1 when a is earlier, 0 when equal, 1 when later (unsigned 64-bit ticks).
int CompareTimes(uint64_t a, uint64_t b);

// CopyFileW with the Windows rule, enforced here because Wine lacks it:
// an existing read-only or hidden target is refused (access denied).
// sourceAttributes, when known from a listing, saves a look-up.
bool CopyOneFileRaw(const std::wstring& source, const std::wstring& target, bool failIfExists,
                    DWORD sourceAttributes = INVALID_FILE_ATTRIBUTES);
bool SetAttributes(const std::wstring& path, DWORD bits);
bool RemoveFile(const std::wstring& path);
bool RemoveEmptyFolder(const std::wstring& path);

std::wstring CurrentFolder();
// Puts the current folder back, at full length, on every way out.
class CurrentFolderKept {
 public:
  CurrentFolderKept() : saved_(CurrentFolder()) {}
  ~CurrentFolderKept();
  CurrentFolderKept(const CurrentFolderKept&) = delete;
  CurrentFolderKept& operator=(const CurrentFolderKept&) = delete;

 private:
  std::wstring saved_;
};
// Throws AppError with the text for the system error code.
void ChangeFolder(const std::wstring& path);
std::wstring IoErrorText(DWORD code);

// Identity of a folder (volume serial and file index), for walks that must
// not run in a circle through links. Empty when it cannot be read.
struct FolderId {
  DWORD volume;
  uint64_t index;
  bool operator==(const FolderId& o) const { return volume == o.volume && index == o.index; }
};
std::optional<FolderId> IdentifyFolder(const std::wstring& path);

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
    std::optional<FolderId> id;
    bool identified;
  };
  std::vector<Level> path_;
};

// Whole-file helpers used by the list files.
std::optional<std::string> ReadWholeFileDenyWriters(const std::wstring& path, DWORD* error);
// Creates or truncates the file; *created tells whether the create step succeeded.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes, DWORD* error, bool* created);
std::wstring SystemErrorText(DWORD code);

// Byte-wise helpers over GBK text (keyword matching).
std::string Upper(std::string text);                           // only a..z change
size_t Find(const std::string& sub, const std::string& text);  // 1-based, 0 = none
std::wstring TrimBlank(const std::wstring& text);              // strips chars <= 32 at both ends

// Called during long single-file copies on the calling thread (not on
// copy workers) so the window can keep painting.
void SetCopyHeartbeat(void (*beat)());

}  // namespace fs
