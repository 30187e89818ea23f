#include "platform/browser.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "base/limits.h"
#include "platform/url.h"

extern char** environ;

namespace lumivane::platform {
namespace {

// An unnamed file for the opener's output: not a pipe, so that a browser it
// runs itself and that outlives it never writes into a closed pipe.
int OutputFile() {
  const char* folder = std::getenv("TMPDIR");
  const std::string where = folder != nullptr && folder[0] == '/' ? folder : "/tmp";
  int fd = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::string path = where + "/lumivane-browser-XXXXXX";
    fd = ::mkstemp(path.data());
    if (fd >= 0) ::unlink(path.c_str());
  }
  return fd;
}

std::string ReadBack(int fd) {
  std::string text(base::kMaxChildOutputBytes, '\0');
  const ssize_t n = ::pread(fd, text.data(), text.size(), 0);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return text;
}

}  // namespace

bool XdgOpenBrowser::Open(const std::string& url) {
  output_.clear();
  // Only web addresses, as on Windows: xdg-open on anything else would open
  // a file or start a program (and take a text starting with "-" as one of
  // its options).
  if (!IsHttpUrl(url)) return false;
  const int output = OutputFile();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (output >= 0) {
    posix_spawn_file_actions_adddup2(&actions, output, 1);
    posix_spawn_file_actions_adddup2(&actions, output, 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  std::string argument = url;
  char program[] = "xdg-open";
  char* argv[] = {program, argument.data(), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    if (output >= 0) ::close(output);
    output_ = std::string("xdg-open : ") + std::strerror(spawned);
    return false;
  }
  // xdg-open answers once the desktop has the address; one that runs a
  // browser itself is still there when the wait ends and counts as started.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(base::kBrowserOpenerWaitSeconds);
  int status = 0;
  pid_t ended = 0;
  while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (output >= 0) {
    output_ = ReadBack(output);
    ::close(output);
  }
  if (ended == 0) {
    // Left running; reaped when it ends.
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    return true;
  }
  return ended == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string XdgOpenBrowser::TakeOutput() { return std::exchange(output_, {}); }

}  // namespace lumivane::platform
