#include "app/Application.h"

#include <ole2.h>

#include "app/Unit1.h"
#include "common/Dialogs.h"
#include "lists/Unit2.h"
#include "search/UnitSearch.h"

namespace {
const wchar_t kAppWindowClass[] = L"QuillmereApplication";
}

Application::Application() = default;

Application::~Application() {
  frmSearch_.reset();
  form2_.reset();
  form1_.reset();
  if (appWindow_) DestroyWindow(appWindow_);
  SetAppWindow(nullptr);
}

void Application::Create() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterCommonClasses(instance);
  RegisterWindowClass(instance, kAppWindowClass, DefWindowProcW, LoadIconW(instance, MAKEINTRESOURCEW(1)));
  // Hidden, never shown: owns the main window and the application's boxes.
  appWindow_ = CreateWindowExW(WS_EX_TOOLWINDOW, kAppWindowClass, kAppTitle, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                               instance, nullptr);
  SetAppWindow(appWindow_);
  form1_ = std::make_unique<TForm1>();
  form1_->Create(appWindow_);
  form2_ = std::make_unique<TForm2>();
  form2_->Create(form1_->hwnd());
  frmSearch_ = std::make_unique<TfrmSearch>();
  frmSearch_->Create(form1_->hwnd());
  form1_->UseForms(*form2_, *frmSearch_);
}

int Application::Run() {
  form1_->Show();
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    HWND root = GetAncestor(msg.hwnd, GA_ROOT);
    if (root && IsDialogMessageW(root, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return int(msg.wParam);
}

int RunApplication(HINSTANCE) {
  // The browser and the shell folder tree need a single-threaded apartment.
  OleInitialize(nullptr);
  int code = 0;
  {
    Application app;
    app.Create();
    code = app.Run();
  }
  OleUninitialize();
  return code;
}
