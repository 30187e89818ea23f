#include "platform/standard_error.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/write_all.h"

namespace lumivane::platform {

StandardErrorWrite WriteToStandardError(std::string_view bytes) {
  if (::fcntl(STDERR_FILENO, F_GETFD) == -1) return StandardErrorWrite::kNoStandardError;
  return posix::WriteAll(STDERR_FILENO, bytes) == 0 ? StandardErrorWrite::kWritten
                                                    : StandardErrorWrite::kFailed;
}

}  // namespace lumivane::platform
