#include "copy/TreeWalk.h"

#include <algorithm>
#include <vector>

#include "common/Paths.h"
#include "common/Raii.h"

namespace copy {
namespace {

// Name order: letter case ignored, then as written (a case-sensitive
// volume may hold both "a" and "A"). A stopped walk goes on by name, so the
// order must not hang on the order a volume lists in.
struct Named {
  std::wstring key;
  const fs::Entry* entry;
};
int Compare(const std::wstring& keyA, const std::wstring& a, const std::wstring& keyB, const std::wstring& b) {
  if (int order = keyA.compare(keyB)) return order;
  return a.compare(b);
}

std::vector<std::wstring> Split(const std::wstring& relative) {
  std::vector<std::wstring> names;
  for (size_t at = 0; at < relative.size();) {
    size_t end = relative.find(L'\\', at);
    if (end == std::wstring::npos) end = relative.size();
    names.push_back(relative.substr(at, end - at));
    at = end + 1;
  }
  if (!relative.empty() && relative.back() == L'\\') names.push_back(L"");
  return names;
}

class Walker {
 public:
  Walker(TreeSink& sink, const std::wstring& from) : sink_(sink), from_(Split(from)) {
    for (const std::wstring& name : from_) fromKeys_.push_back(CaseKey(name));
  }

  // k: how much of from_ leads here (from_.size() once the walk is past it).
  // underLink: a link leads here, this folder's own or one above it.
  bool Walk(const std::wstring& sourceFolder, bool viaLink, bool underLink, const std::wstring& relative, size_t k) {
    // The current folder is never changed, so a long path copies like any other.
    if (!fs::CanEnterFolder(sourceFolder)) return CouldNotEnter(sourceFolder, GetLastError());
    const std::wstring base = WithBackslash(sourceFolder);
    const auto listed = fs::ListMatches(base + L"*.*", fs::kMaskAll);
    if (!listed) return CouldNotEnter(sourceFolder, GetLastError());
    if (listed->empty()) return false;
    if (!path_.Enter(base, viaLink)) return true;  // a link back up the path
    ScopeGuard leave([this] { path_.Leave(); });
    // The top, unless the walk goes on inside it.
    if (relative.empty()) sink_.Folder(L"", k < from_.size());

    std::vector<Named> entries;
    entries.reserve(listed->size());
    for (const fs::Entry& entry : *listed)
      if (entry.name != L"." && entry.name != L"..") entries.push_back({CaseKey(entry.name), &entry});
    std::sort(entries.begin(), entries.end(), [](const Named& a, const Named& b) {
      return Compare(a.key, a.entry->name, b.key, b.entry->name) < 0;
    });

    bool onPath = k < from_.size();
    for (const Named& named : entries) {
      if (sink_.Stopped()) break;
      const fs::Entry& entry = *named.entry;
      size_t inner = from_.size();  // the whole of it
      if (onPath) {
        const int order = Compare(named.key, entry.name, fromKeys_[k], from_[k]);
        if (order < 0) continue;  // before where the walk goes on
        onPath = false;
        if (order == 0 && k + 1 < from_.size()) inner = k + 1;  // it goes on inside this folder
      }
      if (!(entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        sink_.File(fs::ChildPath(base, entry.name), relative, entry);
        continue;
      }
      // A folder is entered by its plain path. One whose name that path
      // would read otherwise (a trailing dot or space, a device name) cannot
      // be, and is a failure like every folder that cannot be entered; never
      // is another folder copied in its place.
      const std::wstring subSource = base + entry.name;
      if (fs::ChildPath(base, entry.name) != subSource) {
        CouldNotEnter(subSource, ERROR_FILE_NOT_FOUND);
        continue;
      }
      // A link into the output is told by where it leads: its folder is
      // made like any other, and left empty.
      const bool link = fs::WalkPath::IsLink(entry.attributes);
      if (!link && sink_.IsOwnOutput(subSource, underLink)) continue;
      const std::wstring subRelative = Below(relative, entry.name);
      sink_.Folder(subRelative, inner < from_.size());  // looks before it makes
      if (link && sink_.IsOwnOutput(subSource, true)) continue;
      Walk(subSource, link, underLink || link, subRelative, inner);
    }
    return true;
  }

 private:
  bool CouldNotEnter(const std::wstring& folder, DWORD code) {
    sink_.CouldNotEnter(folder, code);
    return true;
  }

  TreeSink& sink_;
  std::vector<std::wstring> from_, fromKeys_;
  fs::WalkPath path_;
};

}  // namespace

std::wstring Below(const std::wstring& relative, const std::wstring& name) {
  if (relative.empty() || name.empty()) return relative + name;
  return relative + L"\\" + name;
}

bool WalkTree(const std::wstring& sourceFolder, TreeSink& sink, const std::wstring& from) {
  Walker walker(sink, from);
  return walker.Walk(sourceFolder, false, false, L"", 0);
}

}  // namespace copy
