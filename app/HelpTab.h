// The help tab: an embedded web browser for the publisher's help page,
// with built-in usage tips shown until (and unless) the page arrives.
#pragma once
#include <windows.h>

#include <exdisp.h>
#include <ocidl.h>

#include <string>

#include "common/Raii.h"

class BrowserSite;

std::wstring HelpPageAddress();

class HelpView {
 public:
  HelpView(HWND page, UINT dpi);
  ~HelpView();
  HWND hwnd() const { return container_; }
  HWND tipsWindow() const { return tips_; }
  void Resize(int x, int y, int width, int height);
  void SetDpi(UINT dpi);  // the tips' font
  void Navigate(const std::wstring& address);
  // The page arrived (or failed); called from the browser's events.
  void OnDocumentComplete();
  void OnNavigateError();
  bool ShowingTips() const { return !pageShown_; }

 private:
  void Layout();
  HWND container_ = nullptr;  // hosts the browser and the tips
  HWND browserHost_ = nullptr;
  HWND tips_ = nullptr;
  ComPtr<BrowserSite> site_;
  ComPtr<IWebBrowser2> browser_;
  ComPtr<IConnectionPoint> events_;  // the browser's events, undone with the cookie
  DWORD cookie_ = 0;
  bool failed_ = false;
  bool pageShown_ = false;
};
