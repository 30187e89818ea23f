#pragma once

// File handles and writes of the Windows implementation (internal to the
// platform layer).

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <utility>

namespace lumivane::platform::windows {

// Owns a file handle (INVALID_HANDLE_VALUE for none) and closes it when it
// goes.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() { (void)Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  // Takes `handle` on; the one held before must have been closed.
  void reset(HANDLE handle) { handle_ = handle; }
  // Closes now; false when the system reports a failure (a write it had
  // delayed can fail here).
  bool Close() {
    if (!valid()) return true;
    return CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != 0;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Writes all of `bytes`, at most `chunk` bytes a call. A short write (Wine's,
// as the disk fills) is followed by the rest, whose failure gives the
// system's true reason. ERROR_SUCCESS, or the system's code of the first
// failure (ERROR_WRITE_FAULT when a call writes nothing).
inline DWORD WriteAll(HANDLE file, std::string_view bytes, std::size_t chunk = 1u << 20) {
  while (!bytes.empty()) {
    const DWORD size = static_cast<DWORD>(std::min(bytes.size(), chunk));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), size, &written, nullptr)) return GetLastError();
    if (written == 0) return ERROR_WRITE_FAULT;
    bytes.remove_prefix(written);
  }
  return ERROR_SUCCESS;
}

}  // namespace lumivane::platform::windows
