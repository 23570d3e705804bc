#include <gtest/gtest.h>

#include <climits>

#include "common/AppError.h"
#include "wingui/Dialogs.h"
#include "common/Text.h"
#include "common/Paths.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(Gbk, RoundTripsAndRefusesWhatItCannotHold) {
  EXPECT_EQ(text::ToGbk(L"C:\\数据\\a.txt"), std::string("C:\\\xca\xfd\xbe\xdd\\a.txt"));
  EXPECT_EQ(text::FromGbk("C:\\\xca\xfd\xbe\xdd\\a.txt"), L"C:\\数据\\a.txt");
  // A GBK character whose second byte is 0x5C stays one character.
  EXPECT_EQ(text::FromGbk("\x95\x5c"), L"昞");
  EXPECT_EQ(text::ToGbk(L"昞"), std::string("\x95\x5c"));
  EXPECT_FALSE(text::ToGbk(L"caf\u00e9 \U0001F600").has_value());
  EXPECT_FALSE(text::ToGbk(L"한국어").has_value());
  EXPECT_EQ(text::ToGbk(L""), std::string());
  EXPECT_EQ(text::FromUtf8(text::ToUtf8(L"한국어 数据")), L"한국어 数据");
}

TEST(ErrorBox, FullStopRule) {
  struct Case {
    std::wstring in, out;
  } cases[] = {
      {L"File not found", L"File not found."},
      {L"ends.", L"ends."},
      {L"ends!", L"ends!"},
      {L"ends,", L"ends,"},
      {L"ends ", L"ends "},
      {L"'' is not a valid integer value", L"'' is not a valid integer value."},
      {L"中文", L"中文."},
      {L"", L""},
  };
  for (auto& c : cases) EXPECT_EQ(ErrorBoxText(c.in), c.out) << Narrow(c.in);

  ScopedScriptedDialogs dialogs;
  ShowErrorBox(L"Disk full");
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, L"Disk full.");
  EXPECT_EQ(dialogs.boxes[0].flags & 0xF0, UINT(MB_ICONERROR));
  EXPECT_EQ(dialogs.boxes[0].flags & 0x0F, UINT(MB_OK));
  EXPECT_TRUE(dialogs.boxes[0].flags & MB_TASKMODAL);
}

TEST(ListIndex, WholeStringIgnoringCase) {
  std::vector<std::wstring> items = {L"C:\\Data\\", L"c:\\a.txt", L"C:\\A.TXT", L"D:\\数据\\Ä"};

  ListIndex index;
  for (auto& i : items) index.Add(i);
  EXPECT_TRUE(index.Contains(L"C:\\a.TXT"));
  EXPECT_TRUE(index.Contains(L"d:\\数据\\ä"));
  EXPECT_FALSE(index.Contains(L"C:\\Data"));
  index.Remove(L"c:\\a.txt");
  EXPECT_TRUE(index.Contains(L"c:\\a.txt"));  // the second spelling is still listed
  index.Remove(L"C:\\A.TXT");
  EXPECT_FALSE(index.Contains(L"c:\\a.txt"));
}

TEST(TextHelpers, UpperFindTrimBlank) {
  EXPECT_EQ(text::Upper(L"abz{`AZ"), L"ABZ{`AZ");
  EXPECT_EQ(text::Upper(L"äß學w"), L"äß學W");  // only a..z change
  EXPECT_EQ(text::Find(L"", L"abc"), 0u);
  EXPECT_EQ(text::Find(L"a", L""), 0u);
  EXPECT_EQ(text::Find(L"bc", L"abcbc"), 2u);
  EXPECT_EQ(text::Find(L"x", L"abc"), 0u);
  EXPECT_EQ(text::TrimBlank(L" \t. \x01"), L".");
  EXPECT_EQ(text::TrimBlank(L"  "), L"");
  EXPECT_EQ(text::TrimBlank(L"a b"), L"a b");
}

TEST(ParseInteger, FitsInThirtyTwoBitsOrIsNone) {
  struct Case {
    const wchar_t* text;
    std::optional<int> value;
  } cases[] = {
      {L"  42", 42},
      {L"-2147483648", INT_MIN},
      {L"2147483648", std::nullopt},
      {L"0xFFFFFFFF", -1},  // hex digits fill all 32 bits
      {L"-0x80000000", INT_MIN},
      {L"-$1", -1},
      {L"0x100000000", std::nullopt},
      {L"12a", std::nullopt},
      {L"-", std::nullopt},
  };
  for (auto& c : cases) EXPECT_EQ(text::ParseInteger(c.text), c.value) << Narrow(c.text);
}

TEST(ClassifyEntry, DotsFoldersFiles) {
  EXPECT_EQ(ClassifyEntry(L".", FILE_ATTRIBUTE_ARCHIVE), EntryKind::DotName);
  EXPECT_EQ(ClassifyEntry(L"..", FILE_ATTRIBUTE_DIRECTORY), EntryKind::DotName);
  EXPECT_EQ(ClassifyEntry(L"...", FILE_ATTRIBUTE_DIRECTORY), EntryKind::Folder);
  EXPECT_EQ(ClassifyEntry(L"sub", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN), EntryKind::Folder);
  EXPECT_EQ(ClassifyEntry(L"a.txt", FILE_ATTRIBUTE_ARCHIVE), EntryKind::File);
  EXPECT_TRUE(HasWildcard(L"C:\\nm\\*.txt"));
  EXPECT_TRUE(HasWildcard(L"C:\\nm\\n?rmal.txt"));
  EXPECT_FALSE(HasWildcard(L"C:\\nm\\normal.txt"));
  EXPECT_EQ(WithBackslash(L"C:\\a"), L"C:\\a\\");
  EXPECT_EQ(WithBackslash(L"C:\\a\\"), L"C:\\a\\");
}

}  // namespace
