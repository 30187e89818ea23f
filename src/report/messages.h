#pragma once

#include <string>

#include "text/user_texts.h"

namespace lumivane::report {

// Where the module's messages to the user go. The real one is a modal message
// box with one OK button; tests use a recorder.
class MessagePort {
 public:
  virtual ~MessagePort() = default;
  virtual void ShowMessage(const std::string& text) = 0;
};

// Shown when what failed carries no words of its own (anything thrown that
// is not a std::exception): a box is never empty. The table's
// kUnexpectedError, under the name the window's logic uses.
inline const std::string kErreurInattendue = text::UserMessage(text::UserText::kUnexpectedError);

// A message's copy for whoever watches the process: the journal's line and
// text::StderrLine on standard error, the module's secrets masked in both.
void CopyMessageToJournalAndStderr(const std::string& text);

}  // namespace lumivane::report
