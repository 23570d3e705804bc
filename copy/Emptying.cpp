#include "copy/Emptying.h"

#include "common/Text.h"
#include "common/Paths.h"
#include "fs/Volume.h"

namespace copy {
namespace {
// How often a removal the system accepted but did not carry out is tried
// again, and how many ms apart: half a second for a share's client to let go.
constexpr int kRemovalAttempts = 50;
constexpr DWORD kRemovalPause = 10;
}  // namespace

void EmptyRules::Places::Add(const std::wstring& path) {
  paths.Add(fs::ResolvePath(path));
  auto add = [this](const std::wstring& spelling) {
    if (auto held = fs::Inspect(fs::OpenToLook(spelling))) {
      paths.Add(held->finalPath);
      if (held->id) ids.insert(*held->id);
    }
  };
  add(path);
  // A name the system reads otherwise ("keep.", "aux.h") is kept as written too.
  if (auto literal = fs::LiteralPath(path); literal && *literal != fs::SystemPath(path)) add(*literal);
}

bool EmptyRules::Places::Holds(const Place& place) const {
  return (place.id && ids.count(*place.id)) || paths.Contains(place.path);
}

EmptyRules::EmptyRules(const std::vector<std::wstring>& dests, const std::vector<std::wstring>& spared) {
  for (const auto& d : dests) listed_.Add(d);
  for (const auto& s : spared) {
    Spare(s);
    sparedFromStart_.Add(fs::ResolvePath(s));
    if (auto final = fs::FinalPath(s)) sparedFromStart_.Add(*final);
  }
}

bool EmptyRules::LiesInSpared(const std::wstring& finalPath) const {
  for (size_t cut = finalPath.rfind(L'\\'); cut != std::wstring::npos && cut > 0;
       cut = finalPath.rfind(L'\\', cut - 1))
    if (sparedFromStart_.Contains(finalPath.substr(0, cut))) return true;
  return false;
}

void EmptyRules::Spare(const std::wstring& path) { spared_.Add(path); }

EmptyingAction EmptyingActionFor(const std::wstring& name, DWORD attributes) {
  std::wstring trimmed = text::TrimBlank(name);
  if (trimmed == L"." || trimmed == L"..") return EmptyingAction::Skip;
  // Whatever its other bits; whether it is a link is told on the handle.
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? EmptyingAction::Descend : EmptyingAction::Remove;
}

namespace {

enum class Verdict {
  Gone,             // nothing there any more
  Keep,             // a link, what the rules keep, or what cannot be judged (reported)
  Remove,           // a file
  EmptyThenRemove,  // a folder
  EmptyOnly,        // a listed destination
};

// Where an entry listed in a folder lies when it is no link: that folder's
// final path, then its name, exactly as the file system spells them (a
// case-sensitive disk may hold "Dest" and "dest" side by side).
struct Expected {
  const std::wstring& folder;
  const std::wstring& name;
  const std::wstring& volume;  // the emptied folder's: a folder on another is a mount, kept like a link
  bool Is(const std::wstring& final) const {
    if (final == folder + L"\\" + name) return true;
    // Wine's final paths drop a name's trailing dots and spaces.
    const size_t kept = name.find_last_not_of(L". ");
    return kept != std::wstring::npos && kept + 1 < name.size() && final == folder + L"\\" + name.substr(0, kept + 1);
  }
};

struct Judgement {
  Verdict verdict;
  fs::HeldEntry entry;
};

class Emptier {
 public:
  Emptier(const EmptyRules& rules, const CopyObserver& observer) : rules_(rules), observer_(observer) {}

  // Empties the folder whose final path is `final`, reached as `path`, whose
  // identity ends `onPath`. True when something stays in it (kept on purpose,
  // or reported).
  bool Empty(const std::wstring& path, const std::wstring& final, std::vector<fs::PlaceId>& onPath) {
    const std::wstring base = WithBackslash(path);
    const std::wstring volume = fs::VolumePathOf(base);
    const auto entries = fs::ListMatches(base + L"*", fs::kMaskAll);
    if (!entries) {
      observer_.Failed(path, GetLastError());
      return true;
    }
    bool left = false;
    for (const fs::Entry& entry : *entries) {
      if (observer_.StopRequested()) return true;
      const EmptyingAction action = EmptyingActionFor(entry.name, entry.attributes);
      if (action == EmptyingAction::Skip) continue;
      const std::wstring full = fs::ChildPath(base, entry.name);
      // What this dry run has removed already (at an earlier destination's turn) is told once.
      if (observer_.rehearsal && !observer_.rehearsal->Look(full)) continue;
      const Expected expected{final, entry.name, volume};
      bool innerLeft = false;
      if (action == EmptyingAction::Descend) {
        // Looked at without the right to delete it, which would bar its listing.
        const Judgement look = Judge(fs::OpenLinkToLook(full), full, expected);
        if (look.verdict == Verdict::Gone) continue;
        if (look.verdict == Verdict::Keep) {
          left = true;
          continue;
        }
        if (look.verdict != Verdict::Remove) {
          const auto id = look.entry.id;
          // A folder met again further down (a mount on Linux that leads back up) stays.
          if (id && std::find(onPath.begin(), onPath.end(), *id) != onPath.end()) {
            left = true;
            continue;
          }
          if (id) onPath.push_back(*id);
          innerLeft = Empty(full, look.entry.finalPath, onPath);
          if (id) onPath.pop_back();
          if (look.verdict == Verdict::EmptyOnly || observer_.StopRequested()) {
            left = true;
            continue;
          }
        }
      }
      left |= !Remove(full, expected, innerLeft);
    }
    return left;
  }

 private:
  // The entry is judged again on the handle that removes it. False when it stays.
  bool Remove(const std::wstring& full, const Expected& expected, bool innerLeft) {
    DWORD refusal = ERROR_SHARING_VIOLATION;  // what a holder that keeps it says
    for (int attempt = 0;; ++attempt) {
      bool folder;
      {
        const fs::FileHandle held = fs::OpenForRemoval(full);
        // Accepted, and pending until its last holder lets go.
        if (attempt > 0 && !held.valid() && fs::RemovalPending()) break;
        const Judgement judged = Judge(held, full, expected);
        if (judged.verdict == Verdict::Gone) {
          if (attempt == 0) return true;  // gone before us
          if (fs::IsAbsent(full)) break;
          observer_.Failed(full, GetLastError());  // not found where nothing answers
          return false;
        }
        if (judged.verdict != Verdict::Remove && judged.verdict != Verdict::EmptyThenRemove) return false;
        // A dry run removes nothing, and tells what would go (a folder with what it holds).
        if (observer_.rehearsal && !innerLeft) break;
        if (observer_.rehearsal) return false;
        folder = judged.entry.attributes & FILE_ATTRIBUTE_DIRECTORY;
        if (attempt == 0 && !fs::RemoveHeld(held, judged.entry.attributes)) {
          // A folder that still holds what is kept on purpose (or what was
          // reported already) stays without a failure of its own.
          if (GetLastError() != ERROR_DIR_NOT_EMPTY || !innerLeft) observer_.Failed(full, GetLastError());
          return false;
        }
      }
      // A removal the handle's close should carry out may not be: a share's
      // client refuses it while it still holds the file (Wine's copy of a
      // handle that was read from, or another program's), and Wine says
      // nothing of it. Judged again just now, it goes by name, which Wine
      // also reports done before it is, so only its absence counts.
      if (attempt > 0 &&
          !(folder ? RemoveDirectoryW(fs::SystemPath(full).c_str()) : DeleteFileW(fs::SystemPath(full).c_str())))
        refusal = GetLastError();
      if (fs::IsAbsent(full)) break;
      if (attempt == kRemovalAttempts) {
        observer_.Failed(full, refusal);
        return false;
      }
      Sleep(kRemovalPause);
    }
    observer_.Removed(full);
    return true;
  }

  // The one rule of every removal emptying makes, asked of the entry held
  // open: it lies where the listing says (inside the folder being emptied,
  // under its own name) once links are followed, or it is a link, which is
  // neither followed nor removed; and the rules do not keep it.
  Judgement Judge(const fs::FileHandle& held, const std::wstring& full, const Expected& expected) {
    auto entry = fs::Inspect(held);
    if (!entry) {
      const DWORD error = GetLastError();
      if (fs::IsNotFound(error)) return {Verdict::Gone, {}};
      observer_.Failed(full, error);
      return {Verdict::Keep, {}};
    }
    Verdict verdict;
    // Emptying never crosses onto another volume: a folder that is a mount
    // point (Windows shows it as a link; Wine by its volume path) stays.
    const bool otherVolume =
        (entry->attributes & FILE_ATTRIBUTE_DIRECTORY) && !SameTextIgnoreCase(fs::VolumePathOf(full), expected.volume);
    if (entry->link || otherVolume || !expected.Is(entry->finalPath) || rules_.Spares({entry->finalPath, entry->id}))
      verdict = Verdict::Keep;
    else if (!(entry->attributes & FILE_ATTRIBUTE_DIRECTORY))
      verdict = Verdict::Remove;
    else
      verdict = rules_.IsListedDest({entry->finalPath, entry->id}) ? Verdict::EmptyOnly : Verdict::EmptyThenRemove;
    return {verdict, std::move(*entry)};
  }

  const EmptyRules& rules_;
  const CopyObserver& observer_;
};

}  // namespace

void EmptyFolder(const std::wstring& folder, const EmptyRules& rules, const CopyObserver& observer) {
  // Never a whole drive, whoever asks (the commands refuse it before they start).
  if (fs::IsWholeDrive(folder)) {
    observer.Failed(folder, ERROR_ACCESS_DENIED);
    return;
  }
  const std::wstring place = fs::ResolvePath(folder);
  const auto root = fs::Inspect(fs::OpenToLook(place));
  if (!root) {
    const DWORD error = GetLastError();
    if (!fs::IsNotFound(error)) observer.Failed(place, error);
    return;  // else nothing there to empty
  }
  // The destination is a source of the run, or lies inside one: all it holds
  // is the run's to copy.
  if (rules.Spares({root->finalPath, root->id}) || rules.LiesInSpared(root->finalPath)) return;
  std::vector<fs::PlaceId> onPath;
  if (root->id) onPath.push_back(*root->id);
  Emptier(rules, observer).Empty(place, root->finalPath, onPath);
}

std::optional<std::wstring> FindWholeDrive(const std::vector<std::wstring>& folders) {
  for (const auto& folder : folders)
    if (fs::IsWholeDrive(folder)) return folder;
  return std::nullopt;
}

void EmptyDestinations(const std::vector<std::wstring>& dests, const std::vector<std::wstring>& sources,
                       const CopyObserver& observer) {
  const EmptyRules rules(dests, sources);
  for (const std::wstring& dest : dests) {
    if (observer.StopRequested()) break;
    EmptyFolder(dest, rules, observer);
  }
}

}  // namespace copy
