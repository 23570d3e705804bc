// The main window's copy commands: the copy run, the emptying check box
// and the empty-now menu.
#include "app/Unit1.h"
#include "common/Dialogs.h"
#include "common/Raii.h"
#include "copy/CopyEngine.h"
#include "fs/FileSystem.h"

namespace {

const wchar_t kEmptyWarning[] = L"清空（删除）操作是不可撤消（恢复）的，您确这要继续吗？";
constexpr UINT kWarningFlags = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;  // 0x134

}  // namespace

void TForm1::BtnCopyClick() {
  if (sources_.Count() == 0 || dests_.Count() == 0) {
    TheDialogs().Message(hwnd_, L"没有需要复制的文件或文件夹!", MB_OK | MB_ICONINFORMATION);
    return;
  }
  // A whole drive is never copied, however it reached the list and however it is spelled.
  for (const auto& source : sources_.Items()) {
    if (fs::IsWholeDrive(source)) {
      ShowDriveRootMessage();
      return;
    }
  }
  {
    BusyScope busy(*this);
    EnableWindow(btnCopy_, FALSE);
    ScopeGuard reenable([this] { EnableWindow(btnCopy_, TRUE); });
    BusyCursor hourglass;
    const copy::CopyJob job{sources_.Items(), dests_.Items(), SelectedMode(), checkBox1_.Checked()};
    const copy::CopyObserver observer{
        [](const std::wstring& target) {
          return TheDialogs().Message(AppWindow(), copy::OverwriteQuestion(target), MB_YESNO | MB_ICONQUESTION) ==
                 IDYES;
        },
        [this](int position) { progressBar1_.SetPosition(position); },
        [this] { KeepAlive(); },
    };
    copy::RunCopy(job, observer);
  }
  TheDialogs().Message(hwnd_, L"复制工作完成！", MB_OK | MB_ICONINFORMATION);
  progressBar1_.SetPosition(0);
}

void TForm1::CheckBox1Click() {
  if (!checkBox1_.Checked()) return;  // unticking never asks
  int answer;
  {
    BusyScope busy(*this);
    answer = TheDialogs().Message(AppWindow(), kEmptyWarning, kWarningFlags);
  }
  if (answer == IDNO) checkBox1_.SetChecked(false);
}

void TForm1::BtnEmptyDestFolderMouseDown(POINT clientPoint) {
  POINT screen = clientPoint;
  ClientToScreen(btnEmptyDestFolder_, &screen);
  if (TheDialogs().PopupMenu(hwnd_, popupMenu1_, screen) == kMenuN1) N1Click();
}

void TForm1::N1Click() {
  {
    BusyScope busy(*this);
    if (TheDialogs().Message(AppWindow(), kEmptyWarning, kWarningFlags) != IDYES) return;
    checkBox1_.SetChecked(false);
    const std::vector<std::wstring> dests = dests_.Items();
    const copy::EmptyRules rules = copy::MakeEmptyRules(dests);
    const copy::CopyObserver observer{nullptr, nullptr, [this] { KeepAlive(); }};
    for (const std::wstring& dest : dests) copy::EmptyFolder(dest, rules, observer);
  }
  TheDialogs().Message(hwnd_, L"目标文件夹下的内容已完全删除！", MB_OK | MB_ICONINFORMATION);
  EnableWindow(btnEmptyDestFolder_, FALSE);
}
