#include "lists/ImportCheck.h"

#include "common/Paths.h"
#include "fs/FileSystem.h"
#include "fs/OwnFiles.h"

namespace lists {

std::optional<DWORD> ImportCheck::Listed(const fs::GivenPath& given) {
  // Only a line the system reads as written: one with "." or ".." names,
  // forward or doubled slashes, trailing dots or spaces, a device's name or
  // a \\?\ prefix is asked about as it stands.
  const std::wstring& line = given.given;
  const size_t slash = line.rfind(L'\\');
  if (slash == std::wstring::npos || slash + 1 == line.size() || given.full != line) return std::nullopt;
  const std::wstring folderPath = line.substr(0, slash + 1);
  Folder& folder = folders_[CaseKey(folderPath)];
  // One line alone in its folder costs less asked about than a listing.
  if (!folder.listed && ++folder.lines < 2) return std::nullopt;
  if (!folder.listed) {
    folder.listed = true;
    if (auto entries = fs::ListMatches(folderPath + L"*", fs::kMaskAll)) {
      folder.attributes.emplace();
      folder.attributes->reserve(entries->size());
      for (fs::Entry& entry : *entries) folder.attributes->emplace(std::move(entry.name), entry.attributes);
    }
  }
  if (!folder.attributes) return std::nullopt;
  // Only the name as written answers: another case (a folder of a
  // case-sensitive disk may hold both, or only one), a short name or what the
  // listing keeps to itself is asked about.
  const auto found = folder.attributes->find(line.substr(slash + 1));
  if (found == folder.attributes->end()) return std::nullopt;
  return found->second;
}

namespace {
// Holds a wildcard: a pattern, never the name of one file or folder. The
// "?" of a \\?\ prefix is part of a path.
bool IsPattern(const std::wstring& line) {
  const bool prefixed = line.rfind(L"\\\\?\\", 0) == 0 || line.rfind(L"\\\\.\\", 0) == 0;
  return HasWildcard(prefixed ? line.substr(4) : line);
}
}  // namespace

bool ImportCheck::Accepts(const fs::GivenPath& given) {
  const std::wstring& line = given.given;
  if (!IsAbsolutePath(line) || IsPattern(line) || fs::IsDevice(given)) return false;
  const bool wantsFiles = wants_ == Wants::FilesAndFolders;
  if (auto attributes = Listed(given)) {
    if (*attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
    return wantsFiles && !fs::IsOwnFileName(fs::NamePart(line));
  }
  if (fs::IsFolder(line)) return true;
  return wantsFiles && fs::IsFile(line) && !fs::IsOwnFileName(fs::NamePart(line));
}

}  // namespace lists
