// What a copy run or an emptying tells and asks the outside.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "common/StopSignal.h"
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

  Answer AskOverwrite(const std::wstring& target) const { return askOverwrite ? askOverwrite(target) : Answer::No; }
  void Progress(int position) const {
    if (progress) progress(position);
  }
  bool StopRequested() const { return stop && stop->Requested(); }
  void Failed(const std::wstring& path, DWORD code, const std::wstring& target = L"") const {
    if (report) report->Failed(path, code, target);
  }
  // Emptying removed one entry.
  void Removed() const {
    if (report) report->EntryRemoved();
  }
};

}  // namespace copy
