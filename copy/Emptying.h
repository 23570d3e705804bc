// Emptying of destination folders, and the one rule that decides each of
// its removals.
#pragma once
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/Paths.h"
#include "copy/CopyObserver.h"
#include "fs/FileSystem.h"

namespace copy {

// A file or folder as emptying meets it: where it is once links are
// followed, and its identity when the system gives one.
struct Place {
  std::wstring path;
  std::optional<fs::PlaceId> id;
};

// What emptying keeps: the listed destinations (emptied, never removed) and
// the spared paths, kept with everything below them when emptying meets them
// (the sources, and the destinations that have had their turn in a run). Each is known by every
// spelling the system resolves, where links lead and its identity, so no
// spelling, link or short name of one slips past.
class EmptyRules {
 public:
  explicit EmptyRules(const std::vector<std::wstring>& dests = {}, const std::vector<std::wstring>& spared = {});
  void Spare(const std::wstring& path);
  bool Spares(const Place& place) const { return spared_.Holds(place); }
  // The final path lies inside one of the paths spared from the start (a
  // source): everything there is the run's to copy, never to remove.
  bool LiesInSpared(const std::wstring& finalPath) const;
  bool IsListedDest(const Place& place) const { return listed_.Holds(place); }

 private:
  struct Places {
    ListIndex paths;
    std::unordered_set<fs::PlaceId, fs::PlaceIdHash> ids;
    void Add(const std::wstring& path);
    bool Holds(const Place& place) const;
  };
  Places listed_, spared_;
  ListIndex sparedFromStart_;  // their places and final paths
};

enum class EmptyingAction { Skip, Descend, Remove };
// What emptying does with one entry by its listing alone ("." and "..", a
// folder, anything else).
EmptyingAction EmptyingActionFor(const std::wstring& name, DWORD attributes);

// Removes everything inside folder, depth first, by the one removal rule:
// an entry goes only when it lies inside the folder being emptied as the
// system resolves it with links followed (a link is neither followed nor
// removed), and it neither is nor holds what the rules keep. The folder
// itself stays. A whole drive is never emptied (a failure of the report);
// what cannot be read or removed is reported, what is kept on purpose is not.
void EmptyFolder(const std::wstring& folder, const EmptyRules& rules, const CopyObserver& observer = {});

// The first of the folders that names a whole drive, which emptying never takes.
std::optional<std::wstring> FindWholeDrive(const std::vector<std::wstring>& folders);

// The empty-now command: every destination in list order, sparing the
// sources as a run does. The caller refuses a whole drive first (FindWholeDrive).
void EmptyDestinations(const std::vector<std::wstring>& dests, const std::vector<std::wstring>& sources,
                       const CopyObserver& observer);

}  // namespace copy
