// The main window's copy commands: the copy run, the emptying check box
// and the empty-now menu, with the status line, the stop and the report.
#include "app/TaskbarProgress.h"
#include "app/Unit1.h"
#include "common/AppError.h"
#include "common/Dialogs.h"
#include "common/Raii.h"
#include "copy/CopyEngine.h"
#include "copy/Emptying.h"
#include "fs/FileSystem.h"

namespace {

const wchar_t kEmptyWarning[] = L"清空（删除）操作是不可撤消（恢复）的，您确这要继续吗？";
constexpr UINT kWarningFlags = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;  // 0x134

const wchar_t kWholeDriveEmptied[] = L"不能清空整个驱动器（磁盘）！";

// The final box: information when everything went, a warning when the report
// names failures. Paths are shortened to fit the owner's screen.
void ShowOutcome(HWND owner, const std::wstring& headline, const copy::RunReport& report) {
  const UINT icon = report.FailureCount() ? MB_ICONWARNING : MB_ICONINFORMATION;
  TheDialogs().Message(owner, copy::ReportText(headline, report, MessageLineUnits(owner)), MB_OK | icon);
}

// A stopped run's headline says how far it got.
std::wstring StoppedCopy(const copy::RunReport& report) {
  const copy::RunReport::Progress done = report.Read();
  std::wstring text = L"复制已停止。\r\n已复制 " + std::to_wstring(done.files) + L" 个文件";
  if (done.removed) text += L"，清空时删除了 " + std::to_wstring(done.removed) + L" 项";
  return text + L"。";
}

std::wstring StoppedEmptying(const copy::RunReport& report) {
  return L"清空已停止。\r\n已删除 " + std::to_wstring(report.Read().removed) + L" 项。";
}

}  // namespace

TForm1::RunScope::RunScope(TForm1& form, copy::RunReport& report, const wchar_t* work) : form_(form) {
  form_.runReport_ = &report;
  form_.runStart_ = form_.lastStatus_ = GetTickCount();
  // Everything but "停止", the containers it sits in and the status line shows as disabled.
  for (const ControlDef& def : form_.Definitions()) {
    HWND control = form_.Control(def.name);
    if (control == form_.btnCopy_ || IsChild(control, form_.btnCopy_) || !IsWindowEnabled(control) ||
        control == form_.lblStatus_ || control == form_.lblStatusFile_)
      continue;
    EnableWindow(control, FALSE);
    disabled_.push_back(control);
  }
  SetWindowTextW(form_.btnCopy_, L"停止");
  SetFocus(form_.btnCopy_);
  ShutdownBlockReasonCreate(form_.hwnd_, work);
  form_.taskbar_->Set(TaskbarProgress::State::Normal);
}

TForm1::RunScope::~RunScope() {
  ShutdownBlockReasonDestroy(form_.hwnd_);
  for (HWND control : disabled_) EnableWindow(control, TRUE);
  SetWindowTextW(form_.btnCopy_, L"开始复制");
  SetWindowTextW(form_.lblStatus_, L"");
  SetWindowTextW(form_.lblStatusFile_, L"");
  form_.runReport_ = nullptr;
}

void TForm1::ShowRunStatus() {
  lastStatus_ = GetTickCount();
  const copy::RunReport::Progress progress = runReport_->Read();
  SetWindowTextW(lblStatus_,
                 copy::StatusText(progress.files, progress.bytes, (lastStatus_ - runStart_) / 1000.0).c_str());
  SetWindowTextW(lblStatusFile_, progress.current.c_str());
}

void TForm1::BtnCopyClick() {
  if (sources_.Count() == 0 || dests_.Count() == 0) {
    TheDialogs().Message(hwnd_, L"没有需要复制的文件或文件夹!", MB_OK | MB_ICONINFORMATION);
    return;
  }
  // A whole drive is never copied nor emptied, however it reached the list and however it is spelled.
  const copy::CopyJob job{sources_.Items(), dests_.Items(), SelectedMode(), checkBox1_.Checked()};
  switch (copy::RefusalOf(job)) {
    case copy::Refusal::WholeDriveSource:
      ShowDriveRootMessage();
      return;
    case copy::Refusal::WholeDriveEmptied:
      TheDialogs().Message(hwnd_, kWholeDriveEmptied, MB_OK | MB_ICONINFORMATION);
      return;
    case copy::Refusal::None:
      break;
  }
  copy::RunReport report;
  {
    RunScope run(*this, report, L"正在复制文件…");
    BusyCursor hourglass;
    const copy::CopyObserver observer{
        [this](const std::wstring& target) {
          BusyScope question(*this);  // nothing but the question takes input while it is open
          ShowRunStatus();            // the status line names the file asked about
          taskbar_->Set(TaskbarProgress::State::Paused);
          ScopeGuard resume([this] { taskbar_->Set(TaskbarProgress::State::Normal); });
          switch (
              TheDialogs().Message(AppWindow(), copy::OverwriteQuestion(target), MB_YESNOCANCEL | MB_ICONQUESTION)) {
            case IDYES:
              return copy::Answer::Yes;
            case IDNO:
              return copy::Answer::No;
            default:
              return copy::Answer::Cancel;
          }
        },
        [this](int position) {
          progressBar1_.SetPosition(position);
          taskbar_->SetValue(position);
        },
        [this] { KeepAlive(); },
        &report,
        &stop_,
    };
    try {
      copy::RunCopy(job, observer);
    } catch (AppError& error) {
      // An I/O error ends the run: its box also tells what failed before it.
      taskbar_->Set(TaskbarProgress::State::None);
      if (report.FailureCount()) error.detail = copy::ReportText(error.detail, report, MessageLineUnits(hwnd_));
      throw;
    }
    if (report.FailureCount()) taskbar_->Set(TaskbarProgress::State::Error);
  }
  ShowOutcome(hwnd_, stop_.Requested() ? StoppedCopy(report) : L"复制工作完成！", report);
  taskbar_->Set(TaskbarProgress::State::None);
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
  const std::vector<std::wstring> dests = dests_.Items();
  if (copy::FindWholeDrive(dests)) {
    TheDialogs().Message(hwnd_, kWholeDriveEmptied, MB_OK | MB_ICONINFORMATION);
    return;
  }
  {
    BusyScope busy(*this);
    if (TheDialogs().Message(AppWindow(), kEmptyWarning, kWarningFlags) != IDYES) return;
  }
  checkBox1_.SetChecked(false);
  copy::RunReport report;
  {
    RunScope run(*this, report, L"正在清空目标文件夹…");
    BusyCursor hourglass;
    const copy::CopyObserver observer{nullptr, nullptr, [this] { KeepAlive(); }, &report, &stop_};
    copy::EmptyDestinations(dests, sources_.Items(), observer);
  }
  // Said only when it is true (what is spared on purpose is no failure): otherwise the box tells what stayed.
  const std::wstring headline = stop_.Requested()       ? StoppedEmptying(report)
                                : report.FailureCount() ? L"目标文件夹下的内容未能完全删除。"
                                                        : L"目标文件夹下的内容已完全删除！";
  ShowOutcome(hwnd_, headline, report);
  taskbar_->Set(TaskbarProgress::State::None);
  EnableWindow(btnEmptyDestFolder_, FALSE);
}
