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
#include "copy/Destination.h"
#include "copy/TreeWalk.h"
#include "fs/FileCopy.h"
#include "fs/OwnFiles.h"

namespace copy {
namespace {

// Where the walk stands: a source entry, and a path below its copy's top
// ("" for the whole entry). A destination let go goes on from here.
struct Position {
  size_t entry = 0;
  std::wstring relative;
};

// One step of the walk, as each destination takes it in turn.
struct Item {
  enum class Kind { Folder, File, Chunk, End, CouldNotEnter, EntryDone, Finish, LetGo } kind;
  Position at;          // Folder, File, CouldNotEnter, LetGo
  std::wstring path;    // Folder: the folder to make; File: the source; CouldNotEnter: the folder
  std::wstring folder;  // File: its target folder, ending with "\"
  fs::Entry listed{};   // File: as its folder's listing told (the name is the target's)
  bool hasListing = false;
  fs::Entry facts{};  // File: as the source told when it was opened
  std::vector<std::wstring> streams;  // File: its named streams
  Plan plan = Plan::Keep;
  DWORD code = 0;        // File: why the source could not be opened; End: why the read broke off
  bool changed = false;  // End: the source grew or shrank while it was read
  std::shared_ptr<const std::vector<char>> data;  // Chunk

  bool BeginsStep() const { return kind == Kind::Folder || kind == Kind::File || kind == Kind::CouldNotEnter; }
  uint64_t Cost() const {
    return 256 + 2 * (path.size() + folder.size() + at.relative.size()) + (data ? data->size() : 0);
  }
};

// Wakes the read when a destination has room again.
struct Pace {
  Lock lock;
  Condition room;
};

// One destination of the run: its own thread takes the walk's steps in
// order and writes its copies.
class Writer {
 public:
  Writer(size_t index, const CopyJob& job, const CopyObserver& runObserver, RunProgress& progress, Pace& pace)
      : index_(index), job_(job), destination_(job.dests[index]), progress_(progress), pace_(pace),
        top_(WithBackslash(fs::ResolvePath(job.dests[index]))) {
    observer_ = runObserver;
    observer_.destination = index;
    context_ = CopyContext{job.mode, &observer_, nullptr, job.retry, &destination_};
  }

  void Start() { thread_ = std::thread([this] { Work(); }); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  std::exception_ptr Failure() const { return failure_; }

  const std::wstring& Top() const { return top_; }
  const CopyContext& Context() const { return context_; }
  Destination& Place() { return destination_; }
  bool Attached() const { return attached_.load(); }
  uint64_t Queued() const { return queued_.load(); }

  // From the read: the next step. One that falls too far behind is let go.
  void Push(Item item) {
    std::lock_guard<Lock> hold(lock_);
    if (!attached_) return;
    queued_ += item.Cost();
    queue_.push_back(std::move(item));
    if (queued_ > job_.letGoBehind) LetGo();
    ready_.notify_one();
  }

 private:
  // Cuts the queue at its first step not yet begun (or, with none, at the
  // file in progress, written again), and goes on alone from there.
  void LetGo() {
    auto cut = std::find_if(queue_.begin(), queue_.end(), [](const Item& item) { return item.BeginsStep(); });
    Item letGo{Item::Kind::LetGo};
    const bool whole = std::any_of(queue_.begin(), queue_.end(), [](const Item& item) { return item.kind == Item::Kind::End; });
    if (cut != queue_.end())
      letGo.at = cut->at;
    else if (writingFile_ && !whole)
      letGo.at = writing_;
    else
      return;  // the file in progress is all here: the next step is the cut
    for (auto item = cut; item != queue_.end(); ++item) queued_ -= item->Cost();
    queue_.erase(cut, queue_.end());
    queued_ += letGo.Cost();
    queue_.push_back(std::move(letGo));
    attached_ = false;
  }

  Item Next() {
    std::unique_lock<Lock> hold(lock_);
    ready_.wait(hold, [this] { return !queue_.empty(); });
    Item item = std::move(queue_.front());
    queue_.pop_front();
    queued_ -= item.Cost();
    if (item.kind == Item::Kind::File) {
      writingFile_ = true;
      writing_ = item.at;
    } else if (item.kind == Item::Kind::End) {
      writingFile_ = false;
    }
    return item;
  }

  void Work() {
    if (observer_.report) observer_.report->DestinationStarted(index_);
    try {
      for (;;) {
        Item item = Next();
        if (queued_ < job_.readAhead) {
          std::lock_guard<Lock> hold(pace_.lock);
          pace_.room.notify_all();
        }
        if (item.kind == Item::Kind::Finish) break;
        if (item.kind == Item::Kind::LetGo) {
          copy_.reset();  // a file cut short is written again
          GoOnAlone(item.at);
          break;
        }
        Take(item);
      }
    } catch (...) {
      failure_ = std::current_exception();
      // Out of the run: the read no longer waits for it.
      std::lock_guard<Lock> hold(lock_);
      attached_ = false;
      queue_.clear();
      queued_ = 0;
    }
    copy_.reset();
    if (observer_.report) observer_.report->DestinationFinished(index_);
    std::lock_guard<Lock> hold(pace_.lock);
    pace_.room.notify_all();
  }

  void Take(const Item& item) {
    const bool stopped = observer_.StopRequested();  // what is queued is dropped
    switch (item.kind) {
      case Item::Kind::Folder:
        if (!stopped) MakeTargetFolder(item.path, context_);
        break;
      case Item::Kind::CouldNotEnter:
        if (!stopped) observer_.CouldNotEnter(item.path, item.code);
        break;
      case Item::Kind::EntryDone:
        progress_.EntryDone();
        break;
      case Item::Kind::File:
        BeginCopy(item, stopped);
        break;
      case Item::Kind::Chunk:
        if (copy_ && !failed_ && !stopped && !copy_->Append(item.data->data(), DWORD(item.data->size())))
          failed_ = LastErrorOr(ERROR_WRITE_FAULT);
        break;
      case Item::Kind::End:
        EndCopy(item);
        break;
      default:
        break;
    }
  }

  void BeginCopy(const Item& item, bool stopped) {
    file_ = item;
    copy_.reset();
    failed_ = 0;
    skipped_ = stopped || !BeginFile(item.path, item.folder, item.listed.name, context_);
    if (skipped_ || item.plan == Plan::Keep) return;
    // Planned on the read, ahead of this destination's earlier steps: asked
    // again now that they are written, as the run one by one would ask.
    if (job_.mode == SameFileMode::Skip || job_.mode == SameFileMode::NewerOnly)
      file_.plan = PlanOf(fs::ChildPath(item.folder, item.listed.name), context_,
                          item.hasListing ? &item.listed : nullptr, item.path);
    if (file_.plan == Plan::Keep) return;
    if (item.code) {
      failed_ = item.code;
      return;
    }
    copy_ = std::make_unique<fs::PendingCopy>();
    if (!copy_->Begin(item.path, item.folder, item.facts, item.streams, observer_.stop, BytesTold(&observer_)))
      failed_ = LastErrorOr(ERROR_WRITE_FAULT);
  }

  void EndCopy(const Item& end) {
    if (skipped_) return;
    const Attempt written = [&](std::wstring& placedName) -> Attempted {
      placedName = file_.listed.name;
      DWORD code = failed_ ? failed_ : end.code;
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

  // The rest of the run into this destination, reading for itself.
  void GoOnAlone(const Position& from) {
    for (size_t i = from.entry; i < job_.sources.size() && !observer_.StopRequested(); ++i) {
      CopyEntry(job_.sources[i], job_.dests[index_], context_, nullptr, i == from.entry ? from.relative : L"");
      progress_.EntryDone();
    }
  }

  const size_t index_;
  const CopyJob& job_;
  CopyObserver observer_;
  Destination destination_;
  CopyContext context_;
  RunProgress& progress_;
  Pace& pace_;
  const std::wstring top_;
  std::thread thread_;
  std::exception_ptr failure_;

  Lock lock_;
  Condition ready_;
  std::deque<Item> queue_;
  std::atomic<uint64_t> queued_{0};
  std::atomic<bool> attached_{true};
  bool writingFile_ = false;  // and where it stands, under lock_
  Position writing_;

  // The file in progress, on the writer's thread.
  Item file_;
  std::unique_ptr<fs::PendingCopy> copy_;
  DWORD failed_ = 0;
  bool skipped_ = false;
};

// The one walk of the sources, read once and handed to every destination
// still attached.
class Reader : public TreeSink {
 public:
  Reader(std::vector<std::unique_ptr<Writer>>& writers, const CopyObserver& observer, Pace& pace,
         uint64_t readAhead)
      : writers_(writers), observer_(observer), pace_(pace), readAhead_(readAhead) {
    for (const auto& writer : writers_)
      if (auto final = fs::FinalPath(writer->Top())) destinations_.push_back(*final);
  }

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
    Push(Item{Item::Kind::EntryDone});
  }

  bool AnyAttached() const {
    return std::any_of(writers_.begin(), writers_.end(), [](const auto& writer) { return writer->Attached(); });
  }

  bool Stopped() const override { return observer_.StopRequested() || !AnyAttached(); }
  void Folder(const std::wstring& relative, bool) override {
    WaitForRoom(writers_);
    for (const auto& writer : writers_) {
      Item item{Item::Kind::Folder, {entry_, relative}};
      item.path = writer->Top() + Below(top_, relative);
      writer->Push(std::move(item));
    }
  }
  void File(const std::wstring& source, const std::wstring& relative, const fs::Entry& entry) override {
    Copy(source, Below(top_, relative), entry, true, {entry_, Below(relative, entry.name)});
  }
  void CouldNotEnter(const std::wstring& folder, DWORD code) override {
    // A destination let go here goes on inside the folder, made already.
    const std::wstring relative =
        folder.size() > sourceTop_.size() + 1 ? folder.substr(sourceTop_.size() + 1) + L"\\" : L"";
    Item item{Item::Kind::CouldNotEnter, {entry_, relative}, folder};
    item.code = code;
    Push(item);
  }
  // A link that leads into a destination is not followed: it would read
  // what the run is writing.
  bool IsOwnOutput(const std::wstring& folder, bool viaLink) override {
    if (!viaLink) return false;
    const std::wstring final = fs::FinalPath(WithBackslash(folder)).value_or(L"");
    return std::any_of(destinations_.begin(), destinations_.end(),
                       [&](const std::wstring& destination) { return LiesWithin(final, destination); });
  }

 private:
  void Push(const Item& item) {
    for (const auto& writer : writers_) writer->Push(item);
  }

  // Until the fastest of the destinations still attached has room.
  template <typename Writers>
  void WaitForRoom(const Writers& among) {
    std::unique_lock<Lock> hold(pace_.lock);
    pace_.room.wait(hold, [&] {
      bool anyone = false;
      for (const auto& writer : among) {
        if (!writer->Attached()) continue;
        if (writer->Queued() < readAhead_) return true;
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
    if (observer_.report) observer_.report->FileStarted(source);
    std::vector<std::pair<Writer*, Item>> files;
    std::vector<Writer*> taking;
    for (const auto& writer : writers_) {
      if (!writer->Attached()) continue;
      Item item{Item::Kind::File, at, source};
      item.folder = below.empty() ? writer->Top() : writer->Top() + below + L"\\";
      item.listed = entry;
      item.hasListing = listed;
      const bool gone = writer->Place().Gone().has_value();
      if (!gone) PrepareFolder(writer->Place(), item.folder);
      item.plan = gone ? Plan::New
                       : PlanOf(fs::ChildPath(item.folder, entry.name), writer->Context(), listed ? &entry : nullptr,
                                source);
      if (item.plan != Plan::Keep && !gone) taking.push_back(writer.get());
      files.emplace_back(writer.get(), std::move(item));
    }
    fs::SourceFile from;
    DWORD code = 0;
    if (!taking.empty() && !fs::OpenSource(source, listed ? &entry : nullptr, from))
      code = LastErrorOr(ERROR_READ_FAULT);
    for (auto& [writer, item] : files) {
      item.facts = from.facts;
      item.streams = from.streams;
      item.code = code;
      writer->Push(std::move(item));
    }
    bool changed = false;
    if (!taking.empty() && !code) {
      const bool whole = fs::ReadChunks(
          from.handle.get(), from.facts.size, observer_.stop,
          [&](const char* data, DWORD size) {
            WaitForRoom(taking);
            Item chunk{Item::Kind::Chunk};
            chunk.data = std::make_shared<const std::vector<char>>(data, data + size);
            bool anyone = false;
            for (Writer* writer : taking) {
              writer->Push(chunk);
              anyone |= writer->Attached();
            }
            return anyone;  // all let go: no one to read for
          },
          &changed);
      if (!whole) code = LastErrorOr(ERROR_OPERATION_ABORTED);
    }
    Item end{Item::Kind::End};
    end.code = code;
    end.changed = changed;
    Push(end);
  }

  std::vector<std::unique_ptr<Writer>>& writers_;
  const CopyObserver& observer_;
  Pace& pace_;
  const uint64_t readAhead_;
  std::vector<std::wstring> destinations_;  // where each leads, links followed
  size_t entry_ = 0;
  std::wstring top_;        // the folder entry's name: its copy's top below a destination
  std::wstring sourceTop_;  // the folder entry's place
};

// A place's parent as the system resolves it; empty above a root.
std::wstring ParentOf(const std::wstring& place) {
  const size_t cut = fs::LastSeparator(L"\\", place);
  if (cut == 0 || cut == place.size()) return L"";  // a drive root
  std::wstring parent = place.substr(0, cut - 1);
  if (parent.size() == 2 && parent[1] == L':') return parent + L"\\";
  if (parent.rfind(L"\\\\", 0) == 0 && std::count(parent.begin(), parent.end(), L'\\') < 3) return L"";
  return parent;
}

// A place as given and where it leads (links followed), and the identities
// of it and of every folder above it, on either path.
struct Line {
  std::vector<std::wstring> places;
  std::optional<fs::PlaceId> id;
  std::vector<fs::PlaceId> above;  // itself included
};

Line LineOf(const std::wstring& entry, std::unordered_map<std::wstring, std::optional<fs::PlaceId>>& known) {
  Line line{{fs::ResolvePath(entry)}};
  if (auto final = fs::FinalPath(line.places[0]); final && !SameTextIgnoreCase(*final, line.places[0]))
    line.places.push_back(fs::ResolvePath(*final));
  for (const std::wstring& place : line.places)
    for (std::wstring at = place; !at.empty(); at = ParentOf(at)) {
      auto found = known.find(CaseKey(at));
      if (found == known.end()) found = known.emplace(CaseKey(at), fs::Identify(at)).first;
      if (!found->second) continue;
      if (at == place) line.id = found->second;
      line.above.push_back(*found->second);
    }
  return line;
}

// One lies in the other, or is it: by path (a place not made yet) or by identity.
bool Overlap(const Line& a, const Line& b) {
  auto holds = [](const Line& outer, const Line& inner) {
    for (const std::wstring& outerPlace : outer.places)
      for (const std::wstring& innerPlace : inner.places)
        if (LiesWithin(innerPlace, outerPlace)) return true;
    return outer.id && std::find(inner.above.begin(), inner.above.end(), *outer.id) != inner.above.end();
  };
  return holds(a, b) || holds(b, a);
}

}  // namespace

bool CanBroadcast(const CopyJob& job, const CopyObserver& observer) {
  if (job.dests.size() < 2 || job.mode == SameFileMode::Ask || observer.rehearsal) return false;
  std::unordered_map<std::wstring, std::optional<fs::PlaceId>> known;
  std::vector<Line> dests, sources;
  for (const std::wstring& dest : job.dests) dests.push_back(LineOf(dest, known));
  for (const std::wstring& source : job.sources) sources.push_back(LineOf(source, known));
  for (size_t j = 0; j < dests.size(); ++j) {
    for (size_t k = j + 1; k < dests.size(); ++k)
      if (Overlap(dests[j], dests[k])) return false;
    for (const Line& source : sources)
      if (Overlap(dests[j], source)) return false;
  }
  return true;
}

void RunBroadcast(const CopyJob& job, const CopyObserver& observer, std::optional<EmptyRules>& rules,
                  RunProgress& progress) {
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
    writers.push_back(std::make_unique<Writer>(j, job, observer, progress, pace));
  {
    // Every destination finishes its steps, however the read ends.
    ScopeGuard finish([&] {
      for (const auto& writer : writers) writer->Push(Item{Item::Kind::Finish});
      for (const auto& writer : writers) writer->Join();
    });
    for (const auto& writer : writers) writer->Start();
    Reader reader(writers, observer, pace, job.readAhead);
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
