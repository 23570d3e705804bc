// The one removal rule of emptying, on real files and real links.
#include <gtest/gtest.h>

#include <algorithm>

#include "copy/CopyEngine.h"
#include "copy/Emptying.h"
#include "tests/support/TestSupport.h"

using namespace copy;

namespace {

const std::wstring kRule = L"C:\\qm-links\\rule\\";

std::wstring At(const std::wstring& path) { return path.size() > 1 && path[1] == L':' ? path : kRule + path; }
std::vector<std::wstring> AllAt(const std::vector<std::wstring>& paths) {
  std::vector<std::wstring> out;
  for (const auto& p : paths) out.push_back(At(p));
  return out;
}

// The plain files of the fixture, written afresh; its links are made on the Linux side.
void WriteRuleFiles() {
  for (const wchar_t* name : {L"d\\plain.txt", L"d\\sub\\x.txt", L"d\\keep.txt", L"d\\srcdir\\k.txt"})
    WriteBytes(kRule + name, "x");
  WriteBytes(kRule + L"src\\top.txt", "t");
  WriteBytes(kRule + L"precious\\file.txt", "p");
  WriteBytes(kRule + L"d2\\top.txt", "t2");
  WriteBytes(kRule + L"case\\dest\\f", "f");
  WriteBytes(L"Q:\\keep1.txt", "1");
  WriteBytes(L"Q:\\sub\\keep2.txt", "2");
  WriteBytes(kRule + L"d\\vol\\v.txt", "v");
  WriteBytes(kRule + L"d\\bound\\b.txt", "b");
}

TEST(Emptying, OneRuleKeepsEverythingOutsideTheFolderBeingEmptied) {
  ASSERT_TRUE(fs::IsFile(kRule + L"d\\flink.txt") && fs::IsFolder(L"Q:\\")) << "link fixture missing";
  const std::vector<std::wstring> links = {L"d\\flink.txt", L"d\\dlink", L"d\\srclink.txt", L"d\\d2link",
                                           L"case\\Dest\\f"};
  // The link to C:\ as Wine's Z: drive reaches it: a link to another drive's root.
  wchar_t prefix[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
  std::wstring toRoot = L"Z:" + std::wstring(prefix) + L"/drive_c/qm-links/toroot";
  std::replace(toRoot.begin(), toRoot.end(), L'/', L'\\');
  struct Case {
    const char* what;
    bool run;  // a copy run with emptying ticked, else the empty-now command
    std::vector<std::wstring> sources, dests;
    std::vector<std::pair<std::wstring, std::string>> kept;  // path, bytes ("" for a folder)
    std::vector<std::wstring> gone;
    bool refused = false;
  } cases[] = {
      {"links leading outside, to a source and to another folder",
       false,
       {L"src\\top.txt"},
       {L"d"},
       {{L"precious\\file.txt", "p"}, {L"src\\top.txt", "t"}, {L"d2\\top.txt", "t2"}},
       {L"d\\plain.txt", L"d\\sub", L"d\\keep.txt", L"d\\srcdir"}},
      {"a run: the source a link leads to is copied, not deleted",
       true,
       {L"src\\top.txt"},
       {L"d\\"},
       {{L"src\\top.txt", "t"}, {L"d\\top.txt", "t"}, {L"precious\\file.txt", "p"}},
       {L"d\\plain.txt"}},
      {"a destination that had its turn, reached through links",
       true,
       {L"src\\top.txt"},
       {L"d2", L"d"},
       {{L"d2\\top.txt", "t"}, {L"d\\top.txt", "t"}, {L"precious\\file.txt", "p"}},
       {L"d\\sub"}},
      {"empty-now spares the sources inside a destination",
       false,
       {L"d\\keep.txt", L"d\\SRCDIR\\"},
       {L"d\\"},
       {{L"d\\keep.txt", "x"}, {L"d\\srcdir\\k.txt", "x"}},
       {L"d\\plain.txt", L"d\\sub\\x.txt"}},
      {"nested destinations", false, {}, {L"d", L"d\\sub\\"}, {{L"d\\sub", ""}}, {L"d\\sub\\x.txt", L"d\\plain.txt"}},
      {"a volume mounted inside, and another's folder bound there",
       false,
       {},
       {L"d"},
       {{L"d\\vol\\v.txt", "v"}, {L"d\\bound\\b.txt", "b"}},
       {L"d\\plain.txt"}},
      {"a destination inside a source holds only what is to be copied",
       false,
       {L"d"},
       {L"d\\SUB\\."},
       {{L"d\\sub\\x.txt", "x"}, {L"d\\plain.txt", "x"}},
       {}},
      {"a mapped drive's root",
       false,
       {},
       {L"Q:\\"},
       {{L"Q:\\keep1.txt", "1"}, {L"Q:\\sub\\keep2.txt", "2"}},
       {},
       true},
      {"the root spelled with ..",
       true,
       {L"src\\top.txt"},
       {L"Q:\\sub\\.."},
       {{L"Q:\\keep1.txt", "1"}, {L"Q:\\sub\\keep2.txt", "2"}},
       {L"Q:\\top.txt"},
       true},
      {"a link to a volume's root", false, {}, {L"C:\\qm-links\\toroot"}, {{L"precious\\file.txt", "p"}}, {}, true},
      {"a link to another drive's root", false, {}, {toRoot}, {{L"precious\\file.txt", "p"}}, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteRuleFiles();
    RunReport report;
    const CopyObserver observer{nullptr, nullptr, &report};
    const CopyJob job{AllAt(c.sources), AllAt(c.dests), SameFileMode::Overwrite, true};
    EXPECT_EQ(RefusalOf(job), c.refused ? Refusal::WholeDriveEmptied : Refusal::None);
    if (c.refused) {
      // The commands refuse it first; the rule refuses it all the same, and says so.
      EmptyFolder(At(c.dests[0]), EmptyRules(AllAt(c.dests)), observer);
      EXPECT_EQ(report.FailureCount(), 1u);
    } else {
      if (c.run)
        RunCopy(job, observer);
      else
        EmptyDestinations(job.dests, job.sources, observer);
      EXPECT_EQ(report.FailureCount(), 0u);  // what is kept on purpose is no failure
    }
    for (const auto& [path, bytes] : c.kept)
      EXPECT_TRUE(bytes.empty() ? fs::IsFolder(At(path)) : ReadBytes(At(path)) == bytes) << Narrow(path);
    for (const auto& path : c.gone) EXPECT_FALSE(Exists(At(path))) << Narrow(path);
    for (const auto& link : links) EXPECT_TRUE(Exists(At(link))) << Narrow(link);
  }
  DeleteFileW((kRule + L"d\\top.txt").c_str());
}

TEST(Emptying, TheEmptiedFolderStaysAndWhatCannotGoIsReported) {
  TempDir dir;
  WriteBytes(dir / L"D\\a.txt", "a");
  RunReport report;
  const CopyObserver observer{nullptr, nullptr, &report};
  EmptyFolder(dir / L"D\\", EmptyRules(), observer);
  EXPECT_TRUE(fs::IsFolder(dir / L"D"));
  EXPECT_FALSE(Exists(dir / L"D\\a.txt"));
  EmptyFolder(dir / L"missing", EmptyRules({dir / L"missing"}), observer);
  // A file in use stays, read-only as it was, and so does every folder above it.
  WriteBytes(dir / L"E\\sub\\busy.txt", "b");
  WriteBytes(dir / L"E\\sub\\free.txt", "f");
  SetAttributes(dir / L"E\\sub\\busy.txt", FILE_ATTRIBUTE_READONLY);
  HANDLE busy = CreateFileW((dir / L"E\\sub\\busy.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EmptyFolder(dir / L"E", EmptyRules({dir / L"E"}), observer);
  CloseHandle(busy);
  EXPECT_TRUE(Exists(dir / L"E\\sub\\busy.txt"));
  EXPECT_FALSE(Exists(dir / L"E\\sub\\free.txt"));
  EXPECT_TRUE(GetFileAttributesW((dir / L"E\\sub\\busy.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
  ASSERT_EQ(report.FailureCount(), 1u);
  EXPECT_EQ(report.FirstFailures()[0].code, DWORD(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(report.Read().removed, 2u);  // a.txt and free.txt
  // A file held by a program that lets it be removed: Windows counts its
  // removal, pending until the program lets go; Wine cannot tell it from a
  // removal refused, and reports it. Never both, never neither.
  WriteBytes(dir / L"F\\open.txt", "o");
  HANDLE open = CreateFileW((dir / L"F\\open.txt").c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  EmptyFolder(dir / L"F", EmptyRules({dir / L"F"}), observer);
  CloseHandle(open);
  EXPECT_EQ(report.FailureCount() - 1 + report.Read().removed - 2, 1u);
  EXPECT_FALSE(Exists(dir / L"F\\open.txt"));
}

}  // namespace
