// Copies files on a few worker threads while the walk goes on. Per-file
// cost under the platform is mostly system-call latency, so a handful of
// copies in flight finish a tree of small files far sooner than one.
// A walk hands it files only under policies whose outcome does not depend
// on other files' copies (Overwrite, Skip, NewerOnly); Ask and AutoNumber
// hand it one large file at a time and wait for it.
#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace copy {

class ParallelCopier {
 public:
  explicit ParallelCopier(int workers);
  ~ParallelCopier();
  ParallelCopier(const ParallelCopier&) = delete;
  ParallelCopier& operator=(const ParallelCopier&) = delete;

  // Queues one copy. A light one (a small file) may run on the caller's
  // thread while the queue is full or being drained; a heavy one only on a
  // worker, so the caller's window never waits long for its next paint.
  void Submit(std::function<void()> job, bool light, const std::function<void()>& keepAlive);
  // Returns when every submitted copy is done; the caller helps with light
  // copies and calls keepAlive between them and while it waits.
  void Drain(const std::function<void()>& keepAlive);

 private:
  struct Job {
    std::function<void()> run;
    bool light;
  };
  // Runs the first queued light copy on the caller's thread; false when there is none.
  bool HelpWithLight(std::unique_lock<std::mutex>& lock);
  void WaitPumping(std::unique_lock<std::mutex>& lock, const std::function<void()>& keepAlive);
  void Work();

  std::mutex mutex_;
  std::condition_variable wake_, changed_;
  std::deque<Job> jobs_;
  size_t running_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace copy
