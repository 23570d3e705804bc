#include "fs/LateTimes.h"

#include <windows.h>

#include <deque>
#include <mutex>

#include "common/Paths.h"
#include "common/Sync.h"
#include "fs/FileSystem.h"

namespace fs {
namespace {

// Long past the client's letting go, measured in ms, even on a loaded machine.
constexpr ULONGLONG kMoment = 1000;

struct Late {
  std::wstring path, volume;
  uint64_t writeTime, accessTime;
  ULONGLONG due;
};

Lock g_lateLock;
std::deque<Late> g_late;

// The next copy whose moment has passed (or any, when waiting is allowed).
bool TakeDue(bool wait, Late& late) {
  {
    std::lock_guard<Lock> hold(g_lateLock);
    if (g_late.empty() || (!wait && g_late.front().due > GetTickCount64())) return false;
    late = std::move(g_late.front());
    g_late.pop_front();
  }
  const ULONGLONG now = GetTickCount64();
  if (late.due > now) Sleep(DWORD(late.due - now));
  return true;
}

// A copy removed since is let be. A volume that cannot be reached (a share
// gone) is not asked again for its other copies: each asking could wait out
// the client's time-out.
void SetAgain(const Late& late) {
  if (SetTimesOfClosed(late.path, late.writeTime, late.accessTime) || IsNotFound(GetLastError())) return;
  std::lock_guard<Lock> hold(g_lateLock);
  std::erase_if(g_late, [&](const Late& other) { return SameTextIgnoreCase(other.volume, late.volume); });
}

}  // namespace

bool SetTimesOfClosed(const std::wstring& path, uint64_t writeTime, uint64_t accessTime) {
  const FileHandle file(CreateFileW(SystemPath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
  return file.valid() && SetFileTimes(file.get(), writeTime, accessTime);
}

void SetTimesNowAndLater(const std::wstring& path, const std::wstring& volume, uint64_t writeTime,
                         uint64_t accessTime) {
  SetTimesOfClosed(path, writeTime, accessTime);
  for (Late late; TakeDue(false, late);) SetAgain(late);
  std::lock_guard<Lock> hold(g_lateLock);
  // A name copied twice in the run ends with its later copy's times.
  std::erase_if(g_late, [&](const Late& other) { return SameTextIgnoreCase(other.path, path); });
  g_late.push_back({path, volume, writeTime, accessTime, GetTickCount64() + kMoment});
}

void SettleLateTimes() {
  for (Late late; TakeDue(true, late);) SetAgain(late);
}

}  // namespace fs
