#include "copy/RunReport.h"

#include <algorithm>

namespace copy {

void RunReport::FileStarted(const std::wstring& path, size_t destination) {
  std::lock_guard<Lock> lock(mutex_);
  current_ = path;
  if (Tally* tally = TallyOf(destination)) tally->current = path;
}

void RunReport::Destinations(const std::vector<std::wstring>& entries) {
  std::lock_guard<Lock> lock(mutex_);
  tallies_ = std::make_unique<Tally[]>(entries.size());
  tallyCount_ = entries.size();
  for (size_t i = 0; i < entries.size(); ++i) tallies_[i].entry = entries[i];
}

// A tick count of 0 means "not yet".
static DWORD Now() { return GetTickCount() | 1; }

void RunReport::DestinationStarted(size_t destination) {
  std::lock_guard<Lock> lock(mutex_);
  for (size_t i = 0; i < tallyCount_; ++i)
    if (tallies_[i].started && !tallies_[i].finished) sideBySide_ = true;
  if (Tally* tally = TallyOf(destination)) tally->started = Now();
}

void RunReport::DestinationFinished(size_t destination) {
  if (Tally* tally = TallyOf(destination)) tally->finished = Now();
}

void RunReport::FileDone(FileOutcome outcome, size_t destination) {
  outcomes_[size_t(outcome)].fetch_add(1, std::memory_order_relaxed);
  if (Tally* tally = TallyOf(destination); tally && outcome != FileOutcome::Kept) tally->files.fetch_add(1);
}

void RunReport::BytesWritten(int64_t bytes, size_t destination) {
  bytes_.fetch_add(uint64_t(bytes), std::memory_order_relaxed);
  if (Tally* tally = TallyOf(destination)) tally->bytes.fetch_add(uint64_t(bytes), std::memory_order_relaxed);
}

void RunReport::Failed(const std::wstring& path, DWORD code, const std::wstring& target, bool entering,
                       size_t destination) {
  Failed(Failure{path, target, code, entering, destination});
}

void RunReport::Failed(const Failure& failure) {
  failureCount_.fetch_add(1);
  Tally* tally = TallyOf(failure.destination);
  if (tally) tally->failures.fetch_add(1);
  std::lock_guard<Lock> lock(mutex_);
  // Up to the first ones of each destination, so that a destination failing
  // early never crowds out those before it in the list.
  if (tally ? tally->kept++ < kKeptFailures : failures_.size() < kKeptFailures) failures_.push_back(failure);
}

void RunReport::VerifyStarted(size_t destination) {
  std::lock_guard<Lock> lock(mutex_);
  if (Tally* tally = TallyOf(destination)) tally->verifying = true;
}

std::vector<DestinationTally> RunReport::Tallies() const {
  std::vector<DestinationTally> tallies;
  const DWORD now = Now();
  for (size_t i = 0; i < tallyCount_; ++i) {
    const Tally& tally = tallies_[i];
    const DWORD started = tally.started, finished = tally.finished;
    tallies.push_back({tally.entry, tally.files, tally.bytes, tally.failures,
                       started ? ((finished ? finished : now) - started) / 1000.0 : 0, started != 0, finished != 0});
  }
  return tallies;
}

const RunReport::Tally* RunReport::SlowestTally() const {
  if (!sideBySide_) return nullptr;
  const Tally* slowest = nullptr;
  for (size_t i = 0; i < tallyCount_; ++i) {
    const Tally& tally = tallies_[i];
    if (!tally.started || tally.finished) continue;
    if (!slowest || tally.bytes < slowest->bytes) slowest = &tally;
  }
  return slowest;
}

std::wstring RunReport::Slowest() const {
  std::lock_guard<Lock> lock(mutex_);
  const Tally* slowest = SlowestTally();
  return slowest ? slowest->entry : L"";
}

RunReport::Progress RunReport::Read() const {
  std::lock_guard<Lock> lock(mutex_);
  const uint64_t files = Count(FileOutcome::Copied) + Count(FileOutcome::Replaced) + Count(FileOutcome::Numbered);
  const Tally* slowest = SlowestTally();
  Progress progress{files, bytes_.load(), removed_.load(), slowest ? slowest->current : current_};
  for (size_t i = 0; i < tallyCount_; ++i)
    if (tallies_[i].verifying && !tallies_[i].finished) progress.verifying = tallies_[i].entry;
  progress.checked = checked_.load();
  return progress;
}

std::vector<Failure> RunReport::FirstFailures() const {
  std::vector<Failure> failures;
  {
    std::lock_guard<Lock> lock(mutex_);
    failures = failures_;
  }
  std::stable_sort(failures.begin(), failures.end(),
                   [](const Failure& a, const Failure& b) { return a.destination < b.destination; });
  if (failures.size() > kKeptFailures) failures.resize(kKeptFailures);
  return failures;
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

void RunReport::ChangedWhileCopied(const std::wstring& path, const std::wstring& target) {
  std::lock_guard<Lock> lock(mutex_);
  if (changed_.size() < kKeptFailures) changed_.push_back(path + L" → " + target);
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
