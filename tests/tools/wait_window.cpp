// wait_window CLASS CAPTION SECONDS: waits until a visible top-level window
// of that class and caption exists (exit 0) or the time runs out (exit 1).
// Used by `make run` to know when the main window is up.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  int tenths = _wtoi(argv[3]) * 10;
  for (int i = 0; i < tenths; ++i) {
    HWND window = FindWindowW(argv[1], argv[2]);
    if (window && IsWindowVisible(window)) {
      Sleep(1500);  // let it finish painting
      return 0;
    }
    Sleep(100);
  }
  return 1;
}
