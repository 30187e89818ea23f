#pragma once

// An http or https URL taken apart by the system's own parser: libcurl's on
// Linux, WinHttpCrackUrl on Windows.

#include <optional>
#include <string>

namespace lumivane::platform {

// The system's HTTP client, as failure texts name it: "libcurl", "WinHTTP".
extern const char* const kHttpClientName;

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

// True for an http or https URL (letter case ignored) that names a host:
// the only addresses handed to the browser or requested.
inline bool IsHttpUrl(const std::string& url) { return ParseHttpUrl(url).has_value(); }

}  // namespace lumivane::platform
