// Times set once more a moment after a copy is closed. A share's client
// (under Wine) lets go of a written file a moment after the close, and the
// server then stamps the file with the time of the client's close: a time
// set in that moment is lost, and the client's cache hides that from a
// read-back. So the times are set at once, for a copy the run may never
// come back to, and again once the moment has passed.
#pragma once
#include <cstdint>
#include <string>

namespace fs {

// Sets the last-write and last-access times of the closed file at path (an
// access time of 0 takes the write time).
bool SetTimesOfClosed(const std::wstring& path, uint64_t writeTime, uint64_t accessTime);
// The same, now and once more later: at a later call of this function, or
// as the run ends. volume is the path of the volume that holds it.
void SetTimesNowAndLater(const std::wstring& path, const std::wstring& volume, uint64_t writeTime, uint64_t accessTime);
// As a run ends, however it ends: waits out the moment for the last copies
// and sets their times again.
void SettleLateTimes();

}  // namespace fs
