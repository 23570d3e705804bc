// Display scaling. Layouts are written in 96-dpi pixels and scaled to the
// DPI of the window that shows them. The per-monitor functions exist only on
// Windows 10 1607 and later: they are looked up at run time, and without them
// the screen's DPI (the system DPI) serves, so the program still starts on
// Windows 7.
#pragma once
#include <windows.h>

namespace display {

constexpr UINT kBaseDpi = 96;

// A length in 96-dpi pixels at the given DPI, rounded to the nearest pixel.
inline int Scale(int value, UINT dpi) { return MulDiv(value, int(dpi), int(kBaseDpi)); }

// The DPI of the screen the program started on.
UINT SystemDpi();
// The DPI a window is shown at (the system DPI where Windows cannot tell).
UINT DpiOfWindow(HWND window);

// The window rectangle around a client rectangle, with the frame at that DPI.
RECT WindowRectForClient(RECT client, DWORD style, DWORD exStyle, UINT dpi);
// A system metric (SM_CXSMICON, SM_CXMENUCHECK...) at that DPI.
int SystemMetric(int index, UINT dpi);

}  // namespace display

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
