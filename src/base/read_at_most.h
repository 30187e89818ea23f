#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>

namespace lumivane::base {

// Reads a whole source through `read_some(buffer, wanted)`, which gives the
// count of bytes read, 0 at the end, or a negative count when the read
// failed. The size the source claims is only a hint (files under /proc give
// 0, a file may grow): reading goes on to the end, one byte beyond
// `max_bytes` at most. Nothing when a read failed or the source is larger.
template <typename ReadSome>
std::optional<std::string> ReadAtMost(std::size_t max_bytes, std::size_t size_hint,
                                      ReadSome read_some) {
  std::string bytes;
  bytes.reserve(std::min(size_hint, max_bytes));
  char buffer[65536];
  while (bytes.size() <= max_bytes) {
    const std::size_t wanted = std::min(sizeof buffer, max_bytes + 1 - bytes.size());
    const long long got = read_some(buffer, wanted);
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  if (bytes.size() > max_bytes) return std::nullopt;
  return bytes;
}

}  // namespace lumivane::base
