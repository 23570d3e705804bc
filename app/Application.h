// Start-up: OLE, the hidden application window, the three forms in their
// order, and the message loop until the main window closes.
#pragma once
#include <windows.h>

#include <memory>

class MainWindow;
class FolderChooser;
class SearchDialog;

class Application {
 public:
  Application();
  ~Application();
  // Creates the hidden application window, then the main window (which reads
  // the settings), the folder chooser and the search dialog, in that order.
  void Create();
  // Shows the main window and runs the message loop until it closes.
  int Run();
  HWND appWindow() const { return appWindow_; }
  MainWindow& mainWindow() { return *mainWindow_; }
  FolderChooser& folderChooser() { return *folderChooser_; }
  SearchDialog& searchDialog() { return *searchDialog_; }

 private:
  HWND appWindow_ = nullptr;
  std::unique_ptr<MainWindow> mainWindow_;
  std::unique_ptr<FolderChooser> folderChooser_;
  std::unique_ptr<SearchDialog> searchDialog_;
};

int RunApplication(HINSTANCE instance);
