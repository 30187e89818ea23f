#include "text/display.h"

#include <cstdio>
#include <vector>

#include "base/limits.h"
#include "text/compare.h"
#include "text/encoding.h"
#include "text/user_texts.h"

namespace lumivane::text {
namespace {

// A URL in a message ends at a blank, a control character or a character
// that never stands in one unescaped and commonly delimits it in text.
bool EndsUrl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u <= 0x20 || u == 0x7F || c == '"' || c == '<' || c == '>';
}

// The text rewritten character by character: `write` gets each character,
// its bytes as they are (bytes that are not UTF-8 come one by one), and the
// text so far.
template <typename Write>
std::string EachCharacter(std::string_view text, Write write) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = pos;
    const char32_t c = NextCharacter(text, pos);
    write(c, text.substr(start, pos - start), out);
  }
  return out;
}

}  // namespace

std::string ValueForMessage(std::string_view value) {
  using base::kMaxValueInMessage;
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

std::string ServerWords(std::string_view said) {
  std::string words = EachCharacter(said, [](char32_t c, std::string_view as_is, std::string& out) {
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else if (c == 0xFFFD && as_is != "\uFFFD") {
      out += "\uFFFD";  // a byte that is not UTF-8
    } else if (c >= 0x20 && !(c >= 0x7F && c <= 0x9F)) {
      out += as_is;
    }
  });
  if (!words.empty() && words.back() == ' ') words.pop_back();
  return ValueForMessage(words);
}

std::string WithoutQueryStrings(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto rest = text.substr(i);
    if (!HasHttpScheme(rest)) {
      out += text[i++];
      continue;
    }
    std::size_t end = 0;
    while (end < rest.size() && !EndsUrl(rest[end])) ++end;
    const auto link = rest.substr(0, end);
    out += WithoutQueryAndCredentials(std::string(link));
    if (link.find_first_of("?#") != std::string_view::npos) out += "?\u2026";
    i += end;
  }
  return out;
}

std::string EscapeControls(std::string_view text) {
  return EachCharacter(text, [](char32_t c, std::string_view as_is, std::string& out) {
    char escaped[16];
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(c));
      out += escaped;
    } else if (c >= 0x80 && c <= 0x9F) {
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += as_is;
    }
  });
}

std::string ForMessageBox(std::string_view text) {
  return EachCharacter(text, [](char32_t c, std::string_view as_is, std::string& out) {
    const bool control = (c < 0x20 && c != '\n' && c != '\t') || (c >= 0x7F && c <= 0x9F);
    if (!control) out += as_is;
  });
}

std::string StderrLine(std::string_view text) {
  return "Module_Lumivane: " + EscapeControls(WithoutQueryStrings(text));
}

std::string WithoutQueryAndCredentials(const std::string& url) {
  std::string shown = url.substr(0, url.find_first_of("?#"));
  const std::size_t authority = shown.find("://");
  if (authority != std::string::npos) {
    const std::size_t start = authority + 3;
    const std::size_t end = shown.find('/', start);
    const std::size_t at = shown.rfind('@', end == std::string::npos ? std::string::npos : end);
    if (at != std::string::npos && at >= start) shown.erase(start, at + 1 - start);
  }
  return shown;
}

std::string CannotWriteFile(std::string_view path, const std::string& reason) {
  return UserMessage(UserText::kCannotWriteFile, {ValueForMessage(path), reason});
}

std::string CannotReadFile(std::string_view path, const std::string& reason) {
  return UserMessage(UserText::kCannotReadFile, {ValueForMessage(path), reason});
}

std::string CannotWriteInFolder(std::string_view folder, const std::string& reason) {
  return UserMessage(UserText::kCannotWriteInFolder, {ValueForMessage(folder), reason});
}

}  // namespace lumivane::text
