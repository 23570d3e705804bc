#include "common/Text.h"

#include <windows.h>

namespace text {
namespace {

std::string Narrow(unsigned codePage, const std::wstring& text, BOOL* lossy) {
  if (text.empty()) return {};
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL* usedDefault = codePage == CP_UTF8 ? nullptr : lossy;
  int n = WideCharToMultiByte(codePage, flags, text.data(), int(text.size()), nullptr, 0, nullptr, usedDefault);
  std::string out(n, '\0');
  WideCharToMultiByte(codePage, flags, text.data(), int(text.size()), out.data(), n, nullptr, usedDefault);
  return out;
}

std::wstring Widen(unsigned codePage, const std::string& bytes) {
  if (bytes.empty()) return {};
  int n = MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), out.data(), n);
  return out;
}

}  // namespace

std::optional<std::string> ToGbk(const std::wstring& text) {
  BOOL lossy = FALSE;
  std::string out = Narrow(kGbk, text, &lossy);
  if (lossy) return std::nullopt;
  // Some code page tables map unknown characters silently; a round trip tells.
  if (Widen(kGbk, out) != text) return std::nullopt;
  return out;
}

std::wstring FromGbk(const std::string& bytes) { return Widen(kGbk, bytes); }
std::string ToUtf8(const std::wstring& text) { return Narrow(CP_UTF8, text, nullptr); }
std::wstring FromUtf8(const std::string& bytes) { return Widen(CP_UTF8, bytes); }

}  // namespace text
