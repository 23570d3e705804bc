// The console qmcopy talks to: correct Chinese on any code page (wide writes
// to a console, UTF-8 when redirected), a progress line that rewrites itself,
// and a copy of every lasting line for the log.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

#include "common/Sync.h"

class Console {
 public:
  Console();
  bool IsInteractive() const { return outIsConsole_; }
  bool CanAsk() const { return inIsConsole_; }
  // A lasting line (CR LF added); it goes to the log too.
  void Line(const std::wstring& text);
  // An error, on the error stream (and the log).
  void Error(const std::wstring& text);
  // Rewrites the progress line (consoles only); Line() clears it first.
  void Progress(const std::wstring& text);
  // While held, the progress line stays away (a question is on the screen).
  void HoldProgress(bool hold);
  // A line read from the console, without its line end; empty when the
  // console can no longer be read (closed, or Ctrl+C).
  std::optional<std::wstring> ReadLine();
  const std::wstring& Lasting() const { return lasting_; }

 private:
  void Write(HANDLE stream, bool console, const std::wstring& text);
  void Say(HANDLE stream, bool console, const std::wstring& text);  // a lasting line
  void ClearProgress();

  HANDLE out_, err_, in_;
  bool outIsConsole_, errIsConsole_, inIsConsole_;
  size_t progressWidth_ = 0;
  bool progressHeld_ = false;
  std::wstring lasting_;
  Lock lock_;
};
