// Verified copies: every copy a destination was given in this run is read
// back from its device once its last copy is placed, and compared with the
// hash of what was read for it. A copy that differs, or cannot be read back,
// is a failure of that file and does not stay under its name.
#pragma once
#include "copy/CopyObserver.h"
#include "copy/Destination.h"

namespace copy {

class ParallelCopier;

// On the copying threads where there are (parallel), else on the caller's.
// A stop leaves the copies not yet read back as they are: placed, unchecked.
void VerifyPlaced(Destination& destination, const CopyObserver& observer, ParallelCopier* parallel);

}  // namespace copy
