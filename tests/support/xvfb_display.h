#pragma once

#include <string>

#include "process.h"

namespace lumivane::testing {

// A virtual X server (Xvfb, 1024x768, 24 bits, no TCP) on a free display,
// stopped when the object goes. No window manager runs on it.
class XvfbDisplay {
 public:
  XvfbDisplay();  // throws std::runtime_error when Xvfb does not come up
  XvfbDisplay(XvfbDisplay&&) noexcept = default;
  XvfbDisplay& operator=(XvfbDisplay&&) noexcept = default;
  ~XvfbDisplay();

  // The value for DISPLAY, e.g. ":3".
  const std::string& Name() const { return name_; }
  // For a failed test's report: whether Xvfb still runs, and what it wrote.
  std::string State() const;

 private:
  std::string Start(const std::string& display);

  mutable Process server_;
  std::string name_;
};

// One display for the whole test program, started on first use.
const XvfbDisplay& SharedDisplay();

}  // namespace lumivane::testing
