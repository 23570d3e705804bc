// The command line of qmcopy: what to copy where, and how.
#pragma once
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "copy/SameFileMode.h"

struct Arguments {
  std::vector<std::wstring> sources, dests;  // list files or paths, as given
  std::optional<copy::SameFileMode> mode;    // none: the remembered policy
  bool empty = false, verify = false, dryRun = false, quiet = false, help = false;
  std::wstring logFile;
  int retries = 0;
  int waitSeconds = 5;
};

// The arguments after the program's name; an error text when they make no sense.
std::variant<Arguments, std::wstring> ParseArguments(const std::vector<std::wstring>& words);
