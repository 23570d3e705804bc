#include "lists/ListFile.h"

#include <string_view>

#include "common/AppError.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "fs/FileSystem.h"

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

// Lines end at CR, LF or CR LF; a NUL ends the text.
template <typename Char, typename Convert>
std::vector<std::wstring> SplitLines(std::basic_string_view<Char> text, Convert convert) {
  std::vector<std::wstring> lines;
  size_t i = 0;
  while (i < text.size() && text[i] != 0) {
    size_t end = i;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n' && text[end] != 0) ++end;
    lines.push_back(convert(text.substr(i, end - i)));
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

}  // namespace

std::vector<std::wstring> DecodeListFile(const std::string& bytes) {
  const std::string_view all(bytes);
  if (all.substr(0, 2) == "\xFF\xFE" || all.substr(0, 2) == "\xFE\xFF") {
    const std::wstring text = FromUtf16(all.substr(2), all[0] == '\xFE');
    return SplitLines(std::wstring_view(text), [](std::wstring_view line) { return std::wstring(line); });
  }
  if (all.substr(0, 3) == kUtf8Mark)
    return SplitLines(all.substr(3), [](std::string_view line) { return text::FromUtf8(std::string(line)); });
  return SplitLines(all, [](std::string_view line) { return text::FromGbk(std::string(line)); });
}

void WriteListFile(const std::vector<std::wstring>& entries, const std::wstring& fileName) {
  const std::string bytes = EncodeListFile(entries);
  fs::FileHandle file = fs::CreateForWriting(fileName);
  if (!file.valid()) throw FileError(FileError::Kind::CreateListFile, fileName, GetLastError());
  if (!fs::WriteAll(file, bytes)) throw FileError(FileError::Kind::WriteListFile, fileName, GetLastError());
}

std::vector<std::wstring> ReadListFile(const std::wstring& fileName) {
  auto bytes = fs::ReadWholeFileDenyWriters(fileName);
  if (!bytes) throw FileError(FileError::Kind::OpenListFile, fileName, GetLastError());
  return DecodeListFile(*bytes);
}
