#include "platform/journal_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace lumivane::platform {

JournalFile::~JournalFile() { Close(); }

bool JournalFile::Open(const std::string& path) {
  Close();
  // Without O_NONBLOCK, a named pipe nobody reads would hold the module here
  // for ever.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

bool JournalFile::IsOpen() const { return handle_ >= 0; }

void JournalFile::Close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

std::optional<std::uint64_t> JournalFile::Size() const {
  struct stat info {};
  if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

bool JournalFile::Append(std::string_view line) {
  if (handle_ < 0) return false;
  const ssize_t written = ::write(static_cast<int>(handle_), line.data(), line.size());
  return written == static_cast<ssize_t>(line.size());
}

JournalFile::Lock JournalFile::TryLock() {
  if (handle_ < 0) return Lock::kRefused;
  if (::flock(static_cast<int>(handle_), LOCK_EX | LOCK_NB) == 0) return Lock::kTaken;
  return errno == EWOULDBLOCK || errno == EINTR ? Lock::kBusy : Lock::kRefused;
}

void JournalFile::Unlock() {
  if (handle_ >= 0) ::flock(static_cast<int>(handle_), LOCK_UN);
}

bool JournalFile::IsAt(const std::string& path) const {
  struct stat held {
  }, named{};
  return handle_ >= 0 && ::fstat(static_cast<int>(handle_), &held) == 0 &&
         ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

std::string StateFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/lumivane";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/lumivane";
  return {};
}

std::optional<std::string> EnvironmentVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace lumivane::platform
