#include "platform/journal_line.h"

#include <random>

#include "platform/journal.h"
#include "platform/messages.h"

namespace lumivane::platform::journal {

std::string NewRunId() {
  std::random_device random;
  const char* digits = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 6; ++i) id += digits[random() % 16];
  return id;
}

std::string Line(const std::string& time, const std::string& run_id, std::string_view event) {
  std::string line = time + " " + run_id + " ";
  for (const char c : event) line += (c == '\n' || c == '\r') ? ' ' : c;
  line += '\n';
  return line;
}

std::string RotatedPath(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t separator = path.find_last_of("\\/");
  const bool extension = dot != std::string::npos && (separator == std::string::npos || dot > separator);
  return extension ? path.substr(0, dot) + ".1" + path.substr(dot) : path + ".1";
}

void NoteMessage(std::string_view text) {
  constexpr std::string_view kPrefix = "Module_Lumivane: ";
  const std::string cleaned = StderrLine(std::string(text)).substr(kPrefix.size());
  Note("message : " + cleaned);
}

}  // namespace lumivane::platform::journal
