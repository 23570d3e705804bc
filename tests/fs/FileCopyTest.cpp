// The copy primitive where a file system refuses a step, and the branches
// only Windows takes, driven by injecting the documented result.
#include <gtest/gtest.h>

#include "common/Raii.h"
#include "fs/FileCopy.h"
#include "fs/FileSystem.h"
#include "fs/Volume.h"
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

// A volume's unit, as seen: told by Windows' file system name where those
// are believed, by a time with a part of a second, else the coarsest.
TEST(Times, AVolumeKeepsTheUnitItIsSeenToKeep) {
  TempDir dir;
  Faults faults;
  const uint64_t whole = 130000000000000000ull, fine = whole + 1234567;
  EXPECT_EQ(fs::TimeUnit(fs::TraitsOf(dir / L""), whole), 2 * kSecond);  // nothing seen yet
  EXPECT_EQ(fs::TimeUnit(fs::TraitsOf(dir / L""), fine), 1u);            // it holds parts of a second
  EXPECT_EQ(fs::TimeUnit(fs::TraitsOf(dir / L""), whole), 1u);           // and is known to from now on
  struct Case {
    const wchar_t* fileSystem;
    uint64_t unit;
  } cases[] = {{L"FAT32", 2 * kSecond}, {L"exFAT", kSecond}, {L"NTFS", 1}};
  for (const Case& c : cases) {
    fs::faults::Clear();
    fs::faults::InjectFileSystemName(c.fileSystem);
    fs::faults::Inject(Step::VolumeFlags, 0);
    EXPECT_EQ(fs::TimeUnit(fs::TraitsOf(dir / L""), fine), c.unit) << Narrow(c.fileSystem);
  }
}

// A copy whose write time a volume did not keep: the first copy there reads
// it back, sets it again on the closed file, and from then on sets it so.
TEST(PendingCopy, CarriesTimesAndReadsThemBackOncePerVolume) {
  TempDir dir;
  Faults faults;
  WriteBytes(dir / L"src.txt", "data");
  const uint64_t time = 130000000000000000ull + 1234567;
  SetWriteTime(dir / L"src.txt", time);
  fs::PendingCopy copy;
  ASSERT_TRUE(copy.Write(dir / L"src.txt", dir / L"", nullptr, nullptr, nullptr));
  EXPECT_EQ(copy.PlaceAs(L"t.txt", false), fs::Placed::New);
  EXPECT_EQ(GetWriteTime(dir / L"t.txt"), time);
  EXPECT_EQ(copy.Losses(), unsigned(fs::kLostNothing));
  fs::VolumeTraits& volume = fs::TraitsOf(dir / L"");
  EXPECT_TRUE(volume.timesChecked);
  EXPECT_EQ(volume.timeUnit, 1u);  // read back exactly, parts of a second included
}

// Where a volume refuses a step, the copy steps down and still lands whole,
// with the decision at the rename and the old target kept until then. Each
// row injects one refusal as the file system reports it.
TEST(PendingCopy, StepsDownWhereAVolumeRefusesAStep) {
  TempDir dir;
  WriteBytes(dir / L"src.txt", "new");
  SetAttributes(dir / L"src.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  struct Case {
    const char* what;
    Step step;
    DWORD code;
    bool standing, replace;
    fs::Placed placed;
    std::string after;
    unsigned lost;
    bool learned;  // the volume is known to refuse the step from now on
  } cases[] = {
      // A share that will not rename an open file ("busy", a lock violation to Wine).
      {"open rename refused, new", Step::RenameOpenFile, ERROR_LOCK_VIOLATION, false, false, fs::Placed::New, "new", 0,
       true},
      {"open rename refused, taken", Step::RenameOpenFile, ERROR_LOCK_VIOLATION, true, false, fs::Placed::Taken, "old",
       0, true},
      {"open rename refused, replace", Step::RenameOpenFile, ERROR_LOCK_VIOLATION, true, true, fs::Placed::Replaced,
       "new", 0, true},
      {"open rename not supported", Step::RenameOpenFile, ERROR_NOT_SUPPORTED, true, true, fs::Placed::Replaced, "new",
       0, true},
      // A stick whose driver cannot change modes: Wine's "general failure".
      {"attributes refused", Step::SetAttributes, ERROR_GEN_FAILURE, false, false, fs::Placed::New, "new",
       fs::kLostAttributes, true},
      // Windows without the POSIX rename (older systems, FAT, many servers).
      {"posix rename refused", Step::PosixRename, ERROR_INVALID_PARAMETER, true, true, fs::Placed::Replaced, "new", 0,
       true},
      // A share whose client renames nothing Wine has open, which is every
      // file Wine renames: the copy is written under its own name.
      {"renames nothing, new", Step::RenameByName, ERROR_LOCK_VIOLATION, false, false, fs::Placed::New, "new", 0, true},
      {"renames nothing, taken", Step::RenameByName, ERROR_LOCK_VIOLATION, true, false, fs::Placed::Taken, "old", 0,
       true},
      {"renames nothing, replace", Step::RenameByName, ERROR_LOCK_VIOLATION, true, true, fs::Placed::Replaced, "new", 0,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Faults faults;
    fs::faults::Inject(c.step, c.code);
    if (c.step == Step::RenameByName) fs::faults::Inject(Step::RenameOpenFile, c.code);
    fs::TraitsOf(dir / L"").renamesProven = true;  // an earlier copy took its name here
    const std::wstring target = dir / L"t.txt";
    if (c.standing) WriteBytes(target, "old");
    {
      fs::PendingCopy copy;
      ASSERT_TRUE(copy.Write(dir / L"src.txt", dir / L"", nullptr, nullptr, nullptr));
      EXPECT_EQ(copy.PlaceAs(L"t.txt", c.replace), c.placed);
      EXPECT_EQ(copy.Losses(), c.lost);
      if (c.placed == fs::Placed::Taken) EXPECT_EQ(copy.PlaceAs(L"t_1.txt", false), fs::Placed::New);
    }
    EXPECT_EQ(ReadBytes(target), c.after);
    EXPECT_EQ(Temporaries(dir / L""), 0u);
    EXPECT_TRUE(ListEntries(dir / L"*.aside", fs::kMaskAll).empty());
    fs::VolumeTraits& volume = fs::TraitsOf(dir / L"");
    const bool refuses = c.step == Step::RenameOpenFile ? !volume.renamesOpenFiles
                         : c.step == Step::RenameByName  ? volume.renamesNothing.load()
                         : c.step == Step::SetAttributes ? !volume.keepsAttributes
                                                         : !volume.posixRename;
    EXPECT_EQ(refuses, c.learned);
    SetAttributes(target, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(target.c_str());
    SetAttributes(dir / L"t_1.txt", FILE_ATTRIBUTE_NORMAL);
    DeleteFileW((dir / L"t_1.txt").c_str());
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
  EXPECT_TRUE(fs::TraitsOf(dir / L"").keepsAttributes);
  // The old target is held without sharing: the rename by handle is refused
  // as a refusing volume's would be, but moved aside by name it cannot be
  // either, and it stays.
  fs::faults::Clear();
  {
    fs::FileHandle held(CreateFileW((dir / L"t.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    fs::PendingCopy copy;
    ASSERT_TRUE(copy.Write(dir / L"src.txt", dir / L"", nullptr, nullptr, nullptr));
    EXPECT_EQ(copy.PlaceAs(L"t.txt", true), fs::Placed::Failed);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  }
  EXPECT_TRUE(fs::TraitsOf(dir / L"").renamesOpenFiles);
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
    fs::TraitsOf(dir / L"").renamesNothing = true;
    fs::PendingCopy inPlace;
    ASSERT_TRUE(inPlace.Write(dir / L"src.bin", dir / L"", nullptr, nullptr, nullptr));
    EXPECT_EQ(inPlace.PlaceAs(L"secret.bin", false), fs::Placed::Failed);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ENCRYPTION_FAILED));
  }
  EXPECT_FALSE(Exists(dir / L"secret.bin"));
  EXPECT_EQ(Temporaries(dir / L""), 0u);
  {
    Faults faults;
    fs::faults::Inject(Step::SourceAttributes, FILE_ATTRIBUTE_SPARSE_FILE);
    fs::PendingCopy copy;
    ASSERT_TRUE(copy.Write(dir / L"src.bin", dir / L"", nullptr, nullptr, nullptr));
    EXPECT_EQ(copy.PlaceAs(L"sparse.bin", false), fs::Placed::New);
  }
  EXPECT_EQ(ReadBytes(dir / L"sparse.bin"), sparse);  // the holes read as the zeros they were
  {
    Faults faults;
    fs::faults::Inject(Step::SourceStream, 0);
    fs::faults::Inject(Step::MarkedRefusesOpen, 0);
    fs::PendingCopy copy;
    ASSERT_TRUE(copy.Write(dir / L"src.bin", dir / L"", nullptr, nullptr, nullptr)) << GetLastError();
    EXPECT_EQ(copy.PlaceAs(L"streamed.bin", false), fs::Placed::New);
  }
  for (const fs::Entry& e : ListEntries(dir / L"~quillmere-*:qm", fs::kMaskAll))  // the stream's stand-in
    DeleteFileW((dir / e.name).c_str());
}

// Temporaries a dead process of this computer left are swept; another
// computer's, a live process's and one still held open stay.
TEST(SweepTemporaries, TakesOnlyWhatTheDeadOfThisComputerLeft) {
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
  auto temporary = [&](const std::wstring& who, DWORD pid, uint64_t start, int n) {
    return L"~quillmere-" + who + L"-" + hex(pid) + L"-" + hex(start) + L"-" + std::to_wstring(n) + L".part";
  };
  const std::wstring dead = temporary(computer, child.dwProcessId, deadStart, 1),
                     deadHeld = temporary(computer, child.dwProcessId, deadStart, 2),
                     deadDashed = temporary(L"OTHER-" + computer, child.dwProcessId, deadStart, 3),
                     live = temporary(computer, GetCurrentProcessId(), myStart, 4),
                     reused = temporary(computer, GetCurrentProcessId(), myStart + 1, 5);  // the id went to us since
  CloseHandle(child.hProcess);
  for (const auto& n : {dead, deadHeld, deadDashed, live, reused}) WriteBytes(dir / n, "x");
  fs::FileHandle held(CreateFileW((dir / deadHeld).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(fs::SweepTemporaries(dir / L""), 2u);
  EXPECT_FALSE(fs::Exists(dir / dead));
  EXPECT_FALSE(fs::Exists(dir / reused));
  EXPECT_TRUE(fs::Exists(dir / deadHeld));
  EXPECT_TRUE(fs::Exists(dir / deadDashed));
  EXPECT_TRUE(fs::Exists(dir / live));
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
    EXPECT_EQ(copy.PlaceAs(L"copy.txt", true), fs::Placed::New);
    const std::string copied = ReadBytes(dir / L"copy.txt");
    EXPECT_EQ(copied, change == Shrink ? original.substr(0, 70000) : original) << int(change);
    EXPECT_EQ(GetWriteTime(dir / L"copy.txt"), 130000000000000000ull);
    EXPECT_EQ(copy.Changed(), change != None) << int(change);
    DeleteFileW((dir / L"copy.txt").c_str());
  }
}

}  // namespace
