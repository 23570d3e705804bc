// The one way a file is copied. The copy is written whole under a temporary
// name beside its target, in a file made new that the system removes by
// itself should the process die first, and takes the target's name by one
// rename on the handle that wrote it: no part of a file ever stands under a
// target's name, and what stands there is decided at the rename.
// Where a file system refuses a step (a share that will not rename an open
// file, a stick that keeps no attributes), the copy steps down to what that
// volume does, asked once per volume and run (fs/Volume.h), and keeps the
// promise as far as it allows: the decision still at the rename, the old
// target kept until the copy has its name; where nothing renames, a write
// in place behind a journal (fs/InPlaceWrite.h).
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/StopSignal.h"
#include "fs/ContentHash.h"
#include "fs/FileSystem.h"
#include "fs/Placement.h"
#include "fs/Volume.h"

namespace fs {

// A source as its copy reads it: open, with the attributes, times and
// length it has as the copy begins (a listing made earlier may be stale).
struct SourceFile {
  FileHandle handle;
  Entry facts{};
  std::vector<std::wstring> streams;  // its named streams, ":name:$DATA" (a download's Zone.Identifier)
};
// listed, what a listing told, stands in where the handle cannot be asked.
bool OpenSource(const std::wstring& path, const Entry* listed, SourceFile& source);
// Reads an open file chunk by chunk up to length, handing each chunk to take.
// A file another program keeps appending to is not followed for as long as
// it grows: one byte more tells whether it grew or shrank (changed). False
// on a failure, a stop (ERROR_OPERATION_ABORTED) or when take refuses, with
// a code that is never 0.
bool ReadChunks(HANDLE from, uint64_t length, const StopSignal* stop,
                const std::function<bool(const char*, DWORD)>& take, bool* changed = nullptr);

class PendingCopy {
 public:
  PendingCopy() = default;
  PendingCopy(const PendingCopy&) = delete;
  PendingCopy& operator=(const PendingCopy&) = delete;
  // A copy never placed is removed.
  ~PendingCopy();

  // Copies source whole into a new temporary file in targetFolder (ending
  // with "\"), taking over its last-write time and attributes as they are
  // when the copy begins, up to the length it has then (listed, what a
  // listing told, stands in where the source cannot be asked). written hears of the
  // bytes as they are written (a failed copy takes them back). A stop
  // abandons the copy between two chunks (ERROR_OPERATION_ABORTED). begun:
  // the facts a read made earlier began the same copy with, which it keeps.
  bool Write(const std::wstring& source, const std::wstring& targetFolder, const Entry* listed, const StopSignal* stop,
             const std::function<void(int64_t)>& written, const Entry* begun = nullptr);
  // The same copy fed by a read made elsewhere (one read for several
  // destinations): Begin with the source's facts, Append each chunk, End.
  // A failure discards the copy. On a volume that renames nothing the copy
  // takes no chunks: it reads its source itself when it is placed.
  bool Begin(const std::wstring& source, const std::wstring& targetFolder, const Entry& facts,
             const std::vector<std::wstring>& streams, const StopSignal* stop,
             const std::function<void(int64_t)>& written);
  bool Append(const char* data, DWORD size);
  bool End(bool changed);
  // The same copy of bytes held in memory (a list, a log), new as of now;
  // they must outlive the copy.
  bool BeginBytes(const std::string& bytes, const std::wstring& targetFolder);
  // Gives the copy the name in targetFolder. Without replace an entry that
  // holds the name keeps it (Taken). With it a file standing there is
  // replaced, hidden or not, except what Windows refuses to replace by a
  // copy: a folder or a read-only file (access denied).
  Placement PlaceAs(const std::wstring& name, bool replace);
  // The source grew or shrank while it was copied: the copy holds it as it
  // was when the copy began, with the time it had then.
  bool Changed() const { return changed_; }
  // A copy to be read back: flushed through its handle before it closes,
  // and what it reads of its source itself hashed. Asked before it begins.
  void FlushAndHash() { verifying_ = true; }
  // The hash of a read made elsewhere, for a copy fed by it.
  void TakeHash(const ContentHash& hash) { hash_ = hash; }
  // The hash of the bytes the copy holds, once it has them.
  const std::optional<ContentHash>& Hash() const { return hash_; }

 private:
  // Where the copy stands. A temporary is written (Writing), finished
  // (Written) and renamed into its name (Placed); on a volume that renames
  // nothing the source is held open (AtPlacing) and written in place then.
  enum class Stage { Empty, Writing, Written, AtPlacing, Placed };

  bool Start(const std::wstring& source, const std::wstring& targetFolder, const Entry& facts,
             const std::vector<std::wstring>& streams, const StopSignal* stop,
             const std::function<void(int64_t)>& written, FileHandle* opened);
  bool CreateTemporary();
  bool MarkForRemoval(bool remove);
  bool Rename(const std::wstring& target, bool replace);
  bool ReplaceViaAside(const std::wstring& target);
  Placement PlaceTemporary(const std::wstring& target, bool replace);
  Placement PlaceInPlace(const std::wstring& name, bool replace);
  Placement Finish(const std::wstring& target, Placed placed);
  void Discard();

  Stage stage_ = Stage::Empty;
  FileHandle file_;        // the temporary while it is open
  std::wstring temporary_;  // its path until it is placed
  FileHandle source_;      // AtPlacing: the source, read when placed
  const std::string* bytes_held_ = nullptr;  // or the bytes, where they are in memory
  const StopSignal* stop_ = nullptr;
  std::wstring folder_;
  const VolumeTraits* volume_ = nullptr;
  Entry facts_{};  // the source's attributes and times
  DWORD attributes_ = 0;  // the bits carried, and sparse while the temporary is
  bool marked_ = false;   // the system removes the temporary when its handle closes
  unsigned lost_ = kLostNothing;
  bool changed_ = false;
  bool verifying_ = false;
  std::optional<ContentHash> hash_;
  bool skipped_ = false;  // the last chunk was left a hole
  int64_t bytes_ = 0;
  std::function<void(int64_t)> written_;
};

// Puts bytes at path as a copy is placed (fs/FileCopy.h): a temporary and a
// rename, or behind a journal where nothing renames, so a write that fails
// leaves the file that stood there whole. A read-only file there is refused
// (5), as Windows refuses to replace one, and so is a device (1200). On
// failure the code is in GetLastError().
enum class WholeWrite {
  Done,
  NotMade,     // the file could not be created or put in place
  WriteFailed  // its bytes could not be written (a full disk)
};
WholeWrite WriteWholeFile(const std::wstring& path, const std::string& bytes);

}  // namespace fs
