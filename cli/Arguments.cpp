#include "cli/Arguments.h"

#include <algorithm>

#include "cli/Texts.h"
#include "common/Paths.h"
#include "common/Text.h"

namespace {

struct PolicyName {
  copy::SameFileMode mode;
  const wchar_t* name;  // as /policy: takes it
};
const PolicyName kPolicies[] = {
    {copy::SameFileMode::Overwrite, L"overwrite"},
    {copy::SameFileMode::Skip, L"skip"},
    {copy::SameFileMode::Ask, L"ask"},
    {copy::SameFileMode::AutoNumber, L"number"},
    {copy::SameFileMode::NewerOnly, L"newer"},
};

constexpr int kMostRetries = 1000, kMostWaitSeconds = 3600;

std::optional<int> Count(const std::wstring& text, int most) {
  const auto value = text::ParseInteger(text);
  if (!value || *value < 0 || *value > most || text.find_first_not_of(L"0123456789") != std::wstring::npos)
    return std::nullopt;
  return value;
}

}  // namespace

std::variant<Arguments, std::wstring> ParseArguments(const std::vector<std::wstring>& words) {
  Arguments arguments;
  std::vector<std::wstring> once;  // the switches that may be given once
  for (const std::wstring& word : words) {
    if (word.size() < 2 || (word[0] != L'/' && word[0] != L'-')) return clitext::UnknownArgument(word);
    const size_t colon = word.find(L':');
    const std::wstring name = CaseKey(word.substr(1, colon == std::wstring::npos ? std::wstring::npos : colon - 1));
    const bool hasValue = colon != std::wstring::npos;
    const std::wstring value = hasValue ? word.substr(colon + 1) : L"";
    // "D:\out\" in quotes reaches us as D:\out" and the words after it.
    if (value.find(L'"') != std::wstring::npos) return clitext::StrayQuote(word);
    if (name != CaseKey(L"src") && name != CaseKey(L"dst")) {
      if (std::find(once.begin(), once.end(), name) != once.end()) return clitext::RepeatedSwitch(word);
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
      if (!found) return clitext::UnknownPolicy(value);
      arguments.mode = found->mode;
    } else if (name == CaseKey(L"empty") && needs(false)) {
      arguments.empty = true;
    } else if (name == CaseKey(L"verify") && needs(false)) {
      arguments.verify = true;
    } else if (name == CaseKey(L"dry-run") && needs(false)) {
      arguments.dryRun = true;
    } else if (name == CaseKey(L"quiet") && needs(false)) {
      arguments.quiet = true;
    } else if (name == CaseKey(L"log") && needs(true)) {
      arguments.logFile = value;
    } else if (name == CaseKey(L"retry") && needs(true)) {
      const auto count = Count(value, kMostRetries);
      if (!count) return clitext::RetriesOutOfRange(kMostRetries, value);
      arguments.retries = *count;
    } else if (name == CaseKey(L"wait") && needs(true)) {
      const auto seconds = Count(value, kMostWaitSeconds);
      if (!seconds) return clitext::WaitOutOfRange(kMostWaitSeconds, value);
      arguments.waitSeconds = *seconds;
    } else {
      return clitext::UnknownArgument(word);
    }
  }
  if (!arguments.help && arguments.sources.empty()) return clitext::kNoSources;
  if (!arguments.help && arguments.dests.empty()) return clitext::kNoDests;
  return arguments;
}
