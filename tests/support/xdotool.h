#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "process.h"

namespace lumivane::testing {

// Drives the windows of one process on an X display with xdotool, as a
// person would: no window manager is needed. Windows are X window ids in
// decimal, as xdotool prints them; titles are extended regular expressions
// (xdotool ignores letter case).
class Xdotool {
 public:
  explicit Xdotool(std::string display) : display_(std::move(display)) {}

  // The mapped windows of `pid` whose title matches.
  std::vector<std::string> Visible(pid_t pid, const std::string& title) const;
  std::optional<std::string> WaitForWindow(pid_t pid, const std::string& title,
                                           Duration timeout) const;
  bool WaitUntilGone(pid_t pid, const std::string& title, const std::string& window,
                     Duration timeout) const;
  // Gives `window` the keyboard focus and types `key` (an X key name).
  bool Key(const std::string& window, const std::string& key) const;
  // A left click at x, y within the window's client area.
  bool Click(const std::string& window, int x, int y) const;

 private:
  std::optional<Completed> Run(std::vector<std::string> args) const;
  std::string display_;
};

}  // namespace lumivane::testing
