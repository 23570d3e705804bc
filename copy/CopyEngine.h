// The copy engine: same-name policies, the folder tree copy and the copy
// run. Plain code: the window hands it a job and an observer, and gets
// questions and progress back through it.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "copy/CopyObserver.h"
#include "copy/SameFileMode.h"
#include "fs/FileSystem.h"

namespace copy {

class Destination;
class OwnOutputs;
class ParallelCopier;

// How a copy that failed for a reason that may pass (a file in use, a lock,
// a network name gone for a moment) is tried again.
struct Retry {
  int times = 0;
  DWORD waitMilliseconds = 0;
};

// A file a read elsewhere began and did not finish for this copy: copied as
// that read began it, so a file that grows meanwhile gives every destination
// the same copy.
struct BegunFile {
  std::wstring source;
  fs::Entry facts;  // its length, times and attributes then
};

// What one copy needs: its policy, the observer, and the workers that take
// the files of independent policies (none on a worker itself).
struct CopyContext {
  SameFileMode mode = SameFileMode::AutoNumber;
  const CopyObserver* observer = nullptr;
  ParallelCopier* parallel = nullptr;
  Retry retry;
  Destination* destination = nullptr;  // the run's destination the copy goes into, when in a run
  const OwnOutputs* outputs = nullptr;  // the run's, which no walk enters
  const BegunFile* begun = nullptr;
  bool verify = false;  // each copy placed is kept for its destination's read-back
};

// Copies one file into targetFolder (ending with "\") under name, as the
// policy says. listed, what a listing told of the source, spares asking again.
// A stop abandons the file in progress: it leaves nothing, and is no failure.
// Returns where the file went or the file that stands there stays (a kept
// one); empty when it failed or a stop abandoned it.
std::wstring CopyOneFile(const std::wstring& source, const std::wstring& targetFolder, const std::wstring& name,
                         const CopyContext& context, const fs::Entry* listed = nullptr);
// The name AutoNumber copies under: name itself, or stem_N.ext with the
// first N that no entry holds (a folder included; in a dry run, what the
// observer's rehearsal made too).
std::wstring FreeNumberedName(const std::wstring& targetFolder, const std::wstring& name,
                              const CopyObserver* observer = nullptr);

// Copies the tree below sourceFolder into destFolder (made as needed); false
// when sourceFolder lists nothing at all. A folder that cannot be entered is a
// failure of its own, and the rest goes on. The run's own output (context's
// outputs, and `excluded`, this copy's top) is left out, by any name.
bool CopyFolderTree(const std::wstring& sourceFolder, const std::wstring& destFolder, const CopyContext& context,
                    const std::wstring& excluded = L"", const std::wstring& from = L"");

// A copy run's lists and options, taken when it starts. The main window
// takes no input while the run goes on, so this snapshot holds exactly
// what reading the window afresh at every step would read.
struct CopyJob {
  std::vector<std::wstring> sources, dests;
  SameFileMode mode = SameFileMode::AutoNumber;
  bool emptyFirst = false;
  Retry retry;
  std::vector<std::wstring> keptByEmptying;  // besides the sources (the list files a run was read from)
  // Every copy placed is read back from its destination after that
  // destination's last copy, past the cache, and compared with what was read.
  bool verify = false;
  // A run into several destinations: how far its read runs ahead of the
  // fastest, and how far one may fall behind the read before it is let go
  // to read for itself (the most memory a run holds for them). Four folders
  // of one disk drift further than 64 MiB apart as it writes back.
  uint64_t readAhead = 8ull << 20, letGoBehind = 160ull << 20;
};

// Why a run does not start.
enum class Refusal {
  None,
  WholeDriveSource,   // a source names a whole drive
  WholeDriveEmptied,  // emptying is asked and a destination names a whole drive
};
Refusal RefusalOf(const CopyJob& job);

// How many threads copy the files of a folder under the order-free policies.
int CopyingThreads();

// Every source into every destination. Each place is taken once, however
// many spellings name it. Several destinations are written side by side
// from one read of each source where no order would show; otherwise, and
// for one destination, destinations outer, sources inner, each emptied just
// before its turn. The bar tells the share of (source, destination) pairs
// done. Ends early, after the step in progress, when the observer's stop is
// requested. The caller asks RefusalOf first; a whole drive is never copied
// nor emptied all the same.
void RunCopy(const CopyJob& job, const CopyObserver& observer);

}  // namespace copy
