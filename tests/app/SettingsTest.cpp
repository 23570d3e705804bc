#include "tests/support/AppFixture.h"

namespace {

using Settings = AppTest;

const wchar_t* const kRadios[] = {L"Overwrite", L"Skip", L"Ask", L"AutoNumber", L"NewerOnly"};

std::wstring Selected(MainWindow& form) {
  for (auto name : kRadios)
    if (IsChecked(form.Control(name))) return name;
  return L"";
}

TEST(StoredNumber, ParsesLikeTheStoredFormat) {
  struct Case {
    std::wstring text;
    int value;
  } cases[] = {{L"", 0},           {L"1", 1},           {L" 2", 2},          {L"3", 3},
               {L"0x3", 3},        {L"0X3", 3},         {L"$2", 2},          {L"x1", 1},
               {L"X1", 1},         {L"4", 4},           {L"-1", -1},         {L"+2", 2},
               {L"abc", 0},        {L"0x", 0},          {L"99999999999", 0}, {L"2147483647", 2147483647},
               {L"2147483648", 0}, {L"0x100000001", 0}, {L"1 ", 0},          {L"1a", 0}};
  for (auto& c : cases) EXPECT_EQ(ParseStoredNumber(c.text), c.value) << Narrow(c.text);
}

TEST_F(Settings, StoredTextSelectsTheRadioButton) {
  struct Case {
    std::string fileValue;
    const wchar_t* expected;
  } cases[] = {{"", L"AutoNumber"},
               {"1", L"Overwrite"},
               {" 2", L"Skip"},
               {"3", L"Ask"},
               {"0x3", L"Ask"},
               {"$2", L"Skip"},
               {"x1", L"Overwrite"},
               {"4", L"AutoNumber"},
               {"5", L"NewerOnly"},
               {"0", L"AutoNumber"},
               {"-1", L"AutoNumber"},
               {"abc", L"AutoNumber"},
               {"99999999999", L"AutoNumber"}};
  for (auto& c : cases) {
    WriteBytes(paths_.system, "[Parameter]\r\nSameFile=" + c.fileValue + "\r\n");
    Start();
    EXPECT_EQ(Selected(form()), c.expected) << c.fileValue;
    app_.reset();
  }
}

TEST_F(Settings, ClosingStoresTheSelectionAndTheNextStartSelectsItAgain) {
  struct Case {
    const wchar_t* radio;
    const char* stored;
  } cases[] = {{L"Overwrite", "1"}, {L"Skip", "2"}, {L"Ask", "3"}, {L"AutoNumber", "4"}, {L"NewerOnly", "5"}};
  for (auto& c : cases) {
    DeleteFileW(paths_.system.c_str());
    Start();
    Click(form().Control(c.radio));
    CloseMainWindow();
    EXPECT_FALSE(IsWindow(form().hwnd()));
    EXPECT_EQ(ReadBytes(paths_.system), std::string("[Parameter]\r\nSameFile=") + c.stored + "\r\n");
    app_.reset();
    Start();
    EXPECT_EQ(Selected(form()), c.radio);
    app_.reset();
  }
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(Settings, TheEndOfTheSessionStoresThePolicyToo) {
  Start();
  Click(L"NewerOnly");
  SendMessageW(form().hwnd(), WM_ENDSESSION, FALSE, 0);  // the end was cancelled: nothing stored
  EXPECT_FALSE(Exists(paths_.system));
  SendMessageW(form().hwnd(), WM_ENDSESSION, TRUE, 0);
  EXPECT_EQ(ReadBytes(paths_.system), "[Parameter]\r\nSameFile=5\r\n");
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(Settings, OtherSectionsAndKeysSurviveAStore) {
  WriteBytes(paths_.system, "[Other]\r\nKey=Value\r\n[Parameter]\r\nMore=x\r\nSameFile=1\r\n");
  Start();
  Click(L"Skip");
  CloseMainWindow();
  EXPECT_EQ(ReadBytes(paths_.system), "[Other]\r\nKey=Value\r\n[Parameter]\r\nMore=x\r\nSameFile=2\r\n");
}

TEST_F(Settings, AnUnwritableSystemDirectoryFallsBackToThePerUserCopy) {
  paths_.system = settingsDir_ / L"missing folder\\Tandrel.ini";
  OverrideSettingsPaths(&paths_);
  Start();
  Click(L"Skip");
  CloseMainWindow();
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_FALSE(IsWindow(form().hwnd()));
  EXPECT_EQ(ReadBytes(paths_.user), "[Parameter]\r\nSameFile=2\r\n");
  app_.reset();
  Start();
  EXPECT_EQ(Selected(form()), L"Skip");
  app_.reset();
  // Once the system file can be written again, it wins and the copy's key goes.
  paths_.system = settingsDir_ / L"sys\\Tandrel.ini";
  OverrideSettingsPaths(&paths_);
  Start();
  Click(L"Ask");
  CloseMainWindow();
  EXPECT_EQ(ReadBytes(paths_.system), "[Parameter]\r\nSameFile=3\r\n");
  app_.reset();
  Start();
  EXPECT_EQ(Selected(form()), L"Ask");
}

TEST_F(Settings, WhenNothingCanBeWrittenTheErrorBoxShowsAndTheWindowClosesAllTheSame) {
  paths_.system = settingsDir_ / L"missing folder\\Tandrel.ini";
  WriteBytes(settingsDir_ / L"blocker", "a file where the per-user folder should be");
  paths_.user = settingsDir_ / L"blocker\\Quillmere\\Tandrel.ini";
  OverrideSettingsPaths(&paths_);
  Start();
  CloseMainWindow();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, L"Unable to write to " + paths_.system + L".");
  EXPECT_EQ(dialogs.boxes[0].flags & 0xFF, UINT(MB_ICONERROR));
  EXPECT_FALSE(IsWindow(form().hwnd()));
}

}  // namespace
