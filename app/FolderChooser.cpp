#include "app/FolderChooser.h"

#include <commctrl.h>

#include "app/Texts.h"
#include "common/AppError.h"
#include "common/Paths.h"
#include "common/Raii.h"
#include "common/Text.h"

namespace {

// The depth box takes digits and backspace only.
bool AcceptsDepthKey(wchar_t key) { return (key >= L'0' && key <= L'9') || key == 8; }

// The OK and Cancel glyphs: a green tick and a red cross, drawn for the
// DPI on a 16-pixel grid at 96 dpi.
HIMAGELIST Glyph(bool ok, UINT dpi) {
  const int size = display::Scale(16, dpi);
  auto at = [dpi](int x, int y) { return POINT{display::Scale(x, dpi), display::Scale(y, dpi)}; };
  HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 1, 0);
  HDC screen = GetDC(nullptr);
  ScopeGuard releaseScreen([screen] { ReleaseDC(nullptr, screen); });
  HDC dc = CreateCompatibleDC(screen);
  ScopeGuard deleteDc([dc] { DeleteDC(dc); });
  GdiObject bitmap(CreateCompatibleBitmap(screen, size, size));
  {
    Selected drawOn(dc, bitmap.get());
    RECT all = {0, 0, size, size};
    GdiObject magenta(CreateSolidBrush(RGB(255, 0, 255)));
    FillRect(dc, &all, static_cast<HBRUSH>(magenta.get()));
    GdiObject pen(CreatePen(PS_SOLID, display::Scale(2, dpi), ok ? RGB(0, 128, 0) : RGB(200, 0, 0)));
    Selected drawWith(dc, pen.get());
    if (ok) {
      POINT tick[] = {at(3, 8), at(6, 12), at(13, 3)};
      Polyline(dc, tick, 3);
    } else {
      POINT down[] = {at(4, 4), at(12, 12)}, up[] = {at(12, 4), at(4, 12)};
      Polyline(dc, down, 2);
      Polyline(dc, up, 2);
    }
  }
  ImageList_AddMasked(list, static_cast<HBITMAP>(bitmap.get()), RGB(255, 0, 255));
  return list;
}

// Gives the button its glyph for the DPI; returns the image list, which the
// button does not own.
HIMAGELIST SetGlyph(HWND button, bool ok, UINT dpi) {
  const int margin = display::Scale(2, dpi);
  BUTTON_IMAGELIST images = {Glyph(ok, dpi), {margin, 0, margin, 0}, BUTTON_IMAGELIST_ALIGN_LEFT};
  SendMessageW(button, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&images));
  return images.himl;
}

}  // namespace

std::vector<ControlDef> FolderChooser::ControlTable() {
  const DWORD check = WS_VISIBLE | WS_TABSTOP | BS_CHECKBOX;
  ChooserControls& c = ui_;
  return {
      {&c.tree, WC_TREEVIEWW, L"",
       WS_VISIBLE | WS_TABSTOP | WS_BORDER | TVS_HASBUTTONS | TVS_HASLINES | TVS_SHOWSELALWAYS, nullptr, 0, 0, 409,
       305},
      {&c.allSubfolders, WC_BUTTONW, L"添加包括选定文件夹下的所有子文件夹", check, nullptr, 8, 313, 320, 17,
       On(&FolderChooser::OnAllSubfoldersClick)},
      {&c.levels, WC_BUTTONW, L"添加包括选定文件夹下", check, nullptr, 8, 337, 150, 17,
       On(&FolderChooser::OnLevelsClick)},
      {&c.depth, WC_COMBOBOXW, L"", WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | WS_DISABLED, nullptr, 160,
       335, 50, 120},
      {&c.levelsLabel, WC_STATICW, L"级子目录", WS_VISIBLE | SS_LEFT, nullptr, 216, 339, 80, 13},
      {&c.ok, WC_BUTTONW, kOk, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, nullptr, 232, 360, 75, 25,
       [this] { EndModal(IDOK); }},
      {&c.cancel, WC_BUTTONW, kCancel, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, nullptr, 320, 360, 75, 25,
       [this] { EndModal(IDCANCEL); }},
  };
}

FolderChooser::~FolderChooser() {
  if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  for (HIMAGELIST glyph : glyphs_)
    if (glyph) ImageList_Destroy(glyph);
}

void FolderChooser::Create(HWND owner) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterFormClass(instance, L"FolderChooser", nullptr);
  CreateForm(L"FolderChooser", L"", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_CLIPCHILDREN,
             WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, owner, 409, 391, true);
  CreateControls(ControlTable());
  SetWindowTextW(hwnd_, L"选择要添加的目录（文件夹）");
  const HWND combo = ui_.depth.hwnd();
  for (const wchar_t* item : {L"1", L"2", L"3"}) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  SetWindowTextW(combo, L"1");
  COMBOBOXINFO info = {sizeof info};
  if (GetComboBoxInfo(combo, &info) && info.hwndItem)
    Subclass(info.hwndItem, [](UINT message, WPARAM wParam, LPARAM, LRESULT* result) {
      if (message != WM_CHAR || AcceptsDepthKey(wchar_t(wParam))) return false;
      *result = 0;
      return true;
    });
  ui_.tree.Prepare();
  DrawGlyphs();
}

void FolderChooser::DrawGlyphs() {
  HIMAGELIST old[] = {glyphs_[0], glyphs_[1]};
  glyphs_[0] = SetGlyph(ui_.ok.hwnd(), true, Dpi());
  glyphs_[1] = SetGlyph(ui_.cancel.hwnd(), false, Dpi());
  for (HIMAGELIST glyph : old)
    if (glyph) ImageList_Destroy(glyph);
}

void FolderChooser::OnShow() {
  CentreOver(GetWindow(hwnd_, GW_OWNER));
  ui_.tree.Refresh();
  SetFocus(ui_.tree.hwnd());
}

std::optional<FolderChoice> FolderChooser::Choose() {
  if (ShowModal() != IDOK) return std::nullopt;
  // A shell item that is no file-system folder adds nothing.
  if (ui_.tree.SelectedIsVirtual()) return std::nullopt;
  FolderChoice choice{WithBackslash(ui_.tree.SelectedFolderPath())};
  if (ui_.allSubfolders.Checked()) {
    choice.scope = FolderChoice::Scope::AllSubfolders;
  } else if (ui_.levels.Checked()) {
    choice.scope = FolderChoice::Scope::Levels;
    choice.depth = ui_.depth.Text();
  }
  return choice;
}

int FolderChoice::Levels() const {
  auto levels = text::ParseInteger(depth);
  if (!levels) throw AppError(NotAnIntegerText(depth));
  return *levels;
}

void FolderChooser::SetCheckBox(const CheckBox& box, bool checked) {
  if (box.Checked() == checked) return;  // no change, no click
  box.SetChecked(checked);
  if (&box == &ui_.allSubfolders)
    OnAllSubfoldersClick();
  else
    OnLevelsClick();
}

// The two options keep in step: ticking one unticks the other, and
// unticking one ticks the other; the depth box is for levels only.
void FolderChooser::OnAllSubfoldersClick() { SetCheckBox(ui_.levels, !ui_.allSubfolders.Checked()); }

void FolderChooser::OnLevelsClick() {
  const bool levels = ui_.levels.Checked();
  SetCheckBox(ui_.allSubfolders, !levels);
  EnableWindow(ui_.depth.hwnd(), levels);
}

bool FolderChooser::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case kFormShowing:
      OnShow();
      return true;
    case WM_COMMAND:
      if (lParam && HIWORD(wParam) == BN_CLICKED) DispatchClick(LOWORD(wParam));
      if (!lParam && LOWORD(wParam) == IDOK) EndModal(IDOK);          // Enter
      if (!lParam && LOWORD(wParam) == IDCANCEL) EndModal(IDCANCEL);  // Esc
      return true;
    case WM_NOTIFY:
      return ui_.tree.OnNotify(reinterpret_cast<NMHDR*>(lParam), result);
    case WM_CLOSE:
      EndModal(IDCANCEL);
      return true;
  }
  return false;
}
