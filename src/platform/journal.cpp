#include "platform/journal.h"
#include "platform/journal_line.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <random>

#include "platform/files.h"
#include "platform/messages.h"

namespace lumivane::platform::journal {

namespace {

struct State {
  std::mutex mutex;
  std::string path;
  std::string run_id;
  int fd = -1;
  bool opened = false;
};

State& Journal() {
  static State state;
  return state;
}

// 2026-12-08T09:50:00.123+01:00
std::string LocalTime() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                          now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[64];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  char offset[16];
  std::strftime(offset, sizeof offset, "%z", &local);  // +0100
  const std::string zone(offset);
  char out[96];
  std::snprintf(out, sizeof out, "%.*s.%03lld%s:%s", static_cast<int>(n), text,
                static_cast<long long>(millis), zone.substr(0, 3).c_str(),
                zone.size() >= 5 ? zone.substr(3, 2).c_str() : "00");
  return out;
}

void Disable(State& state) {
  if (state.fd >= 0) ::close(state.fd);
  state.fd = -1;
  state.path.clear();
}

int OpenAppend(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

// Past the limit, the file becomes journal.1.log (replacing the one before).
void Rotate(State& state) {
  struct stat info {};
  if (::fstat(state.fd, &info) != 0 || static_cast<std::size_t>(info.st_size) < kMaxBytes) return;
  const std::string old = RotatedPath(state.path);
  ::rename(state.path.c_str(), old.c_str());
  ::close(state.fd);
  state.fd = OpenAppend(state.path);
}

}  // namespace

std::string DefaultPath() {
  if (const char* chosen = std::getenv("LUMIVANE_JOURNAL"); chosen != nullptr && *chosen != '\0') {
    return std::string(chosen) == "off" ? std::string() : std::string(chosen);
  }
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/lumivane/journal.log";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/lumivane/journal.log";
  return {};
}

void Open(const std::string& path) {
  State& state = Journal();
  const std::lock_guard lock(state.mutex);
  if (state.opened) return;
  state.opened = true;
  if (path.empty()) return;
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) (void)CreateFolder(path.substr(0, slash), true);
  state.fd = OpenAppend(path);
  if (state.fd < 0) return;  // off for this run, without a word to the user
  state.path = path;
  state.run_id = NewRunId();
}

void Note(std::string_view event) {
  State& state = Journal();
  const std::lock_guard lock(state.mutex);
  if (state.fd < 0) return;
  Rotate(state);
  if (state.fd < 0) return Disable(state);
  const std::string line = Line(LocalTime(), state.run_id, event);
  // One write: appended whole, never mixed with another module's lines.
  const ssize_t written = ::write(state.fd, line.data(), line.size());
  if (written != static_cast<ssize_t>(line.size())) Disable(state);
}

void Close() {
  State& state = Journal();
  const std::lock_guard lock(state.mutex);
  Disable(state);
  state.opened = false;
}

}  // namespace lumivane::platform::journal
