#include "platform/system_error.h"

#include <windows.h>

#include "text/system_reason.h"

namespace lumivane::platform {
namespace {

// Missing from mingw-w64's winerror.h.
constexpr DWORD kDiskQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED

text::SystemReason ReasonOf(DWORD code) {
  using text::SystemReason;
  switch (code) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return SystemReason::kDiskFull;
    case kDiskQuotaExceeded:
      return SystemReason::kQuotaExceeded;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
      return SystemReason::kAccessDenied;
    case ERROR_WRITE_PROTECT:
    case ERROR_FILE_READ_ONLY:
      return SystemReason::kReadOnly;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      return SystemReason::kNameTooLong;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_DRIVE:
      return SystemReason::kNotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return SystemReason::kExists;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return SystemReason::kInUse;
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
      return SystemReason::kInvalidName;
    case ERROR_TOO_MANY_OPEN_FILES:
      return SystemReason::kTooManyOpenFiles;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return SystemReason::kOutOfMemory;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
      return SystemReason::kIoError;
    default:
      return SystemReason::kOther;
  }
}

}  // namespace

std::string SystemErrorText(int code) {
  return text::SystemReasonText(ReasonOf(static_cast<DWORD>(code)), code, {});
}

}  // namespace lumivane::platform
