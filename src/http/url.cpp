#include "http/url.h"

#include "text/compare.h"
#include "text/display.h"

namespace lumivane::http {

std::string UrlForDisplay(const std::string& url) {
  if (const auto parts = platform::ParseHttpUrl(url)) {
    return parts->scheme + "://" + parts->host + (parts->port.empty() ? "" : ":" + parts->port) +
           (parts->path.empty() ? "/" : parts->path);
  }
  // Not an http URL the system understands: cut the query, the fragment and
  // any user name and password all the same.
  return text::WithoutQueryAndCredentials(url);
}

std::string ShownUrl(const std::string& url) { return text::ValueForMessage(UrlForDisplay(url)); }

std::string ServerOf(const std::string& url) {
  if (const auto parts = platform::ParseHttpUrl(url)) {
    return parts->host + (parts->port.empty() ? "" : ":" + parts->port);
  }
  return UrlForDisplay(url);
}

int PortNumber(const platform::UrlParts& url) {
  if (!url.port.empty()) return std::stoi(url.port);
  return url.scheme == "https" ? 443 : 80;
}

std::string ProxyResolutionUrl(const platform::UrlParts& url) {
  return url.scheme + "://" + url.host + ":" + std::to_string(PortNumber(url)) + "/";
}

std::string RequestTarget(const platform::UrlParts& url) {
  const std::string target = url.path + url.extra;
  if (target.empty() || target.front() != '/') return "/" + target;
  return target;
}

}  // namespace lumivane::http
