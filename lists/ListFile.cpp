#include "lists/ListFile.h"

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

std::vector<std::wstring> DecodeListFile(const std::string& bytes) {
  bool utf8 = bytes.compare(0, 3, kUtf8Mark) == 0;
  size_t i = utf8 ? 3 : 0;
  std::vector<std::wstring> lines;
  while (i < bytes.size() && bytes[i] != '\0') {
    size_t end = i;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n' && bytes[end] != '\0') ++end;
    std::string line = bytes.substr(i, end - i);
    lines.push_back(utf8 ? text::FromUtf8(line) : text::FromGbk(line));
    i = end;
    if (i < bytes.size() && bytes[i] == '\r') ++i;
    if (i < bytes.size() && bytes[i] == '\n') ++i;
  }
  return lines;
}

void WriteListFile(const std::vector<std::wstring>& entries, const std::wstring& fileName) {
  const std::string bytes = EncodeListFile(entries);
  fs::FileHandle file = fs::CreateForWriting(fileName);
  if (!file.valid()) throw AppError(L"Cannot create file \"" + fileName + L"\". " + fs::SystemErrorText(GetLastError()));
  if (!fs::WriteAll(file, bytes))
    throw AppError(L"Cannot write file \"" + fileName + L"\". " + fs::SystemErrorText(GetLastError()));
}

std::vector<std::wstring> ReadListFile(const std::wstring& fileName) {
  auto bytes = fs::ReadWholeFileDenyWriters(fileName);
  if (!bytes) throw AppError(L"Cannot open file \"" + fileName + L"\". " + fs::SystemErrorText(GetLastError()));
  return DecodeListFile(*bytes);
}

bool NamesImportableSource(const std::wstring& line) {
  return IsAbsolutePath(line) && !HasWildcard(line) && (fs::IsFile(line) || fs::IsFolder(line));
}

bool NamesImportableDest(const std::wstring& line) {
  return IsAbsolutePath(line) && !HasWildcard(line) && fs::IsFolder(line);
}
