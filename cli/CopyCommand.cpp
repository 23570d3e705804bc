#include "cli/CopyCommand.h"

#include "fs/FileCopy.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "common/AppError.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "copy/CopyEngine.h"
#include "copy/Settings.h"
#include "fs/FileSystem.h"
#include "lists/ImportCheck.h"
#include "lists/ListFile.h"

namespace {

// A list file goes by its extension; any other value is a path.
bool IsListFileName(const std::wstring& value) { return CaseKey(fs::ExtensionPart(value)) == CaseKey(L".lst"); }

std::wstring Reason(DWORD code) { return code == ERROR_BAD_DEVICE ? L"这是设备，不是文件" : fs::SystemErrorText(code); }

// The entries the given list files and paths name, checked as the window's
// imports check them, each place once (its first spelling); what names
// nothing usable goes to `skipped`. False when a list cannot be read; the
// lists after it are read all the same, so the log is checked against all
// that can be known.
bool Gather(const std::vector<std::wstring>& given, lists::ImportCheck::Wants wants, Console& console,
            std::vector<std::wstring>& entries, std::vector<std::wstring>& skipped) {
  lists::ImportCheck check(wants);
  ListIndex places;
  auto offer = [&](const std::wstring& entry) {
    const std::wstring place = fs::ResolvePath(entry);
    if (places.Contains(place)) return true;
    if (!check.Accepts(entry)) return false;
    places.Add(place);
    entries.push_back(entry);
    return true;
  };
  bool allRead = true;
  for (const std::wstring& value : given) {
    const std::wstring path = fs::FullPath(value);  // relative to the current folder
    if (!IsListFileName(value)) {
      if (!offer(path)) skipped.push_back(value);
      continue;
    }
    std::vector<std::wstring> lines;
    try {
      lines = lists::ReadListFile(path);
    } catch (const FileError& error) {
      console.Error(text::WithReason(L"无法读取列表文件 " + path, Reason(error.code)));
      allRead = false;
    }
    for (const std::wstring& line : lines)
      if (!line.empty() && !offer(line)) skipped.push_back(line);
  }
  return allRead;
}

// The log would replace a list file or a path given, or land among what is
// copied or emptied. Checked before any list is read with the values given,
// then with the entries read from the lists.
bool LogIsInTheWay(const std::wstring& log, const std::vector<const std::vector<std::wstring>*>& pathSets) {
  const std::wstring place = fs::ResolvePath(log);
  for (const auto* paths : pathSets)
    for (const std::wstring& path : *paths)
      if (LiesWithin(place, fs::ResolvePath(fs::FullPath(path)))) return true;
  return false;
}

int RefuseLog(const std::wstring& log, Console& console) {
  console.Error(L"日志文件 " + log +
                L" 不能放在要复制的内容或目标文件夹中，也不能是列表文件；它所在的文件夹须已存在。");
  return kNothingDone;
}

// "标签" padded to one width in half-width units, then the value.
std::wstring Row(const std::wstring& label, const std::wstring& value) {
  constexpr size_t kLabelUnits = 16;
  const size_t units = text::Units(label);
  return L"  " + label + std::wstring(units < kLabelUnits ? kLabelUnits - units : 1, L' ') + value;
}

std::wstring Seconds(double seconds) {
  wchar_t text[32];
  swprintf(text, 32, L"%.2f 秒", seconds);
  return text;
}

const wchar_t* OutcomeWord(copy::FileOutcome outcome) {
  switch (outcome) {
    case copy::FileOutcome::Copied:
      return L"复制";
    case copy::FileOutcome::Replaced:
      return L"替换";
    case copy::FileOutcome::Numbered:
      return L"编号";
    case copy::FileOutcome::Kept:
      return text::kSkip;
  }
  return L"";
}

}  // namespace

int RunCopyCommand(const Arguments& arguments, Console& console, StopSignal& stop) {
  // The log is written when all is said, and only once it is known to
  // touch none of the run's input; a log that could not be is a failure.
  const std::wstring logFile = arguments.logFile.empty() ? L"" : fs::FullPath(arguments.logFile);
  auto finish = [&](int code) {
    if (logFile.empty()) return code;
    if (fs::WriteWholeFile(logFile, "\xEF\xBB\xBF" + text::ToUtf8(console.Lasting())) != fs::WholeWrite::Done) {
      console.Error(text::WithReason(L"无法写入日志文件 " + logFile, Reason(GetLastError())));
      if (code == kAllDone) code = kSomeFailed;
    }
    return code;
  };
  if (!logFile.empty() && (LogIsInTheWay(logFile, {&arguments.sources, &arguments.dests}) ||
                           !fs::IsFolder(logFile.substr(0, logFile.rfind(L'\\') + 1))))
    return RefuseLog(logFile, console);

  copy::CopyJob job;
  std::vector<std::wstring> skippedSources, skippedDests;
  const bool sourcesRead =
      Gather(arguments.sources, lists::ImportCheck::Wants::FilesAndFolders, console, job.sources, skippedSources);
  const bool destsRead = Gather(arguments.dests, lists::ImportCheck::Wants::Folders, console, job.dests, skippedDests);
  if (!logFile.empty() && LogIsInTheWay(logFile, {&job.sources, &job.dests})) return RefuseLog(logFile, console);
  if (!sourcesRead || !destsRead) return finish(kNothingDone);
  // What names nothing usable is said, and counts as a failure: a script
  // learns of a mistyped path.
  const size_t skipped = skippedSources.size() + skippedDests.size();
  auto why = [](const std::wstring& value, const wchar_t* otherwise) {
    return fs::IsDevice(value) ? L"（这是设备，不是文件或文件夹）" : otherwise;
  };
  for (const std::wstring& value : skippedSources)
    console.Line(L"未能使用的源：" + value + why(value, L"（不存在，或不是完整的路径）"));
  for (const std::wstring& value : skippedDests)
    console.Line(L"未能使用的目标：" + value + why(value, L"（不存在、不是文件夹，或不是完整的路径）"));
  if (job.sources.empty() || job.dests.empty()) {
    console.Error(job.sources.empty() ? L"没有要复制的文件或文件夹。" : L"没有可复制到的目标文件夹。");
    return finish(kNothingDone);
  }
  // The list files the run was given outlive its emptying.
  for (const auto* given : {&arguments.sources, &arguments.dests})
    for (const std::wstring& value : *given)
      if (IsListFileName(value)) job.keptByEmptying.push_back(fs::FullPath(value));
  job.mode = arguments.mode.value_or(copy::ReadSameFileSetting());
  job.emptyFirst = arguments.empty;
  job.retry = {arguments.retries, DWORD(arguments.waitSeconds) * 1000};
  switch (copy::RefusalOf(job)) {
    case copy::Refusal::WholeDriveSource:
      console.Error(text::kWholeDriveCopied);
      return finish(kNothingDone);
    case copy::Refusal::WholeDriveEmptied:
      console.Error(text::kWholeDriveEmptied);
      return finish(kNothingDone);
    case copy::Refusal::None:
      break;
  }
  const bool asks = job.mode == copy::SameFileMode::Ask && !arguments.dryRun;
  if (asks && !console.CanAsk()) {
    console.Error(L"同名文件方式“询问”要在控制台中回答，没有控制台时不能使用。");
    return finish(kNothingDone);
  }

  console.Line(L"qmcopy：" + std::to_wstring(job.sources.size()) + L" 个源，" + std::to_wstring(job.dests.size()) +
               L" 个目标；同名文件：" + PolicyCaption(job.mode) + (arguments.mode ? L"" : L"（程序记住的方式）") +
               (job.emptyFirst ? L"；先清空每个目标" : L"") + (arguments.dryRun ? L"；演练，不做任何改动" : L""));

  copy::RunReport report;
  copy::Rehearsal rehearsal;
  Lock failuresLock;
  std::vector<copy::Failure> failures;  // every one, in order
  copy::CopyObserver observer;
  observer.report = &report;
  observer.stop = &stop;
  observer.failed = [&](const copy::Failure& failure) {
    std::lock_guard<Lock> hold(failuresLock);
    failures.push_back(failure);
  };
  if (arguments.dryRun) {
    observer.rehearsal = &rehearsal;
    observer.fileDone = [&](const std::wstring& source, const std::wstring& target, copy::FileOutcome outcome) {
      console.Line(std::wstring(OutcomeWord(outcome)) + L"  " + source + L" → " + target);
    };
    observer.removed = [&](const std::wstring& path) { console.Line(L"删除  " + path); };
    observer.askOverwrite = [&](const std::wstring& target) {
      console.Line(L"询问  " + target);
      return copy::Answer::No;
    };
  } else if (asks) {
    observer.askOverwrite = [&](const std::wstring& target) {
      console.HoldProgress(true);
      copy::Answer answer = copy::Answer::Cancel;
      for (;;) {
        const auto reply = console.Ask(text::OverwriteQuestion(target) + L"[Y] 是  [N] 否  [C] 取消");
        if (!reply || stop.Requested() || CaseKey(*reply) == CaseKey(L"c")) break;  // no answer ends the run
        if (CaseKey(*reply) == CaseKey(L"y")) {
          answer = copy::Answer::Yes;
          break;
        }
        if (CaseKey(*reply) == CaseKey(L"n")) {
          answer = copy::Answer::No;
          break;
        }
      }
      console.HoldProgress(false);
      return answer;
    };
  }

  const DWORD start = GetTickCount();
  auto seconds = [start] { return (GetTickCount() - start) / 1000.0; };
  {
    std::atomic<bool> over{false};
    std::thread progress;
    // A thread destroyed while joinable ends the program: joined on every way out.
    struct JoinOnExit {
      std::atomic<bool>& over;
      std::thread& thread;
      ~JoinOnExit() {
        over = true;
        if (thread.joinable()) thread.join();
      }
    } joinOnExit{over, progress};
    if (console.IsInteractive() && !arguments.quiet && !arguments.dryRun)
      progress = std::thread([&] {
        while (!over) {
          Sleep(100);  // at most ten updates a second
          if (over) break;
          const auto done = report.Read();
          console.Progress(text::StatusText(done.files, done.bytes, seconds(), done.removed, report.Slowest()) + L"  " +
                           done.current);
        }
      });
    copy::RunCopy(job, observer);
  }

  const double elapsed = seconds();
  const auto done = report.Read();
  if (stop.Requested()) console.Line(text::kCopyStopped);
  console.Line(arguments.dryRun ? L"演练结果（什么也没有改动）：" : L"结果：");
  console.Line(Row(L"源", std::to_wstring(job.sources.size())));
  console.Line(Row(L"目标", std::to_wstring(job.dests.size())));
  console.Line(Row(L"已复制", std::to_wstring(report.Count(copy::FileOutcome::Copied))));
  console.Line(Row(L"已替换", std::to_wstring(report.Count(copy::FileOutcome::Replaced))));
  console.Line(Row(L"已跳过", std::to_wstring(report.Count(copy::FileOutcome::Kept))));
  console.Line(Row(L"已编号", std::to_wstring(report.Count(copy::FileOutcome::Numbered))));
  console.Line(Row(L"失败", std::to_wstring(failures.size())));
  if (skipped) console.Line(Row(L"未能使用的输入", std::to_wstring(skipped)));
  console.Line(Row(L"清空时删除", std::to_wstring(done.removed)));
  console.Line(Row(L"字节", text::ByteAmount(double(done.bytes))));
  console.Line(Row(L"用时", Seconds(elapsed)));
  if (!arguments.dryRun) console.Line(Row(L"速度", text::ByteAmount(elapsed > 0 ? done.bytes / elapsed : 0) + L"/s"));
  // Destination by destination, each named, in list order.
  const std::vector<copy::DestinationTally> tallies = report.Tallies();
  if (tallies.size() > 1) console.Line(L"每个目标：");
  for (const copy::DestinationTally& tally : tallies) {
    if (tallies.size() < 2) break;
    console.Line(L"  " + text::WithReason(tally.entry, text::Listed({text::FileCount(tally.files),
                                                                     text::ByteAmount(double(tally.bytes)),
                                                                     L"失败 " + text::ItemCount(tally.failures),
                                                                     L"用时 " + Seconds(tally.seconds)})));
  }
  std::stable_sort(failures.begin(), failures.end(),
                   [](const copy::Failure& a, const copy::Failure& b) { return a.destination < b.destination; });
  if (!failures.empty()) console.Line(L"失败的项（共 " + std::to_wstring(failures.size()) + L" 项）：");
  for (size_t k = 0; k < failures.size(); ++k) {
    const copy::Failure& failure = failures[k];
    const bool named = tallies.size() > 1 && failure.destination < tallies.size();
    if (named && (k == 0 || failures[k - 1].destination != failure.destination))
      console.Line(text::WithReason(L"  目标 " + tallies[failure.destination].entry, L""));
    console.Line(std::wstring(named ? L"    " : L"  ") +
                 text::FailureLine(failure.path, failure.target,
                                   failure.entering ? text::EnterFolderFailure(failure.code) : Reason(failure.code)));
  }
  // A warning, not a failure: the copies stand.
  const std::vector<copy::Warning> warnings = report.Warnings();
  if (!warnings.empty()) console.Line(text::kNotKeptHeading);
  for (const copy::Warning& warning : warnings)
    console.Line(L"  " + text::NotKeptText(warning.destination, warning.lost & fs::kLostTimes,
                                           warning.lost & fs::kLostAttributes));
  const std::vector<std::wstring> changed = report.FirstChanged();
  if (!changed.empty()) console.Line(text::kChangedHeading);
  for (const std::wstring& path : changed) console.Line(L"  " + path);
  if (report.ChangedCount() > changed.size())
    console.Line(L"  " + text::MoreText(report.ChangedCount() - changed.size()));
  if (stop.Requested()) return finish(kStopped);
  return finish(!failures.empty() || skipped ? kSomeFailed : kAllDone);
}
