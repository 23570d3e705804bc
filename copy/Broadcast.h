// A run into several destinations that reads each source once and writes
// the destinations side by side, each through the same copy as a run into
// one: its own temporary, its own decision at its own rename. The read
// keeps pace with the fastest destination; one that falls too far behind is
// let go and reads the rest itself, so it holds no other back and the
// memory held stays bounded. A destination that fails fails its own files.
#pragma once
#include <optional>

#include "copy/CopyEngine.h"
#include "copy/CopySteps.h"
#include "copy/Emptying.h"

namespace copy {

// A run goes side by side when it has several destinations, no question to
// ask and no dry run (both tell in order), and no destination lies in
// another or in a source, or holds one: told by identity (volume and file
// index of the place and every folder above it), in both directions.
// Otherwise it keeps the order of one destination after another.
bool CanBroadcast(const CopyJob& job, const CopyObserver& observer);

// Every destination emptied first, in list order, when rules are given
// (a stop then copies nothing); then the copy side by side.
void RunBroadcast(const CopyJob& job, const CopyObserver& observer, std::optional<EmptyRules>& rules,
                  RunProgress& progress, const OwnOutputs& outputs);

}  // namespace copy
