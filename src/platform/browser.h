#pragma once

#include <string>

namespace lumivane::platform {

class BrowserPort {
 public:
  virtual ~BrowserPort() = default;
  // Starts the user's browser on `url`; false when it could not be started.
  virtual bool Open(const std::string& url) = 0;
};

// Runs `xdg-open URL`, found on PATH, detached from the module.
class XdgOpenBrowser : public BrowserPort {
 public:
  bool Open(const std::string& url) override;
};

}  // namespace lumivane::platform
