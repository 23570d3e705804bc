#include "copy/Settings.h"

#include "common/Raii.h"

#include <windows.h>
#include <shlobj.h>

#include <optional>

#include "common/Text.h"
#include "fs/FileSystem.h"

namespace copy {

namespace {

const wchar_t kSection[] = L"Parameter";
const wchar_t kKey[] = L"SameFile";
const wchar_t kVerifyKey[] = L"VerifyCopies";
std::optional<SettingsFilePaths> g_override;

std::optional<std::wstring> ReadKey(const std::wstring& file, const wchar_t* key = kKey) {
  return fs::ReadProfileString(file, kSection, key);
}

// The per-user copy wins when it holds the key.
std::wstring ReadStored(const wchar_t* key) {
  const SettingsFilePaths paths = SettingsPaths();
  auto text = ReadKey(paths.user, key);
  if (!text) text = ReadKey(paths.system, key);
  return text.value_or(L"");
}

bool WriteBoth(const std::wstring& file, const std::wstring& mode, bool verify) {
  return fs::WriteProfileString(file, kSection, kKey, mode.c_str()) &&
         fs::WriteProfileString(file, kSection, kVerifyKey, verify ? L"1" : L"0");
}

// The system directory as a 64-bit process sees it. A 32-bit one on 64-bit
// Windows is sent to SysWOW64 for System32: Sysnative is the way to the real
// one, so that both builds read and write one settings file.
std::wstring SystemDirectory() {
  BOOL wow64 = FALSE;
  const bool redirected = IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
  auto get = redirected ? GetSystemWindowsDirectoryW : GetSystemDirectoryW;
  UINT n = get(nullptr, 0);
  std::wstring folder(n, L'\0');
  n = get(folder.data(), n);
  folder.resize(n);
  return redirected ? folder + L"\\Sysnative" : folder;
}

}  // namespace

SettingsFilePaths SettingsPaths() {
  if (g_override) return *g_override;
  SettingsFilePaths paths;
  paths.system = SystemDirectory() + L"\\Tandrel.ini";
  CoTaskMem<wchar_t> local;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, local.Put())))
    paths.user = std::wstring(local.get()) + L"\\Quillmere\\Tandrel.ini";
  return paths;
}

void OverrideSettingsPaths(const SettingsFilePaths* paths) {
  if (paths)
    g_override = *paths;
  else
    g_override.reset();
}

int ParseStoredNumber(const std::wstring& text) { return text::ParseInteger(text).value_or(0); }

SameFileMode ModeFromStoredCode(int code) {
  return code >= 1 && code <= 5 ? SameFileMode(code) : SameFileMode::AutoNumber;
}

SameFileMode ReadSameFileSetting() { return ModeFromStoredCode(ParseStoredNumber(ReadStored(kKey))); }

bool ReadVerifySetting() { return ParseStoredNumber(ReadStored(kVerifyKey)) == 1; }

bool StoreWindowSettings(SameFileMode mode, bool verify) {
  SettingsFilePaths paths = SettingsPaths();
  const std::wstring value = std::to_wstring(int(mode));
  if (WriteBoth(paths.system, value, verify)) {
    // A per-user copy left from an earlier run would otherwise win on reading.
    for (const wchar_t* key : {kKey, kVerifyKey})
      if (ReadKey(paths.user, key)) fs::WriteProfileString(paths.user, kSection, key, nullptr);
    return true;
  }
  if (paths.user.empty()) return false;
  size_t slash = paths.user.rfind(L'\\');
  if (slash != std::wstring::npos) fs::MakeFolderPath(paths.user.substr(0, slash));
  return WriteBoth(paths.user, value, verify);
}

}  // namespace copy
