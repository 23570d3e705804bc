#include "fs/Steps.h"

#include <cstring>
#include <vector>

#include "fs/FileSystem.h"
#include "fs/LateTimes.h"
#include "fs/OwnFiles.h"

namespace fs {
namespace {

// Windows 10's rename with flags; the headers name it only for newer targets.
constexpr auto kFileRenameInfoEx = FILE_INFO_BY_HANDLE_CLASS(22);

// The probe's time: a part of a second, which every volume must round.
constexpr uint64_t kProbeTime = 132000000000000000ull + 1234567;

bool HoldsProbeTime(uint64_t time) {
  return (time > kProbeTime ? time - kProbeTime : kProbeTime - time) < kCoarsestTimeUnit;
}

// A probe file of ours, made new with a few bytes in it; at is its path.
FileHandle NewProbeFile(const std::wstring& folder, std::wstring& at) {
  at = OwnFilePath(folder, OwnKind::Probe);
  FileHandle file(CreateFileW(at.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD put = 0;
  if (file.valid()) WriteFile(file.get(), "probe", 5, &put, nullptr);
  return file;
}

// A driver that stamps a file renamed while open as it closes it may keep a
// time set through the handle after the rename (fusefat): then a copy needs
// no opening by name to set its times.
bool TimesHoldSetAfterRename(const std::wstring& folder) {
  std::wstring at;
  FileHandle file = NewProbeFile(folder, at);
  if (!file.valid()) return false;
  const std::wstring renamed = OwnFilePath(folder, OwnKind::Probe);
  bool held = RenameOpenFile(file.get(), renamed, false, false);
  if (held) at = renamed;
  held = held && SetFileTimes(file.get(), kProbeTime, kProbeTime);
  file = FileHandle();
  if (held) {
    const auto seen = Look(at);
    held = seen && HoldsProbeTime(seen->writeTime);
  }
  RemoveClosed(at);
  return held;
}

}  // namespace

std::wstring Hex(uint64_t value) {
  wchar_t text[17];
  swprintf(text, 17, L"%llx", static_cast<unsigned long long>(value));
  return text;
}

bool RenameOpenFile(HANDLE file, const std::wstring& target, bool replace, bool posix) {
  if (const auto refused = faults::Injected(faults::Step::RenameOpenFile)) return Fail(*refused);
  const std::wstring name = L"\\??\\" + LongPath(target).substr(4);
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->RootDirectory = nullptr;
  info->FileNameLength = DWORD(name.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, name.data(), info->FileNameLength);
  if (posix) {
    info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    if (const auto refused = faults::Injected(faults::Step::PosixRename)) return Fail(*refused);
    return SetFileInformationByHandle(file, kFileRenameInfoEx, info, DWORD(buffer.size()));
  }
  info->Flags = 0;
  info->ReplaceIfExists = replace;
  return SetFileInformationByHandle(file, FileRenameInfo, info, DWORD(buffer.size()));
}

bool RefusesRename(DWORD error) {
  return IsNotSupported(error) || error == ERROR_LOCK_VIOLATION || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

bool MoveClosed(const std::wstring& from, const std::wstring& to) {
  const auto injected = faults::Injected(faults::Step::RenameByName);
  for (int attempt = 0;; ++attempt) {
    if (injected ? Fail(*injected) : MoveFileExW(from.c_str(), SystemPath(to).c_str(), 0)) return true;
    const DWORD error = GetLastError();
    if (attempt == 10 ||
        !(IsNotSupported(error) || error == ERROR_LOCK_VIOLATION || error == ERROR_SHARING_VIOLATION))
      return Fail(error);
    Sleep(5);
  }
}

bool WriteAllOf(HANDLE file, const char* data, DWORD size, const std::wstring& folder) {
  while (size) {
    DWORD put = 0;
    if (!WriteFile(file, data, size, &put, nullptr)) return false;
    if (!put) {
      ULARGE_INTEGER free{};
      const bool full = !folder.empty() && GetDiskFreeSpaceExW(SystemPath(folder).c_str(), &free, nullptr, nullptr) &&
                        free.QuadPart < size;
      return Fail(full ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
    }
    data += put;
    size -= put;
  }
  return true;
}

bool CopyAll(HANDLE from, HANDLE to, const std::wstring& folder, uint64_t* copied) {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(from, start, nullptr, FILE_BEGIN) || !SetFilePointerEx(to, start, nullptr, FILE_BEGIN))
    return false;
  std::vector<char> buffer(64u << 10);
  for (DWORD got = 0;;) {
    if (!ReadFile(from, buffer.data(), DWORD(buffer.size()), &got, nullptr)) return false;
    if (!got) return true;
    if (!WriteAllOf(to, buffer.data(), got, folder)) return false;
    if (copied) *copied += got;
  }
}

bool SetAttributesOf(HANDLE file, DWORD attributes) {
  if (const auto refused = faults::Injected(faults::Step::SetAttributes)) return Fail(*refused);
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

// The probe: a file of ours made new, given the hidden bit and a time with a
// part of a second, renamed by its handle (and with POSIX semantics), else
// closed and renamed by name; then read back and removed. Only a "not
// supported" kind of refusal, or what a read-back shows, counts: the probe's
// own file is held by nobody else.
bool ProbeVolume(VolumeTraits& volume, const std::wstring& folder) {
  std::wstring at;
  FileHandle file = NewProbeFile(folder, at);
  if (!file.valid()) return false;
  // A refusal of another kind teaches nothing; a bit or time set is read back below.
  const bool hidden = SetAttributesOf(file.get(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  if (!hidden && IsNotSupported(GetLastError())) volume.keptAttributes = 0;
  const bool timed = SetFileTimes(file.get(), kProbeTime, kProbeTime);
  if (!timed && IsNotSupported(GetLastError())) volume.keepsTimes = false;
  const std::wstring renamed = OwnFilePath(folder, OwnKind::Probe);
  if (RenameOpenFile(file.get(), renamed, false, false)) {
    at = renamed;
    if (volume.posixRename) {
      const std::wstring back = OwnFilePath(folder, OwnKind::Probe);
      if (RenameOpenFile(file.get(), back, true, true))
        at = back;
      else
        volume.posixRename = false;
    }
  } else if (RefusesRename(GetLastError())) {
    volume.renamesOpenFiles = false;
    volume.posixRename = false;
  }
  file = FileHandle();
  if (!volume.renamesOpenFiles) {
    if (MoveClosed(at, renamed))
      at = renamed;
    else if (RefusesRename(GetLastError()))
      volume.renamesNothing = true;
  }
  if (const auto seen = Look(at)) {
    if (hidden) volume.keptAttributes &= seen->attributes | FILE_ATTRIBUTE_READONLY;
    if (timed && !HoldsProbeTime(seen->writeTime)) {
      // Some file systems write the time of the close: set again on the closed file.
      const auto again = SetTimesOfClosed(at, kProbeTime, kProbeTime) ? Look(at) : std::nullopt;
      if (again && HoldsProbeTime(again->writeTime))
        volume.timesAfterClose = true;
      else
        volume.keepsTimes = false;
    }
  }
  // A client that will not rename an open file writes it out as it lets go
  // of it, a moment after the close, and stamps it then (the share here):
  // its cache hides that from a read-back for a second.
  if (volume.renamesNothing) volume.timesAfterClose = true;
  if (volume.timesAfterClose && volume.renamesOpenFiles) volume.timesAfterRename = TimesHoldSetAfterRename(folder);
  // Read-only last, on the closed file, and taken off again for the removal.
  if (volume.keptAttributes && SetFileAttributesW(at.c_str(), FILE_ATTRIBUTE_READONLY)) {
    if (!(GetFileAttributesW(at.c_str()) & FILE_ATTRIBUTE_READONLY)) volume.keptAttributes &= ~FILE_ATTRIBUTE_READONLY;
    SetFileAttributesW(at.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  RemoveClosed(at);
  return true;
}

}  // namespace fs
