// Copies onto every kind of destination users copy to, mounted for real by
// scripts/rig.sh (FAT32, exFAT and NTFS drivers, a Samba share) beside the
// local disk: one table of outcomes, the destination kind as its column.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "common/StopSignal.h"
#include "copy/CopyEngine.h"
#include "fs/FileCopy.h"
#include "fs/FileSystem.h"
#include "fs/Placement.h"
#include "fs/Volume.h"
#include "tests/support/TestSupport.h"

using namespace copy;
using enum copy::SameFileMode;

namespace {

enum class Kind { Local, Ntfs, ExFat, Fat32, Share };

struct Destination {
  Kind kind;
  const char* name;
  const char* key;     // in build/rig/destinations.env
  uint64_t precision;  // of its last-write times, in 100 ns ticks
  std::wstring root;   // ends with "\"
  // Where the share's server keeps its files: what stands there, past the
  // client's cache.
  std::wstring serverRoot;
};

constexpr uint64_t kSecond = 10000000;

std::wstring FromUnix(const std::string& unix) {
  std::wstring path = L"Z:";
  for (char c : unix) path += c == '/' ? L'\\' : wchar_t(c);
  return path;
}

// What scripts/rig.sh wrote of where it put each kind; empty, with a
// failure, when the rig is not up.
std::map<std::string, std::string> RigValues() {
  const char* file = std::getenv("QM_RIG_DESTINATIONS");
  if (!file) {
    ADD_FAILURE() << "QM_RIG_DESTINATIONS is not set (the rig tests run through ctest)";
    return {};
  }
  std::istringstream lines(ReadBytes(FromUnix(file)));
  std::map<std::string, std::string> values;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#' || line.find('=') == std::string::npos) continue;
    values[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
  }
  if (values.empty()) ADD_FAILURE() << "the rig is not up: " << file << " holds nothing (scripts/rig.sh up)";
  return values;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The kinds and where the rig put them; the local disk needs no rig.
std::vector<Destination> Destinations() {
  std::vector<Destination> kinds = {
      {Kind::Local, "local disk", nullptr, 1, L"C:\\qmtests\\"},
      {Kind::Ntfs, "NTFS", "ntfs", 1, L""},
      {Kind::ExFat, "exFAT", "exfat", kSecond, L""},
      {Kind::Fat32, "FAT32", "fat32", 2 * kSecond, L""},
      {Kind::Share, "share", "share", kSecond, L""},
  };
  const auto values = RigValues();
  if (values.empty()) return {};
  for (auto& d : kinds) {
    if (!d.key) continue;
    if (!values.count(d.key)) {
      ADD_FAILURE() << "the rig is not up: no " << d.key << " (scripts/rig.sh up)";
      return {};
    }
    d.root = Wide(values.at(d.key));
    if (d.kind == Kind::Share) d.serverRoot = FromUnix(values.at("share_server_files")) + L"\\";
  }
  return kinds;
}

bool RigSkipped() {
  const char* rig = std::getenv("QM_RIG");
  return rig && std::string(rig) == "skip";
}

// A fresh folder on one destination, removed with everything in it at the end.
class DestFolder {
 public:
  // Made new: Wine gives a test process the same small id run after run, and
  // a former run's folder may stand (a share's client can refuse its removal).
  explicit DestFolder(const Destination& d) {
    static int counter = 0;
    MakeDir(d.root + L"qmrig");
    for (;;) {
      path_ = d.root + L"qmrig\\t" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(counter++) + L"\\";
      if (CreateDirectoryW(path_.c_str(), nullptr)) break;
      if (GetLastError() != ERROR_ALREADY_EXISTS) {
        ADD_FAILURE() << "cannot make " << Narrow(path_) << ": error " << GetLastError();
        break;
      }
    }
  }
  ~DestFolder() { RemoveTree(path_); }
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& rel) const { return path_ + rel; }

 private:
  std::wstring path_;
};

std::string Pattern(size_t size, char seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = char(seed + i * 7 + i / 4093);
  return bytes;
}

// Access and write times together: the FUSE FAT32 and exFAT drivers drop a
// write time set alone.
bool SetTimes(const std::wstring& path, uint64_t ticks) {
  HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME ft{DWORD(ticks), DWORD(ticks >> 32)};
  const bool ok = SetFileTime(h, nullptr, &ft, &ft);
  CloseHandle(h);
  return ok;
}

// The whole file, sharing everything (a reader must not be what fails);
// nullopt with the code in GetLastError() when it cannot be read.
std::optional<std::string> Contents(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  BOOL ok;
  while ((ok = ReadFile(h, buffer, sizeof buffer, &got, nullptr)) && got) bytes.append(buffer, got);
  const DWORD code = GetLastError();
  CloseHandle(h);
  if (!ok) {
    SetLastError(code);
    return std::nullopt;
  }
  return bytes;
}

// A source's last-write time, told apart by its size.
uint64_t SourceTime(size_t size) { return 133000000000000000ull + size * kSecond; }

uint64_t WriteTimeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
}

// A path on the share as its server keeps it: what stands there, and a
// setup made past the client, which would stamp a file it lets go of a
// moment after the test wrote it.
std::wstring OnServer(const Destination& d, const std::wstring& path) {
  if (d.serverRoot.empty() || path.rfind(d.root, 0) != 0) return path;
  return d.serverRoot + path.substr(d.root.size());
}

// Every entry below folder, "sub\" for a subfolder.
std::vector<std::wstring> TreeOf(const std::wstring& folder, const std::wstring& rel = L"") {
  std::vector<std::wstring> out;
  for (auto& e : ListEntries(folder + rel + L"*", fs::kMaskAll)) {
    if (e.name == L"." || e.name == L"..") continue;
    if (e.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      out.push_back(rel + e.name + L"\\");
      auto sub = TreeOf(folder, rel + e.name + L"\\");
      out.insert(out.end(), sub.begin(), sub.end());
    } else {
      out.push_back(rel + e.name);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::wstring> Temporaries(const std::wstring& folder) {
  std::vector<std::wstring> found;
  for (auto& name : TreeOf(folder))
    if (name.find(L"~quillmere-") != std::wstring::npos) found.push_back(name);
  return found;
}

std::wstring QmcopyPath() {
  std::string unix = QM_EXE_UNIX_PATH;  // Quillmere.exe; qmcopy.exe lies beside it
  return FromUnix(unix.substr(0, unix.rfind('/') + 1) + "qmcopy.exe");
}

struct Child {
  HANDLE process = nullptr;
  ~Child() {
    if (process) {
      TerminateProcess(process, 99);
      WaitForSingleObject(process, 10000);
      CloseHandle(process);
    }
  }
  DWORD Wait(DWORD ms) {
    if (WaitForSingleObject(process, ms) != WAIT_OBJECT_0) return 999;
    DWORD code = 999;
    GetExitCodeProcess(process, &code);
    return code;
  }
};

// qmcopy with its output thrown away, as a script would start it.
void StartQmcopy(Child& child, const std::wstring& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{sizeof startup};
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
  PROCESS_INFORMATION info{};
  std::wstring command = L"\"" + QmcopyPath() + L"\" " + arguments;
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &info)) {
    ADD_FAILURE() << "qmcopy did not start: " << GetLastError();
  } else {
    CloseHandle(info.hThread);
    child.process = info.hProcess;
  }
  CloseHandle(nul);
}

// The source's time: an even second plus a fraction, so that every
// destination has to round it.
constexpr uint64_t kEven = 133000000000000000ull;
constexpr uint64_t kSourceTime = kEven + 1234567;

enum class Target { Absent, Older, SameTime, Newer };
enum class Act {
  Run,         // the engine's run
  EmptyFirst,  // the run, emptying the destination first (it holds junk)
  StopMidFile, // the run, stopped once the first bytes are written
  KillMidCopy, // qmcopy killed while its temporary stands, then run again
  KillAt,      // a run under 覆盖 writing in place killed at a point, then a run under 跳过
};
enum class Holds { Nothing, New, Old, OldOrNew };

struct Row {
  const char* what;
  SameFileMode mode;
  Target target;
  bool readOnly;
  Act act;
  size_t size;  // of the source
  // Expected: a.txt and a_1.txt afterwards, the outcome counted, the failure's code.
  Holds name, numbered;
  std::optional<FileOutcome> outcome;
  DWORD failure;
  // Kinds that cannot hold the row's setup, and why.
  std::map<Kind, const char*> notApplicable;
  fs::faults::Point killedAt = fs::faults::Point::None;  // Act::KillAt
};

uint64_t TargetTime(Target t) {
  switch (t) {
    case Target::Older: return kEven - 10 * kSecond;
    case Target::SameTime: return kSourceTime;  // each destination rounds it its way
    case Target::Newer: return kEven + 10 * kSecond;
    default: return 0;
  }
}

const char* const kFat32NoModes =
    "n/a: the FAT32 driver here refuses mode changes (ENOSYS; Wine says 31, General failure), so no read-only bit";
const char* const kExFatNoBits = "n/a: the exFAT driver here keeps no attribute bits (set, reported done, dropped)";

std::string Describe(DWORD code) { return std::to_string(code) + " (" + Narrow(fs::SystemErrorText(code)) + ")"; }

std::string Ticks(uint64_t t) {
  if (!t) return "none";
  char text[64];
  std::snprintf(text, sizeof text, "%llu.%07llu s", (unsigned long long)(t / kSecond), (unsigned long long)(t % kSecond));
  return text;
}

// Runs one cell and says what is wrong with its effects; "setup: ..." when
// the destination would not take the row's starting state.
std::vector<std::string> RunCell(const Row& row, const Destination& d) {
  std::vector<std::string> problems;
  auto expect = [&](bool ok, const std::string& what) {
    if (!ok) problems.push_back(what);
    return ok;
  };
  const size_t kOldSize = 70001;
  const std::string fresh = Pattern(row.size, 'n'), old = Pattern(kOldSize, 'o');
  TempDir src;
  WriteBytes(src / L"a.txt", fresh);
  if (!expect(SetTimes(src / L"a.txt", kSourceTime), "setup: the source's time")) return problems;
  DestFolder dst(d);
  uint64_t oldTime = 0;
  if (row.target != Target::Absent) {
    WriteBytes(OnServer(d, dst / L"a.txt"), old);
    SetTimes(OnServer(d, dst / L"a.txt"), TargetTime(row.target));
    oldTime = WriteTimeOf(OnServer(d, dst / L"a.txt"));
    const uint64_t wanted = TargetTime(row.target);
    if (!expect(std::max(oldTime, wanted) - std::min(oldTime, wanted) < d.precision,
                "setup: the target's time did not hold (" + Ticks(oldTime) + ")"))
      return problems;
    if (row.readOnly) {
      SetAttributes(dst / L"a.txt", FILE_ATTRIBUTE_READONLY);
      if (!expect(GetFileAttributesW((dst / L"a.txt").c_str()) & FILE_ATTRIBUTE_READONLY,
                  "setup: the read-only bit did not hold"))
        return problems;
    }
  }
  if (row.act == Act::EmptyFirst) {
    WriteBytes(OnServer(d, dst / L"junk.txt"), "junk");
    WriteBytes(OnServer(d, dst / L"sub\\deep.txt"), "deep");
  }

  RunReport report;
  StopSignal stop;
  const CopyObserver observer{nullptr, nullptr, &report, &stop};
  CopyJob job;
  job.sources = {src / L"a.txt"};
  job.dests = {dst.path()};
  job.mode = row.mode;
  job.emptyFirst = row.act == Act::EmptyFirst;
  if (row.act == Act::Run || row.act == Act::EmptyFirst) {
    RunCopy(job, observer);
  } else if (row.act == Act::StopMidFile) {
    std::atomic<bool> over{false};
    uint64_t bytesAtStop = 0;
    std::thread watcher([&] {
      while (!over && report.Read().bytes == 0) std::this_thread::yield();
      bytesAtStop = report.Read().bytes;
      stop.Request();
    });
    RunCopy(job, observer);
    over = true;
    watcher.join();
    if (!expect(bytesAtStop > 0 && bytesAtStop < row.size, "setup: the copy ended before the stop came mid-file"))
      return problems;
  } else if (row.act == Act::KillAt) {
    DWORD ended = 0;
    if (!expect(CopyKilledAt(row.killedAt, true, src / L"a.txt", dst.path(), &ended),
                "setup: the copy never reached the point, and ended " + Describe(ended)))
      return problems;
    job.mode = Skip;  // keeps whatever stands: a partial file would stay for good
    RunCopy(job, observer);
  } else {
    Child first;
    StartQmcopy(first, L"/src:" + src / L"a.txt /dst:" + dst.path() + L" /policy:overwrite /quiet");
    bool seen = false;
    for (int i = 0; i < 20000 && !seen && WaitForSingleObject(first.process, 0) == WAIT_TIMEOUT; ++i) {
      // A copy under way (a temporary, or a journal where it is written in place), past the volume's probe.
      seen = !ListEntries(dst.path() + L"~quillmere-*.part", fs::kMaskAll).empty() ||
             !ListEntries(dst.path() + L"~quillmere-*.journal", fs::kMaskAll).empty();
      if (!seen) Sleep(1);
    }
    if (!expect(seen, "setup: qmcopy ended before its temporary was seen")) return problems;
    TerminateProcess(first.process, 9);
    first.Wait(10000);
    // Where copies take their names by a rename, the target is untouched until
    // then; on the share it is written in place, and whole again after the next run's repair.
    if (d.kind != Kind::Share) expect(Contents(dst / L"a.txt") == old, "the kill cost the old target");
    Child second;
    StartQmcopy(second, L"/src:" + src / L"a.txt /dst:" + dst.path() + L" /policy:overwrite /quiet");
    const DWORD code = second.Wait(60000);
    expect(code == 0, "the run after the kill exited " + std::to_string(code));
  }

  // Bytes and times of what stands under each name.
  auto check = [&](const std::wstring& name, Holds holds) {  // by value: OldOrNew is told once seen
    const std::string n = Narrow(name);
    if (holds == Holds::Nothing) {
      expect(!Exists(dst / name), n + " exists");
      return;
    }
    if (!expect(Exists(dst / name), n + " is missing")) return;
    const auto contents = Contents(dst / name);
    if (!expect(contents.has_value(), n + " cannot be read: " + Describe(GetLastError()))) return;
    const std::string& bytes = *contents;
    const bool isNew = bytes == fresh, isOld = bytes == old;
    if (holds == Holds::OldOrNew) {
      if (!expect(isNew || isOld, n + " holds " + std::to_string(bytes.size()) + " bytes, neither the old nor the new"))
        return;
      holds = isNew ? Holds::New : Holds::Old;
    }
    if (holds == Holds::New)
      expect(isNew, n + (isOld ? " still holds the old target" : " holds " + std::to_string(bytes.size()) + " bytes, not the source's"));
    else
      expect(isOld, n + (isNew ? " was replaced" : " holds " + std::to_string(bytes.size()) + " bytes, not the old target's"));
    const uint64_t time = WriteTimeOf(OnServer(d, dst / name));
    if (holds == Holds::Old && isOld) {
      expect(time == oldTime, n + ": the old target's time changed to " + Ticks(time));
    } else if (holds == Holds::New && isNew) {
      const uint64_t gap = std::max(time, kSourceTime) - std::min(time, kSourceTime);
      expect(gap < d.precision, n + ": last-write time " + Ticks(time) + ", not the source's " + Ticks(kSourceTime) +
                                    " to " + Ticks(d.precision));
    }
  };
  check(L"a.txt", row.name);
  check(L"a_1.txt", row.numbered);

  // Nothing else in the folder: no temporary, nothing emptying should have taken.
  std::vector<std::wstring> expected;
  if (row.name != Holds::Nothing) expected.push_back(L"a.txt");
  if (row.numbered != Holds::Nothing) expected.push_back(L"a_1.txt");
  const auto tree = TreeOf(dst.path());
  std::string listed;
  for (auto& name : tree) listed += " " + Narrow(name);
  expect(Temporaries(dst.path()).empty(), "a temporary was left");
  expect(tree == expected, "the folder holds:" + listed);

  if (row.act == Act::KillMidCopy) return problems;  // qmcopy's exit code said it
  std::string failures;
  for (const auto& f : report.FirstFailures()) failures += " " + Describe(f.code);
  if (row.act == Act::KillAt) {  // kept or copied, as the repair left it
    expect(report.FailureCount() == 0, "the run after the kill failed:" + failures);
    return problems;
  }
  if (row.failure)
    expect(report.FailureCount() == 1 && report.FirstFailures()[0].code == row.failure,
           "expected the failure " + Describe(row.failure) + ", got:" + (failures.empty() ? " none" : failures));
  else
    expect(report.FailureCount() == 0, "failed:" + failures);
  const char* names[] = {"copied", "replaced", "numbered", "kept"};
  for (FileOutcome o : {FileOutcome::Copied, FileOutcome::Replaced, FileOutcome::Numbered, FileOutcome::Kept})
    expect(report.Count(o) == (row.outcome == o ? 1u : 0u),
           std::string("counted ") + std::to_string(report.Count(o)) + " as " + names[int(o)]);
  return problems;
}

TEST(Destinations, EveryOutcomeOnEveryKindOfDestination) {
  if (RigSkipped()) GTEST_SKIP() << "QM_RIG=skip";
  constexpr size_t kSmall = 300 * 1024 + 17, kBig = 48u << 20;
  using enum Holds;
  using O = FileOutcome;
  using Point = fs::faults::Point;
  const Row rows[] = {
      // what                         mode        target before     r/o    act               size    a.txt numbered outcome      failure
      {"new target",                  Overwrite,  Target::Absent,   false, Act::Run,         kSmall, New, Nothing, O::Copied,   0},
      {"replace (覆盖)",              Overwrite,  Target::Older,    false, Act::Run,         kSmall, New, Nothing, O::Replaced, 0},
      {"skip (跳过)",                 Skip,       Target::Older,    false, Act::Run,         kSmall, Old, Nothing, O::Kept,     0},
      {"number (自动编号)",           AutoNumber, Target::Older,    false, Act::Run,         kSmall, Old, New,     O::Numbered, 0},
      {"newer-only, same time",       NewerOnly,  Target::SameTime, false, Act::Run,         kSmall, Old, Nothing, O::Kept,     0},
      {"newer-only, target older",    NewerOnly,  Target::Older,    false, Act::Run,         kSmall, New, Nothing, O::Replaced, 0},
      {"newer-only, target newer",    NewerOnly,  Target::Newer,    false, Act::Run,         kSmall, Old, Nothing, O::Kept,     0},
      {"empty first",                 Overwrite,  Target::Absent,   false, Act::EmptyFirst,  kSmall, New, Nothing, O::Copied,   0},
      {"stop mid-file",               Overwrite,  Target::Older,    false, Act::StopMidFile, kBig,   Old, Nothing, {},          0},
      {"read-only target",            Overwrite,  Target::Older,    true,  Act::Run,         kSmall, Old, Nothing, {},          ERROR_ACCESS_DENIED,
       {{Kind::Fat32, kFat32NoModes}, {Kind::ExFat, kExFatNoBits}}},
      {"kill mid-copy, then run again", Overwrite, Target::Older,   false, Act::KillMidCopy, kBig,   New, Nothing, {},          0},
      // A write in place (the share's way; injected elsewhere) killed at each
      // named point, then a run under 跳过: the target whole, old or new.
      {"in place, replace killed: old kept",   Overwrite, Target::Older, false, Act::KillAt, kSmall, OldOrNew, Nothing, {}, 0, {}, Point::OldKept},
      {"in place, replace killed: journaled",  Overwrite, Target::Older, false, Act::KillAt, kSmall, OldOrNew, Nothing, {}, 0, {}, Point::JournalWritten},
      {"in place, replace killed: half",       Overwrite, Target::Older, false, Act::KillAt, kSmall, OldOrNew, Nothing, {}, 0, {}, Point::HalfWritten},
      {"in place, replace killed: times set",  Overwrite, Target::Older, false, Act::KillAt, kSmall, OldOrNew, Nothing, {}, 0, {}, Point::TimesSet},
      {"in place, replace killed: old gone",   Overwrite, Target::Older, false, Act::KillAt, kSmall, OldOrNew, Nothing, {}, 0, {}, Point::OldRemoved},
      {"in place, new killed: journaled",      Overwrite, Target::Absent, false, Act::KillAt, kSmall, New, Nothing, {}, 0, {}, Point::JournalWritten},
      {"in place, new killed: half",           Overwrite, Target::Absent, false, Act::KillAt, kSmall, New, Nothing, {}, 0, {}, Point::HalfWritten},
      {"in place, new killed: times set",      Overwrite, Target::Absent, false, Act::KillAt, kSmall, New, Nothing, {}, 0, {}, Point::TimesSet},
  };
  const auto kinds = Destinations();
  ASSERT_FALSE(kinds.empty());
  std::string summary = "\nEach row onto each kind (ok, n/a, or the first thing wrong):\n";
  for (const Row& row : rows) {
    summary += std::string("  ") + row.what + "\n";
    for (const Destination& d : kinds) {
      summary += std::string("    ") + d.name + ": ";
      if (row.notApplicable.count(d.kind)) {
        summary += std::string(row.notApplicable.at(d.kind)) + "\n";
        continue;
      }
      const auto problems = RunCell(row, d);
      std::string all;
      for (auto& p : problems) all += "\n  - " + p;
      if (!problems.empty()) ADD_FAILURE() << row.what << " onto " << d.name << ":" << all;
      summary += (problems.empty() ? std::string("ok") : "FAIL: " + problems[0]) + "\n";
    }
  }
  std::printf("%s", summary.c_str());
}

// One read onto every kind at once (the share, which renames nothing, reads
// its own): each ends as when the kinds are taken one after another, on a
// fresh run and on a newer-only run over it.
TEST(Destinations, EveryKindAtOnceEndsAsEachInTurn) {
  if (RigSkipped()) GTEST_SKIP() << "QM_RIG=skip";
  const auto kinds = Destinations();
  ASSERT_FALSE(kinds.empty());
  TempDir source;
  std::vector<std::pair<std::wstring, size_t>> files = {
      {L"t\\a.txt", 10}, {L"t\\sub\\b.bin", 300 * 1024 + 17}, {L"t\\sub\\c.txt", 0}, {L"t\\d.bin", 2u << 20}};
  // Many copies closed one after another: a share's client stamps each as it
  // lets go of it, a moment after its time was set.
  for (int i = 0; i < 24; ++i) files.push_back({L"t\\many\\f" + std::to_wstring(i), 40 * 1024 + i});
  for (const auto& [name, size] : files) {
    WriteBytes(source / name, Pattern(size, char(size)));
    SetTimes(source / name, SourceTime(size));
  }
  std::vector<std::unique_ptr<DestFolder>> apart, together;
  for (const Destination& d : kinds) {
    apart.push_back(std::make_unique<DestFolder>(d));
    together.push_back(std::make_unique<DestFolder>(d));
  }
  for (SameFileMode mode : {Overwrite, NewerOnly}) {
    SCOPED_TRACE(int(mode));
    RunReport apartReport, togetherReport;
    CopyJob job{{source / L"t"}, {}, mode};
    for (auto& folder : together) job.dests.push_back(folder->path());
    RunCopy(job, {nullptr, nullptr, &togetherReport});
    for (auto& folder : apart) {
      job.dests = {folder->path()};
      RunCopy(job, {nullptr, nullptr, &apartReport});
    }
    EXPECT_EQ(togetherReport.FailureCount(), 0u);
    for (FileOutcome outcome : {FileOutcome::Copied, FileOutcome::Replaced, FileOutcome::Kept})
      EXPECT_EQ(togetherReport.Count(outcome), apartReport.Count(outcome));
    for (size_t k = 0; k < kinds.size(); ++k) {
      SCOPED_TRACE(kinds[k].name);
      EXPECT_EQ(TreeOf(together[k]->path()), TreeOf(apart[k]->path()));
      EXPECT_TRUE(Temporaries(together[k]->path()).empty());
      for (const auto& [name, size] : files) {
        SCOPED_TRACE(Narrow(name));
        EXPECT_EQ(Contents(together[k]->path() + name), Pattern(size, char(size)));
        const uint64_t time = WriteTimeOf(OnServer(kinds[k], together[k]->path() + name));
        EXPECT_EQ(time, WriteTimeOf(OnServer(kinds[k], apart[k]->path() + name)));
        EXPECT_LT(std::max(time, SourceTime(size)) - std::min(time, SourceTime(size)), kinds[k].precision);
      }
    }
  }
}

// A share named by its letter and by \\\\server\\share is one destination.
// Where a time set on the open copy is lost, and whether setting it through
// the handle after the rename keeps it: only the share must be waited out.
TEST(Destinations, TheProbeTellsWhereTimesMustBeSetAgain) {
  if (RigSkipped()) GTEST_SKIP() << "QM_RIG=skip";
  const std::map<Kind, std::pair<bool, bool>> expected = {
      {Kind::Local, {false, false}}, {Kind::Ntfs, {false, false}}, {Kind::ExFat, {false, false}},
      {Kind::Fat32, {true, true}},   {Kind::Share, {true, false}}};
  fs::ForgetVolumes();
  for (const Destination& d : Destinations()) {
    SCOPED_TRACE(d.name);
    DestFolder folder(d);
    const fs::VolumeTraits& traits = fs::ProbedTraitsOf(folder.path());
    EXPECT_EQ(std::make_pair(traits.timesAfterClose, traits.timesAfterRename), expected.at(d.kind));
  }
}

TEST(Destinations, AShareByItsLetterAndByItsNameIsOnePlace) {
  if (RigSkipped()) GTEST_SKIP() << "QM_RIG=skip";
  const auto values = RigValues();
  ASSERT_TRUE(values.count("share_letter"));
  TempDir src;
  WriteBytes(src / L"f.txt", "f");
  const std::wstring below = L"qmrig\\once" + std::to_wstring(GetTickCount64()) + L"\\";
  MakeDir(Wide(values.at("share")) + below);
  RunCopy({{src / L"f.txt"}, {Wide(values.at("share_letter")) + below, Wide(values.at("share")) + below}, AutoNumber}, {});
  const std::wstring server = FromUnix(values.at("share_server_files")) + L"\\" + below;
  EXPECT_TRUE(Exists(server + L"f.txt"));
  EXPECT_FALSE(Exists(server + L"f_1.txt"));  // a second copy, numbered
  RemoveTree(Wide(values.at("share")) + below);
}

// The share's small folder (8 MiB of its own on the server) fills up: a first
// file larger than half the room still goes (no temporary beside it); a
// replace that cannot fit fails "Disk full." and leaves the old file whole,
// with its time, and nothing of ours.
TEST(Destinations, ASmallShareFillsUp) {
  if (RigSkipped()) GTEST_SKIP() << "QM_RIG=skip";
  const auto values = RigValues();
  ASSERT_TRUE(values.count("share_small"));
  const std::wstring small = Wide(values.at("share_small"));
  const std::wstring server = FromUnix(values.at("share_server_files")) + L"\\small\\";
  struct Case {
    const char* what;
    size_t oldSize, newSize;  // oldSize 0: no target stands
    DWORD failure;
    bool fromMemory = false;  // written as a list export or the log is
    bool readOnly = false;    // the old file
  } cases[] = {
      {"a first file of 5 MiB into 8 MiB", 0, 5u << 20, 0},
      {"a replace of 1 MiB by 9 MiB", 1u << 20, 9u << 20, ERROR_DISK_FULL},
      {"a list of 5 MiB over one of 1 MiB", 1u << 20, 5u << 20, 0, true},
      {"a list of 9 MiB over one of 1 MiB", 1u << 20, 9u << 20, ERROR_DISK_FULL, true},
      {"a list over a read-only one", 1u << 10, 2u << 10, ERROR_ACCESS_DENIED, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir src;
    const std::string fresh = Pattern(c.newSize, 'n'), old = Pattern(c.oldSize, 'o');
    // A name of its own: the old file is put there past the client, whose cache would remember the last one.
    const std::wstring name = L"a" + std::to_wstring(GetTickCount64()) + L".bin";
    WriteBytes(src / name, fresh);
    SetTimes(src / name, kSourceTime);
    const uint64_t oldTime = kEven - 100 * kSecond;
    if (c.oldSize) {
      WriteBytes(server + name, old);
      SetTimes(server + name, oldTime);
    }
    if (c.readOnly) SetAttributes(small + name, FILE_ATTRIBUTE_READONLY);
    if (c.fromMemory) {
      const bool written = fs::WriteWholeFile(small + name, fresh) == fs::WholeWrite::Done;
      EXPECT_EQ(written ? 0u : GetLastError(), c.failure);
    } else {
      RunReport report;
      RunCopy({{src / name}, {small}, Overwrite}, {nullptr, nullptr, &report});
      EXPECT_EQ(report.FailureCount(), c.failure ? 1u : 0u);
      if (c.failure && report.FailureCount()) EXPECT_EQ(report.FirstFailures()[0].code, c.failure);
    }
    const auto contents = Contents(server + name);
    EXPECT_TRUE(contents == (c.failure ? old : fresh)) << (contents ? contents->size() : 0) << " bytes stand";
    const uint64_t time = WriteTimeOf(server + name), wanted = c.failure ? oldTime : kSourceTime;
    if (c.failure || !c.fromMemory) EXPECT_LT(std::max(time, wanted) - std::min(time, wanted), kSecond) << Ticks(time);
    if (c.readOnly) SetAttributes(small + name, 0);
    for (const auto& left : Temporaries(server)) ADD_FAILURE() << "left: " << Narrow(left);
    DeleteFileW((server + name).c_str());
  }
}

// Verified copies, read back past the cache: a stick that keeps less than it
// claims, a drive that corrupts writes, and a clean one beside them.
TEST(Destinations, VerifiedCopiesCatchWhatADestinationDidNotKeep) {
  if (RigSkipped()) GTEST_SKIP() << "QM_RIG=skip";
  const auto values = RigValues();
  ASSERT_TRUE(values.count("fakestick") && values.count("flipping") && values.count("fat32"));
  const std::wstring clean = Wide(values.at("fat32")), fake = Wide(values.at("fakestick")),
                     flipping = Wide(values.at("flipping"));
  struct Case {
    const char* what;
    std::vector<std::wstring> roots;
    std::vector<size_t> bad;  // per root: how many copies fail their check (SIZE_MAX: at least one)
    bool stopAtLastCopy = false;
  } cases[] = {
      {"a clean stick", {clean}, {0}},
      {"a stick that keeps 4 MiB of 64: the first files are overwritten", {fake}, {2}},
      {"a drive that inverts a byte of every third write", {flipping}, {SIZE_MAX}},
      {"a clean stick and a fake one, side by side", {clean, fake}, {0, 2}},
      {"a stop as the copying ends: nothing is read back", {fake}, {0}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir src;
    std::vector<std::wstring> sources;
    for (int k = 0; k < 6; ++k) {  // 6 MiB onto a stick that keeps 4
      sources.push_back(src / (L"f" + std::to_wstring(k) + L".bin"));
      WriteBytes(sources.back(), Pattern(1u << 20, char('a' + k)));
    }
    std::vector<std::unique_ptr<DestFolder>> folders;
    CopyJob job{sources, {}, Overwrite};
    job.verify = true;
    for (const std::wstring& root : c.roots) {
      folders.push_back(std::make_unique<DestFolder>(Destination{Kind::Local, "", nullptr, 1, root}));
      job.dests.push_back(folders.back()->path());
    }
    RunReport report;
    StopSignal stop;
    std::atomic<int> placed{0};
    std::atomic<int> bar{-1};  // the bar tells the bytes written and read back
    CopyObserver observer{nullptr, [&](int position) { bar = position; }, &report, &stop};
    observer.fileDone = [&](const std::wstring&, const std::wstring&, FileOutcome) {
      if (c.stopAtLastCopy && ++placed == int(6 * job.dests.size())) stop.Request();
    };
    RunCopy(job, observer);
    size_t failedChecks = 0;
    for (size_t j = 0; j < job.dests.size(); ++j) {
      size_t bad = 0;
      for (const Failure& f : report.FirstFailures()) {
        if (f.destination != j) continue;
        EXPECT_TRUE(f.check.failed && f.check.removed && f.code == 0) << Narrow(f.target) << ": " << f.code;
        EXPECT_FALSE(Exists(f.target)) << "a bad copy stays: " << Narrow(f.target);
        ++bad;
      }
      failedChecks += bad;
      if (c.bad[j] == SIZE_MAX)
        EXPECT_GE(bad, 1u);
      else
        EXPECT_EQ(bad, c.bad[j]);
    }
    EXPECT_EQ(report.FailureCount(), failedChecks);  // nothing else failed
    EXPECT_EQ(report.Count(FileOutcome::Copied), 6 * job.dests.size());
    EXPECT_EQ(report.VerifiedCount(), c.stopAtLastCopy ? 0 : 6 * job.dests.size() - failedChecks);
    EXPECT_EQ(bar.load(), c.stopAtLastCopy ? 50 : 100);
  }
}

// A stick swapped between two runs of one process, at one letter: the
// second run asks the new volume afresh. FAT32 here keeps no attribute
// bits; NTFS keeps the read-only bit the first run could not.
TEST(Destinations, ASwappedStickIsAskedAfresh) {
  if (RigSkipped()) GTEST_SKIP() << "QM_RIG=skip";
  const auto values = RigValues();
  ASSERT_TRUE(values.count("fat32_unix") && values.count("ntfs_unix"));
  wchar_t prefix[MAX_PATH] = L"";
  ASSERT_TRUE(GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH));
  const std::string letter = Narrow(prefix) + "/dosdevices/s:";
  // A Wine process may start a Unix program: the letter is re-pointed as a stick is swapped.
  auto unix = [&](const std::string& line) {
    std::wstring command = L"Z:\\bin\\" + Wide(line);
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
    // Wine hands back no process for a Unix program, and a thread handle
    // that is whatever lay there: closing it closed our own standard output.
    if (!child.hProcess) {
      Sleep(200);  // nothing to wait on
      return;
    }
    WaitForSingleObject(child.hProcess, 10000);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
  };
  TempDir src;
  WriteBytes(src / L"r.txt", "read-only");
  SetAttributes(src / L"r.txt", FILE_ATTRIBUTE_READONLY);
  struct Case {
    const char* stick;
    unsigned lost;
    bool readOnly;
  } cases[] = {{"fat32_unix", fs::kLostAttributes, false}, {"ntfs_unix", fs::kLostNothing, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stick);
    // Each stick carries a mark of its own: S: holds it once the swap is seen.
    const std::string mark = std::string("qmstick-") + c.stick;
    unix("touch " + values.at(c.stick) + "/" + mark);
    unix("ln -sfn " + values.at(c.stick) + " " + letter);
    for (int i = 0; i < 100 && !Exists(L"S:\\" + Wide(mark)); ++i) Sleep(50);
    const std::wstring folder = L"S:\\qmswap" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    MakeDir(folder);
    ASSERT_TRUE(fs::IsFolder(folder)) << "the swapped stick is not reachable at S:";
    RunReport report;
    RunCopy({{src / L"r.txt"}, {folder}, Overwrite}, {nullptr, nullptr, &report});
    for (const auto& f : report.FirstFailures()) ADD_FAILURE() << Narrow(f.path) << ": " << Describe(f.code);
    EXPECT_EQ(Contents(folder + L"r.txt"), "read-only");
    EXPECT_EQ((GetFileAttributesW((folder + L"r.txt").c_str()) & FILE_ATTRIBUTE_READONLY) != 0, c.readOnly);
    EXPECT_EQ(report.Warnings().empty(), c.lost == fs::kLostNothing);
    RemoveTree(folder);
    unix("rm -f " + values.at(c.stick) + "/" + mark);
  }
  unix("rm -f " + letter);  // taken out
}

}  // namespace
