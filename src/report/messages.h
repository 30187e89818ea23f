#pragma once

#include <string>

namespace lumivane::report {

// Where the module's messages to the user go. The real one is a modal message
// box with one OK button; tests use a recorder.
class MessagePort {
 public:
  virtual ~MessagePort() = default;
  virtual void ShowMessage(const std::string& text) = 0;
};

// A message's copy for whoever watches the process: the journal's line and
// text::StderrLine on standard error, the module's secrets masked in both.
void CopyMessageToJournalAndStderr(const std::string& text);

}  // namespace lumivane::report
