#include <gtest/gtest.h>

#include "common/AppError.h"
#include "common/Text.h"
#include "lists/ImportCheck.h"
#include "lists/ListFile.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(ListFile, ExportIsGbkWithCrLfAfterEveryEntry) {
  EXPECT_EQ(lists::EncodeListFile({L"C:\\A\\", L"D:\\B\\"}), "C:\\A\\\r\nD:\\B\\\r\n");
  EXPECT_EQ(lists::EncodeListFile({L"C:\\数据\\"}), "C:\\\xca\xfd\xbe\xdd\\\r\n");
  EXPECT_EQ(lists::EncodeListFile({}), "");
  // A list GBK cannot hold goes to UTF-8 with a byte-order mark, whole.
  EXPECT_EQ(lists::EncodeListFile({L"C:\\a\\", L"C:\\한\\"}),
            "\xEF\xBB\xBF"
            "C:\\a\\\r\nC:\\\xED\x95\x9C\\\r\n");
}

TEST(ListFile, ReadingSplitsAtEveryKindOfLineEnd) {
  struct Case {
    std::string bytes;
    std::vector<std::wstring> lines;
  } cases[] = {
      {"a\r\nb\r\n", {L"a", L"b"}},
      {"a\nb\n", {L"a", L"b"}},
      {"a\rb\r", {L"a", L"b"}},
      {"a\n\rb", {L"a", L"", L"b"}},
      {"a\r\n\r\nb", {L"a", L"", L"b"}},
      {"a\r\nb", {L"a", L"b"}},
      {"a\r\nb\0c\r\n", {L"a", L"b"}},
      {"", {}},
      {"\r\n", {L""}},
      {"C:\\\xca\xfd\xbe\xdd\\\r\n\x95\x5c\r\n", {L"C:\\数据\\", L"昞"}},
      // What a byte-order mark says: UTF-8, UTF-16 LE or BE; an odd last byte is no character.
      {"\xEF\xBB\xBF"
       "C:\\\xED\x95\x9C\\\r\nx",
       {L"C:\\한\\", L"x"}},
      {std::string("\xFF\xFE"
                   "C\0:\0\\\0\x70\x65\r\0\n\0x\0\0\0y\0",
                   20),
       {L"C:\\数", L"x"}},
      {std::string("\xFE\xFF"
                   "\0C\0:\0\\\x65\x70\0\n\0x\0",
                   15),
       {L"C:\\数", L"x"}},
      {"\xFF\xFE", {}},
      {"\xEF\xBB\xBF", {}},
      // Without a mark: UTF-8 that is no GBK (A5 0D is no GBK pair), as Notepad saves it;
      // GBK that is UTF-8 too (CD BC C6 AC) stays GBK when nothing tells them apart.
      {"C:\\\xE6\x8A\xA5\r\n", {L"C:\\报"}},
      {"C:\\\xCD\xBC\xC6\xAC\r\n", {L"C:\\图片"}},
  };
  for (auto& c : cases) EXPECT_EQ(lists::DecodeListFile(c.bytes), c.lines) << c.bytes;
  EXPECT_EQ(lists::DecodeListFile("\xFE\r\n\x81").size(), 2u);  // damaged GBK: a line each all the same
}

TEST(ListFile, WriteAndReadRoundTripAndTheirErrors) {
  TempDir dir;
  std::vector<std::wstring> list = {L"C:\\x\\", L"C:\\한\\y.txt"};
  lists::WriteListFile(list, dir / L"l.lst");
  EXPECT_EQ(lists::ReadListFile(dir / L"l.lst"), list);
  lists::WriteListFile({L"C:\\z"}, dir / L"l.lst");  // replaced without asking
  EXPECT_EQ(ReadBytes(dir / L"l.lst"), "C:\\z\r\n");

  try {
    lists::WriteListFile(list, dir / L"missing\\l.lst");
    FAIL();
  } catch (const FileError& e) {
    EXPECT_EQ(e.kind, FileError::Kind::CreateListFile);
    EXPECT_EQ(e.path, dir / L"missing\\l.lst");
    EXPECT_EQ(e.code, DWORD(ERROR_PATH_NOT_FOUND));
  }
  // Reading denies other writers: a file open for writing elsewhere cannot be read.
  HANDLE writer = CreateFileW((dir / L"l.lst").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  try {
    lists::ReadListFile(dir / L"l.lst");
    ADD_FAILURE() << "read while another program writes";
  } catch (const FileError& e) {
    EXPECT_EQ(e.kind, FileError::Kind::OpenListFile);
    EXPECT_EQ(e.code, DWORD(ERROR_SHARING_VIOLATION));
  }
  CloseHandle(writer);
  EXPECT_EQ(lists::ReadListFile(dir / L"l.lst"), (std::vector<std::wstring>{L"C:\\z"}));
}

// Bytes that read both ways are read the way under which their lines name
// what exists.
TEST(ListFile, BytesOfBothEncodingsReadAsTheyNameWhatExists) {
  TempDir dir;
  MakeDir(dir / L"报告");
  MakeDir(dir / L"图片");
  WriteBytes(dir / L"notepad.lst", Narrow(dir / L"报告") + "\r\n");     // as GBK: 鎶ュ憡
  WriteBytes(dir / L"ours.lst", *text::ToGbk(dir / L"图片") + "\r\n");  // as UTF-8: ͼƬ
  EXPECT_EQ(lists::ReadListFile(dir / L"notepad.lst"), std::vector<std::wstring>{dir / L"报告"});
  EXPECT_EQ(lists::ReadListFile(dir / L"ours.lst"), std::vector<std::wstring>{dir / L"图片"});
}

TEST(ListFile, AWriteThatFailsIsAnErrorAndLeavesTheOldListWhole) {
  const std::wstring full = L"C:\\qm-links\\full\\";
  ULARGE_INTEGER available, total;
  if (!GetDiskFreeSpaceExW(full.c_str(), &available, &total, nullptr) || total.QuadPart > (1u << 20))
    GTEST_SKIP() << "no small volume mounted at " << Narrow(full);
  const std::wstring list = full + L"l.lst";
  lists::WriteListFile({L"C:\\old\\"}, list);
  try {
    lists::WriteListFile(std::vector<std::wstring>(50000, L"C:\\a line that fills the disk\\"), list);
    ADD_FAILURE() << "a failed write ended silently";
  } catch (const FileError& e) {
    EXPECT_EQ(e.kind, FileError::Kind::WriteListFile);
    EXPECT_EQ(e.path, list);
  }
  EXPECT_EQ(ReadBytes(list), "C:\\old\\\r\n");
  EXPECT_EQ(ListEntries(full + L"*", fs::kMaskAll).size(), 3u);  // ".", ".." and the list: no temporary
  DeleteFileW(list.c_str());
}

}  // namespace

// Whether a folder's listing or a question about the line answers, the
// answer is the same: each line is checked alone, then again among lines
// that share its folder (which lists the folder).
TEST(ImportCheck, ListingAFolderAnswersAsAskingAboutEachLine) {
  TempDir dir;
  WriteBytes(dir / L"f\\file.txt", "f");
  WriteBytes(dir / L"f\\hidden.txt", "h");
  SetAttributes(dir / L"f\\hidden.txt", FILE_ATTRIBUTE_HIDDEN);
  WriteBytes(dir / L"f\\~quillmere-7-0123456789abcdef-0.part", "unfinished");
  MakeDir(dir / L"f\\sub");
  const std::wstring links = L"C:\\qm-links\\";
  struct Case {
    std::wstring line;
    bool source, dest;
  } cases[] = {
      {dir / L"f\\file.txt", true, false},
      {dir / L"f\\FILE.TXT", true, false},   // letter case ignored
      {dir / L"f\\file.txt.", true, false},  // trailing dots and spaces read away
      {dir / L"f\\file.txt  ", true, false},
      {dir / L"f\\hidden.txt", true, false},
      {dir / L"f\\sub", true, true},
      {dir / L"f\\SUB\\", true, true},
      {dir / L"f\\.\\sub\\..\\file.txt", true, false},
      {dir / L"f\\missing.txt", false, false},
      {dir / L"f\\~quillmere-7-0123456789abcdef-0.part", false, false},  // an unfinished copy
      {dir / L"no folder\\file.txt", false, false},
      {dir / L"f\\*.txt", false, false},
      {L"f\\file.txt", false, false},                    // not an absolute path
      {L"\\\\?\\" + dir / L"f\\file.txt", true, false},  // the "?" of the prefix is no wildcard
      {L"\\\\?\\" + dir / L"f\\sub", true, true},
      {dir / L"f\\nul", false, false},  // devices, wherever their names stand
      {dir / L"f\\con.lst", false, false},
      {L"\\\\.\\COM1", false, false},
      {L"\\\\.\\PhysicalDrive0", false, false},
      {links + L"alias.txt", true, false},        // a file link
      {links + L"toroot", true, true},            // a folder link
      {links + L"rule\\case\\Dest", true, true},  // twins whose names differ in case alone
      {links + L"rule\\case\\dest\\f", true, false},
      {links + L"rule\\case\\Dest\\f", true, false},
  };
  for (auto wants : {lists::ImportCheck::Wants::FilesAndFolders, lists::ImportCheck::Wants::Folders}) {
    const bool source = wants == lists::ImportCheck::Wants::FilesAndFolders;
    for (const Case& c : cases) {
      lists::ImportCheck alone(wants);
      EXPECT_EQ(alone.Accepts(fs::Resolve(c.line)), source ? c.source : c.dest) << Narrow(c.line) << " asked";
    }
    lists::ImportCheck together(wants);
    for (int pass = 0; pass < 2; ++pass)
      for (const Case& c : cases)
        EXPECT_EQ(together.Accepts(fs::Resolve(c.line)), source ? c.source : c.dest) << Narrow(c.line) << " listed";
  }
}
