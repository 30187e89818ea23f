#pragma once

// The support journal's text, the same on every system.

#include <string>
#include <string_view>

namespace lumivane::text {

// A short id that tells one run's lines from another's.
std::string NewRunId();

// "<time> <run id> <event>" and a line feed. The event is made one line of
// printable text: line breaks become blanks, other control characters are
// escaped as on standard error.
std::string JournalLine(const std::string& time, const std::string& run_id, std::string_view event);

// Where the journal goes when it is full: journal.log -> journal.1.log.
std::string RotatedJournalPath(const std::string& path);

// 2026-12-08T09:50:00.123+01:00, from the local time's parts and its offset
// from UTC in minutes.
std::string JournalTime(int year, int month, int day, int hour, int minute, int second,
                        int millisecond, int utc_offset_minutes);

}  // namespace lumivane::text
