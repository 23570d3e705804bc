// Copy speed: our copy run's engine (with its failure accounting and the
// status line's reads) against a bare walk that calls CopyFileW for each file
// and against xcopy, on the same trees, alternating the contenders; into an
// empty destination, over an earlier copy (our safe replace), and over an
// unchanged copy (the nightly rerun). Beside them the floor under any copy:
// creating, writing, timing and closing the same files, on as many threads.
// Then the copy as a user starts it in the window, against the engine's run;
// and ours against xcopy onto each destination kind of the rig
// (scripts/rig.sh: FAT32, exFAT, NTFS, a Samba share), when
// QM_RIG_DESTINATIONS names the rig's destinations file. Each figure prints
// against its goal.
// Usage: bench_copy [runs] [--small-only | --large-only | --destinations-only
//                           | --rerun-only | --window-only]
//        bench_copy --calls   copies 50 files ours and bare, marking each on
//                             stderr for scripts/bench.sh to count the
//                             server requests (run with WINEDEBUG=+server)
#include <ole2.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <sstream>
#include <thread>

#include "app/Application.h"
#include "app/MainWindow.h"
#include "bench/BenchSupport.h"
#include "common/Text.h"
#include "common/StopSignal.h"
#include "copy/CopyEngine.h"
#include "fs/FileSystem.h"
#include "wingui/Dialogs.h"

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

void OurCopy(const std::wstring& from, const std::wstring& to,
             copy::SameFileMode mode = copy::SameFileMode::Overwrite) {
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
  copy::RunCopy({{from}, {to + L"\\"}, mode}, {nullptr, nullptr, &report, &stop});
  over = true;
  status.join();
  if (report.FailureCount()) std::printf("  (%zu copies failed)\n", report.FailureCount());
  // The reruns go over an unchanged copy, where nothing is to be written.
  if (mode != copy::SameFileMode::Overwrite && report.Read().files)
    std::printf("  (%llu files written)\n", (unsigned long long)report.Read().files);
}

// The floor under any copy: the same files created, written, given their
// times and closed, on the threads our run copies with, in chunks of the
// size ours writes. What it writes and when is found beforehand (the bytes
// are zeros: their values cost nothing), so only the writing is timed.
class Floor {
 public:
  Floor() = default;
  Floor(const std::wstring& from, const std::wstring& to) { Plan(from, to); }
  void Run() const {
    for (const auto& folder : folders_) CreateDirectoryW(folder.c_str(), nullptr);
    std::atomic<size_t> next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < copy::CopyingThreads(); ++t)
      threads.emplace_back([&] {
        std::vector<char> chunk(64u << 10);
        for (size_t k; (k = next++) < files_.size();) {
          const File& f = files_[k];
          HANDLE h = CreateFileW(f.target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
          if (h == INVALID_HANDLE_VALUE) continue;
          for (uint64_t left = f.size; left > 0;) {
            DWORD n = DWORD(std::min<uint64_t>(left, chunk.size())), written = 0;
            if (!WriteFile(h, chunk.data(), n, &written, nullptr)) break;
            left -= n;
          }
          SetFileTime(h, nullptr, &f.access, &f.write);
          CloseHandle(h);
        }
      });
    for (auto& t : threads) t.join();
  }

 private:
  struct File {
    std::wstring target;
    uint64_t size;
    FILETIME access, write;
  };
  static FILETIME Time(uint64_t ticks) { return {DWORD(ticks), DWORD(ticks >> 32)}; }
  void Plan(const std::wstring& from, const std::wstring& to) {
    folders_.push_back(to);
    const auto entries = fs::ListMatches(from + L"\\*", fs::kMaskAll).value_or(std::vector<fs::Entry>());
    for (const auto& e : entries) {
      if (e.name == L"." || e.name == L"..") continue;
      if (e.attributes & FILE_ATTRIBUTE_DIRECTORY)
        Plan(from + L"\\" + e.name, to + L"\\" + e.name);
      else
        files_.push_back({to + L"\\" + e.name, e.size, Time(e.accessTime), Time(e.writeTime)});
    }
  }
  std::vector<std::wstring> folders_;
  std::vector<File> files_;
};

void Xcopy(const std::wstring& from, const std::wstring& to, const wchar_t* switches = L"/E /I /Y /H /Q") {
  std::wstring command = L"xcopy.exe \"" + from + L"\" \"" + to + L"\\src\" " + switches;
  STARTUPINFOW si = {sizeof si};
  si.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
    return;
  WaitForSingleObject(pi.hProcess, INFINITE);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

// One contender of a round: what readies its turn (untimed), then what is timed.
struct Contender {
  std::function<void()> prepare, run;
  std::vector<double> times = {};
};

// Each contender runs times, each round rotating who goes first, so that
// none always meets a cold or a freshly emptied disk. The medians, in order.
std::vector<double> Rounds(int runs, std::vector<Contender> contenders) {
  for (int r = 0; r < runs; ++r)
    for (size_t k = 0; k < contenders.size(); ++k) {
      Contender& c = contenders[(r + k) % contenders.size()];
      if (c.prepare) c.prepare();
      c.times.push_back(bench::Seconds(c.run));
    }
  std::vector<double> medians;
  for (const auto& c : contenders) medians.push_back(bench::Median(c.times));
  return medians;
}

// Readies an empty output folder.
std::function<void()> Emptied(const std::wstring& out) {
  return [out] {
    bench::RemoveTree(out);
    CreateDirectoryW(out.c_str(), nullptr);
  };
}

// Ours and its floor against xcopy, into an empty folder on another volume:
// the peer a user would reach for there.
void MeasureOnto(const std::string& label, const std::wstring& source, const std::wstring& out, int runs) {
  Floor floor;
  const auto m = Rounds(runs, {{Emptied(out), [&] { OurCopy(source, out); }},
                               {Emptied(out), [&] { Xcopy(source, out); }},
                               {[&] {
                                  Emptied(out)();
                                  floor = Floor(source, out + L"\\src");
                                },
                                [&] { floor.Run(); }}});
  bench::RemoveTree(out);
  bench::Report(("  " + label).c_str(), m[0], "xcopy", m[1], 1.0);
  bench::Compare("    its floor", "floor", m[2], "xcopy", m[1], 0);
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

struct Goals {
  double xcopy, bare;
  double floor = 0;  // met instead of the xcopy goal, when given
};

// Into an empty folder: ours against xcopy, the bare walk and the floor.
void Measure(const char* label, const std::wstring& source, int runs, Goals goals) {
  const std::wstring out = kRoot + L"\\out";
  Floor floor;
  const auto m = Rounds(runs, {{Emptied(out), [&] { OurCopy(source, out); }},
                               {Emptied(out), [&] { BareCopy(source, out + L"\\src"); }},
                               {Emptied(out), [&] { Xcopy(source, out); }},
                               {[&] {
                                  Emptied(out)();
                                  floor = Floor(source, out + L"\\src");
                                },
                                [&] { floor.Run(); }}});
  bench::RemoveTree(out);
  std::printf("%s: medians of %d runs\n", label, runs);
  const bool byXcopy = bench::Report("  ours vs xcopy", m[0], "xcopy", m[2], goals.xcopy);
  bench::Report("  ours vs bare CopyFileW", m[0], "bare", m[1], goals.bare);
  const bool byFloor = bench::Report("  ours vs the floor", m[0], "floor", m[3], goals.floor);
  bench::Compare("  the floor vs xcopy", "floor", m[3], "xcopy", m[2], 0);
  if (goals.floor > 0)
    std::printf("  goal (%.2f x xcopy, or the floor + %.0f %%): %s\n", goals.xcopy, (goals.floor - 1) * 100,
                byXcopy && byFloor ? "met by both"
                : byXcopy          ? "met against xcopy"
                : byFloor          ? "met against the floor"
                                   : "not met");
}

// Over an earlier copy: our safe replace against the bare walk's writing in
// place, and against a fresh copy by ours.
void MeasureReplace(const std::wstring& source, int runs) {
  const std::wstring out = kRoot + L"\\out";
  const auto overCopy = [&] {
    Emptied(out)();
    BareCopy(source, out + L"\\src");
  };
  const auto m = Rounds(runs, {{overCopy, [&] { OurCopy(source, out); }},
                               {overCopy, [&] { BareCopy(source, out + L"\\src"); }},
                               {Emptied(out), [&] { OurCopy(source, out); }}});
  bench::RemoveTree(out);
  std::printf("5,000 files of 4 KiB over an earlier copy: medians of %d runs\n", runs);
  bench::Report("  ours vs bare CopyFileW", m[0], "bare", m[1], 0.70);
  bench::Report("  ours vs a fresh copy by ours", m[0], "fresh", m[2], 1.0);
}

// The nightly rerun over an unchanged full copy: nothing is written, so
// what is left is the walk of both trees and a look at each pair.
void MeasureRerun(const std::wstring& source, int runs) {
  const std::wstring out = kRoot + L"\\rerun";
  Emptied(out)();
  OurCopy(source, out);
  const auto m = Rounds(runs, {{nullptr, [&] { OurCopy(source, out, copy::SameFileMode::NewerOnly); }},
                               {nullptr, [&] { OurCopy(source, out, copy::SameFileMode::Skip); }},
                               {nullptr, [&] { Xcopy(source, out, L"/D /E /I /Y /H /Q"); }},
                               {nullptr, [&] {
                                  bench::BareWalk(source);
                                  bench::BareWalk(out + L"\\src");
                                }}});
  bench::RemoveTree(out);
  std::printf("rerun over an unchanged copy of the 5,000 files: medians of %d runs\n", runs);
  bench::Report("  newer only vs xcopy /D", m[0], "xcopy /D", m[2], 0.5);
  bench::Report("  skip vs xcopy /D", m[1], "xcopy /D", m[2], 0.5);
  bench::Report("  newer only vs listing both", m[0], "listing", m[3], 0);
}

// Answers every box at once, keeping the last one: the end box of a run.
struct EndBox : Dialogs {
  std::wstring text;
  UINT flags = 0;
  int Message(HWND, const std::wstring& said, UINT how) override {
    text = said;
    flags = how;
    return IDOK;
  }
  std::optional<std::wstring> BrowseFolder(HWND, const std::wstring&) override { return std::nullopt; }
  std::vector<std::wstring> OpenFiles(HWND, const FileDialogOptions&) override { return {}; }
  std::optional<std::wstring> SaveFile(HWND, const FileDialogOptions&) override { return std::nullopt; }
  UINT PopupMenu(HWND, HMENU, POINT) override { return 0; }
};

// The copy as a user starts it: 覆盖, 开始复制, until the end box shows;
// against the engine's run of the same job, in alternation.
void MeasureWindow(const std::wstring& source, int runs) {
  OleInitialize(nullptr);
  EndBox box;
  UseDialogs(&box);
  Application app;
  app.Create();
  MainWindow& form = app.mainWindow();
  form.Show();
  MainControls& ui = form.Controls();
  const std::wstring out = kRoot + L"\\window";
  ui.sources.Append(source);
  ui.dests.Append(out + L"\\");
  SendMessageW(ui.overwrite.hwnd(), BM_CLICK, 0, 0);
  ui.verify.SetChecked(false);
  const auto m = Rounds(runs, {{Emptied(out),
                                [&] {
                                  SendMessageW(ui.copy.hwnd(), BM_CLICK, 0, 0);
                                  bench::PumpWhile([&] { return form.Working(); });
                                }},
                               {Emptied(out), [&] { OurCopy(source, out); }}});
  bench::RemoveTree(out);
  std::printf("the copy of the 5,000 files started in the window: medians of %d runs\n", runs);
  bench::Compare("  window vs engine", "window", m[0], "engine", m[1], 1.1);
  if (box.flags & MB_ICONWARNING) std::printf("  (the end box warned: %s)\n", text::ToUtf8(box.text).c_str());
  UseDialogs(nullptr);
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
      for (int f = 0; f < 50; ++f)
        CopyFileW((small + L"\\d" + std::to_wstring(d) + L"\\f" + std::to_wstring(f) + L".bin").c_str(),
                  (to + L"\\f" + std::to_wstring(f) + L".bin").c_str(), TRUE);
    }
  }
  if (!fs::IsFolder(mid)) {
    fs::MakeFolderPath(mid);
    for (int f = 0; f < 4; ++f) bench::WriteFileOfSize(mid + L"\\mid" + std::to_wstring(f) + L".bin", 16u << 20);
  }
  runs = std::min(runs, 3);  // FUSE volumes and the share are slow: fewer rounds
  std::printf("onto each destination kind (ours and its floor / xcopy onto the same kind; medians of %d runs)\n", runs);
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
  if (only == "--destinations-only") {
    MeasureDestinations(small, runs);
    return 0;
  }
  if (only == "--rerun-only") {
    MeasureRerun(small, runs);
    return 0;
  }
  if (only == "--window-only") {
    MeasureWindow(small, runs);
    return 0;
  }
  if (only != "--large-only") {
    Measure("5,000 files of 4 KiB", small, runs, {0.45, 0.50, 1.10});
    MeasureReplace(small, runs);
    MeasureRerun(small, runs);
    MeasureWindow(small, runs);
  }
  if (only == "--small-only") return 0;
  const std::wstring large = kRoot + L"\\large\\src";
  if (!fs::IsFolder(large)) {
    std::printf("making 4 files of 256 MiB...\n");
    fs::MakeFolderPath(large);
    for (int f = 0; f < 4; ++f) bench::WriteFileOfSize(large + L"\\big" + std::to_wstring(f) + L".bin", 256u << 20);
  }
  Measure("4 files of 256 MiB", large, runs, {0.30, 1.10});
  MeasureDestinations(small, runs);
  return 0;
}
