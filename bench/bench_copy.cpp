// Copy speed: our copy run's engine (with its failure accounting and the
// status line's reads) against a bare walk that calls CopyFileW for each file
// (the platform's floor under Wine) and against xcopy, on the same trees,
// alternating the contenders; into an empty destination, and over an earlier
// copy (our safe replace). Usage: bench_copy [runs] [--small-only]
#include <atomic>
#include <cstdlib>
#include <thread>

#include "app/Texts.h"
#include "bench/BenchSupport.h"
#include "common/StopSignal.h"
#include "copy/CopyEngine.h"
#include "fs/FileSystem.h"

namespace {

const std::wstring kRoot = L"C:\\qmbench\\copy";

void BareCopy(const std::wstring& from, const std::wstring& to) {
  CreateDirectoryW(to.c_str(), nullptr);
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW((from + L"\\*.*").c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = d.cFileName;
    if (name == L"." || name == L"..") continue;
    if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      BareCopy(from + L"\\" + name, to + L"\\" + name);
    else
      CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE);
  } while (FindNextFileW(h, &d));
  FindClose(h);
}

void OurCopy(const std::wstring& from, const std::wstring& to) {
  // The run copies the folder entry into to\src, as the others do.
  CreateDirectoryW(to.c_str(), nullptr);
  copy::RunReport report;
  StopSignal stop;
  size_t shown = 0;
  // What the window's timer does while a run goes on: the status line every 100 ms.
  std::atomic<bool> over{false};
  std::thread status([&] {
    while (!over) {
      Sleep(100);
      const auto progress = report.Read();
      shown += StatusText(progress.files, progress.bytes, 1.0).size() + progress.current.size();
    }
  });
  copy::RunCopy({{from}, {to + L"\\"}, copy::SameFileMode::Overwrite}, {nullptr, nullptr, &report, &stop});
  over = true;
  status.join();
  if (report.FailureCount()) std::printf("  (%zu copies failed)\n", report.FailureCount());
}

void Xcopy(const std::wstring& from, const std::wstring& to) {
  std::wstring command = L"xcopy.exe \"" + from + L"\" \"" + to + L"\\src\" /E /I /Y /H /Q";
  STARTUPINFOW si = {sizeof si};
  si.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
    return;
  WaitForSingleObject(pi.hProcess, INFINITE);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

void Measure(const char* label, const std::wstring& source, int runs, bool overEarlierCopy) {
  std::vector<double> ours, floor, xcopy;
  const std::wstring out = kRoot + L"\\out";
  // Each round rotates who goes first, so no contender always meets a cold
  // or a freshly emptied disk.
  const std::function<void()> contenders[] = {
      [&] { ours.push_back(bench::Seconds([&] { OurCopy(source, out); })); },
      [&] { floor.push_back(bench::Seconds([&] { BareCopy(source, out + L"\\src"); })); },
      [&] { xcopy.push_back(bench::Seconds([&] { Xcopy(source, out); })); },
  };
  for (int r = 0; r < runs; ++r) {
    for (int k = 0; k < 3; ++k) {
      bench::RemoveTree(out);
      CreateDirectoryW(out.c_str(), nullptr);
      if (overEarlierCopy) BareCopy(source, out + L"\\src");
      contenders[(r + k) % 3]();
    }
  }
  bench::RemoveTree(out);
  std::printf("%s: medians of %d runs\n", label, runs);
  bench::Report("  ours vs bare CopyFileW", bench::Median(ours), "floor", bench::Median(floor), 1.1);
  bench::Report("  ours vs xcopy", bench::Median(ours), "xcopy", bench::Median(xcopy), 0.8);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  bool smallOnly = argc > 2 && std::string(argv[2]) == "--small-only";
  fs::MakeFolderPath(kRoot);
  const std::wstring small = kRoot + L"\\small\\src", large = kRoot + L"\\large\\src";
  if (!fs::IsFolder(small)) {
    std::printf("making 5,000 files of 4 KiB in 100 folders...\n");
    for (int d = 0; d < 100; ++d) {
      std::wstring folder = small + L"\\d" + std::to_wstring(d);
      fs::MakeFolderPath(folder);
      for (int f = 0; f < 50; ++f) bench::WriteFileOfSize(folder + L"\\f" + std::to_wstring(f) + L".bin", 4096);
    }
  }
  Measure("5,000 files of 4 KiB", small, runs, false);
  Measure("5,000 files of 4 KiB over an earlier copy", small, runs, true);
  if (smallOnly) return 0;
  if (!fs::IsFolder(large)) {
    std::printf("making 4 files of 256 MiB...\n");
    fs::MakeFolderPath(large);
    for (int f = 0; f < 4; ++f) bench::WriteFileOfSize(large + L"\\big" + std::to_wstring(f) + L".bin", 256u << 20);
  }
  Measure("4 files of 256 MiB", large, runs, false);
  return 0;
}
