#pragma once

// An http or https URL taken apart by the system's own parser: libcurl's on
// Linux, WinHttpCrackUrl on Windows.

#include <optional>
#include <string>

namespace lumivane::platform {

struct UrlParts {
  std::string scheme;  // "http" or "https", lower case
  std::string user, password, host;
  std::string port;   // as written, empty when the URL names none
  std::string path;   // may be empty
  std::string extra;  // query and fragment, with their "?" or "#"
};

// The parts of an http or https URL; nothing for any other scheme or a URL
// the system's parser refuses (no host, a port beyond 65535, ...).
std::optional<UrlParts> ParseHttpUrl(const std::string& url);

}  // namespace lumivane::platform
