#include "platform/standard_error.h"

#include <windows.h>

#include <algorithm>

namespace lumivane::platform {

StandardErrorWrite WriteToStandardError(std::string_view bytes) {
  // A GUI program started without one has none.
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) {
    return StandardErrorWrite::kNoStandardError;
  }
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 16));
    DWORD written = 0;
    if (!WriteFile(error, bytes.data(), chunk, &written, nullptr) || written == 0) {
      return StandardErrorWrite::kFailed;
    }
    bytes.remove_prefix(written);
  }
  return StandardErrorWrite::kWritten;
}

}  // namespace lumivane::platform
