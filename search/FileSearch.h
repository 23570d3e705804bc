// The keyword search's two walks, handing over each file they find.
#pragma once
#include <functional>
#include <string>

#include "common/StopSignal.h"
#include "search/KeywordMatch.h"

namespace search {

// Files whose names match, in folder (ending with "\") alone, every entry
// listed, or in its whole tree, hidden folders walked and system entries
// left out. The walk ends early when stop is requested. Returns how many
// folders could not be listed.
size_t FindFiles(const std::wstring& folder, bool wholeTree, const KeywordMatcher& matcher, const StopSignal& stop,
               const std::function<void(const std::wstring& path)>& found);

}  // namespace search
