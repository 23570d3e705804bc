#include "cli/Arguments.h"

#include <algorithm>

#include "Version.h"
#include "common/Paths.h"
#include "common/Text.h"

namespace {

struct PolicyName {
  copy::SameFileMode mode;
  const wchar_t* name;     // as /policy: takes it
  const wchar_t* caption;  // as the window's radio button says it
};
const PolicyName kPolicies[] = {
    {copy::SameFileMode::Overwrite, L"overwrite", text::kOverwrite},
    {copy::SameFileMode::Skip, L"skip", text::kSkip},
    {copy::SameFileMode::Ask, L"ask", text::kAsk},
    {copy::SameFileMode::AutoNumber, L"number", text::kAutoNumber},
    {copy::SameFileMode::NewerOnly, L"newer", text::kNewerOnly},
};

const wchar_t kUnknownArgument[] = L"不认识的参数：";

std::optional<int> Count(const std::wstring& text, int most) {
  const auto value = text::ParseInteger(text);
  if (!value || *value < 0 || *value > most || text.find_first_not_of(L"0123456789") != std::wstring::npos)
    return std::nullopt;
  return value;
}

}  // namespace

const wchar_t* PolicySwitchName(copy::SameFileMode mode) {
  for (const PolicyName& policy : kPolicies)
    if (policy.mode == mode) return policy.name;
  return L"";
}

const wchar_t* PolicyCaption(copy::SameFileMode mode) {
  for (const PolicyName& policy : kPolicies)
    if (policy.mode == mode) return policy.caption;
  return L"";
}

std::variant<Arguments, std::wstring> ParseArguments(const std::vector<std::wstring>& words) {
  Arguments arguments;
  std::vector<std::wstring> once;  // the switches that may be given once
  for (const std::wstring& word : words) {
    if (word.size() < 2 || (word[0] != L'/' && word[0] != L'-')) return kUnknownArgument + word;
    const size_t colon = word.find(L':');
    const std::wstring name = CaseKey(word.substr(1, colon == std::wstring::npos ? std::wstring::npos : colon - 1));
    const bool hasValue = colon != std::wstring::npos;
    const std::wstring value = hasValue ? word.substr(colon + 1) : L"";
    // "D:\out\" in quotes reaches us as D:\out" and the words after it.
    if (value.find(L'"') != std::wstring::npos)
      return L"参数中有多余的引号：" + word +
             L"（以 \\ 结尾的路径放在引号中时，请写成 \"D:\\目标\\\\\"，或去掉结尾的 \\）";
    if (name != CaseKey(L"src") && name != CaseKey(L"dst")) {
      if (std::find(once.begin(), once.end(), name) != once.end()) return L"参数重复：" + word;
      once.push_back(name);
    }
    auto needs = [&](bool wantsValue) { return hasValue == wantsValue && (!wantsValue || !value.empty()); };
    if (name == CaseKey(L"?") || name == CaseKey(L"help")) {
      arguments.help = true;
    } else if (name == CaseKey(L"src") && needs(true)) {
      arguments.sources.push_back(value);
    } else if (name == CaseKey(L"dst") && needs(true)) {
      arguments.dests.push_back(value);
    } else if (name == CaseKey(L"policy") && needs(true)) {
      const PolicyName* found = nullptr;
      for (const PolicyName& policy : kPolicies)
        if (SameTextIgnoreCase(value, policy.name)) found = &policy;
      if (!found) return L"不认识的同名文件方式：" + value + L"（可用 overwrite、skip、ask、number、newer）";
      arguments.mode = found->mode;
    } else if (name == CaseKey(L"empty") && needs(false)) {
      arguments.empty = true;
    } else if (name == CaseKey(L"dry-run") && needs(false)) {
      arguments.dryRun = true;
    } else if (name == CaseKey(L"quiet") && needs(false)) {
      arguments.quiet = true;
    } else if (name == CaseKey(L"log") && needs(true)) {
      arguments.logFile = value;
    } else if (name == CaseKey(L"retry") && needs(true)) {
      const auto count = Count(value, 1000);
      if (!count) return L"/retry: 需要 0 到 1000 的次数：" + value;
      arguments.retries = *count;
    } else if (name == CaseKey(L"wait") && needs(true)) {
      const auto seconds = Count(value, 3600);
      if (!seconds) return L"/wait: 需要 0 到 3600 的秒数：" + value;
      arguments.waitSeconds = *seconds;
    } else {
      return kUnknownArgument + word;
    }
  }
  if (!arguments.help && arguments.sources.empty()) return L"缺少 /src:（要复制的文件、文件夹或列表文件）";
  if (!arguments.help && arguments.dests.empty()) return L"缺少 /dst:（目标文件夹或列表文件）";
  return arguments;
}

const wchar_t kUsage[] =
    L"qmcopy " QM_VERSION_W L"：把每个源文件和文件夹复制到每个目标文件夹中。\r\n"
    L"\r\n"
    L"qmcopy /src:源... /dst:目标... [/policy:overwrite|skip|ask|number|newer] [/empty]\r\n"
    L"       [/dry-run] [/log:文件] [/retry:次数] [/wait:秒数] [/quiet]\r\n"
    L"qmcopy /?\r\n"
    L"\r\n"
    L"  /src:源        要复制的文件或文件夹，或保存了它们的列表文件（.lst）。可重复。\r\n"
    L"  /dst:目标      目标文件夹，或保存了目标文件夹的列表文件。可重复。\r\n"
    L"  /policy:方式   目标中已有同名文件时：overwrite 覆盖，skip 跳过，ask 询问，\r\n"
    L"                 number 自动编号，newer 仅覆盖较旧的文件。缺省时用程序记住的方式。\r\n"
    L"  /empty         复制到每个目标之前先清空它（源文件不会被删除；不清空整个驱动器）。\r\n"
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
