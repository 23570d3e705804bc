// A request to stop long work, set on the window's thread (a click on
// "停止", Esc, the end of the session) and read by the work on any thread.
#pragma once
#include <windows.h>

#include <atomic>

class StopSignal {
 public:
  // Stop after the step in progress (a file copy finishes first).
  void Request() { stop_.store(true, std::memory_order_relaxed); }
  bool Requested() const { return stop_.load(std::memory_order_relaxed); }
  // Stop at once, abandoning the copies in progress (the session is ending).
  void Abandon() {
    abandon_.store(TRUE);
    Request();
  }
  bool Abandoned() const { return abandon_.load() != FALSE; }
  // The flag the system's file copy watches to abandon a copy (a lock-free
  // atomic BOOL is laid out as a BOOL).
  BOOL* AbandonFlag() { return reinterpret_cast<BOOL*>(&abandon_); }
  void Reset() {
    stop_.store(false);
    abandon_.store(FALSE);
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<BOOL> abandon_{FALSE};
  static_assert(sizeof(std::atomic<BOOL>) == sizeof(BOOL) && std::atomic<BOOL>::is_always_lock_free);
};
