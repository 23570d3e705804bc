// A file's bytes told by one 128-bit hash (XXH3-128), and a copy read back
// from its device to compare with it: a stick that lies about its size or
// corrupts what it stores is caught before anyone trusts the copy.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/StopSignal.h"

namespace fs {

struct ContentHash {
  uint64_t low = 0, high = 0;
  bool operator==(const ContentHash& o) const { return low == o.low && high == o.high; }
  bool operator!=(const ContentHash& o) const { return !(*this == o); }
};

// Hashes bytes as they pass, chunk by chunk.
class Hasher {
 public:
  Hasher();
  ~Hasher();
  Hasher(const Hasher&) = delete;
  Hasher& operator=(const Hasher&) = delete;
  void Add(const char* data, size_t size);
  ContentHash Result() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Reads the file at path back from its device, past the system's cache
// (FILE_FLAG_NO_BUFFERING: offsets, lengths and the buffer aligned to the
// volume's sector, as Windows documents), and hashes it. checked hears of the
// bytes as they are read. Empty, with the code in GetLastError(), when it
// cannot be read whole, or on a stop (ERROR_OPERATION_ABORTED).
std::optional<ContentHash> HashFromDevice(const std::wstring& path, const StopSignal* stop,
                                          const std::function<void(int64_t)>& checked = nullptr);

namespace faults {
// Hears each read HashFromDevice makes, with the sector it keeps to (Wine
// ignores the flag, so a test asserts the alignment here).
using AlignedRead = std::function<void(uint64_t offset, DWORD length, const void* buffer, DWORD sector)>;
void WatchReadsFromDevice(AlignedRead watch);
}  // namespace faults

}  // namespace fs
