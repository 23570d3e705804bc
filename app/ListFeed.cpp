#include "app/ListFeed.h"

ListFeed::ListFeed(PathList& list) : list_(list), known_(list.Index()), bulk_(std::make_unique<PathList::Bulk>(list)) {}

bool ListFeed::Offer(const std::wstring& path) {
  if (known_.Contains(path)) return false;
  known_.Add(path);
  ++offered_;
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.push_back(path);
  return true;
}

void ListFeed::Flush() {
  std::vector<std::wstring> arrived;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    arrived.swap(pending_);
  }
  if (arrived.empty()) return;
  list_.Reserve(int(arrived.size()));
  for (const std::wstring& path : arrived) list_.Append(path);
  list_.RepaintThrottled(true);
}

void ListFeed::Finish() {
  Flush();
  bulk_.reset();
}
