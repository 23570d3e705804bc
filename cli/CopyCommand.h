// What qmcopy does with its arguments: gathers the two lists as the window's
// imports would, runs the copy on the engine the window uses, and tells the
// outcome on the console (and in the log).
#pragma once
#include "cli/Arguments.h"
#include "cli/Console.h"
#include "common/StopSignal.h"

enum ExitCode {
  kAllDone = 0,      // every file copied or kept as the policy says
  kSomeFailed = 1,   // failures, each listed
  kNothingDone = 2,  // bad arguments, an unreadable list, nothing to copy, a refused drive
  kStopped = 3,      // Ctrl+C
};

int RunCopyCommand(const Arguments& arguments, Console& console, StopSignal& stop);
