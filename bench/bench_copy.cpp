// Copy speed: our copy run's engine (with its failure accounting and the
// status line's reads) against a bare walk that calls CopyFileW for each file
// and against xcopy, on the same trees, alternating the contenders; into an
// empty destination, and over an earlier copy (our safe replace). Beside them
// the floor under any copy: making the same files empty, on as many threads.
// Then the same copy, ours against xcopy, onto each destination kind of the
// rig (scripts/rig.sh: FAT32, exFAT, NTFS, a Samba share), when
// QM_RIG_DESTINATIONS names the rig's destinations file.
// Usage: bench_copy [runs] [--small-only | --large-only | --destinations-only]
//        bench_copy --calls   copies 50 files ours and bare, marking each on
//                             stderr for scripts/bench.sh to count the
//                             server requests (run with WINEDEBUG=+server)
#include <atomic>
#include <cstdlib>
#include <map>
#include <sstream>
#include <thread>

#include "bench/BenchSupport.h"
#include "common/Text.h"
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
    for (int tick = 1; !over; ++tick) {
      Sleep(10);  // the end of the run is seen within 10 ms, not 100
      if (tick % 10) continue;
      const auto progress = report.Read();
      shown += text::StatusText(progress.files, progress.bytes, 1.0).size() + progress.current.size();
    }
  });
  copy::RunCopy({{from}, {to + L"\\"}, copy::SameFileMode::Overwrite}, {nullptr, nullptr, &report, &stop});
  over = true;
  status.join();
  if (report.FailureCount()) std::printf("  (%zu copies failed)\n", report.FailureCount());
}

// The same files made empty, on the threads our run copies with: what any
// copy pays per file under this platform before it moves a byte.
void CreateOnly(const std::wstring& from, const std::wstring& to) {
  std::vector<std::wstring> files;
  std::function<void(const std::wstring&, const std::wstring&)> gather = [&](const std::wstring& f,
                                                                             const std::wstring& t) {
    CreateDirectoryW(t.c_str(), nullptr);
    const auto entries = fs::ListMatches(f + L"\\*", fs::kMaskAll).value_or(std::vector<fs::Entry>());
    for (const auto& e : entries) {
      if (e.name == L"." || e.name == L"..") continue;
      if (e.attributes & FILE_ATTRIBUTE_DIRECTORY)
        gather(f + L"\\" + e.name, t + L"\\" + e.name);
      else
        files.push_back(t + L"\\" + e.name);
    }
  };
  gather(from, to);
  std::atomic<size_t> next{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < copy::CopyingThreads(); ++t)
    threads.emplace_back([&] {
      for (size_t k; (k = next++) < files.size();)
        CloseHandle(CreateFileW(files[k].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    });
  for (auto& t : threads) t.join();
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

struct Goals {
  double bare, xcopy;
};

// Ours against xcopy alone, into an empty folder on another volume: the
// peer a user would reach for there.
void MeasureOnto(const std::string& label, const std::wstring& source, const std::wstring& out, int runs) {
  std::vector<double> ours, xcopy;
  for (int r = 0; r < runs; ++r) {
    for (int k = 0; k < 2; ++k) {
      bench::RemoveTree(out);
      CreateDirectoryW(out.c_str(), nullptr);
      if ((r + k) % 2 == 0)
        ours.push_back(bench::Seconds([&] { OurCopy(source, out); }));
      else
        xcopy.push_back(bench::Seconds([&] { Xcopy(source, out); }));
    }
  }
  bench::RemoveTree(out);
  bench::Report(("  " + label).c_str(), bench::Median(ours), "xcopy", bench::Median(xcopy), 0);
}

// The rig's destinations, kind by kind, from the file scripts/rig.sh wrote.
std::vector<std::pair<std::string, std::wstring>> RigDestinations() {
  const char* file = std::getenv("QM_RIG_DESTINATIONS");
  if (!file) return {};
  std::wstring path = L"Z:";
  for (const char* c = file; *c; ++c) path += *c == '/' ? L'\\' : wchar_t(*c);
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string bytes(1 << 16, '\0');
  DWORD got = 0;
  ReadFile(h, bytes.data(), DWORD(bytes.size()), &got, nullptr);
  CloseHandle(h);
  bytes.resize(got);
  std::map<std::string, std::string> values;
  std::istringstream lines(bytes);
  for (std::string line; std::getline(lines, line);)
    if (line.find('=') != std::string::npos) values[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
  std::vector<std::pair<std::string, std::wstring>> kinds;
  for (const char* kind : {"ntfs", "exfat", "fat32", "share"})
    if (!values[kind].empty()) kinds.push_back({kind, bench::Wide(values[kind])});
  return kinds;
}

void Measure(const char* label, const std::wstring& source, int runs, bool overEarlierCopy, Goals goals) {
  std::vector<double> ours, floor, xcopy, empty;
  const std::wstring out = kRoot + L"\\out";
  // Each round rotates who goes first, so no contender always meets a cold
  // or a freshly emptied disk.
  const std::function<void()> contenders[] = {
      [&] { ours.push_back(bench::Seconds([&] { OurCopy(source, out); })); },
      [&] { floor.push_back(bench::Seconds([&] { BareCopy(source, out + L"\\src"); })); },
      [&] { xcopy.push_back(bench::Seconds([&] { Xcopy(source, out); })); },
      [&] { empty.push_back(bench::Seconds([&] { CreateOnly(source, out + L"\\src"); })); },
  };
  const int contenderCount = overEarlierCopy ? 3 : 4;  // files made empty over a copy would be no floor
  for (int r = 0; r < runs; ++r) {
    for (int k = 0; k < contenderCount; ++k) {
      bench::RemoveTree(out);
      CreateDirectoryW(out.c_str(), nullptr);
      if (overEarlierCopy) BareCopy(source, out + L"\\src");
      contenders[(r + k) % contenderCount]();
    }
  }
  bench::RemoveTree(out);
  std::printf("%s: medians of %d runs\n", label, runs);
  bench::Report("  ours vs bare CopyFileW", bench::Median(ours), "bare", bench::Median(floor), goals.bare);
  if (goals.xcopy > 0)
    bench::Report("  ours vs xcopy", bench::Median(ours), "xcopy", bench::Median(xcopy), goals.xcopy);
  if (!empty.empty())
    std::printf("  the floor: making the files empty takes %.3f s, %.2f x the bare walk\n", bench::Median(empty),
                bench::Median(empty) / bench::Median(floor));
}

}  // namespace

void MakeSmallTree(const std::wstring& small) {
  if (fs::IsFolder(small)) return;
  std::printf("making 5,000 files of 4 KiB in 100 folders...\n");
  for (int d = 0; d < 100; ++d) {
    std::wstring folder = small + L"\\d" + std::to_wstring(d);
    fs::MakeFolderPath(folder);
    for (int f = 0; f < 50; ++f) bench::WriteFileOfSize(folder + L"\\f" + std::to_wstring(f) + L".bin", 4096);
  }
}

// Onto each kind of the rig: a part of the small tree (these volumes are
// slow per file) and a few larger files, ours against xcopy.
void MeasureDestinations(const std::wstring& small, int runs) {
  const auto kinds = RigDestinations();
  if (kinds.empty()) {
    std::printf("destination kinds: none (the rig is not up; QM_RIG_DESTINATIONS unset or unreadable)\n");
    return;
  }
  const std::wstring some = kRoot + L"\\some\\src", mid = kRoot + L"\\mid\\src";
  if (!fs::IsFolder(some)) {
    for (int d = 0; d < 10; ++d) {
      const std::wstring to = some + L"\\d" + std::to_wstring(d);
      fs::MakeFolderPath(to);
      for (int f = 0; f < 50; ++f) CopyFileW((small + L"\\d" + std::to_wstring(d) + L"\\f" + std::to_wstring(f) + L".bin").c_str(),
                                              (to + L"\\f" + std::to_wstring(f) + L".bin").c_str(), TRUE);
    }
  }
  if (!fs::IsFolder(mid)) {
    fs::MakeFolderPath(mid);
    for (int f = 0; f < 4; ++f) bench::WriteFileOfSize(mid + L"\\mid" + std::to_wstring(f) + L".bin", 16u << 20);
  }
  runs = std::min(runs, 3);  // FUSE volumes and the share are slow: fewer rounds
  std::printf("onto each destination kind (ratio: ours / xcopy; medians of %d runs)\n", runs);
  const std::pair<std::string, std::wstring> local{"local C:", L"C:\\"};
  std::vector<std::pair<std::string, std::wstring>> all{local};
  all.insert(all.end(), kinds.begin(), kinds.end());
  for (const auto& [kind, root] : all) {
    const std::wstring out = root + L"qmbench-out";
    MeasureOnto(kind + ", 500 files of 4 KiB", some, out, runs);
    MeasureOnto(kind + ", 4 files of 16 MiB", mid, out, runs);
  }
}

// Copies, ours and bare, a folder holding one folder of 50 files and then
// one holding four, between markers: the difference over the 150 more files
// is what one file costs past the fixed cost of a run and of a source.
int CountCalls(const std::wstring& small) {
  const std::wstring out = kRoot + L"\\calls", sources = kRoot + L"\\calls-src";
  bench::RemoveTree(out);
  for (int folders : {1, 4})
    for (int d = 0; d < folders; ++d) {
      const std::wstring folder = L"\\d" + std::to_wstring(d);
      const std::wstring into = sources + L"\\" + std::to_wstring(folders) + folder;
      fs::MakeFolderPath(into);
      for (int f = 0; f < 50; ++f) {
        const std::wstring file = L"\\f" + std::to_wstring(f) + L".bin";
        CopyFileW((small + folder + file).c_str(), (into + file).c_str(), FALSE);
      }
    }
  Sleep(2000);  // the prefix's own processes settle
  auto mark = [](const char* what) {
    std::fprintf(stderr, "QM-MARK %s\n", what);
    std::fflush(stderr);
    Sleep(500);
  };
  for (const char* who : {"ours", "bare"}) {
    for (int folders : {1, 4}) {
      const std::wstring to = out + L"\\" + std::to_wstring(folders) + bench::Wide(who);
      fs::MakeFolderPath(to);
      mark((std::string(who) + std::to_string(folders)).c_str());
      const std::wstring from = sources + L"\\" + std::to_wstring(folders);
      if (who == std::string("ours"))
        OurCopy(from, to);
      else
        BareCopy(from, to + L"\\" + std::to_wstring(folders));
    }
  }
  mark("end");
  bench::RemoveTree(out);
  bench::RemoveTree(sources);
  return 0;
}

int main(int argc, char** argv) {
  fs::MakeFolderPath(kRoot);
  const std::wstring small = kRoot + L"\\small\\src";
  MakeSmallTree(small);
  if (argc > 1 && std::string(argv[1]) == "--calls") return CountCalls(small);
  int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  const std::string only = argc > 2 ? argv[2] : "";
  const bool smallOnly = only == "--small-only", largeOnly = only == "--large-only";
  if (only == "--destinations-only") {
    MeasureDestinations(small, runs);
    return 0;
  }
  const std::wstring large = kRoot + L"\\large\\src";
  if (!largeOnly) {
    Measure("5,000 files of 4 KiB", small, runs, false, {0.50, 0.40});
    Measure("5,000 files of 4 KiB over an earlier copy", small, runs, true, {0.70, 0});
  }
  if (smallOnly) return 0;
  if (!fs::IsFolder(large)) {
    std::printf("making 4 files of 256 MiB...\n");
    fs::MakeFolderPath(large);
    for (int f = 0; f < 4; ++f) bench::WriteFileOfSize(large + L"\\big" + std::to_wstring(f) + L".bin", 256u << 20);
  }
  Measure("4 files of 256 MiB", large, runs, false, {1.10, 0.30});
  MeasureDestinations(small, runs);
  return 0;
}
