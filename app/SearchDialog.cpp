#include "app/SearchDialog.h"

#include <commctrl.h>

#include "app/Texts.h"
#include "wingui/Dialogs.h"
#include "common/Paths.h"
#include "common/Raii.h"

// In tab order: the keywords first, then the subfolder option, the folder
// field and its button, "取消" and "确定".
std::vector<ControlDef> SearchDialog::ControlTable() {
  SearchControls& c = ui_;
  return {
      {&c.folderLabel, WC_STATICW, L"搜索文件夹（目录）：", WS_VISIBLE | SS_LEFT, nullptr, 8, 8, 120, 13},
      {&c.keysLabel, WC_STATICW, L"搜素文件名包含：", WS_VISIBLE | SS_LEFT, nullptr, 16, 96, 96, 12, nullptr,
       FontKind::Song},
      {&c.keysHint, WC_STATICW, L"说明：可以输入多行关键字，匹配其中之一。", WS_VISIBLE | SS_LEFT, nullptr, 16, 128, 97,
       81},
      {&c.keys, WC_EDITW, L"",
       WS_VISIBLE | WS_TABSTOP | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, nullptr, 117,
       94, 140, 155},
      {&c.subfolders, WC_BUTTONW, L"搜索选定目录下的所有子目录", WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, nullptr, 19,
       54, 238, 17, nullptr, FontKind::Song},
      {&c.folder, WC_EDITW, L"", WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL | ES_READONLY, nullptr, 16, 24,
       241, 21},
      {&c.chooseFolder, WC_BUTTONW, L"选择", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, nullptr, 260, 24, 41, 25,
       On(&SearchDialog::OnChooseFolder)},
      {&c.cancel, WC_BUTTONW, kCancel, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, nullptr, 32, 280, 75, 25,
       On(&SearchDialog::Close)},
      {&c.search, WC_BUTTONW, kOk, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, nullptr, 192, 280, 75, 25,
       On(&SearchDialog::OnSearch)},
  };
}

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
  CreateForm(L"SearchDialog", kSearchAddFiles, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
             WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, owner, 315, 319, true);
  CreateControls(ControlTable());
  ui_.subfolders.SetChecked(true);
  Subclass(ui_.folder.hwnd(), [this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    return OnFolderFieldMessage(message, wParam, lParam, result);
  });
  // The hint breaks after its first word once the window is made.
  ui_.keysHint.SetText(L"说明：\r\n可以输入多行关键字，匹配其中之一。");
}

// A search under way stops first; its end closes the dialog.
void SearchDialog::Close() {
  if (!searching_) return EndModal(IDCANCEL);
  closeAsked_ = true;
  host_->StopSearch();
}

void SearchDialog::OnChooseFolder() {
  if (searching_) return;  // the folder of a search under way stays as it is
  auto folder = BrowseForFolder(kChooseFolderTitle);
  if (!folder) return;
  ui_.folder.SetText(WithBackslash(*folder));
}

void SearchDialog::OnSearch() {
  const std::wstring folder = ui_.folder.Text();
  if (folder.empty()) {
    TheDialogs().Message(hwnd_, kNoSearchFolder, MB_OK | MB_ICONINFORMATION);
    OnChooseFolder();
    return;
  }
  const std::wstring keys = ui_.keys.Text();
  if (keys.empty()) {
    TheDialogs().Message(hwnd_, kNoKeywords, MB_OK | MB_ICONINFORMATION);
    SetFocus(ui_.keys.hwnd());
    return;
  }
  if (!host_) return;
  host_->StartSearch(
      WithBackslash(folder), ui_.subfolders.Checked(), keys, [this] { OnSearchEnded(true); },
      [this] { OnSearchEnded(false); });
  // Its end comes as a message, after this returns.
  EnableWindow(ui_.search.hwnd(), FALSE);
  searching_ = true;
  closeAsked_ = false;
}

void SearchDialog::OnSearchEnded(bool searched) {
  EnableWindow(ui_.search.hwnd(), TRUE);
  searching_ = false;
  // A folder that is gone leaves the dialog open, as if 确定 had not been pressed.
  if (searched || closeAsked_) EndModal(IDCANCEL);
}

bool SearchDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case kFormShowing:
      CentreOver(GetWindow(hwnd_, GW_OWNER));
      SetFocus(ui_.keys.hwnd());
      return true;
    case WM_COMMAND:
      if (lParam && HIWORD(wParam) == BN_CLICKED) DispatchClick(LOWORD(wParam));
      if (!lParam && LOWORD(wParam) == IDOK && IsWindowEnabled(ui_.search.hwnd())) OnSearch();  // Enter
      if (!lParam && LOWORD(wParam) == IDCANCEL) Close();                                       // Esc
      return true;
    case WM_CLOSE:
      Close();
      return true;
  }
  return false;
}

bool SearchDialog::OnFolderFieldMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  // Escape reaches the folder field as a character rather than closing.
  if (message == WM_GETDLGCODE && lParam && reinterpret_cast<MSG*>(lParam)->message == WM_KEYDOWN &&
      reinterpret_cast<MSG*>(lParam)->wParam == VK_ESCAPE) {
    *result = DLGC_WANTMESSAGE;
    return true;
  }
  // The read-only folder field: a typed character opens the folder browser.
  if (message == WM_CHAR && wParam != VK_RETURN && wParam != VK_TAB) {
    OnChooseFolder();
    *result = 0;
    return true;
  }
  return false;
}
