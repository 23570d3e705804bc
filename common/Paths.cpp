#include "common/Paths.h"

#include <cwctype>

EntryKind ClassifyEntry(const std::wstring& name, DWORD attributes) {
  if (name == L"." || name == L"..") return EntryKind::DotName;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder : EntryKind::File;
}

bool SameTextIgnoreCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && CaseKey(a) == CaseKey(b);
}

// The invariant upper-case mapping is the table ordinal comparisons that
// ignore case use, so this key agrees with how the file system compares.
std::wstring CaseKey(const std::wstring& text) {
  std::wstring key = text;
  if (!key.empty())
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), int(text.size()), key.data(), int(key.size()),
                  nullptr, nullptr, 0);
  return key;
}

void ListIndex::Remove(const std::wstring& text) {
  auto it = counts_.find(CaseKey(text));
  if (it != counts_.end() && --it->second == 0) counts_.erase(it);
}

std::wstring WithBackslash(std::wstring path) {
  if (path.empty() || path.back() != L'\\') path += L'\\';
  return path;
}

bool LiesWithin(const std::wstring& place, const std::wstring& folder) {
  if (folder.empty() || place.size() < folder.size() || !SameTextIgnoreCase(place.substr(0, folder.size()), folder))
    return false;
  return place.size() == folder.size() || folder.back() == L'\\' || place[folder.size()] == L'\\';
}

bool HasWildcard(const std::wstring& path) { return path.find_first_of(L"*?") != std::wstring::npos; }

bool IsAbsolutePath(const std::wstring& path) {
  if (path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\') return true;
  if (path.size() >= 5 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\') {
    size_t share = path.find(L'\\', 2);
    return share != std::wstring::npos && share + 1 < path.size() && path[share + 1] != L'\\';
  }
  return false;
}
