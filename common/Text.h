// Text conversion at the two GBK boundaries (list files, keyword matching)
// and UTF-8 for list files that GBK cannot hold.
#pragma once
#include <optional>
#include <string>

namespace text {

constexpr unsigned kGbk = 936;

// Empty when some character has no GBK form.
std::optional<std::string> ToGbk(const std::wstring& text);
std::wstring FromGbk(const std::string& bytes);
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& bytes);

}  // namespace text
