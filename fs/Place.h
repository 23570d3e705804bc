// One place, however it is named. Two names are one place when they lead to
// the same final path (links followed, letter case ignored), or when both
// have an identity and it is the same: a volume serial that is not 0 and a
// file index. A serial of 0 identifies nothing (Wine gives it to every
// volume reached by a Z: path without a letter of its own, and repeats their
// file indexes). Where a place does not exist yet, the nearest folder above
// it that exists stands for it, with the rest of the name as written.
// A second letter for a drive, a link, a Z: path into a drive and a share
// named by its letter and by \\server\share are each one place.
#pragma once
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "fs/FileSystem.h"

namespace fs {

struct Place {
  std::wstring resolved;      // ResolvePath of the name
  std::wstring final;         // where it leads; empty when nothing on its path exists
  std::optional<PlaceId> id;  // of the place itself, where it exists and can be identified
  bool exists = false;
  std::vector<PlaceId> above;  // the identities of the folders above it, when asked (Places)
};

Place PlaceOf(const std::wstring& path);
bool SamePlace(const Place& a, const Place& b);
// inner is outer or lies below it, by any of its names.
bool LiesWithin(const Place& inner, const Place& outer);

// The places of one check, each with the identities of the folders above it,
// every folder asked of the system once.
class Places {
 public:
  Place Of(const std::wstring& path);

 private:
  std::optional<PlaceId> IdOf(const std::wstring& folder);
  std::unordered_map<std::wstring, std::optional<PlaceId>> ids_;
};

// Each place once, in the order given, under the name it was first given by.
std::vector<std::wstring> OncePerPlace(const std::vector<std::wstring>& names);

}  // namespace fs
