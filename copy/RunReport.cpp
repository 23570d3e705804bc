#include "copy/RunReport.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "common/Text.h"
#include "fs/FileSystem.h"

namespace copy {

void RunReport::FileStarted(const std::wstring& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  current_ = path;
}

void RunReport::FileDone(uint64_t bytes) {
  files_.fetch_add(1, std::memory_order_relaxed);
  bytes_.fetch_add(bytes, std::memory_order_relaxed);
}

void RunReport::Failed(const std::wstring& path, DWORD code, const std::wstring& target) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failures_.size() < kKeptFailures) failures_.push_back({path, target, code});
  failureCount_.fetch_add(1);
}

RunReport::Progress RunReport::Read() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {files_.load(), bytes_.load(), removed_.load(), current_};
}

std::vector<Failure> RunReport::FirstFailures() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failures_;
}

std::wstring ReportText(const std::wstring& headline, const RunReport& report, size_t lineUnits) {
  const size_t count = report.FailureCount();
  if (count == 0) return headline;
  std::wstring text = headline + L"\r\n\r\n有 " + std::to_wstring(count) + L" 项未能完成：";
  const std::vector<Failure> first = report.FirstFailures();
  for (const Failure& failure : first) {
    std::wstring reason = fs::SystemErrorText(failure.code);
    if (reason.empty()) reason = L"错误 " + std::to_wstring(failure.code);
    // The reason keeps its room; the paths share what is left, 40 units at least each.
    const size_t paths = failure.target.empty() ? 1 : 2, fixed = text::Units(reason) + 2 + (paths - 1) * 3;
    const size_t room =
        lineUnits == 0 ? SIZE_MAX : std::max<size_t>(40, (lineUnits > fixed ? lineUnits - fixed : 0) / paths);
    text += L"\r\n" + text::ShortenMiddle(failure.path, room) +
            (failure.target.empty() ? L"" : L" → " + text::ShortenMiddle(failure.target, room)) + L"：" + reason;
  }
  if (count > first.size()) text += L"\r\n……另有 " + std::to_wstring(count - first.size()) + L" 项";
  return text;
}

namespace {
std::wstring Amount(double bytes) {
  const wchar_t* units[] = {L"B", L"KB", L"MB", L"GB", L"TB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 4) {
    bytes /= 1024;
    ++unit;
  }
  wchar_t buffer[32];
  swprintf(buffer, 32, unit == 0 ? L"%.0f %ls" : L"%.1f %ls", bytes, units[unit]);
  return buffer;
}
}  // namespace

std::wstring StatusText(uint64_t files, uint64_t bytes, double seconds) {
  std::wstring text = std::to_wstring(files) + L" 个文件，" + Amount(double(bytes));
  if (seconds > 0.5) text += L"，" + Amount(double(bytes) / seconds) + L"/s";
  return text;
}

}  // namespace copy
