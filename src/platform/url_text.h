#pragma once

#include <string>

namespace lumivane::platform {

// `url` without its query, its fragment and any user name and password, for
// an address the system's URL parser does not understand: what is shown of it
// must hide them all the same.
std::string WithoutQueryAndCredentials(const std::string& url);

}  // namespace lumivane::platform
