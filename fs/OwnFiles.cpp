#include "fs/OwnFiles.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "common/Paths.h"
#include "common/Sync.h"
#include "fs/FileSystem.h"
#include "fs/LateTimes.h"
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

std::wstring Hex(uint64_t value) {
  wchar_t text[17];
  swprintf(text, 17, L"%llx", static_cast<unsigned long long>(value));
  return text;
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
  return started != maker.started || code != STILL_ACTIVE;
}

// A file of ours that a dead process of this computer left.
bool LeftByTheDead(const std::wstring& name) {
  const auto maker = MakerOf(name);
  return maker && SameTextIgnoreCase(maker->computer, Me().computer) && IsGone(*maker);
}

bool Fail(DWORD code) {
  SetLastError(code);
  return false;
}

// The journal on disk: a fixed header, the two names, and an FNV-1a
// checksum of everything before it.
constexpr char kMagic[4] = {'Q', 'M', 'J', '1'};

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

// Copies one open file's bytes over another's, from both starts.
bool CopyWhole(HANDLE from, HANDLE to) {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(from, start, nullptr, FILE_BEGIN) || !SetFilePointerEx(to, start, nullptr, FILE_BEGIN))
    return false;
  std::vector<char> buffer(64u << 10);
  for (;;) {
    DWORD got = 0, put = 0;
    if (!ReadFile(from, buffer.data(), DWORD(buffer.size()), &got, nullptr)) return false;
    if (!got) return true;
    if (!WriteFile(to, buffer.data(), got, &put, nullptr)) return false;
    if (put != got) return Fail(ERROR_WRITE_FAULT);
  }
}

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

bool WriteJournal(const std::wstring& path, const Journal& journal) {
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
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD put = 0;
  if (file.valid() && WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &put, nullptr) &&
      put == bytes.size() && FlushFileBuffers(file.get()))
    return true;
  const DWORD error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
  if (file.valid()) {
    file = FileHandle();
    RemoveClosed(path);
  }
  return Fail(error);
}

std::optional<Journal> ReadJournal(const std::wstring& path) {
  const FileHandle file = OpenToRead(path);
  if (!file.valid()) return std::nullopt;
  std::string bytes(4096, '\0');
  DWORD got = 0;
  if (!ReadFile(file.get(), bytes.data(), DWORD(bytes.size()), &got, nullptr)) return std::nullopt;
  bytes.resize(got);
  Journal journal;
  Reader in{bytes};
  char magic[4];
  uint64_t sum = 0;
  if (!in.Get(magic) || std::memcmp(magic, kMagic, 4) || !in.GetName(journal.target) || !in.GetName(journal.old) ||
      !in.Get(journal.oldLength) || !in.Get(journal.oldWriteTime) || !in.Get(journal.oldAccessTime) ||
      !in.Get(journal.oldAttributes) || !in.Get(journal.newLength) || !in.Get(journal.newWriteTime))
    return std::nullopt;
  const size_t sealed = in.at;
  if (!in.Get(sum) || in.at != bytes.size() || sum != Checksum(bytes.data(), sealed) || journal.target.empty())
    return std::nullopt;
  return journal;
}

bool PutBack(const std::wstring& folder, const std::wstring& journalPath, const Journal& journal) {
  const std::wstring target = ChildPath(folder, journal.target), old = ChildPath(folder, journal.old);
  {
    const FileHandle from = OpenToRead(old);
    LARGE_INTEGER size{};
    if (!from.valid() || !GetFileSizeEx(from.get(), &size) || uint64_t(size.QuadPart) != journal.oldLength)
      return false;
    // Written over from the start and cut to length; where a driver will not
    // set an open file's length (FAT32 through FUSE), made anew. Should we
    // die before the bytes are in, the journal and the .old file are still there.
    FileHandle to(CreateFileW(SystemPath(target).c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!to.valid() || !CopyWhole(from.get(), to.get())) return false;
    if (!SetEndOfFile(to.get())) {
      to = FileHandle();
      if (!RemoveClosed(SystemPath(target))) return false;
      to = FileHandle(CreateFileW(SystemPath(target).c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!to.valid() || !CopyWhole(from.get(), to.get())) return false;
    }
    if (journal.oldAttributes & ~FILE_ATTRIBUTE_ARCHIVE) {
      FILE_BASIC_INFO basic{};
      basic.FileAttributes = journal.oldAttributes;
      SetFileInformationByHandle(to.get(), FileBasicInfo, &basic, sizeof basic);  // a stick may keep none
    }
    if (!SetFileTimes(to.get(), journal.oldWriteTime, journal.oldAccessTime) || !FlushFileBuffers(to.get()))
      return false;
  }
  // A share's client stamps the file as it lets go of it: set again, now and later.
  SetTimesNowAndLater(target, VolumePathOf(folder), journal.oldWriteTime, journal.oldAccessTime);
  return RemoveClosed(old) && RemoveClosed(journalPath);
}

namespace {

// Journals this process left where the volume would not let a failed write
// be undone (a share gone for a while): tried again before the next write of
// the same target, and as the run ends.
Lock g_leftLock;
std::vector<std::wstring> g_left;

bool Remove(const std::wstring& path, size_t& removed) {
  if (IsAbsent(path)) return true;
  if (!RemoveClosed(path)) return false;
  ++removed;
  return true;
}

}  // namespace

size_t RepairJournal(const std::wstring& path) {
  const std::wstring folder = path.substr(0, path.size() - NamePart(path).size());
  size_t removed = 0;
  const auto journal = ReadJournal(path);
  if (!journal) {  // torn as it was written: nothing was touched yet
    if (Remove(SiblingOf(path, OwnKind::Old), removed)) Remove(path, removed);
    return removed;
  }
  const std::wstring target = ChildPath(folder, journal->target);
  const auto standing = Look(target);
  const bool whole = standing && standing->size == journal->newLength &&
                     WrittenLater(journal->newWriteTime + kCoarsestTimeUnit, standing->writeTime, 1) &&
                     WrittenLater(standing->writeTime + kCoarsestTimeUnit, journal->newWriteTime, 1);
  if (whole) {
    // The commit, as the write would have ended it: a share's client stamps
    // a file it lets go of after a kill, and its cache hides that a while.
    SetTimesNowAndLater(target, VolumePathOf(folder), journal->newWriteTime, 0);
    if (journal->old.empty() || Remove(ChildPath(folder, journal->old), removed)) Remove(path, removed);
  } else if (!journal->old.empty()) {
    if (PutBack(folder, path, *journal)) removed += 2;
  } else if (!standing || Remove(target, removed)) {
    Remove(path, removed);
  }
  return removed;
}

void LeaveForRepair(const std::wstring& journalPath) {
  std::lock_guard<Lock> hold(g_leftLock);
  g_left.push_back(journalPath);
}

bool RepairLeft(const std::wstring& target) {
  std::vector<std::wstring> left, kept;
  {
    std::lock_guard<Lock> hold(g_leftLock);
    if (g_left.empty()) return true;
    left.swap(g_left);
  }
  bool repaired = true;
  for (const std::wstring& journal : left) {
    const std::wstring folder = journal.substr(0, journal.size() - NamePart(journal).size());
    const auto read = target.empty() ? std::nullopt : ReadJournal(journal);
    if (!target.empty() && !(read && SamePlace(ChildPath(folder, read->target), target))) {
      kept.push_back(journal);
      continue;
    }
    RepairJournal(journal);
    if (!IsAbsent(journal)) {
      repaired = false;
      kept.push_back(journal);
    }
  }
  std::lock_guard<Lock> hold(g_leftLock);
  g_left.insert(g_left.end(), kept.begin(), kept.end());
  return repaired;
}

size_t RepairFolder(const std::wstring& folder) {
  const auto listed = ListMatches(folder + kPrefix + L"*", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  if (!listed) return 0;
  size_t removed = 0;
  // Journals first: each says what becomes of its .old.
  for (const Entry& entry : *listed)
    if (KindOf(entry.name) == OwnKind::Journal && LeftByTheDead(entry.name))
      removed += RepairJournal(ChildPath(folder, entry.name));
  for (const Entry& entry : *listed) {
    const auto kind = KindOf(entry.name);
    if (!kind || *kind == OwnKind::Journal || *kind == OwnKind::Aside || !LeftByTheDead(entry.name)) continue;
    const std::wstring path = ChildPath(folder, entry.name);
    // An .old whose journal stands is the journal's to remove.
    if (*kind == OwnKind::Old && !IsAbsent(SiblingOf(path, OwnKind::Journal))) continue;
    // Shares nothing: a file someone still has open stays.
    FileHandle file(CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) continue;
    FILE_DISPOSITION_INFO disposition{TRUE};
    SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
    file = FileHandle();
    // Where the system did not carry the disposition out (a share), by name.
    if (RemoveClosed(path)) ++removed;
  }
  return removed;
}

}  // namespace fs
