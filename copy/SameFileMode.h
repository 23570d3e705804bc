// What a copy does when the target folder already holds a file of the
// same name. The values are the codes the settings file stores.
#pragma once

namespace copy {

enum class SameFileMode { Overwrite = 1, Skip = 2, Ask = 3, AutoNumber = 4, NewerOnly = 5 };

// Policies whose outcome for one file never depends on another file's copy,
// so their files may be copied on worker threads.
constexpr bool IsIndependent(SameFileMode mode) {
  return mode == SameFileMode::Overwrite || mode == SameFileMode::Skip || mode == SameFileMode::NewerOnly;
}

}  // namespace copy
