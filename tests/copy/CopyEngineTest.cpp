#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "common/AppError.h"
#include "common/Text.h"
#include "copy/CopyEngine.h"
#include "copy/Emptying.h"
#include "fs/FileCopy.h"
#include "fs/OwnFiles.h"
#include "fs/FileSystem.h"
#include "fs/Volume.h"
#include "copy/Rehearsal.h"
#include "tests/support/TestSupport.h"

using namespace copy;
using enum copy::SameFileMode;

namespace {

// Answers the Ask question from a queue and records every question.
struct Asker {
  std::vector<std::wstring> asked;
  std::deque<bool> answers;
  CopyObserver observer{[this](const std::wstring& target) {
    asked.push_back(target);
    bool a = answers.empty() ? false : answers.front();
    if (!answers.empty()) answers.pop_front();
    return a ? Answer::Yes : Answer::No;
  }};
  copy::CopyContext Context(SameFileMode mode) { return {mode, &observer}; }
};

// Requests the stop after a few seconds unless it goes out of scope first.
class Deadline {
 public:
  explicit Deadline(StopSignal& stop)
      : thread_([this, &stop] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!done_.wait_for(lock, std::chrono::seconds(10), [this] { return over_; })) stop.Request();
        }) {}
  ~Deadline() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      over_ = true;
    }
    done_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool over_ = false;
  std::thread thread_;
};

std::vector<std::wstring> TreeOf(const std::wstring& root, const std::wstring& rel = L"") {
  std::vector<std::wstring> out;
  for (auto& e : ListEntries(root + rel + L"*.*", fs::kMaskAll)) {
    if (e.name == L"." || e.name == L"..") continue;
    if (e.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      out.push_back(rel + e.name + L"\\");
      auto sub = TreeOf(root, rel + e.name + L"\\");
      out.insert(out.end(), sub.begin(), sub.end());
    } else {
      out.push_back(rel + e.name);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(CopyOneFile, EveryPolicyWithTargetAbsentAndPresent) {
  struct Case {
    SameFileMode mode;
    bool targetPresent;
    std::deque<bool> answers;
    std::string expectTarget;    // contents of dst\a.txt afterwards
    std::string expectNumbered;  // contents of dst\a_1.txt, "<missing>" when absent
    size_t questions;
  } cases[] = {
      {Overwrite, false, {}, "new", "<missing>", 0}, {Overwrite, true, {}, "new", "<missing>", 0},
      {Skip, false, {}, "new", "<missing>", 0},      {Skip, true, {}, "old", "<missing>", 0},
      {Ask, false, {}, "new", "<missing>", 0},       {Ask, true, {true}, "new", "<missing>", 1},
      {Ask, true, {false}, "old", "<missing>", 1},   {AutoNumber, false, {}, "new", "<missing>", 0},
      {AutoNumber, true, {}, "old", "new", 0},       {NewerOnly, false, {}, "new", "<missing>", 0},
  };
  for (auto& c : cases) {
    TempDir dir;
    WriteBytes(dir / L"src\\a.txt", "new");
    MakeDir(dir / L"dst");
    if (c.targetPresent) WriteBytes(dir / L"dst\\a.txt", "old");
    Asker asker;
    asker.answers = c.answers;
    CopyOneFile(dir / L"src\\a.txt", dir / L"dst\\", L"a.txt", asker.Context(c.mode));
    SCOPED_TRACE("mode " + std::to_string(int(c.mode)) + (c.targetPresent ? " present" : " absent"));
    EXPECT_EQ(ReadBytes(dir / L"dst\\a.txt"), c.expectTarget);
    EXPECT_EQ(ReadBytes(dir / L"dst\\a_1.txt"), c.expectNumbered);
    ASSERT_EQ(asker.asked.size(), c.questions);
    if (c.questions) {
      EXPECT_EQ(asker.asked[0], dir.path() + L"dst\\a.txt");
    }
  }
}

TEST(CopyOneFile, AutoNumberNames) {
  struct Case {
    std::wstring name;
    std::vector<std::wstring> present;
    std::wstring expected;
  } cases[] = {
      {L"a.txt", {L"a.txt", L"a_1.txt", L"a_2.txt"}, L"a_3.txt"},
      {L"a.txt", {L"a_1.txt"}, L"a.txt"},
      {L"report.doc", {L"report.doc", L"report_2.doc"}, L"report_1.doc"},
      {L"archive.tar.gz", {L"archive.tar.gz"}, L"archive.tar_1.gz"},
      {L"README", {L"README"}, L"README_1"},
      {L".profile", {L".profile"}, L"_1.profile"},
      {L"报告.doc", {L"报告.doc"}, L"报告_1.doc"},
  };
  for (auto& c : cases) {
    TempDir dir;
    for (auto& p : c.present) WriteBytes(dir / p, "x");
    EXPECT_EQ(FreeNumberedName(dir.path(), c.name), c.expected) << Narrow(c.name);
  }
  // A folder holds its name as a file would; a name too long once numbered is said to be so.
  TempDir dir;
  MakeDir(dir / L"a.txt");
  EXPECT_EQ(FreeNumberedName(dir.path(), L"a.txt"), L"a_1.txt");
  const std::wstring longest(251, L'n');
  WriteBytes(dir / L"src\\" + longest + L".txt", "l");
  WriteBytes(dir / longest + L".txt", "l");
  RunReport report;
  const CopyObserver observer{nullptr, nullptr, &report};
  CopyOneFile(dir / L"src\\" + longest + L".txt", dir.path(), longest + L".txt", {AutoNumber, &observer});
  ASSERT_EQ(report.FailureCount(), 1u);
  EXPECT_EQ(report.FirstFailures()[0].code, DWORD(ERROR_FILENAME_EXCED_RANGE));
  // Copying into its own folder makes a numbered duplicate.
  WriteBytes(dir / L"x.txt", "x");
  Asker asker;
  CopyOneFile(dir / L"x.txt", dir.path(), L"x.txt", asker.Context(AutoNumber));
  EXPECT_EQ(ReadBytes(dir / L"x_1.txt"), "x");
}

TEST(CopyOneFile, NewerOnlyComparesLastWriteTimes) {
  const uint64_t t = 133000000000000000ull;
  struct Case {
    uint64_t source, target;
    std::string expected;
  } cases[] = {
      {t, t + 10000000, "old"},  // target newer: kept
      {t, t, "old"},             // equal: kept, so an unchanged file is not written again
      // Under Wine no volume's file system is believed: FAT's 2 s decide,
      // whatever parts of a second the times show.
      {t + 10000000, t, "old"},
      {t + 20000000, t, "new"},
      {t + 5000000, t + 2500000, "old"},
      {t + 25000000, t + 2500000, "new"},
  };
  for (auto& c : cases) {
    fs::faults::Clear();
    TempDir dir;
    WriteBytes(dir / L"s\\f", "new");
    WriteBytes(dir / L"d\\f", "old");
    SetWriteTime(dir / L"s\\f", c.source);
    SetWriteTime(dir / L"d\\f", c.target);
    Asker asker;
    CopyOneFile(dir / L"s\\f", dir / L"d\\", L"f", asker.Context(NewerOnly));
    EXPECT_EQ(ReadBytes(dir / L"d\\f"), c.expected);
  }
  // An older target held open without sharing: its time is read, and the
  // refused replace is reported, never kept in silence.
  TempDir dir;
  WriteBytes(dir / L"s\\f", "new");
  WriteBytes(dir / L"d\\f", "old");
  SetWriteTime(dir / L"d\\f", t);
  HANDLE lock = CreateFileW((dir / L"d\\f").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  Asker asker;
  RunReport report;
  asker.observer.report = &report;
  CopyOneFile(dir / L"s\\f", dir / L"d\\", L"f", asker.Context(NewerOnly));
  CloseHandle(lock);
  EXPECT_EQ(ReadBytes(dir / L"d\\f"), "old");
  EXPECT_EQ(report.FailureCount(), 1u);
}

// Retries take only a copy that was not placed. A refusal after the copy
// has its name (the read-only bit here) is a loss, never a failure: no twin
// under 自动编号, no "kept" under 跳过. A failure keeps its system's reason.
TEST(RunCopy, APlacedCopyIsNeverTriedAgainAndAFailureKeepsItsReason) {
  struct Case {
    const char* what;
    SameFileMode mode;
    bool held;  // the target stands, held without sharing
    std::vector<std::wstring> after;
    FileOutcome counted;
    DWORD failure;
  } cases[] = {
      {"number, refused after the name", AutoNumber, false, {L"a.txt"}, FileOutcome::Copied, 0},
      {"skip, refused after the name", Skip, false, {L"a.txt"}, FileOutcome::Copied, 0},
      {"overwrite onto a held target", Overwrite, true, {L"a.txt"}, FileOutcome::Kept, ERROR_SHARING_VIOLATION},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    WriteBytes(dir / L"s\\a.txt", "new");
    SetAttributes(dir / L"s\\a.txt", FILE_ATTRIBUTE_READONLY);
    MakeDir(dir / L"d");
    fs::FileHandle held;
    if (c.held) {
      WriteBytes(dir / L"d\\a.txt", "old");
      held = fs::FileHandle(CreateFileW((dir / L"d\\a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    fs::faults::Clear();
    fs::faults::Inject(fs::faults::Step::SetAttributes, ERROR_ACCESS_DENIED);
    RunReport report;
    CopyJob job{{dir / L"s\\a.txt"}, {dir / L"d\\"}, c.mode};
    job.retry = {2, 0};
    RunCopy(job, {nullptr, nullptr, &report});
    fs::faults::Clear();
    held = fs::FileHandle();
    EXPECT_EQ(TreeOf(dir / L"d\\"), c.after);
    ASSERT_EQ(report.FailureCount(), c.failure ? 1u : 0u);
    if (c.failure) EXPECT_EQ(report.FirstFailures()[0].code, c.failure);
    else EXPECT_EQ(report.Count(c.counted), 1u);
    EXPECT_EQ(ReadBytes(dir / L"d\\a.txt"), c.held ? "old" : "new");
    SetAttributes(dir / L"d\\a.txt", FILE_ATTRIBUTE_NORMAL);
  }
}

TEST(CopyOneFile, AskAndAutoNumberSeeAFileWhateverItsTimeStamp) {
  TempDir dir;
  WriteBytes(dir / L"s\\f.txt", "new");
  WriteBytes(dir / L"d\\f.txt", "old");
  SetWriteTime(dir / L"d\\f.txt", 1000);  // before 1980: no DOS date
  Asker asker;
  asker.answers = {false};
  CopyOneFile(dir / L"s\\f.txt", dir / L"d\\", L"f.txt", asker.Context(Ask));
  EXPECT_EQ(asker.asked.size(), 1u);
  EXPECT_EQ(ReadBytes(dir / L"d\\f.txt"), "old");
  CopyOneFile(dir / L"s\\f.txt", dir / L"d\\", L"f.txt", asker.Context(AutoNumber));
  EXPECT_EQ(ReadBytes(dir / L"d\\f.txt"), "old");
  EXPECT_EQ(ReadBytes(dir / L"d\\f_1.txt"), "new");
}

TEST(CopyFolderTree, CopiesTheWholeTreeInEitherSpelling) {
  for (const wchar_t* suffix : {L"", L"\\"}) {
    TempDir dir;
    WriteBytes(dir / L"a\\x.txt", "x");
    WriteBytes(dir / L"a\\sub\\y.txt", "y");
    MakeDir(dir / L"a\\empty");
    WriteBytes(dir / L"a\\h.txt", "h");
    WriteBytes(dir / L"a\\s.txt", "s");
    MakeDir(dir / L"a\\hid");
    WriteBytes(dir / L"a\\hid\\z.txt", "z");
    SetAttributes(dir / L"a\\h.txt", FILE_ATTRIBUTE_HIDDEN);
    SetAttributes(dir / L"a\\s.txt", FILE_ATTRIBUTE_SYSTEM);
    SetAttributes(dir / L"a\\hid", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
    Asker asker;
    std::wstring saved = CurrentFolder();
    EXPECT_TRUE(CopyFolderTree(dir / L"a" + suffix, dir / L"out\\deep\\a", asker.Context(Overwrite)));
    EXPECT_EQ(CurrentFolder(), saved);
    EXPECT_EQ(TreeOf(dir / L"out\\deep\\a\\"),
              (std::vector<std::wstring>{L"empty\\", L"h.txt", L"hid\\", L"hid\\z.txt", L"s.txt", L"sub\\",
                                         L"sub\\y.txt", L"x.txt"}));
    EXPECT_TRUE(GetFileAttributesW((dir / L"out\\deep\\a\\h.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN);
  }
}

TEST(CopyFolderTree, EmptySourceReusedDestinationAndAskPerFile) {
  TempDir dir;
  MakeDir(dir / L"empty");
  Asker asker;
  EXPECT_TRUE(CopyFolderTree(dir / L"empty", dir / L"out", asker.Context(Overwrite)));
  EXPECT_TRUE(fs::IsFolder(dir / L"out"));

  WriteBytes(dir / L"src\\a.txt", "new a");
  WriteBytes(dir / L"src\\b.txt", "new b");
  WriteBytes(dir / L"src\\sub\\c.txt", "new c");
  WriteBytes(dir / L"dst\\a.txt", "old a");
  WriteBytes(dir / L"dst\\sub\\c.txt", "old c");
  WriteBytes(dir / L"dst\\keep.txt", "keep");
  asker.answers = {true, false};
  CopyFolderTree(dir / L"src", dir / L"dst", asker.Context(Ask));
  ASSERT_EQ(asker.asked.size(), 2u);  // b.txt was absent: no question
  EXPECT_EQ(ReadBytes(dir / L"dst\\keep.txt"), "keep");
  EXPECT_EQ(ReadBytes(dir / L"dst\\b.txt"), "new b");
  std::map<std::wstring, std::string> byQuestion;
  // Listing order decides which answer went where; check both files agree with their answer.
  bool aFirst = asker.asked[0].find(L"a.txt") != std::wstring::npos;
  EXPECT_EQ(ReadBytes(dir / L"dst\\a.txt"), aFirst ? "new a" : "old a");
  EXPECT_EQ(ReadBytes(dir / L"dst\\sub\\c.txt"), aFirst ? "old c" : "new c");
}

TEST(CopyFolderTree, AFolderThatCannotBeEnteredIsAFailureOfItsOwn) {
  TempDir dir;
  WriteBytes(dir / L"src\\a.txt", "a");
  WriteBytes(dir / L"src\\z\\b.txt", "b");
  // Under Wine a name ending in "." lists but cannot be entered.
  ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + dir.path() + L"src\\bad.").c_str(), nullptr));
  std::wstring saved = CurrentFolder();
  RunReport report;
  const CopyObserver observer{nullptr, nullptr, &report};
  CopyFolderTree(dir / L"src", dir / L"dst", {Overwrite, &observer});
  ASSERT_EQ(report.FailureCount(), 1u);
  const Failure failure = report.FirstFailures()[0];
  EXPECT_EQ(failure.path, dir / L"src\\bad.");
  EXPECT_EQ(failure.code, DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(failure.entering);
  EXPECT_EQ(ReadBytes(dir / L"dst\\a.txt"), "a");  // the rest of the tree went
  EXPECT_EQ(ReadBytes(dir / L"dst\\z\\b.txt"), "b");
  EXPECT_EQ(CurrentFolder(), saved);
  RemoveDirectoryW((L"\\\\?\\" + dir.path() + L"src\\bad.").c_str());
}

TEST(CopyFolderTree, NeverFeedsOnItsOwnOutput) {
  TempDir dir;
  WriteBytes(dir / L"s\\f.txt", "f");
  WriteBytes(dir / L"s\\b\\g.txt", "g");
  // The destination folder lies inside the source: s copied into s\b\ lands in s\b\s.
  Asker asker;
  CopyFolderTree(dir / L"s", dir / L"s\\b\\s", asker.Context(Overwrite), dir / L"s\\b\\s");
  EXPECT_EQ(TreeOf(dir / L"s\\"), (std::vector<std::wstring>{L"b\\", L"b\\g.txt", L"b\\s\\", L"b\\s\\b\\",
                                                             L"b\\s\\b\\g.txt", L"b\\s\\f.txt", L"f.txt"}));
}

TEST(Emptying, ActionForEachKindOfEntry) {
  struct Case {
    std::wstring name;
    DWORD attributes;
    EmptyingAction action;
  } cases[] = {
      {L".", 0x10, EmptyingAction::Skip},
      {L" .. ", 0x10, EmptyingAction::Skip},
      {L". ", 0x20, EmptyingAction::Skip},
      {L"...", 0x10, EmptyingAction::Descend},
      {L"sub", 0x16, EmptyingAction::Descend},
      {L"link", 0x410, EmptyingAction::Descend},  // told on the handle
      {L"a", 0x27, EmptyingAction::Remove},
      {L"normal", 0x80, EmptyingAction::Remove},
      {L"compressed", 0x820, EmptyingAction::Remove},
      {L"notindexed", 0x2020, EmptyingAction::Remove},
      {L"placeholder", 0x400020, EmptyingAction::Remove},
  };
  for (auto& c : cases) EXPECT_EQ(EmptyingActionFor(c.name, c.attributes), c.action) << Narrow(c.name);
}

TEST(Emptying, RemovesEverythingButListedDestinationsInAnySpelling) {
  // The nested destination as listed: by case, trailing backslash, through a
  // link to the drive's root, by its short name.
  std::function<std::wstring(const std::wstring&)> spellings[] = {
      [](auto& p) { return p + L"\\"; },
      [](auto& p) { return text::Upper(p); },
      [](auto& p) { return L"C:\\qm-links\\toroot\\" + p.substr(3); },
      [](auto& p) {
        wchar_t name[MAX_PATH];
        return std::wstring(name, GetShortPathNameW(p.c_str(), name, MAX_PATH));
      },
  };
  for (auto& spell : spellings) {
    TempDir dir;
    WriteBytes(dir / L"D\\ro.txt", "r");
    WriteBytes(dir / L"D\\hs.txt", "h");
    WriteBytes(dir / L"D\\sys\\deep\\x.txt", "x");
    WriteBytes(dir / L"D\\Keep listed\\inner\\y.txt", "y");
    SetAttributes(dir / L"D\\ro.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    SetAttributes(dir / L"D\\hs.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    SetAttributes(dir / L"D\\sys", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
    const std::wstring nested = spell(dir / L"D\\Keep listed");
    ASSERT_FALSE(nested.empty());
    EmptyRules rules({dir / L"D", nested});
    EmptyFolder(dir / L"D", rules);
    SCOPED_TRACE(Narrow(nested));
    EXPECT_TRUE(fs::IsFolder(dir / L"D"));  // listed without its trailing backslash
    EXPECT_EQ(TreeOf(dir / L"D\\"), (std::vector<std::wstring>{L"Keep listed\\"}));
  }
}

TEST(CopyFolderTree, LinksBackUpThePathAreNotFollowedInACircle) {
  const std::wstring root = L"C:\\qm-links\\loop\\";
  ASSERT_EQ(GetFileAttributesW((root + L"A\\B\\up").c_str()) & 0x410, 0x410u) << "link fixture missing";
  TempDir dir;
  Asker asker;
  CopyFolderTree(root + L"A", dir / L"A", asker.Context(Overwrite));
  EXPECT_EQ(TreeOf(dir / L"A\\"), (std::vector<std::wstring>{L"B\\", L"B\\g.txt", L"B\\up\\", L"f.txt"}));
}

// A run over a job, logging its progress; Ask is always answered Yes.
struct FakeHost : CopyJob {
  FakeHost() { mode = Overwrite; }
  std::vector<int> progress;
  void Run() {
    RunCopy(*this, {[](const std::wstring&) { return Answer::Yes; }, [this](int p) { progress.push_back(p); }});
  }
};

TEST(RunCopy, ProgressForTwoDestinationsAndThreeSources) {
  TempDir dir;
  FakeHost host;
  for (auto n : {L"a", L"b", L"c"}) {
    WriteBytes(dir / L"src\\" + n, "x");
    host.sources.push_back(dir / L"src\\" + n);
  }
  host.dests = {dir / L"d1\\", dir / L"d2"};
  MakeDir(dir / L"d1");
  MakeDir(dir / L"d2");
  host.Run();
  EXPECT_EQ(host.progress, (std::vector<int>{16, 33, 50, 66, 83, 100}));
  EXPECT_EQ(ReadBytes(dir / L"d2\\c"), "x");
}

TEST(RunCopy, ManyFilesOnTheWorkersAllArriveIntactUnderEveryIndependentPolicy) {
  for (SameFileMode mode : {Overwrite, Skip, NewerOnly}) {
    TempDir dir;
    std::vector<std::wstring> expected;
    for (int d = 0; d < 6; ++d) {
      for (int f = 0; f < 40; ++f) {
        std::wstring rel = L"d" + std::to_wstring(d) + (d % 2 ? L"\\deep\\" : L"\\") + L"f" + std::to_wstring(f);
        WriteBytes(dir / L"src\\" + rel, Narrow(rel));
        expected.push_back(rel);
      }
    }
    SetAttributes(dir / L"src\\d0\\f0", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    FakeHost host;
    host.mode = mode;
    host.sources = {dir / L"src"};
    host.dests = {dir / L"out\\"};
    host.Run();
    for (auto& rel : expected) ASSERT_EQ(ReadBytes(dir / L"out\\src\\" + rel), Narrow(rel)) << int(mode);
    EXPECT_EQ(GetFileAttributesW((dir / L"out\\src\\d0\\f0").c_str()) & 3, 3u);
    SetAttributes(dir / L"src\\d0\\f0", 0);
    SetAttributes(dir / L"out\\src\\d0\\f0", 0);
  }
}

TEST(RunCopy, FolderEntriesLandUnderTheirOwnNameInAnySpelling) {
  TempDir dir;
  WriteBytes(dir / L"photos\\p.jpg", "p");
  WriteBytes(dir / L"doc.txt", "d");
  FakeHost host;
  host.sources = {dir / L"doc.txt", dir / L"photos\\\\\\", dir / L"deleted.txt"};
  host.dests = {dir / L"backup"};  // no trailing backslash, does not exist yet
  host.Run();
  EXPECT_EQ(ReadBytes(dir / L"backup\\photos\\p.jpg"), "p");
  EXPECT_EQ(ReadBytes(dir / L"backup\\doc.txt"), "<missing>");  // file entries do not create it
  EXPECT_EQ(host.progress.size(), 3u);
}

// Emptying an outer destination spares an inner one that already had its turn.
TEST(RunCopy, EmptyingInterleavesWithTheDestinationsInListOrder) {
  for (bool outerFirst : {true, false}) {
    TempDir dir;
    WriteBytes(dir / L"src\\new.txt", "n");
    WriteBytes(dir / L"A\\old.txt", "o");
    WriteBytes(dir / L"A\\B\\oldb.txt", "o");
    FakeHost host;
    host.sources = {dir / L"src\\new.txt"};
    host.dests = outerFirst ? std::vector<std::wstring>{dir / L"A\\", dir / L"A\\B\\"}
                            : std::vector<std::wstring>{dir / L"A\\B\\", dir / L"A\\"};
    host.emptyFirst = true;
    host.Run();
    SCOPED_TRACE(outerFirst ? "A first" : "B first");
    EXPECT_EQ(TreeOf(dir / L"A\\"), (std::vector<std::wstring>{L"B\\", L"B\\new.txt", L"new.txt"}));
  }
}

TEST(RunCopy, EmptyingSparesTheRunsOwnSources) {
  TempDir dir;
  WriteBytes(dir / L"D\\inbox\\keep.txt", "k");
  WriteBytes(dir / L"D\\junk.txt", "j");
  FakeHost host;
  host.sources = {dir / L"D\\inbox\\keep.txt"};
  host.dests = {dir / L"D\\"};
  host.emptyFirst = true;
  host.mode = AutoNumber;
  host.Run();
  EXPECT_EQ(TreeOf(dir / L"D\\"), (std::vector<std::wstring>{L"inbox\\", L"inbox\\keep.txt", L"keep.txt"}));
}

TEST(RunCopy, AFolderIntoItselfIsSkippedAndTheRunEndsNormally) {
  TempDir dir;
  WriteBytes(dir / L"P\\data\\f.txt", "f");
  FakeHost host;
  host.sources = {dir / L"P\\data\\"};
  host.dests = {dir / L"P\\", dir / L"P\\DATA\\"};
  host.Run();
  EXPECT_EQ(TreeOf(dir / L"P\\"),
            (std::vector<std::wstring>{L"data\\", L"data\\data\\", L"data\\data\\f.txt", L"data\\f.txt"}));
  EXPECT_EQ(host.progress, (std::vector<int>{50, 100}));
}

// Destinations nested in each other: emptying the inner one at its turn
// spares what the outer one's turn made there, and a dry run foretells the
// run's removals exactly, each once.
TEST(RunCopy, NestedDestinationsKeepTheirOwnCopiesAndTheDryRunForetellsTheRemovals) {
  TempDir dir;
  WriteBytes(dir / L"w\\2024\\r.txt", "r");
  WriteBytes(dir / L"bk\\2024\\old\\o.txt", "o");
  WriteBytes(dir / L"bk\\junk.txt", "j");
  CopyJob job{{dir / L"w\\2024"}, {dir / L"bk", dir / L"bk\\2024"}, Overwrite, true};
  auto removals = [&](Rehearsal* rehearsal) {
    std::vector<std::wstring> removed;
    RunReport report;
    CopyObserver observer{nullptr, nullptr, &report};
    observer.rehearsal = rehearsal;
    observer.removed = [&](const std::wstring& path) { removed.push_back(path); };
    RunCopy(job, observer);
    EXPECT_EQ(report.FailureCount(), 0u);
    EXPECT_EQ(report.Read().removed, removed.size());
    return removed;
  };
  Rehearsal rehearsal;
  const std::vector<std::wstring> foretold = removals(&rehearsal);
  EXPECT_EQ(foretold, removals(nullptr));
  EXPECT_EQ(foretold.size(), 3u);  // junk.txt, old\o.txt and old: each once
  EXPECT_EQ(ReadBytes(dir / L"bk\\2024\\r.txt"), "r");  // bk's own copy survives bk\2024's turn
  EXPECT_EQ(ReadBytes(dir / L"bk\\2024\\2024\\r.txt"), "r");
  EXPECT_FALSE(Exists(dir / L"bk\\2024\\old"));
}

// A folder that cannot be entered ends nothing; and each place is taken once,
// however many names the lists give it: spellings, a second drive letter,
// Wine's Z: path, a link to the drive's root.
TEST(RunCopy, GoesOnPastAFolderThatCannotBeEnteredAndTakesEachPlaceOnce) {
  TempDir dir;
  WriteBytes(dir / L"a.txt", "a");
  WriteBytes(dir / L"s\\x.txt", "x");
  ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + dir.path() + L"s\\bad.").c_str(), nullptr));
  const std::wstring viaLink = L"C:\\qm-links\\toroot\\" + dir.path().substr(3);
  FakeHost host;
  host.mode = AutoNumber;  // a place taken twice would leave numbered twins
  host.sources = {dir / L"a.txt", dir / L"s", dir / L"A.TXT", dir / L"s\\..\\s\\",
                  ThroughSecondLetter(dir / L"a.txt"), ThroughZ(dir / L"s"), viaLink + L"a.txt"};
  host.dests = {dir / L"d1\\", dir / L"d2\\", dir / L"D1", ThroughSecondLetter(dir / L"d1"), ThroughZ(dir / L"d2"),
                viaLink + L"d1"};
  MakeDir(dir / L"d1");
  MakeDir(dir / L"d2");
  RunReport report;
  RunCopy(host, {nullptr, [&](int p) { host.progress.push_back(p); }, &report});
  EXPECT_EQ(host.progress, (std::vector<int>{25, 50, 75, 100}));
  for (const wchar_t* d : {L"d1\\", L"d2\\"})
    EXPECT_EQ(TreeOf(dir / d), (std::vector<std::wstring>{L"a.txt", L"s\\", L"s\\x.txt"})) << Narrow(d);
  ASSERT_EQ(report.FailureCount(), 2u);  // the folder, once in each destination
  RemoveDirectoryW((L"\\\\?\\" + dir.path() + L"s\\bad.").c_str());
  for (const Failure& f : report.FirstFailures()) {
    EXPECT_EQ(f.path, dir / L"s\\bad.");
    EXPECT_TRUE(f.entering);
  }
  // Two volumes without a letter share the serial 0 and their file indexes: two places.
  const std::wstring mounts = fs::ResolvePath(ThroughZ(L"C:\\") + L"..\\..\\two-mounts\\");
  if (!fs::IsFile(mounts + L"\\a\\mounted") || !fs::IsFile(mounts + L"\\b\\mounted")) return;
  RunCopy({{dir / L"a.txt"}, {mounts + L"\\a\\d", mounts + L"\\b\\d"}, AutoNumber}, {});
  for (const wchar_t* v : {L"\\a\\d\\", L"\\b\\d\\"}) {
    EXPECT_EQ(TreeOf(mounts + v), std::vector<std::wstring>{L"a.txt"});
    DeleteFileW((mounts + v + L"a.txt").c_str());
  }
}

}  // namespace

namespace {

TEST(RunCopy, TreesDeeperThanTheClassicPathLimitCopyAndEmpty) {
  TempDir dir;
  std::wstring rel;
  for (int level = 0; level < 12; ++level)
    rel += L"level_" + std::to_wstring(level) + L"_" + std::wstring(20, L'x') + L"\\";
  const std::wstring deepFile = dir / L"src\\" + rel + L"deep.txt";
  ASSERT_GT(deepFile.size(), 300u);
  WriteBytes(deepFile, "deep");
  for (SameFileMode mode : {Overwrite, AutoNumber}) {
    FakeHost host;
    host.mode = mode;
    host.sources = {dir / L"src"};
    host.dests = {dir / L"out\\"};
    host.Run();
    EXPECT_EQ(fs::ReadWholeFileDenyWriters(dir / L"out\\src\\" + rel + L"deep.txt"), std::string("deep"));
  }
  EXPECT_TRUE(fs::IsFile(dir / L"out\\src\\" + rel + L"deep_1.txt"));
  // Emptying reaches the bottom of such a tree too.
  EmptyFolder(dir / L"out\\", EmptyRules({dir / L"out\\"}));
  EXPECT_EQ(TreeOf(dir / L"out\\"), std::vector<std::wstring>{});
}

}  // namespace

namespace {

// A large file copied in order (a single file entry; Ask; AutoNumber) goes to
// a worker: it arrives whole, and a refusal is reported all the same.
TEST(RunCopy, ALargeFileInOrderArrivesWholeOrIsReported) {
  const std::string big(3 << 20, 'n');
  struct Case {
    SameFileMode mode;
    bool lockTarget;
    const wchar_t* copyName;
    std::string targetAfter;
    size_t failures;
  } cases[] = {
      {Ask, false, L"big.bin", big, 0},
      {AutoNumber, false, L"big_1.bin", "old", 0},
      {Overwrite, true, L"big.bin", "old", 1},
  };
  for (auto& c : cases) {
    TempDir dir;
    WriteBytes(dir / L"big.bin", big);
    WriteBytes(dir / L"out\\big.bin", "old");
    HANDLE lock =
        c.lockTarget ? CreateFileW((dir / L"out\\big.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                     : INVALID_HANDLE_VALUE;
    FakeHost host;
    host.mode = c.mode;
    host.sources = {dir / L"big.bin"};
    host.dests = {dir / L"out\\"};
    RunReport report;
    RunCopy(host, {[](const std::wstring&) { return Answer::Yes; }, nullptr, &report});
    if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
    SCOPED_TRACE(Narrow(c.copyName));
    EXPECT_EQ(ReadBytes(dir / L"out\\big.bin"), c.targetAfter);
    if (!c.lockTarget) {
      EXPECT_EQ(ReadBytes(dir / L"out\\" + std::wstring(c.copyName)), big);
    }
    EXPECT_EQ(report.FailureCount(), c.failures);
  }
}

// A folder copy never feeds on its own output, however the destination names
// the source's subfolder (through a link, by a short name) or the source is
// spelled.
TEST(RunCopy, NeverFeedsOnItsOwnOutputWhateverTheSpelling) {
  ASSERT_EQ(GetFileAttributesW(L"C:\\qm-links\\toroot") & 0x410, 0x410u) << "link fixture missing";
  auto throughLink = [](const std::wstring& path) { return L"C:\\qm-links\\toroot\\" + path.substr(3); };
  auto shortName = [](const std::wstring& path) {
    wchar_t name[MAX_PATH];
    return std::wstring(name, GetShortPathNameW(path.c_str(), name, MAX_PATH));
  };
  for (int spelling = 0; spelling < 4; ++spelling) {
    TempDir dir;
    const std::wstring source = dir / L"source folder", inner = dir / L"source folder\\inner folder";
    WriteBytes(source + L"\\f.txt", "f");
    MakeDir(inner);
    FakeHost host;
    host.sources = {spelling == 2 ? throughLink(source) : spelling == 3 ? shortName(source) : source};
    host.dests = {spelling == 0 ? throughLink(inner) : spelling == 1 ? shortName(inner) : inner};
    ASSERT_NE(shortName(inner), inner) << "no short names to test with";
    // Should the copy feed on itself, a stop ends it in time.
    StopSignal stop;
    Deadline deadline(stop);
    RunCopy(host, {nullptr, nullptr, nullptr, &stop});
    EXPECT_EQ(TreeOf(source + L"\\"),
              (std::vector<std::wstring>{L"f.txt", L"inner folder\\", L"inner folder\\source folder\\",
                                         L"inner folder\\source folder\\f.txt",
                                         L"inner folder\\source folder\\inner folder\\"}))
        << Narrow(host.sources[0]) << " into " << Narrow(host.dests[0]);
  }
}

// Files whose names a plain path would alter (a trailing dot or space, as
// disks written by other systems hold) are copied and emptied as themselves:
// "a." is never taken for "a". Emptying removes such folders too.
TEST(RunCopy, NamesEndingInADotOrSpaceAreCopiedAndEmptiedAsThemselves) {
  auto raw = [](const std::wstring& path) { return L"\\\\?\\" + path; };
  for (SameFileMode mode : {Overwrite, AutoNumber}) {
    TempDir dir;
    WriteBytes(dir / L"S\\a", "plain");
    WriteBytes(raw(dir / L"S\\a."), "dotted");
    WriteBytes(raw(dir / L"S\\y "), "spaced");
    WriteBytes(raw(dir / L"S\\aux.h"), "not a device");
    RunReport report;
    FakeHost host;
    host.mode = mode;
    host.sources = {dir / L"S"};
    host.dests = {dir / L"out\\"};
    RunCopy(host, {nullptr, nullptr, &report});
    EXPECT_EQ(report.FailureCount(), 0u);
    EXPECT_EQ(TreeOf(raw(dir / L"out\\")),
              (std::vector<std::wstring>{L"S\\", L"S\\a", L"S\\a.", L"S\\aux.h", L"S\\y "}));
    EXPECT_EQ(ReadBytes(raw(dir / L"out\\S\\aux.h")), "not a device");
    EXPECT_EQ(ReadBytes(dir / L"out\\S\\a"), "plain");
    EXPECT_EQ(ReadBytes(raw(dir / L"out\\S\\a.")), "dotted");
    WriteBytes(raw(dir / L"out\\x.\\inner."), "inner");
    EmptyFolder(dir / L"out", EmptyRules({dir / L"out"}), {nullptr, nullptr, &report});
    EXPECT_EQ(report.FailureCount(), 0u);
    EXPECT_EQ(TreeOf(raw(dir / L"out\\")), std::vector<std::wstring>{});
    // Such a folder cannot be entered by its plain path, which names its
    // sibling "x": it is a failure naming it, and "x" is never copied in
    // its place.
    WriteBytes(dir / L"S\\x\\f", "x");
    WriteBytes(raw(dir / L"S\\x.\\f"), "x.");
    RunReport entering;
    RunCopy(host, {nullptr, nullptr, &entering});
    ASSERT_EQ(entering.FailureCount(), 1u);
    EXPECT_EQ(entering.FirstFailures()[0].path, dir / L"S\\x.");
    EXPECT_TRUE(entering.FirstFailures()[0].entering);
    EXPECT_FALSE(Exists(dir / L"out\\S\\x\\f_1"));
    if (Exists(dir / L"out\\S\\x\\f")) {
      EXPECT_EQ(ReadBytes(dir / L"out\\S\\x\\f"), "x");
    }
  }
}

// Nor through a link inside the source that leads into the output.
TEST(RunCopy, NeverFeedsOnItsOwnOutputThroughALinkIntoIt) {
  const std::wstring source = L"C:\\qm-links\\feed\\S";
  ASSERT_TRUE(fs::IsFile(source + L"\\x\\f.txt")) << "link fixture missing";
  RemoveTree(source + L"\\out");
  MakeDir(source + L"\\out");
  FakeHost host;
  host.sources = {source};
  host.dests = {source + L"\\out\\"};
  StopSignal stop;  // should the copy feed on itself, a stop ends it in time
  Deadline deadline(stop);
  RunCopy(host, {nullptr, nullptr, nullptr, &stop});
  EXPECT_EQ(TreeOf(source + L"\\out\\"),
            (std::vector<std::wstring>{L"S\\", L"S\\out\\", L"S\\x\\", L"S\\x\\f.txt", L"S\\x\\lnk\\"}));
  RemoveTree(source + L"\\out");
}

// Emptying never takes a source of the run, however the source is spelled:
// through a link to the drive's root, by its short name, or as the
// destination itself; a folder or a single file.
TEST(RunCopy, EmptyingSparesASourceWhateverItsSpellingOrLink) {
  const std::wstring viaLink = L"C:\\qm-links\\toroot\\";
  ASSERT_EQ(GetFileAttributesW(L"C:\\qm-links\\toroot") & 0x410, 0x410u) << "link fixture missing";
  enum Spelling { Direct, ThroughLink, ShortName };
  struct Case {
    const wchar_t* source;  // relative to the test folder
    Spelling spelling;
  } cases[] = {{L"D\\src", ThroughLink},
               {L"D", Direct},
               {L"D\\", ThroughLink},
               {L"D\\src\\keep-this-long-name.txt", ThroughLink},
               {L"D\\src\\keep-this-long-name.txt", ShortName}};
  for (auto& c : cases) {
    TempDir dir;
    WriteBytes(dir / L"D\\src\\keep-this-long-name.txt", "k");
    std::wstring source = dir / c.source;
    if (c.spelling == ThroughLink) source = viaLink + source.substr(3);
    if (c.spelling == ShortName) {
      wchar_t shortName[MAX_PATH];
      ASSERT_NE(GetShortPathNameW(source.c_str(), shortName, MAX_PATH), 0u);
      source = shortName;
      ASSERT_NE(source, dir / c.source) << "no short name to test with";
    }
    FakeHost host;
    host.sources = {source};
    host.dests = {dir / L"D\\"};
    host.emptyFirst = true;
    host.Run();
    EXPECT_EQ(ReadBytes(dir / L"D\\src\\keep-this-long-name.txt"), "k") << Narrow(source);
  }
  // A source file whose name the system reads otherwise ("keep." as "keep",
  // "aux.h" as a device) is spared as written too; "aux.h" is copied as itself.
  for (const wchar_t* name : {L"keep.", L"aux.h"}) {
    TempDir dir;
    WriteBytes(L"\\\\?\\" + dir / L"D\\src\\" + name, "k");
    FakeHost host;
    host.sources = {dir / L"D\\src\\" + name};
    host.dests = {dir / L"D\\", dir / L"out\\"};
    host.emptyFirst = true;
    host.Run();
    EXPECT_EQ(ReadBytes(L"\\\\?\\" + dir / L"D\\src\\" + name), "k") << Narrow(name);
  }
  TempDir dir;
  WriteBytes(L"\\\\?\\" + dir / L"aux.h", "a");
  MakeDir(dir / L"out");
  FakeHost host;
  host.sources = {dir / L"aux.h"};
  host.dests = {dir / L"out\\"};
  host.Run();
  EXPECT_EQ(ReadBytes(L"\\\\?\\" + dir / L"out\\aux.h"), "a");
  // A source that is a link to a file of another name in the destination.
  host = FakeHost();
  host.sources = {L"C:\\qm-links\\alias.txt"};
  host.dests = {L"C:\\qm-links\\filed\\"};
  host.emptyFirst = true;
  host.Run();
  EXPECT_EQ(ReadBytes(L"C:\\qm-links\\filed\\real.txt"), "r");
  DeleteFileW(L"C:\\qm-links\\filed\\alias.txt");
}

}  // namespace

namespace {

// Copies from two threads at once, as two windows or two workers do.
void AtOnce(const std::function<void()>& first, const std::function<void()>& second) {
  std::thread other(second);
  first();
  other.join();
}

}  // namespace

// What stands at a target is decided at the rename, so copies racing for one
// name never fail for it: Overwrite's later file wins, AutoNumber's loser
// takes the next number, Skip keeps the winner. (Wine checks a name's case
// twin apart from its rename, so now and then both twins land side by side.)
TEST(CopyRaces, CopiesRacingForOneNameEachGetTheirPolicysResult) {
  const std::wstring twins = L"C:\\qm-links\\twins";  // name0.h and NAME0.h ... (made on the Linux side)
  for (SameFileMode mode : {Overwrite, AutoNumber, Skip}) {
    SCOPED_TRACE(int(mode));
    TempDir dir;
    RunReport report;
    StopSignal stop;
    const CopyObserver observer{nullptr, nullptr, &report, &stop};
    RunCopy({{twins}, {dir / L"out\\"}, mode}, observer);
    for (auto& f : report.FirstFailures()) ADD_FAILURE() << Narrow(f.path) << " failed: " << f.code;
    const auto copied = TreeOf(dir / L"out\\twins\\");
    const uint64_t made = report.Count(FileOutcome::Copied) + report.Count(FileOutcome::Numbered);
    EXPECT_EQ(made + report.Count(FileOutcome::Replaced) + report.Count(FileOutcome::Kept), 80u);
    EXPECT_EQ(copied.size(), made);  // a replaced or kept file adds none
    EXPECT_GE(copied.size(), 40u);
    EXPECT_EQ(copied.size() == 80u, mode == AutoNumber);
    EXPECT_EQ(report.Count(FileOutcome::Kept) == 0, mode != Skip);
    EXPECT_EQ(report.Count(FileOutcome::Replaced), 0u + (mode == Skip ? 0 : report.Count(FileOutcome::Replaced)));
    EXPECT_FALSE(std::any_of(copied.begin(), copied.end(), [](auto& n) { return fs::IsOwnFileName(n); }));
  }
  // Two runs numbering the same names into one folder at once (two
  // instances of the program), each making the folder "deep" it needs.
  TempDir dir;
  std::vector<std::wstring> sides[2];
  for (int side = 0; side < 2; ++side) {
    const std::wstring folder = dir / (side ? L"b\\" : L"a\\");
    for (int i = 0; i < 30; ++i) {
      WriteBytes(folder + L"x" + std::to_wstring(i) + L".bin", "x");
      sides[side].push_back(folder + L"x" + std::to_wstring(i) + L".bin");
    }
    WriteBytes(folder + L"deep\\f.bin", "f");
    sides[side].push_back(folder + L"deep");
  }
  MakeDir(dir / L"out");
  RunReport first, second;
  AtOnce(
      [&] {
        RunCopy({sides[0], {dir / L"out\\"}, AutoNumber}, {nullptr, nullptr, &first});
      },
      [&] {
        RunCopy({sides[1], {dir / L"out\\"}, AutoNumber}, {nullptr, nullptr, &second});
      });
  for (const RunReport* report : {&first, &second})
    for (auto& f : report->FirstFailures()) ADD_FAILURE() << Narrow(f.path) << " failed: " << f.code;
  EXPECT_EQ(TreeOf(dir / L"out\\").size(), 60u + 1u + 2u);  // x*.bin and x*_1.bin, deep\ with f.bin and f_1.bin
  EXPECT_EQ(first.Count(FileOutcome::Numbered) + second.Count(FileOutcome::Numbered), 31u);
}

// A file named like our temporaries is an unfinished copy, never data.
TEST(CopyRaces, TemporariesAreNeverCopied) {
  TempDir dir;
  WriteBytes(dir / L"s\\keep.txt", "k");
  WriteBytes(dir / L"s\\~quillmere-9-0011223344556677-3.part", "unfinished");
  RunReport report;
  RunCopy({{dir / L"s"}, {dir / L"d\\"}, Overwrite}, {nullptr, nullptr, &report});
  EXPECT_EQ(TreeOf(dir / L"d\\"), (std::vector<std::wstring>{L"s\\", L"s\\keep.txt"}));
}
