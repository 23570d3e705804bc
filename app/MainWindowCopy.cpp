// The main window's copy commands: the copy run, the emptying check box
// and the empty-now menu, with the status line, the stop and the report.
#include "app/RunController.h"
#include "app/TaskbarProgress.h"
#include "app/Texts.h"
#include "common/Text.h"
#include "app/MainWindow.h"
#include "wingui/Dialogs.h"
#include "common/Raii.h"
#include "copy/CopyEngine.h"
#include "copy/Emptying.h"

namespace {

constexpr UINT kWarningFlags = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;  // 0x134

// The final box: information when everything went, a warning when the report
// names failures. Paths are shortened to fit the owner's screen.
void ShowOutcome(HWND owner, const std::wstring& headline, const copy::RunReport& report) {
  const UINT icon = report.FailureCount() ? MB_ICONWARNING : MB_ICONINFORMATION;
  TheDialogs().Message(owner, ReportText(headline, report, MessageLineUnits(owner)), MB_OK | icon);
}

// A stopped run's headline says how far it got.
std::wstring Stopped(bool emptiesOnly, const copy::RunReport& report) {
  const copy::RunReport::Progress done = report.Read();
  return StoppedRunText(emptiesOnly, done.files, done.removed);
}

}  // namespace

MainWindow::RunScope::RunScope(MainWindow& form, const wchar_t* work, bool emptiesOnly)
    : form_(form),
      report_(std::make_shared<copy::RunReport>()),
      start_(GetTickCount()),
      emptiesOnly_(emptiesOnly),
      caption_(form.ui_.copy.Text()) {
  const MainControls& ui = form_.ui_;
  // Everything but "停止", the containers it sits in and the status line shows as disabled.
  for (const ControlDef& def : form_.Definitions()) {
    const HWND control = def.control->hwnd();
    if (def.control == &ui.copy || IsChild(control, ui.copy.hwnd()) || !IsWindowEnabled(control) ||
        def.control == &ui.status || def.control == &ui.statusFile)
      continue;
    EnableWindow(control, FALSE);
    disabled_.push_back(control);
  }
  ui.copy.SetText(kStopCaption);
  SetFocus(ui.copy.hwnd());
  ShutdownBlockReasonCreate(form_.hwnd_, work);
  form_.taskbar_->Set(TaskbarProgress::State::Normal);
}

MainWindow::RunScope::~RunScope() {
  ShutdownBlockReasonDestroy(form_.hwnd_);
  for (HWND control : disabled_) EnableWindow(control, TRUE);
  const MainControls& ui = form_.ui_;
  ui.copy.SetText(caption_);
  ui.status.SetText(L"");
  ui.statusFile.SetText(L"");
}

void MainWindow::RunScope::ShowProgress() {
  const copy::RunReport::Progress progress = report_->Read();
  const double seconds = (GetTickCount() - start_) / 1000.0;
  const std::wstring status =
      emptiesOnly_ ? text::EmptyingStatusText(progress.removed)
                   : text::StatusText(progress.files, progress.bytes, seconds, progress.removed, report_->Slowest());
  const MainControls& ui = form_.ui_;
  ui.status.SetText(progress.verifying.empty() ? status
                                               : status + L"；" + text::VerifyingStatusText(progress.verifying, progress.checked));
  ui.statusFile.SetText(progress.current);
  ui.progress.SetPosition(position_);
  form_.taskbar_->SetValue(position_);
}

copy::Answer MainWindow::AskOverwrite(const std::wstring& target) {
  const int answer = AskFromWork([this, &target] {
    BusyScope question(*this);       // nothing but the question takes input while it is open
    if (run_) run_->ShowProgress();  // the status line names the file asked about
    taskbar_->Set(TaskbarProgress::State::Paused);
    ScopeGuard resume([this] { taskbar_->Set(TaskbarProgress::State::Normal); });
    return TheDialogs().Message(AppWindow(), text::OverwriteQuestion(target), MB_YESNOCANCEL | MB_ICONQUESTION);
  });
  return answer == IDYES ? copy::Answer::Yes : answer == IDNO ? copy::Answer::No : copy::Answer::Cancel;
}

void MainWindow::StartRun(const wchar_t* work, bool emptiesOnly, std::function<void(const copy::CopyObserver&)> run,
                          std::function<void(const copy::RunReport&)> ended) {
  run_ = std::make_unique<RunScope>(*this, work, emptiesOnly);
  ScopeGuard unstarted([this] {
    if (!Working()) run_.reset();  // the work never started: the window as it was
  });
  const std::shared_ptr<copy::RunReport> report = run_->Report();
  StartWork(
      // The scope outlives the work: it goes once the work has returned.
      [this, scope = run_.get(), report, run = std::move(run)] {
        const copy::CopyObserver observer{[this](const std::wstring& target) { return AskOverwrite(target); },
                                          [scope](int position) { scope->SetPosition(position); }, report.get(),
                                          &WorkStop()};
        run(observer);
      },
      [this] { run_->ShowProgress(); },
      [this, report, ended = std::move(ended)](std::exception_ptr error) {
        run_->ShowProgress();  // the bar at the run's last value
        run_.reset();
        if (error) {
          taskbar_->Set(TaskbarProgress::State::None);
          std::rethrow_exception(error);
        }
        if (report->FailureCount()) taskbar_->Set(TaskbarProgress::State::Error);
        ended(*report);
        taskbar_->Set(TaskbarProgress::State::None);
      },
      false, true);
}

void MainWindow::OnCopy() {
  if (ui_.sources.Count() == 0 || ui_.dests.Count() == 0) {
    TheDialogs().Message(hwnd_, kNothingToCopy, MB_OK | MB_ICONINFORMATION);
    return;
  }
  auto job = std::make_shared<copy::CopyJob>();
  job->sources = ui_.sources.Items();
  job->dests = ui_.dests.Items();
  job->mode = SelectedMode();
  job->emptyFirst = ui_.emptyFirst.Checked();
  job->verify = ui_.verify.Checked();
  // The check for whole drives asks the volumes, so it is the run's first step; a stop
  // asked for during it starts nothing, and cannot make it pass.
  auto refusal = std::make_shared<copy::Refusal>(copy::Refusal::None);
  StartRun(
      kCopying, false,
      [job, refusal](const copy::CopyObserver& observer) {
        // A whole drive is never copied nor emptied, however it reached the list and however it is spelled.
        *refusal = copy::RefusalOf(*job);
        if (*refusal == copy::Refusal::None && !observer.StopRequested()) copy::RunCopy(*job, observer);
      },
      [this, refusal](const copy::RunReport& report) {
        switch (*refusal) {
          case copy::Refusal::WholeDriveSource:
            ShowWholeDriveCopied();
            return;
          case copy::Refusal::WholeDriveEmptied:
            TheDialogs().Message(hwnd_, text::kWholeDriveEmptied, MB_OK | MB_ICONINFORMATION);
            return;
          case copy::Refusal::None:
            break;
        }
        ShowOutcome(hwnd_, controller_->StoppedWork() ? Stopped(false, report) : kCopyDone, report);
        ui_.progress.SetPosition(0);
      });
}

void MainWindow::OnEmptyFirstClick() {
  if (!ui_.emptyFirst.Checked()) return;  // unticking never asks
  int answer;
  {
    BusyScope busy(*this);
    answer = TheDialogs().Message(AppWindow(), kEmptyWarning, kWarningFlags);
  }
  if (answer == IDNO) ui_.emptyFirst.SetChecked(false);
}

void MainWindow::OnEmptyNowButton(POINT clientPoint) {
  POINT screen = clientPoint;
  ClientToScreen(ui_.emptyNow.hwnd(), &screen);
  if (TheDialogs().PopupMenu(hwnd_, emptyNowMenu_, screen) == kMenuEmptyNow) OnEmptyNow();
}

void MainWindow::OnEmptyNow() {
  const std::vector<std::wstring> dests = ui_.dests.Items();
  CheckThen([dests] { return copy::FindWholeDrive(dests).has_value(); },
            [this, dests](bool wholeDrive) {
              if (wholeDrive)
                TheDialogs().Message(hwnd_, text::kWholeDriveEmptied, MB_OK | MB_ICONINFORMATION);
              else
                WarnThenEmpty(dests);
            });
}

void MainWindow::WarnThenEmpty(const std::vector<std::wstring>& dests) {
  {
    BusyScope busy(*this);
    if (TheDialogs().Message(AppWindow(), kEmptyWarning, kWarningFlags) != IDYES) return;
  }
  ui_.emptyFirst.SetChecked(false);
  StartRun(
      kEmptying, true,
      [dests, sources = ui_.sources.Items()](const copy::CopyObserver& observer) {
        copy::EmptyDestinations(dests, sources, observer);
      },
      [this](const copy::RunReport& report) {
        // Said only when it is true (what is spared on purpose is no failure): otherwise the box tells what stayed.
        const std::wstring headline = controller_->StoppedWork() ? Stopped(true, report)
                                      : report.FailureCount()    ? kNotAllEmptied
                                                                 : kAllEmptied;
        ShowOutcome(hwnd_, headline, report);
        EnableWindow(ui_.emptyNow.hwnd(), FALSE);
      });
}
