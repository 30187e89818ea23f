#include <windows.h>

#include <utility>

#include "base/read_at_most.h"
#include "platform/configuration_file.h"
#include "platform/windows/handle.h"
#include "platform/windows/wide.h"

namespace lumivane::platform {

namespace {

using State = ConfigurationFile::State;

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_NAME || error == ERROR_BAD_NETPATH || error == ERROR_BAD_NET_NAME ||
         error == ERROR_INVALID_DRIVE;
}

}  // namespace

ConfigurationFile ReadConfigurationFile(const std::string& path, std::size_t max_bytes) {
  if (path.empty()) return {State::kMissing, {}};
  const std::wstring name = platform::windows::WindowsPath(path);

  // The kind of file is checked on the path before anything is opened: a
  // device name or a pipe is never opened.
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &info)) {
    return {IsMissing(GetLastError()) ? State::kMissing : State::kUnreadable, {}};
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {State::kMissing, {}};
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) return {State::kUnreadable, {}};
  const unsigned long long size =
      (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > max_bytes) return {State::kUnreadable, {}};

  // Others may go on writing or renaming the file meanwhile; what is opened
  // is checked again to be a plain disk file.
  const windows::FileHandle file(CreateFileW(
      name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return {State::kUnreadable, {}};
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return {State::kUnreadable, {}};

  auto bytes = base::ReadAtMost(
      max_bytes, static_cast<std::size_t>(size),
      [&](char* buffer, std::size_t wanted) -> long long {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, static_cast<DWORD>(wanted), &got, nullptr)) {
          return -1;
        }
        return got;
      });
  if (!bytes) return {State::kUnreadable, {}};
  return {State::kRead, std::move(*bytes)};
}

}  // namespace lumivane::platform
