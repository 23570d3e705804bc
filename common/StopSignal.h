// A request to stop long work, set on the window's thread (a click on
// "停止", Esc, the end of the session) and read by the work on any thread.
// A copy in progress is abandoned at once, leaving nothing behind.
#pragma once
#include <atomic>

class StopSignal {
 public:
  void Request() { stop_.store(true, std::memory_order_relaxed); }
  bool Requested() const { return stop_.load(std::memory_order_relaxed); }
  void Reset() { stop_.store(false); }

 private:
  std::atomic<bool> stop_{false};
};
