// Keyword matching of file names, character by character.
#pragma once
#include <string>
#include <vector>

namespace search {

// Splits at CR LF only; a lone CR or LF stays inside its piece; the last
// piece is kept even when empty.
std::vector<std::wstring> SplitAtCrLf(const std::wstring& text);

// True when the name, cut at its first ".", contains one of the keywords
// (letters a..z upper-cased on both sides, no other folding; an empty
// keyword never matches).
bool NameMatchesKeywords(const std::wstring& name, const std::vector<std::wstring>& keywords);

// The same test with the keywords converted once, for long searches.
class KeywordMatcher {
 public:
  explicit KeywordMatcher(const std::vector<std::wstring>& keywords);
  bool Matches(const std::wstring& name) const;

 private:
  std::vector<std::wstring> upperKeywords_;
};

}  // namespace search
