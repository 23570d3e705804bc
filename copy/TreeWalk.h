// The walk of a source folder's tree that every copy of it follows, into
// one destination or read once for many: folders before what they hold,
// entries in name order, a folder that cannot be entered a failure of its
// own, never in a circle through links.
#pragma once
#include <windows.h>

#include <string>

#include "fs/FileSystem.h"

namespace copy {

// What a walk hands on, in walk order.
class TreeSink {
 public:
  virtual ~TreeSink() = default;
  virtual bool Stopped() const = 0;
  // A folder of the copy, below its top ("" for the top), handed on before
  // what it holds; again when a walk that goes on hands on a folder above
  // where it goes on from (handed on already).
  virtual void Folder(const std::wstring& relative, bool again) = 0;
  // A file of the source, for the copy's folder relative.
  virtual void File(const std::wstring& source, const std::wstring& relative, const fs::Entry& entry) = 0;
  // A folder that cannot be entered or listed: its tree is left out, the walk goes on.
  virtual void CouldNotEnter(const std::wstring& folder, DWORD code) = 0;
  // A source folder that is the run's own output, by another name or a link:
  // left out. underLink: a link leads to it or to a folder above it.
  virtual bool IsOwnOutput(const std::wstring& folder, bool underLink) = 0;
};

// Walks the tree below sourceFolder. With from (a path below it, as a
// relative of the sink's), the walk goes on from there: what comes before it
// in walk order is left out, and the folders above it are handed on again.
// A from ending with a backslash goes on inside that folder, from its start.
// False when sourceFolder lists nothing at all.
bool WalkTree(const std::wstring& sourceFolder, TreeSink& sink, const std::wstring& from = L"");

// The path below a copy's top of a name in its folder relative.
std::wstring Below(const std::wstring& relative, const std::wstring& name);

}  // namespace copy
