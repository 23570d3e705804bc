// A list box holding paths, with an index that answers "already listed"
// (letter case ignored) in O(1). Every change of the list goes through here.
#pragma once
#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common/Paths.h"
#include "wingui/Controls.h"

// A list box that refused a line, or was asked for one it does not hold;
// the windows word it (app/Texts) and show the error box.
struct ListBoxError : std::runtime_error {
  enum class Kind { InsertRefused, NoSuchIndex };
  ListBoxError(Kind what, int at) : std::runtime_error("ListBoxError"), kind(what), index(at) {}
  Kind kind;
  int index;
};

class PathList : public Control {
 public:
  int Count() const;
  std::wstring At(int index) const;
  std::vector<std::wstring> Items() const;
  bool Contains(const std::wstring& path) const { return index_.Contains(path); }
  const ListIndex& Index() const { return index_; }
  // Appends at the end; throws ListBoxError when the control refuses.
  void Append(const std::wstring& path);
  // Appends unless already listed; true when appended.
  bool AppendNew(const std::wstring& path);
  void RemoveSelected();
  void Clear();
  // Reserves room for n more entries ahead of a long addition.
  void Reserve(int n);
  // Repaints at most every 50 ms during long additions (always when forced).
  void RepaintThrottled(bool force = false);

  // For the life of the object the list draws only at RepaintThrottled:
  // a visible list box that repaints on every addition is a hundred times
  // slower than one that does not.
  class Bulk {
   public:
    explicit Bulk(PathList& list);
    ~Bulk();
    Bulk(const Bulk&) = delete;
    Bulk& operator=(const Bulk&) = delete;

   private:
    PathList& list_;
  };

 private:
  ListIndex index_;
  DWORD lastPaint_ = 0;
  int bulkDepth_ = 0;
};
