#include "copy/CopyEngine.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <thread>

#include "copy/Emptying.h"
#include "copy/ParallelCopier.h"

#include "common/AppError.h"
#include "common/Raii.h"
#include "common/Text.h"
#include "fs/FileSystem.h"

namespace copy {
namespace {

std::optional<uint64_t> WriteTimeOf(const std::wstring& path) { return fs::LastWriteTime(fs::OpenForTimes(path)); }

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
        CopyOneFile(source, targetFolder, entry.name, worker, entry.attributes, entry.size);
      });
    } else {
      CopyOneFile(fs::ChildPath(base, entry.name), targetFolder, entry.name, context, entry.attributes, entry.size);
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

void CopyOneFile(const std::wstring& source, const std::wstring& targetFolder, const std::wstring& name,
                 const CopyContext& context, DWORD sourceAttributes, uint64_t size) {
  const std::wstring target = fs::ChildPath(targetFolder, name);
  const CopyObserver* observer = context.observer;
  BOOL* abandon = observer && observer->stop ? observer->stop->AbandonFlag() : nullptr;
  RunReport* report = observer ? observer->report : nullptr;
  if (report) report->FileStarted(source);
  auto copyRaw = [&](const std::wstring& to, bool failIfExists) {
    return fs::CopyOneFileRaw(source, to, failIfExists, sourceAttributes, abandon);
  };
  auto copy = [&](const std::wstring& to, bool failIfExists) {
    switch (copyRaw(to, failIfExists)) {
      case fs::CopyOutcome::Copied:
        if (report) report->FileDone(size);
        break;
      case fs::CopyOutcome::Kept:
        break;
      case fs::CopyOutcome::Failed:
        // A copy abandoned as the session ends is no failure of the file.
        if (observer && !(observer->stop && observer->stop->Abandoned())) observer->Failed(source, GetLastError(), to);
        break;
    }
  };
  switch (context.mode) {
    case SameFileMode::Overwrite:
      copy(target, false);
      break;
    case SameFileMode::Skip:
      copy(target, true);
      break;
    case SameFileMode::Ask: {
      Answer answer = !fs::IsFile(target) ? Answer::Yes : observer ? observer->AskOverwrite(target) : Answer::No;
      if (answer == Answer::Cancel) {
        if (observer->stop) observer->stop->Request();
        break;  // this file stays as it is, and the run ends
      }
      copy(target, answer == Answer::No);
      break;
    }
    case SameFileMode::AutoNumber:
      copy(fs::ChildPath(targetFolder, FreeNumberedName(targetFolder, name)), false);
      break;
    case SameFileMode::NewerOnly: {
      auto sourceTime = WriteTimeOf(source), targetTime = WriteTimeOf(target);
      bool keep;
      if (!targetTime)
        keep = fs::Exists(target);  // an unreadable existing target stays
      else if (!sourceTime)
        keep = true;
      else
        keep = fs::CompareTimes(*sourceTime, *targetTime) < 0;
      copy(target, keep);
      break;
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
    CopyOneFile(source, dest, fs::NamePart(source), context, INVALID_FILE_ATTRIBUTES, fs::FileSize(source).value_or(0));
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

void RunCopy(const CopyJob& job, const CopyObserver& observer) {
  // Per-file cost is mostly waiting on the system: a copy more in flight than cores.
  int workers = int(std::thread::hardware_concurrency()) + 1;
  ParallelCopier parallel(workers < 2 ? 2 : (workers > 4 ? 4 : workers));
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
