#include "platform/journal_file.h"

#include <windows.h>

#include <cstdlib>

#include "platform/windows/far_lock.h"
#include "platform/windows/handle.h"
#include "platform/windows/wide.h"

namespace lumivane::platform {
namespace {

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
const std::intptr_t kClosed = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);

}  // namespace

JournalFile::~JournalFile() { Close(); }

bool JournalFile::Open(const std::string& path) {
  Close();
  // Appends only; another module may append, read, rotate or remove the file
  // meanwhile. Reading rights too: Windows locks a range only for a handle
  // that may read or write it.
  const HANDLE file =
      CreateFileW(windows::WindowsPath(path).c_str(),
                  FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // A pipe or a device is left alone: only a file on a disk is a journal.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

bool JournalFile::IsOpen() const { return handle_ != -1 && handle_ != kClosed; }

void JournalFile::Close() {
  if (IsOpen()) CloseHandle(AsHandle(handle_));
  handle_ = -1;
}

std::optional<std::uint64_t> JournalFile::Size() const {
  LARGE_INTEGER size{};
  if (!IsOpen() || !GetFileSizeEx(AsHandle(handle_), &size)) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool JournalFile::Append(std::string_view line) {
  if (!IsOpen()) return false;
  return windows::WriteAll(AsHandle(handle_), line) == ERROR_SUCCESS;
}

namespace {

bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION first{}, second{};
  return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

}  // namespace

JournalFile::Lock JournalFile::TryLock() {
  if (!IsOpen()) return Lock::kRefused;
  if (windows::LockFarByte(AsHandle(handle_),
                           LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY)) {
    return Lock::kTaken;
  }
  const DWORD error = GetLastError();
  return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? Lock::kBusy : Lock::kRefused;
}

void JournalFile::Unlock() {
  if (!IsOpen()) return;
  windows::UnlockFarByte(AsHandle(handle_));
}

bool JournalFile::IsAt(const std::string& path) const {
  if (!IsOpen()) return false;
  const windows::FileHandle named(
      CreateFileW(windows::WindowsPath(path).c_str(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr));
  return named.valid() && SameFile(AsHandle(handle_), named.get());
}

bool RenameReplacing(const std::string& from, const std::string& to) {
  return MoveFileExW(windows::WindowsPath(from).c_str(), windows::WindowsPath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING) != 0;
}

std::string StateFolder() {
  const std::string folder = windows::LocalAppDataFolder();
  return folder.empty() ? std::string() : folder + "\\Lumivane";
}

std::optional<std::string> EnvironmentVariable(const char* name) {
  const wchar_t* value = _wgetenv(windows::Wide(name).c_str());
  if (value == nullptr) return std::nullopt;
  return windows::Utf8(value);
}

}  // namespace lumivane::platform
