#include "lists/Unit2.h"

#include <commctrl.h>

#include "common/AppError.h"
#include "common/Paths.h"
#include "common/Raii.h"
#include "common/Text.h"
#include "fs/FileSystem.h"

namespace {

std::vector<ControlDef> ChooserControls(TForm2& form) {
  const DWORD check = WS_VISIBLE | WS_TABSTOP | BS_CHECKBOX;
  auto on = [&form](void (TForm2::*handler)()) { return [&form, handler] { (form.*handler)(); }; };
  return {
      {L"ShellTreeView1", WC_TREEVIEWW, L"",
       WS_VISIBLE | WS_TABSTOP | WS_BORDER | TVS_HASBUTTONS | TVS_HASLINES | TVS_SHOWSELALWAYS, nullptr, 0, 0, 409,
       305},
      {L"CheckBox1", WC_BUTTONW, L"添加包括选定文件夹下的所有子文件夹", check, nullptr, 8, 313, 320, 17,
       on(&TForm2::CheckBox1Click)},
      {L"CheckBox2", WC_BUTTONW, L"添加包括选定文件夹下", check, nullptr, 8, 337, 150, 17, on(&TForm2::CheckBox2Click)},
      {L"ComboBox1", WC_COMBOBOXW, L"", WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | WS_DISABLED, nullptr, 160,
       335, 50, 120},
      {L"Label1", WC_STATICW, L"级子目录", WS_VISIBLE | SS_LEFT, nullptr, 216, 339, 80, 13},
      {L"BitBtn1", WC_BUTTONW, L"确定", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, nullptr, 232, 360, 75, 25,
       on(&TForm2::BitBtn1Click)},
      {L"BitBtn2", WC_BUTTONW, L"取消", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, nullptr, 320, 360, 75, 25,
       on(&TForm2::BitBtn2Click)},
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

TForm2::~TForm2() {
  if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  for (HIMAGELIST glyph : glyphs_)
    if (glyph) ImageList_Destroy(glyph);
}

void TForm2::Create(HWND owner) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterFormClass(instance, L"TForm2", nullptr);
  CreateForm(L"TForm2", L"", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_CLIPCHILDREN,
             WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, owner, 409, 391, true);
  CreateControls(ChooserControls(*this));
  checkBox1_.Bind(Control(L"CheckBox1"));
  checkBox2_.Bind(Control(L"CheckBox2"));
  comboBox1_ = Control(L"ComboBox1");
  SetWindowTextW(hwnd_, L"选择要添加的目录（文件夹）");  // FormCreate
  HWND combo = comboBox1_;
  for (const wchar_t* item : {L"1", L"2", L"3"}) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  SetWindowTextW(combo, L"1");
  COMBOBOXINFO info = {sizeof info};
  if (GetComboBoxInfo(combo, &info) && info.hwndItem) SubclassControl(info.hwndItem);
  tree_.Attach(Control(L"ShellTreeView1"));
  okButton_ = Control(L"BitBtn1");
  cancelButton_ = Control(L"BitBtn2");
  DrawGlyphs();
}

void TForm2::DrawGlyphs() {
  HIMAGELIST old[] = {glyphs_[0], glyphs_[1]};
  glyphs_[0] = SetGlyph(okButton_, true, Dpi());
  glyphs_[1] = SetGlyph(cancelButton_, false, Dpi());
  for (HIMAGELIST glyph : old)
    if (glyph) ImageList_Destroy(glyph);
}

void TForm2::FormShow() {
  CentreOver(GetWindow(hwnd_, GW_OWNER));
  tree_.Refresh();
  SetFocus(tree_.hwnd());
}

std::optional<FolderChoice> TForm2::Choose() {
  if (ShowModal() != IDOK) return std::nullopt;
  // A shell item that is no file-system folder adds nothing.
  if (tree_.SelectedIsVirtual()) return std::nullopt;
  std::wstring path = tree_.SelectedFolderPath();
  if (!fs::IsFolder(path)) return std::nullopt;
  FolderChoice choice{WithBackslash(path)};
  if (checkBox1_.Checked()) {
    choice.scope = FolderChoice::Scope::AllSubfolders;
  } else if (checkBox2_.Checked()) {
    std::wstring text = WindowText(comboBox1_);
    auto levels = text::ParseInteger(text);
    if (!levels) throw AppError(L"'" + text + L"' is not a valid integer value");
    choice.scope = FolderChoice::Scope::Levels;
    choice.levels = *levels;
  }
  return choice;
}

void TForm2::SetCheckBox(CheckBox& box, bool checked) {
  if (box.Checked() == checked) return;  // no change, no click
  box.SetChecked(checked);
  if (&box == &checkBox1_)
    CheckBox1Click();
  else
    CheckBox2Click();
}

void TForm2::CheckBox1Click() { SetCheckBox(checkBox2_, !checkBox1_.Checked()); }

void TForm2::CheckBox2Click() {
  bool levels = checkBox2_.Checked();
  SetCheckBox(checkBox1_, !levels);
  EnableWindow(comboBox1_, levels);
}

void TForm2::BitBtn1Click() { EndModal(IDOK); }
void TForm2::BitBtn2Click() { EndModal(IDCANCEL); }

bool TForm2::ComboBox1KeyPress(wchar_t key) { return (key >= L'0' && key <= L'9') || key == 8; }

bool TForm2::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_APP + 1:
      FormShow();
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

bool TForm2::OnControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  // The depth box takes digits and backspace only.
  if (message == WM_CHAR && !ComboBox1KeyPress(wchar_t(wParam))) {
    *result = 0;
    return true;
  }
  return false;
}
