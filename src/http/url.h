#pragma once

// URLs as the module shows, checks and sends them.

#include <optional>
#include <string>

#include "platform/url.h"

namespace lumivane::http {

// The URL without its query string, fragment, user name and password, for
// messages and the journal.
std::string UrlForDisplay(const std::string& url);

// UrlForDisplay, shortened as a message shows a value.
std::string ShownUrl(const std::string& url);

using platform::IsHttpUrl;

// What proxy resolution is told of a URL: "scheme://host:port/" and nothing
// more, so that an automatic configuration script never sees a path, a query
// or a password.
std::string ProxyResolutionUrl(const platform::UrlParts& url);

// "host" or "host:port" as the URL writes them, to name the server that
// sent something; the URL for display when it cannot be taken apart.
std::string ServerOf(const std::string& url);

// The port in use: the one written, else 80 or 443.
int PortNumber(const platform::UrlParts& url);

// The path and query, as sent in the request line ("/" when empty).
std::string RequestTarget(const platform::UrlParts& url);

}  // namespace lumivane::http
