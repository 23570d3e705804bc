#include "copy/Destination.h"

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
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NOT_READY:
    case ERROR_IO_DEVICE:
      return true;
    default:
      return false;
  }
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

bool Destination::FirstVisit(const std::wstring& folder) {
  std::lock_guard<Lock> hold(lock_);
  return visited_.insert(CaseKey(folder)).second;
}

}  // namespace copy
