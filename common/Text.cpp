#include "common/Text.h"

#include <windows.h>

namespace text {
namespace {

std::string Narrow(unsigned codePage, const std::wstring& text, BOOL* lossy) {
  if (text.empty()) return {};
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL* usedDefault = codePage == CP_UTF8 ? nullptr : lossy;
  int n = WideCharToMultiByte(codePage, flags, text.data(), int(text.size()), nullptr, 0, nullptr, usedDefault);
  std::string out(n, '\0');
  WideCharToMultiByte(codePage, flags, text.data(), int(text.size()), out.data(), n, nullptr, usedDefault);
  return out;
}

std::wstring Widen(unsigned codePage, const std::string& bytes) {
  if (bytes.empty()) return {};
  int n = MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), out.data(), n);
  return out;
}

}  // namespace

std::optional<std::string> ToGbk(const std::wstring& text) {
  BOOL lossy = FALSE;
  std::string out = Narrow(kGbk, text, &lossy);
  if (lossy) return std::nullopt;
  // Some code page tables map unknown characters silently; a round trip tells.
  if (Widen(kGbk, out) != text) return std::nullopt;
  return out;
}

std::wstring FromGbk(const std::string& bytes) { return Widen(kGbk, bytes); }
std::string ToUtf8(const std::wstring& text) { return Narrow(CP_UTF8, text, nullptr); }
std::wstring FromUtf8(const std::string& bytes) { return Widen(CP_UTF8, bytes); }

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'a' && c <= L'z') c = wchar_t(c - L'a' + L'A');
  return text;
}

size_t Find(const std::wstring& sub, const std::wstring& text) {
  if (sub.empty() || text.empty()) return 0;
  size_t pos = text.find(sub);
  return pos == std::wstring::npos ? 0 : pos + 1;
}

std::wstring TrimBlank(const std::wstring& text) {
  size_t first = 0, last = text.size();
  while (first < last && text[first] <= 32) ++first;
  while (last > first && text[last - 1] <= 32) --last;
  return text.substr(first, last - first);
}

namespace {
int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}
}  // namespace

namespace {
size_t UnitsOf(wchar_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
                 (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                 (c >= 0xFFE0 && c <= 0xFFE6)
             ? 2
             : 1;
}
}  // namespace

size_t Units(const std::wstring& text) {
  size_t units = 0;
  for (wchar_t c : text) units += UnitsOf(c);
  return units;
}

std::wstring ShortenMiddle(const std::wstring& text, size_t maxUnits) {
  if (Units(text) <= maxUnits) return text;
  // Both ends in turn, the end a little favoured (it holds the name).
  const size_t room = maxUnits > 2 ? maxUnits - 2 : 0;  // "…" takes up to two
  size_t head = 0, tail = text.size(), used = 0;
  for (bool fromEnd = true; head < tail; fromEnd = !fromEnd) {
    const wchar_t c = fromEnd ? text[tail - 1] : text[head];
    if (used + UnitsOf(c) > room) break;
    used += UnitsOf(c);
    fromEnd ? --tail : ++head;
  }
  // Never half of a character that takes two UTF-16 units.
  if (head > 0 && IS_HIGH_SURROGATE(text[head - 1])) --head;
  if (tail < text.size() && IS_LOW_SURROGATE(text[tail])) ++tail;
  return text.substr(0, head) + L"…" + text.substr(tail);
}

std::optional<int> ParseInteger(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == L' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  bool hex = false;
  if (i < text.size() && (text[i] == L'$' || text[i] == L'x' || text[i] == L'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X')) {
    hex = true;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;
  unsigned long long value = 0;
  for (; i < text.size(); ++i) {
    int digit = hex ? HexDigit(text[i]) : (text[i] >= L'0' && text[i] <= L'9' ? text[i] - L'0' : -1);
    if (digit < 0) return std::nullopt;
    value = value * (hex ? 16 : 10) + digit;
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  if (hex) {
    // Hex digits fill all 32 bits ("-0x80000000" is INT_MIN); unsigned
    // arithmetic wraps where negating an int would overflow.
    const unsigned bits = unsigned(value);
    return int(negative ? 0u - bits : bits);
  }
  if (value > (negative ? 2147483648ull : 2147483647ull)) return std::nullopt;
  return negative ? int(-(long long)value) : int(value);
}

std::wstring ByteAmount(double bytes) {
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

std::wstring Speed(double bytesPerSecond) { return ByteAmount(bytesPerSecond) + L"/s"; }
std::wstring FileCount(uint64_t files) { return std::to_wstring(files) + L" 个文件"; }
std::wstring ItemCount(uint64_t items) { return std::to_wstring(items) + L" 项"; }
std::wstring MoreText(uint64_t left) { return L"……另有 " + ItemCount(left); }

std::wstring Listed(const std::vector<std::wstring>& parts) {
  std::wstring text;
  for (const std::wstring& part : parts) text += (text.empty() ? L"" : L"，") + part;
  return text;
}

std::wstring WithReason(const std::wstring& what, const std::wstring& reason) { return what + L"：" + reason; }

std::wstring FailureLine(const std::wstring& path, const std::wstring& target, const std::wstring& reason) {
  return WithReason(target.empty() ? path : path + L" → " + target, reason);
}

std::wstring VerifyingStatusText(const std::wstring& destination, uint64_t checked) {
  return L"校验中：" + destination + L"，" + ByteAmount(double(checked));
}

std::wstring CheckFailure(const std::wstring& unreadable, bool removed) {
  return (unreadable.empty() ? L"校验失败：目标文件与源文件内容不同" : L"校验失败：" + unreadable) +
         (removed ? L"（这份副本已删除）" : L"（这份副本未能删除）");
}

std::wstring VerifiedText(uint64_t files) { return L"已校验 " + FileCount(files); }

std::wstring StatusText(uint64_t files, uint64_t bytes, double seconds, uint64_t removed, const std::wstring& slowest) {
  std::vector<std::wstring> parts = {FileCount(files), ByteAmount(double(bytes))};
  if (seconds > 0.5) parts.push_back(Speed(double(bytes) / seconds));
  if (removed) parts.push_back(EmptyingStatusText(removed));
  if (!slowest.empty()) parts.push_back(L"最慢的目标：" + slowest);
  return Listed(parts);
}

std::wstring EmptyingStatusText(uint64_t removed) { return L"已删除 " + ItemCount(removed); }

std::wstring EnterFolderFailure(unsigned long code) { return L"无法进入文件夹（错误 " + std::to_wstring(code) + L"）"; }

const wchar_t kChangedHeading[] = L"以下文件在复制期间有改动，复制的是开始复制时的内容：";
const wchar_t kNotKeptHeading[] = L"以下目标所在的磁盘不能保留文件的全部信息（文件已复制）：";

std::wstring NotKeptText(const std::wstring& destination, bool times, bool attributes) {
  std::wstring what;
  if (times) what = L"修改时间";
  if (attributes) what += std::wstring(what.empty() ? L"" : L"、") + L"文件属性（只读、隐藏、系统）";
  return destination + L"：未能保留" + what;
}

std::wstring OverwriteQuestion(const std::wstring& target) { return L"文件" + target + L"已存在，是否覆盖？"; }

const wchar_t kWholeDriveCopied[] = L"不能对整个驱动器（磁盘）进行复制！";
const wchar_t kWholeDriveEmptied[] = L"不能清空整个驱动器（磁盘）！";
const wchar_t kOverwrite[] = L"覆盖", kSkip[] = L"跳过", kAsk[] = L"询问", kAutoNumber[] = L"自动编号同名文件",
              kNewerOnly[] = L"按文件修改时间只替换旧文件";
const wchar_t kCopyStopped[] = L"复制已停止。";

std::wstring LogNotWritten(const std::wstring& path, const std::wstring& reason) {
  return WithReason(L"无法写入日志文件 " + path, reason);
}

}  // namespace text
