#include <gtest/gtest.h>

#include <algorithm>

#include "common/Text.h"
#include "common/StopSignal.h"
#include "fs/FileCopy.h"
#include "fs/OwnFiles.h"
#include "fs/FileSystem.h"
#include "tests/support/TestSupport.h"

namespace {

std::vector<std::wstring> Names(const std::vector<fs::Entry>& entries) {
  std::vector<std::wstring> names;
  for (auto& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ListEntries, MasksLeaveOutSystemButKeepHiddenAndFolders) {
  TempDir dir;
  WriteBytes(dir / L"plain.txt", "p");
  WriteBytes(dir / L"hidden.txt", "h");
  WriteBytes(dir / L"system.txt", "s");
  WriteBytes(dir / L"ro.txt", "r");
  MakeDir(dir / L"sub");
  MakeDir(dir / L"sysdir");
  SetAttributes(dir / L"hidden.txt", FILE_ATTRIBUTE_HIDDEN);
  SetAttributes(dir / L"system.txt", FILE_ATTRIBUTE_SYSTEM);
  SetAttributes(dir / L"ro.txt", FILE_ATTRIBUTE_READONLY);
  SetAttributes(dir / L"sysdir", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM);

  EXPECT_EQ(Names(ListEntries(dir / L"*.*", fs::kMaskAll)),
            (std::vector<std::wstring>{L".", L"..", L"hidden.txt", L"plain.txt", L"ro.txt", L"sub", L"sysdir",
                                       L"system.txt"}));
  EXPECT_EQ(Names(ListEntries(dir / L"*.*", fs::kMaskNoSystem)),
            (std::vector<std::wstring>{L".", L"..", L"hidden.txt", L"plain.txt", L"ro.txt", L"sub"}));
  // Without the directory bit in the mask, folders go too.
  EXPECT_EQ(Names(ListEntries(dir / L"*.*", FILE_ATTRIBUTE_HIDDEN)),
            (std::vector<std::wstring>{L"hidden.txt", L"plain.txt", L"ro.txt"}));
  EXPECT_TRUE(ListEntries(dir / L"missing\\*.*", fs::kMaskAll).empty());
}

TEST(IsFileIsFolder, FoldersFilesWildcardsAndBackslashes) {
  TempDir dir;
  WriteBytes(dir / L"data\\a.txt", "a");
  MakeDir(dir / L"data\\only.dir");
  struct Case {
    std::wstring path;
    bool file, folder;
  } cases[] = {
      {dir / L"data\\a.txt", true, false},
      {dir / L"data", false, true},
      {dir / L"data\\", false, true},
      {dir / L"data\\*.txt", true, false},
      {dir / L"data\\*.dir", false, false},
      {dir / L"data\\missing.txt", false, false},
      {L"", false, false},
      {L"C:\\windows\\", false, true},
  };
  for (auto& c : cases) {
    EXPECT_EQ(fs::IsFile(c.path), c.file) << Narrow(c.path);
    EXPECT_EQ(fs::IsFolder(c.path), c.folder) << Narrow(c.path);
  }
}

TEST(IsFile, CountsAFileWhateverItsTimeStamp) {
  TempDir dir;
  WriteBytes(dir / L"old.txt", "x");
  SetWriteTime(dir / L"old.txt", 1000);  // 1601: no DOS date exists for it
  EXPECT_TRUE(fs::IsFile(dir / L"old.txt"));
}

TEST(MakeFolderPath, CreatesNestedFoldersAndRefusesEmptyPath) {
  TempDir dir;
  EXPECT_TRUE(fs::MakeFolderPath(dir / L"a\\b\\c\\"));
  EXPECT_TRUE(fs::IsFolder(dir / L"a\\b\\c"));
  EXPECT_TRUE(fs::MakeFolderPath(dir / L"a\\b"));  // already there
  WriteBytes(dir / L"file", "f");
  EXPECT_FALSE(fs::MakeFolderPath(dir / L"file\\sub"));
  EXPECT_FALSE(fs::MakeFolderPath(L""));
}

TEST(PathParts, NameExtensionAndLastSeparator) {
  struct Case {
    std::wstring path, name, extension;
  } cases[] = {
      {L"C:\\x\\a.tar.gz", L"a.tar.gz", L".gz"},
      {L"C:\\x\\README", L"README", L""},
      {L"C:\\x\\.profile", L".profile", L".profile"},
      {L"C:\\dir.v2\\readme", L"readme", L""},
      {L"C:\\", L"", L""},
      {L"C:a.txt", L"a.txt", L".txt"},
      {L"plain", L"plain", L""},
      {L"C:\\数据\\报告.doc", L"报告.doc", L".doc"},
  };
  for (auto& c : cases) {
    EXPECT_EQ(fs::NamePart(c.path), c.name) << Narrow(c.path);
    EXPECT_EQ(fs::ExtensionPart(c.path), c.extension) << Narrow(c.path);
  }
  EXPECT_EQ(fs::LastSeparator(L"\\", L"C:\\a\\b"), 5u);
  EXPECT_EQ(fs::LastSeparator(L"\\:", L"C:b"), 2u);
  EXPECT_EQ(fs::LastSeparator(L"\\", L"abc"), 0u);
}

TEST(CanEnterFolder, SaysWhyByItsCode) {
  TempDir dir;
  WriteBytes(dir / L"file", "f");
  std::wstring saved = CurrentFolder();
  auto codeOf = [](const std::wstring& path) -> DWORD { return fs::CanEnterFolder(path) ? 0 : GetLastError(); };
  EXPECT_EQ(codeOf(dir / L"missing"), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(codeOf(dir / L"file"), DWORD(ERROR_DIRECTORY));
  EXPECT_EQ(codeOf(dir.path()), 0u);
  EXPECT_EQ(CurrentFolder(), saved);  // entering is only tested, never done
}

TEST(SystemPath, LongPathsGetTheirExtendedForm) {
  const std::wstring deep = L"C:\\" + std::wstring(250, L'a') + L"\\f.txt";
  const std::wstring share = L"\\\\server\\share\\" + std::wstring(250, L'b');
  struct Case {
    std::wstring in, out;
  } cases[] = {
      {L"C:\\short\\f.txt", L"C:\\short\\f.txt"},        // short: as given
      {L"C:\\short\\.\\x\\..", L"C:\\short\\.\\x\\.."},  // short: never resolved
      {deep, L"\\\\?\\" + deep},                         // long: extended form
      {L"\\\\?\\" + deep, L"\\\\?\\" + deep},            // already extended
      {share, L"\\\\?\\UNC\\server\\share\\" + std::wstring(250, L'b')},
      {L"C:/" + std::wstring(250, L'a') + L"/x/../f.txt", L"\\\\?\\" + deep},  // resolved before the prefix
  };
  for (auto& c : cases) EXPECT_EQ(fs::SystemPath(c.in), c.out) << Narrow(c.in);
}

bool HoldsTemporaries(const std::wstring& folder) {
  return !ListEntries(folder + L"~quillmere-*", fs::kMaskAll).empty();
}

// What stands at the target is only looked at by the rename: each row puts
// it there after the copy is written, as another program could.
TEST(PendingCopy, WhatStandsAtTheTargetIsDecidedAtTheRename) {
  TempDir dir;
  const std::wstring folder = dir / L"";
  WriteBytes(dir / L"src.txt", "new");
  SetWriteTime(dir / L"src.txt", 130000000000000000ull);
  SetAttributes(dir / L"src.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  const std::string kFolder = "<folder>";
  struct Case {
    std::string standing;  // "" for nothing
    DWORD bits;
    bool replace;
    fs::Placed placed;
    DWORD error;
    std::string after;
  } cases[] = {
      {"", 0, false, fs::Placed::New, 0, "new"},
      {"", 0, true, fs::Placed::New, 0, "new"},
      {"old", 0, false, fs::Placed::Taken, 0, "old"},
      {"old", 0, true, fs::Placed::Replaced, 0, "new"},
      {"old", FILE_ATTRIBUTE_READONLY, true, fs::Placed::Failed, ERROR_ACCESS_DENIED, "old"},
      // Hidden and system bits hide a file, they do not protect it.
      {"old", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, true, fs::Placed::Replaced, 0, "new"},
      {kFolder, 0, false, fs::Placed::Taken, 0, kFolder},
      {kFolder, 0, true, fs::Placed::Failed, ERROR_ACCESS_DENIED, kFolder},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.standing + (c.replace ? " replace" : " keep"));
    const std::wstring target = dir / L"t.txt";
    int64_t written = 0;
    {
      fs::PendingCopy copy;
      ASSERT_TRUE(copy.Write(dir / L"src.txt", folder, nullptr, nullptr, [&](int64_t n) { written += n; }));
      EXPECT_EQ(written, 3);
      if (c.standing == kFolder) {
        MakeDir(target);
      } else if (!c.standing.empty()) {
        WriteBytes(target, c.standing);
        SetAttributes(target, c.bits);
      }
      const fs::Placement placement = copy.PlaceAs(L"t.txt", c.replace);
      EXPECT_EQ(placement.placed, c.placed);
      EXPECT_EQ(placement.error, c.error);
      if (c.placed == fs::Placed::Taken) {  // the copy waits for another name
        EXPECT_EQ(copy.PlaceAs(L"t_1.txt", false).placed, fs::Placed::New);
        EXPECT_EQ(ReadBytes(dir / L"t_1.txt"), "new");
      }
    }
    EXPECT_EQ(written, c.placed == fs::Placed::Failed ? 0 : 3);  // an unplaced copy takes its bytes back
    EXPECT_FALSE(HoldsTemporaries(folder));
    if (c.standing == kFolder) {
      EXPECT_TRUE(fs::IsFolder(target));
    } else {
      EXPECT_EQ(ReadBytes(target), c.after);
    }
    if (c.placed == fs::Placed::New || c.placed == fs::Placed::Replaced) {  // time and bits travel
      EXPECT_EQ(GetWriteTime(target), 130000000000000000ull);
      EXPECT_EQ(GetFileAttributesW(target.c_str()) & 0x07u, 0x07u);
    }
    SetAttributes(target, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(target.c_str()) || RemoveDirectoryW(target.c_str());
    SetAttributes(dir / L"t_1.txt", FILE_ATTRIBUTE_NORMAL);
    DeleteFileW((dir / L"t_1.txt").c_str());
  }
}

// A copy that cannot be made, or is stopped, leaves nothing: no temporary,
// the old target as it was, and never a name that another file holds.
TEST(PendingCopy, AFailedOrStoppedCopyLeavesNothing) {
  TempDir dir;
  const std::wstring folder = dir / L"";
  WriteBytes(dir / L"locked.txt", "source held open without sharing");
  WriteBytes(dir / L"big.bin", std::string(12u << 20, 'x'));  // three chunks
  fs::FileHandle held(CreateFileW((dir / L"locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.valid());
  // Files shaped like this process's temporary names stay untouched.
  std::vector<std::wstring> lookalikes;
  for (int n = 0; n < 64; ++n)
    lookalikes.push_back(
        dir / (L"~quillmere-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(n) + L".part"));
  for (auto& name : lookalikes) WriteBytes(name, "user data");

  struct Case {
    std::wstring source, folder;
    DWORD error;
    bool stopMidway;
  } cases[] = {
      {dir / L"locked.txt", folder, ERROR_SHARING_VIOLATION, false},
      {dir / L"missing.txt", folder, ERROR_FILE_NOT_FOUND, false},
      {dir / L"big.bin", dir / L"no folder\\", ERROR_PATH_NOT_FOUND, false},
      {dir / L"big.bin", folder, ERROR_OPERATION_ABORTED, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.source));
    StopSignal stop;
    int64_t written = 0;
    fs::PendingCopy copy;
    EXPECT_FALSE(copy.Write(c.source, c.folder, nullptr, &stop, [&](int64_t n) {
      written += n;
      if (c.stopMidway) stop.Request();  // after the first chunk
    }));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(copy.PlaceAs(L"big.bin", true).placed, fs::Placed::Failed);
  }
  EXPECT_EQ(ListEntries(dir / L"*", fs::kMaskAll).size(), 4u + lookalikes.size());  // with "." and ".."
  for (auto& name : lookalikes) EXPECT_EQ(ReadBytes(name), "user data") << Narrow(name);
}

// The names of our own files, and only they, are never taken for data.
TEST(PendingCopy, OwnFileNames) {
  for (const wchar_t* name : {L"~quillmere-32-c86b86c809d18bd8-0.part", L"~QUILLMERE-1.PART", L"~quillmere-PC-1-2-3.old",
                              L"~quillmere-PC-1-2-3.journal", L"~quillmere-PC-1-2-3.aside", L"~quillmere-PC-1-2-3.probe"})
    EXPECT_TRUE(fs::IsOwnFileName(name)) << Narrow(name);
  for (const wchar_t* name : {L"~quillmere-.part", L"quillmere-1.part", L"~quillmere-1.part.txt", L"a.part", L"~quillmere-1.journal.bak"})
    EXPECT_FALSE(fs::IsOwnFileName(name)) << Narrow(name);
}

TEST(Look, ReadsTheTimeAndLengthOfAFileHeldWithoutSharing) {
  TempDir dir;
  WriteBytes(dir / L"a", "abc");
  SetWriteTime(dir / L"a", 140000000000000000ull);
  // Read even while another program holds the file without sharing.
  fs::FileHandle held(
      CreateFileW((dir / L"a").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.valid());
  auto look = fs::Look(dir / L"a");
  ASSERT_TRUE(look);
  EXPECT_EQ(look->writeTime, 140000000000000000ull);
  EXPECT_EQ(look->size, 3u);
  EXPECT_FALSE(fs::Look(dir / L"missing"));
}

// Every code has a reason to show, one line long: a device that fails a
// read with a code Wine has no words for (433, a terminal) included.
TEST(SystemErrorText, EveryCodeHasAReason) {
  for (DWORD code : {DWORD(ERROR_FILE_NOT_FOUND), DWORD(433), DWORD(0xDEAD)}) {
    const std::wstring text = fs::SystemErrorText(code);
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_EQ(text.find_first_of(L"\r\n"), std::wstring::npos) << code;
  }
}

// A listed name that a plain path would read otherwise keeps its meaning.
TEST(ChildPath, NamesAPlainPathWouldAlterTakeTheLiteralForm) {
  struct Case {
    std::wstring folder, name, path;
  } cases[] = {
      {L"C:\\d\\", L"a.txt", L"C:\\d\\a.txt"},
      {L"C:\\d\\", L"..", L"C:\\d\\.."},
      {L"C:\\d\\", L"a.", L"\\\\?\\C:\\d\\a."},
      {L"C:\\d\\", L"a ", L"\\\\?\\C:\\d\\a "},
      {L"C:\\d\\", L"Aux.h", L"\\\\?\\C:\\d\\Aux.h"},
      {L"C:\\d\\", L"com7", L"\\\\?\\C:\\d\\com7"},
      {L"C:\\d\\", L"console", L"C:\\d\\console"},
      {L"C:\\d\\", L"com10", L"C:\\d\\com10"},
      {L"\\\\srv\\share\\", L"x.", L"\\\\?\\UNC\\srv\\share\\x."},
      {L"\\\\?\\C:\\d.\\", L"x.", L"\\\\?\\C:\\d.\\x."},
  };
  for (auto& c : cases) EXPECT_EQ(fs::ChildPath(c.folder, c.name), c.path) << Narrow(c.name);
  // A whole path as written, when nothing in it needs resolving.
  struct Literal {
    std::wstring path;
    std::optional<std::wstring> literal;
  } literals[] = {
      {L"C:\\d\\aux.h", L"\\\\?\\C:\\d\\aux.h"},
      {L"C:\\d\\keep.\\", L"\\\\?\\C:\\d\\keep."},
      {L"\\\\srv\\s\\x ", L"\\\\?\\UNC\\srv\\s\\x "},
      {L"\\\\?\\C:\\x.", L"\\\\?\\C:\\x."},
      {L"C:\\d\\..\\x", std::nullopt},
      {L"C:\\d\\\\x", std::nullopt},
      {L"C:\\d/x", std::nullopt},
      {L"d\\x", std::nullopt},
      {L"\\\\.\\aux", std::nullopt},
  };
  for (auto& c : literals) EXPECT_EQ(fs::LiteralPath(c.path), c.literal) << Narrow(c.path);
}

TEST(ResolvePath, EverySpellingNamesItsPlace) {
  struct Case {
    std::wstring path, place;
    bool wholeDrive;
  } cases[] = {
      {L"C:\\e\\src", L"C:\\e\\src", false},
      {L"C:\\e\\src\\", L"C:\\e\\src", false},
      {L"C:\\e\\.\\src", L"C:\\e\\src", false},
      {L"C:\\e\\\\src", L"C:\\e\\src", false},
      {L"C:\\e/src", L"C:\\e\\src", false},
      {L"C:\\e\\src.", L"C:\\e\\src", false},
      {L"C:\\e\\src . ", L"C:\\e\\src", false},
      {L"C:\\e\\x\\..\\src\\\\", L"C:\\e\\src", false},
      {L"Q:\\", L"Q:\\", true},
      {L"Q:\\.", L"Q:\\", true},
      {L"Q:\\sub\\..", L"Q:\\", true},
      {L"Q:\\a\\..\\..\\..", L"Q:\\", true},
      {L"Q:/", L"Q:\\", true},
      {L"\\\\.\\Q:", L"Q:\\", true},  // the drive, not its current folder
      {L"\\\\srv\\share\\", L"\\\\srv\\share", true},
      {L"\\\\srv\\share\\x", L"\\\\srv\\share\\x", false},
      {L"C:\\e\\aux", L"\\\\.\\aux", false},  // a device
  };
  for (auto& c : cases) {
    EXPECT_EQ(fs::ResolvePath(c.path), c.place) << Narrow(c.path);
    EXPECT_EQ(fs::IsWholeDrive(c.path), c.wholeDrive) << Narrow(c.path);
  }
  EXPECT_TRUE(fs::SameResolvedPath(L"C:\\E\\SRC\\", L"c:\\e\\.\\src"));
  EXPECT_FALSE(fs::SameResolvedPath(L"C:\\e\\src", L"C:\\e\\src2"));
  EXPECT_TRUE(fs::SameResolvedPath(L"\\\\?\\C:\\e\\src", L"C:\\e\\src"));
  EXPECT_TRUE(fs::IsWholeDrive(L"\\\\.\\C:\\"));
  EXPECT_TRUE(fs::IsWholeDrive(L"\\\\?\\C:\\"));
  EXPECT_FALSE(fs::IsWholeDrive(L"C:\\windows"));
  ASSERT_EQ(GetFileAttributesW(L"C:\\qm-links\\toroot") & 0x410, 0x410u) << "link fixture missing";
  EXPECT_TRUE(fs::IsWholeDrive(L"C:\\qm-links\\toroot"));
}

TEST(IsDevice, ADevicesNameWhereverItStands) {
  struct Case {
    std::wstring path;
    bool device;
  } cases[] = {
      {L"NUL", true},
      {L"nul.lst", true},
      {L"C:\\e\\con.lst", true},
      {L"COM1", true},
      {L"\\\\.\\PhysicalDrive0", true},
      {L"\\\\?\\COM1", true},
      {L"C:\\e\\console.lst", false},
      {L"\\\\?\\C:\\e\\nul.", false},  // taken as written: a file's name
      {L"\\\\.\\C:\\e", false},
      {L"\\\\.\\C:", false},
      {L"\\\\?\\UNC\\srv\\share\\x", false},
      {L"\\\\?\\Volume{0f1e2d3c-0000-0000-0000-000000000000}\\x", false},
      {L"", false},
  };
  for (auto& c : cases) EXPECT_EQ(fs::IsDevice(c.path), c.device) << Narrow(c.path);
}

// A failed write, a read-only file or a device leaves what stood there, and
// no temporary.
TEST(WriteWholeFile, ReplacesWholeOrNotAtAll) {
  TempDir dir;
  EXPECT_EQ(fs::WriteWholeFile(dir / L"f", "one"), fs::WholeWrite::Done);
  EXPECT_EQ(fs::WriteWholeFile(dir / L"f", "two"), fs::WholeWrite::Done);
  EXPECT_EQ(ReadBytes(dir / L"f"), "two");
  SetAttributes(dir / L"f", FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(fs::WriteWholeFile(dir / L"f", "three"), fs::WholeWrite::NotMade);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadBytes(dir / L"f"), "two");
  EXPECT_EQ(fs::WriteWholeFile(dir / L"nul.lst", "x"), fs::WholeWrite::NotMade);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_DEVICE));
  EXPECT_EQ(fs::WriteWholeFile(dir / L"missing\\f", "x"), fs::WholeWrite::NotMade);
  EXPECT_EQ(Names(ListEntries(dir / L"*", fs::kMaskAll)), (std::vector<std::wstring>{L".", L"..", L"f"}));
  SetAttributes(dir / L"f", FILE_ATTRIBUTE_NORMAL);
}

TEST(FileHandle, MovingOverAHandleKeepsTheLastError) {
  TempDir dir;
  WriteBytes(dir / L"f", "f");
  // A handle already closed: closing it again fails with an error of its own.
  HANDLE closed = CreateFileW((dir / L"f").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  CloseHandle(closed);
  fs::FileHandle handle(closed);
  SetLastError(ERROR_DISK_FULL);
  handle = fs::FileHandle();
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
}

TEST(RemoveHeld, RemovesWhatItHoldsReadOnlyIncludedButNoFolderThatHoldsSomething) {
  TempDir dir;
  WriteBytes(dir / L"ro", "x");
  SetAttributes(dir / L"ro", FILE_ATTRIBUTE_READONLY);
  MakeDir(dir / L"d\\e");
  {
    fs::FileHandle file = fs::OpenForRemoval(dir / L"ro"), full = fs::OpenForRemoval(dir / L"d");
    EXPECT_TRUE(fs::RemoveHeld(file, FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(fs::RemoveHeld(full, FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIR_NOT_EMPTY));
    EXPECT_TRUE(fs::RemoveHeld(fs::OpenForRemoval(dir / L"d\\e"), FILE_ATTRIBUTE_DIRECTORY));
  }
  EXPECT_FALSE(Exists(dir / L"ro"));
  EXPECT_FALSE(Exists(dir / L"d\\e"));
  EXPECT_TRUE(fs::IsFolder(dir / L"d"));
  // A file another program holds without sharing cannot be taken.
  WriteBytes(dir / L"busy", "b");
  HANDLE busy = CreateFileW((dir / L"busy").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_FALSE(fs::OpenForRemoval(dir / L"busy").valid());
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  CloseHandle(busy);
}

}  // namespace

// A copy whose process is killed midway leaves nothing: the system removes
// the temporary as the process's handles close.
TEST(PendingCopy, AKilledCopyLeavesNothing) {
  TempDir dir;
  WriteBytes(dir / L"src\\big.bin", std::string(4u << 20, 'x'));
  MakeDir(dir / L"dst");
  EXPECT_TRUE(CopyKilledAt(fs::faults::Point::TemporaryWritten, false, dir / L"src\\big.bin", dir / L"dst"));
  EXPECT_EQ(ListEntries(dir / L"dst\\*", fs::kMaskAll).size(), 2u);  // "." and ".."
}

// A disk that fills up midway: the copy fails with the system's reason and
// leaves nothing, the temporary included.
TEST(PendingCopy, AFullDiskLeavesNothing) {
  const std::wstring full = L"C:\\qm-links\\full\\";
  ULARGE_INTEGER available, total;
  if (!GetDiskFreeSpaceExW(full.c_str(), &available, &total, nullptr) || total.QuadPart > (1u << 20))
    GTEST_SKIP() << "no small volume mounted at " << Narrow(full);
  TempDir dir;
  WriteBytes(dir / L"big.bin", std::string(1u << 20, 'x'));
  int64_t written = 0;
  {
    fs::PendingCopy copy;
    EXPECT_FALSE(copy.Write(dir / L"big.bin", full, nullptr, nullptr, [&](int64_t n) { written += n; }));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
  }
  EXPECT_EQ(written, 0);
  EXPECT_EQ(ListEntries(full + L"*", fs::kMaskAll).size(), 2u);  // "." and ".."
}
