#include "app/Texts.h"

#include "fs/FileCopy.h"

#include <algorithm>
#include <cstdio>

#include "common/Text.h"
#include "fs/FileSystem.h"

std::wstring IoErrorText(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return L"File not found";
    case ERROR_PATH_NOT_FOUND:
      return L"Invalid filename";
    case ERROR_TOO_MANY_OPEN_FILES:
      return L"Too many open files";
    case ERROR_ACCESS_DENIED:
      return L"File access denied";
    case ERROR_HANDLE_EOF:
      return L"Read beyond end of file";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return L"Disk full";
  }
  return L"I/O error " + std::to_wstring(code);
}

AppError Worded(const FileError& error) {
  const std::wstring quoted = L" \"" + error.path + L"\". " + fs::SystemErrorText(error.code);
  switch (error.kind) {
    case FileError::Kind::CreateListFile:
      return AppError(L"Cannot create file" + quoted);
    case FileError::Kind::WriteListFile:
      return AppError(L"Cannot write file" + quoted);
    case FileError::Kind::OpenListFile:
      return AppError(L"Cannot open file" + quoted);
  }
  return AppError(IoErrorText(error.code), error.path);
}

std::wstring ReportText(const std::wstring& headline, const copy::RunReport& report, size_t lineUnits) {
  const size_t count = report.FailureCount();
  std::wstring text = headline;
  // What a destination could not keep is a warning below the message: the copies stand.
  const std::vector<copy::Warning> warnings = report.Warnings();
  if (!warnings.empty()) text += std::wstring(L"\r\n\r\n") + text::kNotKeptHeading;
  for (const copy::Warning& warning : warnings)
    text += L"\r\n" + text::NotKeptText(text::ShortenMiddle(warning.destination, lineUnits ? lineUnits / 2 : SIZE_MAX),
                                         warning.lost & fs::kLostTimes, warning.lost & fs::kLostAttributes);
  const std::vector<std::wstring> changed = report.FirstChanged();
  if (!changed.empty()) text += std::wstring(L"\r\n\r\n") + text::kChangedHeading;
  for (const std::wstring& path : changed) text += L"\r\n" + text::ShortenMiddle(path, lineUnits ? lineUnits : SIZE_MAX);
  if (report.ChangedCount() > changed.size())
    text += L"\r\n……另有 " + std::to_wstring(report.ChangedCount() - changed.size()) + L" 项";
  if (count == 0) return text;
  text += L"\r\n\r\n有 " + std::to_wstring(count) + L" 项未能完成：";
  const std::vector<copy::Failure> first = report.FirstFailures();
  for (const copy::Failure& failure : first) {
    std::wstring reason = failure.entering ? text::EnterFolderFailure(failure.code) : fs::SystemErrorText(failure.code);
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

std::wstring UnreadableFoldersText(size_t count) {
  return L"有 " + std::to_wstring(count) + L" 个文件夹无法读取，其中的内容未能添加。";
}
