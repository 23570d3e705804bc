// One destination of a run as its copies go: the folders it has been
// swept of our dead temporaries, what it could not keep, and whether it
// went away (a share gone, a stick pulled out).
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/Sync.h"
#include "fs/ContentHash.h"

namespace copy {

// A copy placed in this run, to be read back when its destination has had
// its last copy.
struct PlacedCopy {
  std::wstring source, target;
  fs::ContentHash hash;  // of the bytes read for it
};

// A reason that says the place itself is gone, not this one file ("Not
// ready." among them: a share whose server stopped answering, under Wine).
bool IsPlaceGone(DWORD code);
// Waits ms in short steps, so that a stop is never kept waiting; false when
// stopped() came true.
bool WaitUnlessStopped(DWORD ms, const std::function<bool()>& stopped);
// A reason that may pass if the copy is tried again a little later: a file
// in use, a lock, or the place gone for a while.
bool MayPass(DWORD code);

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

  // With retries, a place gone is waited for as a whole: the file that
  // found it gone tries again up to times, waitMs apart (stopped early by
  // stopped), while every other file of it waits in PassOutage. True when
  // again succeeded (the place is back); else the place is gone, and its
  // remaining files fail at once.
  // returnsBefore: Returns() as the file's first attempt began.
  bool WaitOut(DWORD reason, unsigned returnsBefore, int times, DWORD waitMs, const std::function<bool()>& stopped, const std::function<bool()>& again);
  // Waits while another file of it waits out an outage.
  void PassOutage() { std::lock_guard<Lock> hold(outage_); }
  // Changes each time a place gone came back: an attempt that failed before
  // that is tried again at once.
  unsigned Returns() const { return returns_.load(); }

  // Runs prepare the first time a folder of it is met in this run; a file of
  // that folder met meanwhile on another thread waits until it is done.
  void PrepareOnce(const std::wstring& folder, const std::function<void()>& prepare);

  void Placed(PlacedCopy copy) {
    std::lock_guard<Lock> hold(placedLock_);
    placed_.push_back(std::move(copy));
  }
  std::vector<PlacedCopy> TakePlaced() {
    std::lock_guard<Lock> hold(placedLock_);
    return std::move(placed_);
  }

  void Lost(unsigned bits) { lost_.fetch_or(bits, std::memory_order_relaxed); }
  unsigned LostBits() const { return lost_.load(); }

 private:
  std::wstring entry_;
  std::atomic<int> goneInARow_{0};
  std::atomic<DWORD> goneReason_{0};
  std::atomic<unsigned> lost_{0};
  std::atomic<unsigned> returns_{0};
  Lock outage_;
  Lock lock_;
  Condition prepared_;
  std::unordered_map<std::wstring, bool> folders_;  // prepared, or being prepared
  Lock placedLock_;
  std::vector<PlacedCopy> placed_;
};

}  // namespace copy
