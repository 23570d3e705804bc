// Paths that long work finds on the worker, added to a list on the window
// thread in batches, so that the user sees the list grow.
#pragma once
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/Paths.h"
#include "wingui/PathList.h"

class ListFeed {
 public:
  // On the window thread. What the list holds is read once: the window
  // takes no input while the work runs, so the list changes only here.
  explicit ListFeed(PathList& list);
  ListFeed(const ListFeed&) = delete;
  ListFeed& operator=(const ListFeed&) = delete;

  // On the worker.
  bool Listed(const std::wstring& path) const { return known_.Contains(path); }
  // Queues the path unless it is listed or was offered before; true when queued.
  bool Offer(const std::wstring& path);
  size_t Offered() const { return offered_; }

  // On the window thread: appends what arrived; Finish also ends the batch drawing.
  void Flush();
  void Finish();

 private:
  PathList& list_;
  ListIndex known_;
  size_t offered_ = 0;
  std::mutex mutex_;
  std::vector<std::wstring> pending_;
  std::unique_ptr<PathList::Bulk> bulk_;
};
