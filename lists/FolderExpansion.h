// Expansion of a destination folder into its subfolders.
#pragma once
#include <functional>
#include <string>

class PathList;

namespace lists {

// Appends folder (ending with "\") and, in pre-order, every subfolder down
// to maxLevels below it (negative: all), each unless already listed. Hidden
// folders are kept, system ones left out. keepAlive runs at every folder.
void AddFolderTree(PathList& dests, const std::wstring& folder, int maxLevels, const std::function<void()>& keepAlive);

}  // namespace lists
