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

class SystemClock : public Clock {
 public:
  LocalDateTime Now() override;
};

// The date separator of the user's locale. Linux: as the C library reports
// it in nl_langinfo(D_FMT): "/" under C, POSIX and fr_FR; "-" or "."
// elsewhere. Windows: the user's LOCALE_SDATE ("/" when it cannot be read).
std::string SystemDateSeparator();

#ifndef _WIN32

// The separator of a D_FMT format: the first character that follows the first
// conversion ("%d/%m/%Y" -> "/"); %D gives "/", %F gives "-"; "/" when there
// is none.
std::string DateSeparatorFromFormat(const char* format);
#endif

}  // namespace lumivane::platform
