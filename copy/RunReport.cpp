#include "copy/RunReport.h"

namespace copy {

void RunReport::FileStarted(const std::wstring& path) {
  std::lock_guard<Lock> lock(mutex_);
  current_ = path;
}

void RunReport::FileDone(FileOutcome outcome) { outcomes_[size_t(outcome)].fetch_add(1, std::memory_order_relaxed); }

void RunReport::Failed(const std::wstring& path, DWORD code, const std::wstring& target, bool entering) {
  std::lock_guard<Lock> lock(mutex_);
  if (failures_.size() < kKeptFailures) failures_.push_back({path, target, code, entering});
  failureCount_.fetch_add(1);
}

RunReport::Progress RunReport::Read() const {
  std::lock_guard<Lock> lock(mutex_);
  const uint64_t files = Count(FileOutcome::Copied) + Count(FileOutcome::Replaced) + Count(FileOutcome::Numbered);
  return {files, bytes_.load(), removed_.load(), current_};
}

std::vector<Failure> RunReport::FirstFailures() const {
  std::lock_guard<Lock> lock(mutex_);
  return failures_;
}

void RunReport::Warn(const std::wstring& destination, unsigned lost) {
  std::lock_guard<Lock> lock(mutex_);
  for (Warning& warning : warnings_)
    if (warning.destination == destination) {
      warning.lost |= lost;
      return;
    }
  warnings_.push_back({destination, lost});
}

void RunReport::ChangedWhileCopied(const std::wstring& path) {
  std::lock_guard<Lock> lock(mutex_);
  if (changed_.size() < kKeptFailures) changed_.push_back(path);
  changedCount_.fetch_add(1);
}

std::vector<std::wstring> RunReport::FirstChanged() const {
  std::lock_guard<Lock> lock(mutex_);
  return changed_;
}

std::vector<Warning> RunReport::Warnings() const {
  std::lock_guard<Lock> lock(mutex_);
  return warnings_;
}

}  // namespace copy
