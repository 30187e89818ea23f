#pragma once

// Locks between modules sharing a file (internal to the platform layer): on
// one byte far past any end of file. Windows' locks are mandatory on their
// range; this one keeps every real byte free for others' reads and writes.

#include <windows.h>

namespace lumivane::platform::windows {

inline OVERLAPPED FarByte() {
  OVERLAPPED at{};
  at.OffsetHigh = 0x7FFFFFFF;
  return at;
}

// LOCKFILE_EXCLUSIVE_LOCK and LOCKFILE_FAIL_IMMEDIATELY as `flags` wants.
inline bool LockFarByte(HANDLE file, DWORD flags) {
  OVERLAPPED at = FarByte();
  return LockFileEx(file, flags, 0, 1, 0, &at) != 0;
}

inline void UnlockFarByte(HANDLE file) {
  OVERLAPPED at = FarByte();
  UnlockFileEx(file, 0, 1, 0, &at);
}

}  // namespace lumivane::platform::windows
