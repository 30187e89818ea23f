#pragma once

#include <cstddef>
#include <string>

namespace lumivane::platform {

// What the path of the configuration file leads to.
struct ConfigurationFile {
  enum class State {
    kMissing,     // nothing there, or a folder
    kRead,        // a regular file, `bytes` holds all of it
    kUnreadable,  // not a regular file, larger than allowed, or a failed read
  };
  State state = State::kMissing;
  std::string bytes;
};

// Reads the regular file at `path` when it holds at most `max_bytes` bytes.
// Never blocks on a FIFO and never opens a device; never holds more than
// `max_bytes` + 1 bytes, whatever the file claims or turns out to be.
ConfigurationFile ReadConfigurationFile(const std::string& path, std::size_t max_bytes);

}  // namespace lumivane::platform
