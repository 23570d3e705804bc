// What a copy run or an emptying tells and asks the outside.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "common/StopSignal.h"
#include "copy/Rehearsal.h"
#include "copy/RunReport.h"

namespace copy {

enum class Answer { Yes, No, Cancel };

// Every member may be left empty. The functions run on the thread of the
// run (never the window's: a question is handed over and waited for); the
// report and the stop signal are shared with the copying threads.
struct CopyObserver {
  std::function<Answer(const std::wstring& target)> askOverwrite;  // Ask's question; Cancel stops the run
  std::function<void(int position)> progress;                      // after each source entry, 0..100
  RunReport* report = nullptr;                                     // what was done and what failed
  StopSignal* stop = nullptr;                                      // checked before every step
  // Each file's outcome, each failure and each removal as they happen (on
  // any copying thread), for a front end that tells them all.
  std::function<void(const std::wstring& source, const std::wstring& target, FileOutcome)> fileDone;
  std::function<void(const Failure&)> failed;
  std::function<void(const std::wstring& path)> removed;
  Rehearsal* rehearsal = nullptr;  // set for a dry run: nothing changes, what would is told
  size_t destination = 0;          // the run's destination this observer tells of, in list order
  std::function<void(int64_t bytes)> bytesDone;  // written or read back (a failed copy takes its own back)

  Answer AskOverwrite(const std::wstring& target) const { return askOverwrite ? askOverwrite(target) : Answer::No; }
  void Progress(int position) const {
    if (progress) progress(position);
  }
  bool StopRequested() const { return stop && stop->Requested(); }
  void Failed(const std::wstring& path, DWORD code, const std::wstring& target = L"") const {
    if (report) report->Failed(path, code, target, false, destination);
    if (failed) failed({path, target, code, false, destination});
  }
  // A folder that could not be entered or listed: its tree is left out, the run goes on.
  void CouldNotEnter(const std::wstring& folder, DWORD code) const {
    if (report) report->Failed(folder, code, L"", true, destination);
    if (failed) failed({folder, L"", code, true, destination});
  }
  void FileDone(const std::wstring& source, const std::wstring& target, FileOutcome outcome) const {
    if (report) report->FileDone(outcome, destination);
    if (fileDone) fileDone(source, target, outcome);
  }
  void BytesWritten(int64_t bytes) const {
    if (report) report->BytesWritten(bytes, destination);
    if (bytesDone) bytesDone(bytes);
  }
  // A copy read back: whole and the same, or not (code: why it could not be
  // read; 0: it differs), and whether the bad copy was removed.
  void BytesChecked(int64_t bytes) const {
    if (report) report->BytesChecked(bytes);
    if (bytesDone) bytesDone(bytes);
  }
  void Verified() const {
    if (report) report->FileVerified();
  }
  void FailedCheck(const std::wstring& source, const std::wstring& target, DWORD code, bool removed) const {
    const Failure failure{source, target, code, false, destination, Failure::Check{true, removed}};
    if (report) report->Failed(failure);
    if (failed) failed(failure);
  }
  // Emptying removed one entry (or would have, in a dry run).
  void Removed(const std::wstring& path) const {
    if (report) report->EntryRemoved();
    if (rehearsal) rehearsal->Removed(path);
    if (removed) removed(path);
  }
};

}  // namespace copy
