#include "copy/Channel.h"

#include <algorithm>

namespace copy {

uint64_t Step::Cost() const {
  return 256 + 2 * (path.size() + folder.size() + at.relative.size()) + (data ? data->size() : 0);
}

bool Channel::Push(Step step) {
  std::lock_guard<Lock> hold(lock_);
  if (!attached_) return false;
  queued_ += step.Cost();
  queue_.push_back(std::move(step));
  if (queued_ > letGoBehind_) LetGo();
  ready_.notify_one();
  return true;
}

void Channel::LetGo() {
  const auto cut = std::find_if(queue_.begin(), queue_.end(), [](const Step& step) { return step.BeginsStep(); });
  Step letGo{Step::Kind::LetGo};
  const bool whole =
      std::any_of(queue_.begin(), cut, [](const Step& step) { return step.kind == Step::Kind::End; });
  if (cut != queue_.end()) {
    letGo.at = cut->at;
  } else if (writingFile_ && !whole) {
    letGo.at = writing_;
    letGo.midFile = true;
    letGo.facts = writingFacts_;
  } else {
    return;  // the file in progress is all here: the next step is the cut
  }
  // What stands before the cut is the file in progress: cut inside it, that is dropped too.
  const auto from = letGo.midFile ? queue_.begin() : cut;
  for (auto step = from; step != queue_.end(); ++step) queued_ -= step->Cost();
  queue_.erase(from, queue_.end());
  queued_ += letGo.Cost();
  queue_.push_back(std::move(letGo));
  attached_ = false;
  WakeTheRead();
}

Step Channel::Pop() {
  Step step;
  {
    std::unique_lock<Lock> hold(lock_);
    ready_.wait(hold, [this] { return !queue_.empty(); });
    step = std::move(queue_.front());
    queue_.pop_front();
    queued_ -= step.Cost();
    if (step.kind == Step::Kind::File) {
      writingFile_ = true;
      writing_ = step.at;
      writingFacts_ = step.facts;
    } else if (step.kind == Step::Kind::End) {
      writingFile_ = false;
    }
  }
  if (HasRoom()) WakeTheRead();
  return step;
}

void Channel::Stop() {
  {
    std::lock_guard<Lock> hold(lock_);
    attached_ = false;
    queue_.clear();
    queued_ = 0;
  }
  WakeTheRead();
}

void Channel::WakeTheRead() {
  std::lock_guard<Lock> hold(pace_.lock);
  pace_.room.notify_all();
}

}  // namespace copy
