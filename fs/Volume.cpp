#include "fs/Volume.h"

#include <iterator>
#include <map>
#include <memory>
#include <vector>

#include "common/Paths.h"
#include "common/Sync.h"
#include "fs/FileSystem.h"
#include "fs/Steps.h"

namespace fs {
namespace {
// Windows 10 1709's volume flag; the headers name it only for newer targets.
constexpr DWORD kSupportsPosixRename = 0x00000400;
}  // namespace

namespace faults {
namespace {
std::atomic<bool> g_any{false};
std::atomic<bool> g_set[size_t(Step::Count)];
std::atomic<DWORD> g_value[size_t(Step::Count)];
Lock g_nameLock;
std::wstring g_fileSystemName;
}  // namespace

void Inject(Step step, DWORD value) {
  g_value[size_t(step)] = value;
  g_set[size_t(step)] = true;
  g_any = true;
  ForgetVolumes();  // each volume asked again under the fault
}

void Clear() {
  for (auto& set : g_set) set = false;
  g_any = false;
  ForgetVolumes();
}

std::optional<DWORD> Injected(Step step) {
  if (!g_any.load(std::memory_order_relaxed) || !g_set[size_t(step)]) return std::nullopt;
  return g_value[size_t(step)].load();
}

void Reached(Point point) {
  const auto at = Injected(Step::PauseAt);
  if (!at || *at != DWORD(point)) return;
  SetEvent(CreateEventW(nullptr, TRUE, FALSE, L"Local\\quillmere-paused"));
  Sleep(INFINITE);
}

void InjectFileSystemName(const std::wstring& name) {
  std::lock_guard<Lock> hold(g_nameLock);
  g_fileSystemName = name;
}

std::wstring InjectedFileSystemName() {
  std::lock_guard<Lock> hold(g_nameLock);
  return g_fileSystemName;
}
}  // namespace faults

namespace {

struct CaseLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_LESS_THAN;
  }
};

// The volumes of this run. Traits live as long as the process (a copy may
// hold a reference past a run's end); a run forgets them by a new generation.
struct Table {
  Lock lock;
  std::atomic<unsigned> generation{1};  // read on every copy's path: no lock
  std::map<std::wstring, VolumeTraits*, CaseLess> byRoot, byKey;
  std::vector<std::unique_ptr<VolumeTraits>> all;
};
Table& Volumes() {
  static Table table;
  return table;
}

// The drive or share part of a path ("C:\", "\\server\share\"); empty when none.
std::wstring RootPart(const std::wstring& path) {
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return path.substr(0, 3);
  if (path.rfind(L"\\\\", 0) != 0) return L"";
  const size_t server = path.find(L'\\', 2);
  if (server == std::wstring::npos) return L"";
  const size_t share = path.find(L'\\', server + 1);
  return share == std::wstring::npos ? path + L"\\" : path.substr(0, share + 1);
}

// Who a volume is, and its unit, asked of the system with no lock held (a
// share may be slow to answer): its volume GUID path, else its serial number
// and file system where the serial is not 0, else the root of the folder's
// final path.
void Identify(VolumeTraits& volume, const std::wstring& path) {
  wchar_t name[MAX_PATH + 1] = L"";
  DWORD serial = 0, flags = 0;
  const bool told = !volume.root.empty() && GetVolumeInformationW(volume.root.c_str(), nullptr, 0, &serial, nullptr,
                                                                   &flags, name, MAX_PATH + 1);
  wchar_t guid[64] = L"";
  if (!volume.root.empty() && GetVolumeNameForVolumeMountPointW(volume.root.c_str(), guid, 64))
    volume.key = guid;
  else if (told && serial)
    volume.key = Hex(serial) + L":" + name;
  else if (const auto final = FinalPath(path); final && !RootPart(*final).empty())
    volume.key = RootPart(*final);
  else
    volume.key = !volume.root.empty() ? volume.root : RootPart(ResolvePath(path));
  DWORD sectors, bytes, free, total;
  if (!volume.root.empty() && GetDiskFreeSpaceW(volume.root.c_str(), &sectors, &bytes, &free, &total) && bytes)
    volume.sector = bytes;
  if (!TrustVolumeFlags()) return;
  std::wstring fileSystem = name;
  if (const auto injected = faults::Injected(faults::Step::VolumeFlags)) {
    flags = *injected;
    fileSystem = faults::InjectedFileSystemName();
  } else if (!told) {
    return;
  }
  volume.posixRename = (flags & kSupportsPosixRename) != 0;
  auto is = [&fileSystem](const wchar_t* kind) { return SameTextIgnoreCase(fileSystem, kind); };
  if (is(L"NTFS") || is(L"ReFS"))
    volume.timeUnit = 1;
  else if (is(L"exFAT"))
    volume.timeUnit = kTicksPerSecond;
}

}  // namespace

std::wstring VolumePathOf(const std::wstring& path) {
  const std::wstring full = LongPath(path);
  std::vector<wchar_t> root(full.size() + 2);
  if (!GetVolumePathNameW(full.c_str(), root.data(), DWORD(root.size()))) return L"";
  std::wstring result = root.data();
  if (result.rfind(L"\\\\?\\UNC\\", 0) == 0) result = L"\\\\" + result.substr(8);
  else if (result.rfind(L"\\\\?\\", 0) == 0) result = result.substr(4);
  return result;
}

void ForgetVolumes() {
  Table& table = Volumes();
  std::lock_guard<Lock> hold(table.lock);
  ++table.generation;
  table.byRoot.clear();
  table.byKey.clear();
}

bool TrustVolumeFlags() {
  if (faults::Injected(faults::Step::VolumeFlags)) return true;
  static const bool underWine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return !underWine;
}

VolumeTraits& TraitsOf(const std::wstring& path) {
  // A copy asks of its source's folder and its target's in turn: a few
  // folders remembered per thread spare the system's walk up each path.
  struct Known {
    std::wstring path;
    VolumeTraits* traits = nullptr;
    unsigned generation = 0;
  };
  thread_local Known known[4];
  thread_local size_t next = 0;
  Table& table = Volumes();
  const unsigned generation = table.generation.load();
  for (const Known& k : known)
    if (k.traits && k.generation == generation && k.path == path) return *k.traits;
  auto found = std::make_unique<VolumeTraits>();
  found->root = VolumePathOf(path);
  VolumeTraits* traits = nullptr;
  {
    std::lock_guard<Lock> hold(table.lock);
    if (auto at = table.byRoot.find(found->root); at != table.byRoot.end() && !found->root.empty())
      traits = at->second;
  }
  if (!traits) {
    Identify(*found, path);
    const std::wstring root = found->root;
    std::lock_guard<Lock> hold(table.lock);
    VolumeTraits*& slot = table.byKey[found->key];
    if (!slot) {
      slot = found.get();
      table.all.push_back(std::move(found));
    }
    traits = slot;
    if (!root.empty()) table.byRoot.emplace(root, traits);  // this spelling of the volume too
  }
  known[next] = {path, traits, generation};
  next = (next + 1) % std::size(known);
  return *traits;
}

const VolumeTraits& ProbedTraitsOf(const std::wstring& folder) {
  VolumeTraits& traits = TraitsOf(folder);
  if (traits.probed()) return traits;
  AcquireSRWLockExclusive(&traits.probing_);
  // Asked into a copy of its own and published whole, so that no copy reads
  // a half-asked volume; a probe that could not ask changes nothing.
  VolumeTraits asked;
  asked.root = traits.root;
  asked.posixRename = traits.posixRename;
  if (!traits.probed() && ProbeVolume(asked, folder)) {
    traits.renamesOpenFiles = asked.renamesOpenFiles;
    traits.renamesNothing = asked.renamesNothing;
    traits.posixRename = asked.posixRename;
    traits.keptAttributes = asked.keptAttributes;
    traits.keepsTimes = asked.keepsTimes;
    traits.timesAfterClose = asked.timesAfterClose;
    traits.timesAfterRename = asked.timesAfterRename;
    traits.probed_.store(true, std::memory_order_release);
  }
  ReleaseSRWLockExclusive(&traits.probing_);
  return traits;
}

bool WrittenLater(uint64_t source, uint64_t target, uint64_t unit) {
  return source > target && source - target >= std::max<uint64_t>(unit, 1);
}

bool IsNotSupported(DWORD code) {
  switch (code) {
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_PARAMETER:
    case ERROR_CALL_NOT_IMPLEMENTED:
    case ERROR_GEN_FAILURE:
      return true;
    default:
      return false;
  }
}

}  // namespace fs
