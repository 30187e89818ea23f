#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumivane::platform {

// Where the module's messages to the user go. The real one is a modal message
// box with one OK button; tests use a recorder.
class MessagePort {
 public:
  virtual ~MessagePort() = default;
  virtual void ShowMessage(const std::string& text) = 0;
};

// Longest value shown inside a message, in characters.
inline constexpr std::size_t kMaxValueInMessage = 300;

// A value (path, address, name, text from a service) as a message shows it:
// past kMaxValueInMessage characters, its middle gives way to "…", so that
// the message stays readable and its end (a file name) is still seen.
std::string PourMessage(std::string_view value);

// The line written to standard error for every message shown to the user:
// "Module_Lumivane: " + text, each line feed written as the two characters \n,
// every other control character escaped (\r, \t, \xNN, \u0085…) so that the
// line stays one line of printable text.
std::string StderrLine(const std::string& text);
void WriteMessageToStderr(const std::string& text);

}  // namespace lumivane::platform
