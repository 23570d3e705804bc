#include "copy/Broadcast.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <exception>
#include <memory>
#include <thread>
#include <unordered_map>

#include "common/AppError.h"
#include "common/Paths.h"
#include "common/Raii.h"
#include "common/Sync.h"
#include "copy/Channel.h"
#include "copy/Destination.h"
#include "copy/TreeWalk.h"
#include "copy/Verification.h"
#include "fs/FileCopy.h"
#include "fs/OwnFiles.h"

namespace copy {
namespace {

// One destination of the run: its own thread takes the walk's steps in
// order and writes its copies.
class Writer {
 public:
  Writer(size_t index, const CopyJob& job, const CopyObserver& runObserver, RunProgress& progress, Pace& pace,
         const OwnOutputs& outputs)
      : index_(index), job_(job), destination_(job.dests[index]), progress_(progress),
        channel_(job.readAhead, job.letGoBehind, pace), top_(WithBackslash(fs::ResolvePath(job.dests[index]))) {
    observer_ = runObserver;
    observer_.destination = index;
    context_ = CopyContext{job.mode, &observer_, nullptr, job.retry, &destination_, &outputs};
    context_.verify = job.verify;
  }

  void Start() { thread_ = std::thread([this] { Work(); }); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  std::exception_ptr Failure() const { return failure_; }

  const std::wstring& Top() const { return top_; }
  const CopyContext& Context() const { return context_; }
  Destination& Place() { return destination_; }
  Channel& Steps() { return channel_; }

 private:
  void Work() {
    if (observer_.report) observer_.report->DestinationStarted(index_);
    try {
      for (;;) {
        Step step = channel_.Pop();
        if (step.kind == Step::Kind::Finish) break;
        if (step.kind == Step::Kind::LetGo) {
          copy_.reset();
          GoOnAlone(step);
          break;
        }
        Take(step);
      }
      // Side by side with the others: each destination reads its own copies back.
      if (context_.verify) VerifyPlaced(destination_, observer_, nullptr);
    } catch (...) {
      failure_ = std::current_exception();
      channel_.Stop();  // out of the run: the read no longer waits for it
    }
    copy_.reset();
    if (observer_.report) observer_.report->DestinationFinished(index_);
  }

  void Take(const Step& step) {
    const bool stopped = observer_.StopRequested();  // what is queued is dropped
    switch (step.kind) {
      case Step::Kind::Folder:
        if (!stopped) MakeTargetFolder(step.path, context_);
        break;
      case Step::Kind::CouldNotEnter:
        if (!stopped) observer_.CouldNotEnter(step.path, step.code);
        break;
      case Step::Kind::EntryDone:
        progress_.EntryDone();
        break;
      case Step::Kind::File:
        BeginCopy(step, stopped);
        break;
      case Step::Kind::Chunk:
        if (copy_ && !failed_ && !stopped && !copy_->Append(step.data->data(), DWORD(step.data->size())))
          failed_ = LastErrorOr(ERROR_WRITE_FAULT);
        break;
      case Step::Kind::End:
        EndCopy(step);
        break;
      default:
        break;
    }
  }

  void BeginCopy(const Step& step, bool stopped) {
    file_ = step;
    copy_.reset();
    failed_ = 0;
    skipped_ = stopped || !BeginFile(step.path, step.folder, step.listed.name, context_);
    if (skipped_ || step.plan == Plan::Keep) return;
    // Planned on the read, ahead of this destination's earlier steps: asked
    // again now that they are written, as the run one by one would ask.
    if (job_.mode == SameFileMode::Skip || job_.mode == SameFileMode::NewerOnly)
      file_.plan = PlanOf(fs::ChildPath(step.folder, step.listed.name), context_,
                          step.hasListing ? &step.listed : nullptr, step.path);
    if (file_.plan == Plan::Keep) return;
    if (step.code) {
      failed_ = step.code;
      return;
    }
    copy_ = std::make_unique<fs::PendingCopy>();
    if (context_.verify) copy_->FlushAndHash();
    if (!copy_->Begin(step.path, step.folder, step.facts, step.streams, observer_.stop, BytesTold(&observer_)))
      failed_ = LastErrorOr(ERROR_WRITE_FAULT);
  }

  void EndCopy(const Step& end) {
    if (skipped_) return;
    const Attempt written = [&](std::wstring& placedName) -> Attempted {
      placedName = file_.listed.name;
      DWORD code = failed_ ? failed_ : end.code;
      if (end.hash) copy_->TakeHash(*end.hash);
      if (!code && !copy_->End(end.changed)) code = LastErrorOr(ERROR_WRITE_FAULT);
      if (code) {
        copy_.reset();
        return Attempted{std::nullopt, code};
      }
      return PlaceWritten(*copy_, file_.path, file_.folder, file_.listed.name, file_.plan, context_, placedName);
    };
    CarryOut(file_.path, file_.folder, file_.listed.name, file_.plan, context_,
             file_.hasListing ? &file_.listed : nullptr, written);
    copy_.reset();
  }

  // The rest of the run into this destination, reading for itself; the file
  // cut short, as the read began it.
  void GoOnAlone(const Step& letGo) {
    const BegunFile begun{file_.path, letGo.facts};
    if (letGo.midFile) context_.begun = &begun;
    const Position& from = letGo.at;
    for (size_t i = from.entry; i < job_.sources.size() && !observer_.StopRequested(); ++i) {
      CopyEntry(job_.sources[i], job_.dests[index_], context_, nullptr, i == from.entry ? from.relative : L"");
      progress_.EntryDone();
    }
    context_.begun = nullptr;
  }

  const size_t index_;
  const CopyJob& job_;
  CopyObserver observer_;
  Destination destination_;
  CopyContext context_;
  RunProgress& progress_;
  Channel channel_;
  const std::wstring top_;
  std::thread thread_;
  std::exception_ptr failure_;

  // The file in progress, on the writer's thread.
  Step file_{Step::Kind::File};
  std::unique_ptr<fs::PendingCopy> copy_;
  DWORD failed_ = 0;
  bool skipped_ = false;
};

// The one walk of the sources, read once and handed to every destination
// still attached.
class Reader : public TreeSink {
 public:
  Reader(std::vector<std::unique_ptr<Writer>>& writers, const CopyObserver& observer, Pace& pace,
         const OwnOutputs& outputs, bool verify)
      : writers_(writers), observer_(observer), pace_(pace), outputs_(outputs), verify_(verify) {}

  void Entry(size_t index, const std::wstring& sourceEntry) {
    entry_ = index;
    const std::wstring source = SourcePlace(sourceEntry);
    if (!fs::IsWholeDrive(source)) {
      if (fs::IsFolder(source)) {
        top_ = fs::NamePart(source);
        sourceTop_ = source;
        WalkTree(source, *this);
      } else {
        const fs::Entry named{fs::NamePart(source)};
        Copy(source, L"", named, false, {index, L""});
      }
    }
    Push(Step{Step::Kind::EntryDone});
  }

  bool AnyAttached() const {
    return std::any_of(writers_.begin(), writers_.end(), [](const auto& writer) { return writer->Steps().Attached(); });
  }

  bool Stopped() const override { return observer_.StopRequested() || !AnyAttached(); }
  void Folder(const std::wstring& relative, bool) override {
    WaitForRoom(writers_);
    for (const auto& writer : writers_) {
      Step step{Step::Kind::Folder, {entry_, relative}};
      step.path = writer->Top() + Below(top_, relative);
      writer->Steps().Push(std::move(step));
    }
  }
  void File(const std::wstring& source, const std::wstring& relative, const fs::Entry& entry) override {
    Copy(source, Below(top_, relative), entry, true, {entry_, Below(relative, entry.name)});
  }
  void CouldNotEnter(const std::wstring& folder, DWORD code) override {
    // A destination let go here goes on inside the folder, made already.
    const std::wstring relative =
        folder.size() > sourceTop_.size() + 1 ? folder.substr(sourceTop_.size() + 1) + L"\\" : L"";
    Step step{Step::Kind::CouldNotEnter, {entry_, relative}, folder};
    step.code = code;
    Push(step);
  }
  // No destination lies in a source (or the run would go one by one): only
  // a link can lead into the run's output.
  bool IsOwnOutput(const std::wstring& folder, bool underLink) override {
    return underLink && outputs_.Holds(folder);
  }

 private:
  void Push(const Step& step) {
    for (const auto& writer : writers_) writer->Steps().Push(step);
  }

  // Until the fastest of the destinations still attached has room.
  template <typename Writers>
  void WaitForRoom(const Writers& among) {
    std::unique_lock<Lock> hold(pace_.lock);
    pace_.room.wait(hold, [&] {
      bool anyone = false;
      for (const auto& writer : among) {
        if (!writer->Steps().Attached()) continue;
        if (writer->Steps().HasRoom()) return true;
        anyone = true;
      }
      return !anyone || observer_.StopRequested();
    }, 100);  // a stop is no notification
  }

  // One file for every destination: each plans it as its policy says; the
  // source is read only when one of them takes it.
  void Copy(const std::wstring& source, const std::wstring& below, const fs::Entry& entry, bool listed,
            const Position& at) {
    if (fs::IsOwnFileName(entry.name)) return;  // another copy's unfinished file is no data
    WaitForRoom(writers_);
    std::vector<std::pair<Writer*, Step>> files;
    std::vector<Writer*> taking;
    for (const auto& writer : writers_) {
      if (!writer->Steps().Attached()) continue;
      Step file{Step::Kind::File, at, source};
      file.folder = below.empty() ? writer->Top() : writer->Top() + below + L"\\";
      file.listed = entry;
      file.hasListing = listed;
      const bool gone = writer->Place().Gone().has_value();
      if (!gone) PrepareFolder(writer->Place(), file.folder);
      file.plan = gone ? Plan::New
                       : PlanOf(fs::ChildPath(file.folder, entry.name), writer->Context(), listed ? &entry : nullptr,
                                source);
      if (file.plan != Plan::Keep && !gone) taking.push_back(writer.get());
      files.emplace_back(writer.get(), std::move(file));
    }
    fs::SourceFile from;
    DWORD code = 0;
    if (!taking.empty() && !fs::OpenSource(source, listed ? &entry : nullptr, from))
      code = LastErrorOr(ERROR_READ_FAULT);
    for (auto& [writer, file] : files) {
      file.facts = from.facts;
      file.streams = from.streams;
      file.code = code;
      writer->Steps().Push(std::move(file));
    }
    bool changed = false;
    std::optional<fs::Hasher> hasher;  // one hash of the one read, for every destination
    if (verify_ && !taking.empty() && !code) hasher.emplace();
    if (!taking.empty() && !code) {
      const bool whole = fs::ReadChunks(
          from.handle.get(), from.facts.size, observer_.stop,
          [&](const char* data, DWORD size) {
            if (hasher) hasher->Add(data, size);
            WaitForRoom(taking);
            Step chunk{Step::Kind::Chunk};
            chunk.data = std::make_shared<const std::vector<char>>(data, data + size);
            bool anyone = false;
            for (Writer* writer : taking) anyone |= writer->Steps().Push(chunk);
            return anyone;  // all let go: no one to read for
          },
          &changed);
      if (!whole) code = LastErrorOr(ERROR_OPERATION_ABORTED);
    }
    Step end{Step::Kind::End};
    end.code = code;
    end.changed = changed;
    if (hasher && !code) end.hash = hasher->Result();
    Push(end);
  }

  std::vector<std::unique_ptr<Writer>>& writers_;
  const CopyObserver& observer_;
  Pace& pace_;
  const OwnOutputs& outputs_;
  const bool verify_;
  size_t entry_ = 0;
  std::wstring top_;        // the folder entry's name: its copy's top below a destination
  std::wstring sourceTop_;  // the folder entry's place
};

// One lies in the other, or is it, by any of their names.
bool Overlap(const fs::Place& a, const fs::Place& b) { return fs::LiesWithin(a, b) || fs::LiesWithin(b, a); }

}  // namespace

bool CanBroadcast(const CopyJob& job, const CopyObserver& observer) {
  if (job.dests.size() < 2 || job.mode == SameFileMode::Ask || observer.rehearsal) return false;
  fs::Places places;
  std::vector<fs::Place> dests, sources;
  for (const std::wstring& dest : job.dests) dests.push_back(places.Of(dest));
  for (const std::wstring& source : job.sources) sources.push_back(places.Of(source));
  for (size_t j = 0; j < dests.size(); ++j) {
    for (size_t k = j + 1; k < dests.size(); ++k)
      if (Overlap(dests[j], dests[k])) return false;
    for (const fs::Place& source : sources)
      if (Overlap(dests[j], source)) return false;
  }
  return true;
}

void RunBroadcast(const CopyJob& job, const CopyObserver& observer, std::optional<EmptyRules>& rules,
                  RunProgress& progress, const OwnOutputs& outputs) {
  if (rules) {
    for (size_t j = 0; j < job.dests.size() && !observer.StopRequested(); ++j) {
      CopyObserver emptying = observer;
      emptying.destination = j;
      EmptyFolder(job.dests[j], *rules, emptying);
    }
    if (observer.StopRequested()) return;  // nothing is copied
  }
  Pace pace;
  std::vector<std::unique_ptr<Writer>> writers;
  for (size_t j = 0; j < job.dests.size(); ++j)
    writers.push_back(std::make_unique<Writer>(j, job, observer, progress, pace, outputs));
  {
    // Every destination finishes its steps, however the read ends.
    ScopeGuard finish([&] {
      for (const auto& writer : writers) writer->Steps().Push(Step{Step::Kind::Finish});
      for (const auto& writer : writers) writer->Join();
    });
    for (const auto& writer : writers) writer->Start();
    Reader reader(writers, observer, pace, outputs, job.verify);
    for (size_t i = 0; i < job.sources.size() && !reader.Stopped(); ++i) reader.Entry(i, job.sources[i]);
  }
  // What a destination could not keep is said once, in list order.
  for (size_t j = 0; j < writers.size(); ++j) {
    const unsigned lost = writers[j]->Place().LostBits();
    if (lost && observer.report) observer.report->Warn(job.dests[j], lost);
  }
  for (const auto& writer : writers)
    if (writer->Failure()) std::rethrow_exception(writer->Failure());
}

}  // namespace copy
