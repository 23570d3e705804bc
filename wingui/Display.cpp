#include "wingui/Display.h"

namespace display {

namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);

// The user32 functions of Windows 10 1607+, or nullptr before it.
template <typename F>
F User32(const char* name) {
  return reinterpret_cast<F>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name));
}

}  // namespace

UINT SystemDpi() {
  HDC screen = GetDC(nullptr);
  int value = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return value > 0 ? UINT(value) : kBaseDpi;
}

UINT DpiOfWindow(HWND window) {
  static const auto getDpiForWindow = User32<GetDpiForWindowFn>("GetDpiForWindow");
  if (getDpiForWindow && window) {
    if (UINT value = getDpiForWindow(window)) return value;
  }
  return SystemDpi();
}

RECT WindowRectForClient(RECT client, DWORD style, DWORD exStyle, UINT dpi) {
  static const auto adjustForDpi = User32<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
  if (adjustForDpi && adjustForDpi(&client, style, FALSE, exStyle, dpi)) return client;
  // Before 1607 the frame comes at the system DPI; scale it from there.
  RECT frame = {0, 0, 0, 0};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const UINT system = SystemDpi();
  client.left += MulDiv(frame.left, int(dpi), int(system));
  client.top += MulDiv(frame.top, int(dpi), int(system));
  client.right += MulDiv(frame.right, int(dpi), int(system));
  client.bottom += MulDiv(frame.bottom, int(dpi), int(system));
  return client;
}

int SystemMetric(int index, UINT dpi) {
  static const auto metricForDpi = User32<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
  if (metricForDpi) return metricForDpi(index, dpi);
  // Before 1607 the metrics are the system DPI's; scale them from there.
  return MulDiv(GetSystemMetrics(index), int(dpi), int(SystemDpi()));
}

}  // namespace display
