#include "cli/CopyCommand.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "cli/Texts.h"
#include "common/AppError.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "copy/CopyEngine.h"
#include "copy/Settings.h"
#include "fs/FileCopy.h"
#include "fs/FileSystem.h"
#include "fs/Place.h"
#include "lists/ImportCheck.h"
#include "lists/ListFile.h"

namespace {

// A list file goes by its extension; any other value is a path.
bool IsListFileName(const std::wstring& value) { return CaseKey(fs::ExtensionPart(value)) == CaseKey(L".lst"); }

std::wstring Reason(DWORD code) {
  return code == ERROR_BAD_DEVICE ? clitext::kDeviceNotFile : fs::SystemErrorText(code);
}

// The entries the given list files and paths name, checked as the window's
// imports check them, each place once (its first spelling).
struct Gathered {
  std::vector<fs::GivenPath> entries;
  std::vector<std::wstring> skipped;  // as given, or as the list's line: what names nothing usable
  bool allRead = true;                // false when a list file could not be read
};

// A list file that cannot be read is said, and the lists after it are read
// all the same, so the log is checked against all that can be known.
Gathered Gather(const std::vector<fs::GivenPath>& given, lists::ImportCheck::Wants wants, Console& console) {
  Gathered gathered;
  lists::ImportCheck check(wants);
  ListIndex places;
  auto offer = [&](const fs::GivenPath& entry) {
    if (places.Contains(entry.place)) return true;
    if (!check.Accepts(entry)) return false;
    places.Add(entry.place);
    gathered.entries.push_back(entry);
    return true;
  };
  for (const fs::GivenPath& value : given) {
    if (!IsListFileName(value.given)) {
      // A path given here enters the list as its full path.
      if (!offer({value.full, value.full, value.place})) gathered.skipped.push_back(value.given);
      continue;
    }
    std::vector<std::wstring> lines;
    try {
      lines = lists::ReadListFile(value.full);
    } catch (const FileError& error) {
      console.Error(clitext::ListNotRead(value.full, Reason(error.code)));
      gathered.allRead = false;
    }
    for (const std::wstring& line : lines)
      if (!line.empty() && !offer(fs::Resolve(line))) gathered.skipped.push_back(line);
  }
  return gathered;
}

// /log: the text said, kept in a UTF-8 file when all is said, and only once
// it is known to touch none of the run's input.
class Log {
 public:
  Log(const std::wstring& given, Console& console) : console_(console) {
    if (!given.empty()) file_ = fs::Resolve(given);
  }
  // The log would replace a list file or a path given, or land among what
  // is copied or emptied, by any of their names. Asked before any list is
  // read with the paths given, then with the entries read from the lists,
  // and again at the write.
  bool InTheWay(std::initializer_list<const std::vector<fs::GivenPath>*> pathSets) {
    if (!file_) return false;
    for (const auto* paths : pathSets)
      for (const fs::GivenPath& path : *paths) inputs_.push_back(fs::PlaceOf(path.place));
    return TouchesAnInput();
  }
  bool FolderIsMissing() const { return file_ && !fs::IsFolder(file_->full.substr(0, file_->full.rfind(L'\\') + 1)); }
  int Refuse() const {
    console_.Error(clitext::LogRefused(file_->full));
    return kNothingDone;
  }
  // Writes the log; a log that could not be written is a failure.
  int Finish(int code) const {
    if (!file_) return code;
    if (TouchesAnInput()) {
      Refuse();
      return code == kAllDone ? kSomeFailed : code;
    }
    if (fs::WriteWholeFile(file_->full, "\xEF\xBB\xBF" + text::ToUtf8(console_.Lasting())) != fs::WholeWrite::Done) {
      console_.Error(text::LogNotWritten(file_->full, Reason(GetLastError())));
      if (code == kAllDone) code = kSomeFailed;
    }
    return code;
  }

 private:
  bool TouchesAnInput() const {
    fs::Places places;
    const fs::Place log = places.Of(file_->full);
    return std::any_of(inputs_.begin(), inputs_.end(), [&](const fs::Place& input) { return fs::LiesWithin(log, input); });
  }

  Console& console_;
  std::optional<fs::GivenPath> file_;
  std::vector<fs::Place> inputs_;  // the run's list files, sources and destinations
};

std::vector<fs::GivenPath> ResolveEach(const std::vector<std::wstring>& given) {
  std::vector<fs::GivenPath> paths;
  for (const std::wstring& path : given) paths.push_back(fs::Resolve(path));
  return paths;
}

// What names nothing usable is said, and counts as a failure: a script
// learns of a mistyped path.
void SaySkipped(const Gathered& sources, const Gathered& dests, Console& console) {
  for (const std::wstring& value : sources.skipped) console.Line(clitext::UnusableSource(value, fs::IsDevice(value)));
  for (const std::wstring& value : dests.skipped) console.Line(clitext::UnusableDest(value, fs::IsDevice(value)));
}

std::vector<std::wstring> Entries(const Gathered& gathered) {
  std::vector<std::wstring> entries;
  for (const fs::GivenPath& entry : gathered.entries) entries.push_back(entry.given);
  return entries;
}

// The run /policy:, /empty, /verify, /retry: and /wait: ask for, from the entries gathered.
copy::CopyJob JobOf(const Arguments& arguments, const Gathered& sources, const Gathered& dests,
                    std::initializer_list<const std::vector<fs::GivenPath>*> given) {
  copy::CopyJob job;
  job.sources = fs::OncePerPlace(Entries(sources));  // the header counts places
  job.dests = fs::OncePerPlace(Entries(dests));
  // The list files the run was given outlive its emptying.
  for (const auto* paths : given)
    for (const fs::GivenPath& value : *paths)
      if (IsListFileName(value.given)) job.keptByEmptying.push_back(value.full);
  job.mode = arguments.mode.value_or(copy::ReadSameFileSetting());
  job.emptyFirst = arguments.empty;
  job.verify = arguments.verify;  // never the window's tick
  job.retry = {arguments.retries, DWORD(arguments.waitSeconds) * 1000};
  return job;
}

// A whole drive is refused, and so is "询问" without a console to answer it.
bool MayStart(const copy::CopyJob& job, const Arguments& arguments, Console& console) {
  switch (copy::RefusalOf(job)) {
    case copy::Refusal::WholeDriveSource:
      console.Error(text::kWholeDriveCopied);
      return false;
    case copy::Refusal::WholeDriveEmptied:
      console.Error(text::kWholeDriveEmptied);
      return false;
    case copy::Refusal::None:
      break;
  }
  if (job.mode == copy::SameFileMode::Ask && !arguments.dryRun && !console.CanAsk()) {
    console.Error(clitext::kAskNeedsConsole);
    return false;
  }
  return true;
}

// "标签" padded to one width in half-width units, then the value.
std::wstring Row(const std::wstring& label, const std::wstring& value) {
  constexpr size_t kLabelUnits = 16;
  const size_t units = text::Units(label);
  return L"  " + label + std::wstring(units < kLabelUnits ? kLabelUnits - units : 1, L' ') + value;
}

// What a run leaves to be said: its report, every failure in order, and how long it took.
struct Outcome {
  copy::RunReport report;
  std::vector<copy::Failure> failures;
  double seconds = 0;
};

// "询问" asks on the console: Y, N or C; no answer ends the run.
copy::Answer AskOnConsole(const std::wstring& target, Console& console, const StopSignal& stop) {
  console.HoldProgress(true);
  copy::Answer answer = copy::Answer::Cancel;
  for (;;) {
    const auto reply = console.Ask(text::OverwriteQuestion(target) + clitext::kAnswers);
    if (!reply || stop.Requested() || CaseKey(*reply) == CaseKey(L"c")) break;
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
}

// The run itself: /dry-run lists each step instead of taking it, and a
// console shows the progress line unless /quiet.
void Run(const copy::CopyJob& job, const Arguments& arguments, Console& console, StopSignal& stop, Outcome& outcome) {
  copy::Rehearsal rehearsal;
  Lock failuresLock;
  copy::CopyObserver observer;
  observer.report = &outcome.report;
  observer.stop = &stop;
  observer.failed = [&](const copy::Failure& failure) {
    std::lock_guard<Lock> hold(failuresLock);
    outcome.failures.push_back(failure);
  };
  if (arguments.dryRun) {
    observer.rehearsal = &rehearsal;
    observer.fileDone = [&](const std::wstring& source, const std::wstring& target, copy::FileOutcome done) {
      console.Line(clitext::Rehearsed(done, source, target));
    };
    observer.removed = [&](const std::wstring& path) { console.Line(clitext::RehearsedRemoval(path)); };
    observer.askOverwrite = [&](const std::wstring& target) {
      console.Line(clitext::RehearsedQuestion(target));
      return copy::Answer::No;
    };
  } else if (job.mode == copy::SameFileMode::Ask) {
    observer.askOverwrite = [&](const std::wstring& target) { return AskOnConsole(target, console, stop); };
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
          const auto done = outcome.report.Read();
          std::wstring status = text::StatusText(done.files, done.bytes, seconds(), done.removed, outcome.report.Slowest());
          if (!done.verifying.empty()) status += L"；" + text::VerifyingStatusText(done.verifying, done.checked);
          console.Progress(status + L"  " + done.current);
        }
      });
    copy::RunCopy(job, observer);
  }
  outcome.seconds = seconds();
}

// The result rows, a line per destination, the failures under the
// destination they concern (in list order), then what is only a warning.
void Summarize(const Outcome& outcome, const copy::CopyJob& job, const Arguments& arguments, size_t skipped,
               bool stopped, Console& console) {
  const copy::RunReport& report = outcome.report;
  const double elapsed = outcome.seconds;
  const auto done = report.Read();
  if (stopped) console.Line(text::kCopyStopped);
  console.Line(arguments.dryRun ? clitext::kRehearsalResults : clitext::kResults);
  console.Line(Row(clitext::kSourcesRow, std::to_wstring(job.sources.size())));
  console.Line(Row(clitext::kDestsRow, std::to_wstring(job.dests.size())));
  console.Line(Row(clitext::kCopiedRow, std::to_wstring(report.Count(copy::FileOutcome::Copied))));
  console.Line(Row(clitext::kReplacedRow, std::to_wstring(report.Count(copy::FileOutcome::Replaced))));
  console.Line(Row(clitext::kKeptRow, std::to_wstring(report.Count(copy::FileOutcome::Kept))));
  console.Line(Row(clitext::kNumberedRow, std::to_wstring(report.Count(copy::FileOutcome::Numbered))));
  if (report.VerifyWasAsked()) console.Line(Row(clitext::kVerifiedRow, std::to_wstring(report.VerifiedCount())));
  console.Line(Row(clitext::kFailedRow, std::to_wstring(outcome.failures.size())));
  if (skipped) console.Line(Row(clitext::kUnusableRow, std::to_wstring(skipped)));
  console.Line(Row(clitext::kRemovedRow, std::to_wstring(done.removed)));
  console.Line(Row(clitext::kBytesRow, text::ByteAmount(double(done.bytes))));
  console.Line(Row(clitext::kTimeRow, clitext::Seconds(elapsed)));
  if (!arguments.dryRun) console.Line(Row(clitext::kSpeedRow, text::Speed(elapsed > 0 ? done.bytes / elapsed : 0)));
  // Destination by destination, each named, in list order.
  const std::vector<copy::DestinationTally> tallies = report.Tallies();
  if (tallies.size() > 1) console.Line(clitext::kPerDestination);
  for (const copy::DestinationTally& tally : tallies) {
    if (tallies.size() < 2) break;
    console.Line(L"  " +
                 clitext::DestinationLine(tally.entry, tally.files, tally.bytes, tally.failures, tally.seconds));
  }
  std::vector<copy::Failure> failures = outcome.failures;
  std::stable_sort(failures.begin(), failures.end(),
                   [](const copy::Failure& a, const copy::Failure& b) { return a.destination < b.destination; });
  if (!failures.empty()) console.Line(clitext::FailuresHeading(failures.size()));
  for (size_t k = 0; k < failures.size(); ++k) {
    const copy::Failure& failure = failures[k];
    const bool named = tallies.size() > 1 && failure.destination < tallies.size();
    if (named && (k == 0 || failures[k - 1].destination != failure.destination))
      console.Line(L"  " + clitext::FailuresAt(tallies[failure.destination].entry));
    console.Line(std::wstring(named ? L"    " : L"  ") +
                 text::FailureLine(failure.path, failure.target,
                                   failure.check.failed ? text::CheckFailure(failure.code ? Reason(failure.code) : L"",
                                                                             failure.check.removed)
                                   : failure.entering   ? text::EnterFolderFailure(failure.code)
                                                        : Reason(failure.code)));
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
}

}  // namespace

int RunCopyCommand(const Arguments& arguments, Console& console, StopSignal& stop) {
  Log log(arguments.logFile, console);
  // /src: and /dst: name paths and list files, each resolved once.
  const std::vector<fs::GivenPath> givenSources = ResolveEach(arguments.sources);
  const std::vector<fs::GivenPath> givenDests = ResolveEach(arguments.dests);
  if (log.InTheWay({&givenSources, &givenDests}) || log.FolderIsMissing()) return log.Refuse();
  // Every entry they hold, checked as the window's imports check them.
  const Gathered sources = Gather(givenSources, lists::ImportCheck::Wants::FilesAndFolders, console);
  const Gathered dests = Gather(givenDests, lists::ImportCheck::Wants::Folders, console);
  if (log.InTheWay({&sources.entries, &dests.entries})) return log.Refuse();
  if (!sources.allRead || !dests.allRead) return log.Finish(kNothingDone);
  SaySkipped(sources, dests, console);
  if (sources.entries.empty() || dests.entries.empty()) {
    console.Error(sources.entries.empty() ? clitext::kNothingToCopy : clitext::kNowhereToCopy);
    return log.Finish(kNothingDone);
  }
  // Then /policy:, /empty, /retry: and /wait: make the run.
  const copy::CopyJob job = JobOf(arguments, sources, dests, {&givenSources, &givenDests});
  if (!MayStart(job, arguments, console)) return log.Finish(kNothingDone);
  console.Line(clitext::RunHeader(job.sources.size(), job.dests.size(), job.mode, arguments.mode.has_value(),
                                  job.emptyFirst, job.verify, arguments.dryRun));
  Outcome outcome;
  Run(job, arguments, console, stop, outcome);
  const size_t skipped = sources.skipped.size() + dests.skipped.size();
  Summarize(outcome, job, arguments, skipped, stop.Requested(), console);
  if (stop.Requested()) return log.Finish(kStopped);
  return log.Finish(!outcome.failures.empty() || skipped ? kSomeFailed : kAllDone);
}
