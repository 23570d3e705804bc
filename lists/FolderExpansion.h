// Expansion of a destination folder into its subfolders.
#pragma once
#include <functional>
#include <string>

class PathList;

namespace lists {

// Appends folder (ending with "\") and, in pre-order, every subfolder down
// to maxLevels below it (negative: all), each unless already listed. Hidden
// folders are kept, system ones left out. keepGoing runs at every folder;
// when it returns false the expansion ends, keeping what it added.
void AddFolderTree(PathList& dests, const std::wstring& folder, int maxLevels, const std::function<bool()>& keepGoing);

}  // namespace lists
