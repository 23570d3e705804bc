// The copy engine: same-name policies, the folder tree copy, emptying of
// destination folders and the copy run. Plain code: the window hands it a
// job and an observer, and gets questions and progress back through it.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/Paths.h"
#include "copy/SameFileMode.h"

namespace copy {

class ParallelCopier;

// What the run tells and asks the outside. Every member may be left empty.
struct CopyObserver {
  std::function<bool(const std::wstring& target)> askOverwrite;  // Ask's question; true = Yes
  std::function<void(int position)> progress;                     // after each source entry, 0..100
  std::function<void()> keepAlive;                                 // often, on the run's own thread

  bool AskOverwrite(const std::wstring& target) const { return askOverwrite && askOverwrite(target); }
  void Progress(int position) const {
    if (progress) progress(position);
  }
  void KeepAlive() const {
    if (keepAlive) keepAlive();
  }
};

// What one copy needs: its policy, the observer (none on worker threads:
// they neither ask nor pump), and workers for independent policies.
struct CopyContext {
  SameFileMode mode = SameFileMode::AutoNumber;
  const CopyObserver* observer = nullptr;
  ParallelCopier* parallel = nullptr;
};

// The question asked under Ask.
std::wstring OverwriteQuestion(const std::wstring& target);

// Copies one file into targetFolder (ending with "\") under name.
// sourceAttributes, when a listing gave them, spare a look-up.
void CopyOneFile(const std::wstring& source, const std::wstring& targetFolder, const std::wstring& name,
                 const CopyContext& context, DWORD sourceAttributes = INVALID_FILE_ATTRIBUTES);
// The name AutoNumber copies under: name itself, or stem_N.ext with the first free N.
std::wstring FreeNumberedName(const std::wstring& targetFolder, const std::wstring& name);

// Copies the tree below sourceFolder into destFolder (made as needed).
// Throws AppError when a folder cannot be entered. A subfolder whose path is
// `excluded` (the copy's own output) is left out.
bool CopyFolderTree(const std::wstring& sourceFolder, const std::wstring& destFolder, const CopyContext& context,
                    const std::wstring& excluded = L"");

// Which paths emptying must keep.
struct EmptyRules {
  ListIndex listedDests;  // places of the destination entries, each with a trailing "\"
  ListIndex spared;       // places (no trailing "\") kept with all below them
  void Spare(const std::wstring& path);
};
enum class EmptyingAction { Skip, Descend, Remove, KeepLink };
// What emptying does with one listed entry.
EmptyingAction EmptyingActionFor(const std::wstring& name, DWORD attributes);
EmptyRules MakeEmptyRules(const std::vector<std::wstring>& dests, const std::vector<std::wstring>& spared = {});
// Removes everything below folder, depth first, except listed destination
// folders, spared paths and what links point to.
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
void RunCopy(const CopyJob& job, const CopyObserver& observer);
// (sourceCount * j + i + 1) * 100 / (destCount * sourceCount), 64-bit, 0 for no entries.
int ProgressPosition(size_t sourceCount, size_t destCount, size_t j, size_t i);

}  // namespace copy
