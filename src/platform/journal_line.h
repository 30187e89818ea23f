#pragma once

// The parts of the support journal that are the same on every system
// (internal to the platform layer).

#include <string>
#include <string_view>

namespace lumivane::platform::journal {

// A short id that tells one run's lines from another's.
std::string NewRunId();

// "<time> <run id> <event>" and a line feed; line breaks inside the event
// become blanks, so that an event is always one line.
std::string Line(const std::string& time, const std::string& run_id, std::string_view event);

// Where the journal goes when it is full: journal.log -> journal.1.log.
std::string RotatedPath(const std::string& path);

}  // namespace lumivane::platform::journal
