#include "app/FolderChooser.h"

#include <commctrl.h>

#include "common/AppError.h"
#include "common/Paths.h"
#include "common/Raii.h"
#include "common/Text.h"

namespace {

std::vector<ControlDef> ChooserControls(FolderChooser& form) {
  const DWORD check = WS_VISIBLE | WS_TABSTOP | BS_CHECKBOX;
  auto on = [&form](void (FolderChooser::*handler)()) { return [&form, handler] { (form.*handler)(); }; };
  return {
      {L"FolderTree", WC_TREEVIEWW, L"",
       WS_VISIBLE | WS_TABSTOP | WS_BORDER | TVS_HASBUTTONS | TVS_HASLINES | TVS_SHOWSELALWAYS, nullptr, 0, 0, 409,
       305},
      {L"AllSubfolders", WC_BUTTONW, L"添加包括选定文件夹下的所有子文件夹", check, nullptr, 8, 313, 320, 17,
       on(&FolderChooser::OnAllSubfoldersClick)},
      {L"Levels", WC_BUTTONW, L"添加包括选定文件夹下", check, nullptr, 8, 337, 150, 17,
       on(&FolderChooser::OnLevelsClick)},
      {L"Depth", WC_COMBOBOXW, L"", WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | WS_DISABLED, nullptr, 160,
       335, 50, 120},
      {L"Label1", WC_STATICW, L"级子目录", WS_VISIBLE | SS_LEFT, nullptr, 216, 339, 80, 13},
      {L"Ok", WC_BUTTONW, L"确定", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, nullptr, 232, 360, 75, 25,
       on(&FolderChooser::OnOk)},
      {L"Cancel", WC_BUTTONW, L"取消", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, nullptr, 320, 360, 75, 25,
       on(&FolderChooser::OnCancel)},
  };
}

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
  CreateControls(ChooserControls(*this));
  allSubfolders_.Bind(Control(L"AllSubfolders"));
  levels_.Bind(Control(L"Levels"));
  depthBox_ = Control(L"Depth");
  SetWindowTextW(hwnd_, L"选择要添加的目录（文件夹）");  // OnCreate
  HWND combo = depthBox_;
  for (const wchar_t* item : {L"1", L"2", L"3"}) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  SetWindowTextW(combo, L"1");
  COMBOBOXINFO info = {sizeof info};
  if (GetComboBoxInfo(combo, &info) && info.hwndItem) SubclassControl(info.hwndItem);
  tree_.Attach(Control(L"FolderTree"));
  okButton_ = Control(L"Ok");
  cancelButton_ = Control(L"Cancel");
  DrawGlyphs();
}

void FolderChooser::DrawGlyphs() {
  HIMAGELIST old[] = {glyphs_[0], glyphs_[1]};
  glyphs_[0] = SetGlyph(okButton_, true, Dpi());
  glyphs_[1] = SetGlyph(cancelButton_, false, Dpi());
  for (HIMAGELIST glyph : old)
    if (glyph) ImageList_Destroy(glyph);
}

void FolderChooser::OnShow() {
  CentreOver(GetWindow(hwnd_, GW_OWNER));
  tree_.Refresh();
  SetFocus(tree_.hwnd());
}

std::optional<FolderChoice> FolderChooser::Choose() {
  if (ShowModal() != IDOK) return std::nullopt;
  // A shell item that is no file-system folder adds nothing.
  if (tree_.SelectedIsVirtual()) return std::nullopt;
  FolderChoice choice{WithBackslash(tree_.SelectedFolderPath())};
  if (allSubfolders_.Checked()) {
    choice.scope = FolderChoice::Scope::AllSubfolders;
  } else if (levels_.Checked()) {
    choice.scope = FolderChoice::Scope::Levels;
    choice.depth = WindowText(depthBox_);
  }
  return choice;
}

int FolderChoice::Levels() const {
  auto levels = text::ParseInteger(depth);
  if (!levels) throw AppError(L"'" + depth + L"' is not a valid integer value");
  return *levels;
}

void FolderChooser::SetCheckBox(CheckBox& box, bool checked) {
  if (box.Checked() == checked) return;  // no change, no click
  box.SetChecked(checked);
  if (&box == &allSubfolders_)
    OnAllSubfoldersClick();
  else
    OnLevelsClick();
}

void FolderChooser::OnAllSubfoldersClick() { SetCheckBox(levels_, !allSubfolders_.Checked()); }

void FolderChooser::OnLevelsClick() {
  bool levels = levels_.Checked();
  SetCheckBox(allSubfolders_, !levels);
  EnableWindow(depthBox_, levels);
}

void FolderChooser::OnOk() { EndModal(IDOK); }
void FolderChooser::OnCancel() { EndModal(IDCANCEL); }

bool FolderChooser::AcceptsDepthKey(wchar_t key) { return (key >= L'0' && key <= L'9') || key == 8; }

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
      return tree_.OnNotify(reinterpret_cast<NMHDR*>(lParam), result);
    case WM_CLOSE:
      EndModal(IDCANCEL);
      return true;
  }
  return false;
}

bool FolderChooser::OnControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  // The depth box takes digits and backspace only.
  if (message == WM_CHAR && !AcceptsDepthKey(wchar_t(wParam))) {
    *result = 0;
    return true;
  }
  return false;
}
