#include "copy/CopyEngine.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <thread>
#include <unordered_set>

#include "copy/Broadcast.h"
#include "copy/CopySteps.h"
#include "copy/Destination.h"
#include "copy/Emptying.h"
#include "copy/ParallelCopier.h"
#include "copy/TreeWalk.h"
#include "copy/Verification.h"

#include "common/AppError.h"
#include "common/Paths.h"
#include "common/Raii.h"
#include "common/Text.h"
#include "fs/FileCopy.h"
#include "fs/OwnFiles.h"
#include "fs/FileSystem.h"
#include "fs/InPlaceWrite.h"
#include "fs/LateTimes.h"
#include "fs/Volume.h"

namespace copy {
namespace {

// The copy of one folder's tree into one destination folder.
class TreeCopy : public TreeSink {
 public:
  TreeCopy(const std::wstring& destFolder, const CopyContext& context, const std::wstring& excluded)
      : destFolder_(destFolder), context_(context), own_({}, {}) {
    if (!excluded.empty() && !context.outputs) own_.Add(excluded);  // a run's outputs hold it already
  }

  bool Stopped() const override { return context_.observer && context_.observer->StopRequested(); }
  void Folder(const std::wstring& relative, bool again) override {
    if (!again) MakeTargetFolder(Target(relative), context_);  // made, or said to fail, once
  }
  void File(const std::wstring& source, const std::wstring& relative, const fs::Entry& entry) override {
    const std::wstring targetFolder = Target(relative) + L"\\";
    if (context_.parallel && IsIndependent(context_.mode)) {
      CopyContext worker = context_;
      worker.parallel = nullptr;
      context_.parallel->Submit([source, targetFolder, entry, worker] {
        if (worker.observer && worker.observer->StopRequested()) return;  // queued, not begun: left out
        CopyOneFile(source, targetFolder, entry.name, worker, &entry);
      });
    } else {
      CopyOneFile(source, targetFolder, entry.name, context_, &entry);
    }
  }
  void CouldNotEnter(const std::wstring& folder, DWORD code) override {
    if (context_.observer) context_.observer->CouldNotEnter(folder, code);
  }
  // A source may hold a destination, or a link to one: every folder is asked, once.
  bool IsOwnOutput(const std::wstring& folder, bool) override {
    return (context_.outputs ? *context_.outputs : own_).Holds(folder);
  }

 private:
  // The copy's folder for a folder below the source's top.
  std::wstring Target(const std::wstring& relative) const {
    return relative.empty() ? destFolder_ : destFolder_ + L"\\" + relative;
  }

  std::wstring destFolder_;
  const CopyContext& context_;
  OwnOutputs own_;  // this copy's top, outside a run
};

}  // namespace

namespace {

// What stands at a path, as the run has left it so far (a dry run's included).
std::optional<fs::Entry> Standing(const std::wstring& path, const CopyObserver* observer) {
  return observer && observer->rehearsal ? observer->rehearsal->Look(path) : fs::Look(path);
}

}  // namespace

std::wstring FreeNumberedName(const std::wstring& targetFolder, const std::wstring& name,
                              const CopyObserver* observer) {
  const std::wstring extension = fs::ExtensionPart(name);
  const std::wstring stem = name.substr(0, name.size() - extension.size());
  std::wstring candidate = name;
  for (unsigned long long counter = 1; Standing(fs::ChildPath(targetFolder, candidate), observer); ++counter)
    candidate = stem + L"_" + std::to_wstring(counter) + extension;
  return candidate;
}

namespace {

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, fs::LastSeparator(L"\\", path)); }

}  // namespace

Plan PlanOf(const std::wstring& target, const CopyContext& context, const fs::Entry* listed,
            const std::wstring& source) {
  const CopyObserver* observer = context.observer;
  if (context.mode == SameFileMode::Overwrite) return Plan::Replace;
  if (context.mode == SameFileMode::AutoNumber) return Plan::Number;
  const auto standing = Standing(target, observer);
  switch (context.mode) {
    case SameFileMode::Skip:
      return standing ? Plan::Keep : Plan::New;
    case SameFileMode::Ask: {
      if (!standing) return Plan::New;
      // A folder in the way is refused as Overwrite refuses it.
      if (standing->attributes & FILE_ATTRIBUTE_DIRECTORY) return Plan::Replace;
      const Answer answer = observer ? observer->AskOverwrite(target) : Answer::No;
      if (answer == Answer::Cancel && observer->stop) observer->stop->Request();  // and the run ends
      return answer == Answer::Yes ? Plan::Replace : Plan::Keep;
    }
    case SameFileMode::NewerOnly: {
      // An unreadable target stays (a dry run knows what stands).
      if (!standing) return !(observer && observer->rehearsal) && fs::Exists(target) ? Plan::Keep : Plan::Replace;
      const auto sourceLook = listed ? std::optional<fs::Entry>(*listed) : fs::Look(source);
      if (!sourceLook) return Plan::Keep;
      // Only a target older than the source by more than either place can
      // tell apart: a FAT copy's time, kept to 2 s, is not older.
      const uint64_t unit = std::max(fs::TraitsOf(FolderOf(source)).timeUnit, fs::TraitsOf(FolderOf(target)).timeUnit);
      return fs::WrittenLater(sourceLook->writeTime, standing->writeTime, unit) ? Plan::Replace : Plan::Keep;
    }
    default:
      return Plan::Keep;
  }
}

namespace {

// A file copied onto itself is already where it should be: the same path,
// or the same place by another spelling (a short name, "." or ".."). A name
// in its literal \\?\ form ("aux.h" as a file, never the device) is compared
// as written.
bool OntoItself(const std::wstring& source, const std::wstring& target) {
  if (SameTextIgnoreCase(fs::LongPath(source), fs::LongPath(target))) return true;
  const auto literal = [](const std::wstring& path) { return path.rfind(L"\\\\?\\", 0) == 0; };
  return !literal(source) && !literal(target) && fs::SameResolvedPath(source, target);
}

// How often a numbered name is taken by someone else between our look and our rename.
constexpr int kNumberRaces = 64;

}  // namespace

Attempted PlaceWritten(fs::PendingCopy& copy, const std::wstring& source, const std::wstring& targetFolder,
                       const std::wstring& name, Plan plan, const CopyContext& context, std::wstring& placedName) {
  const CopyObserver* observer = context.observer;
  auto placed = [&](const fs::Placement& placement, FileOutcome outcome) {
    if (context.destination && placement.lost) context.destination->Lost(placement.lost);
    if (context.verify && context.destination && copy.Hash())
      context.destination->Placed({source, fs::ChildPath(targetFolder, placedName), *copy.Hash()});
    if (observer && observer->report && copy.Changed())
      observer->report->ChangedWhileCopied(source, fs::ChildPath(targetFolder, placedName));
    return Attempted{outcome};
  };
  placedName = plan == Plan::Number ? FreeNumberedName(targetFolder, name) : name;
  for (int race = 0;; ++race) {
    const fs::Placement placement = copy.PlaceAs(placedName, plan == Plan::Replace);
    switch (placement.placed) {
      case fs::Placed::New:
        return placed(placement, placedName == name ? FileOutcome::Copied : FileOutcome::Numbered);
      case fs::Placed::Replaced:
        return placed(placement, FileOutcome::Replaced);
      case fs::Placed::Taken:
        if (plan != Plan::Number) return Attempted{FileOutcome::Kept};  // it appeared meanwhile, and stays
        if (race == kNumberRaces) return Attempted{std::nullopt, ERROR_FILE_EXISTS};
        placedName = FreeNumberedName(targetFolder, name);
        break;
      case fs::Placed::Failed:
        return Attempted{std::nullopt, placement.error};
    }
  }
}

std::function<void(int64_t)> BytesTold(const CopyObserver* observer) {
  if (!observer || !observer->report) return nullptr;
  return [observer](int64_t bytes) { observer->BytesWritten(bytes); };
}

namespace {

// One attempt at writing the copy from its source and giving it its name.
Attempted WriteAndPlace(const std::wstring& source, const std::wstring& targetFolder, const std::wstring& name,
                        Plan plan, const CopyContext& context, const fs::Entry* listed, std::wstring& placedName) {
  const CopyObserver* observer = context.observer;
  fs::PendingCopy copy;
  if (context.verify) copy.FlushAndHash();
  placedName = name;
  const BegunFile* begun = context.begun;
  const fs::Entry* asBegun = begun && SameTextIgnoreCase(begun->source, source) ? &begun->facts : nullptr;
  if (!copy.Write(source, targetFolder, listed, observer ? observer->stop : nullptr, BytesTold(observer), asBegun))
    return Attempted{std::nullopt, LastErrorOr(ERROR_GEN_FAILURE)};
  return PlaceWritten(copy, source, targetFolder, name, plan, context, placedName);
}

// What the copy would do, with nothing written: the outcome, or the failure
// that can be foreseen (its code left in GetLastError()).
Attempted Rehearse(const std::wstring& source, const std::wstring& targetFolder, const std::wstring& name, Plan plan,
                   const CopyObserver& observer, const fs::Entry* listed, std::wstring& placedName) {
  Rehearsal& rehearsal = *observer.rehearsal;
  placedName = plan == Plan::Number ? FreeNumberedName(targetFolder, name, &observer) : name;
  const std::wstring target = fs::ChildPath(targetFolder, placedName);
  auto refuse = [](DWORD code) { return Attempted{std::nullopt, code}; };
  const auto facts = listed ? std::optional<fs::Entry>(*listed) : fs::Look(source);
  if (!facts || !fs::CanReadFile(source)) return refuse(LastErrorOr(ERROR_READ_FAULT));
  if (!rehearsal.Look(targetFolder)) return refuse(ERROR_PATH_NOT_FOUND);
  if (placedName.size() > fs::kLongestName) return refuse(ERROR_FILENAME_EXCED_RANGE);
  const auto standing = rehearsal.Look(target);
  if (standing && plan != Plan::Replace) return Attempted{FileOutcome::Kept};
  if (standing && (standing->attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
    return refuse(ERROR_ACCESS_DENIED);
  rehearsal.Made(target, *facts);
  observer.BytesWritten(int64_t(facts->size));  // the bytes it would write
  if (standing) return Attempted{FileOutcome::Replaced};
  return Attempted{placedName == name ? FileOutcome::Copied : FileOutcome::Numbered};
}

}  // namespace

void PrepareFolder(Destination& destination, const std::wstring& folder) {
  destination.PrepareOnce(folder, [&] { fs::RepairFolder(folder); });
}

bool BeginFile(const std::wstring& source, const std::wstring& targetFolder, const std::wstring& name,
               const CopyContext& context) {
  if (fs::IsOwnFileName(name)) return false;  // another copy's unfinished file is no data
  const CopyObserver* observer = context.observer;
  if (observer && observer->report) observer->report->FileStarted(source, observer->destination);  // the question, if any, is about it
  Destination* destination = observer && observer->rehearsal ? nullptr : context.destination;
  if (!destination) return true;
  // A share gone or a stick pulled out: its remaining files fail at once
  // with the reason, and no longer wait on it one by one.
  if (const auto gone = destination->Gone()) {
    if (observer) observer->Failed(source, *gone, fs::ChildPath(targetFolder, name));
    return false;
  }
  destination->PassOutage();
  if (const auto gone = destination->Gone()) {  // given up while this file waited
    if (observer) observer->Failed(source, *gone, fs::ChildPath(targetFolder, name));
    return false;
  }
  PrepareFolder(*destination, targetFolder);
  return true;
}

std::wstring CarryOut(const std::wstring& source, const std::wstring& targetFolder, const std::wstring& name,
                      Plan plan, const CopyContext& context, const fs::Entry* listed, const Attempt& first) {
  const CopyObserver* observer = context.observer;
  Destination* destination = observer && observer->rehearsal ? nullptr : context.destination;
  auto done = [&](const std::wstring& to, FileOutcome outcome) {
    if (observer) observer->FileDone(source, to, outcome);
    return to;
  };
  if (plan == Plan::Keep) return done(fs::ChildPath(targetFolder, name), FileOutcome::Kept);
  if (observer && observer->StopRequested()) return L"";

  std::wstring placedName = name;
  const bool rehearsal = observer && observer->rehearsal;
  auto stopped = [observer] { return observer && observer->StopRequested(); };
  auto attempt = [&] {
    return rehearsal ? Rehearse(source, targetFolder, name, plan, *observer, listed, placedName)
                     : WriteAndPlace(source, targetFolder, name, plan, context, listed, placedName);
  };
  const unsigned returns = destination ? destination->Returns() : 0;
  Attempted result = first ? first(placedName) : attempt();
  // A dry run foretells the failure; it waits for nothing.
  for (int retried = 0; !result.outcome && !rehearsal && MayPass(result.error) && !stopped(); ++retried) {
    // A destination gone is waited for as a whole: this file tries it again,
    // its other files wait.
    if (destination && IsPlaceGone(result.error) && context.retry.times > 0 && !fs::IsFolder(targetFolder)) {
      destination->WaitOut(result.error, returns, context.retry.times, context.retry.waitMilliseconds, stopped, [&] {
        result = attempt();
        return result.outcome || !IsPlaceGone(result.error);
      });
      break;
    }
    if (retried >= context.retry.times || (destination && destination->Gone())) break;
    if (WaitUnlessStopped(context.retry.waitMilliseconds, stopped)) result = attempt();
  }
  const std::wstring to = fs::ChildPath(targetFolder, placedName);
  if (result.outcome) {
    if (destination) destination->Succeeded();
    return done(to, *result.outcome);
  }
  // A copy abandoned by a stop is no failure of the file.
  if (stopped()) return L"";
  const DWORD error = result.error ? result.error : ERROR_GEN_FAILURE;
  // Only a destination that cannot be reached counts towards "gone", not a
  // source that could not be read for the same reason.
  if (destination) destination->FailedWith(IsPlaceGone(error) && !fs::IsFolder(targetFolder) ? error : ERROR_SUCCESS);
  if (observer) observer->Failed(source, error, to);
  return L"";
}

std::wstring CopyOneFile(const std::wstring& source, const std::wstring& targetFolder, const std::wstring& name,
                         const CopyContext& context, const fs::Entry* listed) {
  if (!BeginFile(source, targetFolder, name, context)) return L"";
  const std::wstring target = fs::ChildPath(targetFolder, name);
  const Plan plan = PlanOf(target, context, listed, source);
  if (plan == Plan::Replace && OntoItself(source, target)) return CarryOut(source, targetFolder, name, Plan::Keep, context, listed);
  return CarryOut(source, targetFolder, name, plan, context, listed);
}

void MakeTargetFolder(const std::wstring& folder, const CopyContext& context) {
  const CopyObserver* observer = context.observer;
  const auto gone = context.destination ? context.destination->Gone() : std::nullopt;
  if (gone && !(observer && observer->rehearsal)) {
    if (observer) observer->Failed(folder, *gone);
  } else if (observer && observer->rehearsal) {
    // As the real run would: made when missing, a failure where a file stands.
    const auto standing = observer->rehearsal->Look(folder);
    if (!standing)
      observer->rehearsal->Made(folder, {L"", FILE_ATTRIBUTE_DIRECTORY});
    else if (!(standing->attributes & FILE_ATTRIBUTE_DIRECTORY))
      observer->Failed(folder, ERROR_ALREADY_EXISTS);
  } else if (!fs::MakeFolderPath(folder) && observer) {
    observer->Failed(folder, GetLastError());
  }
}

bool CopyFolderTree(const std::wstring& sourceFolder, const std::wstring& destFolder, const CopyContext& context,
                    const std::wstring& excluded, const std::wstring& from) {
  TreeCopy copy(destFolder, context, excluded);
  return WalkTree(sourceFolder, copy, from);
}

void RunProgress::Advance(int64_t done) {
  std::lock_guard<Lock> hold(lock_);
  done_ += done;
  const int position = total_ && done_ > 0 ? int(std::min<uint64_t>(uint64_t(done_) * 100 / total_, 100)) : 0;
  if (ofBytes_ && position == shown_) return;  // a byte is no reason to redraw
  shown_ = position;
  observer_.Progress(position);
}

namespace {

// The bytes of the sources, as a listing tells them now.
uint64_t SourceBytes(const std::vector<std::wstring>& sources) {
  uint64_t bytes = 0;
  for (const std::wstring& entry : sources) {
    const std::wstring source = SourcePlace(entry);
    if (!fs::IsFolder(source)) {
      if (const auto look = fs::Look(source)) bytes += look->size;
      continue;
    }
    fs::WalkFolders(source, fs::kMaskAll, -1, [&](const std::wstring&, const std::vector<fs::Entry>& entries) {
      for (const fs::Entry& e : entries)
        if (!(e.attributes & FILE_ATTRIBUTE_DIRECTORY)) bytes += e.size;
      return true;
    });
  }
  return bytes;
}

}  // namespace

std::wstring SourcePlace(const std::wstring& sourceEntry) {
  const std::wstring source = fs::ResolvePath(sourceEntry);
  // A file with a device's name ("aux.h", "nul.txt") is no device: the
  // entry names that file, and it is copied under its own name.
  if (source.rfind(L"\\\\.\\", 0) == 0) {
    auto literal = fs::LiteralPath(sourceEntry);
    if (literal && fs::IsFile(*literal)) return *literal;
  }
  return source;
}

// Both paths are taken as the places they name, and a folder is copied under
// the name of the folder it resolves to, so nothing lands outside the
// destination ("C:\a\.." is copied as "C:\", which the run refuses).
std::wstring CopyEntry(const std::wstring& sourceEntry, const std::wstring& destEntry, const CopyContext& context,
                       ParallelCopier* parallel, const std::wstring& from) {
  const std::wstring source = SourcePlace(sourceEntry);
  const std::wstring dest = WithBackslash(fs::ResolvePath(destEntry));
  if (fs::IsWholeDrive(source)) return L"";
  if (!fs::IsFolder(source)) {
    // Into its own folder by another name (a second letter, a link): replaced by itself, it stays.
    const std::wstring name = fs::NamePart(source);
    if (context.mode == SameFileMode::Overwrite &&
        fs::SamePlace(fs::PlaceOf(dest), fs::PlaceOf(source.substr(0, source.size() - name.size())))) {
      if (!BeginFile(source, dest, name, context)) return L"";
      return CarryOut(source, dest, name, Plan::Keep, context, nullptr);
    }
    return CopyOneFile(source, dest, name, context);
  }
  const std::wstring target = dest + fs::NamePart(source);
  // The copies made before a stop stand: the workers finish first.
  ScopeGuard drain([&] {
    if (parallel) parallel->Drain();
  });
  // A folder is never copied onto itself, by any name or link.
  if (fs::SamePlace(fs::PlaceOf(target), fs::PlaceOf(source))) return L"";
  CopyFolderTree(source, target, context, target, from);
  if (parallel)
    if (auto failure = parallel->Drain()) std::rethrow_exception(failure);
  return target;
}

OwnOutputs::OwnOutputs(const std::vector<std::wstring>& sources, const std::vector<std::wstring>& dests) {
  for (const std::wstring& entry : sources) {
    const std::wstring source = SourcePlace(entry);
    if (!fs::IsFolder(source) || fs::IsWholeDrive(source)) continue;
    for (const std::wstring& dest : dests) Add(WithBackslash(fs::ResolvePath(dest)) + fs::NamePart(source));
  }
}

void OwnOutputs::Add(const std::wstring& output) {
  const fs::Place place = fs::PlaceOf(output);
  finals_.insert(CaseKey(place.final.empty() ? place.resolved : place.final));
  if (place.id) ids_.insert(*place.id);
}

bool OwnOutputs::Holds(const std::wstring& folder) const {
  if (finals_.empty()) return false;
  const fs::Place place = fs::PlaceOf(folder);
  if (place.id && ids_.count(*place.id)) return true;
  // In an output, or below one (a link may lead anywhere inside it).
  const std::wstring key = CaseKey(place.final.empty() ? place.resolved : place.final);
  for (size_t end = key.size(); end != std::wstring::npos && end > 2; end = key.rfind(L'\\', end - 1))
    if (finals_.count(key.substr(0, end))) return true;
  return false;
}

namespace {

// Destinations one after another, sources inner; emptying each destination
// just before its turn.
void RunOneByOne(const CopyJob& job, const CopyObserver& runObserver, std::optional<EmptyRules>& rules,
                 RunProgress& progress, const OwnOutputs& outputs) {
  ParallelCopier parallel(CopyingThreads());
  for (size_t j = 0; j < job.dests.size() && !runObserver.StopRequested(); ++j) {
    CopyObserver observer = runObserver;
    observer.destination = j;
    Destination destination(job.dests[j]);
    // A dry run tells its files in order, one by one.
    CopyContext context{job.mode, &observer, observer.rehearsal ? nullptr : &parallel, job.retry, &destination, &outputs};
    context.verify = job.verify && !observer.rehearsal;
    if (observer.report) observer.report->DestinationStarted(j);
    // What it could not keep is said once, however its turn ends.
    ScopeGuard finished([&] {
      if (!observer.report) return;
      observer.report->DestinationFinished(j);
      if (destination.LostBits()) observer.report->Warn(job.dests[j], destination.LostBits());
    });
    if (rules) EmptyFolder(job.dests[j], *rules, observer);
    for (size_t i = 0; i < job.sources.size() && !observer.StopRequested(); ++i) {
      const std::wstring target = CopyEntry(job.sources[i], job.dests[j], context, &parallel);
      // A run never destroys its own output: what this turn wrote, made,
      // numbered or kept is spared when a later destination is emptied.
      if (rules && !target.empty()) rules->Spare(target);
      progress.EntryDone();
    }
    // A destination that has had its turn is spared when an outer one is emptied later.
    if (rules) rules->Spare(job.dests[j]);
    // Read back after its last copy: a stick that wraps around spoils earlier files with later ones.
    if (context.verify) VerifyPlaced(destination, observer, &parallel);
  }
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

void RunCopy(const CopyJob& given, const CopyObserver& runObserver) {
  fs::ForgetVolumes();  // a stick swapped since the last run is asked afresh
  const ScopeGuard settle([&runObserver] {
    // What an outage kept the run from undoing, where the volume is back.
    if (!runObserver.rehearsal) fs::RepairLeft(L"");
    fs::CloseJournals();
    fs::SettleLateTimes();  // waits out the moment after the last copies' close
    fs::RemoveJournals();
  });
  CopyJob job = given;
  job.sources = fs::OncePerPlace(given.sources);
  job.dests = fs::OncePerPlace(given.dests);
  CopyObserver observer = runObserver;
  job.verify = job.verify && !observer.rehearsal;
  if (observer.report) observer.report->Destinations(job.dests);
  if (observer.report && job.verify) observer.report->VerifyAsked();
  std::optional<EmptyRules> rules;
  if (job.emptyFirst) {
    std::vector<std::wstring> spared = job.sources;
    spared.insert(spared.end(), job.keptByEmptying.begin(), job.keptByEmptying.end());
    rules.emplace(job.dests, spared);
  }
  // Reading back costs about what writing does: the bar tells both, by bytes.
  const bool ofBytes = job.verify && observer.progress;
  RunProgress progress(ofBytes ? 2 * SourceBytes(job.sources) * job.dests.size()
                               : uint64_t(job.sources.size()) * job.dests.size(),
                       observer, ofBytes);
  if (ofBytes) observer.bytesDone = [&progress](int64_t bytes) { progress.BytesDone(bytes); };
  const OwnOutputs outputs(job.sources, job.dests);
  if (CanBroadcast(job, observer))
    RunBroadcast(job, observer, rules, progress, outputs);
  else
    RunOneByOne(job, observer, rules, progress, outputs);
}

}  // namespace copy
