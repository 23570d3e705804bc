#include "copy/RunReport.h"

namespace copy {

void RunReport::FileStarted(const std::wstring& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  current_ = path;
}

void RunReport::FileDone(uint64_t bytes) {
  files_.fetch_add(1, std::memory_order_relaxed);
  bytes_.fetch_add(bytes, std::memory_order_relaxed);
}

void RunReport::Failed(const std::wstring& path, DWORD code, const std::wstring& target) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failures_.size() < kKeptFailures) failures_.push_back({path, target, code});
  failureCount_.fetch_add(1);
}

RunReport::Progress RunReport::Read() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {files_.load(), bytes_.load(), removed_.load(), current_};
}

std::vector<Failure> RunReport::FirstFailures() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failures_;
}

}  // namespace copy
