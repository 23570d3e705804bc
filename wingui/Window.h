// Thin, non-owning window plumbing shared by the three forms: a window
// procedure that forwards to members and turns errors into the error box,
// controls created from tables and laid out for the window's DPI, fonts, and
// the container class that panels, tab pages and group boxes use to pass
// notifications up to their form.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "wingui/Controls.h"
#include "wingui/Display.h"

enum class FontKind { Default, Song };

// Sent to a form as ShowModal shows it.
constexpr UINT kFormShowing = WM_APP + 1;
// The application's own messages are numbered from here.
constexpr UINT kFirstAppMessage = WM_APP + 16;

// One row of a form's control table: the member it makes, and its place,
// size and caption, which the tests read back.
struct ControlDef {
  Control* control;
  const wchar_t* windowClass;
  const wchar_t* text;
  DWORD style;
  const Control* parent;                    // nullptr: the form itself
  int x, y, width, height;                  // 96-dpi pixels, scaled to the form's DPI
  std::function<void()> onClick = nullptr;  // a plain check box toggles first
  FontKind font = FontKind::Default;
  DWORD exStyle = 0;
};

// What a control's own procedure is preceded by (Subclass): true when the
// message is handled, its result in *result.
using ControlMessageHandler = std::function<bool(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)>;
// Puts handler before the control's own procedure, for the life of the
// control; whatever it does not handle goes on there.
void Subclass(HWND control, ControlMessageHandler handler);

// Window class of plain containers (panels, tab pages); kBevelPanel draws
// a lowered outer and a raised inner bevel.
extern const wchar_t kPanelClass[];
constexpr LONG_PTR kBevelPanel = 1;

// The fonts at a DPI, their 96-dpi heights scaled like the layout (made once
// for each DPI, kept for the process).
// Default: "MS Sans Serif", 8 pt; Song: "宋体", 9 pt.
HFONT SongFont(UINT dpi = display::kBaseDpi);
HFONT FontOf(FontKind kind, UINT dpi);

void RegisterCommonClasses(HINSTANCE instance);
// Registers a class once (button-face background, arrow cursor).
void RegisterWindowClass(HINSTANCE instance, const wchar_t* className, WNDPROC proc, HICON icon);

class Form {
 public:
  virtual ~Form() = default;
  HWND hwnd() const { return hwnd_; }
  // The rows the form's controls were made from, in table order.
  const std::vector<ControlDef>& Definitions() const { return defs_; }
  // The DPI the form is laid out for.
  UINT Dpi() const { return dpi_; }

  // Shows the form modally over its owner; returns the modal result.
  int ShowModal();
  void EndModal(int result) { modalResult_ = result; }

 protected:
  static void RegisterFormClass(HINSTANCE instance, const wchar_t* className, HICON icon);
  // A length in 96-dpi pixels at the form's DPI.
  int Scaled(int value) const { return display::Scale(value, dpi_); }
  // Creates the window at the DPI of the screen it lands on; width and height
  // are 96-dpi pixels of the client area or, without clientSize, of the window.
  HWND CreateForm(const wchar_t* className, const wchar_t* caption, DWORD style, DWORD exStyle, HWND owner, int width,
                  int height, bool clientSize);
  void CreateControls(const std::vector<ControlDef>& defs);
  // Lays the form out again for another DPI in the given window rectangle:
  // every table row and its font, then OnDpiChanged. WM_DPICHANGED comes here.
  void ChangeDpi(UINT dpi, const RECT& window);
  // Follows the DPI of the monitor the window now sits on, keeping its centre
  // (a hidden window moved there may not have been told).
  void FollowMonitorDpi();
  // The form's own layout beyond its table (stretched controls, glyphs, icons),
  // after every change of DPI.
  virtual void OnDpiChanged() {}
  // A table row's click handler, bound to this form.
  template <typename F>
  std::function<void()> On(void (F::*handler)()) {
    return [this, handler] { (static_cast<F*>(this)->*handler)(); };
  }
  // Runs the click handler of the control with this id; false when it has none.
  bool DispatchClick(UINT id);
  // Called for every message; return true when handled (result in *result).
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) = 0;
  void CentreOver(HWND reference);

  HWND hwnd_ = nullptr;

 private:
  static LRESULT CALLBACK FormProc(HWND, UINT, WPARAM, LPARAM);
  SIZE WindowSize(UINT dpi) const;
  void PlaceControl(const ControlDef& def) const;
  std::vector<ControlDef> defs_;
  int modalResult_ = 0;
  UINT dpi_ = display::kBaseDpi;
  // The window's size at 96 dpi, as CreateForm was given it.
  int baseWidth_ = 0, baseHeight_ = 0;
  bool baseIsClient_ = false;
  DWORD style_ = 0, exStyle_ = 0;
};

// Runs a handler body, turning AppError (and any other exception) into the
// error box, so that no exception crosses a window procedure.
template <typename F>
void Guarded(F&& body);
void ReportException();

template <typename F>
void Guarded(F&& body) {
  try {
    body();
  } catch (...) {
    ReportException();
  }
}

// Small control helpers.
std::wstring WindowText(HWND window);

// Hourglass over the whole screen for the life of the object.
class BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor();
  static bool Active();

 private:
  HCURSOR previous_;
};
