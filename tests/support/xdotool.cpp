#include "xdotool.h"

#include <algorithm>
#include <sstream>
#include <thread>

namespace lumivane::testing {
namespace {

// One xdotool call never takes long; a hung one (e.g. a focus that never
// comes) is cut off here.
constexpr Duration kCallLimit = 3s;
constexpr Duration kPoll = 20ms;

}  // namespace

std::optional<Completed> Xdotool::Run(std::vector<std::string> args) const {
  args.insert(args.begin(), "xdotool");
  ProcessOptions options;
  options.environment["DISPLAY"] = display_;
  return RunToEnd(args, options, kCallLimit);
}

std::vector<std::string> Xdotool::Visible(pid_t pid, const std::string& title) const {
  auto done =
      Run({"search", "--all", "--onlyvisible", "--pid", std::to_string(pid), "--name", title});
  std::vector<std::string> windows;
  if (!done) return windows;
  std::istringstream lines(done->out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) windows.push_back(line);
  }
  return windows;
}

std::optional<std::string> Xdotool::WaitForWindow(pid_t pid, const std::string& title,
                                                  Duration timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto windows = Visible(pid, title);
    if (!windows.empty()) return windows.front();
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(kPoll);
  }
}

bool Xdotool::WaitUntilGone(pid_t pid, const std::string& title, const std::string& window,
                            Duration timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto windows = Visible(pid, title);
    if (std::find(windows.begin(), windows.end(), window) == windows.end()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPoll);
  }
}

bool Xdotool::Key(const std::string& window, const std::string& key) const {
  auto done = Run({"windowfocus", "--sync", window, "key", "--clearmodifiers", key});
  return done && done->exit_code == 0;
}

bool Xdotool::Click(const std::string& window, int x, int y) const {
  // No --sync: it waits for a motion that never comes when the pointer is
  // already there; the server handles the move before the click anyway.
  auto done =
      Run({"mousemove", "--window", window, std::to_string(x), std::to_string(y), "click", "1"});
  return done && done->exit_code == 0;
}

}  // namespace lumivane::testing
