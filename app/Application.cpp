#include "app/Application.h"

#include "common/Raii.h"

#include <ole2.h>

#include "app/MainWindow.h"
#include "wingui/Dialogs.h"
#include "app/FolderChooser.h"
#include "app/SearchDialog.h"

namespace {
const wchar_t kAppWindowClass[] = L"QuillmereApplication";
}

Application::Application() = default;

Application::~Application() {
  searchDialog_.reset();
  folderChooser_.reset();
  mainWindow_.reset();
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
  mainWindow_ = std::make_unique<MainWindow>();
  mainWindow_->Create(appWindow_);
  folderChooser_ = std::make_unique<FolderChooser>();
  folderChooser_->Create(mainWindow_->hwnd());
  searchDialog_ = std::make_unique<SearchDialog>();
  searchDialog_->Create(mainWindow_->hwnd());
  mainWindow_->UseForms(*folderChooser_, *searchDialog_);
}

int Application::Run() {
  mainWindow_->Show();
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
  OleSession ole;
  Application app;
  app.Create();
  return app.Run();
}
