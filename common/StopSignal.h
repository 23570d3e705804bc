// A request to stop long work, set on the window's thread (a click on
// "停止", Esc, the end of the session) and read by the work on any thread.
#pragma once
#include <atomic>

class StopSignal {
 public:
  // Stop after the step in progress (a file copy finishes first).
  void Request() { stop_.store(true, std::memory_order_relaxed); }
  bool Requested() const { return stop_.load(std::memory_order_relaxed); }
  // Stop at once, abandoning a copy in progress (the session is ending).
  void Abandon() {
    abandon_.store(true);
    Request();
  }
  const std::atomic<bool>& Abandoned() const { return abandon_; }
  void Reset() {
    stop_.store(false);
    abandon_.store(false);
  }

 private:
  std::atomic<bool> stop_{false}, abandon_{false};
};
