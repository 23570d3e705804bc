#include "wingui/Window.h"

#include <commctrl.h>

#include <map>
#include <utility>

#include "common/AppError.h"
#include "wingui/Dialogs.h"

const wchar_t kPanelClass[] = L"QuillmerePanel";

namespace {

int g_busyDepth = 0;
constexpr UINT kFirstControlId = 100;  // clear of IDOK and IDCANCEL

HFONT MakeFont(const wchar_t* face, int height, BYTE charset) {
  LOGFONTW font = {};
  font.lfHeight = height;
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = charset;
  lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
  return CreateFontIndirectW(&font);
}

bool ForwardsToForm(UINT message) {
  return message == WM_COMMAND || message == WM_NOTIFY || message == WM_HSCROLL || message == WM_VSCROLL ||
         (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) || message == WM_DRAWITEM;
}

// Containers pass notifications of their children on to the form.
LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (ForwardsToForm(message)) return SendMessageW(GetAncestor(window, GA_ROOT), message, wParam, lParam);
  if (message == WM_PAINT && GetWindowLongPtrW(window, GWLP_USERDATA) == kBevelPanel) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT rect;
    GetClientRect(window, &rect);
    FillRect(dc, &rect, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(dc, &rect, BDR_SUNKENOUTER | BDR_RAISEDINNER, BF_RECT);
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A control's own window procedure, saved when ours is put in its place,
// with what runs before it. Kept in the control's user data: the window
// properties that SetWindowSubclass uses cost a server round trip per
// message under Wine.
struct SavedProc {
  WNDPROC previous;
  ControlMessageHandler handler;  // none for the containers that pass messages up
};

SavedProc* SavedOf(HWND window) { return reinterpret_cast<SavedProc*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

void ReplaceProc(HWND window, WNDPROC proc, ControlMessageHandler handler) {
  auto* saved = new SavedProc{nullptr, std::move(handler)};
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(saved));
  saved->previous =
      reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
}

// Passes a message on to the saved procedure; forgets it when the window goes.
LRESULT CallSaved(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SavedProc* saved = SavedOf(window);
  WNDPROC previous = saved->previous;
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    delete saved;
  }
  return CallWindowProcW(previous, window, message, wParam, lParam);
}

LRESULT CALLBACK HandledProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  bool handled = false;
  if (message != WM_NCDESTROY) {
    const ControlMessageHandler& handler = SavedOf(window)->handler;
    Guarded([&] { handled = handler(message, wParam, lParam, &result); });
  }
  if (handled) return result;
  return CallSaved(window, message, wParam, lParam);
}

LRESULT CALLBACK ForwardingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (ForwardsToForm(message)) return SendMessageW(GetAncestor(window, GA_ROOT), message, wParam, lParam);
  if (message == WM_ERASEBKGND) {
    // A group box that holds controls must paint its own inside.
    RECT rect;
    GetClientRect(window, &rect);
    FillRect(reinterpret_cast<HDC>(wParam), &rect, GetSysColorBrush(COLOR_BTNFACE));
    return TRUE;
  }
  return CallSaved(window, message, wParam, lParam);
}

}  // namespace

HFONT FontOf(FontKind kind, UINT dpi) {
  // A form shows at a handful of DPIs in a session: the fonts are never freed.
  static std::map<std::pair<FontKind, UINT>, HFONT> fonts;
  HFONT& font = fonts[{kind, dpi}];
  if (font) return font;
  if (kind == FontKind::Song) {
    // An even height, never a pixel taller than the scaled one: the Ming font
    // that stands in for 宋体 under Wine advances full-width glyphs by even
    // pixels, so at an odd height a caption outgrows its scaled control
    // (搜素文件名包含： fills its label exactly).
    int height = display::Scale(12, dpi) & ~1;
    font = MakeFont(L"宋体", -height, ANSI_CHARSET);
  } else {
    font = MakeFont(L"MS Sans Serif", -display::Scale(11, dpi), DEFAULT_CHARSET);
  }
  return font;
}

HFONT SongFont(UINT dpi) { return FontOf(FontKind::Song, dpi); }

void RegisterCommonClasses(HINSTANCE instance) {
  INITCOMMONCONTROLSEX init = {sizeof init, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_TAB_CLASSES |
                                                ICC_PROGRESS_CLASS | ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&init);
  RegisterWindowClass(instance, kPanelClass, PanelProc, nullptr);
}

void RegisterWindowClass(HINSTANCE instance, const wchar_t* className, WNDPROC proc, HICON icon) {
  WNDCLASSEXW wc = {sizeof wc};
  if (GetClassInfoExW(instance, className, &wc)) return;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = className;
  wc.hIcon = icon;
  wc.hIconSm = icon;
  RegisterClassExW(&wc);
}

void ReportException() {
  try {
    throw;
  } catch (const AppError& e) {
    ShowErrorBox(e.text, e.detail);
  } catch (const std::bad_alloc&) {
    ShowErrorBox(L"Out of memory");
  } catch (const std::exception& e) {
    std::string what = e.what();
    ShowErrorBox(std::wstring(what.begin(), what.end()));
  } catch (...) {
    // Nothing may cross a window procedure, whatever was thrown.
    ShowErrorBox(L"Unknown error");
  }
}

void Form::RegisterFormClass(HINSTANCE instance, const wchar_t* className, HICON icon) {
  RegisterWindowClass(instance, className, FormProc, icon);
}

HWND Form::CreateForm(const wchar_t* className, const wchar_t* caption, DWORD style, DWORD exStyle, HWND owner,
                      int width, int height, bool clientSize) {
  baseWidth_ = width;
  baseHeight_ = height;
  baseIsClient_ = clientSize;
  style_ = style;
  exStyle_ = exStyle;
  SIZE size = WindowSize(display::kBaseDpi);
  CreateWindowExW(exStyle, className, caption, style, CW_USEDEFAULT, CW_USEDEFAULT, size.cx, size.cy, owner, nullptr,
                  GetModuleHandleW(nullptr), this);
  // Only the window knows the monitor it landed on.
  dpi_ = display::DpiOfWindow(hwnd_);
  if (dpi_ != display::kBaseDpi) {
    size = WindowSize(dpi_);
    SetWindowPos(hwnd_, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return hwnd_;
}

SIZE Form::WindowSize(UINT dpi) const {
  RECT client = {0, 0, baseWidth_, baseHeight_};
  if (!baseIsClient_) {
    // A whole-window size: only its client part scales with the layout.
    RECT frame = display::WindowRectForClient({0, 0, 0, 0}, style_, exStyle_, display::kBaseDpi);
    client.right -= frame.right - frame.left;
    client.bottom -= frame.bottom - frame.top;
  }
  client.right = display::Scale(client.right, dpi);
  client.bottom = display::Scale(client.bottom, dpi);
  RECT window = display::WindowRectForClient(client, style_, exStyle_, dpi);
  return {window.right - window.left, window.bottom - window.top};
}

void Form::PlaceControl(const ControlDef& def) const {
  const HWND control = def.control->hwnd();
  SendMessageW(control, WM_SETFONT, WPARAM(FontOf(def.font, dpi_)), FALSE);
  SetWindowPos(control, nullptr, Scaled(def.x), Scaled(def.y), Scaled(def.width), Scaled(def.height),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form::ChangeDpi(UINT dpi, const RECT& window) {
  dpi_ = dpi;
  for (const ControlDef& def : defs_) PlaceControl(def);
  SetWindowPos(hwnd_, nullptr, window.left, window.top, window.right - window.left, window.bottom - window.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  OnDpiChanged();
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void Form::FollowMonitorDpi() {
  UINT now = display::DpiOfWindow(hwnd_);
  if (now == dpi_) return;
  RECT old;
  GetWindowRect(hwnd_, &old);
  SIZE size = WindowSize(now);
  int x = (old.left + old.right - size.cx) / 2, y = (old.top + old.bottom - size.cy) / 2;
  ChangeDpi(now, RECT{x, y, x + size.cx, y + size.cy});
}

void Form::CreateControls(const std::vector<ControlDef>& defs) {
  for (const ControlDef& def : defs) {
    HWND parent = def.parent ? def.parent->hwnd() : hwnd_;
    const UINT id = UINT(kFirstControlId + defs_.size());
    // Containers let dialog navigation (Tab, arrows) reach their children.
    bool container = def.windowClass == kPanelClass || lstrcmpiW(def.windowClass, WC_TABCONTROLW) == 0 ||
                     (lstrcmpiW(def.windowClass, WC_BUTTONW) == 0 && (def.style & 0x0F) == BS_GROUPBOX);
    DWORD exStyle = def.exStyle | (container ? WS_EX_CONTROLPARENT : 0);
    HWND control = CreateWindowExW(exStyle, def.windowClass, def.text, def.style | WS_CHILD, Scaled(def.x),
                                   Scaled(def.y), Scaled(def.width), Scaled(def.height), parent,
                                   reinterpret_cast<HMENU>(INT_PTR(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, WPARAM(FontOf(def.font, dpi_)), FALSE);
    def.control->hwnd_ = control;
    defs_.push_back(def);
    // Group boxes and tab controls hold children: pass their notifications up.
    wchar_t cls[32];
    GetClassNameW(control, cls, 32);
    if ((lstrcmpiW(cls, L"Button") == 0 && (def.style & 0x0F) == BS_GROUPBOX) || lstrcmpiW(cls, WC_TABCONTROLW) == 0)
      ReplaceProc(control, ForwardingProc, nullptr);
  }
}

bool Form::DispatchClick(UINT id) {
  if (id < kFirstControlId || id - kFirstControlId >= defs_.size()) return false;
  const ControlDef& def = defs_[id - kFirstControlId];
  if (!def.onClick) return false;
  if ((def.style & 0x0F) == BS_CHECKBOX && lstrcmpiW(def.windowClass, WC_BUTTONW) == 0) {
    const HWND box = def.control->hwnd();
    SendMessageW(box, BM_SETCHECK, SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED,
                 0);
  }
  def.onClick();
  return true;
}

void Subclass(HWND control, ControlMessageHandler handler) { ReplaceProc(control, HandledProc, std::move(handler)); }

void Form::CentreOver(HWND reference) {
  RECT area, self;
  if (reference && IsWindowVisible(reference))
    GetWindowRect(reference, &area);
  else
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  GetWindowRect(hwnd_, &self);
  int w = self.right - self.left, h = self.bottom - self.top;
  SetWindowPos(hwnd_, nullptr, area.left + (area.right - area.left - w) / 2,
               area.top + (area.bottom - area.top - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int Form::ShowModal() {
  HWND owner = GetWindow(hwnd_, GW_OWNER);
  bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  modalResult_ = 0;
  SendMessageW(hwnd_, kFormShowing, 0, 0);
  FollowMonitorDpi();
  ShowWindow(hwnd_, SW_SHOW);
  MSG msg;
  while (modalResult_ == 0) {
    if (!GetMessageW(&msg, nullptr, 0, 0)) {
      PostQuitMessage(int(msg.wParam));
      modalResult_ = IDCANCEL;
      break;
    }
    if (!IsDialogMessageW(hwnd_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (ownerWasEnabled) EnableWindow(owner, TRUE);
  ShowWindow(hwnd_, SW_HIDE);
  if (owner) SetActiveWindow(owner);
  return modalResult_;
}

LRESULT CALLBACK Form::FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Form* form;
  if (message == WM_NCCREATE) {
    form = static_cast<Form*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    form->hwnd_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  } else {
    form = reinterpret_cast<Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  }
  if (form) {
    if (message == WM_SETCURSOR && BusyCursor::Active()) {
      SetCursor(LoadCursorW(nullptr, IDC_WAIT));
      return TRUE;
    }
    if (message == WM_DPICHANGED) {
      // The new DPI and the rectangle Windows suggests for it.
      Guarded([&] { form->ChangeDpi(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam)); });
      return 0;
    }
    LRESULT result = 0;
    bool handled = false;
    Guarded([&] { handled = form->OnMessage(message, wParam, lParam, &result); });
    if (handled) return result;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

std::wstring WindowText(HWND window) {
  int n = GetWindowTextLengthW(window);
  std::wstring text(n + 1, L'\0');
  GetWindowTextW(window, text.data(), n + 1);
  text.resize(wcslen(text.c_str()));
  return text;
}

std::wstring Control::Text() const { return WindowText(hwnd_); }

BusyCursor::BusyCursor() : previous_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) { ++g_busyDepth; }
BusyCursor::~BusyCursor() {
  if (--g_busyDepth == 0) SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}
bool BusyCursor::Active() { return g_busyDepth > 0; }
