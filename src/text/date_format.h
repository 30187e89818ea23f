#pragma once

#include <string>

namespace lumivane::text {

// The separator of a C library date format (nl_langinfo(D_FMT)): the first
// character that follows the first conversion ("%d/%m/%Y" -> "/"); %D gives
// "/", %F gives "-"; "/" when there is none.
std::string DateSeparatorFromFormat(const char* format);

}  // namespace lumivane::text
