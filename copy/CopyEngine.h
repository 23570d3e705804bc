// The copy engine: same-name policies, the folder tree copy, emptying of
// destination folders and the copy run. Plain code: the window hands it
// its lists and options through CopyRunHost and gets questions and
// progress back the same way.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/UnitPublic.h"

namespace copy {

enum SameFileMode { Overwrite = 1, Skip = 2, Ask = 3, AutoNumber = 4, NewerOnly = 5 };

// What one copy needs from outside: the Ask question and a chance to let
// the window paint.
class ParallelCopier;

struct CopyContext {
  int mode = AutoNumber;
  // When set, files of independent policies are copied on its workers.
  ParallelCopier* parallel = nullptr;
  std::function<bool(const std::wstring& target)> askOverwrite;  // true = Yes
  std::function<void()> keepAlive;
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
  ListIndex listedDests;  // destination entries, each with a trailing "\"
  ListIndex spared;       // paths (no trailing "\") kept with all below them
  std::function<void()> keepAlive;
};
enum class EmptyingAction { Skip, Descend, Remove, KeepLink };
// What emptying does with one listed entry.
EmptyingAction EmptyingActionFor(const std::wstring& name, DWORD attributes);
EmptyRules MakeEmptyRules(const std::vector<std::wstring>& dests, const std::vector<std::wstring>& spared = {});
// Removes everything below folder, depth first, except listed destination
// folders, spared paths and what links point to.
void EmptyFolder(const std::wstring& folder, const EmptyRules& rules);

// Same path, letter case and trailing backslashes ignored.
bool SamePath(const std::wstring& a, const std::wstring& b);

class CopyRunHost {
 public:
  virtual ~CopyRunHost() = default;
  virtual int SourceCount() = 0;
  virtual std::wstring SourceAt(int i) = 0;
  virtual int DestCount() = 0;
  virtual std::wstring DestAt(int j) = 0;
  virtual bool EmptyFirst() = 0;  // CheckBox1, read afresh for each destination
  virtual int Mode() = 0;         // read afresh for each source entry
  virtual bool AskOverwrite(const std::wstring& target) = 0;
  virtual void SetProgress(int position) = 0;
  virtual void KeepAlive() = 0;
};

// Destinations outer, sources inner; emptying each destination just before
// its turn. Throws AppError on an I/O error (the bar stays where it was).
void RunCopy(CopyRunHost& host);
// (sourceCount * j + i + 1) * 100 / (destCount * sourceCount), 64-bit, 0 for no entries.
int ProgressPosition(int sourceCount, int destCount, int j, int i);

}  // namespace copy
