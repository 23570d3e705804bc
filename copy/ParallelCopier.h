// Copies files on a few worker threads while the walk goes on. Per-file
// cost under the platform is mostly system-call latency, so a handful of
// copies in flight finish a tree of small files far sooner than one.
// A walk hands it files only under policies whose outcome does not depend
// on other files' copies (Overwrite, Skip, NewerOnly).
#pragma once
#include <deque>
#include <exception>
#include <functional>
#include <thread>
#include <vector>

#include "common/Sync.h"

namespace copy {

class ParallelCopier {
 public:
  explicit ParallelCopier(int workers);
  ~ParallelCopier();
  ParallelCopier(const ParallelCopier&) = delete;
  ParallelCopier& operator=(const ParallelCopier&) = delete;

  // Queues one copy, waiting while the queue is full; none after a copy threw.
  void Submit(std::function<void()> job);
  // Returns when every submitted copy is done, with the first exception a
  // copy threw, if any (what was queued or submitted after it is dropped).
  std::exception_ptr Drain();

 private:
  void Work();

  Lock mutex_;
  Condition wake_, changed_;
  std::deque<std::function<void()>> jobs_;
  size_t running_ = 0;
  bool stopping_ = false;
  std::exception_ptr failure_;
  std::vector<std::thread> threads_;
};

}  // namespace copy
