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

void ParallelCopier::Submit(std::function<void()> job, bool light, const std::function<void()>& keepAlive) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (jobs_.size() >= kMaxQueued && light) {
    lock.unlock();
    job();
    return;
  }
  while (jobs_.size() >= kMaxQueued) WaitPumping(lock, keepAlive);
  jobs_.push_back({std::move(job), light});
  lock.unlock();
  wake_.notify_one();
}

void ParallelCopier::Drain(const std::function<void()>& keepAlive) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!jobs_.empty() || running_ > 0) {
    if (!HelpWithLight(lock)) changed_.wait_for(lock, kPumpEvery);
    if (keepAlive) {
      lock.unlock();
      keepAlive();
      lock.lock();
    }
  }
}

bool ParallelCopier::HelpWithLight(std::unique_lock<std::mutex>& lock) {
  for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
    if (!it->light) continue;
    auto run = std::move(it->run);
    jobs_.erase(it);
    ++running_;
    lock.unlock();
    run();
    lock.lock();
    --running_;
    changed_.notify_all();
    return true;
  }
  return false;
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
    auto run = std::move(jobs_.front().run);
    jobs_.pop_front();
    ++running_;
    lock.unlock();
    changed_.notify_all();  // room in the queue
    run();
    lock.lock();
    --running_;
    changed_.notify_all();
  }
}

}  // namespace copy
