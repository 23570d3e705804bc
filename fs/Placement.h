// What became of a copy given its name: placed or not, what the destination
// did not keep, and why it failed. Once a copy holds its name, nothing after
// turns it into a failure.
#pragma once
#include <windows.h>

namespace fs {

// What a destination could not keep of a copy that was placed all the same.
enum Lost : unsigned {
  kLostNothing = 0,
  kLostTimes = 1,       // the last-write time
  kLostAttributes = 2,  // hidden, system or read-only
};

enum class Placed {
  New,       // where nothing stood
  Replaced,  // over the file that stood there
  Taken,     // an entry holds the name and was not to be replaced: the copy is kept for another name
  Failed,
};

struct Placement {
  Placed placed = Placed::Failed;
  unsigned lost = kLostNothing;
  DWORD error = 0;  // why it failed: never 0 when it did

  static Placement Failure(DWORD code) {
    Placement placement;
    placement.error = code ? code : ERROR_GEN_FAILURE;
    return placement;
  }
};

}  // namespace fs
