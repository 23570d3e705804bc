// A run into several destinations, read once and written side by side,
// ends exactly as the same run taken one destination after another; where
// the order would show, it keeps that order.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <thread>
#include <stdexcept>
#include <mutex>

#include "common/Paths.h"
#include "copy/Broadcast.h"
#include "copy/Channel.h"
#include "copy/CopyEngine.h"
#include "fs/OwnFiles.h"
#include "tests/support/TestSupport.h"

using namespace copy;
using enum copy::SameFileMode;

namespace {

constexpr uint64_t kSecond = 10000000;
constexpr uint64_t kThen = 133000000000000000ull + 1234567;  // with a part of a second

// Every entry below a folder: a file's bytes (their start and hash) and
// write time, a folder's name.
using Contents = std::map<std::wstring, std::pair<std::string, uint64_t>>;
std::string Summary(const std::string& bytes) {
  return bytes.substr(0, 8) + " #" + std::to_string(std::hash<std::string>()(bytes));
}
void Collect(const std::wstring& folder, const std::wstring& below, Contents& out) {
  for (const fs::Entry& entry : ListEntries(folder + below + L"*.*", fs::kMaskAll)) {
    if (entry.name == L"." || entry.name == L"..") continue;
    const std::wstring path = below + entry.name;
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      out[path + L"\\"] = {};
      Collect(folder, path + L"\\", out);
    } else {
      out[path] = {Summary(ReadBytes(folder + path)), entry.writeTime};
    }
  }
}
Contents ContentsOf(const std::wstring& folder) {
  Contents out;
  Collect(WithBackslash(folder), L"", out);
  return out;
}

// What one holds that the other does not, or holds otherwise.
std::string Differences(const Contents& a, const Contents& b) {
  std::string out;
  for (const auto& [name, file] : a)
    if (!b.count(name) || b.at(name) != file) out += "only so in the first: " + Narrow(name) + " " + file.first + "\n";
  for (const auto& [name, file] : b)
    if (!a.count(name) || a.at(name) != file) out += "only so in the second: " + Narrow(name) + " " + file.first + "\n";
  return out;
}

// A file entry and a folder entry whose tree spans several chunks and levels.
std::vector<std::wstring> MakeSources(const std::wstring& root) {
  const std::pair<const wchar_t*, std::string> files[] = {
      {L"top.txt", "top"},       {L"tree\\a.txt", "a"},          {L"tree\\sub\\big.bin", std::string(200000, 'b')},
      {L"tree\\sub\\c.txt", "c"}, {L"tree\\z\\d.txt", "d"},        {L"tree\\Z2\\e.txt", std::string(300000, 'e')}};
  uint64_t time = kThen;
  for (const auto& [name, bytes] : files) {
    WriteBytes(root + name, bytes);
    SetWriteTime(root + name, time += 7 * kSecond);
  }
  return {root + L"top.txt", root + L"tree"};
}

// What stands in a destination before the run: an older and a newer file of
// the same names, and in the second a file where a folder of the copy goes
// (its folder and its file fail there, and nowhere else).
void Seed(const std::wstring& dest, size_t index) {
  WriteBytes(dest + L"top.txt", "old top");
  SetWriteTime(dest + L"top.txt", kThen);
  WriteBytes(dest + L"tree\\a.txt", "newer a");
  SetWriteTime(dest + L"tree\\a.txt", kThen + 1000 * kSecond);
  if (index != 1) return;
  WriteBytes(dest + L"tree\\z", "in the way");
  SetWriteTime(dest + L"tree\\z", kThen);
}

struct Outcome {
  std::vector<Contents> destinations;
  uint64_t counts[4] = {};
  std::multiset<std::wstring> failures;  // destination index, target below it, reason
};

// Runs the job side by side (one run) or one destination after another (a
// run each), into fresh seeded destinations under root.
Outcome RunInto(const std::wstring& root, const std::vector<std::wstring>& sources, SameFileMode mode, size_t count,
                bool sideBySide, uint64_t letGoBehind) {
  CopyJob job;
  job.sources = sources;
  job.mode = mode;
  job.readAhead = letGoBehind / 2;
  job.letGoBehind = letGoBehind;
  for (size_t j = 0; j < count; ++j) {
    job.dests.push_back(root + L"d" + std::to_wstring(j) + L"\\");
    Seed(job.dests.back(), j);
  }
  Outcome outcome;
  RunReport report;
  std::mutex lock;
  auto runWith = [&](const CopyJob& run, size_t first) {
    CopyObserver observer{nullptr, nullptr, &report};
    observer.failed = [&](const Failure& failure) {
      const size_t j = first + failure.destination;
      const std::wstring where = failure.target.empty() ? failure.path : failure.target;
      std::lock_guard<std::mutex> hold(lock);
      outcome.failures.insert(std::to_wstring(j) + L" " + where.substr(job.dests[j].size()) + L" " +
                              std::to_wstring(failure.code));
    };
    RunCopy(run, observer);
  };
  if (sideBySide) {
    EXPECT_EQ(CanBroadcast(job, {}), count > 1);
    runWith(job, 0);
  } else {
    for (size_t j = 0; j < count; ++j) {
      CopyJob one = job;
      one.dests = {job.dests[j]};
      runWith(one, j);
    }
  }
  for (const std::wstring& dest : job.dests) outcome.destinations.push_back(ContentsOf(dest));
  for (size_t k = 0; k < 4; ++k) outcome.counts[k] = report.Count(FileOutcome(k));
  // Failures are told destination by destination, in list order.
  size_t last = 0;
  for (const Failure& failure : report.FirstFailures()) {
    EXPECT_GE(failure.destination, last);
    last = failure.destination;
  }
  return outcome;
}

TEST(Broadcast, EndsAsTheRunOneDestinationAfterAnotherUnderEveryPolicyAndPace) {
  TempDir dir;
  const std::vector<std::wstring> tree = MakeSources(dir / L"src\\");
  // One large file alone: a destination let go is let go in the midst of it.
  const std::wstring large = dir / L"large.bin";
  WriteBytes(large, std::string(1 << 20, 'L'));
  for (const auto& sources : {tree, {large}})
    for (SameFileMode mode : {Overwrite, Skip, NewerOnly, AutoNumber})
      for (size_t count : {1, 2, 8})
        // At the usual pace, and at one where destinations are let go along
        // the way and read the rest for themselves.
        for (uint64_t letGoBehind : {uint64_t(64) << 20, uint64_t(96) << 10}) {
          SCOPED_TRACE(testing::Message() << Narrow(sources[0]) << ", mode " << int(mode) << ", " << count
                                          << " destinations, let go at " << letGoBehind);
          const Outcome apart = RunInto(dir / L"apart\\", sources, mode, count, false, letGoBehind);
          const Outcome together = RunInto(dir / L"together\\", sources, mode, count, true, letGoBehind);
          for (size_t j = 0; j < count; ++j) {
            SCOPED_TRACE(testing::Message() << "destination " << j);
            EXPECT_EQ(Differences(together.destinations[j], apart.destinations[j]), "");
          }
          EXPECT_EQ(std::vector<uint64_t>(together.counts, together.counts + 4),
                    std::vector<uint64_t>(apart.counts, apart.counts + 4));
          EXPECT_EQ(together.failures, apart.failures);
          if (sources == tree) EXPECT_EQ(apart.failures.size(), count > 1 ? 2u : 0u);  // the blocked folder, its file
          RemoveTree(dir / L"apart");
          RemoveTree(dir / L"together");
        }
}

// Overlap is told by identity as well as by path, in both directions;
// such a run, Ask's questions and a dry run keep one destination after another.
TEST(Broadcast, GoesSideBySideOnlyWhereNoOrderWouldShow) {
  TempDir dir;
  MakeDir(dir / L"d1\\sub");
  MakeDir(dir / L"d2");
  WriteBytes(dir / L"src\\f.txt", "f");
  wchar_t shortName[MAX_PATH] = {};
  WriteBytes(dir / L"a-long-folder-name\\x", "x");
  GetShortPathNameW((dir / L"a-long-folder-name").c_str(), shortName, MAX_PATH);
  const std::wstring shortSpelling = shortName;
  struct Case {
    std::vector<std::wstring> sources, dests;
    SameFileMode mode;
    bool sideBySide;
  } cases[] = {
      {{dir / L"src"}, {dir / L"d1", dir / L"d2"}, Overwrite, true},
      {{dir / L"src"}, {dir / L"d1", dir / L"d2"}, Ask, false},
      {{dir / L"src"}, {dir / L"d1", dir / L"d1\\sub"}, Overwrite, false},         // one inside another
      {{dir / L"src"}, {dir / L"d1\\sub\\..\\", dir / L"d2"}, Overwrite, true},    // d1, spelt otherwise
      {{dir / L"src"}, {dir / L"d2", dir / L"src\\new"}, Overwrite, false},         // inside a source, not made yet
      {{dir / L"d1\\sub"}, {dir / L"d1", dir / L"d2"}, Overwrite, false},           // a source inside one
      {{dir / L"src\\f.txt"}, {dir / L"d2", dir / L"src"}, Overwrite, false},       // one holds a source file
      {{dir / L"src"}, {shortSpelling + L"\\in", dir / L"a-long-folder-name"}, Skip, false},  // by identity
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.dests[0] + L" | " + c.dests[1]));
    CopyJob job;
    job.sources = c.sources;
    job.dests = c.dests;
    job.mode = c.mode;
    EXPECT_EQ(CanBroadcast(job, {}), c.sideBySide);
  }
  ASSERT_NE(shortSpelling, dir / L"a-long-folder-name") << "no short name to test with";
  // A source that is a link: what it leads to lies in a destination.
  const std::wstring linked = L"C:\\qm-links\\feed\\S\\x\\lnk";
  MakeDir(L"C:\\qm-links\\feed\\S\\out\\S\\x");
  CopyJob throughLink{{linked}, {dir / L"d2", L"C:\\qm-links\\feed\\S\\out\\S"}, Overwrite};
  EXPECT_FALSE(CanBroadcast(throughLink, {})) << "link fixture missing?";
  RemoveTree(L"C:\\qm-links\\feed\\S\\out");
  Rehearsal rehearsal;
  CopyObserver dryRun;
  dryRun.rehearsal = &rehearsal;
  EXPECT_FALSE(CanBroadcast({{dir / L"src"}, {dir / L"d1", dir / L"d2"}}, dryRun));
}

TEST(Broadcast, AsksNumbersAndKeepsNewerInTheOrderOfOneDestinationAfterAnother) {
  TempDir dir;
  WriteBytes(dir / L"A\\x.txt", "from A");
  WriteBytes(dir / L"B\\x.txt", "from B");
  for (const wchar_t* dest : {L"d1\\", L"d2\\"}) WriteBytes(dir / dest + L"x.txt", "there");
  CopyJob job{{dir / L"A\\x.txt", dir / L"B\\x.txt"}, {dir / L"d1\\", dir / L"d2\\"}, AutoNumber};
  RunCopy(job, {});
  for (const wchar_t* dest : {L"d1\\", L"d2\\"}) {
    EXPECT_EQ(ReadBytes(dir / dest + L"x_1.txt"), "from A");
    EXPECT_EQ(ReadBytes(dir / dest + L"x_2.txt"), "from B");
  }
  // The older of two same-named sources never replaces the newer one's copy.
  SetWriteTime(dir / L"A\\x.txt", kThen + 100 * kSecond);
  SetWriteTime(dir / L"B\\x.txt", kThen);
  job.mode = NewerOnly;
  job.dests = {dir / L"n1\\", dir / L"n2\\"};
  for (const std::wstring& dest : job.dests) MakeDir(dest);
  RunReport report;
  RunCopy(job, {nullptr, nullptr, &report});
  for (const wchar_t* dest : {L"n1\\", L"n2\\"}) EXPECT_EQ(ReadBytes(dir / dest + L"x.txt"), "from A");
  EXPECT_EQ(report.Count(FileOutcome::Copied), 2u);
  EXPECT_EQ(report.Count(FileOutcome::Kept), 2u);
  job.dests = {dir / L"d1\\", dir / L"d2\\"};
  std::vector<std::wstring> asked;
  job.mode = Ask;
  RunCopy(job, {[&](const std::wstring& target) {
            asked.push_back(target);
            return Answer::No;
          }});
  EXPECT_EQ(asked, (std::vector<std::wstring>{dir / L"d1\\x.txt", dir / L"d1\\x.txt", dir / L"d2\\x.txt",
                                              dir / L"d2\\x.txt"}));
}

TEST(Broadcast, EmptiesEveryDestinationBeforeTheFirstWrite) {
  TempDir dir;
  const std::vector<std::wstring> sources = MakeSources(dir / L"src\\");
  CopyJob job{sources, {}, Overwrite, true};
  for (const wchar_t* dest : {L"d1\\", L"d2\\", L"d3\\"}) {
    job.dests.push_back(dir / dest);
    WriteBytes(dir / dest + L"old\\junk.txt", "junk");
  }
  std::mutex lock;
  std::vector<std::wstring> steps;
  CopyObserver observer;
  observer.removed = [&](const std::wstring& path) {
    std::lock_guard<std::mutex> hold(lock);
    steps.push_back(L"removed " + path);
  };
  observer.fileDone = [&](const std::wstring&, const std::wstring& target, FileOutcome) {
    std::lock_guard<std::mutex> hold(lock);
    steps.push_back(L"wrote " + target);
  };
  RunCopy(job, observer);
  const auto firstWrite = std::find_if(steps.begin(), steps.end(), [](auto& s) { return s[0] == L'w'; });
  EXPECT_EQ(std::count_if(steps.begin(), firstWrite, [](auto& s) { return s[0] == L'r'; }), 6);  // 3 x (file, folder)
  EXPECT_EQ(std::count_if(firstWrite, steps.end(), [](auto& s) { return s[0] == L'w'; }), 18);   // 3 x 6 files
  for (const std::wstring& dest : job.dests) EXPECT_FALSE(Exists(dest + L"old"));
}

// A stop abandons the file in progress everywhere: nothing half-written, no
// temporary left, and the counts are what stands.
TEST(Broadcast, AStopLeavesOnlyWholeCopiesAndCountsThem) {
  TempDir dir;
  std::vector<std::wstring> sources;
  for (int i = 0; i < 8; ++i) {
    sources.push_back(dir / L"src\\f" + std::to_wstring(i));
    WriteBytes(sources.back(), std::string(3 << 20, char('a' + i)));
  }
  CopyJob job{sources, {dir / L"d1\\", dir / L"d2\\", dir / L"d3\\"}, Overwrite};
  for (const std::wstring& dest : job.dests) MakeDir(dest);
  StopSignal stop;
  RunReport report;
  CopyObserver observer{nullptr, nullptr, &report, &stop};
  std::atomic<int> done{0};
  observer.fileDone = [&](const std::wstring&, const std::wstring&, FileOutcome) {
    if (++done == 4) stop.Request();
  };
  RunCopy(job, observer);
  uint64_t standing = 0;
  for (const std::wstring& dest : job.dests)
    for (const auto& [name, file] : ContentsOf(dest)) {
      SCOPED_TRACE(Narrow(dest + name));
      EXPECT_FALSE(fs::IsOwnFileName(name));
      EXPECT_EQ(file.first, Summary(std::string(3 << 20, char('a' + (name[1] - L'0')))));
      ++standing;
    }
  EXPECT_GE(standing, 4u);
  EXPECT_LT(standing, 24u);
  EXPECT_EQ(report.Count(FileOutcome::Copied), standing);
  EXPECT_EQ(report.Read().bytes, standing * (3 << 20));
}

// A walk that goes on from a place copies what lies there and after it in
// name order, with the folders above it, and nothing before it.
TEST(Broadcast, AWalkGoesOnFromWhereItWasLeft) {
  TempDir dir;
  for (const wchar_t* name : {L"a.txt", L"B\\b1", L"B\\c\\x", L"B\\c\\y", L"C\\z", L"d.txt"})
    WriteBytes(dir / L"src\\" + name, "1");
  const copy::CopyContext context{Overwrite};
  // The folders above where the walk goes on were made before it stopped.
  struct Case {
    const wchar_t* from;
    std::vector<std::wstring> made, copied;
  } cases[] = {
      {L"B\\c\\y", {L"B\\c"}, {L"B\\", L"B\\c\\", L"B\\c\\y", L"C\\", L"C\\z", L"d.txt"}},
      {L"B\\c", {L"B"}, {L"B\\", L"B\\c\\", L"B\\c\\x", L"B\\c\\y", L"C\\", L"C\\z", L"d.txt"}},
      {L"B\\bb", {L"B"}, {L"B\\", L"B\\c\\", L"B\\c\\x", L"B\\c\\y", L"C\\", L"C\\z", L"d.txt"}},  // gone since
      {L"c.txt", {}, {L"d.txt"}},
      {L"C\\", {L"C"}, {L"C\\", L"C\\z", L"d.txt"}},  // inside a folder, from its start
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.from));
    RemoveTree(dir / L"out");
    MakeDir(dir / L"out");
    for (const std::wstring& folder : c.made) MakeDir(dir / L"out\\" + folder);
    CopyFolderTree(dir / L"src", dir / L"out", context, L"", c.from);
    std::vector<std::wstring> copied;
    for (const auto& [name, file] : ContentsOf(dir / L"out")) copied.push_back(name);
    std::sort(copied.begin(), copied.end());
    std::vector<std::wstring> expected = c.copied;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(copied, expected);
  }
  // A folder above where the walk goes on was made, or said to fail, before
  // it stopped: never again.
  RemoveTree(dir / L"out");
  WriteBytes(dir / L"out\\B", "a file where the folder goes");
  RunReport report;
  CopyObserver observer{nullptr, nullptr, &report};
  CopyFolderTree(dir / L"src", dir / L"out", copy::CopyContext{Overwrite, &observer}, L"", L"B\\c\\y");
  ASSERT_EQ(report.FailureCount(), 1u);
  EXPECT_EQ(report.FirstFailures()[0].path, dir / L"src\\B\\c\\y");
}

// A destination whose thread fails takes no one down with it: the run ends,
// and says why.
TEST(Broadcast, AFailureOnADestinationsThreadEndsTheRunWithoutAHang) {
  TempDir dir;
  WriteBytes(dir / L"src\\a.txt", "a");
  WriteBytes(dir / L"src\\b.bin", std::string(24 << 20, 'b'));
  CopyJob job{{dir / L"src\\a.txt", dir / L"src\\b.bin"}, {dir / L"d1\\", dir / L"d2\\"}, Overwrite};
  for (const std::wstring& dest : job.dests) MakeDir(dest);
  CopyObserver observer;
  observer.fileDone = [](const std::wstring&, const std::wstring&, FileOutcome) { throw std::runtime_error("no"); };
  EXPECT_THROW(RunCopy(job, observer), std::runtime_error);
}


// A link in a source that leads to the folder holding the destinations: no
// walk enters a destination's copy, side by side, let go, or one by one.
TEST(Broadcast, NoWalkEntersTheRunsOwnOutputThroughALinkAtAnyPace) {
  const std::wstring root = L"C:\\qm-links\\bcast\\";
  ASSERT_TRUE(fs::IsFolder(root + L"src\\lnk")) << "link fixture missing";
  for (uint64_t letGoBehind : {uint64_t(64) << 20, uint64_t(1)})
    for (SameFileMode mode : {Overwrite, Ask}) {  // side by side, one by one (nothing is asked of fresh folders)
      SCOPED_TRACE(testing::Message() << "let go at " << letGoBehind << ", mode " << int(mode));
      CopyJob job{{root + L"src"}, {root + L"outs\\d0\\", root + L"outs\\d1\\"}, mode};
      job.letGoBehind = letGoBehind;
      job.readAhead = letGoBehind;
      for (const std::wstring& dest : job.dests) MakeDir(dest);
      EXPECT_EQ(CanBroadcast(job, {}), mode == Overwrite);
      RunCopy(job, {});
      for (const std::wstring& dest : job.dests) {
        std::vector<std::wstring> tree;
        for (const auto& [name, file] : ContentsOf(dest)) tree.push_back(name);
        EXPECT_EQ(tree, (std::vector<std::wstring>{L"src\\", L"src\\f.txt", L"src\\lnk\\", L"src\\lnk\\d0\\",
                                                          L"src\\lnk\\d1\\"}));
      }
      RemoveTree(root + L"outs\\d0");
      RemoveTree(root + L"outs\\d1");
    }
}

// A destination let go inside a file that grows copies it as the read began
// it, as the others do, and the warning names where each copy went.
TEST(Broadcast, AFileLetGoMidwayIsCopiedAsTheReadBeganIt) {
  TempDir dir;
  WriteBytes(dir / L"grows.log", std::string(3000, 'g'));
  MakeDir(dir / L"d");
  RunReport report;
  CopyObserver observer{nullptr, nullptr, &report};
  const BegunFile begun{dir / L"grows.log", {L"grows.log", FILE_ATTRIBUTE_ARCHIVE, 1000, kThen, kThen}};
  copy::CopyContext context{Overwrite, &observer};
  context.begun = &begun;
  CopyOneFile(dir / L"grows.log", dir / L"d\\", L"grows.log", context);
  EXPECT_EQ(ReadBytes(dir / L"d\\grows.log"), std::string(1000, 'g'));
  EXPECT_EQ(GetWriteTime(dir / L"d\\grows.log"), kThen);
  EXPECT_EQ(report.FirstChanged(), std::vector<std::wstring>{dir / L"grows.log" + L" → " + dir / L"d\\grows.log"});
}

// The status line follows the destination furthest behind while any still
// writes, and names its file; one destination after another names none.
TEST(Broadcast, TheStatusNamesTheSlowestDestinationAndItsFile) {
  RunReport report;
  report.Destinations({L"D:\\", L"E:\\"});
  report.DestinationStarted(0);
  report.DestinationStarted(1);
  report.FileStarted(L"C:\\big.bin", 0);
  report.FileStarted(L"C:\\next.bin", 1);
  report.BytesWritten(100, 1);
  EXPECT_EQ(report.Slowest(), L"D:\\");
  EXPECT_EQ(report.Read().current, L"C:\\big.bin");
  report.DestinationFinished(0);
  EXPECT_EQ(report.Slowest(), L"E:\\");
  EXPECT_EQ(report.Read().current, L"C:\\next.bin");
  RunReport inTurn;
  inTurn.Destinations({L"D:\\", L"E:\\"});
  inTurn.DestinationStarted(0);
  inTurn.DestinationFinished(0);
  inTurn.DestinationStarted(1);
  EXPECT_EQ(inTurn.Slowest(), L"");
}

// The queue to one destination: what a destination let go at each point
// still takes, and where it goes on alone.
TEST(Channel, LetsGoAtTheFirstStepNotBegunAndStopsWithoutAHang) {
  auto step = [](Step::Kind kind, const wchar_t* at = L"", uint64_t size = 0) {
    Step made{kind, {0, at}};
    made.facts.size = size;
    if (kind == Step::Kind::Chunk) made.data = std::make_shared<const std::vector<char>>(1000, 'x');
    return made;
  };
  using K = Step::Kind;
  struct Case {
    const char* name;
    std::vector<Step> popped, pushed;  // popped: taken by the destination before the rest is pushed
    std::vector<K> takes;              // what it takes after, up to and with the LetGo
    const wchar_t* goesOnAt;
    bool midFile;
  } cases[] = {
      {"before a folder", {}, {step(K::Folder, L"b"), step(K::File, L"b\\c"), step(K::Chunk), step(K::Chunk),
                               step(K::Chunk)}, {K::LetGo}, L"b", false},
      {"inside the file it writes", {step(K::File, L"a", 5000)}, {step(K::Chunk), step(K::Chunk), step(K::Chunk)},
       {K::LetGo}, L"a", true},
      {"after the file it writes, queued whole", {step(K::File, L"a", 2000)},
       {step(K::Chunk), step(K::Chunk), step(K::End), step(K::EntryDone), step(K::Folder, L"b")},
       {K::Chunk, K::Chunk, K::End, K::EntryDone, K::LetGo}, L"b", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pace pace;
    Channel channel(1500, 3000, pace);
    for (const Step& s : c.popped) {
      channel.Push(s);
      channel.Pop();
    }
    for (const Step& s : c.pushed) channel.Push(s);
    EXPECT_FALSE(channel.Attached());
    EXPECT_FALSE(channel.Push(step(K::Folder, L"later")));  // let go: it takes no more
    for (K kind : c.takes) {
      const Step taken = channel.Pop();
      ASSERT_EQ(taken.kind, kind);
      if (kind != K::LetGo) continue;
      EXPECT_EQ(taken.at.relative, c.goesOnAt);
      EXPECT_EQ(taken.midFile, c.midFile);
      if (c.midFile) EXPECT_EQ(taken.facts.size, 5000u);  // copied as the read began it
    }
    EXPECT_EQ(channel.Queued(), 0u);
  }
  // Stopped while full: everything dropped, the read no longer waits. A
  // destination waiting on an empty queue takes the end.
  Pace pace;
  Channel full(1500, 1u << 30, pace);
  for (int k = 0; k < 8; ++k) full.Push(step(K::Chunk));
  EXPECT_FALSE(full.HasRoom());
  full.Stop();
  EXPECT_TRUE(full.HasRoom());
  EXPECT_FALSE(full.Push(step(K::Finish)));
  Channel empty(1500, 1u << 30, pace);
  std::thread pusher([&] {
    Sleep(50);
    empty.Push(step(K::Finish));
  });
  EXPECT_EQ(empty.Pop().kind, K::Finish);
  pusher.join();
}

}  // namespace
