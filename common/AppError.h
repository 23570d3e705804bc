// The error raised by handlers and file operations; caught where messages
// are dispatched and shown in the one error box.
#pragma once
#include <stdexcept>
#include <string>

struct AppError : std::runtime_error {
  explicit AppError(std::wstring message) : std::runtime_error("AppError"), text(std::move(message)) {}
  std::wstring text;
};

// The error box's text: a full stop is appended when the last character
// sorts after "." (so "!", ",", "." and a blank get none).
std::wstring ErrorBoxText(const std::wstring& text);
