#include "copy/Destination.h"

#include <algorithm>
#include <mutex>

#include "common/Paths.h"

namespace copy {

bool IsPlaceGone(DWORD code) {
  switch (code) {
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_NETWORK_UNREACHABLE:
    case ERROR_HOST_UNREACHABLE:
    case ERROR_CONNECTION_ABORTED:
    case ERROR_SEM_TIMEOUT:
    case ERROR_NETWORK_BUSY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NOT_READY:
    case ERROR_IO_DEVICE:
      return true;
    default:
      return false;
  }
}

bool WaitUnlessStopped(DWORD ms, const std::function<bool()>& stopped) {
  for (DWORD waited = 0; waited < ms && !stopped(); waited += 100) Sleep(std::min<DWORD>(100, ms - waited));
  return !stopped();
}

bool MayPass(DWORD code) {
  // A share's client cut off mid-write may say EFAULT ("no access to memory
  // location") for the file in flight.
  return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_NOACCESS ||
         IsPlaceGone(code);
}

bool Destination::WaitOut(DWORD reason, unsigned returnsBefore, int times, DWORD waitMs, const std::function<bool()>& stopped,
                          const std::function<bool()>& again) {
  std::lock_guard<Lock> hold(outage_);
  if (Gone()) return false;
  // It came back while this file waited behind another: once more, at once.
  if (returns_.load() != returnsBefore) return again();
  for (int attempt = 0; attempt < times && !stopped(); ++attempt) {
    if (!WaitUnlessStopped(waitMs, stopped)) return false;
    if (again()) {
      ++returns_;
      Succeeded();
      return true;
    }
  }
  if (!stopped()) {
    goneReason_.store(reason);  // before the count: a file that sees it gone reads the reason
    goneInARow_.store(kGoneAfter);
  }
  return false;
}

void Destination::FailedWith(DWORD code) {
  if (!IsPlaceGone(code)) {
    Succeeded();
    return;
  }
  goneReason_.store(code);
  goneInARow_.fetch_add(1);
}

std::optional<DWORD> Destination::Gone() const {
  if (goneInARow_.load(std::memory_order_relaxed) < kGoneAfter) return std::nullopt;
  return goneReason_.load();
}

void Destination::PrepareOnce(const std::wstring& folder, const std::function<void()>& prepare) {
  const std::wstring key = CaseKey(folder);
  {
    std::unique_lock<Lock> hold(lock_);
    const auto [at, first] = folders_.try_emplace(key, false);
    if (!first) {
      prepared_.wait(hold, [&] { return folders_[key]; });
      return;
    }
  }
  // Done on every way out, or the files waiting for it would wait for good.
  struct Done {
    Destination& self;
    const std::wstring& key;
    ~Done() {
      std::lock_guard<Lock> hold(self.lock_);
      self.folders_[key] = true;
      self.prepared_.notify_all();
    }
  } done{*this, key};
  prepare();
}

}  // namespace copy
