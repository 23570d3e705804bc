#include "tests/support/AppFixture.h"

namespace {

using Settings = AppTest;

// The policy's radio buttons, as members of the window's controls.
using Radio = RadioButton MainControls::*;
constexpr Radio kOverwrite = &MainControls::overwrite, kSkip = &MainControls::skip, kAsk = &MainControls::ask,
                kAutoNumber = &MainControls::autoNumber, kNewerOnly = &MainControls::newerOnly;

Radio Selected(MainWindow& form) {
  for (Radio radio : {kOverwrite, kSkip, kAsk, kAutoNumber, kNewerOnly})
    if ((form.Controls().*radio).Checked()) return radio;
  return nullptr;
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
  for (auto& c : cases) EXPECT_EQ(copy::ParseStoredNumber(c.text), c.value) << Narrow(c.text);
}

TEST_F(Settings, StoredTextSelectsTheRadioButton) {
  struct Case {
    std::string fileValue;
    Radio expected;
  } cases[] = {{"", kAutoNumber},
               {"1", kOverwrite},
               {" 2", kSkip},
               {"3", kAsk},
               {"0x3", kAsk},
               {"$2", kSkip},
               {"x1", kOverwrite},
               {"4", kAutoNumber},
               {"5", kNewerOnly},
               {"0", kAutoNumber},
               {"-1", kAutoNumber},
               {"abc", kAutoNumber},
               {"99999999999", kAutoNumber}};
  for (auto& c : cases) {
    WriteBytes(paths_.system, "[Parameter]\r\nSameFile=" + c.fileValue + "\r\n");
    Start();
    EXPECT_EQ(Selected(form()), c.expected) << c.fileValue;
    app_.reset();
  }
}

TEST_F(Settings, ClosingStoresTheSelectionAndTheNextStartSelectsItAgain) {
  struct Case {
    Radio radio;
    const char* stored;
  } cases[] = {{kOverwrite, "1"}, {kSkip, "2"}, {kAsk, "3"}, {kAutoNumber, "4"}, {kNewerOnly, "5"}};
  for (auto& c : cases) {
    DeleteFileW(paths_.system.c_str());
    Start();
    Click(ui().*c.radio);
    CloseMainWindow();
    EXPECT_FALSE(IsWindow(form().hwnd()));
    EXPECT_EQ(ReadBytes(paths_.system), std::string("[Parameter]\r\nSameFile=") + c.stored + "\r\nVerifyCopies=0\r\n");
    app_.reset();
    Start();
    EXPECT_EQ(Selected(form()), c.radio);
    app_.reset();
  }
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(Settings, TheEndOfTheSessionStoresThePolicyToo) {
  Start();
  Click(ui().newerOnly);
  Click(ui().verify);
  SendMessageW(form().hwnd(), WM_ENDSESSION, FALSE, 0);  // the end was cancelled: nothing stored
  EXPECT_FALSE(Exists(paths_.system));
  SendMessageW(form().hwnd(), WM_ENDSESSION, TRUE, 0);
  EXPECT_EQ(ReadBytes(paths_.system), "[Parameter]\r\nSameFile=5\r\nVerifyCopies=1\r\n");
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(Settings, OtherSectionsAndKeysSurviveAStore) {
  WriteBytes(paths_.system, "[Other]\r\nKey=Value\r\n[Parameter]\r\nMore=x\r\nSameFile=1\r\n");
  Start();
  Click(ui().skip);
  CloseMainWindow();
  EXPECT_EQ(ReadBytes(paths_.system),
            "[Other]\r\nKey=Value\r\n[Parameter]\r\nMore=x\r\nSameFile=2\r\nVerifyCopies=0\r\n");
}

TEST_F(Settings, AnUnwritableSystemDirectoryFallsBackToThePerUserCopy) {
  paths_.system = settingsDir_ / L"missing folder\\Tandrel.ini";
  copy::OverrideSettingsPaths(&paths_);
  Start();
  Click(ui().skip);
  CloseMainWindow();
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_FALSE(IsWindow(form().hwnd()));
  EXPECT_EQ(ReadBytes(paths_.user), "[Parameter]\r\nSameFile=2\r\nVerifyCopies=0\r\n");
  app_.reset();
  Start();
  EXPECT_EQ(Selected(form()), kSkip);
  app_.reset();
  // Once the system file can be written again, it wins and the copy's key goes.
  paths_.system = settingsDir_ / L"sys\\Tandrel.ini";
  copy::OverrideSettingsPaths(&paths_);
  Start();
  Click(ui().ask);
  CloseMainWindow();
  EXPECT_EQ(ReadBytes(paths_.system), "[Parameter]\r\nSameFile=3\r\nVerifyCopies=0\r\n");
  app_.reset();
  Start();
  EXPECT_EQ(Selected(form()), kAsk);
}

// The tick has a key of its own beside the policy; a file from before it reads as off.
TEST_F(Settings, TheVerifyTickIsStoredBesideThePolicyAndReadBack) {
  WriteBytes(paths_.system, "[Parameter]\r\nSameFile=2\r\n");
  Start();
  EXPECT_FALSE(ui().verify.Checked());
  Click(ui().verify);
  CloseMainWindow();
  EXPECT_EQ(ReadBytes(paths_.system), "[Parameter]\r\nSameFile=2\r\nVerifyCopies=1\r\n");
  app_.reset();
  Start();
  EXPECT_TRUE(ui().verify.Checked());
  EXPECT_EQ(Selected(form()), kSkip);
}

TEST_F(Settings, WhenNothingCanBeWrittenTheErrorBoxShowsAndTheWindowClosesAllTheSame) {
  paths_.system = settingsDir_ / L"missing folder\\Tandrel.ini";
  WriteBytes(settingsDir_ / L"blocker", "a file where the per-user folder should be");
  paths_.user = settingsDir_ / L"blocker\\Quillmere\\Tandrel.ini";
  copy::OverrideSettingsPaths(&paths_);
  Start();
  CloseMainWindow();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, L"Unable to write to " + paths_.system + L".");
  EXPECT_EQ(dialogs.boxes[0].flags & 0xFF, UINT(MB_ICONERROR));
  EXPECT_FALSE(IsWindow(form().hwnd()));
}

}  // namespace
