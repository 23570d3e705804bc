// Creates the real application windows for a window-level test, with the
// settings file in a temporary folder and scripted dialogs.
#pragma once
#include <gtest/gtest.h>

#include "app/Application.h"
#include "copy/Settings.h"
#include "app/MainWindow.h"
#include "app/FolderChooser.h"
#include "app/SearchDialog.h"
#include "tests/support/TestSupport.h"

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OleInitialize(nullptr);
    paths_.system = settingsDir_ / L"sys\\Tandrel.ini";
    paths_.user = settingsDir_ / L"user\\Quillmere\\Tandrel.ini";
    MakeDir(settingsDir_ / L"sys");
    copy::OverrideSettingsPaths(&paths_);
    UseDialogs(&dialogs);
  }
  void TearDown() override {
    app_.reset();
    UseDialogs(nullptr);
    copy::OverrideSettingsPaths(nullptr);
  }
  // Creates the windows (the main window reads the settings now).
  Application& Start() {
    app_ = std::make_unique<Application>();
    app_->Create();
    return *app_;
  }
  MainWindow& form() { return app_->mainWindow(); }
  MainControls& ui() { return form().Controls(); }
  // A click, and the long work it started (which ends with a posted message).
  void Click(const Control& button) {
    SendMessageW(button.hwnd(), BM_CLICK, 0, 0);
    WaitIdle();
  }
  void WaitIdle() {
    for (DWORD start = GetTickCount(); form().Working() && GetTickCount() - start < 120000;) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      Pump();
    }
    ASSERT_FALSE(form().Working()) << "long work did not end";
  }
  // "..." shows, as adding a destination shows it.
  void ShowEmptyNow() { ShowWindow(ui().emptyNow.hwnd(), SW_SHOWNA); }
  // Closes the main window as its close box would, and lets the close finish.
  void CloseMainWindow() {
    SendMessageW(form().hwnd(), WM_CLOSE, 0, 0);
    Pump();
  }
  void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  ScriptedDialogs dialogs;
  TempDir settingsDir_;
  copy::SettingsFilePaths paths_;
  std::unique_ptr<Application> app_;
};
