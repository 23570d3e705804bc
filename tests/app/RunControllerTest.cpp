// The run controller on a window of its own, driven by its posted messages.
#include <gtest/gtest.h>

#include <stdexcept>

#include "app/RunController.h"

namespace {

RunController* g_controller = nullptr;

LRESULT CALLBACK ControllerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kWorkEnded) g_controller->OnEnded();
  if (message == kWorkAsks) g_controller->OnAsks();
  return DefWindowProcW(window, message, wParam, lParam);
}

class Controller : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ControllerWindowProc;
    windowClass.lpszClassName = L"RunControllerTest";
    RegisterClassW(&windowClass);
    window_ = CreateWindowW(L"RunControllerTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    controller_ = std::make_unique<RunController>(window_);
    g_controller = controller_.get();
  }
  void TearDown() override {
    controller_.reset();
    DestroyWindow(window_);
  }
  void PumpUntilIdle() {
    for (DWORD start = GetTickCount(); controller_->Busy() && GetTickCount() - start < 10000;) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    ASSERT_FALSE(controller_->Busy());
  }

  HWND window_ = nullptr;
  std::unique_ptr<RunController> controller_;
};

// Work that follows abandoned work is asked its questions again, and work
// cannot start while work runs (it would replace a thread still running).
TEST_F(Controller, WorkAfterAnAbandonedOneIsAnsweredAndOnlyOneRunsAtATime) {
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  controller_->Start([release] { WaitForSingleObject(release, INFINITE); }, nullptr, [](std::exception_ptr) {});
  EXPECT_THROW(controller_->Start([] {}, nullptr, [](std::exception_ptr) {}), std::logic_error);
  SetEvent(release);
  controller_->Abandon();
  EXPECT_TRUE(controller_->Abandoned());
  PumpUntilIdle();

  int answer = 0;
  controller_->Start([&] { answer = controller_->Ask([] { return IDYES; }); }, nullptr, [](std::exception_ptr) {});
  EXPECT_FALSE(controller_->Abandoned());
  PumpUntilIdle();
  EXPECT_EQ(answer, IDYES);
  CloseHandle(release);
}

}  // namespace
