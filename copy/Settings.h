// The remembered same-name policy: key "SameFile" in section "Parameter"
// of Tandrel.ini in the system directory, with a per-user copy used when
// the system directory cannot be written.
#pragma once
#include <string>

#include "copy/SameFileMode.h"

namespace copy {

struct SettingsFilePaths {
  std::wstring system;  // <system directory>\Tandrel.ini
  std::wstring user;    // %LOCALAPPDATA%\Quillmere\Tandrel.ini
};

// The two paths, built afresh for each use (tests may point them elsewhere).
SettingsFilePaths SettingsPaths();
void OverrideSettingsPaths(const SettingsFilePaths* paths);

// Leading spaces, a sign, decimal digits or hex after 0x/0X/x/X/$;
// anything else, or a value that does not fit 32 bits, gives 0.
int ParseStoredNumber(const std::wstring& text);

// The policy a stored code selects (the code is the policy's number; a
// reader that knows only 1 to 4 takes 5 as AutoNumber, the policy that never
// replaces a file); AutoNumber for any code of no policy.
SameFileMode ModeFromStoredCode(int code);

SameFileMode ReadSameFileSetting();
// Writes the policy's code; false when no file could be written.
bool StoreSameFileSetting(SameFileMode mode);

}  // namespace copy
