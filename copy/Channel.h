// What the one read of a broadcast hands one destination: its steps, in
// walk order, through a bounded queue, and the rules by which a destination
// that falls behind is let go to read the rest for itself.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Sync.h"
#include "copy/CopySteps.h"
#include "fs/ContentHash.h"
#include "fs/FileSystem.h"

namespace copy {

// Where the walk stands: a source entry, and a path below its copy's top
// ("" for the whole entry). A destination let go goes on from here.
struct Position {
  size_t entry = 0;
  std::wstring relative;
};

// One step of the walk, as each destination takes it in turn.
struct Step {
  enum class Kind { Folder, File, Chunk, End, CouldNotEnter, EntryDone, Finish, LetGo } kind;
  Position at;          // Folder, File, CouldNotEnter, LetGo
  std::wstring path;    // Folder: the folder to make; File: the source; CouldNotEnter: the folder
  std::wstring folder;  // File: its target folder, ending with "\"
  fs::Entry listed{};   // File: as its folder's listing told (the name is the target's)
  bool hasListing = false;
  fs::Entry facts{};  // File: as the source told when the read opened it; LetGo: of the file cut short
  std::vector<std::wstring> streams;  // File: its named streams
  Plan plan = Plan::Keep;
  DWORD code = 0;        // File: why the source could not be opened; End: why the read broke off
  bool changed = false;  // End: the source grew or shrank while it was read
  bool midFile = false;  // LetGo: cut inside the file at `at`, whose facts it carries
  std::optional<fs::ContentHash> hash;  // End: of the bytes read, when copies are verified
  std::shared_ptr<const std::vector<char>> data;  // Chunk

  bool BeginsStep() const { return kind == Kind::Folder || kind == Kind::File || kind == Kind::CouldNotEnter; }
  uint64_t Cost() const;
};

// Wakes the read when a destination has room again.
struct Pace {
  Lock lock;
  Condition room;
};

// The queue between the read and one destination. Its rules:
//  - The read runs at most readAhead ahead of the destination (it waits on
//    the pace, which every channel wakes as it drains).
//  - A destination with more than letGoBehind queued is let go: every step
//    queued and not begun is dropped, and a LetGo step says where it goes
//    on alone, at the first of them.
//  - When what is queued is only the rest of the file in progress, it goes
//    on from that file, copied again as the read began it (its length and
//    times: a file that grows gives every destination the same copy).
//  - When the file in progress is queued whole (its end included), it is
//    not let go yet: the next step pushed is the cut.
//  - A channel let go or stopped takes no more steps; Finish is the last.
class Channel {
 public:
  Channel(uint64_t readAhead, uint64_t letGoBehind, Pace& pace)
      : readAhead_(readAhead), letGoBehind_(letGoBehind), pace_(pace) {}

  // From the read: false once the destination takes no more steps.
  bool Push(Step step);
  // To the destination: the next step, waiting for one.
  Step Pop();
  // The destination is out (it failed): what is queued is dropped, and the
  // read no longer waits for it.
  void Stop();

  bool Attached() const { return attached_.load(); }
  bool HasRoom() const { return queued_.load() < readAhead_; }
  uint64_t Queued() const { return queued_.load(); }

 private:
  void LetGo();
  void WakeTheRead();

  const uint64_t readAhead_, letGoBehind_;
  Pace& pace_;
  Lock lock_;
  Condition ready_;
  std::deque<Step> queue_;
  std::atomic<uint64_t> queued_{0};
  std::atomic<bool> attached_{true};
  // The file the destination is writing, under lock_.
  bool writingFile_ = false;
  Position writing_;
  fs::Entry writingFacts_{};
};

}  // namespace copy
