#include "xvfb_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace lumivane::testing {
namespace {

// Xvfb writes the display number it took, then a line feed, on the descriptor
// given with -displayfd.
std::string ReadDisplayNumber(int fd, Duration timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string text;
  while (text.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<Duration>(deadline - std::chrono::steady_clock::now());
    if (left <= 0ms) break;
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buffer[32];
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  auto end = text.find('\n');
  return end == std::string::npos ? std::string() : text.substr(0, end);
}

}  // namespace

// A display number of this process's own range. Xvfb left to choose takes
// the lowest free one, the very number another test's Xvfb has just given
// up; that one, ending, may then remove the new server's socket, and the
// module finds no display. Each test process starts from its own place.
static int FirstDisplayNumber() { return 100 + static_cast<int>(::getpid() % 400) * 2; }

XvfbDisplay::XvfbDisplay() {
  std::string log;
  for (int attempt = 0; attempt < 8 && name_.empty(); ++attempt) {
    const std::string number = std::to_string(FirstDisplayNumber() + attempt);
    if (Start(":" + number) == number) name_ = ":" + number;
    if (name_.empty()) log += server_.Stderr();
  }
  if (name_.empty()) throw std::runtime_error("Xvfb did not start: " + log);
}

// Xvfb on `display`: the number it took once it is ready, empty when it did
// not start (the number is in use).
std::string XvfbDisplay::Start(const std::string& display) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  constexpr int kChildFd = 3;
  ProcessOptions options;
  options.descriptors = {{fds[1], kChildFd}};
  try {
    // -noreset: by default the server resets each time its last client
    // leaves (an xdotool call, a module that ended), and a module connecting
    // during the reset is refused ("could not connect to display").
    server_ = Process::Start({"Xvfb", display, "-displayfd", std::to_string(kChildFd), "-screen",
                              "0", "1024x768x24", "-nolisten", "tcp", "-noreset"},
                             options);
  } catch (...) {
    ::close(fds[0]);
    ::close(fds[1]);
    throw;
  }
  ::close(fds[1]);
  std::string number = ReadDisplayNumber(fds[0], kWait);
  ::close(fds[0]);
  if (number.empty()) server_.Stop(SIGTERM, 2s);
  return number;
}

XvfbDisplay::~XvfbDisplay() {
  // SIGTERM lets Xvfb remove its lock file and socket.
  server_.Stop(SIGTERM, 2s);
}

std::string XvfbDisplay::State() const {
  const auto exit_code = server_.WaitForExit(0ms);
  std::string state = "Xvfb " + name_ + ": ";
  state += exit_code ? "ended with code " + std::to_string(*exit_code) : std::string("running");
  return state + "\n" + server_.Stderr();
}

const XvfbDisplay& SharedDisplay() {
  static XvfbDisplay display;
  return display;
}

}  // namespace lumivane::testing
