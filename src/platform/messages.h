#pragma once

#include <string>

namespace lumivane::platform {

// Where the module's messages to the user go. The real one is a modal message
// box with one OK button; tests use a recorder.
class MessagePort {
 public:
  virtual ~MessagePort() = default;
  virtual void ShowMessage(const std::string& text) = 0;
};

// The line written to standard error for every message shown to the user:
// "Module_Lumivane: " + text, each line feed written as the two characters \n.
std::string StderrLine(const std::string& text);
void WriteMessageToStderr(const std::string& text);

}  // namespace lumivane::platform
