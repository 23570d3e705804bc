// Start-up: OLE, the hidden application window, the three forms in their
// order, and the message loop until the main window closes.
#pragma once
#include <windows.h>

#include <memory>

class TForm1;
class TForm2;
class TfrmSearch;

class Application {
 public:
  Application();
  ~Application();
  // Creates the application window, Form1 (FormCreate runs), Form2, frmSearch.
  void Create();
  // Shows Form1 and runs the message loop until it closes.
  int Run();
  HWND appWindow() const { return appWindow_; }
  TForm1& form1() { return *form1_; }
  TForm2& form2() { return *form2_; }
  TfrmSearch& frmSearch() { return *frmSearch_; }

 private:
  HWND appWindow_ = nullptr;
  std::unique_ptr<TForm1> form1_;
  std::unique_ptr<TForm2> form2_;
  std::unique_ptr<TfrmSearch> frmSearch_;
};

int RunApplication(HINSTANCE instance);
