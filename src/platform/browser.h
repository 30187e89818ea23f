#pragma once

#include <string>

namespace lumivane::platform {

class BrowserPort {
 public:
  virtual ~BrowserPort() = default;
  // Starts the user's browser on `url`; false when it could not be started.
  virtual bool Open(const std::string& url) = 0;
};

#ifdef _WIN32
// The shell's "open" verb (ShellExecuteW) on an http or https URL: the
// user's default browser.
class ShellBrowser : public BrowserPort {
 public:
  bool Open(const std::string& url) override;
};
#else
// Runs `xdg-open URL`, found on PATH, detached from the module.
class XdgOpenBrowser : public BrowserPort {
 public:
  bool Open(const std::string& url) override;
};
#endif

}  // namespace lumivane::platform
