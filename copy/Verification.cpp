#include "copy/Verification.h"

#include "common/AppError.h"
#include "copy/ParallelCopier.h"
#include "fs/ContentHash.h"
#include "fs/FileSystem.h"
#include "fs/OwnFiles.h"

namespace copy {
namespace {

// A bad copy goes, read-only or not, so no later run keeps it for good.
bool RemoveBadCopy(const std::wstring& target) {
  SetFileAttributesW(fs::SystemPath(target).c_str(), FILE_ATTRIBUTE_NORMAL);
  return fs::RemoveClosed(fs::SystemPath(target));
}

void VerifyOne(const PlacedCopy& copy, const CopyObserver& observer) {
  if (observer.StopRequested()) return;
  const auto read = fs::HashFromDevice(copy.target, observer.stop, [&](int64_t bytes) { observer.BytesChecked(bytes); });
  if (observer.StopRequested()) return;  // unchecked, as it stands
  const DWORD error = read ? ERROR_SUCCESS : LastErrorOr(ERROR_READ_FAULT);
  if (read && *read == copy.hash) return observer.Verified();
  const bool removed = RemoveBadCopy(copy.target);
  observer.FailedCheck(copy.source, copy.target, error, removed);
}

}  // namespace

void VerifyPlaced(Destination& destination, const CopyObserver& observer, ParallelCopier* parallel) {
  const std::vector<PlacedCopy> placed = destination.TakePlaced();
  if (placed.empty()) return;
  if (observer.report) observer.report->VerifyStarted(observer.destination);
  for (const PlacedCopy& copy : placed) {
    if (!parallel) {
      VerifyOne(copy, observer);
    } else {
      parallel->Submit([&copy, &observer] { VerifyOne(copy, observer); });
    }
  }
  if (parallel)
    if (auto failure = parallel->Drain()) std::rethrow_exception(failure);
}

}  // namespace copy
