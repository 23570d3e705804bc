// The three forms at the screen's DPI and after a change of DPI: every table
// row scaled, the fonts scaled, no caption clipped. CTest runs these twice:
// on the project's 96-dpi screen and, as app_tests_150, on one of 144 dpi
// (QM_EXPECT_DPI names the DPI the screen must have).
#include "tests/support/AppFixture.h"

#include "app/Texts.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

namespace {

RECT Rect(HWND w) {
  RECT r;
  GetWindowRect(w, &r);
  return r;
}
int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

std::wstring ClassOf(HWND w) {
  wchar_t name[64];
  GetClassNameW(w, name, 64);
  return name;
}

// The main window's layout sets these from the window's size: which of
// their lengths stay as the table (scaled) says.
struct Stretched {
  const Control* control;
  bool keepsHeight;
};
std::vector<Stretched> StretchedOf(Form& form) {
  auto* main = dynamic_cast<MainWindow*>(&form);
  if (!main) return {};
  const MainControls& c = main->Controls();
  return {{&c.tabs, false},       {&c.startPage, false}, {&c.helpPage, false},
          {&c.sourceGroup, true}, {&c.copyPanel, true},  {&c.statusFile, true}};
}

// What a control draws beside its caption, in 96-dpi pixels: the check box
// or radio circle with its gap, a push button's edges, a group box's indents.
int Beside(HWND w, DWORD style) {
  if (ClassOf(w) != L"Button") return 0;
  switch (style & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_AUTORADIOBUTTON:
      return 17;
    case BS_GROUPBOX:
      return 16;
    default:
      return 4;
  }
}

// The caption's text extent in the control's own font.
SIZE TextExtent(HWND w, bool wraps, int width) {
  HDC dc = GetDC(w);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0)));
  std::wstring text = WindowText(w);
  RECT r = {0, 0, width, 0};
  DrawTextW(dc, text.c_str(), int(text.size()), &r, DT_CALCRECT | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
  SelectObject(dc, old);
  ReleaseDC(w, dc);
  return {r.right, r.bottom};
}

TEXTMETRICW Metrics(HFONT font) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW tm;
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return tm;
}
int TextHeight(HFONT font) { return Metrics(font).tmHeight; }

// Every table row of the form at this DPI: place and size scaled from the
// table (exact at 96 dpi), the font as tall as the 96-dpi one scaled, and
// the caption within the control.
void ExpectLaidOutFor(Form& form, UINT dpi) {
  const int slack = dpi == display::kBaseDpi ? 0 : 1;
  auto scaled = [dpi](int v) { return display::Scale(v, dpi); };
  const std::vector<Stretched> stretched = StretchedOf(form);
  for (const ControlDef& def : form.Definitions()) {
    SCOPED_TRACE(Narrow(std::to_wstring(&def - &form.Definitions()[0]) + L" " + def.text));
    HWND w = def.control->hwnd();
    RECT r = Rect(w);
    MapWindowPoints(HWND_DESKTOP, GetParent(w), reinterpret_cast<POINT*>(&r), 2);
    auto it = std::find_if(stretched.begin(), stretched.end(), [&](const Stretched& s) { return s.control == def.control; });
    const Stretched* stretch = it == stretched.end() ? nullptr : &*it;
    if (!stretch) {
      EXPECT_NEAR(r.left, scaled(def.x), slack);
      EXPECT_NEAR(r.top, scaled(def.y), slack);
      EXPECT_NEAR(Width(r), scaled(def.width), slack);
      // A drop-down combo box is as tall as its font; the table gives its list's height.
      if (ClassOf(w) != L"ComboBox") {
        EXPECT_NEAR(Height(r), scaled(def.height), slack);
      }
    } else if (stretch->keepsHeight) {
      EXPECT_NEAR(Height(r), scaled(def.height), slack);
    }
    if (std::wstring(def.windowClass) == kPanelClass) continue;  // draws no text
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0));
    EXPECT_EQ(font, FontOf(def.font, dpi));
    EXPECT_NEAR(TextHeight(font), display::Scale(TextHeight(FontOf(def.font, display::kBaseDpi)), dpi), slack);
    // Captions that show (an edit field's text is the user's).
    if (ClassOf(w) == L"Edit" || WindowText(w).empty()) continue;
    DWORD style = GetWindowLongW(w, GWL_STYLE);
    bool wraps = ClassOf(w) == L"Static";
    int room = Width(r) - scaled(Beside(w, style));
    BUTTON_IMAGELIST glyph = {};
    if (ClassOf(w) == L"Button" && SendMessageW(w, BCM_GETIMAGELIST, 0, LPARAM(&glyph)) && glyph.himl) {
      int cx = 0, cy = 0;
      ImageList_GetIconSize(glyph.himl, &cx, &cy);
      EXPECT_EQ(cx, scaled(16));
      room -= cx + glyph.margin.left + glyph.margin.right;
    }
    SIZE text = TextExtent(w, wraps, room);
    EXPECT_LE(text.cx, room) << Narrow(WindowText(w));
    if ((style & BS_TYPEMASK) != BS_GROUPBOX || ClassOf(w) != L"Button")
      EXPECT_LE(text.cy - Metrics(font).tmInternalLeading, Height(r)) << Narrow(WindowText(w));
  }
}

// A DPI to change to whose windows the screen still holds (Wine keeps a
// window within its desktop): 125 % from 100 %, 200 % from 150 %.
UINT NextDpi(UINT start) { return start == display::kBaseDpi ? 120 : 192; }

class Dpi : public AppTest {
 protected:
  std::vector<Form*> Forms() { return {&app_->mainWindow(), &app_->folderChooser(), &app_->searchDialog()}; }
  // The DPI the screen must have in this run.
  static UINT ExpectedDpi() {
    const char* dpi = std::getenv("QM_EXPECT_DPI");
    return dpi && *dpi ? UINT(std::atoi(dpi)) : display::kBaseDpi;
  }
};

TEST_F(Dpi, EveryFormIsItsTableScaledToTheScreen) {
  ASSERT_EQ(display::SystemDpi(), ExpectedDpi());
  Start();
  const UINT dpi = display::SystemDpi();
  for (Form* form : Forms()) {
    SCOPED_TRACE(Narrow(ClassOf(form->hwnd())));
    EXPECT_EQ(form->Dpi(), dpi);
    ExpectLaidOutFor(*form, dpi);
  }
  // The dialogs' client areas, given in the code at 96 dpi.
  RECT client;
  GetClientRect(app_->folderChooser().hwnd(), &client);
  EXPECT_NEAR(client.right, display::Scale(409, dpi), 1);
  EXPECT_NEAR(client.bottom, display::Scale(391, dpi), 1);
  GetClientRect(app_->searchDialog().hwnd(), &client);
  EXPECT_NEAR(client.right, display::Scale(315, dpi), 1);
  EXPECT_NEAR(client.bottom, display::Scale(319, dpi), 1);
}

TEST_F(Dpi, AChangeOfDpiLaysEveryFormOutAgain) {
  Start();
  form().Show();
  const UINT start = form().Dpi(), next = NextDpi(start);
  for (Form* form : Forms()) {
    SCOPED_TRACE(Narrow(ClassOf(form->hwnd())));
    std::vector<RECT> before;
    for (const ControlDef& def : form->Definitions()) before.push_back(Rect(def.control->hwnd()));
    const RECT was = Rect(form->hwnd());
    RECT suggested = {was.left, was.top, was.left + MulDiv(Width(was), next, start),
                      was.top + MulDiv(Height(was), next, start)};
    SendMessageW(form->hwnd(), WM_DPICHANGED, MAKEWPARAM(next, next), LPARAM(&suggested));
    const RECT taken = Rect(form->hwnd());
    EXPECT_TRUE(EqualRect(&suggested, &taken));
    EXPECT_EQ(form->Dpi(), next);
    ExpectLaidOutFor(*form, next);
    // And back: the very pixels it had.
    SendMessageW(form->hwnd(), WM_DPICHANGED, MAKEWPARAM(start, start), LPARAM(&was));
    for (size_t i = 0; i < before.size(); ++i) {
      RECT now = Rect(form->Definitions()[i].control->hwnd());
      EXPECT_TRUE(EqualRect(&before[i], &now)) << i;
    }
  }
}

TEST_F(Dpi, ListsTabsIconsAndTheLayoutFollowTheDpi) {
  Start();
  form().Show();
  const UINT start = form().Dpi();
  for (UINT dpi : {NextDpi(start), start}) {
    SCOPED_TRACE(dpi);
    RECT was = Rect(form().hwnd());
    RECT r = {was.left, was.top, was.left + MulDiv(Width(was), dpi, form().Dpi()),
              was.top + MulDiv(Height(was), dpi, form().Dpi())};
    SendMessageW(form().hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), LPARAM(&r));
    // List entries and tabs are as tall as their font's text.
    for (const PathList* list : {&ui().sources, &ui().dests}) {
      HFONT font = reinterpret_cast<HFONT>(SendMessageW(list->hwnd(), WM_GETFONT, 0, 0));
      EXPECT_EQ(SendMessageW(list->hwnd(), LB_GETITEMHEIGHT, 0, 0), TextHeight(font));
    }
    RECT tab;
    TabCtrl_GetItemRect(ui().tabs.hwnd(), 0, &tab);
    EXPECT_GE(Height(tab), TextHeight(FontOf(FontKind::Default, dpi)));
    EXPECT_LE(Height(tab), TextHeight(FontOf(FontKind::Default, dpi)) + display::Scale(12, dpi));
    // The pages start below the tabs; the button panel keeps to the bottom.
    RECT page = Rect(ui().startPage.hwnd()), panel = Rect(ui().copyPanel.hwnd());
    MapWindowPoints(HWND_DESKTOP, ui().tabs.hwnd(), reinterpret_cast<POINT*>(&page), 2);
    EXPECT_GE(page.top, tab.bottom);
    EXPECT_EQ(Rect(ui().startPage.hwnd()).bottom - panel.bottom, display::Scale(2, dpi));
    EXPECT_GE(panel.top, Rect(ui().progressGroup.hwnd()).bottom);
    // The title bar's and the taskbar's icons are the frames for the DPI.
    for (auto [which, metric] : {std::pair{ICON_SMALL, SM_CXSMICON}, std::pair{ICON_BIG, SM_CXICON}}) {
      HICON icon = reinterpret_cast<HICON>(SendMessageW(form().hwnd(), WM_GETICON, which, 0));
      ASSERT_TRUE(icon);
      ICONINFO info = {};
      ASSERT_TRUE(GetIconInfo(icon, &info));
      BITMAP bitmap = {};
      GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
      EXPECT_EQ(bitmap.bmWidth, display::SystemMetric(metric, dpi));
      DeleteObject(info.hbmColor);
      DeleteObject(info.hbmMask);
    }
    // Resizing still stretches the lists' band and moves the panel down.
    int group = Width(Rect(ui().sourceGroup.hwnd())), top = Rect(ui().copyPanel.hwnd()).top;
    RECT now = Rect(form().hwnd());
    SetWindowPos(form().hwnd(), nullptr, 0, 0, Width(now) + 140, Height(now) + 102, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(Width(Rect(ui().sourceGroup.hwnd())), group + 140);
    EXPECT_EQ(Rect(ui().copyPanel.hwnd()).top, top + 102);
    SetWindowPos(form().hwnd(), nullptr, 0, 0, Width(now), Height(now), SWP_NOMOVE | SWP_NOZORDER);
  }
}

// A message box through Dialogs: Windows lays it out; its text must fit at this DPI too.
const wchar_t kBoxText[] = L"目标文件夹下的内容已完全删除！";

TEST_F(Dpi, AMessageBoxShowsItsWholeText) {
  Start();
  UseDialogs(nullptr);
  MSG quit;  // an earlier test's main window left its quit message behind
  while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
  static HWND label;
  static SIZE text, room;
  label = nullptr;
  SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR id, DWORD) {
    HWND box = FindWindowW(L"#32770", kAppTitle);
    if (!box) return;
    KillTimer(nullptr, id);
    EnumChildWindows(
        box,
        [](HWND child, LPARAM) {
          if (ClassOf(child) == L"Static" && WindowText(child) == kBoxText) label = child;
          return TRUE;
        },
        0);
    if (label) {
      RECT r;
      GetClientRect(label, &r);
      room = {r.right, r.bottom};
      text = TextExtent(label, true, r.right);
    }
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  });
  TheDialogs().Message(form().hwnd(), kBoxText, MB_OK | MB_ICONINFORMATION);
  ASSERT_TRUE(label);
  EXPECT_LE(text.cx, room.cx);
  EXPECT_LE(text.cy, room.cy);
}

// A failure report naming long paths: the real box stays inside the work
// area of its monitor, however long the paths.
TEST_F(Dpi, AFailureReportWithLongPathsFitsTheScreen) {
  Start();
  UseDialogs(nullptr);
  MSG quit;
  while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
  copy::RunReport report;
  for (int i = 0; i < 3; ++i) {
    const std::wstring deep = L"C:\\" + std::wstring(300, L'x') + L"\\数据" + std::wstring(300, L'y');
    report.Failed(deep + std::to_wstring(i) + L".txt", ERROR_ACCESS_DENIED, deep + L"\\target.txt");
  }
  static RECT box, work;
  box = work = {};
  SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR id, DWORD) {
    HWND shown = FindWindowW(L"#32770", kAppTitle);
    if (!shown) return;
    KillTimer(nullptr, id);
    GetWindowRect(shown, &box);
    MONITORINFO monitor{sizeof monitor};
    GetMonitorInfoW(MonitorFromWindow(shown, MONITOR_DEFAULTTONEAREST), &monitor);
    work = monitor.rcWork;
    PostMessageW(shown, WM_COMMAND, IDOK, 0);
  });
  const std::wstring text = ReportText(L"复制工作完成！", report, MessageLineUnits(form().hwnd()));
  TheDialogs().Message(form().hwnd(), text, MB_OK | MB_ICONWARNING);
  ASSERT_GT(Width(box), 0);
  EXPECT_GE(box.left, work.left);
  EXPECT_LE(box.right, work.right);
  EXPECT_LE(Height(box), Height(work));
  EXPECT_NE(text.find(L"…"), std::wstring::npos);
  EXPECT_NE(text.find(L"0.txt → C:\\"), std::wstring::npos);  // each path keeps its end and its drive
}

}  // namespace
