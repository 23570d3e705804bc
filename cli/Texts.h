// What qmcopy says, in one place: its usage, its refusals, the lines of a
// run and its summary. What the window says too (the status line, the
// overwrite question, the policies' names, a whole drive refused, a log not
// written) is in common/Text, used from there.
#pragma once
#include <cstdint>
#include <string>

#include "copy/RunReport.h"
#include "copy/SameFileMode.h"

namespace clitext {

// qmcopy /?, and the hint to it below an argument refused.
extern const wchar_t kUsage[];
extern const wchar_t kSeeUsage[];

// Arguments that make no sense, on the error stream above kSeeUsage.
std::wstring UnknownArgument(const std::wstring& word);
// A quoted path ending in \ swallowed the closing quote.
std::wstring StrayQuote(const std::wstring& word);
std::wstring RepeatedSwitch(const std::wstring& word);
std::wstring UnknownPolicy(const std::wstring& value);
std::wstring RetriesOutOfRange(int most, const std::wstring& value);
std::wstring WaitOutOfRange(int most, const std::wstring& value);
extern const wchar_t kNoSources[], kNoDests[];  // no /src:, no /dst:

// What the run was given and cannot use.
std::wstring ListNotRead(const std::wstring& path, const std::wstring& reason);
// The reason said for ERROR_BAD_DEVICE: a device named where a file belongs.
extern const wchar_t kDeviceNotFile[];
std::wstring UnusableSource(const std::wstring& given, bool device);
std::wstring UnusableDest(const std::wstring& given, bool device);
// A /log: that would touch the run's input, or whose folder is missing.
std::wstring LogRefused(const std::wstring& path);

// Why a run does not start, on the error stream (a whole drive: common/Text).
extern const wchar_t kNothingToCopy[], kNowhereToCopy[];
extern const wchar_t kAskNeedsConsole[];

// The run's first line: "qmcopy：2 个源，1 个目标；同名文件：跳过".
std::wstring RunHeader(size_t sources, size_t dests, copy::SameFileMode mode, bool modeGiven, bool emptiesFirst,
                       bool verifies, bool dryRun);
// Below the overwrite question, on the console.
extern const wchar_t kAnswers[];
// /dry-run's line for each step it would take.
std::wstring Rehearsed(copy::FileOutcome outcome, const std::wstring& source, const std::wstring& target);
std::wstring RehearsedRemoval(const std::wstring& path);
std::wstring RehearsedQuestion(const std::wstring& target);

// The summary: its heading, its rows' labels, a line per destination, and
// the failures' headings.
extern const wchar_t kResults[], kRehearsalResults[];
extern const wchar_t kSourcesRow[], kDestsRow[], kCopiedRow[], kReplacedRow[], kKeptRow[], kNumberedRow[], kVerifiedRow[], kFailedRow[],
    kUnusableRow[], kRemovedRow[], kBytesRow[], kTimeRow[], kSpeedRow[];
std::wstring Seconds(double seconds);  // "1.25 秒"
extern const wchar_t kPerDestination[];
std::wstring DestinationLine(const std::wstring& entry, uint64_t files, uint64_t bytes, size_t failures,
                             double seconds);
std::wstring FailuresHeading(size_t count);
// Above a destination's own failures, when there are several destinations.
std::wstring FailuresAt(const std::wstring& destination);

// An error that nothing else caught.
std::wstring UncaughtError(const std::wstring& what);

}  // namespace clitext
