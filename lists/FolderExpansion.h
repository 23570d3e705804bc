// Expansion of a destination folder into its subfolders.
#pragma once
#include <functional>
#include <string>

namespace lists {

// Hands over folder (ending with "\") and, in pre-order, every subfolder
// down to maxLevels below it (negative: all). Hidden folders are kept,
// system ones left out. The walk ends when found returns false. Returns how
// many folders could not be listed (their subfolders are not handed over).
size_t WalkFolderTree(const std::wstring& folder, int maxLevels, const std::function<bool(const std::wstring&)>& found);

}  // namespace lists
