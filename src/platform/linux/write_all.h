#pragma once

// Every byte written to a descriptor, through short writes and signals
// (internal to the Linux platform layer).

#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace lumivane::platform::posix {

// 0 when every byte is written, else the errno of the failed write.
inline int WriteAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace lumivane::platform::posix
