// Text conversion for list files (GBK, or UTF-8 when GBK cannot hold the
// list), small text rules, and the words both front ends say (the window
// and qmcopy): the status line, the overwrite question, the refusals.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace text {

constexpr unsigned kGbk = 936;

// Empty when some character has no GBK form.
std::optional<std::string> ToGbk(const std::wstring& text);
std::wstring FromGbk(const std::string& bytes);
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& bytes);

// Keyword matching works on whole characters, so a letter never matches
// half of a Chinese character.
std::wstring Upper(std::wstring text);                           // only a..z change
size_t Find(const std::wstring& sub, const std::wstring& text);  // 1-based, 0 = none
std::wstring TrimBlank(const std::wstring& text);                // strips chars <= 32 at both ends

// A character's width in half-width units: 2 for the wide forms of East
// Asian scripts, 1 for the rest.
size_t Units(const std::wstring& text);
// The text as it is when it takes at most maxUnits, else its beginning and
// end around "…" (paths keep their drive and their file name).
std::wstring ShortenMiddle(const std::wstring& text, size_t maxUnits);

// A size for people to read: "512 B", "4.0 KB", "1.2 MB" (1024 per step).
std::wstring ByteAmount(double bytes);
// Counts as they are said: "12 个文件", "5 项".
std::wstring FileCount(uint64_t files);
std::wstring ItemCount(uint64_t items);
// What a list of lines leaves out: "……另有 5 项".
std::wstring MoreText(uint64_t left);
// A speed: "1.2 MB/s".
std::wstring Speed(double bytesPerSecond);
// Parts of one statement: "12 个文件，3.4 MB".
std::wstring Listed(const std::vector<std::wstring>& parts);
// A thing and what became of it: "D:\x.txt：拒绝访问。".
std::wstring WithReason(const std::wstring& what, const std::wstring& reason);
// A failure of the copy: the path (and the target, when it had one) with
// the reason: "C:\a.txt → D:\a.txt：拒绝访问。".
std::wstring FailureLine(const std::wstring& path, const std::wstring& target, const std::wstring& reason);

// The words both front ends say while a run goes on: "12 个文件，3.4 MB，
// 1.2 MB/s" after seconds of work, with "，已删除 5 项" once its emptying
// removed something (an emptying alone, which writes nothing, says only
// "已删除 5 项"), and the question asked under Ask.
// slowest: of several destinations written side by side, the one furthest behind.
std::wstring StatusText(uint64_t files, uint64_t bytes, double seconds, uint64_t removed = 0,
                        const std::wstring& slowest = L"");
std::wstring EmptyingStatusText(uint64_t removed);
// While a destination's copies are read back: "校验中：D:\，1.2 MB".
std::wstring VerifyingStatusText(const std::wstring& destination, uint64_t checked);
// A copy read back that differs (no reason given) or could not be read back
// (the system's reason), and whether the bad copy was removed.
std::wstring CheckFailure(const std::wstring& unreadable, bool removed);
// The copies read back and found the same: "已校验 12 个文件".
std::wstring VerifiedText(uint64_t files);
std::wstring OverwriteQuestion(const std::wstring& target);
// Said once per destination whose volume could not keep the copies' times
// or attributes (the copies stand): "F:\：未能保留修改时间、文件属性".
std::wstring NotKeptText(const std::wstring& destination, bool times, bool attributes);
// The reason given for a folder that could not be entered or listed:
// "无法进入文件夹（错误 5）".
std::wstring EnterFolderFailure(unsigned long code);
// The heading above those lines.
extern const wchar_t kNotKeptHeading[];
// The heading above the sources that changed while they were copied.
extern const wchar_t kChangedHeading[];
// A whole drive is never copied, nor emptied.
extern const wchar_t kWholeDriveCopied[];
extern const wchar_t kWholeDriveEmptied[];
// The same-name policies as the window's radio buttons name them; qmcopy's
// summary names them so too.
extern const wchar_t kOverwrite[], kSkip[], kAsk[], kAutoNumber[], kNewerOnly[];
// The first line said when a copy run was stopped.
extern const wchar_t kCopyStopped[];
// A log that could not be written, with the system's reason.
std::wstring LogNotWritten(const std::wstring& path, const std::wstring& reason);
// A 32-bit whole number: leading spaces, a sign, decimal digits or hex
// after 0x/0X/x/X/$. Empty for anything else or a value that does not fit.
std::optional<int> ParseInteger(const std::wstring& text);

}  // namespace text
