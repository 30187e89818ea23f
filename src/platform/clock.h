#pragma once

#include <string>

namespace lumivane::platform {

struct LocalDateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalDateTime Now() = 0;
};

// The local time to the millisecond, with its offset from UTC (daylight
// saving time included), for the journal.
struct LocalTimeStamp {
  LocalDateTime time;
  int millisecond = 0;
  int utc_offset_minutes = 0;
};
LocalTimeStamp LocalTimeNow();

class SystemClock : public Clock {
 public:
  LocalDateTime Now() override { return LocalTimeNow().time; }
};

// The date separator of the user's locale. Linux: as the C library reports
// it in nl_langinfo(D_FMT): "/" under C, POSIX and fr_FR; "-" or "."
// elsewhere. Windows: the user's LOCALE_SDATE ("/" when it cannot be read).
std::string SystemDateSeparator();

}  // namespace lumivane::platform
