#include "platform/messages.h"

#include <cstdio>
#include <vector>

#include "platform/encoding.h"
#include "platform/journal.h"
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

std::string PourMessage(std::string_view value) {
  // Character boundaries of UTF-8 text; bytes that are not UTF-8 count one each.
  std::vector<std::size_t> starts;
  std::size_t pos = 0;
  while (pos < value.size() && starts.size() < kMaxValueInMessage) {
    starts.push_back(pos);
    NextCharacter(value, pos);
  }
  if (pos >= value.size()) return std::string(value);
  // Count the characters from the end, as many as keep the total at the limit.
  constexpr std::size_t kHead = kMaxValueInMessage / 2;
  constexpr std::size_t kTail = kMaxValueInMessage - kHead - 1;
  std::size_t tail_start = value.size();
  for (std::size_t kept = 0; kept < kTail && tail_start > starts[kHead]; ++kept) {
    --tail_start;
    while (tail_start > starts[kHead] &&
           (static_cast<unsigned char>(value[tail_start]) & 0xC0) == 0x80) {
      --tail_start;
    }
  }
  return std::string(value.substr(0, starts[kHead])) + "\u2026" +
         std::string(value.substr(tail_start));
}

std::string StderrLine(const std::string& text) {
  std::string line = "Module_Lumivane: ";
  const std::string clean = WithoutQueryStrings(text);
  std::size_t pos = 0;
  while (pos < clean.size()) {
    const std::size_t start = pos;
    const char32_t c = NextCharacter(clean, pos);
    char escaped[16];
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else if (c == '\t') {
      line += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(c));
      line += escaped;
    } else if (c >= 0x80 && c <= 0x9F) {
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
      line += escaped;
    } else {
      line.append(clean, start, pos - start);
    }
  }
  return line;
}

void WriteMessageToStderr(const std::string& text) {
  journal::NoteMessage(text);
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
