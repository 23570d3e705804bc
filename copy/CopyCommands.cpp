// The main window's copy commands: the copy run, the emptying check box
// and the empty-now menu.
#include <windows.h>
#include <commctrl.h>

#include "app/Unit1.h"
#include "common/AppError.h"
#include "common/Dialogs.h"
#include "copy/CopyEngine.h"
#include "fs/FileSystem.h"

namespace {

const wchar_t kEmptyWarning[] = L"清空（删除）操作是不可撤消（恢复）的，您确这要继续吗？";
constexpr UINT kWarningFlags = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;  // 0x134

void PumpMainWindow() {
  if (Form1) Form1->KeepAlive();
}

// The copy run reads the window afresh at every step.
class MainWindowCopyHost : public copy::CopyRunHost {
 public:
  explicit MainWindowCopyHost(TForm1& form) : form_(form) {}
  int SourceCount() override { return form_.Sources().Count(); }
  std::wstring SourceAt(int i) override { return form_.Sources().At(i); }
  int DestCount() override { return form_.Dests().Count(); }
  std::wstring DestAt(int j) override { return form_.Dests().At(j); }
  bool EmptyFirst() override { return IsChecked(form_.Control(L"CheckBox1")); }
  int Mode() override { return form_.SelectedMode(); }
  bool AskOverwrite(const std::wstring& target) override {
    return TheDialogs().Message(AppWindow(), copy::OverwriteQuestion(target), MB_YESNO | MB_ICONQUESTION) == IDYES;
  }
  void SetProgress(int position) override {
    HWND bar = form_.Control(L"ProgressBar1");
    SendMessageW(bar, PBM_SETPOS, position, 0);
    UpdateWindow(bar);
  }
  void KeepAlive() override { form_.KeepAlive(); }

 private:
  TForm1& form_;
};

}  // namespace

void TForm1::BtnCopyClick() {
  if (sources_.Count() == 0 || dests_.Count() == 0) {
    TheDialogs().Message(hwnd_, L"没有需要复制的文件或文件夹!", MB_OK | MB_ICONINFORMATION);
    return;
  }
  // A whole drive is never copied, however it reached the list.
  for (const auto& source : sources_.Items()) {
    if (IsDriveRoot(source)) {
      TheDialogs().Message(AppWindow(), kDriveRootMessage, MB_OK | MB_ICONINFORMATION);
      return;
    }
  }
  HWND button = Control(L"BtnCopy");
  {
    BusyScope busy(*this);
    EnableWindow(button, FALSE);
    struct Restore {
      HWND b;
      ~Restore() {
        EnableWindow(b, TRUE);
        fs::SetCopyHeartbeat(nullptr);
      }
    } restore{button};
    BusyCursor hourglass;
    fs::SetCopyHeartbeat(&PumpMainWindow);
    MainWindowCopyHost host(*this);
    copy::RunCopy(host);
  }
  TheDialogs().Message(hwnd_, L"复制工作完成！", MB_OK | MB_ICONINFORMATION);
  HWND bar = Control(L"ProgressBar1");
  SendMessageW(bar, PBM_SETPOS, 0, 0);
  UpdateWindow(bar);
}

void TForm1::CheckBox1Click() {
  HWND box = Control(L"CheckBox1");
  if (!IsChecked(box)) return;  // unticking never asks
  int answer;
  {
    BusyScope busy(*this);
    answer = TheDialogs().Message(AppWindow(), kEmptyWarning, kWarningFlags);
  }
  if (answer == IDNO) SetChecked(box, false);
}

void TForm1::BtnEmptyDestFolderMouseDown(POINT clientPoint) {
  POINT screen = clientPoint;
  ClientToScreen(Control(L"BtnEmptyDestFolder"), &screen);
  if (TheDialogs().PopupMenu(hwnd_, popupMenu1_, screen) == kMenuN1) N1Click();
}

void TForm1::N1Click() {
  {
    BusyScope busy(*this);
    if (TheDialogs().Message(AppWindow(), kEmptyWarning, kWarningFlags) != IDYES) return;
    SetChecked(Control(L"CheckBox1"), false);
    copy::EmptyRules rules = copy::MakeEmptyRules(dests_.Items());
    rules.keepAlive = [this] { KeepAlive(); };
    const int count = dests_.Count();
    for (int j = 0; j < count; ++j) copy::EmptyFolder(dests_.At(j), rules);
  }
  TheDialogs().Message(hwnd_, L"目标文件夹下的内容已完全删除！", MB_OK | MB_ICONINFORMATION);
  EnableWindow(Control(L"BtnEmptyDestFolder"), FALSE);
}
