#include "common/UnitPublic.h"

#include <cwctype>

const wchar_t kAppTitle[] = L"Quillmere";
const wchar_t kDriveRootMessage[] = L"不能对整个驱动器（磁盘）进行复制！";

int ClassifyEntry(const std::wstring& name, DWORD attributes) {
  if (name == L"." || name == L"..") return 2;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
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

int FindListItem(const std::vector<std::wstring>& items, const std::wstring& text) {
  for (size_t i = 0; i < items.size(); ++i)
    if (SameTextIgnoreCase(items[i], text)) return int(i);
  return -1;
}

void ListIndex::Remove(const std::wstring& text) {
  auto it = counts_.find(CaseKey(text));
  if (it != counts_.end() && --it->second == 0) counts_.erase(it);
}

std::wstring WithoutTrailingBackslashes(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

std::wstring WithBackslash(std::wstring path) {
  if (path.empty() || path.back() != L'\\') path += L'\\';
  return path;
}

bool IsDriveRoot(const std::wstring& path) { return path.size() >= 2 && path.compare(path.size() - 2, 2, L":\\") == 0; }

namespace {
int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}
}  // namespace

std::optional<int> ParseInteger(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == L' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  bool hex = false;
  if (i < text.size() && (text[i] == L'$' || text[i] == L'x' || text[i] == L'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X')) {
    hex = true;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;
  unsigned long long value = 0;
  for (; i < text.size(); ++i) {
    int digit = hex ? HexDigit(text[i]) : (text[i] >= L'0' && text[i] <= L'9' ? text[i] - L'0' : -1);
    if (digit < 0) return std::nullopt;
    value = value * (hex ? 16 : 10) + digit;
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  if (hex) {
    int wrapped = int(unsigned(value));  // hex digits fill all 32 bits
    return negative ? -wrapped : wrapped;
  }
  if (value > (negative ? 2147483648ull : 2147483647ull)) return std::nullopt;
  return negative ? int(-(long long)value) : int(value);
}

bool IsAbsolutePath(const std::wstring& path) {
  if (path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\') return true;
  if (path.size() >= 5 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\') {
    size_t share = path.find(L'\\', 2);
    return share != std::wstring::npos && share + 1 < path.size() && path[share + 1] != L'\\';
  }
  return false;
}
