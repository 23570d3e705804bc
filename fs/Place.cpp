#include "fs/Place.h"

#include <algorithm>
#include <unordered_set>

#include "common/Paths.h"

namespace fs {
namespace {

// The folder a place lies in, as resolved; empty above a root.
std::wstring ParentOf(const std::wstring& place) {
  const size_t cut = LastSeparator(L"\\", place);
  if (cut == 0 || cut == place.size()) return L"";  // a drive root
  std::wstring parent = place.substr(0, cut - 1);
  if (parent.size() == 2 && parent[1] == L':') return parent + L"\\";
  if (parent.rfind(L"\\\\", 0) == 0 && std::count(parent.begin(), parent.end(), L'\\') < 3) return L"";
  return parent;
}

}  // namespace

Place PlaceOf(const std::wstring& path) {
  Place place{ResolvePath(path)};
  // A place not made yet leads where the folder above it leads.
  std::wstring rest;
  for (std::wstring at = place.resolved; !at.empty(); at = ParentOf(at)) {
    const FileHandle held = OpenToLook(at);
    if (auto final = Inspect(held)) {
      place.final = WithBackslash(final->finalPath) + rest;
      while (place.final.size() > 3 && place.final.back() == L'\\') place.final.pop_back();
      place.exists = rest.empty();
      if (place.exists) place.id = final->id;
      break;
    }
    rest = NamePart(at) + (rest.empty() ? L"" : L"\\" + rest);
  }
  return place;
}

bool SamePlace(const Place& a, const Place& b) {
  if (!a.final.empty() && !b.final.empty() && SameTextIgnoreCase(a.final, b.final)) return true;
  if (a.id && b.id) return *a.id == *b.id;
  return SameTextIgnoreCase(a.resolved, b.resolved);
}

bool LiesWithin(const Place& inner, const Place& outer) {
  if (::LiesWithin(inner.resolved, outer.resolved)) return true;
  if (!inner.final.empty() && !outer.final.empty() && ::LiesWithin(inner.final, outer.final)) return true;
  if (!outer.id) return false;
  return inner.id == outer.id || std::find(inner.above.begin(), inner.above.end(), *outer.id) != inner.above.end();
}

Place Places::Of(const std::wstring& path) {
  Place place = PlaceOf(path);
  // Above it by both of its names: the folders it was named through, and those it leads to.
  for (const std::wstring& name : {place.resolved, place.final})
    for (std::wstring at = ParentOf(name); !at.empty(); at = ParentOf(at))
      if (auto id = IdOf(at)) place.above.push_back(*id);
  return place;
}

std::optional<PlaceId> Places::IdOf(const std::wstring& folder) {
  auto found = ids_.find(CaseKey(folder));
  if (found == ids_.end()) found = ids_.emplace(CaseKey(folder), Identify(folder)).first;
  return found->second;
}

std::vector<std::wstring> OncePerPlace(const std::vector<std::wstring>& names) {
  std::vector<std::wstring> once;
  std::unordered_set<std::wstring> paths;
  std::unordered_set<PlaceId, PlaceIdHash> ids;
  for (const std::wstring& name : names) {
    const Place place = PlaceOf(name);
    const std::wstring path = CaseKey(place.final.empty() ? place.resolved : place.final);
    const bool seen = paths.count(path) || (place.id && ids.count(*place.id));
    paths.insert(path);
    paths.insert(CaseKey(place.resolved));
    if (place.id) ids.insert(*place.id);
    if (!seen) once.push_back(name);
  }
  return once;
}

}  // namespace fs
