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
// A journal is written only by appending, never over itself (fusefat loses a
// write over bytes its own handle wrote): a record opens with the mark for
// Open followed by its sealed part; a later mark (Committed, Untouched) is
// appended after it. The last record and the mark after it say where the
// last write stands; earlier ones ended.
constexpr DWORD kMarkSize = 8;
constexpr const char* kMarks[] = {"QMJ-RECD", "QMJ-DONE", "QMJ-NONE"};

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

FileHandle MakeJournal(const std::wstring& path) {
  return FileHandle(
      CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool WriteJournal(HANDLE journal, const Journal& record, bool flush) {
  std::string bytes(kMarks[size_t(Journal::State::Open)], kMarkSize);
  bytes.append(kMagic, sizeof kMagic);
  PutName(bytes, record.target);
  PutName(bytes, record.old);
  Put(bytes, record.oldLength);
  Put(bytes, record.oldWriteTime);
  Put(bytes, record.oldAccessTime);
  Put(bytes, record.oldAttributes);
  Put(bytes, record.newLength);
  Put(bytes, record.newWriteTime);
  Put(bytes, Checksum(bytes.data() + kMarkSize, bytes.size() - kMarkSize));
  return WriteAllOf(journal, bytes.data(), DWORD(bytes.size()), L"") && (!flush || FlushFileBuffers(journal));
}

bool MarkJournal(HANDLE journal, Journal::State state, bool flush) {
  return WriteAllOf(journal, kMarks[size_t(state)], kMarkSize, L"") && (!flush || FlushFileBuffers(journal));
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
  // The last record whole, and the marks after it; a tail torn as it was
  // written is a write that touched nothing yet.
  bool any = false;
  for (Reader in{bytes}; in.at + kMarkSize <= bytes.size();) {
    const std::string mark = bytes.substr(in.at, kMarkSize);
    size_t state = 0;
    while (state < std::size(kMarks) && mark != kMarks[state]) ++state;
    if (state == std::size(kMarks)) break;
    in.at += kMarkSize;
    if (Journal::State(state) != Journal::State::Open) {
      if (any) journal.state = Journal::State(state);
      continue;
    }
    Journal next;
    const size_t start = in.at;
    char magic[4];
    uint64_t sum = 0;
    if (!in.Get(magic) || std::memcmp(magic, kMagic, 4) || !in.GetName(next.target) || !in.GetName(next.old) ||
        !in.Get(next.oldLength) || !in.Get(next.oldWriteTime) || !in.Get(next.oldAccessTime) ||
        !in.Get(next.oldAttributes) || !in.Get(next.newLength) || !in.Get(next.newWriteTime))
      break;
    const size_t sealed = in.at;
    if (!in.Get(sum) || sum != Checksum(bytes.data() + start, sealed - start) ||
        next.target.empty())
      break;
    journal = next;
    any = true;
  }
  if (!any) return JournalState::Torn;
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

bool PutBack(const std::wstring& folder, const Journal& journal) {
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
  return RemoveClosed(old);
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

}  // namespace

bool RepairJournal(const std::wstring& path) {
  const std::wstring folder = path.substr(0, path.size() - NamePart(path).size());
  Journal journal;
  switch (TakeJournal(path, journal)) {
    case JournalState::Held:
      return false;
    case JournalState::Torn:  // torn as its record was written: its target not touched yet
      return RemoveClosed(path);
    case JournalState::Read:
      break;
  }
  const std::wstring target = ChildPath(folder, journal.target), old = ChildPath(folder, journal.old);
  bool done = true;
  switch (journal.state) {
    case Journal::State::Committed:
      // As the write would have ended it: a share's client stamps a file it
      // lets go of after a kill, and its cache hides that a while.
      if (!IsAbsent(target)) SetTimesNowAndLater(target, VolumePathOf(folder), journal.newWriteTime, 0);
      [[fallthrough]];
    case Journal::State::Untouched:
      done = journal.old.empty() || IsAbsent(old) || RemoveClosed(old);
      break;
    case Journal::State::Open:
      if (!journal.old.empty())
        done = PutBack(folder, journal);
      else if (!IsAbsent(target))  // ours, perhaps partial: copied again by the next run
        done = (SetFileAttributesW(SystemPath(target).c_str(), FILE_ATTRIBUTE_NORMAL), RemoveClosed(SystemPath(target)));
      break;
  }
  return done && RemoveClosed(path);
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
    if (!RepairJournal(left.journal)) {
      repaired = false;
      LeaveForRepair(left.journal, left.target);
    }
  }
  return repaired;
}

void RepairFolder(const std::wstring& folder) {
  const auto listed = ListMatches(folder + kPrefix + L"*", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  if (!listed) return;
  // Journals first: each says what becomes of its .old file. While one
  // stays, every .old file stays with it.
  bool journalStays = false;
  for (const Entry& entry : *listed)
    if (KindOf(entry.name) == OwnKind::Journal && LeftByTheDead(entry.name))
      journalStays |= !RepairJournal(ChildPath(folder, entry.name));
  for (const Entry& entry : *listed) {
    const auto kind = KindOf(entry.name);
    if (!kind || *kind == OwnKind::Journal || *kind == OwnKind::Aside || !LeftByTheDead(entry.name)) continue;
    if (*kind == OwnKind::Old && journalStays) continue;
    const std::wstring path = ChildPath(folder, entry.name);
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
