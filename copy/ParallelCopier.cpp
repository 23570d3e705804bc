#include "copy/ParallelCopier.h"

namespace copy {
namespace {
constexpr size_t kMaxQueued = 512;
}

ParallelCopier::ParallelCopier(int workers) {
  for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
}

ParallelCopier::~ParallelCopier() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return jobs_.empty() && running_ == 0; });
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& t : threads_) t.join();
}

void ParallelCopier::Submit(std::function<void()> job) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (threads_.empty() || jobs_.size() >= kMaxQueued) {
    lock.unlock();
    job();
    return;
  }
  jobs_.push_back(std::move(job));
  lock.unlock();
  wake_.notify_one();
}

bool ParallelCopier::RunOne(std::unique_lock<std::mutex>& lock) {
  if (jobs_.empty()) return false;
  auto job = std::move(jobs_.front());
  jobs_.pop_front();
  ++running_;
  lock.unlock();
  job();
  lock.lock();
  --running_;
  if (jobs_.empty() && running_ == 0) done_.notify_all();
  return true;
}

void ParallelCopier::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (stopping_ && jobs_.empty()) return;
    RunOne(lock);
  }
}

void ParallelCopier::Drain(const std::function<void()>& keepAlive) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!jobs_.empty() || running_ > 0) {
    if (!RunOne(lock)) done_.wait_for(lock, std::chrono::milliseconds(20));
    if (keepAlive) {
      lock.unlock();
      keepAlive();
      lock.lock();
    }
  }
}

}  // namespace copy
