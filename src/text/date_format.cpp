#include "text/date_format.h"

#include <cctype>
#include <cstring>

namespace lumivane::text {
namespace {

// Length of the conversion that starts at `p` (p[0] == '%'): flags, width,
// the E or O modifier, then the conversion letter.
std::size_t ConversionLength(const char* p) {
  std::size_t n = 1;
  while (p[n] != '\0' && std::strchr("_-0^#", p[n]) != nullptr) ++n;
  while (std::isdigit(static_cast<unsigned char>(p[n]))) ++n;
  if (p[n] == 'E' || p[n] == 'O') ++n;
  if (p[n] != '\0') ++n;
  return n;
}

std::size_t Utf8SequenceLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

}  // namespace

std::string DateSeparatorFromFormat(const char* format) {
  if (format == nullptr) return "/";
  const char* p = format;
  bool after_conversion = false;
  while (*p != '\0') {
    if (*p == '%') {
      const std::size_t n = ConversionLength(p);
      const char conversion = p[n - 1];
      // %D is %m/%d/%y and %F is %Y-%m-%d.
      if (conversion == 'D') return "/";
      if (conversion == 'F') return "-";
      after_conversion = true;
      p += n;
      continue;
    }
    if (after_conversion) {
      const std::size_t len = Utf8SequenceLength(static_cast<unsigned char>(*p));
      return std::string(p, ::strnlen(p, len));
    }
    ++p;
  }
  return "/";
}

}  // namespace lumivane::text
