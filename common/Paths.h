// Path rules shared by every subsystem: entry kinds, "letter case ignored",
// trailing backslashes, drive roots, absolute paths, and the list index.
#pragma once
#include <windows.h>

#include <string>
#include <unordered_map>
#include <vector>

// What a listed name stands for: "." and ".." (the folder itself and its
// parent), a subfolder, or a file.
enum class EntryKind { File, Folder, DotName };
EntryKind ClassifyEntry(const std::wstring& name, DWORD attributes);

// Equal as the file system compares names: ordinal, letter case ignored.
bool SameTextIgnoreCase(const std::wstring& a, const std::wstring& b);
// The key under which SameTextIgnoreCase-equal texts collide.
std::wstring CaseKey(const std::wstring& text);


// Counts the entries of a list by case key, so that "already listed" costs
// O(1) however long the list grows.
class ListIndex {
 public:
  void Add(const std::wstring& text) { ++counts_[CaseKey(text)]; }
  void Remove(const std::wstring& text);
  void Clear() { counts_.clear(); }
  bool Contains(const std::wstring& text) const { return counts_.count(CaseKey(text)) != 0; }
  void Reserve(size_t n) { counts_.reserve(n); }

 private:
  std::unordered_map<std::wstring, size_t> counts_;
};

// The place is the folder or lies below it (letter case ignored; both as
// the system resolves them, the folder without a trailing backslash but on a
// drive root).
bool LiesWithin(const std::wstring& place, const std::wstring& folder);
// Ends with a backslash (appended when the last character is not one).
std::wstring WithBackslash(std::wstring path);
// Holds "*" or "?": a pattern, never the name of one file or folder.
bool HasWildcard(const std::wstring& path);

// An absolute path: a drive letter, colon and backslash, or \\server\share.
bool IsAbsolutePath(const std::wstring& path);
