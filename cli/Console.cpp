#include "cli/Console.h"

#include <mutex>

#include "common/Text.h"

namespace {
bool IsConsole(HANDLE handle) {
  DWORD mode;
  return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode);
}

fs::FileHandle OpenConsole(const wchar_t* name) {
  return fs::FileHandle(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
}
}  // namespace

Console::Console()
    : out_(GetStdHandle(STD_OUTPUT_HANDLE)),
      err_(GetStdHandle(STD_ERROR_HANDLE)),
      outIsConsole_(IsConsole(out_)),
      errIsConsole_(IsConsole(err_)),
      consoleIn_(OpenConsole(L"CONIN$")),
      consoleOut_(OpenConsole(L"CONOUT$")),
      // A console without a window (a process started with none, as a task
      // runs) has no one to type into it, unless the input is its keyboard.
      canAsk_(IsConsole(consoleIn_.get()) && IsConsole(consoleOut_.get()) &&
              (GetConsoleWindow() || IsConsole(GetStdHandle(STD_INPUT_HANDLE)))) {}

void Console::Write(HANDLE stream, bool console, const std::wstring& text) {
  DWORD done;
  if (console) {
    WriteConsoleW(stream, text.data(), DWORD(text.size()), &done, nullptr);
  } else {
    const std::string bytes = text::ToUtf8(text);
    WriteFile(stream, bytes.data(), DWORD(bytes.size()), &done, nullptr);
  }
}

void Console::ClearProgress() {
  if (!progressWidth_) return;
  Write(out_, true, L"\r" + std::wstring(progressWidth_, L' ') + L"\r");
  progressWidth_ = 0;
}

void Console::Say(HANDLE stream, bool console, const std::wstring& text) {
  std::lock_guard<Lock> hold(lock_);
  ClearProgress();
  Write(stream, console, text + L"\r\n");
  lasting_ += text + L"\r\n";
}

void Console::Line(const std::wstring& text) { Say(out_, outIsConsole_, text); }

void Console::Error(const std::wstring& text) { Say(err_, errIsConsole_, text); }

void Console::Progress(const std::wstring& text) {
  std::lock_guard<Lock> hold(lock_);
  if (!outIsConsole_ || progressHeld_) return;
  // One screen line: the console's width less one, so it never wraps.
  CONSOLE_SCREEN_BUFFER_INFO info;
  size_t width = GetConsoleScreenBufferInfo(out_, &info) ? size_t(info.dwSize.X) - 1 : 79;
  const std::wstring line = text::ShortenMiddle(text, width);
  const size_t units = text::Units(line);
  Write(out_, true, L"\r" + line + (units < progressWidth_ ? std::wstring(progressWidth_ - units, L' ') : L""));
  progressWidth_ = std::max(progressWidth_, units);
}

void Console::HoldProgress(bool hold) {
  std::lock_guard<Lock> guard(lock_);
  progressHeld_ = hold;
  if (hold) ClearProgress();
}

std::optional<std::wstring> Console::Ask(const std::wstring& question) {
  Write(consoleOut_.get(), true, question + L"\r\n");
  std::wstring line;
  wchar_t buffer[256];
  DWORD got = 0;
  while (line.find(L'\n') == std::wstring::npos) {
    if (!ReadConsoleW(consoleIn_.get(), buffer, 256, &got, nullptr) || got == 0) return std::nullopt;
    line.append(buffer, got);
  }
  return text::TrimBlank(line);
}
