#include "platform/clock.h"

#include <langinfo.h>
#include <locale.h>

#include <sys/time.h>

#include <ctime>

#include "text/date_format.h"

namespace lumivane::platform {

LocalTimeStamp LocalTimeNow() {
  timeval now{};
  gettimeofday(&now, nullptr);
  const std::time_t seconds = now.tv_sec;
  std::tm local{};
  localtime_r(&seconds, &local);
  LocalTimeStamp stamp;
  stamp.time = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                local.tm_hour,        local.tm_min,     local.tm_sec};
  stamp.millisecond = static_cast<int>(now.tv_usec / 1000);
  stamp.utc_offset_minutes = static_cast<int>(local.tm_gmtoff / 60);
  return stamp;
}

std::string SystemDateSeparator() {
  // The user's locale from the environment, without touching the process's
  // global locale.
  locale_t user = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  if (user == static_cast<locale_t>(0)) {
    return text::DateSeparatorFromFormat(nl_langinfo(D_FMT));
  }
  const std::string separator = text::DateSeparatorFromFormat(nl_langinfo_l(D_FMT, user));
  freelocale(user);
  return separator;
}

}  // namespace lumivane::platform
