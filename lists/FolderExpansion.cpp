#include "lists/FolderExpansion.h"

#include "fs/FileSystem.h"

namespace lists {

size_t WalkFolderTree(const std::wstring& folder, int maxLevels, const std::function<bool(const std::wstring&)>& found) {
  return fs::WalkFolders(folder, fs::kMaskNoSystem, maxLevels,
                  [&](const std::wstring& each, const std::vector<fs::Entry>&) { return found(each); });
}

}  // namespace lists
