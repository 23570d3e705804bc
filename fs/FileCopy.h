// The one way a file is copied. The copy is written whole under a temporary
// name beside its target, in a file made new that the system removes by
// itself should the process die first, and takes the target's name by one
// rename on the handle that wrote it: no part of a file ever stands under a
// target's name, and what stands there is decided at the rename.
// Where a file system refuses a step (a share that will not rename an open
// file, a stick that keeps no attributes), the copy steps down to what that
// volume does, learned once per volume, and keeps the promise as far as it
// allows: the decision still at the rename, the old target kept until the
// copy has its name.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/StopSignal.h"
#include "fs/FileSystem.h"
#include "fs/Volume.h"

namespace fs {

// Our temporaries ("~quillmere-....part"): an unfinished copy, never data.
bool IsTemporaryName(const std::wstring& name);
// Removes from folder (ending with "\") the temporaries this computer's
// processes left when they died without the system removing them (a file
// system without delete-on-close). Another computer's, or a live process's,
// stay. Returns how many went.
size_t SweepTemporaries(const std::wstring& folder);

// What a destination could not keep of a copy that was placed all the same.
enum Lost : unsigned {
  kLostNothing = 0,
  kLostTimes = 1,       // the last-write time
  kLostAttributes = 2,  // hidden, system or read-only
};

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
// on a failure, a stop (ERROR_OPERATION_ABORTED) or when take refuses.
bool ReadChunks(HANDLE from, uint64_t length, const StopSignal* stop,
                const std::function<bool(const char*, DWORD)>& take, bool* changed = nullptr);

enum class Placed {
  New,       // where nothing stood
  Replaced,  // over the file that stood there
  Taken,     // an entry holds the name and was not to be replaced: the copy is kept for another name
  Failed,    // the code is in GetLastError()
};

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
  // abandons the copy between two chunks (ERROR_OPERATION_ABORTED).
  bool Write(const std::wstring& source, const std::wstring& targetFolder, const Entry* listed, const StopSignal* stop,
             const std::function<void(int64_t)>& written);
  // The same copy fed by a read made elsewhere (one read for several
  // destinations): Begin with the source's facts, Append each chunk, End.
  // A failure discards the copy. On a volume that renames nothing the copy
  // takes no chunks: it reads its source itself when it is placed.
  bool Begin(const std::wstring& source, const std::wstring& targetFolder, const Entry& facts,
             const std::vector<std::wstring>& streams, const StopSignal* stop,
             const std::function<void(int64_t)>& written);
  bool Append(const char* data, DWORD size);
  bool End(bool changed);
  // Gives the copy the name in targetFolder. Without replace an entry that
  // holds the name keeps it (Taken). With it a file standing there is
  // replaced, hidden or not, except what Windows refuses to replace by a
  // copy: a folder or a read-only file (access denied).
  Placed PlaceAs(const std::wstring& name, bool replace);
  // What the destination could not keep (Lost bits), once placed.
  unsigned Losses() const { return losses_; }
  // The source grew or shrank while it was copied: the copy holds it as it
  // was when the copy began, with the time it had then.
  bool Changed() const { return changed_; }

 private:
  bool Start(const std::wstring& source, const std::wstring& targetFolder, const Entry& facts,
             const std::vector<std::wstring>& streams, const StopSignal* stop,
             const std::function<void(int64_t)>& written, FileHandle* opened);
  bool MarkForRemoval(bool remove);
  bool CreateTemporary(DWORD attributes);
  bool SetTimes(HANDLE file);
  bool SetCarriedAttributes();
  bool Rename(const std::wstring& target);
  bool RenameByHandle(const std::wstring& target, bool replace);
  bool Replace(const std::wstring& target);
  bool ReplaceViaAside(const std::wstring& target);
  bool MoveByName(const std::wstring& from, const std::wstring& to);
  Placed PlaceInPlace(const std::wstring& target, bool replace);
  bool WriteOver(const std::wstring& target, DWORD standing);
  void Close();
  Placed Finish(const std::wstring& target, Placed placed);
  void CheckTimesKept(const std::wstring& target);
  void Discard();

  FileHandle file_;
  // Where the data comes from when it is written at the placing (a volume
  // that renames nothing): the source, or a finished temporary (spent_).
  FileHandle from_;
  std::wstring spent_;
  const StopSignal* stop_ = nullptr;
  std::wstring folder_;
  std::wstring path_;  // the temporary, open or closed, until it is placed
  VolumeTraits* volume_ = nullptr;
  Entry facts_{};  // the source's attributes and times
  DWORD attributes_ = 0;
  bool marked_ = false;  // the system removes the file when its handle closes
  unsigned losses_ = kLostNothing;
  bool changed_ = false;
  bool skipped_ = false;  // the last chunk was left a hole
  int64_t bytes_ = 0;
  std::function<void(int64_t)> written_;
};

}  // namespace fs
