// Shared by the benchmark programs: timing, medians and tree generation.
#pragma once
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace bench {

inline double Seconds(const std::function<void()>& work) {
  LARGE_INTEGER f, a, b;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&a);
  work();
  QueryPerformanceCounter(&b);
  return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

// Dispatches the window thread's messages while busy() holds (long work
// runs beside the window and ends with a posted message).
inline void PumpWhile(const std::function<bool()>& busy) {
  while (busy()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
}

inline std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

inline void WriteFileOfSize(const std::wstring& path, size_t bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  std::vector<char> block(1 << 20, 'q');
  while (bytes > 0) {
    DWORD n = DWORD(std::min(bytes, block.size())), written = 0;
    WriteFile(h, block.data(), n, &written, nullptr);
    bytes -= n;
  }
  CloseHandle(h);
}

inline void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &d);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = d.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring full = path + L"\\" + name;
      if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(full);
      else
        DeleteFileW(full.c_str());
    } while (FindNextFileW(h, &d));
    FindClose(h);
  }
  RemoveDirectoryW(path.c_str());
}

// A bare recursive listing: the floor under any walk of the tree.
inline size_t BareWalk(const std::wstring& folder) {
  size_t entries = 0;
  WIN32_FIND_DATAW d;
  std::vector<std::wstring> subfolders;
  HANDLE h = FindFirstFileExW((folder + L"\\*.*").c_str(), FindExInfoBasic, &d, FindExSearchNameMatch, nullptr,
                              FIND_FIRST_EX_LARGE_FETCH);
  if (h == INVALID_HANDLE_VALUE) return 0;
  do {
    std::wstring name = d.cFileName;
    if (name == L"." || name == L"..") continue;
    ++entries;
    if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) subfolders.push_back(name);
  } while (FindNextFileW(h, &d));
  FindClose(h);
  for (auto& s : subfolders) entries += BareWalk(folder + L"\\" + s);
  return entries;
}

// One figure against another, and against its goal when there is one (a
// goal of 0: a figure to read). True when the goal is kept.
inline bool Compare(const char* what, const char* who, double time, const char* peer, double theirs, double goal) {
  const double ratio = theirs > 0 ? time / theirs : 0;
  std::printf("%-30s %-6s %8.3f s   %-8s %8.3f s   ratio %.2f", what, who, time, peer, theirs, ratio);
  if (goal <= 0) {
    std::printf("\n");
    return true;
  }
  std::printf(" (goal %.2f) %s\n", goal, ratio <= goal ? "ok" : "OVER");
  return ratio <= goal;
}

inline bool Report(const char* what, double ours, const char* peer, double theirs, double goal) {
  return Compare(what, "ours", ours, peer, theirs, goal);
}

}  // namespace bench
