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
  std::wstring path;
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

}  // namespace

bool SetTimesOfClosed(const std::wstring& path, uint64_t writeTime, uint64_t accessTime) {
  const FileHandle file(CreateFileW(SystemPath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
  FILE_BASIC_INFO basic{};
  basic.LastWriteTime.QuadPart = LONGLONG(writeTime);
  basic.LastAccessTime.QuadPart = LONGLONG(accessTime);
  return file.valid() && SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic);
}

void SetTimesNowAndLater(const std::wstring& path, uint64_t writeTime, uint64_t accessTime) {
  SetTimesOfClosed(path, writeTime, accessTime);
  for (Late late; TakeDue(false, late);) SetTimesOfClosed(late.path, late.writeTime, late.accessTime);
  std::lock_guard<Lock> hold(g_lateLock);
  g_late.push_back({path, writeTime, accessTime, GetTickCount64() + kMoment});
}

void SettleLateTimes() {
  // Taken in the order placed: a name copied twice in the run ends with its
  // later copy's times. A copy removed since, or a share gone, is let be.
  for (Late late; TakeDue(true, late);) SetTimesOfClosed(late.path, late.writeTime, late.accessTime);
}

}  // namespace fs
