// Every test program's entry. Started with
//   --copy-killed-at POINT IN-PLACE SOURCE DESTINATION
// it is instead the child of a kill test (CopyKilledAt): a copy run under
// 覆盖 that stops for good at the named point, for the test to kill it there.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>

#include "copy/CopyEngine.h"
#include "copy/RunReport.h"
#include "fs/Volume.h"

namespace {

int CopyUntilKilled(wchar_t** args) {
  using fs::faults::Step;
  fs::faults::Inject(Step::PauseAt, DWORD(std::wcstoul(args[0], nullptr, 10)));
  if (std::wstring(args[1]) == L"1") {  // as on a share whose client renames nothing
    fs::faults::Inject(Step::RenameOpenFile, ERROR_LOCK_VIOLATION);
    fs::faults::Inject(Step::RenameByName, ERROR_LOCK_VIOLATION);
  }
  copy::CopyJob job;
  job.sources = {args[2]};
  job.dests = {args[3]};
  job.mode = copy::SameFileMode::Overwrite;
  copy::RunReport report;
  copy::RunCopy(job, copy::CopyObserver{nullptr, nullptr, &report});
  // The point was never reached: the reason the copy failed, if it did.
  return report.FailureCount() ? int(report.FirstFailures()[0].code) : 3;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args && count == 6 && std::wstring(args[1]) == L"--copy-killed-at") return CopyUntilKilled(args + 2);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
