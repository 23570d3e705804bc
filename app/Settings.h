// The remembered same-name policy: key "SameFile" in section "Parameter"
// of Tandrel.ini in the system directory, with a per-user copy used when
// the system directory cannot be written.
#pragma once
#include <string>

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

// The code to select: 1, 2 or 3 as stored, 4 for anything else.
int ReadSameFileSetting();
// Writes codes 1 to 4 (nothing for 5); false when no file could be written.
bool StoreSameFileSetting(int code);
