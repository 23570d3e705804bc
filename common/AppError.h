// The error raised by handlers and file operations; caught where messages
// are dispatched and shown in the one error box.
#pragma once
#include <stdexcept>
#include <string>

struct AppError : std::runtime_error {
  explicit AppError(std::wstring message, std::wstring second = L"")
      : std::runtime_error("AppError"), text(std::move(message)), detail(std::move(second)) {}
  std::wstring text;
  std::wstring detail;  // a second line, such as the folder the error concerns
};

// The error box's text: a full stop is appended when the last character
// sorts after "." (so "!", ",", "." and a blank get none).
std::wstring ErrorBoxText(const std::wstring& text);
