#include "app/RunController.h"

namespace {
RunController* g_escapeTarget = nullptr;  // the controller whose work Esc stops
}

RunController::~RunController() {
  if (worker_.joinable()) {
    stop_.Abandon();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      answer_ = IDCANCEL;  // a question nobody will answer any more
      hasAnswer_ = true;
    }
    answered_.notify_all();
    worker_.join();
  }
  if (hook_) UnhookWindowsHookEx(hook_);
  if (g_escapeTarget == this) g_escapeTarget = nullptr;
}

// Esc stops the work whichever window has the focus and whichever loop (the
// application's, a dialog's, a box's) takes it from the queue.
LRESULT CALLBACK RunController::EscapeHook(int code, WPARAM wParam, LPARAM lParam) {
  auto* msg = reinterpret_cast<MSG*>(lParam);
  if (code == HC_ACTION && wParam == PM_REMOVE && g_escapeTarget && g_escapeTarget->busy_ &&
      (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) && msg->wParam == VK_ESCAPE) {
    g_escapeTarget->stop_.Request();
    msg->message = WM_NULL;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void RunController::Start(std::function<void()> work, std::function<void()> tick,
                          std::function<void(std::exception_ptr)> ended) {
  busy_ = true;
  stop_.Reset();
  error_ = nullptr;
  tick_ = std::move(tick);
  ended_ = std::move(ended);
  g_escapeTarget = this;
  if (!hook_) hook_ = SetWindowsHookExW(WH_GETMESSAGE, EscapeHook, nullptr, GetCurrentThreadId());
  SetTimer(window_, kWorkTimer, 100, nullptr);
  worker_ = std::thread([this, work = std::move(work)] {
    try {
      work();
    } catch (...) {
      error_ = std::current_exception();
    }
    PostMessageW(window_, kWorkEnded, 0, 0);
  });
}

int RunController::Ask(std::function<int()> question) {
  std::unique_lock<std::mutex> lock(mutex_);
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
  {
    // Answered whatever the question does, an error included.
    struct Hand {
      RunController& self;
      int& answer;
      ~Hand() {
        {
          std::lock_guard<std::mutex> lock(self.mutex_);
          self.answer_ = answer;
          self.hasAnswer_ = true;
        }
        self.answered_.notify_all();
      }
    } hand{*this, answer};
    answer = question();
  }
}

void RunController::OnTick() {
  if (busy_ && tick_) tick_();
}

void RunController::OnEnded() {
  if (!busy_) return;
  worker_.join();
  KillTimer(window_, kWorkTimer);
  if (hook_) {
    UnhookWindowsHookEx(hook_);
    hook_ = nullptr;
  }
  busy_ = false;
  auto ended = std::move(ended_);
  ended_ = nullptr;
  tick_ = nullptr;
  if (ended) ended(error_);
}
