#include "app/Settings.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <optional>

#include "common/UnitPublic.h"
#include "fs/FileSystem.h"

namespace {

const wchar_t kSection[] = L"Parameter";
const wchar_t kKey[] = L"SameFile";
std::optional<SettingsFilePaths> g_override;

// The key's text; empty when the file, section or key is missing (a
// sentinel default tells a missing key from an empty value).
std::optional<std::wstring> ReadKey(const std::wstring& file) {
  if (file.empty()) return std::nullopt;
  std::wstring value(2048, L'\0');
  DWORD n = GetPrivateProfileStringW(kSection, kKey, L"\x01", value.data(), DWORD(value.size()), file.c_str());
  value.resize(n);
  if (value == L"\x01") return std::nullopt;
  return value;
}

}  // namespace

SettingsFilePaths SettingsPaths() {
  if (g_override) return *g_override;
  SettingsFilePaths paths;
  UINT n = GetSystemDirectoryW(nullptr, 0);
  std::wstring system(n, L'\0');
  n = GetSystemDirectoryW(system.data(), n);
  system.resize(n);
  paths.system = system + L"\\Tandrel.ini";
  wchar_t* local = nullptr;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local)))
    paths.user = std::wstring(local) + L"\\Quillmere\\Tandrel.ini";
  CoTaskMemFree(local);
  return paths;
}

void OverrideSettingsPaths(const SettingsFilePaths* paths) {
  if (paths)
    g_override = *paths;
  else
    g_override.reset();
}

int ParseStoredNumber(const std::wstring& text) { return ParseInteger(text).value_or(0); }

int ReadSameFileSetting() {
  SettingsFilePaths paths = SettingsPaths();
  auto text = ReadKey(paths.user);  // the per-user copy wins when it holds the key
  if (!text) text = ReadKey(paths.system);
  int code = ParseStoredNumber(text.value_or(L""));
  return code >= 1 && code <= 3 ? code : 4;
}

bool StoreSameFileSetting(int code) {
  if (code < 1 || code > 4) return true;  // NewerOnly is never stored
  SettingsFilePaths paths = SettingsPaths();
  std::wstring value = std::to_wstring(code);
  if (WritePrivateProfileStringW(kSection, kKey, value.c_str(), paths.system.c_str())) {
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, paths.system.c_str());
    // A per-user copy left from an earlier run would otherwise win on reading.
    if (ReadKey(paths.user)) {
      WritePrivateProfileStringW(kSection, kKey, nullptr, paths.user.c_str());
      WritePrivateProfileStringW(nullptr, nullptr, nullptr, paths.user.c_str());
    }
    return true;
  }
  if (paths.user.empty()) return false;
  size_t slash = paths.user.rfind(L'\\');
  if (slash != std::wstring::npos) fs::MakeFolderPath(paths.user.substr(0, slash));
  bool written = WritePrivateProfileStringW(kSection, kKey, value.c_str(), paths.user.c_str());
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, paths.user.c_str());
  return written;
}
