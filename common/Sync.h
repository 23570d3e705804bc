// A lock and a condition on the system's slim primitives. Under Wine they
// wait in user space, where std::mutex and std::condition_variable (built on
// kernel semaphores here) cost server round trips on every hand-over: a few
// per copied file.
#pragma once
#include <windows.h>

#include <mutex>

class Lock {
 public:
  void lock() { AcquireSRWLockExclusive(&lock_); }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }
  bool try_lock() { return TryAcquireSRWLockExclusive(&lock_); }

 private:
  friend class Condition;
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class Condition {
 public:
  template <typename Ready>
  void wait(std::unique_lock<Lock>& held, Ready ready) {
    while (!ready()) SleepConditionVariableSRW(&condition_, &held.mutex()->lock_, INFINITE, 0);
  }
  // The same, asking ready() again at least every step, for a condition
  // that may come true without a notification (a stop requested).
  template <typename Ready>
  void wait(std::unique_lock<Lock>& held, Ready ready, DWORD step) {
    while (!ready()) SleepConditionVariableSRW(&condition_, &held.mutex()->lock_, step, 0);
  }
  void notify_one() { WakeConditionVariable(&condition_); }
  void notify_all() { WakeAllConditionVariable(&condition_); }

 private:
  CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
};
