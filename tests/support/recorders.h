#pragma once

#include <string>
#include <vector>

#include "platform/browser.h"
#include "platform/clock.h"
#include "report/messages.h"

namespace lumivane::testing {

// Keeps every message instead of showing it.
class RecorderMessages : public report::MessagePort {
 public:
  void ShowMessage(const std::string& text) override { shown.push_back(text); }
  std::vector<std::string> shown;
};

// Keeps every address instead of starting a browser; `starts` is its answer.
class RecorderBrowser : public platform::BrowserPort {
 public:
  bool Open(const std::string& url) override {
    opened.push_back(url);
    return starts;
  }
  std::vector<std::string> opened;
  bool starts = true;
};

// Always the same moment: `now`, which a test may change.
class FixedClock : public platform::Clock {
 public:
  platform::LocalDateTime Now() override { return now; }
  platform::LocalDateTime now{2020, 6, 9, 14, 30, 5};
};

}  // namespace lumivane::testing
