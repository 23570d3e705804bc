#include "copy/Emptying.h"

#include "common/Text.h"

namespace copy {

void EmptyRules::Places::Add(const std::wstring& path) {
  paths.Add(fs::ResolvePath(path));
  if (auto final = fs::FinalPath(path)) paths.Add(*final);
  if (auto id = fs::Identify(path)) ids.insert(*id);
  // A name the system reads otherwise ("keep.", "aux.h") is kept as written too.
  if (auto literal = fs::LiteralPath(path); literal && *literal != fs::SystemPath(path))
    if (auto id = fs::Identify(*literal)) ids.insert(*id);
}

bool EmptyRules::Places::Holds(const Place& place) const {
  return (place.id && ids.count(*place.id)) || paths.Contains(place.path);
}

EmptyRules::EmptyRules(const std::vector<std::wstring>& dests, const std::vector<std::wstring>& spared) {
  for (const auto& d : dests) listed_.Add(d);
  for (const auto& s : spared) Spare(s);
}

void EmptyRules::Spare(const std::wstring& path) { spared_.Add(path); }

EmptyingAction EmptyingActionFor(const std::wstring& name, DWORD attributes) {
  std::wstring trimmed = text::TrimBlank(name);
  if (trimmed == L"." || trimmed == L"..") return EmptyingAction::Skip;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return EmptyingAction::Remove;  // whatever its other bits
  // A link stays, and nothing it points to is touched.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EmptyingAction::KeepLink;
  return EmptyingAction::Descend;
}

namespace {

enum class Verdict {
  Keep,             // a link, or what the rules keep
  Remove,           // a file
  EmptyThenRemove,  // a folder
  EmptyOnly,        // a listed destination
};

// Where an entry listed in a folder lies when it is no link: that folder's
// final path, then its name.
struct Expected {
  const std::wstring& folder;
  const std::wstring& name;
  std::wstring Path() const { return folder + L"\\" + name; }
  bool Is(const std::wstring& final) const {
    if (SameTextIgnoreCase(final, Path())) return true;
    // Wine's final paths drop a name's trailing dots and spaces.
    const size_t kept = name.find_last_not_of(L". ");
    return kept != std::wstring::npos && kept + 1 < name.size() &&
           SameTextIgnoreCase(final, folder + L"\\" + name.substr(0, kept + 1));
  }
};

class Emptier {
 public:
  Emptier(const EmptyRules& rules, const CopyObserver& observer) : rules_(rules), observer_(observer) {}

  // The folder whose final path is `final`, reached as `path`.
  void Empty(const std::wstring& path, const std::wstring& final) {
    const std::wstring base = WithBackslash(path);
    for (const fs::Entry& entry : fs::ListEntries(base + L"*.*", fs::kMaskAll)) {
      if (observer_.StopRequested()) return;
      const EmptyingAction action = EmptyingActionFor(entry.name, entry.attributes);
      if (action == EmptyingAction::Skip || action == EmptyingAction::KeepLink) continue;
      const std::wstring full = fs::ChildPath(base, entry.name);
      const Expected expected{final, entry.name};
      if (action == EmptyingAction::Descend) {
        // Looked at without the right to delete it, which would bar its listing.
        std::wstring inner;
        const Verdict verdict = Decide(fs::OpenToLook(full), entry.attributes, expected, inner);
        if (verdict == Verdict::Keep) continue;
        Empty(full, inner);
        if (verdict == Verdict::EmptyOnly || observer_.StopRequested()) continue;
      }
      Remove(full, entry.attributes, expected);
    }
  }

 private:
  // The entry is judged again on the handle that removes it.
  void Remove(const std::wstring& full, DWORD attributes, const Expected& expected) {
    const fs::FileHandle held = fs::OpenForRemoval(full);
    std::wstring final;
    const Verdict verdict = Decide(held, attributes, expected, final);
    if (verdict != Verdict::Remove && verdict != Verdict::EmptyThenRemove) return;
    if (fs::RemoveHeld(held, attributes)) {
      observer_.Removed();
    } else if (GetLastError() != ERROR_DIR_NOT_EMPTY) {
      // A folder that still holds what is kept on purpose (or what could
      // not be removed, already counted) stays without a failure of its own.
      observer_.Failed(full, GetLastError());
    }
  }

  // The one rule of every removal emptying makes, asked of the entry held
  // open: it lies at `expected` (inside the folder being emptied, under its
  // own name) once links are followed, or it is a link, which is neither
  // followed nor removed; and the rules do not keep it.
  Verdict Decide(const fs::FileHandle& held, DWORD attributes, const Expected& expected, std::wstring& final) {
    if (!held.valid()) {
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) observer_.Failed(expected.Path(), error);
      return Verdict::Keep;  // else gone meanwhile
    }
    auto path = fs::FinalPathOf(held);
    if (!path) {
      observer_.Failed(expected.Path(), GetLastError());  // where it leads cannot be told: it stays
      return Verdict::Keep;
    }
    if (!expected.Is(*path) || fs::IsHeldLink(held)) return Verdict::Keep;
    final = *path;
    const Place place{final, fs::IdentityOf(held)};
    if (rules_.Spares(place)) return Verdict::Keep;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Verdict::Remove;
    return rules_.IsListedDest(place) ? Verdict::EmptyOnly : Verdict::EmptyThenRemove;
  }

  const EmptyRules& rules_;
  const CopyObserver& observer_;
};

}  // namespace

bool EmptyFolder(const std::wstring& folder, const EmptyRules& rules, const CopyObserver& observer) {
  if (fs::IsWholeDrive(folder)) return false;
  const std::wstring place = fs::ResolvePath(folder);
  const auto final = fs::FinalPath(place);
  if (!final) return true;  // nothing there to empty
  if (fs::IsWholeDrive(*final)) return false;
  if (rules.Spares({*final, fs::Identify(place)})) return true;  // the destination is itself a source of the run
  Emptier(rules, observer).Empty(place, *final);
  return true;
}

std::optional<std::wstring> FindWholeDrive(const std::vector<std::wstring>& folders) {
  for (const auto& folder : folders)
    if (fs::IsWholeDrive(folder)) return folder;
  return std::nullopt;
}

bool EmptyDestinations(const std::vector<std::wstring>& dests, const std::vector<std::wstring>& sources,
                       const CopyObserver& observer) {
  if (FindWholeDrive(dests)) return false;
  const EmptyRules rules(dests, sources);
  for (const std::wstring& dest : dests) {
    if (observer.StopRequested()) break;
    EmptyFolder(dest, rules, observer);
  }
  return true;
}

}  // namespace copy
