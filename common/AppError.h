// The error raised by handlers and file operations; caught where messages
// are dispatched and shown in the one error box.
#pragma once
#include <windows.h>

#include <stdexcept>
#include <string>

// The last error, or fallback where a call failed without setting one: a
// failure is never reported as "success".
inline DWORD LastErrorOr(DWORD fallback) { return GetLastError() ? GetLastError() : fallback; }

struct AppError : std::runtime_error {
  explicit AppError(std::wstring message, std::wstring second = L"")
      : std::runtime_error("AppError"), text(std::move(message)), detail(std::move(second)) {}
  std::wstring text;
  std::wstring detail;  // a second line, such as the folder the error concerns
};

// A file-system failure that ends a command, raised by the logic layers
// with the system's code; the windows word it (and show the error box).
struct FileError : std::runtime_error {
  enum class Kind {
    CreateListFile,  // a list file that cannot be created
    WriteListFile,   // nor written
    OpenListFile,    // nor opened
  };
  FileError(Kind what, std::wstring where, DWORD why)
      : std::runtime_error("FileError"), kind(what), path(std::move(where)), code(why) {}
  Kind kind;
  std::wstring path;
  DWORD code;
};
