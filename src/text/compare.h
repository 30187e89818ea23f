#pragma once

// Letter case ignored for ASCII letters only: schemes, header names, host
// names and XML declarations are compared this way, never by locale.

#include <string>
#include <string_view>

namespace lumivane::text {

constexpr char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

constexpr bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

constexpr bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// True when the text starts with "http://" or "https://", letter case ignored.
constexpr bool HasHttpScheme(std::string_view url) {
  return StartsWithIgnoringCase(url, "http://") || StartsWithIgnoringCase(url, "https://");
}

// The scheme before "://", in lower case; empty when the text has none or
// the scheme holds a character no scheme may hold.
inline std::string SchemeOf(std::string_view url) {
  const std::size_t end = url.find("://");
  if (end == std::string_view::npos || end == 0) return {};
  std::string scheme;
  for (std::size_t i = 0; i < end; ++i) {
    const char c = url[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool other = c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9');
    if (!letter && !(i > 0 && other)) return {};
    scheme += LowerAscii(c);
  }
  return scheme;
}

}  // namespace lumivane::text
