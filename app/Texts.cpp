#include "app/Texts.h"

#include <algorithm>
#include <cstdio>

#include "Version.h"
#include "common/Text.h"
#include "fs/FileCopy.h"
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

AppError Worded(const ListBoxError& error) {
  if (error.kind == ListBoxError::Kind::InsertRefused) return AppError(L"Unable to insert a line");
  return AppError(L"List index out of bounds (" + std::to_wstring(error.index) + L")");
}

std::wstring ReportText(const std::wstring& headline, const copy::RunReport& report, size_t lineUnits) {
  const size_t count = report.FailureCount();
  std::wstring text = headline;
  if (report.VerifyWasAsked()) text += L"\r\n" + text::VerifiedText(report.VerifiedCount()) + L"。";
  // What a destination could not keep is a warning below the message: the copies stand.
  const std::vector<copy::Warning> warnings = report.Warnings();
  if (!warnings.empty()) text += std::wstring(L"\r\n\r\n") + text::kNotKeptHeading;
  for (const copy::Warning& warning : warnings)
    text += L"\r\n" + text::NotKeptText(text::ShortenMiddle(warning.destination, lineUnits ? lineUnits / 2 : SIZE_MAX),
                                        warning.lost & fs::kLostTimes, warning.lost & fs::kLostAttributes);
  const std::vector<std::wstring> changed = report.FirstChanged();
  if (!changed.empty()) text += std::wstring(L"\r\n\r\n") + text::kChangedHeading;
  for (const std::wstring& path : changed)
    text += L"\r\n" + text::ShortenMiddle(path, lineUnits ? lineUnits : SIZE_MAX);
  if (report.ChangedCount() > changed.size()) text += L"\r\n" + text::MoreText(report.ChangedCount() - changed.size());
  if (count == 0) return text;
  text += L"\r\n\r\n有 " + std::to_wstring(count) + L" 项未能完成：";
  const std::vector<copy::Failure> first = report.FirstFailures();
  for (const copy::Failure& failure : first) {
    std::wstring reason = failure.check.failed ? text::CheckFailure(failure.code ? fs::SystemErrorText(failure.code) : L"",
                                                                     failure.check.removed)
                          : failure.entering ? text::EnterFolderFailure(failure.code)
                                             : fs::SystemErrorText(failure.code);
    if (reason.empty()) reason = L"错误 " + std::to_wstring(failure.code);
    // The reason keeps its room; the paths share what is left, 40 units at least each.
    const size_t paths = failure.target.empty() ? 1 : 2, fixed = text::Units(reason) + 2 + (paths - 1) * 3;
    const size_t room =
        lineUnits == 0 ? SIZE_MAX : std::max<size_t>(40, (lineUnits > fixed ? lineUnits - fixed : 0) / paths);
    text +=
        L"\r\n" + text::FailureLine(text::ShortenMiddle(failure.path, room),
                                    failure.target.empty() ? L"" : text::ShortenMiddle(failure.target, room), reason);
  }
  if (count > first.size()) text += L"\r\n" + text::MoreText(count - first.size());
  return text;
}

std::wstring UnreadableFoldersText(size_t count) {
  return L"有 " + std::to_wstring(count) + L" 个文件夹无法读取，其中的内容未能添加。";
}

std::wstring StoppedRunText(bool emptiesOnly, uint64_t files, uint64_t removed) {
  std::wstring done = emptiesOnly ? text::EmptyingStatusText(removed) : L"已复制 " + text::FileCount(files);
  if (removed && !emptiesOnly) done += L"，清空时删除了 " + text::ItemCount(removed);
  return (emptiesOnly ? L"清空已停止。" : text::kCopyStopped) + (L"\r\n" + done + L"。");
}

std::wstring ImportSkippedText(size_t lines) {
  return L"列表文件中有 " + std::to_wstring(lines) + L" 行未能导入：所指的文件或文件夹不存在，或不是完整的路径。";
}

std::wstring ImportStoppedText(size_t added) {
  return L"导入已停止：已添加 " + std::to_wstring(added) + L" 行，其余各行未读。";
}

std::wstring NotAnIntegerText(const std::wstring& typed) { return L"'" + typed + L"' is not a valid integer value"; }

std::wstring UnableToWriteText(const std::wstring& file) { return L"Unable to write to " + file; }

const wchar_t kNothingToCopy[] = L"没有需要复制的文件或文件夹!";
const wchar_t kCopyDone[] = L"复制工作完成！";
const wchar_t kAllEmptied[] = L"目标文件夹下的内容已完全删除！";
const wchar_t kNotAllEmptied[] = L"目标文件夹下的内容未能完全删除。";
const wchar_t kEmptyWarning[] = L"清空（删除）操作是不可撤消（恢复）的，您确这要继续吗？";
const wchar_t kStopToClose[] = L"复制正在进行，是否停止并退出？";
const wchar_t kWithSubfolders[] = L"添加包括选定文件夹下的所有子文件夹吗？";
const wchar_t kNoFilesToExport[] = L"当前文件列表为空！";
const wchar_t kNoFoldersToExport[] = L"当前目录列表为空！";
const wchar_t kFoldersNotImported[] = L"列表文件中所保存某些目录已不存在，未能导入。";
const wchar_t kCopying[] = L"正在复制文件…";
const wchar_t kEmptying[] = L"正在清空目标文件夹…";
const wchar_t kStopCaption[] = L"停止";
const wchar_t kListFileFilter[] = L"列表文件(*.lst)|*.lst";
const wchar_t kChooseFolderTitle[] = L"请选择文件夹";
const wchar_t kSearchAddFiles[] = L"搜索添加文件";
const wchar_t kNoSearchFolder[] = L"请选择要搜索的目录!";
const wchar_t kNoKeywords[] = L"请输入要匹配的关键字!";
const wchar_t kOk[] = L"确定";
const wchar_t kCancel[] = L"取消";

const wchar_t kHelpTips[] =
    L"Quillmere " QM_VERSION_W L" 使用技巧\r\n"
    L"\r\n"
    L"一、准备要复制的文件或文件夹（上方列表）\r\n"
    L"  ・“添加文件”：在文件对话框中选择一个或多个文件。\r\n"
    L"  "
    L"・“搜索添加文件”：选择一个文件夹，输入一行或多行关键字，文件名（第一个点之前的部分）包含任一关键字的文件会被加入"
    L"列表；可选择是否搜索所有子目录。\r\n"
    L"  ・“添加文件夹”：选择一个文件夹，复制时会连同其中的全部内容一起复制。\r\n"
    L"  ・也可以直接从资源管理器把文件或文件夹拖放到列表中。\r\n"
    L"  ・“移除文件(夹)”或 Delete 键移除选中的一项，“清空列表”移除全部。\r\n"
    L"\r\n"
    L"二、准备复制到的文件夹（中间列表）\r\n"
    L"  ・“添加文件夹”：在目录树中选择文件夹，可以只添加该文件夹，也可以包括其下所有子文件夹或指定级数的子文件夹。\r\n"
    L"  ・把文件夹拖放到列表中时，会询问是否包括所有子文件夹。\r\n"
    L"\r\n"
    L"三、选择复制选项\r\n"
    L"  ・目标目录下已有同名文件时：覆盖、跳过、询问、自动编号同名文件（如 "
    L"报告_1.doc），或按文件修改时间只替换旧文件。所选的方式会在下次启动时保留。\r\n"
    L"  ・勾选“复制时先清空（删除）目标文件夹中的原有内容”后，每个目标文件夹在复制前会被清空；此操作不可撤消。\r\n"
    L"  ・该复选框旁的“...”按钮可以立即清空所有目标文件夹。\r\n"
    L"  ・勾选“复制后校验”后，每个目标文件夹的最后一个文件复制完后，这次复制到该文件夹的每个文件都会绕过缓存从磁盘读回，"
    L"与读源文件时算出的校验值比较；内容不同或无法读回的副本算作失败并被删除，不会留在目标文件名下。"
    L"它能发现写入错误、虚标容量的 U 盘（写满真实容量后覆盖先前的文件）和传输途中的损坏，但发现不了源文件本身已损坏。"
    L"校验要把每个副本再读一遍，复制因此变慢；此项缺省不勾选，所选状态会在下次启动时保留。\r\n"
    L"\r\n"
    L"四、点击“开始复制”\r\n"
    L"  ・每一项都会被复制到每一个目标文件夹中，进度条显示进度，完成后会有提示。\r\n"
    L"\r\n"
    L"五、保存常用的列表\r\n"
    L"  ・“导出保存列表”把列表保存为 .lst 列表文件，“导入列表”可以再次载入；已不存在的文件或文件夹不会被导入。\r\n";
