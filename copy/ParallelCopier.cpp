#include "copy/ParallelCopier.h"

#include <utility>

namespace copy {
namespace {
constexpr size_t kMaxQueued = 512;
}  // namespace

ParallelCopier::ParallelCopier(int workers) {
  for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
}

ParallelCopier::~ParallelCopier() {
  {
    std::unique_lock<Lock> lock(mutex_);
    changed_.wait(lock, [this] { return jobs_.empty() && running_ == 0; });
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& t : threads_) t.join();
}

void ParallelCopier::Submit(std::function<void()> job) {
  std::unique_lock<Lock> lock(mutex_);
  changed_.wait(lock, [this] { return jobs_.size() < kMaxQueued; });
  if (failure_) return;  // nothing begins after a failure
  jobs_.push_back(std::move(job));
  lock.unlock();
  wake_.notify_one();
}

std::exception_ptr ParallelCopier::Drain() {
  std::unique_lock<Lock> lock(mutex_);
  changed_.wait(lock, [this] { return jobs_.empty() && running_ == 0; });
  return std::exchange(failure_, nullptr);
}

void ParallelCopier::Work() {
  std::unique_lock<Lock> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (stopping_ && jobs_.empty()) return;
    auto run = std::move(jobs_.front());
    jobs_.pop_front();
    ++running_;
    lock.unlock();
    changed_.notify_all();  // room in the queue
    std::exception_ptr thrown;
    try {
      run();
    } catch (...) {
      thrown = std::current_exception();
    }
    lock.lock();
    if (thrown) {
      if (!failure_) failure_ = thrown;
      jobs_.clear();  // what is queued after a failure is not begun
    }
    --running_;
    changed_.notify_all();
  }
}

}  // namespace copy
