#include "tests/support/AppFixture.h"

#include "fs/FileSystem.h"
#include "lists/FolderExpansion.h"
#include "search/FileSearch.h"
#include "search/KeywordMatch.h"

namespace {

TEST(Keywords, NameUpToTheFirstDotContainsAKeyword) {
  struct Case {
    std::wstring name;
    std::vector<std::wstring> keywords;
    bool match;
  } cases[] = {
      {L"report.final.doc", {L"port"}, true},
      {L"report.final.doc", {L"final"}, false},
      {L"report.doc", {L"rep.d"}, false},  // a dotted keyword never matches
      {L".profile", {L"profile"}, false},  // the kept name is empty
      {L"README", {L"adm"}, true},         // no dot: the whole name
      {L"ABC.txt", {L"abc"}, true},
      {L"aBc1.txt", {L"ABC"}, true},
      {L"abc.txt", {L" abc"}, false},  // blanks are part of the keyword
      {L"my abc.txt", {L" abc"}, true},
      {L"abc.txt", {L""}, false},           // an empty keyword never matches
      {L"x.txt", {L"", L"y", L"x"}, true},  // any one of them
      {L"报告2024.doc", {L"报告"}, true},
      {L"报告.doc", {L"告"}, true},
      {L"Ä.txt", {L"ä"}, false},   // only ASCII letters fold
      {L"Äb.txt", {L"ä"}, false},  // no GBK form: never taken for another
      {L"Äb.txt", {L"Ä"}, true},
      // A letter never matches half of a Chinese character whose GBK trail byte it equals.
      {L"癮.txt", {L"A"}, false},
      {L"學習.txt", {L"w"}, false},
      {L"說明.txt", {L"f"}, false},
      {L"現金.txt", {L"p"}, false},
      {L"關於.txt", {L"p"}, false},
      {L"學習.txt", {L"習"}, true},
      {L"REPORT_W.TXT", {L"w"}, true},
      {L"report_w.txt", {L"W"}, true},
  };
  for (auto& c : cases)
    EXPECT_EQ(search::NameMatchesKeywords(c.name, c.keywords), c.match)
        << Narrow(c.name) << " " << Narrow(c.keywords[0]);
}

TEST(Keywords, SplitAtCrLfOnly) {
  struct Case {
    std::wstring text;
    std::vector<std::wstring> lines;
  } cases[] = {
      {L"a\r\nb", {L"a", L"b"}},
      {L"a\r\nb\r\n", {L"a", L"b", L""}},
      {L"\r\n\r\n", {L"", L"", L""}},
      {L"a\nb\rc", {L"a\nb\rc"}},
      {L"", {L""}},
  };
  for (auto& c : cases) EXPECT_EQ(search::SplitAtCrLf(c.text), c.lines) << Narrow(c.text);
}

class Search : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Start();
    form().Show();
    // a.txt and sub\ in the folder; hidden and system files; a system folder.
    WriteBytes(dir / L"key1.txt", "");
    WriteBytes(dir / L"other.txt", "");
    WriteBytes(dir / L"hidkey.txt", "");
    WriteBytes(dir / L"syskey.txt", "");
    WriteBytes(dir / L"sub\\subkey.doc", "");
    WriteBytes(dir / L"sub\\deeper\\deepkey", "");
    WriteBytes(dir / L"sysdir\\inkey.txt", "");
    MakeDir(dir / L"keydir");
    SetAttributes(dir / L"hidkey.txt", FILE_ATTRIBUTE_HIDDEN);
    SetAttributes(dir / L"syskey.txt", FILE_ATTRIBUTE_SYSTEM);
    SetAttributes(dir / L"sysdir", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM);
  }
  SearchDialog& dialog() { return app_->searchDialog(); }
  SearchControls& fields() { return dialog().Controls(); }
  // Opens the dialog from the main window and presses "确定" in it.
  void RunSearch(const std::wstring& folder, const std::wstring& keys, bool subfolders) {
    SetWindowTextW(fields().folder.hwnd(), folder.c_str());
    SetWindowTextW(fields().keys.hwnd(), keys.c_str());
    fields().subfolders.SetChecked(subfolders);
    PostMessageW(fields().search.hwnd(), BM_CLICK, 0, 0);
    // The search closes the dialog; should it not, a late "取消" does, so no test hangs.
    static HWND cancel;
    cancel = fields().cancel.hwnd();
    UINT_PTR timer =
        SetTimer(nullptr, 0, 5000, [](HWND, UINT, UINT_PTR, DWORD) { PostMessageW(cancel, BM_CLICK, 0, 0); });
    Click(ui().searchAddFiles);
    KillTimer(nullptr, timer);
  }
  TempDir dir;
};

TEST_F(Search, WithSubfoldersHiddenFilesYesSystemNoInTreeOrder) {
  RunSearch(dir.path(), L"KEY", true);
  auto items = ui().sources.Items();
  std::sort(items.begin(), items.begin() + 2);  // the folder's own files, in listing order
  EXPECT_EQ(items, (std::vector<std::wstring>{dir / L"hidkey.txt", dir / L"key1.txt", dir / L"sub\\subkey.doc",
                                              dir / L"sub\\deeper\\deepkey"}));
  EXPECT_FALSE(IsWindowVisible(dialog().hwnd()));
  EXPECT_TRUE(IsWindowEnabled(fields().search.hwnd()));
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(Search, OneFolderIncludesSystemFilesAndNeverAddsTwice) {
  ui().sources.Append(dir / L"KEY1.TXT");
  RunSearch(dir.path().substr(0, dir.path().size() - 1), L"nothing\r\nkey", false);
  auto items = ui().sources.Items();
  ASSERT_EQ(items.size(), 3u);
  std::sort(items.begin() + 1, items.end());
  EXPECT_EQ(items, (std::vector<std::wstring>{dir / L"KEY1.TXT", dir / L"hidkey.txt", dir / L"syskey.txt"}));
  // Again: nothing new.
  RunSearch(dir.path(), L"key", false);
  EXPECT_EQ(ui().sources.Items().size(), 3u);
}

TEST_F(Search, MissingInputsAskAndKeepTheDialogOpen) {
  // No folder: the message, then the browser; cancelling leaves the field empty.
  SetWindowTextW(fields().folder.hwnd(), L"");
  SendMessageW(fields().search.hwnd(), BM_CLICK, 0, 0);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, L"请选择要搜索的目录!");
  EXPECT_EQ(dialogs.boxes[0].flags, UINT(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(dialogs.boxes[0].owner, dialog().hwnd());
  EXPECT_EQ(dialogs.browseTitles, (std::vector<std::wstring>{L"请选择文件夹"}));
  EXPECT_EQ(fields().folder.Text(), L"");
  // The browser's folder gets its backslash.
  dialogs.folders = {dir.path().substr(0, dir.path().size() - 1)};
  SendMessageW(fields().chooseFolder.hwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(fields().folder.Text(), dir.path());
  // No keywords.
  SendMessageW(fields().search.hwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(dialogs.boxes.back().text, L"请输入要匹配的关键字!");
  EXPECT_EQ(GetFocus(), fields().keys.hwnd());
  // A folder that is gone: silently nothing.
  SetWindowTextW(fields().folder.hwnd(), (dir / L"gone\\").c_str());
  SetWindowTextW(fields().keys.hwnd(), L"key");
  SendMessageW(fields().search.hwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(dialogs.boxes.size(), 2u);
  EXPECT_TRUE(ui().sources.Items().empty());
  // Typing into the read-only folder field opens the browser.
  SendMessageW(fields().folder.hwnd(), WM_CHAR, L'x', 0);
  EXPECT_EQ(dialogs.browseTitles.size(), 3u);
}

TEST_F(Search, TheDialogKeepsItsFieldsBetweenShowings) {
  EXPECT_EQ(WindowText(dialog().hwnd()), L"搜索添加文件");
  RECT client;
  GetClientRect(dialog().hwnd(), &client);
  EXPECT_EQ(client.right, 315);
  EXPECT_EQ(client.bottom, 319);
  EXPECT_EQ(fields().keysHint.Text(), L"说明：\r\n可以输入多行关键字，匹配其中之一。");
  EXPECT_TRUE(fields().subfolders.Checked());
  EXPECT_TRUE(GetWindowLongW(fields().folder.hwnd(), GWL_STYLE) & ES_READONLY);
  // Tab order: keywords, subfolder option, folder field, its button, cancel, OK.
  std::vector<const Control*> order;
  HWND first = GetNextDlgTabItem(dialog().hwnd(), nullptr, FALSE);
  for (HWND w = first; w && order.size() < 7; w = GetNextDlgTabItem(dialog().hwnd(), w, FALSE)) {
    if (!order.empty() && w == first) break;
    for (const ControlDef& def : dialog().Definitions())
      if (def.control->hwnd() == w) order.push_back(def.control);
  }
  const SearchControls& f = fields();
  EXPECT_EQ(order,
            (std::vector<const Control*>{&f.keys, &f.subfolders, &f.folder, &f.chooseFolder, &f.cancel, &f.search}));
  RunSearch(dir.path(), L"zzz\r\nyyy", false);
  EXPECT_EQ(fields().folder.Text(), dir.path());
  EXPECT_EQ(fields().keys.Text(), L"zzz\r\nyyy");
  EXPECT_FALSE(fields().subfolders.Checked());
  EXPECT_TRUE(ui().sources.Items().empty());
}

TEST_F(Search, LinksCannotLeadTheTreeSearchInACircle) {
  const std::wstring root = L"C:\\qm-links\\loop\\";
  ASSERT_EQ(GetFileAttributesW((root + L"A\\B\\up").c_str()) & 0x410, 0x410u);
  RunSearch(root + L"A\\", L"f\r\ng", true);
  EXPECT_EQ(ui().sources.Items(), (std::vector<std::wstring>{root + L"A\\f.txt", root + L"A\\B\\g.txt"}));
}

}  // namespace

namespace {

// Esc, or closing the dialog, stops a search under way; what it found stays.
// The tree is big enough here for the stop to arrive while it runs.
TEST_F(Search, EscOrClosingTheDialogStopsTheSearch) {
  for (int i = 0; i < 200; ++i) WriteBytes(dir / L"many\\s" + std::to_wstring(i) + L"\\key.txt", "");
  for (UINT message : {UINT(WM_KEYDOWN), UINT(WM_CLOSE)}) {
    ui().sources.Clear();
    SetWindowTextW(fields().folder.hwnd(), dir.path().c_str());
    SetWindowTextW(fields().keys.hwnd(), L"key");
    fields().subfolders.SetChecked(true);
    PostMessageW(fields().search.hwnd(), BM_CLICK, 0, 0);
    if (message == WM_KEYDOWN)
      PostMessageW(fields().keys.hwnd(), WM_KEYDOWN, VK_ESCAPE, 0);
    else
      PostMessageW(dialog().hwnd(), WM_CLOSE, 0, 0);
    Click(ui().searchAddFiles);
    auto items = ui().sources.Items();
    std::sort(items.begin(), items.end());
    ASSERT_GE(items.size(), 2u) << message;  // the folder's own files come first
    EXPECT_EQ(items[0], dir / L"hidkey.txt");
    EXPECT_EQ(items[1], dir / L"key1.txt");
    EXPECT_LT(items.size(), 204u) << message;
    EXPECT_FALSE(IsWindowVisible(dialog().hwnd()));
  }
}

}  // namespace

namespace {

// The walks behind the search and the expansion, without a window: what
// they hand over, and the folders they could not read, counted.
TEST(Walks, HandOverWhatTheyFindAndCountWhatTheyCannotRead) {
  TempDir dir;
  WriteBytes(dir / L"key.txt", "");
  WriteBytes(dir / L"sub\\key2.txt", "");
  WriteBytes(dir / L"sub\\~quillmere-PC-1-2-key.part", "");  // an unfinished copy of ours, never found
  ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + dir.path() + L"bad.").c_str(), nullptr));  // listed, never entered
  std::vector<std::wstring> found;
  StopSignal stop;
  auto collect = [&](const std::wstring& path) { found.push_back(path); };
  EXPECT_EQ(search::FindFiles(dir.path(), true, search::KeywordMatcher({L"key"}), stop, collect), 1u);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::wstring>{dir / L"key.txt", dir / L"sub\\key2.txt"}));
  found.clear();
  EXPECT_EQ(lists::WalkFolderTree(dir.path(), -1, [&](const std::wstring& each) { return collect(each), true; }), 1u);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::wstring>{dir.path(), dir / L"bad.\\", dir / L"sub\\"}));
  EXPECT_EQ(search::FindFiles(dir / L"gone\\", false, search::KeywordMatcher({L"key"}), stop, collect), 1u);
  stop.Request();  // a stopped tree search ends after the first folder
  found.clear();
  search::FindFiles(dir.path(), true, search::KeywordMatcher({L"key"}), stop, collect);
  EXPECT_EQ(found, std::vector<std::wstring>{dir / L"key.txt"});
  RemoveDirectoryW((L"\\\\?\\" + dir.path() + L"bad.").c_str());
}

}  // namespace
