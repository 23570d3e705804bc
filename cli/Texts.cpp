#include "cli/Texts.h"

#include <cwchar>

#include "Version.h"
#include "common/Text.h"

namespace clitext {
namespace {

// As the window's radio buttons name them.
const wchar_t* PolicyCaption(copy::SameFileMode mode) {
  switch (mode) {
    case copy::SameFileMode::Overwrite:
      return text::kOverwrite;
    case copy::SameFileMode::Skip:
      return text::kSkip;
    case copy::SameFileMode::Ask:
      return text::kAsk;
    case copy::SameFileMode::AutoNumber:
      return text::kAutoNumber;
    case copy::SameFileMode::NewerOnly:
      return text::kNewerOnly;
  }
  return L"";
}

// Why a device given as a source or destination cannot be used.
const wchar_t kDeviceNotFileOrFolder[] = L"（这是设备，不是文件或文件夹）";

const wchar_t* OutcomeWord(copy::FileOutcome outcome) {
  switch (outcome) {
    case copy::FileOutcome::Copied:
      return L"复制";
    case copy::FileOutcome::Replaced:
      return L"替换";
    case copy::FileOutcome::Numbered:
      return L"编号";
    case copy::FileOutcome::Kept:
      return text::kSkip;
  }
  return L"";
}

}  // namespace

const wchar_t kUsage[] =
    L"qmcopy " QM_VERSION_W L"：把每个源文件和文件夹复制到每个目标文件夹中。\r\n"
    L"\r\n"
    L"qmcopy /src:源... /dst:目标... [/policy:overwrite|skip|ask|number|newer] [/empty]\r\n"
    L"       [/verify] [/dry-run] [/log:文件] [/retry:次数] [/wait:秒数] [/quiet]\r\n"
    L"qmcopy /?\r\n"
    L"\r\n"
    L"  /src:源        要复制的文件或文件夹，或保存了它们的列表文件（.lst）。可重复。\r\n"
    L"  /dst:目标      目标文件夹，或保存了目标文件夹的列表文件。可重复。\r\n"
    L"  /policy:方式   目标中已有同名文件时：overwrite 覆盖，skip 跳过，ask 询问，\r\n"
    L"                 number 自动编号，newer 仅覆盖较旧的文件。缺省时用程序记住的方式。\r\n"
    L"  /empty         复制到每个目标之前先清空它（源文件不会被删除；不清空整个驱动器）。\r\n"
    L"  /verify        复制后校验：每个目标的最后一个文件复制完后，把复制到该目标的每个文件从磁盘\r\n"
    L"                 读回，与读源文件时算出的校验值比较；内容不同的副本算作失败并被删除。\r\n"
    L"                 能发现写入错误、虚标容量的 U 盘覆盖先前的文件、传输途中的损坏；\r\n"
    L"                 发现不了源文件本身已损坏。多花大约再读一遍全部副本的时间。缺省不校验。\r\n"
    L"                 窗口中的“复制后校验”对 qmcopy 不起作用。\r\n"
    L"  /dry-run       演练：不做任何改动，只列出将复制、替换、跳过、编号和删除的内容。\r\n"
    L"  /log:文件      把结果另存为 UTF-8 文本文件。\r\n"
    L"  /retry:次数    文件被占用或网络中断时重试的次数（缺省不重试）。\r\n"
    L"  /wait:秒数     两次重试之间等待的秒数（缺省 5 秒）。\r\n"
    L"  /quiet         不显示进度。\r\n"
    L"\r\n"
    L"按 Ctrl+C 停止：正在复制的文件被放弃，不留下不完整的文件。\r\n"
    L"\r\n"
    L"退出代码：0 全部完成；1 有失败的项（已列出）；2 什么也没做（参数错误、无法读取列表、\r\n"
    L"没有要复制的内容、拒绝整个驱动器）；3 已停止。\r\n";
const wchar_t kSeeUsage[] = L"用 qmcopy /? 查看用法。";

std::wstring UnknownArgument(const std::wstring& word) { return L"不认识的参数：" + word; }
std::wstring StrayQuote(const std::wstring& word) {
  return L"参数中有多余的引号：" + word + L"（以 \\ 结尾的路径放在引号中时，请写成 \"D:\\目标\\\\\"，或去掉结尾的 \\）";
}
std::wstring RepeatedSwitch(const std::wstring& word) { return L"参数重复：" + word; }
std::wstring UnknownPolicy(const std::wstring& value) {
  return L"不认识的同名文件方式：" + value + L"（可用 overwrite、skip、ask、number、newer）";
}
std::wstring RetriesOutOfRange(int most, const std::wstring& value) {
  return L"/retry: 需要 0 到 " + std::to_wstring(most) + L" 的次数：" + value;
}
std::wstring WaitOutOfRange(int most, const std::wstring& value) {
  return L"/wait: 需要 0 到 " + std::to_wstring(most) + L" 的秒数：" + value;
}
const wchar_t kNoSources[] = L"缺少 /src:（要复制的文件、文件夹或列表文件）";
const wchar_t kNoDests[] = L"缺少 /dst:（目标文件夹或列表文件）";

std::wstring ListNotRead(const std::wstring& path, const std::wstring& reason) {
  return text::WithReason(L"无法读取列表文件 " + path, reason);
}
const wchar_t kDeviceNotFile[] = L"这是设备，不是文件";
std::wstring UnusableSource(const std::wstring& given, bool device) {
  return L"未能使用的源：" + given + (device ? kDeviceNotFileOrFolder : L"（不存在，或不是完整的路径）");
}
std::wstring UnusableDest(const std::wstring& given, bool device) {
  return L"未能使用的目标：" + given + (device ? kDeviceNotFileOrFolder : L"（不存在、不是文件夹，或不是完整的路径）");
}
std::wstring LogRefused(const std::wstring& path) {
  return L"日志文件 " + path + L" 不能放在要复制的内容或目标文件夹中，也不能是列表文件；它所在的文件夹须已存在。";
}

const wchar_t kNothingToCopy[] = L"没有要复制的文件或文件夹。";
const wchar_t kNowhereToCopy[] = L"没有可复制到的目标文件夹。";
const wchar_t kAskNeedsConsole[] = L"同名文件方式“询问”要在控制台中回答，没有控制台时不能使用。";

std::wstring RunHeader(size_t sources, size_t dests, copy::SameFileMode mode, bool modeGiven, bool emptiesFirst,
                       bool verifies, bool dryRun) {
  return L"qmcopy：" + std::to_wstring(sources) + L" 个源，" + std::to_wstring(dests) + L" 个目标；同名文件：" +
         PolicyCaption(mode) + (modeGiven ? L"" : L"（程序记住的方式）") + (emptiesFirst ? L"；先清空每个目标" : L"") +
         (verifies ? L"；复制后校验" : L"") + (dryRun ? L"；演练，不做任何改动" : L"");
}
const wchar_t kAnswers[] = L"[Y] 是  [N] 否  [C] 取消";
std::wstring Rehearsed(copy::FileOutcome outcome, const std::wstring& source, const std::wstring& target) {
  return OutcomeWord(outcome) + (L"  " + source) + L" → " + target;
}
std::wstring RehearsedRemoval(const std::wstring& path) { return L"删除  " + path; }
std::wstring RehearsedQuestion(const std::wstring& target) { return text::kAsk + (L"  " + target); }

const wchar_t kResults[] = L"结果：";
const wchar_t kRehearsalResults[] = L"演练结果（什么也没有改动）：";
const wchar_t kSourcesRow[] = L"源", kDestsRow[] = L"目标", kCopiedRow[] = L"已复制", kReplacedRow[] = L"已替换",
              kKeptRow[] = L"已跳过", kNumberedRow[] = L"已编号", kVerifiedRow[] = L"已校验", kFailedRow[] = L"失败",
              kUnusableRow[] = L"未能使用的输入", kRemovedRow[] = L"清空时删除", kBytesRow[] = L"字节",
              kTimeRow[] = L"用时", kSpeedRow[] = L"速度";
std::wstring Seconds(double seconds) {
  wchar_t text[32];
  swprintf(text, 32, L"%.2f 秒", seconds);
  return text;
}
const wchar_t kPerDestination[] = L"每个目标：";
std::wstring DestinationLine(const std::wstring& entry, uint64_t files, uint64_t bytes, size_t failures,
                             double seconds) {
  return text::WithReason(entry, text::Listed({text::FileCount(files), text::ByteAmount(double(bytes)),
                                               L"失败 " + text::ItemCount(failures), L"用时 " + Seconds(seconds)}));
}
std::wstring FailuresHeading(size_t count) { return L"失败的项（共 " + text::ItemCount(count) + L"）："; }
std::wstring FailuresAt(const std::wstring& destination) { return text::WithReason(L"目标 " + destination, L""); }

std::wstring UncaughtError(const std::wstring& what) { return L"qmcopy 出错：" + what; }

}  // namespace clitext
