// The window's remembered options: the same-name policy (key "SameFile")
// and the verification of copies (key "VerifyCopies", 0 or 1) in section
// "Parameter" of Tandrel.ini in the system directory, with a per-user copy
// used when the system directory cannot be written.
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
// Off unless the file says 1 (a file from before the option has no key).
bool ReadVerifySetting();
// Writes the policy's code and the verification, both into the one file
// that can be written; false when none could be.
bool StoreWindowSettings(SameFileMode mode, bool verify);

}  // namespace copy
