#include "platform/standard_error.h"

#include <windows.h>

#include "platform/windows/handle.h"

namespace lumivane::platform {

StandardErrorWrite WriteToStandardError(std::string_view bytes) {
  // A GUI program started without one has none.
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) {
    return StandardErrorWrite::kNoStandardError;
  }
  return windows::WriteAll(error, bytes, 1u << 16) == ERROR_SUCCESS ? StandardErrorWrite::kWritten
                                                                    : StandardErrorWrite::kFailed;
}

}  // namespace lumivane::platform
