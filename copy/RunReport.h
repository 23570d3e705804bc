// What a copy run or an emptying did, gathered from every thread that works
// for it: files and bytes done, the file in progress, and every failure the
// system reported (the first ones kept with their paths and reasons).
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Sync.h"

namespace copy {

struct Failure {
  std::wstring path;    // the file, folder or entry that was refused
  std::wstring target;  // for a file copy, where it was going
  DWORD code;           // the system's error code
  bool entering = false;  // a folder that could not be entered or listed
  size_t destination = 0;  // the run's destination it concerns, in list order
  // A copy read back that differs from what was read (code 0) or could not
  // be read back (code: why), and whether the bad copy was removed.
  struct Check {
    bool failed = false, removed = false;
  } check;
};

// A destination that could not keep all of what its copies carry (their
// times, their attributes): the copies stand, and this is said once.
struct Warning {
  std::wstring destination;
  unsigned lost;  // fs::Lost bits
};

// What became of one source file at one destination.
enum class FileOutcome {
  Copied,    // under its own name, where nothing stood
  Replaced,  // over the file that stood there
  Numbered,  // under a numbered name beside a file of its own name
  Kept,      // the file standing there stays, as the policy says
};

// What one destination of a run has had so far.
struct DestinationTally {
  std::wstring entry;
  uint64_t files = 0, bytes = 0;  // files written, whatever their outcome
  size_t failures = 0;
  double seconds = 0;  // from its first step to its last, or to now
  bool started = false, finished = false;
};

class RunReport {
 public:
  static constexpr size_t kKeptFailures = 20;

  // The run's destinations, in list order, told before any work begins.
  void Destinations(const std::vector<std::wstring>& entries);
  void DestinationStarted(size_t destination);
  void DestinationFinished(size_t destination);

  // The file a destination begins (of one destination at a time, the run's).
  void FileStarted(const std::wstring& path, size_t destination = 0);
  void FileDone(FileOutcome outcome, size_t destination = 0);
  // Bytes as they are written; a copy that fails takes its own back.
  void BytesWritten(int64_t bytes, size_t destination = 0);
  void EntryRemoved() { removed_.fetch_add(1, std::memory_order_relaxed); }
  void Failed(const std::wstring& path, DWORD code, const std::wstring& target = L"", bool entering = false,
              size_t destination = 0);
  void Failed(const Failure& failure);
  // Copies read back: the run asked for it, a destination began, bytes read, a copy found the same.
  void VerifyAsked() { verifyAsked_ = true; }
  void VerifyStarted(size_t destination);
  void BytesChecked(int64_t bytes) { checked_.fetch_add(uint64_t(bytes), std::memory_order_relaxed); }
  void FileVerified() { verified_.fetch_add(1, std::memory_order_relaxed); }
  bool VerifyWasAsked() const { return verifyAsked_; }
  uint64_t VerifiedCount() const { return verified_.load(); }
  void Warn(const std::wstring& destination, unsigned lost);
  // A source that changed while it was copied to target (a warning: its
  // copy holds it as it was when the copy began). Told per copy, each
  // naming where it went.
  void ChangedWhileCopied(const std::wstring& path, const std::wstring& target);

  struct Progress {
    uint64_t files, bytes, removed;  // files written, whatever their outcome
    std::wstring current;
    std::wstring verifying;  // the destination whose copies are read back, if any
    uint64_t checked = 0;    // bytes read back
  };
  Progress Read() const;
  uint64_t Count(FileOutcome outcome) const { return outcomes_[size_t(outcome)].load(); }
  size_t FailureCount() const { return failureCount_.load(); }
  // The first ones of each destination, destinations in list order.
  std::vector<Failure> FirstFailures() const;
  std::vector<DestinationTally> Tallies() const;
  // Of destinations written side by side, the one furthest behind while any
  // still writes (empty otherwise).
  std::wstring Slowest() const;
  std::vector<Warning> Warnings() const;
  size_t ChangedCount() const { return changedCount_.load(); }
  std::vector<std::wstring> FirstChanged() const;

 private:
  struct Tally {
    std::wstring entry;
    std::atomic<uint64_t> files{0}, bytes{0};
    std::atomic<size_t> failures{0}, kept{0};
    std::atomic<DWORD> started{0}, finished{0};  // ticks, 0 until then
    std::wstring current;                        // its file in progress, under mutex_
    bool verifying = false;                      // its copies are read back, under mutex_
  };
  // The slowest tally still at work, of a run side by side; under mutex_.
  const Tally* SlowestTally() const;
  Tally* TallyOf(size_t destination) const {
    return destination < tallyCount_ ? &tallies_[destination] : nullptr;
  }
  std::unique_ptr<Tally[]> tallies_;
  size_t tallyCount_ = 0;
  std::atomic<uint64_t> bytes_{0}, removed_{0};
  std::atomic<uint64_t> outcomes_[4] = {};
  std::atomic<size_t> failureCount_{0};
  bool sideBySide_ = false;  // destinations were at work at once
  std::atomic<bool> verifyAsked_{false};
  std::atomic<uint64_t> checked_{0}, verified_{0};
  mutable Lock mutex_;
  std::wstring current_;
  std::vector<Failure> failures_;
  std::vector<Warning> warnings_;
  std::atomic<size_t> changedCount_{0};
  std::vector<std::wstring> changed_;
};

}  // namespace copy
