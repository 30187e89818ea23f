#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct _XDisplay;

namespace lumivane::testing {

// The pixels of a window as the X server shows them, 0xRRGGBB each, row by
// row.
struct WindowPixels {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> rgb;

  // How many pixels differ from `other` (all of them when the sizes differ).
  std::size_t Differences(const WindowPixels& other) const;
  std::size_t DistinctColours() const;
};

// A connection to an X display to look at a window as a person would, and to
// pass another window over it: whatever a window does not paint again once
// uncovered keeps the other's ghost (the test displays keep no backing store).
class XScreen {
 public:
  explicit XScreen(const std::string& display);  // throws std::runtime_error
  ~XScreen();
  XScreen(const XScreen&) = delete;
  XScreen& operator=(const XScreen&) = delete;

  // `window`: an X window id in decimal, as xdotool prints it.
  std::optional<WindowPixels> Capture(const std::string& window);
  // An opaque window of one colour laid exactly over `window` for `how_long`,
  // then taken away.
  void Cover(const std::string& window, std::uint32_t rgb, std::chrono::milliseconds how_long);

 private:
  _XDisplay* display_;
};

}  // namespace lumivane::testing
