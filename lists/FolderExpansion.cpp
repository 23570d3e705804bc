#include "lists/FolderExpansion.h"

#include "common/PathList.h"
#include "fs/FileSystem.h"

namespace lists {

void AddFolderTree(PathList& dests, const std::wstring& folder, int maxLevels, const std::function<bool()>& keepGoing) {
  fs::WalkFolders(folder, fs::kMaskNoSystem, maxLevels, [&](const std::wstring& each, const std::vector<fs::Entry>&) {
    dests.AppendNew(each);
    dests.RepaintThrottled();
    return keepGoing();
  });
}

}  // namespace lists
