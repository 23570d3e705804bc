// Which lines of a list file become entries: an absolute path, without
// wildcards, to what exists (a file or folder for the source list, a folder
// for the destination list), never a device, and never one of our
// unfinished copies. A folder that several lines fall into is listed once,
// instead of asking the system about each line; every answer is the one
// asking would give.
#pragma once
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "fs/FileSystem.h"

namespace lists {

class ImportCheck {
 public:
  enum class Wants { FilesAndFolders, Folders };
  explicit ImportCheck(Wants wants) : wants_(wants) {}
  // The line as written decides, its full path beside it.
  bool Accepts(const fs::GivenPath& line);

 private:
  struct Folder {
    size_t lines = 0;
    bool listed = false;
    std::optional<std::unordered_map<std::wstring, DWORD>> attributes;  // by name as listed; none if unlistable
  };
  // The attributes the folder's listing shows for the line; empty when only
  // asking about the line itself can tell.
  std::optional<DWORD> Listed(const fs::GivenPath& line);

  Wants wants_;
  std::unordered_map<std::wstring, Folder> folders_;  // by case key
};

}  // namespace lists
