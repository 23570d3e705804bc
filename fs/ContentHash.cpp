#include "fs/ContentHash.h"

#include <algorithm>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "common/AppError.h"
#include "fs/FileSystem.h"
#include "fs/Volume.h"

namespace fs {

struct Hasher::State {
  XXH3_state_t xxh;  // 64-byte aligned by its type
};

Hasher::Hasher() : state_(std::make_unique<State>()) { XXH3_128bits_reset(&state_->xxh); }
Hasher::~Hasher() = default;

void Hasher::Add(const char* data, size_t size) { XXH3_128bits_update(&state_->xxh, data, size); }

ContentHash Hasher::Result() const {
  const XXH128_hash_t hash = XXH3_128bits_digest(&state_->xxh);
  return {hash.low64, hash.high64};
}

namespace {

faults::AlignedRead g_watch;

// FileStorageInfo and its structure, which this SDK level does not name.
constexpr auto kStorageInfo = FILE_INFO_BY_HANDLE_CLASS(16);
struct StorageInfo {
  ULONG logicalBytesPerSector, physicalForAtomicity, physicalForPerformance, effectiveForAtomicity, flags,
      sectorAlignment, partitionAlignment;
};

// The unit reads past the cache must keep to: the sector, asked of the
// file's handle (Windows 8 on), else of its volume, once per run.
DWORD SectorOf(HANDLE file, const std::wstring& path) {
  StorageInfo storage{};
  if (GetFileInformationByHandleEx(file, kStorageInfo, &storage, sizeof storage) && storage.logicalBytesPerSector)
    return std::max(storage.logicalBytesPerSector, storage.physicalForPerformance);
  return TraitsOf(path.substr(0, path.rfind(L'\\') + 1)).sector;
}

}  // namespace

std::optional<ContentHash> HashFromDevice(const std::wstring& path, const StopSignal* stop,
                                          const std::function<void(int64_t)>& checked) {
  FileHandle file(CreateFileW(SystemPath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.valid()) return std::nullopt;
  const DWORD sector = SectorOf(file.get(), path);
  // A block of whole sectors, in memory aligned to a page (VirtualAlloc
  // aligns to 64 KiB), so every read keeps to the sector.
  const DWORD block = std::max<DWORD>(1u << 20, sector);
  std::unique_ptr<void, void (*)(void*)> buffer(VirtualAlloc(nullptr, block, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE),
                                                [](void* at) { VirtualFree(at, 0, MEM_RELEASE); });
  if (!buffer) return std::nullopt;
  Hasher hasher;
  for (uint64_t offset = 0;;) {
    if (stop && stop->Requested()) {
      SetLastError(ERROR_OPERATION_ABORTED);
      return std::nullopt;
    }
    if (g_watch) g_watch(offset, block, buffer.get(), sector);
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer.get(), block, &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) return hasher.Result();
      SetLastError(LastErrorOr(ERROR_READ_FAULT));
      return std::nullopt;
    }
    if (got == 0) return hasher.Result();
    hasher.Add(static_cast<const char*>(buffer.get()), got);
    if (checked) checked(got);
    offset += got;
    // Only the end of the file comes short; a short read elsewhere would
    // put the next one off its sector.
    if (got < block) return hasher.Result();
  }
}

namespace faults {
void WatchReadsFromDevice(AlignedRead watch) { g_watch = std::move(watch); }
}  // namespace faults

}  // namespace fs
