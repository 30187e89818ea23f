#include "platform/messages.h"

#include <cstdio>
#include <string_view>

namespace lumivane::platform {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (c != static_cast<unsigned char>(prefix[i])) return false;
  }
  return true;
}

// A URL in a message ends at a blank, a control character or a character
// that never stands in one unescaped and commonly delimits it in text.
bool EndsUrl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u <= 0x20 || u == 0x7F || c == '"' || c == '<' || c == '>';
}

// Passwords and tokens travel in query strings: every http or https URL loses
// its query (and fragment) in the standard error copy.
std::string WithoutQueryStrings(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto rest = text.substr(i);
    const bool url = StartsWithNoCase(rest, "http://") || StartsWithNoCase(rest, "https://");
    if (!url) {
      out += text[i++];
      continue;
    }
    std::size_t end = 0;
    while (end < rest.size() && !EndsUrl(rest[end])) ++end;
    const auto link = rest.substr(0, end);
    const auto query = link.find_first_of("?#");
    if (query == std::string_view::npos) {
      out += link;
    } else {
      out += link.substr(0, query);
      out += "?\u2026";
    }
    i += end;
  }
  return out;
}

}  // namespace

std::string StderrLine(const std::string& text) {
  std::string line = "Module_Lumivane: ";
  for (const char c : WithoutQueryStrings(text)) {
    if (c == '\n') {
      line += "\\n";
    } else {
      line += c;
    }
  }
  return line;
}

void WriteMessageToStderr(const std::string& text) {
  const auto line = StderrLine(text) + "\n";
  // A copy for whoever watches the process; the user reads the message box.
  // A closed or full standard error (hosts often start the module without
  // one) must not keep the message from being shown, so a failed write here
  // is left without consequence on purpose.
  if (std::fwrite(line.data(), 1, line.size(), stderr) == line.size()) {
    std::fflush(stderr);
  }
}

}  // namespace lumivane::platform
