#include "copy/ParallelCopier.h"

namespace copy {
namespace {
constexpr size_t kMaxQueued = 512;
constexpr auto kPumpEvery = std::chrono::milliseconds(20);
}  // namespace

ParallelCopier::ParallelCopier(int workers) {
  for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
}

ParallelCopier::~ParallelCopier() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return jobs_.empty() && running_ == 0; });
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& t : threads_) t.join();
}

void ParallelCopier::Submit(std::function<void()> job, const std::function<void()>& keepAlive) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (jobs_.size() >= kMaxQueued) WaitPumping(lock, keepAlive);
  jobs_.push_back(std::move(job));
  lock.unlock();
  wake_.notify_one();
}

void ParallelCopier::Drain(const std::function<void()>& keepAlive) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!jobs_.empty() || running_ > 0) WaitPumping(lock, keepAlive);
}

void ParallelCopier::WaitPumping(std::unique_lock<std::mutex>& lock, const std::function<void()>& keepAlive) {
  changed_.wait_for(lock, kPumpEvery);
  if (!keepAlive) return;
  lock.unlock();
  keepAlive();
  lock.lock();
}

void ParallelCopier::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (stopping_ && jobs_.empty()) return;
    auto job = std::move(jobs_.front());
    jobs_.pop_front();
    ++running_;
    lock.unlock();
    changed_.notify_all();  // room in the queue
    job();
    lock.lock();
    --running_;
    changed_.notify_all();
  }
}

}  // namespace copy
