#include "app/SearchDialog.h"

#include <commctrl.h>

#include "wingui/Dialogs.h"
#include "common/Paths.h"
#include "common/Raii.h"

namespace {

// In tab order: the keywords first, then the subfolder option, the folder
// field and its button, "取消" and "确定".
std::vector<ControlDef> SearchControls(SearchDialog& form) {
  auto on = [&form](void (SearchDialog::*handler)()) { return [&form, handler] { (form.*handler)(); }; };
  return {
      {L"FolderLabel", WC_STATICW, L"搜索文件夹（目录）：", WS_VISIBLE | SS_LEFT, nullptr, 8, 8, 120, 13},
      {L"KeysLabel", WC_STATICW, L"搜素文件名包含：", WS_VISIBLE | SS_LEFT, nullptr, 16, 96, 96, 12, nullptr,
       FontKind::Song},
      {L"KeysHint", WC_STATICW, L"说明：可以输入多行关键字，匹配其中之一。", WS_VISIBLE | SS_LEFT, nullptr, 16, 128, 97,
       81},
      {L"Keys", WC_EDITW, L"",
       WS_VISIBLE | WS_TABSTOP | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, nullptr, 117,
       94, 140, 155},
      {L"Subfolders", WC_BUTTONW, L"搜索选定目录下的所有子目录", WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, nullptr, 19,
       54, 238, 17, nullptr, FontKind::Song},
      {L"Folder", WC_EDITW, L"", WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL | ES_READONLY, nullptr, 16, 24,
       241, 21},
      {L"ChooseFolder", WC_BUTTONW, L"选择", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, nullptr, 260, 24, 41, 25,
       on(&SearchDialog::OnChooseFolder)},
      {L"Cancel", WC_BUTTONW, L"取消", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, nullptr, 32, 280, 75, 25,
       on(&SearchDialog::OnCancel)},
      {L"Search", WC_BUTTONW, L"确定", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, nullptr, 192, 280, 75, 25,
       on(&SearchDialog::OnSearch)},
  };
}

}  // namespace

SearchDialog::~SearchDialog() {
  if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

void SearchDialog::Run(SearchHost& host) {
  host_ = &host;
  ScopeGuard forget([this] { host_ = nullptr; });
  ShowModal();
}

void SearchDialog::Create(HWND owner) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterFormClass(instance, L"SearchDialog", nullptr);
  CreateForm(L"SearchDialog", L"搜索添加文件", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
             WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, owner, 315, 319, true);
  CreateControls(SearchControls(*this));
  folderField_ = Control(L"Folder");
  keys_ = Control(L"Keys");
  searchButton_ = Control(L"Search");
  subfolders_.Bind(Control(L"Subfolders"));
  subfolders_.SetChecked(true);
  SubclassControl(folderField_);
  OnCreate();
}

void SearchDialog::OnCreate() { SetWindowTextW(Control(L"KeysHint"), L"说明：\r\n可以输入多行关键字，匹配其中之一。"); }

// A search under way stops first; its end closes the dialog.
void SearchDialog::Close() {
  if (!searching_) return EndModal(IDCANCEL);
  closeAsked_ = true;
  host_->StopSearch();
}

void SearchDialog::OnCancel() { Close(); }

void SearchDialog::OnChooseFolder() {
  if (searching_) return;  // the folder of a search under way stays as it is
  auto folder = BrowseForFolder(L"请选择文件夹");
  if (!folder) return;
  SetWindowTextW(folderField_, WithBackslash(*folder).c_str());
}

void SearchDialog::OnFolderFieldKey(wchar_t key) { OnChooseFolder(); }

void SearchDialog::OnSearch() {
  std::wstring folder = WindowText(folderField_);
  if (folder.empty()) {
    TheDialogs().Message(hwnd_, L"请选择要搜索的目录!", MB_OK | MB_ICONINFORMATION);
    OnChooseFolder();
    return;
  }
  std::wstring keys = WindowText(keys_);
  if (keys.empty()) {
    TheDialogs().Message(hwnd_, L"请输入要匹配的关键字!", MB_OK | MB_ICONINFORMATION);
    SetFocus(keys_);
    return;
  }
  if (!host_) return;
  host_->StartSearch(
      WithBackslash(folder), subfolders_.Checked(), keys, [this] { OnSearchEnded(true); },
      [this] { OnSearchEnded(false); });
  // Its end comes as a message, after this returns.
  EnableWindow(searchButton_, FALSE);
  searching_ = true;
  closeAsked_ = false;
}

void SearchDialog::OnSearchEnded(bool searched) {
  EnableWindow(searchButton_, TRUE);
  searching_ = false;
  // A folder that is gone leaves the dialog open, as if 确定 had not been pressed.
  if (searched || closeAsked_) EndModal(IDCANCEL);
}

bool SearchDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case kFormShowing:
      CentreOver(GetWindow(hwnd_, GW_OWNER));
      SetFocus(keys_);
      return true;
    case WM_COMMAND:
      if (lParam && HIWORD(wParam) == BN_CLICKED) DispatchClick(LOWORD(wParam));
      if (!lParam && LOWORD(wParam) == IDOK && IsWindowEnabled(searchButton_)) OnSearch();  // Enter
      if (!lParam && LOWORD(wParam) == IDCANCEL) OnCancel();                                // Esc
      return true;
    case WM_CLOSE:
      Close();
      return true;
  }
  return false;
}

bool SearchDialog::OnControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  // Escape reaches the folder field as a character rather than closing.
  if (message == WM_GETDLGCODE && lParam && reinterpret_cast<MSG*>(lParam)->message == WM_KEYDOWN &&
      reinterpret_cast<MSG*>(lParam)->wParam == VK_ESCAPE) {
    *result = DLGC_WANTMESSAGE;
    return true;
  }
  // The read-only folder field: a typed character opens the folder browser.
  if (message == WM_CHAR && wParam != VK_RETURN && wParam != VK_TAB) {
    OnFolderFieldKey(wchar_t(wParam));
    *result = 0;
    return true;
  }
  return false;
}
