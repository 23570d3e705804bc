#include "fs/OwnFiles.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "common/Paths.h"
#include "common/Sync.h"
#include "fs/FileSystem.h"
#include "fs/LateTimes.h"
#include "fs/Steps.h"
#include "fs/Volume.h"

namespace fs {
namespace {

constexpr wchar_t kPrefix[] = L"~quillmere-";
constexpr const wchar_t* kSuffixes[] = {L".part", L".aside", L".old", L".journal", L".probe"};

const wchar_t* SuffixOf(OwnKind kind) { return kSuffixes[size_t(kind)]; }

std::atomic<unsigned> g_counter{0};

// Who made a file of ours: this computer, this process and when it started,
// so that a later run knows whether its maker is gone (a process id alone
// may have been given to another process since).
struct Maker {
  std::wstring computer;
  DWORD process;
  uint64_t started;
};

uint64_t StartOf(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (uint64_t(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

const Maker& Me() {
  static const Maker me = [] {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    std::wstring computer = GetComputerNameW(name, &size) ? name : L"PC";
    return Maker{computer, GetCurrentProcessId(), StartOf(GetCurrentProcess())};
  }();
  return me;
}

// The kind a name of ours ends with; empty for any other name.
std::optional<OwnKind> KindOf(const std::wstring& name) {
  const size_t prefix = std::size(kPrefix) - 1;
  if (name.size() <= prefix || !SameTextIgnoreCase(name.substr(0, prefix), kPrefix)) return std::nullopt;
  for (size_t k = 0; k < std::size(kSuffixes); ++k) {
    const size_t suffix = wcslen(kSuffixes[k]);
    if (name.size() > prefix + suffix && SameTextIgnoreCase(name.substr(name.size() - suffix), kSuffixes[k]))
      return OwnKind(k);
  }
  return std::nullopt;
}

// The maker a name of ours tells, read from the right (a computer's name may
// hold dashes); empty for a name of another shape.
std::optional<Maker> MakerOf(const std::wstring& name) {
  const auto kind = KindOf(name);
  if (!kind) return std::nullopt;
  const size_t prefix = std::size(kPrefix) - 1;
  std::wstring rest = name.substr(prefix, name.size() - prefix - wcslen(SuffixOf(*kind)));
  uint64_t fields[3];
  for (int i = 3; i-- > 0;) {  // counter, start, process
    const size_t dash = rest.rfind(L'-');
    if (dash == std::wstring::npos || dash + 1 == rest.size()) return std::nullopt;
    const std::wstring field = rest.substr(dash + 1);
    if (field.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos) return std::nullopt;
    fields[i] = wcstoull(field.c_str(), nullptr, i == 2 ? 10 : 16);
    rest.resize(dash);
  }
  if (rest.empty()) return std::nullopt;
  return Maker{rest, DWORD(fields[0]), fields[1]};
}

bool IsGone(const Maker& maker) {
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, maker.process);
  if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process; refused: alive
  const uint64_t started = StartOf(process);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  // A start that cannot be read is no proof of death.
  return (started && started != maker.started) || code != STILL_ACTIVE;
}

// A file of ours that a dead process of this computer left.
bool LeftByTheDead(const std::wstring& name) {
  const auto maker = MakerOf(name);
  return maker && SameTextIgnoreCase(maker->computer, Me().computer) && IsGone(*maker);
}

// The journal on disk: a fixed header, the two names, and an FNV-1a
// checksum of everything before it.
constexpr char kMagic[4] = {'Q', 'M', 'J', '1'};
// The mark after the sealed part that says how the write ended.
constexpr DWORD kMarkSize = 8;
constexpr char kCommitted[] = "QMJ-DONE", kUntouched[] = "QMJ-NONE";

uint64_t Checksum(const char* data, size_t size) {
  uint64_t hash = 14695981039346656037ull;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ uint8_t(data[i])) * 1099511628211ull;
  return hash;
}

template <typename T>
void Put(std::string& out, const T& value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void PutName(std::string& out, const std::wstring& name) {
  Put(out, uint32_t(name.size()));
  out.append(reinterpret_cast<const char*>(name.data()), name.size() * sizeof(wchar_t));
}

struct Reader {
  const std::string& in;
  size_t at = 0;
  template <typename T>
  bool Get(T& value) {
    if (in.size() - at < sizeof value) return false;
    std::memcpy(&value, in.data() + at, sizeof value);
    at += sizeof value;
    return true;
  }
  bool GetName(std::wstring& name) {
    uint32_t size = 0;
    if (!Get(size) || size > 32767 || (in.size() - at) / sizeof(wchar_t) < size) return false;
    name.assign(reinterpret_cast<const wchar_t*>(in.data() + at), size);
    at += size * sizeof(wchar_t);
    return true;
  }
};



}  // namespace

std::wstring OwnFilePath(const std::wstring& folder, OwnKind kind) {
  const Maker& me = Me();
  return SystemPath(folder + kPrefix + me.computer + L"-" + Hex(me.process) + L"-" + Hex(me.started) + L"-" +
                    std::to_wstring(g_counter.fetch_add(1)) + SuffixOf(kind));
}

std::wstring SiblingOf(const std::wstring& ownPath, OwnKind kind) {
  const auto current = KindOf(NamePart(ownPath));
  if (!current) return L"";
  return ownPath.substr(0, ownPath.size() - wcslen(SuffixOf(*current))) + SuffixOf(kind);
}

bool IsOwnFileName(const std::wstring& name) { return KindOf(name).has_value(); }

bool RemoveClosed(const std::wstring& path) {
  for (int attempt = 0;; ++attempt) {
    const bool deleted = DeleteFileW(path.c_str());
    const DWORD error = GetLastError();
    if (IsAbsent(path)) return true;
    if (attempt == 40 || (!deleted && error != ERROR_LOCK_VIOLATION && error != ERROR_SHARING_VIOLATION))
      return Fail(deleted ? ERROR_LOCK_VIOLATION : error);
    Sleep(5);
  }
}

FileHandle WriteJournal(const std::wstring& path, const Journal& journal) {
  std::string bytes(kMagic, sizeof kMagic);
  PutName(bytes, journal.target);
  PutName(bytes, journal.old);
  Put(bytes, journal.oldLength);
  Put(bytes, journal.oldWriteTime);
  Put(bytes, journal.oldAccessTime);
  Put(bytes, journal.oldAttributes);
  Put(bytes, journal.newLength);
  Put(bytes, journal.newWriteTime);
  Put(bytes, Checksum(bytes.data(), bytes.size()));
  FileHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.valid() && WriteAllOf(file.get(), bytes.data(), DWORD(bytes.size()), L"") && FlushFileBuffers(file.get()))
    return file;
  const DWORD error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
  if (file.valid()) {
    file = FileHandle();
    RemoveClosed(path);
  }
  SetLastError(error);
  return FileHandle();
}

bool EndJournal(const FileHandle& journal, Journal::Ending ending) {
  const char* mark = ending == Journal::Ending::Committed ? kCommitted : kUntouched;
  return WriteAllOf(journal.get(), mark, kMarkSize, L"") && FlushFileBuffers(journal.get());
}

namespace {

enum class JournalState { Held, Torn, Read };

// The journal at path, taken for a repair: opened sharing nothing, so a
// journal that a live write holds (or that cannot be read now) is let be.
JournalState TakeJournal(const std::wstring& path, Journal& journal) {
  std::string bytes;
  {
    const FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) return JournalState::Held;
    char buffer[4096];
    for (DWORD got = 0;;) {
      if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return JournalState::Held;
      if (!got) break;
      bytes.append(buffer, got);
      if (bytes.size() > (1u << 20)) return JournalState::Torn;
    }
  }
  Reader in{bytes};
  char magic[4];
  uint64_t sum = 0;
  if (!in.Get(magic) || std::memcmp(magic, kMagic, 4) || !in.GetName(journal.target) || !in.GetName(journal.old) ||
      !in.Get(journal.oldLength) || !in.Get(journal.oldWriteTime) || !in.Get(journal.oldAccessTime) ||
      !in.Get(journal.oldAttributes) || !in.Get(journal.newLength) || !in.Get(journal.newWriteTime))
    return JournalState::Torn;
  const size_t sealed = in.at;
  if (!in.Get(sum) || sum != Checksum(bytes.data(), sealed) || journal.target.empty()) return JournalState::Torn;
  const std::string mark = bytes.substr(in.at);
  journal.ending = mark == std::string(kCommitted, kMarkSize)   ? Journal::Ending::Committed
                   : mark == std::string(kUntouched, kMarkSize) ? Journal::Ending::Untouched
                                                                 : Journal::Ending::Open;
  return JournalState::Read;
}

// Opens a file we just closed for writing: a share's client lets go of it a
// moment late.
FileHandle OpenClosedToWrite(const std::wstring& path, DWORD disposition) {
  for (int attempt = 0;; ++attempt) {
    FileHandle file(CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD error = GetLastError();
    if (file.valid() || attempt == 40 || (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION))
      return file;
    Sleep(5);
  }
}

}  // namespace

bool PutBack(const std::wstring& folder, const std::wstring& journalPath, const Journal& journal) {
  const std::wstring target = ChildPath(folder, journal.target), old = ChildPath(folder, journal.old);
  {
    const FileHandle from = OpenToRead(old);
    LARGE_INTEGER size{};
    if (!from.valid() || !GetFileSizeEx(from.get(), &size) || uint64_t(size.QuadPart) != journal.oldLength)
      return false;
    // Whatever bits the failed write gave it, read-only included, go first.
    SetFileAttributesW(SystemPath(target).c_str(), FILE_ATTRIBUTE_NORMAL);
    // Written over from the start and cut to length; where a driver will not
    // set an open file's length (FAT32 through FUSE), made anew. Should we
    // die before the bytes are in, the journal and the .old file are still there.
    FileHandle to = OpenClosedToWrite(target, OPEN_ALWAYS);
    if (!to.valid() || !CopyAll(from.get(), to.get(), folder)) return false;
    if (!SetEndOfFile(to.get())) {
      to = FileHandle();
      if (!RemoveClosed(SystemPath(target))) return false;
      to = OpenClosedToWrite(target, CREATE_NEW);
      if (!to.valid() || !CopyAll(from.get(), to.get(), folder)) return false;
    }
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = journal.oldAttributes ? journal.oldAttributes : FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(to.get(), FileBasicInfo, &basic, sizeof basic);  // a stick may keep none
    if (!SetFileTimes(to.get(), journal.oldWriteTime, journal.oldAccessTime) || !FlushFileBuffers(to.get()))
      return false;
  }
  // A share's client stamps the file as it lets go of it: set again, now and later.
  SetTimesNowAndLater(target, VolumePathOf(folder), journal.oldWriteTime, journal.oldAccessTime);
  return RemoveClosed(old) && RemoveClosed(journalPath);
}

namespace {

// Journals this process left where the volume would not let a failed write
// be undone, or refused a journal's removal (a share gone for a while): tried
// again before the next write of the same target, and as the run ends.
struct Left {
  std::wstring journal, target;
};
Lock g_leftLock;
std::vector<Left> g_left;

void Remove(const std::wstring& path) {
  if (!IsAbsent(path)) RemoveClosed(path);
}

}  // namespace

void RepairJournal(const std::wstring& path) {
  const std::wstring folder = path.substr(0, path.size() - NamePart(path).size());
  Journal journal;
  switch (TakeJournal(path, journal)) {
    case JournalState::Held:
      return;
    case JournalState::Torn:  // torn as it was written: nothing was touched yet
      if (IsAbsent(SiblingOf(path, OwnKind::Old)) || RemoveClosed(SiblingOf(path, OwnKind::Old))) Remove(path);
      return;
    case JournalState::Read:
      break;
  }
  const std::wstring target = ChildPath(folder, journal.target);
  switch (journal.ending) {
    case Journal::Ending::Committed:
      // As the write would have ended it: a share's client stamps a file it
      // lets go of after a kill, and its cache hides that a while.
      if (!IsAbsent(target)) SetTimesNowAndLater(target, VolumePathOf(folder), journal.newWriteTime, 0);
      [[fallthrough]];
    case Journal::Ending::Untouched:
      if (journal.old.empty() || IsAbsent(ChildPath(folder, journal.old)) ||
          RemoveClosed(ChildPath(folder, journal.old)))
        Remove(path);
      return;
    case Journal::Ending::Open:
      if (!journal.old.empty()) {
        PutBack(folder, path, journal);
      } else if (IsAbsent(target) || (SetFileAttributesW(SystemPath(target).c_str(), FILE_ATTRIBUTE_NORMAL),
                                      RemoveClosed(SystemPath(target)))) {
        Remove(path);
      }
      return;
  }
}

void LeaveForRepair(const std::wstring& journalPath, const std::wstring& target) {
  std::lock_guard<Lock> hold(g_leftLock);
  g_left.push_back({journalPath, target});
}

bool RepairLeft(const std::wstring& target) {
  std::vector<Left> mine;
  {
    std::lock_guard<Lock> hold(g_leftLock);
    if (g_left.empty()) return true;
    std::erase_if(g_left, [&](const Left& left) {
      const bool taken = target.empty() || SameTextIgnoreCase(left.target, target);
      if (taken) mine.push_back(left);
      return taken;
    });
  }
  bool repaired = true;
  for (const Left& left : mine) {
    RepairJournal(left.journal);
    if (!IsAbsent(left.journal)) {
      repaired = false;
      LeaveForRepair(left.journal, left.target);
    }
  }
  return repaired;
}

void RepairFolder(const std::wstring& folder) {
  const auto listed = ListMatches(folder + kPrefix + L"*", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  if (!listed) return;
  // Journals first: each says what becomes of its .old.
  for (const Entry& entry : *listed)
    if (KindOf(entry.name) == OwnKind::Journal && LeftByTheDead(entry.name)) RepairJournal(ChildPath(folder, entry.name));
  for (const Entry& entry : *listed) {
    const auto kind = KindOf(entry.name);
    if (!kind || *kind == OwnKind::Journal || *kind == OwnKind::Aside || !LeftByTheDead(entry.name)) continue;
    const std::wstring path = ChildPath(folder, entry.name);
    // An .old whose journal stands is the journal's to remove.
    if (*kind == OwnKind::Old && !IsAbsent(SiblingOf(path, OwnKind::Journal))) continue;
    // A probe killed while it was read-only keeps the bit; ours, it goes all the same.
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    // Shares nothing: a file someone still has open stays.
    FileHandle file(CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) continue;
    FILE_DISPOSITION_INFO disposition{TRUE};
    SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
    file = FileHandle();
    // Where the system did not carry the disposition out (a share), by name.
    RemoveClosed(path);
  }
}

}  // namespace fs
