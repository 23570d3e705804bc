#include "search/KeywordMatch.h"

#include "common/Text.h"

namespace {

// The GBK bytes of a text. A character GBK cannot hold becomes 0xFF and four
// bytes F0..FF of its code: never a letter, so it folds to nothing and
// matches only itself.
std::string MatchBytes(const std::wstring& text) {
  if (auto gbk = text::ToGbk(text)) return *gbk;
  std::string bytes;
  for (wchar_t c : text) {
    if (auto one = text::ToGbk(std::wstring(1, c))) {
      bytes += *one;
      continue;
    }
    bytes += '\xFF';
    for (int shift = 12; shift >= 0; shift -= 4) bytes += char(0xF0 | ((c >> shift) & 0x0F));
  }
  return bytes;
}

}  // namespace

std::vector<std::wstring> SplitLines(const std::wstring& text) {
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
  for (const auto& keyword : keywords) upperKeywords_.push_back(text::Upper(MatchBytes(keyword)));
}

bool KeywordMatcher::Matches(const std::wstring& name) const {
  size_t dot = name.find(L'.');
  std::string kept = text::Upper(MatchBytes(dot == std::wstring::npos ? name : name.substr(0, dot)));
  for (const auto& keyword : upperKeywords_)
    if (text::Find(keyword, kept) > 0) return true;
  return false;
}

bool NameMatchesKeywords(const std::wstring& name, const std::vector<std::wstring>& keywords) {
  return KeywordMatcher(keywords).Matches(name);
}
