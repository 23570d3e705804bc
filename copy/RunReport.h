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

// The final box's text: the headline, then, when something failed, how many,
// the first ones by path with the system's reason, and how many more. Paths
// are shortened in the middle so that each line takes at most lineUnits
// half-width characters (0: no limit).
std::wstring ReportText(const std::wstring& headline, const RunReport& report, size_t lineUnits = 0);

// "12 个文件，3.4 MB，1.2 MB/s" for a status line, after seconds of work.
std::wstring StatusText(uint64_t files, uint64_t bytes, double seconds);

}  // namespace copy
