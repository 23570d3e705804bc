// Broadcast copies: one run into several destinations against the same
// copies made one destination at a time, in the same process.
//  a) 64 files of 2 MiB into four slow destinations (scripts/throttle.sh:
//     each a drive written at 20 MiB/s): one run, against four runs of one.
//  b) The same with one destination at a quarter of that speed: when each
//     fast one has its last file, against its time alone in (a).
//  c) The source bytes a run reads, per byte of the source, into 4 and 16
//     folders of the local disk, and of 1 GiB into 4, with its peak memory.
//  d) 5,000 files of 4 KiB into 8 folders of the local disk: one run against
//     eight runs of one.
//  e) Verified copies: (a)'s run with every copy read back against it
//     without (the drives read at twice their rate), the same into 4 local
//     folders, the source bytes a verified run reads apart from its
//     read-backs, and XXH3's seconds per GiB.
// Each broadcast run also tells its peak memory. (a) and (b) need the
// throttled drives, named in QM_THROTTLED ("P:=20M Q:=20M ... T:=5M").
// Usage: bench_broadcast [runs] [--reads-only]   (--reads-only: (c) alone)
//        bench_broadcast --calls   copies 50 files and then 200 into 8
//                                  destinations, in one run and in eight,
//                                  marking each on stderr for
//                                  scripts/bench.sh to count the server
//                                  requests (run with WINEDEBUG=+server)
#include <windows.h>
// psapi.h needs windows.h before it
#include <psapi.h>

#include <cctype>
#include <cstdlib>
#include <sstream>

#include "bench/BenchSupport.h"
#include "common/StopSignal.h"
#include "common/Sync.h"
#include "copy/CopyEngine.h"
#include "fs/ContentHash.h"
#include "fs/FileSystem.h"

namespace {

const std::wstring kRoot = L"C:\\qmbench\\broadcast";
constexpr int kMidFiles = 64;
constexpr size_t kMidFileBytes = 2u << 20;

bool UnderWine() {
  static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

// Our Linux process id. Under Wine a Windows program is a Linux process of
// its own and may make Linux's system calls; Z:\proc\self would not do,
// since Wine's server opens files, so /proc/self names the server there.
long UnixPid() {
  if (!UnderWine()) return 0;
  long pid;
  asm volatile("syscall" : "=a"(pid) : "a"(39L /* getpid */) : "rcx", "r11", "memory");
  return pid;
}

// Everything written so far reaches the disk (Linux's sync), so that no run
// pays for writing out the one before it.
void WriteOutEverything() {
  if (!UnderWine()) return;
  long result;
  asm volatile("syscall" : "=a"(result) : "a"(162L /* sync */) : "rcx", "r11", "memory");
}

std::wstring ProcFile(const char* name) {
  return L"Z:\\proc\\" + std::to_wstring(UnixPid()) + L"\\" + bench::Wide(name);
}

std::string ReadSmallFile(const std::wstring& path) {
  HANDLE h =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "";
  std::string bytes(1 << 16, '\0');
  DWORD got = 0;
  ReadFile(h, bytes.data(), DWORD(bytes.size()), &got, nullptr);
  CloseHandle(h);
  bytes.resize(got);
  return bytes;
}

uint64_t ProcField(const char* file, const std::string& field) {
  std::istringstream lines(ReadSmallFile(ProcFile(file)));
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(field + ":", 0) == 0) return std::strtoull(line.c_str() + field.size() + 1, nullptr, 10);
  return 0;
}

// Bytes this process has read so far. Wine's GetProcessIoCounters reads
// zero; Linux counts every read call's bytes (rchar), files and pipes alike.
uint64_t BytesRead() {
  if (UnderWine()) return ProcField("io", "rchar");
  IO_COUNTERS io{};
  GetProcessIoCounters(GetCurrentProcess(), &io);
  return io.ReadTransferCount;
}

// The peak memory of a run: under Wine, Linux's high-water mark of the
// resident set, set back to the current size before the run; on Windows
// the process's peak working set, which cannot be set back.
void ResetPeakMemory() {
  if (!UnderWine()) return;
  HANDLE h = CreateFileW(ProcFile("clear_refs").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(h, "5", 1, &written, nullptr);  // 5: the high-water mark only
  CloseHandle(h);
}

double PeakMemoryMiB() {
  if (UnderWine()) return ProcField("status", "VmHWM") / 1024.0;
  PROCESS_MEMORY_COUNTERS counters{sizeof counters};
  K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PeakWorkingSetSize / 1048576.0;
}

void Verdict(const std::string& what, double value, const char* unit, double goal) {
  std::printf("  %-58s %7.2f%s  goal <= %.2f%s  %s\n", what.c_str(), value, unit, goal, unit,
              value <= goal ? "ok" : "OVER");
}

const std::wstring kTrash = kRoot + L"\\trash";

// Takes a destination's earlier copies out of the way. On the local disk
// they are moved aside in one rename, since removing 40,000 small files
// under Wine takes about as long as copying them; scripts/bench.sh removes
// the aside folder natively. The throttled drives hold few files.
void Clear(const std::wstring& dest) {
  if (!fs::IsFolder(dest)) return;
  static int aside = 0;
  fs::MakeFolderPath(kTrash);
  const std::wstring to = kTrash + L"\\" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++aside);
  if (dest.rfind(kRoot + L"\\", 0) != 0 || !MoveFileW(dest.c_str(), to.c_str())) bench::RemoveTree(dest);
}

void ClearAll(const std::vector<std::wstring>& dests) {
  for (const auto& d : dests) Clear(d);
}

// What one RunCopy did: how long it took, when each destination had its
// last file, and how many files each had.
struct RunResult {
  double seconds = 0;
  std::vector<double> lastFile;
  std::vector<size_t> files;
  size_t failures = 0;
  double peakMiB = 0;
};

// Each destination made anew, then one run of source into all.
RunResult Run(const std::wstring& source, const std::vector<std::wstring>& dests, bool verify = false) {
  for (const auto& d : dests) {
    Clear(d);
    fs::MakeFolderPath(d);
  }
  std::vector<std::wstring> targets;
  for (const auto& d : dests) targets.push_back(d + L"\\");
  RunResult result;
  result.lastFile.assign(dests.size(), 0);
  result.files.assign(dests.size(), 0);
  Lock lock;  // not std::mutex, whose server requests would be counted as the run's
  LARGE_INTEGER frequency, start;
  QueryPerformanceFrequency(&frequency);
  copy::RunReport report;
  StopSignal stop;
  copy::CopyObserver observer;
  observer.report = &report;
  observer.stop = &stop;
  observer.fileDone = [&](const std::wstring&, const std::wstring& target, copy::FileOutcome) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const std::wstring plain = target.rfind(L"\\\\?\\", 0) == 0 ? target.substr(4) : target;
    for (size_t k = 0; k < targets.size(); ++k) {
      if (_wcsnicmp(plain.c_str(), targets[k].c_str(), targets[k].size()) != 0) continue;
      std::lock_guard<Lock> hold(lock);
      result.lastFile[k] = double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
      ++result.files[k];
      break;
    }
  };
  copy::CopyJob job;
  job.sources = {source};
  job.dests = targets;
  job.mode = copy::SameFileMode::Overwrite;
  job.verify = verify;
  ResetPeakMemory();
  QueryPerformanceCounter(&start);
  result.seconds = bench::Seconds([&] { copy::RunCopy(job, observer); });
  result.peakMiB = PeakMemoryMiB();
  result.failures = report.FailureCount();
  if (result.failures) std::printf("  (%zu copies failed)\n", result.failures);
  return result;
}

// Files of one size, flat in one folder.
void MakeFlatFolder(const std::wstring& folder, int files, size_t bytes) {
  if (fs::IsFolder(folder)) return;
  fs::MakeFolderPath(folder);
  for (int f = 0; f < files; ++f) bench::WriteFileOfSize(folder + L"\\f" + std::to_wstring(f) + L".bin", bytes);
}

void MakeSmallTree(const std::wstring& small) {
  if (fs::IsFolder(small)) return;
  std::printf("making 5,000 files of 4 KiB in 100 folders...\n");
  for (int d = 0; d < 100; ++d) MakeFlatFolder(small + L"\\d" + std::to_wstring(d), 50, 4096);
}

std::vector<std::wstring> LocalDests(const std::wstring& name, int count) {
  std::vector<std::wstring> dests;
  for (int k = 0; k < count; ++k) dests.push_back(kRoot + L"\\out\\" + name + std::to_wstring(k));
  return dests;
}

// The throttled drives from QM_THROTTLED: root and bytes per second.
struct Throttled {
  std::wstring root;
  double rate;
  std::string rateText;
};

// "20M": bytes per second, k, M and G being powers of 1024, as throttlefs reads it.
double RateOf(const std::string& text) {
  char* unit = nullptr;
  double rate = std::strtod(text.c_str(), &unit);
  const size_t power = *unit ? std::string("KMG").find(char(std::toupper(*unit))) : std::string::npos;
  for (size_t p = 0; power != std::string::npos && p <= power; ++p) rate *= 1024;
  return rate;
}

std::vector<Throttled> ThrottledDrives() {
  const char* words = std::getenv("QM_THROTTLED");
  std::vector<Throttled> drives;
  std::istringstream in(words ? words : "");
  for (std::string word; in >> word;) {
    const size_t eq = word.find('=');
    if (eq == std::string::npos) continue;
    const std::string rateText = word.substr(eq + 1);
    drives.push_back({bench::Wide(word.substr(0, eq)) + L"\\", RateOf(rateText), rateText});
  }
  return drives;
}

std::string Narrow(const std::wstring& wide) { return std::string(wide.begin(), wide.end()); }

// (a) and (b), onto the throttled drives: the four fastest, and the slowest.
void MeasureThrottled(const std::wstring& mid, int runs) {
  auto drives = ThrottledDrives();
  std::stable_sort(drives.begin(), drives.end(),
                   [](const Throttled& x, const Throttled& y) { return x.rate > y.rate; });
  if (drives.size() < 5 || drives[3].rate <= drives.back().rate) {
    std::printf("a), b): skipped (QM_THROTTLED names no four fast drives and a slow one: scripts/throttle.sh up)\n");
    return;
  }
  const std::vector<Throttled> fast(drives.begin(), drives.begin() + 4);
  const Throttled slow = drives.back();
  std::vector<std::wstring> fastDests;
  for (const auto& d : fast) fastDests.push_back(d.root + L"qmbench-out");
  const double bytes = double(kMidFiles) * kMidFileBytes;

  std::vector<double> together, oneByOne, peak;
  std::vector<std::vector<double>> alone(fast.size());
  for (int r = 0; r < runs; ++r) {
    // Each round rotates who goes first.
    for (int k = 0; k < 2; ++k) {
      if ((r + k) % 2 == 0) {
        const RunResult run = Run(mid, fastDests);
        together.push_back(run.seconds);
        peak.push_back(run.peakMiB);
      } else {
        double sum = 0;
        for (size_t d = 0; d < fastDests.size(); ++d) {
          const double seconds = Run(mid, {fastDests[d]}).seconds;
          alone[d].push_back(seconds);
          sum += seconds;
        }
        oneByOne.push_back(sum);
      }
    }
  }
  std::printf("a) 64 files of 2 MiB into 4 drives of %s/s each (alone ideally %.2f s each); medians of %d runs\n",
              fast[0].rateText.c_str(), bytes / fast[0].rate, runs);
  std::printf("  one run into all four %.2f s, one run per drive %.2f s (", bench::Median(together),
              bench::Median(oneByOne));
  for (size_t d = 0; d < fast.size(); ++d)
    std::printf("%s%s %.2f", d ? ", " : "", Narrow(fast[d].root).c_str(), bench::Median(alone[d]));
  std::printf(")\n");
  Verdict("one run / one run per drive", bench::Median(together) / bench::Median(oneByOne), "", 0.35);
  std::printf("  peak memory of the broadcast run: %.1f MiB\n", bench::Median(peak));

  // The slow drive first: a run that serves its destinations in turn makes
  // every fast one wait for it.
  std::vector<std::wstring> mixed{slow.root + L"qmbench-out"};
  mixed.insert(mixed.end(), fastDests.begin(), fastDests.begin() + 3);
  std::vector<std::vector<double>> finished(mixed.size());
  std::vector<double> whole;
  peak.clear();
  for (int r = 0; r < runs; ++r) {
    const RunResult run = Run(mid, mixed);
    for (size_t d = 0; d < mixed.size(); ++d) finished[d].push_back(run.lastFile[d]);
    whole.push_back(run.seconds);
    peak.push_back(run.peakMiB);
    for (size_t d = 0; d < mixed.size(); ++d)
      if (run.files[d] != size_t(kMidFiles))
        std::printf("  (%s had %zu files of %d)\n", Narrow(mixed[d]).c_str(), run.files[d], kMidFiles);
  }
  std::printf("b) the same into %s at %s/s and three of the drives above; medians of %d runs\n",
              Narrow(slow.root).c_str(), slow.rateText.c_str(), runs);
  std::printf("  the run took %.2f s; the slow drive had its last file at %.2f s (alone ideally %.2f s)\n",
              bench::Median(whole), bench::Median(finished[0]), bytes / slow.rate);
  double worst = 0;
  for (size_t d = 1; d < mixed.size(); ++d) {
    const double ratio = bench::Median(finished[d]) / bench::Median(alone[d - 1]);
    std::printf("  %s had its last file at %.2f s, alone it took %.2f s: %.2f x\n", Narrow(fast[d - 1].root).c_str(),
                bench::Median(finished[d]), bench::Median(alone[d - 1]), ratio);
    worst = std::max(worst, ratio);
  }
  Verdict("the fast drives' last file / their time alone, worst", worst, " x", 1.2);
  std::printf("  peak memory of the broadcast run: %.1f MiB\n", bench::Median(peak));
  ClearAll(mixed);
  ClearAll(fastDests);
}

// (c): the source's bytes read per run, against its size. A run of as many
// empty files costs what Wine's own traffic adds (its server's replies come
// through a pipe, which rchar counts too); that is taken off.
void MeasureReads(const std::wstring& mid, int runs) {
  const std::wstring empty = kRoot + L"\\empty\\src";
  MakeFlatFolder(empty, kMidFiles, 0);
  const double bytes = double(kMidFiles) * kMidFileBytes;
  // Reading one source file as it stands must count its size, no more.
  const uint64_t before = BytesRead();
  HANDLE h =
      CreateFileW((mid + L"\\f0.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  std::vector<char> chunk(1 << 16);
  for (DWORD got; ReadFile(h, chunk.data(), DWORD(chunk.size()), &got, nullptr) && got;) {
  }
  CloseHandle(h);
  const uint64_t counted = BytesRead() - before;
  std::printf("c) source bytes read per byte of the source (%s); medians of %d runs\n",
              UnderWine() ? "Linux's rchar of our process" : "GetProcessIoCounters", runs);
  std::printf("  check: reading one 2 MiB file by hand counted %llu bytes (%+lld)\n", (unsigned long long)counted,
              (long long)counted - (long long)kMidFileBytes);
  for (int count : {4, 16}) {
    const auto dests = LocalDests(L"read", count);
    std::vector<double> ratio, overhead, peak;
    for (int r = 0; r < runs; ++r) {
      uint64_t start = BytesRead();
      const RunResult run = Run(mid, dests);
      const double withData = double(BytesRead() - start);
      start = BytesRead();
      Run(empty, dests);
      const double withoutData = double(BytesRead() - start);
      ratio.push_back((withData - withoutData) / bytes);
      overhead.push_back(withoutData);
      peak.push_back(run.peakMiB);
    }
    Verdict(std::to_string(count) + " local folders: bytes read / source size", bench::Median(ratio), "", 1.1);
    std::printf("  (a run of %d empty files read %.0f bytes, taken off; peak memory %.1f MiB)\n", kMidFiles,
                bench::Median(overhead), bench::Median(peak));
    ClearAll(dests);
  }
  // 1 GiB into 4 folders of one disk: as the disk writes back, destinations
  // fall behind each other; none may be let go to read again for that.
  const std::wstring big = kRoot + L"\\big\\src";
  MakeFlatFolder(big, 8, 128u << 20);
  const auto dests = LocalDests(L"big", 4);
  std::vector<double> ratio, peak;
  for (int r = 0; r < std::min(runs, 3); ++r) {
    WriteOutEverything();
    const uint64_t start = BytesRead();
    const RunResult run = Run(big, dests);
    ratio.push_back(double(BytesRead() - start) / double(1u << 30));
    std::printf("  (run %d: %.2f, %.0f MiB)\n", r, ratio.back(), run.peakMiB);
    peak.push_back(run.peakMiB);
    ClearAll(dests);
  }
  Verdict("1 GiB into 4 local folders: bytes read / source size", bench::Median(ratio), "", 1.2);
  Verdict("1 GiB into 4 local folders: peak memory", bench::Median(peak), " MiB", 300);
}

// (e): what reading every copy back costs.
void MeasureVerified(const std::wstring& mid, int runs) {
  const double bytes = double(kMidFiles) * kMidFileBytes;
  std::printf("e) verified copies of 64 files of 2 MiB; medians of %d runs\n", runs);
  auto versus = [&](const std::vector<std::wstring>& dests, const std::string& what, double goal) {
    std::vector<double> plain, writtenOut, verified, sourceRead;
    for (int r = 0; r < runs; ++r) {
      WriteOutEverything();
      plain.push_back(Run(mid, dests).seconds);
      // What it takes for those copies to reach the disk, as a verified run's must.
      writtenOut.push_back(plain.back() + bench::Seconds(WriteOutEverything));
      const uint64_t start = BytesRead();
      const RunResult run = Run(mid, dests, true);
      verified.push_back(run.seconds);
      // Each destination's read-back reads its copies once more.
      sourceRead.push_back((double(BytesRead() - start) - bytes * dests.size()) / bytes);
    }
    std::printf("  %s: verified %.2f s, not %.2f s\n", what.c_str(), bench::Median(verified), bench::Median(plain));
    Verdict(what + ": verified / not", bench::Median(verified) / bench::Median(plain), "", goal);
    std::printf("  %s: verified / not and then written out to the disk (%.2f s): %.2f\n", what.c_str(),
                bench::Median(writtenOut), bench::Median(verified) / bench::Median(writtenOut));
    return bench::Median(sourceRead);
  };
  auto drives = ThrottledDrives();
  std::stable_sort(drives.begin(), drives.end(),
                   [](const Throttled& x, const Throttled& y) { return x.rate > y.rate; });
  if (drives.size() >= 4) {
    std::vector<std::wstring> sticks;
    for (size_t d = 0; d < 4; ++d) sticks.push_back(drives[d].root + L"qmbench-out");
    versus(sticks, "4 drives of " + drives[0].rateText + "/s", 1.3);
    ClearAll(sticks);
  } else {
    std::printf("  the throttled drives: skipped (scripts/throttle.sh up)\n");
  }
  const auto dests = LocalDests(L"verify", 4);
  const double read = versus(dests, "4 local folders", 2.5);
  Verdict("4 local folders: source bytes read / source size, read-backs apart", read, "", 1.1);
  ClearAll(dests);
  std::vector<char> block(256u << 20, 'x');
  std::vector<double> perGiB;
  for (int r = 0; r < 3; ++r) {
    fs::Hasher hasher;
    perGiB.push_back(bench::Seconds([&] { hasher.Add(block.data(), block.size()); }) * 4);
  }
  std::printf("  XXH3-128 of 256 MiB in memory: %.3f s per GiB (%s)\n", bench::Median(perGiB),
              sizeof(void*) == 8 ? "64-bit" : "32-bit");
}

// (d): many small files, where per-file cost is all there is.
void MeasureSmall(const std::wstring& small, int runs) {
  const auto dests = LocalDests(L"small", 8);
  std::vector<double> together, oneByOne, peak;
  for (int r = 0; r < runs; ++r) {
    for (int k = 0; k < 2; ++k) {
      if ((r + k) % 2 == 0) {
        const RunResult run = Run(small, dests);
        together.push_back(run.seconds);
        peak.push_back(run.peakMiB);
      } else {
        double sum = 0;
        for (const auto& d : dests) sum += Run(small, {d}).seconds;
        oneByOne.push_back(sum);
      }
    }
  }
  std::printf("d) 5,000 files of 4 KiB into 8 local folders; medians of %d runs\n", runs);
  std::printf("  one run into all eight %.2f s, one run per folder %.2f s\n", bench::Median(together),
              bench::Median(oneByOne));
  Verdict("one run / one run per folder", bench::Median(together) / bench::Median(oneByOne), "", 0.8);
  std::printf("  peak memory of the broadcast run: %.1f MiB\n", bench::Median(peak));
  ClearAll(dests);
}

// 50 files and then 200 into 8 destinations, in one run and in eight, each
// between markers: what the 150 more files cost is the per-file cost past a
// run's fixed cost.
int CountCalls() {
  const auto dests = LocalDests(L"calls", 8);
  for (int files : {50, 200}) MakeFlatFolder(kRoot + L"\\calls\\f" + std::to_wstring(files) + L"\\src", files, 4096);
  Sleep(2000);  // the prefix's own processes settle
  auto mark = [](const std::string& what) {
    std::fprintf(stderr, "QM-MARK %s\n", what.c_str());
    std::fflush(stderr);
    Sleep(500);
  };
  copy::CopyObserver observer;  // none of the timed runs' bookkeeping
  for (const char* who : {"broadcast", "single"}) {
    for (int files : {50, 200}) {
      ClearAll(dests);
      std::vector<std::wstring> targets;
      for (const auto& d : dests) {
        fs::MakeFolderPath(d);
        targets.push_back(d + L"\\");
      }
      const std::wstring source = kRoot + L"\\calls\\f" + std::to_wstring(files) + L"\\src";
      mark(who + std::to_string(files));
      if (who == std::string("broadcast")) {
        copy::RunCopy({{source}, targets, copy::SameFileMode::Overwrite}, observer);
      } else {
        for (const auto& t : targets) copy::RunCopy({{source}, {t}, copy::SameFileMode::Overwrite}, observer);
      }
    }
  }
  mark("end");
  ClearAll(dests);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  fs::MakeFolderPath(kRoot);
  if (argc > 1 && std::string(argv[1]) == "--calls") return CountCalls();
  const int runs = std::max(1, argc > 1 ? std::atoi(argv[1]) : 1);
  const std::wstring mid = kRoot + L"\\mid\\src", small = kRoot + L"\\small\\src";
  MakeFlatFolder(mid, kMidFiles, kMidFileBytes);
  MakeSmallTree(small);
  if (UnderWine()) std::printf("(Linux process %ld)\n", UnixPid());
  const std::function<void(const std::wstring&, int)> parts[] = {MeasureThrottled, MeasureReads, MeasureSmall,
                                                                  MeasureVerified};
  const bool readsOnly = argc > 2 && std::string(argv[2]) == "--reads-only";
  double total = 0;
  for (size_t k = readsOnly ? 1 : 0; k < (readsOnly ? 2 : std::size(parts)); ++k) {
    const double seconds = bench::Seconds([&] { parts[k](k == 2 ? small : mid, runs); });
    std::printf("  (%.0f s in all)\n", seconds);
    total += seconds;
  }
  std::printf("(%.0f s in all; earlier copies lie in %s, which scripts/bench.sh removes)\n", total,
              std::string(kTrash.begin(), kTrash.end()).c_str());
  return 0;
}
