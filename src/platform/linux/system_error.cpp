#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

#include "text/system_reason.h"

namespace lumivane::platform {
namespace {

text::SystemReason ReasonOf(int code) {
  using text::SystemReason;
  switch (code) {
    case ENOSPC:
      return SystemReason::kDiskFull;
    case EDQUOT:
      return SystemReason::kQuotaExceeded;
    case EACCES:
    case EPERM:
      return SystemReason::kAccessDenied;
    case EROFS:
      return SystemReason::kReadOnly;
    case ENAMETOOLONG:
      return SystemReason::kNameTooLong;
    case ENOENT:
      return SystemReason::kNotFound;
    case EEXIST:
      return SystemReason::kExists;
    case EISDIR:
      return SystemReason::kIsFolder;
    case ENOTDIR:
      return SystemReason::kNotAFolder;
    case EIO:
      return SystemReason::kIoError;
    case EBUSY:
    case ETXTBSY:
      return SystemReason::kInUse;
    case EMFILE:
    case ENFILE:
      return SystemReason::kTooManyOpenFiles;
    case EFBIG:
      return SystemReason::kFileTooLarge;
    case ENOMEM:
      return SystemReason::kOutOfMemory;
    default:
      return SystemReason::kOther;
  }
}

}  // namespace

std::string SystemErrorText(int code) {
  // A rarer reason keeps the system's own words.
  return text::SystemReasonText(ReasonOf(code), code, std::strerror(code));
}

}  // namespace lumivane::platform
