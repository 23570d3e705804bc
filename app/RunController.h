// Long work runs beside the window: one command at a time on a worker
// thread, while the window thread only dispatches messages. The window reads
// progress on a timer; the end, and any question the work must ask, arrive
// as posted messages, handled on the window thread.
#pragma once
#include <windows.h>

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "common/StopSignal.h"
#include "wingui/Window.h"

// What the controller posts to its window, and the timer it sets there.
constexpr UINT kWorkEnded = kFirstAppMessage + 1;  // the work returned or threw
constexpr UINT kWorkAsks = kFirstAppMessage + 2;   // the work waits for an answer
constexpr UINT_PTR kWorkTimer = 7001;              // every 100 ms while work runs

class RunController {
 public:
  explicit RunController(HWND window) : window_(window) {}
  ~RunController();
  RunController(const RunController&) = delete;
  RunController& operator=(const RunController&) = delete;

  bool Busy() const { return busy_; }
  // Whether a stop had been asked for when the work returned (a stop asked
  // for after its last step stops nothing).
  bool StoppedWork() const { return stoppedWork_; }
  // Esc, the stop control or the session's end; read by the work.
  StopSignal& Stop() { return stop_; }

  // Runs work on the worker. tick runs on the window thread every 100 ms
  // while it runs; ended once it has returned, with what it threw. Throws
  // std::logic_error while work runs or its end is still to be handled.
  void Start(std::function<void()> work, std::function<void()> tick, std::function<void(std::exception_ptr)> ended);
  // On the worker: runs question on the window thread and waits for its answer.
  int Ask(std::function<int()> question);
  // Abandons the work and waits for it to return: a copy in progress is
  // given up (nothing half-written stays), every question is answered Cancel.
  void Abandon();
  // True once abandoned, until new work starts: what was to follow the work must not start.
  bool Abandoned() const { return closing_; }

  // The window's handlers of kWorkEnded, kWorkAsks and kWorkTimer.
  void OnEnded();
  void OnAsks();
  void OnTick();

 private:
  static LRESULT CALLBACK EscapeHook(int code, WPARAM wParam, LPARAM lParam);

  HWND window_;  // not owned
  bool busy_ = false;
  bool asking_ = false;   // a question is open: Esc is its own
  bool closing_ = false;  // the work was abandoned: nobody answers its questions
  bool stoppedWork_ = false;
  StopSignal stop_;
  std::thread worker_;
  std::exception_ptr error_, tickError_;
  std::function<void()> tick_;
  std::function<void(std::exception_ptr)> ended_;
  HHOOK hook_ = nullptr;
  // The question in flight.
  std::mutex mutex_;
  std::condition_variable answered_;
  std::function<int()> question_;
  int answer_ = 0;
  bool hasAnswer_ = false;
};
