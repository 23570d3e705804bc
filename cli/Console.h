// The console qmcopy talks to: correct Chinese on any code page (wide writes
// to a console, UTF-8 when redirected), a progress line that rewrites itself,
// and a copy of every lasting line for the log.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

#include "common/Sync.h"
#include "fs/FileSystem.h"

class Console {
 public:
  Console();
  bool IsInteractive() const { return outIsConsole_; }
  // A console can answer, whatever the output and input are redirected to.
  bool CanAsk() const { return canAsk_; }
  // A lasting line (CR LF added); it goes to the log too.
  void Line(const std::wstring& text);
  // An error, on the error stream (and the log).
  void Error(const std::wstring& text);
  // Rewrites the progress line (consoles only); Line() clears it first.
  void Progress(const std::wstring& text);
  // While held, the progress line stays away (a question is on the screen).
  void HoldProgress(bool hold);
  // Puts the question on the console itself (not on the redirected output,
  // nor in the log) and reads the answer there, without its line end; empty
  // when the console can no longer be read (closed, or Ctrl+C).
  std::optional<std::wstring> Ask(const std::wstring& question);
  const std::wstring& Lasting() const { return lasting_; }

 private:
  void Write(HANDLE stream, bool console, const std::wstring& text);
  void Say(HANDLE stream, bool console, const std::wstring& text);  // a lasting line
  void ClearProgress();

  HANDLE out_, err_;
  bool outIsConsole_, errIsConsole_;
  fs::FileHandle consoleIn_, consoleOut_;  // the console's own, for questions
  bool canAsk_;
  size_t progressWidth_ = 0;
  bool progressHeld_ = false;
  std::wstring lasting_;
  Lock lock_;
};
