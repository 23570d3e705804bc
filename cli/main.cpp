// qmcopy: copies every source into every destination from the command line,
// on the engine of the window, for scripts and scheduled tasks.
#include <windows.h>

#include <variant>

#include "cli/Arguments.h"
#include "cli/Console.h"
#include "cli/CopyCommand.h"
#include "cli/Texts.h"
#include "common/Text.h"

namespace {
StopSignal g_stop;

// Ctrl+C and Ctrl+Break stop as "停止" does: the file in progress is given up.
BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  g_stop.Request();
  return TRUE;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  Console console;
  const auto parsed = ParseArguments(std::vector<std::wstring>(argv + 1, argv + argc));
  if (auto* error = std::get_if<std::wstring>(&parsed)) {
    console.Error(*error);
    console.Error(clitext::kSeeUsage);
    return kNothingDone;
  }
  const Arguments& arguments = std::get<Arguments>(parsed);
  if (arguments.help) {
    console.Line(clitext::kUsage);
    return kAllDone;
  }
  SetConsoleCtrlHandler(OnControl, TRUE);
  try {
    return RunCopyCommand(arguments, console, g_stop);
  } catch (const std::exception& error) {
    // Said, and a failure: uncaught, it would end the program with 3, which means stopped.
    console.Error(clitext::UncaughtError(text::FromUtf8(error.what())));
    return kSomeFailed;
  }
}
