// One destination of a run as its copies go: the folders it has been
// swept of our dead temporaries, what it could not keep, and whether it
// went away (a share gone, a stick pulled out).
#pragma once
#include <windows.h>

#include <atomic>
#include <optional>
#include <string>
#include <unordered_set>

#include "common/Sync.h"

namespace copy {

// A reason that says the place itself is gone, not this one file.
bool IsPlaceGone(DWORD code);

class Destination {
 public:
  // After this many failures in a row for a gone place, the rest fail at once.
  static constexpr int kGoneAfter = 3;

  explicit Destination(std::wstring entry) : entry_(std::move(entry)) {}
  const std::wstring& Entry() const { return entry_; }

  // The outcome of one copy into it.
  void Succeeded() { goneInARow_.store(0, std::memory_order_relaxed); }
  void FailedWith(DWORD code);
  // The reason it is gone, once it is.
  std::optional<DWORD> Gone() const;

  // True the first time a folder of it is written to in this run.
  bool FirstVisit(const std::wstring& folder);

  void Lost(unsigned bits) { lost_.fetch_or(bits, std::memory_order_relaxed); }
  unsigned LostBits() const { return lost_.load(); }

 private:
  std::wstring entry_;
  std::atomic<int> goneInARow_{0};
  std::atomic<DWORD> goneReason_{0};
  std::atomic<unsigned> lost_{0};
  Lock lock_;
  std::unordered_set<std::wstring> visited_;
};

}  // namespace copy
