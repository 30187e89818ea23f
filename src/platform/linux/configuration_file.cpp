#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "base/read_at_most.h"
#include "platform/configuration_file.h"

namespace lumivane::platform {

namespace {

using State = ConfigurationFile::State;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  // A descriptor opened for reading only: its close has nothing to lose.
  ~Descriptor() { ::close(fd_); }
  int get() const { return fd_; }

 private:
  int fd_;
};

bool IsTooLarge(const struct stat& info, std::size_t max_bytes) {
  return static_cast<unsigned long long>(info.st_size) > max_bytes;
}

}  // namespace

ConfigurationFile ReadConfigurationFile(const std::string& path, std::size_t max_bytes) {
  if (path.empty()) return {State::kMissing, {}};

  // The type is checked on the path before anything is opened: opening a
  // FIFO waits for a writer, and opening a device may act on it.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    const bool missing = errno == ENOENT || errno == ENOTDIR;
    return {missing ? State::kMissing : State::kUnreadable, {}};
  }
  if (S_ISDIR(info.st_mode)) return {State::kMissing, {}};
  if (!S_ISREG(info.st_mode) || IsTooLarge(info, max_bytes)) return {State::kUnreadable, {}};

  // Should the path have changed in between, O_NONBLOCK keeps the open from
  // waiting and the second check refuses what is now there.
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.get() < 0) return {State::kUnreadable, {}};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || IsTooLarge(info, max_bytes)) {
    return {State::kUnreadable, {}};
  }

  auto bytes = base::ReadAtMost(max_bytes, static_cast<std::size_t>(info.st_size),
                                [&](char* buffer, std::size_t wanted) -> long long {
                                  ssize_t got;
                                  do {
                                    got = ::read(file.get(), buffer, wanted);
                                  } while (got < 0 && errno == EINTR);
                                  return got;
                                });
  if (!bytes) return {State::kUnreadable, {}};
  return {State::kRead, std::move(*bytes)};
}

}  // namespace lumivane::platform
