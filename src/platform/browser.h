#pragma once

#include <string>

namespace lumivane::platform {

class BrowserPort {
 public:
  virtual ~BrowserPort() = default;
  // Starts the user's browser on `url`; false when it could not be started
  // or the system's opener reported a failure. May wait a few seconds for
  // the opener: called beside the window, never on its thread.
  virtual bool Open(const std::string& url) = 0;
  // What the system's opener wrote during the last Open (its own words,
  // never shown on the module's standard error); empty when nothing.
  virtual std::string TakeOutput() { return {}; }
};

#ifdef _WIN32
// The shell's "open" verb (ShellExecuteW) on an http or https URL: the
// user's default browser.
class ShellBrowser : public BrowserPort {
 public:
  bool Open(const std::string& url) override;
};
#else
// Runs `xdg-open URL`, found on PATH, its output kept apart from the
// module's, and waits a few seconds for its exit code: xdg-open ends once the
// browser has the address (or has failed to), unless it runs a browser
// itself, which is then left running.
class XdgOpenBrowser : public BrowserPort {
 public:
  bool Open(const std::string& url) override;
  std::string TakeOutput() override;

 private:
  std::string output_;
};
#endif

}  // namespace lumivane::platform
