#include "common/UnitPublic.h"

const wchar_t kAppTitle[] = L"Quillmere";
const wchar_t kDriveRootMessage[] = L"不能对整个驱动器（磁盘）进行复制！";

int ClassifyEntry(const std::wstring& name, DWORD attributes) {
  if (name == L"." || name == L"..") return 2;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

bool SameTextIgnoreCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         CompareStringOrdinal(a.data(), int(a.size()), b.data(), int(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring CaseKey(const std::wstring& text) {
  std::wstring key = text;
  if (!key.empty()) CharUpperBuffW(key.data(), DWORD(key.size()));
  return key;
}

int FindListItem(const std::vector<std::wstring>& items, const std::wstring& text) {
  for (size_t i = 0; i < items.size(); ++i)
    if (SameTextIgnoreCase(items[i], text)) return int(i);
  return -1;
}

void ListIndex::Remove(const std::wstring& text) {
  auto it = counts_.find(CaseKey(text));
  if (it != counts_.end() && --it->second == 0) counts_.erase(it);
}

std::wstring WithBackslash(std::wstring path) {
  if (path.empty() || path.back() != L'\\') path += L'\\';
  return path;
}

bool IsDriveRoot(const std::wstring& path) {
  return path.size() >= 2 && path.compare(path.size() - 2, 2, L":\\") == 0;
}
