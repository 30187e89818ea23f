#include "platform/clock.h"

#include <windows.h>

#include "platform/windows/wide.h"

namespace lumivane::platform {

LocalTimeStamp LocalTimeNow() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  DYNAMIC_TIME_ZONE_INFORMATION zone{};
  const DWORD which = GetDynamicTimeZoneInformation(&zone);
  long bias = zone.Bias;  // minutes to add to the local time to get UTC
  if (which == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  if (which == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  LocalTimeStamp stamp;
  stamp.time = {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
  stamp.millisecond = local.wMilliseconds;
  stamp.utc_offset_minutes = static_cast<int>(-bias);
  return stamp;
}

std::string SystemDateSeparator() {
  // LOCALE_SDATE is deprecated in favour of the short date pattern, but it is
  // still what the regional settings store as the date separator.
  wchar_t separator[8] = {};
  const int length = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDATE, separator,
                                     static_cast<int>(sizeof separator / sizeof separator[0]));
  if (length <= 1) return "/";
  return windows::Utf8(std::wstring_view(separator, static_cast<std::size_t>(length - 1)));
}

}  // namespace lumivane::platform
