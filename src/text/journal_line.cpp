#include "text/journal_line.h"

#include <cstdio>
#include <cstdlib>
#include <random>

#include "text/display.h"

namespace lumivane::text {

std::string NewRunId() {
  std::random_device random;
  const char* digits = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 6; ++i) id += digits[random() % 16];
  return id;
}

std::string JournalLine(const std::string& time, const std::string& run_id,
                        std::string_view event) {
  std::string flat;
  flat.reserve(event.size());
  for (const char c : event) flat += (c == '\n' || c == '\r') ? ' ' : c;
  return time + " " + run_id + " " + EscapeControls(flat) + "\n";
}

std::string RotatedJournalPath(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t separator = path.find_last_of("\\/");
  const bool extension =
      dot != std::string::npos && (separator == std::string::npos || dot > separator);
  return extension ? path.substr(0, dot) + ".1" + path.substr(dot) : path + ".1";
}

std::string JournalTime(int year, int month, int day, int hour, int minute, int second,
                        int millisecond, int utc_offset_minutes) {
  const int magnitude = std::abs(utc_offset_minutes);
  char out[64];
  std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", year, month, day,
                hour, minute, second, millisecond, utc_offset_minutes < 0 ? '-' : '+',
                magnitude / 60, magnitude % 60);
  return out;
}

}  // namespace lumivane::text
