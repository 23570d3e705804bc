// What a copy run or an emptying did, gathered from every thread that works
// for it: files and bytes done, the file in progress, and every failure the
// system reported (the first ones kept with their paths and reasons).
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace copy {

struct Failure {
  std::wstring path;    // the file, folder or entry that was refused
  std::wstring target;  // for a file copy, where it was going
  DWORD code;           // the system's error code
};

class RunReport {
 public:
  static constexpr size_t kKeptFailures = 20;

  void FileStarted(const std::wstring& path);
  void FileDone(uint64_t bytes);
  void EntryRemoved() { removed_.fetch_add(1, std::memory_order_relaxed); }
  void Failed(const std::wstring& path, DWORD code, const std::wstring& target = L"");

  struct Progress {
    uint64_t files, bytes, removed;
    std::wstring current;
  };
  Progress Read() const;
  size_t FailureCount() const { return failureCount_.load(); }
  std::vector<Failure> FirstFailures() const;

 private:
  std::atomic<uint64_t> files_{0}, bytes_{0}, removed_{0};
  std::atomic<size_t> failureCount_{0};
  mutable std::mutex mutex_;
  std::wstring current_;
  std::vector<Failure> failures_;
};

}  // namespace copy
