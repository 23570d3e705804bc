#include "lists/ListFile.h"

#include <string_view>

#include "common/AppError.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "fs/FileCopy.h"
#include "fs/FileSystem.h"

namespace lists {

namespace {
const char kUtf8Mark[] = "\xEF\xBB\xBF";
}

std::string EncodeListFile(const std::vector<std::wstring>& entries) {
  std::string gbk;
  bool fits = true;
  for (const auto& entry : entries) {
    auto bytes = text::ToGbk(entry);
    if (!bytes) {
      fits = false;
      break;
    }
    gbk += *bytes + "\r\n";
  }
  if (fits) return gbk;
  // No file is lost for its name: such a list is kept as UTF-8.
  std::string utf8 = kUtf8Mark;
  for (const auto& entry : entries) utf8 += text::ToUtf8(entry) + "\r\n";
  return utf8;
}

namespace {

// Lines end at CR, LF or CR LF; a NUL ends the text. Neither GBK nor UTF-8
// has those bytes inside a character, so the bytes split before decoding.
template <typename Char>
std::vector<std::basic_string_view<Char>> SplitAtLineEnds(std::basic_string_view<Char> text) {
  std::vector<std::basic_string_view<Char>> lines;
  size_t i = 0;
  while (i < text.size() && text[i] != 0) {
    size_t end = i;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n' && text[end] != 0) ++end;
    lines.push_back(text.substr(i, end - i));
    i = end;
    if (i < text.size() && text[i] == '\r') ++i;
    if (i < text.size() && text[i] == '\n') ++i;
  }
  return lines;
}

// UTF-16 in either byte order; an odd last byte is no character.
std::wstring FromUtf16(std::string_view bytes, bool bigEndian) {
  std::wstring text(bytes.size() / 2, L'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char first = bytes[2 * i], second = bytes[2 * i + 1];
    text[i] = wchar_t(bigEndian ? (first << 8) | second : (second << 8) | first);
  }
  return text;
}

// Well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool IsUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char lead = bytes[i];
    const size_t more = lead < 0x80 ? 0 : lead < 0xC2 ? 4 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF5 ? 3 : 4;
    if (more == 4 || bytes.size() - i <= more) return false;
    const unsigned char second = more ? bytes[i + 1] : 0;
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second > 0x8F))
      return false;
    for (size_t k = 1; k <= more; ++k)
      if ((bytes[i + k] & 0xC0) != 0x80) return false;
    i += more + 1;
  }
  return true;
}

// Shaped as GBK (code page 936): single bytes up to 0x80, pairs of a lead
// 0x81..0xFE and a trail 0x40..0xFE but 0x7F.
bool IsGbk(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char lead = bytes[i];
    if (lead <= 0x80) continue;
    if (lead == 0xFF || ++i == bytes.size()) return false;
    const unsigned char trail = bytes[i];
    if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return false;
  }
  return true;
}

std::wstring LineFromGbk(std::string_view line) { return text::FromGbk(std::string(line)); }
std::wstring LineFromUtf8(std::string_view line) { return text::FromUtf8(std::string(line)); }

}  // namespace

std::vector<std::wstring> DecodeListFile(const std::string& bytes,
                                         const std::function<bool(const std::wstring&)>& exists) {
  const std::string_view all(bytes);
  std::vector<std::wstring> lines;
  if (all.substr(0, 2) == "\xFF\xFE" || all.substr(0, 2) == "\xFE\xFF") {
    const std::wstring text = FromUtf16(all.substr(2), all[0] == '\xFE');
    for (std::wstring_view line : SplitAtLineEnds(std::wstring_view(text))) lines.emplace_back(line);
    return lines;
  }
  const bool marked = all.substr(0, 3) == kUtf8Mark;
  const std::vector<std::string_view> raw = SplitAtLineEnds(marked ? all.substr(3) : all);
  bool utf8 = marked;
  if (!marked) {
    bool isUtf8 = true, isGbk = true;
    for (std::string_view line : raw) {
      isUtf8 = isUtf8 && IsUtf8(line);
      isGbk = isGbk && IsGbk(line);
    }
    utf8 = isUtf8 && !isGbk;
    if (isUtf8 && isGbk && exists) {
      // Only lines that read differently can tip the balance.
      int balance = 0;
      for (std::string_view line : raw) {
        const std::wstring asGbk = LineFromGbk(line), asUtf8 = LineFromUtf8(line);
        if (asGbk != asUtf8) balance += int(exists(asUtf8)) - int(exists(asGbk));
      }
      utf8 = balance > 0;
    }
  }
  lines.reserve(raw.size());
  for (std::string_view line : raw) lines.push_back(utf8 ? LineFromUtf8(line) : LineFromGbk(line));
  return lines;
}

void WriteListFile(const std::vector<std::wstring>& entries, const std::wstring& fileName) {
  switch (fs::WriteWholeFile(fileName, EncodeListFile(entries))) {
    case fs::WholeWrite::Done:
      return;
    case fs::WholeWrite::NotMade:
      throw FileError(FileError::Kind::CreateListFile, fileName, GetLastError());
    case fs::WholeWrite::WriteFailed:
      throw FileError(FileError::Kind::WriteListFile, fileName, GetLastError());
  }
}

std::vector<std::wstring> ReadListFile(const std::wstring& fileName) {
  auto bytes = fs::ReadWholeFileDenyWriters(fileName);
  if (!bytes) throw FileError(FileError::Kind::OpenListFile, fileName, GetLastError());
  return DecodeListFile(*bytes, [](const std::wstring& line) { return IsAbsolutePath(line) && fs::Exists(line); });
}

}  // namespace lists
