// A dry run: nothing on disk changes. It remembers what the run would have
// made and removed, so each later step sees the disk as the run would leave
// it (a file emptied away before a copy, a name numbered twice).
#pragma once
#include <optional>
#include <string>
#include <unordered_map>

#include "common/Sync.h"
#include "fs/FileSystem.h"

namespace copy {

class Rehearsal {
 public:
  // What the run would make: a copy with its source's facts, or a folder.
  void Made(const std::wstring& path, const fs::Entry& facts);
  // The entry and everything below it.
  void Removed(const std::wstring& path);
  // What would stand at the path: what the rehearsal knows, else what is on disk.
  std::optional<fs::Entry> Look(const std::wstring& path) const;

 private:
  mutable Lock lock_;
  std::unordered_map<std::wstring, std::optional<fs::Entry>> known_;  // by case key of the place; empty: removed
};

}  // namespace copy
