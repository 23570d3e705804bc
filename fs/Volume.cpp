#include "fs/Volume.h"

#include <iterator>
#include <map>
#include <memory>
#include <vector>

#include "common/Paths.h"
#include "common/Sync.h"
#include "fs/FileSystem.h"

namespace fs {
namespace {
// Windows 10 1709's volume flag; the headers name it only for newer targets.
constexpr DWORD kSupportsPosixRename = 0x00000400;
}  // namespace

namespace faults {
void ForgetVolumes();
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
  if (step == Step::VolumeFlags) ForgetVolumes();  // read again as Windows would say
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

// Traits live as long as the process: a handful of volumes, never forgotten
// while a copy may hold a reference.
Lock g_volumesLock;
std::map<std::wstring, std::unique_ptr<VolumeTraits>, bool (*)(const std::wstring&, const std::wstring&)> g_volumes(
    [](const std::wstring& a, const std::wstring& b) { return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_LESS_THAN; });

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

namespace {

// What Windows says of a volume, where it is to be believed.
void ReadVolumeFlags(VolumeTraits& volume) {
  if (!TrustVolumeFlags() || volume.root.empty()) return;
  DWORD flags = 0;
  wchar_t name[MAX_PATH + 1] = L"";
  std::wstring fileSystem;
  if (const auto injected = faults::Injected(faults::Step::VolumeFlags)) {
    flags = *injected;
    fileSystem = faults::InjectedFileSystemName();
  } else if (GetVolumeInformationW(volume.root.c_str(), nullptr, 0, nullptr, nullptr, &flags, name, MAX_PATH + 1)) {
    fileSystem = name;
  } else {
    return;
  }
  volume.posixRename = (flags & kSupportsPosixRename) != 0;
  auto is = [&fileSystem](const wchar_t* kind) { return SameTextIgnoreCase(fileSystem, kind); };
  if (is(L"NTFS") || is(L"ReFS"))
    volume.timeUnit = 1;
  else if (is(L"exFAT"))
    volume.timeUnit = kTicksPerSecond;
  else if (is(L"FAT") || is(L"FAT32"))
    volume.timeUnit = kCoarsestTimeUnit;
}

}  // namespace

namespace faults {
// What was learned under injected faults must not outlive them.
void ForgetVolumes() {
  std::lock_guard<Lock> hold(g_volumesLock);
  for (auto& [root, traits] : g_volumes) {
    traits->renamesOpenFiles = true;
    traits->renamesNothing = false;
    traits->renamesProven = false;
    traits->posixRename = true;
    traits->keepsAttributes = true;
    traits->keepsTimes = true;
    traits->timesAfterClose = false;
    traits->timesChecked = false;
    traits->attributesChecked = false;
    traits->timeUnit = 0;
    ReadVolumeFlags(*traits);
  }
}
}  // namespace faults

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
  };
  thread_local Known known[4];
  thread_local size_t next = 0;
  for (const Known& k : known)
    if (k.traits && k.path == path) return *k.traits;
  std::wstring root = VolumePathOf(path);
  std::lock_guard<Lock> hold(g_volumesLock);
  std::unique_ptr<VolumeTraits>& slot = g_volumes[root];
  if (!slot) {
    slot = std::make_unique<VolumeTraits>();
    slot->root = root;
    ReadVolumeFlags(*slot);
  }
  known[next] = {path, slot.get()};
  next = (next + 1) % std::size(known);
  return *slot;
}

uint64_t TimeUnit(VolumeTraits& volume, uint64_t seenTime) {
  const uint64_t known = volume.timeUnit;
  if (known) return known;
  if (seenTime % kTicksPerSecond) {
    volume.timeUnit = 1;  // it holds parts of a second
    return 1;
  }
  return kCoarsestTimeUnit;
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
