// The copy primitive where a file system refuses a step, and the branches
// only Windows takes, driven by injecting the documented result.
#include <gtest/gtest.h>

#include "common/Raii.h"
#include "fs/ContentHash.h"
#include "fs/FileCopy.h"
#include "fs/InPlaceWrite.h"
#include "fs/OwnFiles.h"
#include "fs/FileSystem.h"
#include "fs/Volume.h"
#include "common/StopSignal.h"
#include "tests/support/TestSupport.h"

namespace {

using fs::faults::Step;

size_t Temporaries(const std::wstring& folder) {
  size_t count = 0;
  for (const fs::Entry& e : ListEntries(folder + L"~quillmere-*", fs::kMaskAll)) count += e.name != L"." && e.name != L"..";
  return count;
}

struct Faults {
  Faults() { fs::faults::Clear(); }
  ~Faults() { fs::faults::Clear(); }
};

constexpr uint64_t kSecond = fs::kTicksPerSecond;

TEST(Times, NewerOnlyComparesAtTheCoarserUnit) {
  const uint64_t t = 130000000000000000ull;
  struct Case {
    uint64_t source, target, unit;
    bool later;
  } cases[] = {
      {t, t, 1, false},                      // the same time stays
      {t + 1, t, 1, true},                   // NTFS to NTFS: 100 ns tell
      {t + kSecond / 2, t, kSecond, false},  // a share keeps seconds
      {t + kSecond, t, kSecond, true},
      {t + 3 * kSecond / 2, t, 2 * kSecond, false},  // FAT's 2 s
      {t + 2 * kSecond, t, 2 * kSecond, true},
      {t, t + kSecond, 1, false},                    // the target is newer
      {0x8000000000000001ull, 1, 1, true},           // unsigned: the top bit is later, not negative
  };
  for (const Case& c : cases) EXPECT_EQ(fs::WrittenLater(c.source, c.target, c.unit), c.later) << c.source - t;
}

// A volume's unit is fixed when it is first met, before any decision: from
// the file system's name where Windows tells it truly, else FAT's 2 s,
// whatever times are seen there.
TEST(Times, AVolumesUnitIsFixedWhenItIsFirstMet) {
  TempDir dir;
  Faults faults;
  struct Case {
    const wchar_t* fileSystem;  // injected as Windows would name it; null: Wine's word, not believed
    uint64_t unit;
  } cases[] = {{nullptr, 2 * kSecond}, {L"FAT32", 2 * kSecond}, {L"exFAT", kSecond}, {L"NTFS", 1}};
  for (const Case& c : cases) {
    fs::faults::Clear();
    if (c.fileSystem) {
      fs::faults::InjectFileSystemName(c.fileSystem);
      fs::faults::Inject(Step::VolumeFlags, 0);
    }
    WriteBytes(dir / L"fine.txt", "x");
    SetWriteTime(dir / L"fine.txt", 130000000000000000ull + 1234567);  // a part of a second teaches nothing
    EXPECT_EQ(fs::TraitsOf(dir / L"").timeUnit, c.unit) << (c.fileSystem ? Narrow(c.fileSystem) : "Wine");
  }
}

// Where a volume refuses a step, the copy steps down and still lands whole,
// with the decision at the rename and the old target kept until then. Each
// row injects one refusal as the file system reports it; the probe at the
// volume's first write sees it, and nothing is learned from a copy's own
// refusal. Once a copy holds its name, a refusal is a loss, never a failure.
TEST(PendingCopy, StepsDownWhereAVolumeRefusesAStep) {
  TempDir dir;
  constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const uint64_t time = 130000000000000000ull + 1234567;
  struct Case {
    const char* what;
    Step step;
    DWORD code;
    DWORD bits;  // the source's
    bool standing, replace;
    fs::Placed placed;
    std::string after;
    unsigned lost;
    bool refuses;  // the probe found the volume refusing the step
  } cases[] = {
      // A share that will not rename an open file ("busy", a lock violation to Wine).
      {"open rename refused, new", Step::RenameOpenFile, ERROR_LOCK_VIOLATION, kHiddenSystem, false, false, fs::Placed::New, "new", 0, true},
      {"open rename refused, taken", Step::RenameOpenFile, ERROR_LOCK_VIOLATION, kHiddenSystem, true, false, fs::Placed::Taken, "old", 0, true},
      {"open rename refused, replace", Step::RenameOpenFile, ERROR_LOCK_VIOLATION, kHiddenSystem, true, true, fs::Placed::Replaced, "new", 0, true},
      {"open rename not supported", Step::RenameOpenFile, ERROR_NOT_SUPPORTED, kHiddenSystem, true, true, fs::Placed::Replaced, "new", 0, true},
      // A stick whose driver cannot change modes: Wine's "general failure".
      {"attributes refused", Step::SetAttributes, ERROR_GEN_FAILURE, kHiddenSystem, false, false, fs::Placed::New, "new", fs::kLostAttributes, true},
      // The read-only bit refused once the copy has its name: placed, never failed (a retry would place it twice).
      {"read-only refused once placed", Step::SetAttributes, ERROR_ACCESS_DENIED, FILE_ATTRIBUTE_READONLY, false, false, fs::Placed::New, "new", fs::kLostAttributes, false},
      // Windows without the POSIX rename (older systems, FAT, many servers).
      {"posix rename refused", Step::PosixRename, ERROR_INVALID_PARAMETER, kHiddenSystem, true, true, fs::Placed::Replaced, "new", 0, true},
      // A share whose client renames nothing Wine has open, which is every
      // file Wine renames: the copy is written under its own name, behind a journal.
      {"renames nothing, new", Step::RenameByName, ERROR_LOCK_VIOLATION, kHiddenSystem, false, false, fs::Placed::New, "new", 0, true},
      {"renames nothing, taken", Step::RenameByName, ERROR_LOCK_VIOLATION, kHiddenSystem, true, false, fs::Placed::Taken, "old", 0, true},
      {"renames nothing, replace", Step::RenameByName, ERROR_LOCK_VIOLATION, kHiddenSystem, true, true, fs::Placed::Replaced, "new", 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Faults faults;
    WriteBytes(dir / L"src.txt", "new");
    SetAttributes(dir / L"src.txt", c.bits);
    SetWriteTime(dir / L"src.txt", time);
    fs::faults::Inject(c.step, c.code);
    if (c.step == Step::RenameByName) fs::faults::Inject(Step::RenameOpenFile, c.code);
    const std::wstring target = dir / L"t.txt";
    if (c.standing) WriteBytes(target, "old");
    {
      fs::PendingCopy copy;
      ASSERT_TRUE(copy.Write(dir / L"src.txt", dir / L"", nullptr, nullptr, nullptr));
      const fs::Placement placement = copy.PlaceAs(L"t.txt", c.replace);
      EXPECT_EQ(placement.placed, c.placed);
      EXPECT_EQ(placement.lost, c.lost);
      if (c.placed == fs::Placed::Taken) EXPECT_EQ(copy.PlaceAs(L"t_1.txt", false).placed, fs::Placed::New);
    }
    fs::CloseJournals();  // as a run ends
    fs::RemoveJournals();
    EXPECT_EQ(ReadBytes(target), c.after);
    if (c.after == "new") EXPECT_EQ(GetWriteTime(target), time);
    EXPECT_EQ(Temporaries(dir / L""), 0u);  // no temporary, aside, journal, .old or probe
    const fs::VolumeTraits& volume = fs::ProbedTraitsOf(dir / L"");
    const bool refuses = c.step == Step::RenameOpenFile ? !volume.renamesOpenFiles
                         : c.step == Step::RenameByName  ? volume.renamesNothing
                         : c.step == Step::SetAttributes ? volume.keptAttributes == 0
                                                         : !volume.posixRename;
    EXPECT_EQ(refuses, c.refuses);
    for (const wchar_t* name : {L"t.txt", L"t_1.txt", L"src.txt"}) {
      SetAttributes(dir / name, FILE_ATTRIBUTE_NORMAL);
      DeleteFileW((dir / name).c_str());
    }
  }
}

// A write in place that fails midway (here a stop) puts the old file back
// with its time, or removes the partial new one; nothing of ours stays.
TEST(PendingCopy, AFailedWriteInPlaceLeavesTheOldFileWhole) {
  TempDir dir;
  WriteBytes(dir / L"src.bin", std::string(300000, 'n'));  // five chunks
  const uint64_t oldTime = 120000000000000000ull;
  for (bool standing : {true, false}) {
    SCOPED_TRACE(standing ? "replace" : "new");
    Faults faults;
    fs::faults::Inject(Step::RenameOpenFile, ERROR_LOCK_VIOLATION);
    fs::faults::Inject(Step::RenameByName, ERROR_LOCK_VIOLATION);
    DeleteFileW((dir / L"t.bin").c_str());
    if (standing) {
      WriteBytes(dir / L"t.bin", "old bytes");
      SetWriteTime(dir / L"t.bin", oldTime);
    }
    StopSignal stop;
    int64_t written = 0;
    fs::PendingCopy copy;
    ASSERT_TRUE(copy.Write(dir / L"src.bin", dir / L"", nullptr, &stop, [&](int64_t n) {
      written += n;
      if (written > 100000) stop.Request();
    }));
    const fs::Placement placement = copy.PlaceAs(L"t.bin", true);
    EXPECT_EQ(placement.placed, fs::Placed::Failed);
    EXPECT_EQ(placement.error, DWORD(ERROR_OPERATION_ABORTED));
    fs::CloseJournals();
    fs::RemoveJournals();
    EXPECT_EQ(Exists(dir / L"t.bin"), standing);
    if (standing) {
      EXPECT_EQ(ReadBytes(dir / L"t.bin"), "old bytes");
      EXPECT_EQ(GetWriteTime(dir / L"t.bin"), oldTime);
    }
    EXPECT_EQ(Temporaries(dir / L""), 0u);
  }
}

// A refusal that is no "not supported" (a target in use, access denied) is
// the file's failure: nothing learned, the old target intact, nothing left.
TEST(PendingCopy, ARefusalOfOneFileTeachesNothing) {
  TempDir dir;
  WriteBytes(dir / L"src.txt", "new");
  SetAttributes(dir / L"src.txt", FILE_ATTRIBUTE_HIDDEN);
  WriteBytes(dir / L"t.txt", "old");
  Faults faults;
  fs::faults::Inject(Step::SetAttributes, ERROR_ACCESS_DENIED);
  {
    fs::PendingCopy copy;
    EXPECT_FALSE(copy.Write(dir / L"src.txt", dir / L"", nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  }
  EXPECT_EQ(fs::ProbedTraitsOf(dir / L"").keptAttributes, fs::kShownAttributes);
  // The old target is held without sharing: the rename by handle is refused
  // as a refusing volume's would be, but moved aside by name it cannot be
  // either, and it stays.
  fs::faults::Clear();
  {
    fs::FileHandle held(CreateFileW((dir / L"t.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    fs::PendingCopy copy;
    ASSERT_TRUE(copy.Write(dir / L"src.txt", dir / L"", nullptr, nullptr, nullptr));
    const fs::Placement placement = copy.PlaceAs(L"t.txt", true);
    EXPECT_EQ(placement.placed, fs::Placed::Failed);
    EXPECT_EQ(placement.error, DWORD(ERROR_SHARING_VIOLATION));
  }
  EXPECT_TRUE(fs::ProbedTraitsOf(dir / L"").renamesOpenFiles);
  EXPECT_EQ(ReadBytes(dir / L"t.txt"), "old");
  EXPECT_EQ(Temporaries(dir / L""), 0u);
  EXPECT_EQ(ListEntries(dir / L"*", fs::kMaskAll).size(), 4u);  // ".", "..", src.txt, t.txt
}

// Windows' own rules, which Wine does not show: an encrypted source is never
// written in the clear, a sparse one stays sparse, and named streams are
// copied before the mark that would bar opening them.
TEST(PendingCopy, WindowsOnlyRules) {
  TempDir dir;
  std::string sparse(1u << 20, '\0');
  sparse.replace(sparse.size() - 3, 3, "end");
  WriteBytes(dir / L"src.bin", sparse);
  WriteBytes(dir / L"src.bin:qm", "zone");  // Wine makes a plain file of a stream's name
  {
    Faults faults;
    fs::faults::Inject(Step::SourceAttributes, FILE_ATTRIBUTE_ENCRYPTED);
    fs::PendingCopy copy;
    EXPECT_FALSE(copy.Write(dir / L"src.bin", dir / L"", nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ENCRYPTION_FAILED));
    // The same on a volume that renames nothing, where copies are written under their own name.
    fs::faults::Inject(Step::RenameOpenFile, ERROR_LOCK_VIOLATION);
    fs::faults::Inject(Step::RenameByName, ERROR_LOCK_VIOLATION);
    fs::PendingCopy inPlace;
    ASSERT_TRUE(inPlace.Write(dir / L"src.bin", dir / L"", nullptr, nullptr, nullptr));
    const fs::Placement placement = inPlace.PlaceAs(L"secret.bin", false);
    EXPECT_EQ(placement.placed, fs::Placed::Failed);
    EXPECT_EQ(placement.error, DWORD(ERROR_ENCRYPTION_FAILED));
  }
  fs::CloseJournals();
  fs::RemoveJournals();
  EXPECT_FALSE(Exists(dir / L"secret.bin"));
  EXPECT_EQ(Temporaries(dir / L""), 0u);
  {
    Faults faults;
    fs::faults::Inject(Step::SourceAttributes, FILE_ATTRIBUTE_SPARSE_FILE);
    fs::PendingCopy copy;
    ASSERT_TRUE(copy.Write(dir / L"src.bin", dir / L"", nullptr, nullptr, nullptr));
    EXPECT_EQ(copy.PlaceAs(L"sparse.bin", false).placed, fs::Placed::New);
  }
  EXPECT_EQ(ReadBytes(dir / L"sparse.bin"), sparse);  // the holes read as the zeros they were
  {
    Faults faults;
    fs::faults::Inject(Step::SourceStream, 0);
    fs::faults::Inject(Step::MarkedRefusesOpen, 0);
    fs::PendingCopy copy;
    ASSERT_TRUE(copy.Write(dir / L"src.bin", dir / L"", nullptr, nullptr, nullptr)) << GetLastError();
    EXPECT_EQ(copy.PlaceAs(L"streamed.bin", false).placed, fs::Placed::New);
  }
  for (const fs::Entry& e : ListEntries(dir / L"~quillmere-*:qm", fs::kMaskAll))  // the stream's stand-in
    DeleteFileW((dir / e.name).c_str());
}

// What a dead process of this computer left is repaired or removed at a
// run's first visit; another computer's, a live process's, one still held
// open and a user's file moved aside stay.
TEST(RepairFolder, TakesOnlyWhatTheDeadOfThisComputerLeftAndLeavesEveryTargetWhole) {
  TempDir dir;
  // A process that has ended: its id and start time.
  wchar_t command[] = L"cmd.exe /c exit";
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                             &child));
  WaitForSingleObject(child.hProcess, 10000);
  FILETIME created, exited, kernel, user;
  GetProcessTimes(child.hProcess, &created, &exited, &kernel, &user);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  auto hex = [](uint64_t v) {
    wchar_t t[17];
    swprintf(t, 17, L"%llx", static_cast<unsigned long long>(v));
    return std::wstring(t);
  };
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  GetComputerNameW(name, &size);
  const std::wstring computer = name;
  const uint64_t deadStart = (uint64_t(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  FILETIME myCreated;
  GetProcessTimes(GetCurrentProcess(), &myCreated, &exited, &kernel, &user);
  const uint64_t myStart = (uint64_t(myCreated.dwHighDateTime) << 32) | myCreated.dwLowDateTime;
  auto own = [&](const std::wstring& who, DWORD pid, uint64_t start, int n, const wchar_t* kind) {
    return L"~quillmere-" + who + L"-" + hex(pid) + L"-" + hex(start) + L"-" + std::to_wstring(n) + kind;
  };
  auto dead = [&](int n, const wchar_t* kind) { return own(computer, child.dwProcessId, deadStart, n, kind); };
  const uint64_t oldTime = 120000000000000000ull, newTime = 130000000000000000ull;
  // An in-place write of t<n>.txt by the dead process (or another maker), killed partway.
  using State = fs::Journal::State;
  auto journal = [&](const std::wstring& journalName, int n, bool replace, State state, bool torn = false) {
    const std::wstring target = L"t" + std::to_wstring(n) + L".txt";
    fs::Journal j;
    j.target = target;
    if (replace) {
      j.old = journalName.substr(0, journalName.rfind(L'.')) + L".old";
      WriteBytes(dir / j.old, "old bytes");
      j.oldLength = 9;
      j.oldWriteTime = j.oldAccessTime = oldTime;
    }
    j.newLength = 9;
    j.newWriteTime = newTime;
    {
      const fs::FileHandle written = fs::MakeJournal(dir / journalName);
      ASSERT_TRUE(fs::WriteJournal(written.get(), j, true));
      if (state != State::Open) fs::MarkJournal(written.get(), state, true);
    }
    if (torn) {
      std::string bytes = ReadBytes(dir / journalName);
      DeleteFileW((dir / journalName).c_str());
      WriteBytes(dir / journalName, bytes.substr(0, bytes.size() - 3));
    }
  };
  struct Case {
    std::wstring file;
    bool stays;
  };
  std::vector<Case> files = {
      {dead(1, L".part"), false},
      {dead(2, L".part"), true},  // held open below
      {own(L"OTHER-" + computer, child.dwProcessId, deadStart, 3, L".part"), true},
      {own(computer, GetCurrentProcessId(), myStart, 4, L".part"), true},
      {own(computer, GetCurrentProcessId(), myStart + 1, 5, L".part"), false},  // the id went to us since
      {dead(6, L".aside"), true},   // the user's file, moved aside for a rename
      {dead(7, L".probe"), false},
      {dead(8, L".old"), false},    // kept before its journal was written: the target was never touched
  };
  for (const Case& c : files) WriteBytes(dir / c.file, "x");
  fs::FileHandle held(CreateFileW((dir / files[1].file).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
  // Targets as the kill left them: the old bytes, half the new ones, or all of them.
  struct Target {
    const char* what;
    std::string before;
    uint64_t beforeTime;
    std::string after;  // empty: no file
    uint64_t afterTime;
  } targets[] = {
      {"torn journal: untouched", "old bytes", oldTime, "old bytes", oldTime},
      {"replace killed mid-write: put back", "new b", 0, "old bytes", oldTime},
      // Whole by its length, yet never marked whole: put back, no guess.
      {"replace of the same length unmarked: put back", "new bytes", newTime, "old bytes", oldTime},
      {"replace marked whole: kept", "new bytes", newTime, "new bytes", newTime},
      {"new file killed mid-write: removed", "new b", 0, "", 0},
      {"new name found taken: the user's file stays", "user's", 0, "user's", 0},
      {"a live run's replace: let be", "new b", 0, "new b", 0},
  };
  journal(dead(10, L".journal"), 0, true, State::Open, true);
  journal(dead(11, L".journal"), 1, true, State::Open);
  journal(dead(12, L".journal"), 2, true, State::Open);
  journal(dead(13, L".journal"), 3, true, State::Committed);
  journal(dead(14, L".journal"), 4, false, State::Open);
  journal(dead(15, L".journal"), 5, false, State::Untouched);
  journal(own(computer, GetCurrentProcessId(), myStart, 16, L".journal"), 6, true, State::Open);
  for (size_t n = 0; n < std::size(targets); ++n) {
    const std::wstring target = dir / (L"t" + std::to_wstring(n) + L".txt");
    WriteBytes(target, targets[n].before);
    if (targets[n].beforeTime) SetWriteTime(target, targets[n].beforeTime);
  }
  fs::RepairFolder(dir / L"");
  for (const Case& c : files) EXPECT_EQ(Exists(dir / c.file), c.stays) << Narrow(c.file);
  for (size_t n = 0; n < std::size(targets); ++n) {
    SCOPED_TRACE(targets[n].what);
    const std::wstring target = dir / (L"t" + std::to_wstring(n) + L".txt");
    EXPECT_EQ(Exists(target), !targets[n].after.empty());
    if (targets[n].after.empty()) continue;
    EXPECT_EQ(ReadBytes(target), targets[n].after);
    if (targets[n].afterTime) EXPECT_EQ(GetWriteTime(target), targets[n].afterTime);
  }
  // Of the journals and their .old files, only the live run's stay.
  EXPECT_EQ(ListEntries(dir / L"*.journal", fs::kMaskAll).size(), 1u);
  EXPECT_EQ(ListEntries(dir / L"*.old", fs::kMaskAll).size(), 1u);
}

}  // namespace

namespace {

// A source is copied up to the length it had when its copy began, with the
// time it had then; one that grew or shrank meanwhile says so. Each row
// changes the source after the copy's first chunk, as a writer would.
TEST(PendingCopy, TakesTheSourceAsItWasWhenItsCopyBegan) {
  TempDir dir;
  const std::string original(100000, 'o');  // two chunks
  enum Change { None, Grow, Shrink };
  for (Change change : {None, Grow, Shrink}) {
    WriteBytes(dir / L"log.txt", original);
    SetWriteTime(dir / L"log.txt", 130000000000000000ull);
    // A stale listing (an older, shorter file) does not decide the length.
    fs::Entry listed{L"log.txt", FILE_ATTRIBUTE_ARCHIVE, 10, 120000000000000000ull, 0};
    bool changedOnce = false;
    fs::PendingCopy copy;
    ASSERT_TRUE(copy.Write(dir / L"log.txt", dir / L"", &listed, nullptr, [&](int64_t) {
      if (changedOnce || change == None) return;
      changedOnce = true;
      fs::FileHandle writer(CreateFileW((dir / L"log.txt").c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
      LARGE_INTEGER at{};
      at.QuadPart = change == Grow ? LONGLONG(original.size()) : 70000;
      SetFilePointerEx(writer.get(), at, nullptr, FILE_BEGIN);
      DWORD put = 0;
      if (change == Grow) WriteFile(writer.get(), "appended", 8, &put, nullptr);
      SetEndOfFile(writer.get());
    }));
    EXPECT_EQ(copy.PlaceAs(L"copy.txt", true).placed, fs::Placed::New);
    const std::string copied = ReadBytes(dir / L"copy.txt");
    EXPECT_EQ(copied, change == Shrink ? original.substr(0, 70000) : original) << int(change);
    EXPECT_EQ(GetWriteTime(dir / L"copy.txt"), 130000000000000000ull);
    EXPECT_EQ(copy.Changed(), change != None) << int(change);
    DeleteFileW((dir / L"copy.txt").c_str());
  }
}

// A copy read back past the cache: every read keeps to the sector, as
// Windows demands of FILE_FLAG_NO_BUFFERING (Wine would not tell), and the
// hash is that of the bytes, at any length.
TEST(ContentHash, AReadFromTheDeviceKeepsToTheSectorAndHashesEveryByte) {
  TempDir dir;
  std::vector<std::string> reads;
  fs::faults::WatchReadsFromDevice([&](uint64_t offset, DWORD length, const void* buffer, DWORD sector) {
    if (offset % sector || length % sector || reinterpret_cast<uintptr_t>(buffer) % sector)
      reads.push_back(std::to_string(offset) + "+" + std::to_string(length) + " off the sector " + std::to_string(sector));
  });
  for (size_t size : {size_t(0), size_t(1), size_t(4095), (size_t(1) << 20) + 1, size_t(3) << 20}) {
    SCOPED_TRACE(size);
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = char(i * 31 + i / 4096);
    WriteBytes(dir / L"f", bytes);
    fs::Hasher hasher;
    hasher.Add(bytes.data(), bytes.size());
    int64_t checked = 0;
    EXPECT_EQ(fs::HashFromDevice(dir / L"f", nullptr, [&](int64_t n) { checked += n; }), hasher.Result());
    EXPECT_EQ(checked, int64_t(size));
    if (size) {
      bytes[size / 2] ^= 1;  // one bit another
      WriteBytes(dir / L"f", bytes);
      EXPECT_NE(fs::HashFromDevice(dir / L"f", nullptr), hasher.Result());
    }
  }
  fs::faults::WatchReadsFromDevice(nullptr);
  EXPECT_EQ(reads, std::vector<std::string>{});
  EXPECT_FALSE(fs::HashFromDevice(dir / L"missing", nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

}  // namespace
