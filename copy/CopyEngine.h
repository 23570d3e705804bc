// The copy engine: same-name policies, the folder tree copy, emptying of
// destination folders and the copy run. Plain code: the window hands it a
// job and an observer, and gets questions and progress back through it.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/Paths.h"
#include "common/StopSignal.h"
#include "fs/FileSystem.h"
#include "copy/RunReport.h"
#include "copy/SameFileMode.h"

namespace copy {

class ParallelCopier;

enum class Answer { Yes, No, Cancel };

// What the run tells and asks the outside. Every member may be left empty.
// The functions run on the run's own thread; the report and the stop signal
// are shared with the worker threads.
struct CopyObserver {
  std::function<Answer(const std::wstring& target)> askOverwrite;  // Ask's question; Cancel stops the run
  std::function<void(int position)> progress;                       // after each source entry, 0..100
  std::function<void()> keepAlive;                                   // often
  RunReport* report = nullptr;                                       // what was done and what failed
  StopSignal* stop = nullptr;                                        // checked before every step

  Answer AskOverwrite(const std::wstring& target) const { return askOverwrite ? askOverwrite(target) : Answer::No; }
  void Progress(int position) const {
    if (progress) progress(position);
  }
  void KeepAlive() const {
    if (keepAlive) keepAlive();
  }
  bool StopRequested() const { return stop && stop->Requested(); }
  void Failed(const std::wstring& path, DWORD code, const std::wstring& target = L"") const {
    if (report) report->Failed(path, code, target);
  }
};

// What one copy needs: its policy, the observer, and the workers (which
// take the files of independent policies, and any large file while the
// window thread pumps). On a worker (onWorker) nothing asks or pumps.
struct CopyContext {
  SameFileMode mode = SameFileMode::AutoNumber;
  const CopyObserver* observer = nullptr;
  ParallelCopier* parallel = nullptr;
  bool onWorker = false;
};

// The question asked under Ask.
std::wstring OverwriteQuestion(const std::wstring& target);

// Copies one file into targetFolder (ending with "\") under name.
// sourceAttributes, when a listing gave them, spare a look-up.
void CopyOneFile(const std::wstring& source, const std::wstring& targetFolder, const std::wstring& name,
                 const CopyContext& context, DWORD sourceAttributes = INVALID_FILE_ATTRIBUTES, uint64_t size = 0);
// The name AutoNumber copies under: name itself, or stem_N.ext with the first free N.
std::wstring FreeNumberedName(const std::wstring& targetFolder, const std::wstring& name);

// Copies the tree below sourceFolder into destFolder (made as needed); false
// when sourceFolder lists nothing at all. Throws AppError when a folder cannot
// be entered. A subfolder whose path is `excluded` (the copy's own output) is
// left out.
bool CopyFolderTree(const std::wstring& sourceFolder, const std::wstring& destFolder, const CopyContext& context,
                    const std::wstring& excluded = L"");

// Which paths emptying must keep.
struct EmptyRules {
  ListIndex listedDests;  // places (no trailing "\") of the destination entries: never removed
  ListIndex spared;       // places kept with all below them
  // Their identities: no other spelling (a link, a short name, a mapped
  // drive) of one of them slips past either.
  std::vector<fs::PlaceId> listedDestIds, sparedFolders, sparedFiles;
  ListIndex sparedFileNames;  // the spared files' own names
  void Spare(const std::wstring& path);
  // The folder's identity is read once by the caller and asked of both.
  bool Spares(const std::wstring& folder, const std::optional<fs::PlaceId>& id) const;
  bool IsListedDest(const std::wstring& folder, const std::optional<fs::PlaceId>& id) const;
  bool SparesFile(const std::wstring& file) const;
};
enum class EmptyingAction { Skip, Descend, Remove, KeepLink };
// What emptying does with one listed entry.
EmptyingAction EmptyingActionFor(const std::wstring& name, DWORD attributes);
EmptyRules MakeEmptyRules(const std::vector<std::wstring>& dests, const std::vector<std::wstring>& spared = {});
// Removes everything below folder, depth first, except listed destination
// folders, spared paths and what links point to. A folder that is spared
// itself is left as it is.
void EmptyFolder(const std::wstring& folder, const EmptyRules& rules, const CopyObserver& observer = {});

// A copy run's lists and options, taken when it starts. The main window
// takes no input while the run goes on, so this snapshot holds exactly
// what reading the window afresh at every step would read.
struct CopyJob {
  std::vector<std::wstring> sources, dests;
  SameFileMode mode = SameFileMode::AutoNumber;
  bool emptyFirst = false;
};

// Destinations outer, sources inner; emptying each destination just before
// its turn. Throws AppError on an I/O error (progress stays where it was).
// Ends early, after the step in progress, when the observer's stop is requested.
void RunCopy(const CopyJob& job, const CopyObserver& observer);
// (sourceCount * j + i + 1) * 100 / (destCount * sourceCount), 64-bit, 0 for no entries.
int ProgressPosition(size_t sourceCount, size_t destCount, size_t j, size_t i);

}  // namespace copy
