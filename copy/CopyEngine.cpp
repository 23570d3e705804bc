#include "copy/CopyEngine.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <thread>

#include "copy/Emptying.h"
#include "copy/ParallelCopier.h"

#include "common/AppError.h"
#include "common/Paths.h"
#include "common/Raii.h"
#include "common/Text.h"
#include "fs/FileCopy.h"
#include "fs/FileSystem.h"

namespace copy {
namespace {

struct WalkState {
  fs::WalkPath path;
  std::optional<fs::PlaceId> output;        // the copy's own top destination folder
  std::optional<std::wstring> outputFinal;  // where it is once links are followed
  size_t depth = 0;
};

// The place is the folder or lies below it.
bool LiesIn(const std::optional<std::wstring>& place, const std::wstring& folder) {
  return place && SameTextIgnoreCase(place->substr(0, folder.size()), folder) &&
         (place->size() == folder.size() || (*place)[folder.size()] == L'\\');
}

bool CopyTree(const std::wstring& sourceFolder, bool viaLink, const std::wstring& destFolder,
              const CopyContext& context, const std::wstring& excluded, WalkState& walk) {
  // The I/O error of a folder that cannot be entered. The current folder is
  // never changed, so a long path copies like any other.
  if (!fs::CanEnterFolder(sourceFolder)) throw FileError(FileError::Kind::EnterFolder, sourceFolder, GetLastError());
  std::wstring base = WithBackslash(sourceFolder);
  const auto listed = fs::ListMatches(base + L"*.*", fs::kMaskAll);
  if (!listed) throw FileError(FileError::Kind::EnterFolder, sourceFolder, GetLastError());
  const std::vector<fs::Entry>& entries = *listed;
  if (entries.empty()) return false;

  if (viaLink && walk.outputFinal && LiesIn(fs::FinalPath(base), *walk.outputFinal))
    return true;                                     // a link into our output
  if (!walk.path.Enter(base, viaLink)) return true;  // a link back up the path
  ++walk.depth;
  ScopeGuard pop([&walk] {
    walk.path.Leave();
    --walk.depth;
  });

  const CopyObserver* observer = context.observer;
  auto makeFolder = [observer](const std::wstring& folder) {
    if (!fs::MakeFolderPath(folder) && observer) observer->Failed(folder, GetLastError());
  };
  if (walk.depth == 1) makeFolder(destFolder);  // the caller made the inner ones
  if (walk.depth == 1 && !excluded.empty()) {
    walk.output = fs::Identify(destFolder);
    walk.outputFinal = fs::FinalPath(destFolder);
  }

  const std::wstring targetFolder = destFolder + L"\\";
  for (const fs::Entry& entry : entries) {
    if (observer && observer->StopRequested()) break;
    if (entry.name == L"." || entry.name == L"..") continue;
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A folder is entered by its plain path. One whose name that path would
      // read otherwise (a trailing dot or space, a device name) cannot be, and
      // ends the run with the I/O error that names it, like every folder that
      // cannot be entered; never is another folder copied in its place.
      std::wstring subSource = base + entry.name;
      if (fs::ChildPath(base, entry.name) != subSource)
        throw FileError(FileError::Kind::EnterFolder, subSource, ERROR_FILE_NOT_FOUND);
      if (!excluded.empty() && fs::SamePlace(subSource, excluded)) continue;
      // Our own output reached by another spelling (a link, a short name).
      if (walk.output && fs::Identify(subSource) == walk.output) continue;
      std::wstring subDest = targetFolder + entry.name;
      makeFolder(subDest);  // looks before it makes
      CopyTree(subSource, fs::WalkPath::IsLink(entry.attributes), subDest, context, excluded, walk);
    } else if (context.parallel && IsIndependent(context.mode)) {
      const CopyContext worker{context.mode, observer, nullptr};
      context.parallel->Submit([source = fs::ChildPath(base, entry.name), targetFolder, entry, worker] {
        if (worker.observer && worker.observer->StopRequested()) return;  // queued, not begun: left out
        CopyOneFile(source, targetFolder, entry.name, worker, &entry);
      });
    } else {
      CopyOneFile(fs::ChildPath(base, entry.name), targetFolder, entry.name, context, &entry);
    }
  }
  return true;
}

}  // namespace

std::wstring FreeNumberedName(const std::wstring& targetFolder, const std::wstring& name) {
  const std::wstring extension = fs::ExtensionPart(name);
  const std::wstring stem = name.substr(0, name.size() - extension.size());
  std::wstring candidate = name;
  for (unsigned long long counter = 1; fs::Exists(fs::ChildPath(targetFolder, candidate)); ++counter)
    candidate = stem + L"_" + std::to_wstring(counter) + extension;
  return candidate;
}

namespace {

// Where a copy goes, decided before it is written. The rename decides again
// against whatever stands there by then.
enum class Plan {
  Keep,     // nothing is copied
  New,      // under its own name; a file that appears meanwhile stays
  Replace,  // under its own name, over whatever file stands there
  Number,   // under the first free numbered name at the rename
};

Plan PlanOf(const std::wstring& target, const CopyContext& context, const fs::Entry* listed,
            const std::wstring& source) {
  const CopyObserver* observer = context.observer;
  switch (context.mode) {
    case SameFileMode::Overwrite:
      return Plan::Replace;
    case SameFileMode::Skip:
      return fs::Exists(target) ? Plan::Keep : Plan::New;
    case SameFileMode::Ask: {
      // A folder in the way is refused as Overwrite refuses it.
      if (!fs::IsFile(target)) return fs::Exists(target) ? Plan::Replace : Plan::New;
      const Answer answer = observer ? observer->AskOverwrite(target) : Answer::No;
      if (answer == Answer::Cancel && observer->stop) observer->stop->Request();  // and the run ends
      return answer == Answer::Yes ? Plan::Replace : Plan::Keep;
    }
    case SameFileMode::AutoNumber:
      return Plan::Number;
    case SameFileMode::NewerOnly: {
      const auto standing = fs::Look(target);
      if (!standing) return fs::Exists(target) ? Plan::Keep : Plan::Replace;  // an unreadable target stays
      const auto sourceTime = listed ? std::optional<uint64_t>(listed->writeTime) : [&source]() -> std::optional<uint64_t> {
        auto look = fs::Look(source);
        return look ? std::optional<uint64_t>(look->writeTime) : std::nullopt;
      }();
      return sourceTime && fs::CompareTimes(*sourceTime, standing->writeTime) >= 0 ? Plan::Replace : Plan::Keep;
    }
  }
  return Plan::Keep;
}

// How often a numbered name is taken by someone else between our look and our rename.
constexpr int kNumberRaces = 64;

}  // namespace

void CopyOneFile(const std::wstring& source, const std::wstring& targetFolder, const std::wstring& name,
                 const CopyContext& context, const fs::Entry* listed) {
  if (fs::IsTemporaryName(name)) return;  // another copy's unfinished file is no data
  const std::wstring target = fs::ChildPath(targetFolder, name);
  const CopyObserver* observer = context.observer;
  RunReport* report = observer ? observer->report : nullptr;
  auto done = [report](FileOutcome outcome) {
    if (report) report->FileDone(outcome);
  };
  if (report) report->FileStarted(source);  // the question, if any, is about it
  const Plan plan = PlanOf(target, context, listed, source);
  // A file copied onto itself is already where it should be. (The paths are
  // compared as written: "aux.h" in a listing is a file, never the device.)
  if (plan == Plan::Keep || (plan == Plan::Replace && SameTextIgnoreCase(fs::LongPath(source), fs::LongPath(target))))
    return done(FileOutcome::Kept);
  if (observer && observer->StopRequested()) return;

  auto failed = [&](const std::wstring& to) {
    // A copy abandoned by a stop is no failure of the file.
    if (observer && !observer->StopRequested()) observer->Failed(source, GetLastError(), to);
  };
  std::function<void(int64_t)> written;
  if (report) written = [report](int64_t bytes) { report->BytesWritten(bytes); };
  fs::PendingCopy copy;
  if (!copy.Write(source, targetFolder, listed, observer ? observer->stop : nullptr, written)) return failed(target);
  std::wstring placedName = plan == Plan::Number ? FreeNumberedName(targetFolder, name) : name;
  for (int race = 0;; ++race) {
    switch (copy.PlaceAs(placedName, plan == Plan::Replace)) {
      case fs::Placed::New:
        return done(placedName == name ? FileOutcome::Copied : FileOutcome::Numbered);
      case fs::Placed::Replaced:
        return done(FileOutcome::Replaced);
      case fs::Placed::Taken:
        if (plan != Plan::Number) return done(FileOutcome::Kept);  // it appeared meanwhile, and stays
        if (race == kNumberRaces) {
          SetLastError(ERROR_FILE_EXISTS);
          return failed(fs::ChildPath(targetFolder, placedName));
        }
        placedName = FreeNumberedName(targetFolder, name);
        break;
      case fs::Placed::Failed:
        return failed(fs::ChildPath(targetFolder, placedName));
    }
  }
}

bool CopyFolderTree(const std::wstring& sourceFolder, const std::wstring& destFolder, const CopyContext& context,
                    const std::wstring& excluded) {
  WalkState walk;
  return CopyTree(sourceFolder, false, destFolder, context, excluded, walk);
}

int ProgressPosition(size_t sourceCount, size_t destCount, size_t j, size_t i) {
  uint64_t total = uint64_t(destCount) * uint64_t(sourceCount);
  if (total == 0) return 0;
  uint64_t done = uint64_t(sourceCount) * uint64_t(j) + uint64_t(i) + 1;
  uint64_t position = done * 100 / total;
  return int(position > 100 ? 100 : position);
}

namespace {

// One source entry into one destination: a file by its name, a folder as a
// whole tree under its own name.
// Both paths are taken as the places they name, and a folder is copied under
// the name of the folder it resolves to, so nothing lands outside the
// destination ("C:\a\.." is copied as "C:\", which the run refuses).
void CopyEntry(const std::wstring& sourceEntry, const std::wstring& destEntry, const CopyContext& context,
               ParallelCopier& parallel) {
  std::wstring source = fs::ResolvePath(sourceEntry);
  const std::wstring dest = WithBackslash(fs::ResolvePath(destEntry));
  // A file with a device's name ("aux.h", "nul.txt") is no device: the
  // entry names that file, and it is copied under its own name.
  if (source.rfind(L"\\\\.\\", 0) == 0) {
    auto literal = fs::LiteralPath(sourceEntry);
    if (literal && fs::IsFile(*literal)) source = *literal;
  }
  if (fs::IsWholeDrive(source)) return;
  if (!fs::IsFolder(source)) {
    CopyOneFile(source, dest, fs::NamePart(source), context);
    return;
  }
  const std::wstring target = dest + fs::NamePart(source);
  // The copies made before an I/O error stand: the workers finish first.
  ScopeGuard drain([&] { parallel.Drain(); });
  // A folder is never copied onto itself (by any spelling or link) nor into its own output.
  if (fs::SamePlace(target, source)) return;
  auto targetId = fs::Identify(target);
  if (targetId && targetId == fs::Identify(source)) return;
  CopyFolderTree(source, target, context, target);
  if (auto failure = parallel.Drain()) std::rethrow_exception(failure);
}

}  // namespace

Refusal RefusalOf(const CopyJob& job) {
  if (FindWholeDrive(job.sources)) return Refusal::WholeDriveSource;
  if (job.emptyFirst && FindWholeDrive(job.dests)) return Refusal::WholeDriveEmptied;
  return Refusal::None;
}

int CopyingThreads() {
  // Per-file cost is mostly waiting on the system: a copy more in flight than cores.
  return std::clamp(int(std::thread::hardware_concurrency()) + 1, 2, 4);
}

void RunCopy(const CopyJob& job, const CopyObserver& observer) {
  ParallelCopier parallel(CopyingThreads());
  const CopyContext context{job.mode, &observer, &parallel};
  std::optional<EmptyRules> rules;
  if (job.emptyFirst) rules.emplace(job.dests, job.sources);
  for (size_t j = 0; j < job.dests.size() && !observer.StopRequested(); ++j) {
    if (rules) EmptyFolder(job.dests[j], *rules, observer);
    for (size_t i = 0; i < job.sources.size() && !observer.StopRequested(); ++i) {
      CopyEntry(job.sources[i], job.dests[j], context, parallel);
      observer.Progress(ProgressPosition(job.sources.size(), job.dests.size(), j, i));
    }
    // A run never destroys its own output: a destination that has had its
    // turn is spared when an outer one is emptied later.
    if (rules) rules->Spare(job.dests[j]);
  }
}

}  // namespace copy
