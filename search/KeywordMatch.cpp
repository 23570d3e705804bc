#include "search/KeywordMatch.h"

#include "common/Text.h"

namespace search {

std::vector<std::wstring> SplitAtCrLf(const std::wstring& text) {
  std::vector<std::wstring> pieces;
  size_t start = 0, at;
  while ((at = text.find(L"\r\n", start)) != std::wstring::npos) {
    pieces.push_back(text.substr(start, at - start));
    start = at + 2;
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

KeywordMatcher::KeywordMatcher(const std::vector<std::wstring>& keywords) {
  for (const auto& keyword : keywords) upperKeywords_.push_back(text::Upper(keyword));
}

bool KeywordMatcher::Matches(const std::wstring& name) const {
  size_t dot = name.find(L'.');
  const std::wstring kept = text::Upper(dot == std::wstring::npos ? name : name.substr(0, dot));
  for (const auto& keyword : upperKeywords_)
    if (text::Find(keyword, kept) > 0) return true;
  return false;
}

bool NameMatchesKeywords(const std::wstring& name, const std::vector<std::wstring>& keywords) {
  return KeywordMatcher(keywords).Matches(name);
}

}  // namespace search
