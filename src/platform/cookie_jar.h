#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumivane::platform {

// The cookies one HTTP client has received, sent back on its later requests.
// For a transport whose own cookies would be shared by clients that must keep
// theirs apart (WinHTTP keeps cookies per session, and the window's two
// clients share a session for its connections). What a client of a few web
// services needs of RFC 6265: host-only and domain cookies, paths, Secure,
// Max-Age and Expires; a cookie replaces the one of the same name, domain and
// path, and goes when it expires.
class CookieJar {
 public:
  // Where an answer came from, or where a request goes.
  struct Origin {
    std::string scheme;  // "http" or "https"
    std::string host;
    std::string path;  // the URL's path, without its query
  };

  // One Set-Cookie header of an answer from `origin`, received at `now`
  // (seconds since 1970-01-01 UTC). A cookie for another site is ignored.
  void Receive(const Origin& origin, const std::string& set_cookie, std::int64_t now);
  // The Cookie header's value for a request to `origin`; empty when none goes.
  std::string HeaderFor(const Origin& origin, std::int64_t now) const;

 private:
  struct Cookie {
    std::string name;
    std::string value;
    std::string domain;
    std::string path;
    bool host_only = true;
    bool secure = false;
    std::optional<std::int64_t> expires;
    std::uint64_t created = 0;
  };
  std::vector<Cookie> cookies_;
  std::uint64_t received_ = 0;
};

// The time an Expires attribute names (the lenient reading of RFC 6265
// 5.1.1), in seconds since 1970-01-01 UTC; nothing when it names none.
std::optional<std::int64_t> CookieDate(const std::string& text);

}  // namespace lumivane::platform
