#pragma once

// http and https URLs taken apart by WinHTTP (internal to the platform layer).

#include <optional>
#include <string>

namespace lumivane::platform::windows {

struct UrlParts {
  std::string scheme;  // "http" or "https", lower case
  std::string user, password, host;
  std::string port;        // as written, empty when the URL names none
  int port_number = 0;     // the port in use (80 or 443 when none is written)
  std::string path;        // may be empty
  std::string extra;       // query and fragment, with their "?" or "#"
  // The path and query, as sent in the request line ("/" when empty).
  std::string Target() const;
};

// The parts of an http or https URL; nothing for any other scheme or a URL
// WinHttpCrackUrl refuses (no host, a port beyond 65535, ...).
std::optional<UrlParts> CrackHttpUrl(const std::string& url);

// The scheme before "://", in lower case; empty when the text has none.
std::string SchemeOf(const std::string& url);

}  // namespace lumivane::platform::windows
