// The steps of a copy run that the run into one destination at a time and
// the run read once for many destinations share: the plan a policy makes
// for one file, the making of a target folder, the placing of a written
// copy and what follows it, one source entry into one destination, and the
// bar's count.
#pragma once
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/Sync.h"
#include "copy/CopyEngine.h"
#include "fs/FileCopy.h"
#include "fs/Place.h"

namespace copy {

// Where a copy goes, decided before it is written. The rename decides again
// against whatever stands there by then.
enum class Plan {
  Keep,     // nothing is copied
  New,      // under its own name; a file that appears meanwhile stays
  Replace,  // under its own name, over whatever file stands there
  Number,   // under the first free numbered name at the rename
};
Plan PlanOf(const std::wstring& target, const CopyContext& context, const fs::Entry* listed,
            const std::wstring& source);

// Makes a folder of the copy where it is missing; a failure where a file stands.
void MakeTargetFolder(const std::wstring& folder, const CopyContext& context);

// A run's first visit to a folder of a destination: what our dead processes
// left there is repaired or removed, before any file of it is planned.
void PrepareFolder(Destination& destination, const std::wstring& folder);

// Tells the run a file is begun: false when it is not to be copied at all (an
// unfinished copy of ours, or a destination gone, said as a failure). It
// waits while the destination's outage is waited out, and prepares the folder.
bool BeginFile(const std::wstring& source, const std::wstring& targetFolder, const std::wstring& name,
               const CopyContext& context);

// Tells the run the bytes a copy writes (and takes back).
std::function<void(int64_t)> BytesTold(const CopyObserver* observer);

// One attempt at a copy: its outcome, or the code it failed with (never 0).
struct Attempted {
  std::optional<FileOutcome> outcome;
  DWORD error = 0;
};
using Attempt = std::function<Attempted(std::wstring& placedName)>;
// Gives a written copy its name as the plan says. Once it has a name, it
// has its outcome: nothing after makes it a failure, so no retry places it twice.
Attempted PlaceWritten(fs::PendingCopy& copy, const std::wstring& source,
                                        const std::wstring& targetFolder, const std::wstring& name, Plan plan,
                                        const CopyContext& context, std::wstring& placedName);
// Carries out a planned copy: first (a copy written from a read made
// elsewhere), or a copy of its own, then tried again as the retry says, each
// time reading the source itself; then tells the outcome or the failure.
// Returns where the file went, or empty.
std::wstring CarryOut(const std::wstring& source, const std::wstring& targetFolder, const std::wstring& name,
                      Plan plan, const CopyContext& context, const fs::Entry* listed, const Attempt& first = nullptr);

// The place a source entry names, as it is copied (a file with a device's
// name, "aux.h", as that file).
std::wstring SourcePlace(const std::wstring& sourceEntry);
// One source entry into one destination: a file by its name, a folder as a
// whole tree under its own name (from: a path below it to go on from).
// Returns what the run wrote or kept there, or empty.
std::wstring CopyEntry(const std::wstring& sourceEntry, const std::wstring& destEntry, const CopyContext& context,
                       ParallelCopier* parallel, const std::wstring& from = L"");

// The run's own output, which no walk of a source enters, whatever name or
// link leads there: every destination's copy of every folder entry. Told by
// where a folder leads or by its identity (fs/Place.h), so the run into one
// destination at a time, the read for several and a destination let go to
// read for itself all leave out the same folders.
class OwnOutputs {
 public:
  OwnOutputs(const std::vector<std::wstring>& sources, const std::vector<std::wstring>& dests);
  void Add(const std::wstring& output);
  bool Holds(const std::wstring& folder) const;

 private:
  std::unordered_set<std::wstring> finals_;
  std::unordered_set<fs::PlaceId, fs::PlaceIdHash> ids_;
};

// The bar: the share of the run's (source entry, destination) pairs done;
// or, where copies are read back, of the bytes to write and to check.
class RunProgress {
 public:
  RunProgress(uint64_t total, const CopyObserver& observer, bool ofBytes = false)
      : total_(total), ofBytes_(ofBytes), observer_(observer) {}
  void EntryDone() {
    if (!ofBytes_) Advance(1);
  }
  void BytesDone(int64_t bytes) {
    if (ofBytes_) Advance(bytes);
  }

 private:
  void Advance(int64_t done);
  Lock lock_;
  const uint64_t total_;
  const bool ofBytes_;
  int64_t done_ = 0;
  int shown_ = -1;
  const CopyObserver& observer_;
};

}  // namespace copy
