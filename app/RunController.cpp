#include "app/RunController.h"

#include <stdexcept>

#include "common/Raii.h"

namespace {
RunController* g_escapeTarget = nullptr;  // the controller whose work Esc stops
}

RunController::~RunController() {
  Abandon();
  if (hook_) UnhookWindowsHookEx(hook_);
  if (g_escapeTarget == this) g_escapeTarget = nullptr;
}

void RunController::Abandon() {
  if (!worker_.joinable()) return;
  stop_.Request();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;  // every question, now and later, is answered Cancel
    answer_ = IDCANCEL;
    hasAnswer_ = true;
  }
  answered_.notify_all();
  worker_.join();
}

// Esc stops the work whichever window has the focus and whichever loop (the
// application's, a dialog's, a box's) takes it from the queue.
LRESULT CALLBACK RunController::EscapeHook(int code, WPARAM wParam, LPARAM lParam) {
  auto* msg = reinterpret_cast<MSG*>(lParam);
  if (code == HC_ACTION && wParam == PM_REMOVE && g_escapeTarget && g_escapeTarget->busy_ && !g_escapeTarget->asking_ &&
      (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) && msg->wParam == VK_ESCAPE) {
    g_escapeTarget->stop_.Request();
    msg->message = WM_NULL;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void RunController::Start(std::function<void()> work, std::function<void()> tick,
                          std::function<void(std::exception_ptr)> ended) {
  // One command at a time: a second would replace a thread still to be joined.
  if (busy_ || worker_.joinable()) throw std::logic_error("work started while work runs");
  stop_.Reset();
  error_ = tickError_ = nullptr;
  stoppedWork_ = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = false;  // new work is asked again; the abandoned work's answer is spent
    hasAnswer_ = false;
  }
  // The thread first: should it not start, nothing has changed.
  worker_ = std::thread([this, work = std::move(work)] {
    try {
      work();
    } catch (...) {
      error_ = std::current_exception();
    }
    stoppedWork_ = stop_.Requested();
    PostMessageW(window_, kWorkEnded, 0, 0);
  });
  busy_ = true;
  tick_ = std::move(tick);
  ended_ = std::move(ended);
  g_escapeTarget = this;
  if (!hook_) hook_ = SetWindowsHookExW(WH_GETMESSAGE, EscapeHook, nullptr, GetCurrentThreadId());
  SetTimer(window_, kWorkTimer, 100, nullptr);
}

int RunController::Ask(std::function<int()> question) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (closing_) return IDCANCEL;
  question_ = std::move(question);
  hasAnswer_ = false;
  PostMessageW(window_, kWorkAsks, 0, 0);
  answered_.wait(lock, [this] { return hasAnswer_; });
  return answer_;
}

void RunController::OnAsks() {
  std::function<int()> question;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    question = std::move(question_);
    question_ = nullptr;
  }
  if (!question) return;
  int answer = IDCANCEL;
  // Answered whatever the question does, an error included.
  ScopeGuard hand([this, &answer] {
    asking_ = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      answer_ = answer;
      hasAnswer_ = true;
    }
    answered_.notify_all();
  });
  asking_ = true;
  answer = question();
}

void RunController::OnTick() {
  if (!busy_ || !tick_ || tickError_) return;
  // A failure here ends the work and is shown once, at its end.
  try {
    tick_();
  } catch (...) {
    tickError_ = std::current_exception();
    stop_.Request();
  }
}

void RunController::OnEnded() {
  if (!busy_) return;
  if (worker_.joinable()) worker_.join();
  KillTimer(window_, kWorkTimer);
  if (hook_) {
    UnhookWindowsHookEx(hook_);
    hook_ = nullptr;
  }
  busy_ = false;
  auto ended = std::move(ended_);
  ended_ = nullptr;
  tick_ = nullptr;
  if (ended) ended(error_ ? error_ : tickError_);
}
