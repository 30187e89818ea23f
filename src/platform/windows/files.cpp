#include "platform/files.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/system_error.h"
#include "platform/windows/wide.h"

namespace lumivane::platform {
namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  // Closes now; false when the system reports a failure (a write it had
  // delayed can fail here).
  bool Close() {
    if (!valid()) return true;
    return CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != 0;
  }

 private:
  HANDLE handle_;
};

[[noreturn]] void ThrowWriteError(const std::string& path, DWORD code) {
  throw FileError("Impossible d'écrire le fichier " + path + " : " +
                  SystemErrorText(static_cast<int>(code)));
}

[[noreturn]] void ThrowReadError(const std::string& path, DWORD code) {
  throw FileError("Impossible de lire le fichier " + path + " : " +
                  SystemErrorText(static_cast<int>(code)));
}

// Another program (the indexer, an antivirus, a backup tool) often opens a
// file for a moment right after it was written: the rename is tried again
// for about a second before it counts as failed.
bool MoveOverTarget(const std::wstring& from, const std::wstring& to, DWORD& error) {
  // A read-only target: Windows refuses the replacement with
  // ERROR_ACCESS_DENIED (and the retries end in that error); Wine replaces
  // it, so a pass under Wine does not show that case.
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    error = GetLastError();
    const bool transient = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                           error == ERROR_ACCESS_DENIED;
    if (!transient || attempt >= 20) return false;
    Sleep(50);
  }
}

}  // namespace

void ReplaceFileContents(const std::string& path, const std::string& bytes) {
  const std::wstring target = windows::WindowsPath(path);
  const std::size_t separator = target.find_last_of(L"\\/");
  const std::wstring folder = separator == std::wstring::npos ? L"." : target.substr(0, separator);

  // A new temporary file beside the target, so that the rename stays on one
  // volume; CREATE_NEW never takes over somebody else's file.
  std::wstring temporary;
  HANDLE created = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; created == INVALID_HANDLE_VALUE; ++attempt) {
    wchar_t name[64];
    std::swprintf(name, 64, L"\\~lumivane-%08lx-%08lx-%u.tmp", GetCurrentProcessId(),
                  static_cast<unsigned long>(GetTickCount64() & 0xFFFFFFFFu), attempt);
    temporary = folder + name;
    created = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_EXISTS || attempt >= 100) ThrowWriteError(path, error);
    }
  }
  Handle file(created);

  DWORD error = ERROR_SUCCESS;
  std::size_t done = 0;
  while (error == ERROR_SUCCESS && done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr)) {
      error = GetLastError();
    } else if (written == 0) {
      error = ERROR_WRITE_FAULT;
    }
    done += written;
  }
  // The data must be on disk before the rename makes it the target's content.
  if (error == ERROR_SUCCESS && !FlushFileBuffers(file.get())) error = GetLastError();
  if (error == ERROR_SUCCESS && !file.Close()) error = GetLastError();
  if (error == ERROR_SUCCESS && MoveOverTarget(temporary, target, error)) return;

  file.Close();
  // The temporary file goes; the target was never touched.
  DeleteFileW(temporary.c_str());
  ThrowWriteError(path, error);
}

std::string ReadFileBytes(const std::string& path) {
  // Others may go on reading, writing or renaming the file meanwhile.
  Handle file(CreateFileW(windows::WindowsPath(path).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) ThrowReadError(path, GetLastError());
  LARGE_INTEGER size{};
  std::string bytes;
  if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) {
    bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  }
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) ThrowReadError(path, GetLastError());
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  return bytes;
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(windows::WindowsPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace lumivane::platform
