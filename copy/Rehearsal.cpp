#include "copy/Rehearsal.h"

#include "common/Paths.h"

namespace copy {
namespace {
std::wstring KeyOf(const std::wstring& path) { return CaseKey(fs::ResolvePath(path)); }
}  // namespace

void Rehearsal::Made(const std::wstring& path, const fs::Entry& facts) {
  std::lock_guard<Lock> hold(lock_);
  known_[KeyOf(path)] = facts;
}

void Rehearsal::Removed(const std::wstring& path) {
  std::lock_guard<Lock> hold(lock_);
  known_[KeyOf(path)] = std::nullopt;
}

std::optional<fs::Entry> Rehearsal::Look(const std::wstring& path) const {
  const std::wstring key = KeyOf(path);
  {
    std::lock_guard<Lock> hold(lock_);
    // The entry itself, then each folder above it: a removed folder took it along.
    for (size_t end = key.size(); end != std::wstring::npos && end > 0; end = key.rfind(L'\\', end - 1)) {
      auto known = known_.find(key.substr(0, end));
      if (known == known_.end()) continue;
      if (!known->second) return std::nullopt;
      if (end == key.size()) return *known->second;
      break;  // made folders hold only what is known
    }
  }
  return fs::Look(path);
}

}  // namespace copy
