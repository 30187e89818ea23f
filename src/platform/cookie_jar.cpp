#include "platform/cookie_jar.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <limits>

namespace lumivane::platform {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// An address rather than a name: no domain cookie for it.
bool IsIpAddress(const std::string& host) {
  return host.find(':') != std::string::npos ||
         (!host.empty() && std::all_of(host.begin(), host.end(), [](char c) { return IsDigit(c) || c == '.'; }));
}

bool DomainMatches(const std::string& host, const std::string& domain) {
  if (host == domain) return true;
  return host.size() > domain.size() && host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
         host[host.size() - domain.size() - 1] == '.' && !IsIpAddress(host);
}

bool PathMatches(const std::string& request_path, const std::string& cookie_path) {
  if (request_path.compare(0, cookie_path.size(), cookie_path) != 0) return false;
  return request_path.size() == cookie_path.size() || cookie_path.back() == '/' ||
         request_path[cookie_path.size()] == '/';
}

std::string RequestPath(const std::string& path) { return path.empty() || path[0] != '/' ? "/" : path; }

// The folder of the request's path, for a cookie without a Path.
std::string DefaultPath(const std::string& path) {
  const std::string request = RequestPath(path);
  const auto last = request.rfind('/');
  return last == 0 ? "/" : request.substr(0, last);
}

bool IsDelimiter(unsigned char c) {
  return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
         (c >= 0x7B && c <= 0x7E);
}

// 1 or 2 digits, then anything but a digit.
std::optional<int> SmallNumber(const std::string& token, std::size_t& at, std::size_t max_digits) {
  std::size_t digits = 0;
  int value = 0;
  while (at < token.size() && IsDigit(token[at]) && digits < max_digits) {
    value = value * 10 + (token[at++] - '0');
    ++digits;
  }
  if (digits == 0 || (at < token.size() && IsDigit(token[at]))) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::int64_t> CookieDate(const std::string& text) {
  static constexpr std::array<const char*, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                          "jul", "aug", "sep", "oct", "nov", "dec"};
  std::optional<int> hour, minute, second, day, month, year;
  std::size_t start = 0;
  while (start < text.size()) {
    while (start < text.size() && IsDelimiter(static_cast<unsigned char>(text[start]))) ++start;
    std::size_t end = start;
    while (end < text.size() && !IsDelimiter(static_cast<unsigned char>(text[end]))) ++end;
    if (end == start) break;
    const std::string token = text.substr(start, end - start);
    start = end;
    if (!hour) {
      std::size_t at = 0;
      const auto h = SmallNumber(token, at, 2);
      if (h && at < token.size() && token[at] == ':') {
        ++at;
        const auto m = SmallNumber(token, at, 2);
        if (m && at < token.size() && token[at] == ':') {
          ++at;
          if (const auto s = SmallNumber(token, at, 2)) {
            hour = h;
            minute = m;
            second = s;
            continue;
          }
        }
      }
    }
    if (!day) {
      std::size_t at = 0;
      if (const auto d = SmallNumber(token, at, 2)) {
        day = d;
        continue;
      }
    }
    if (!month && token.size() >= 3) {
      const std::string prefix = Lower(token.substr(0, 3));
      const auto found = std::find_if(kMonths.begin(), kMonths.end(),
                                      [&](const char* name) { return prefix == name; });
      if (found != kMonths.end()) {
        month = static_cast<int>(found - kMonths.begin()) + 1;
        continue;
      }
    }
    if (!year) {
      std::size_t at = 0;
      if (const auto y = SmallNumber(token, at, 4); y && at >= 2) year = y;
    }
  }
  if (!hour || !day || !month || !year) return std::nullopt;
  int full_year = *year;
  if (full_year >= 70 && full_year <= 99) full_year += 1900;
  if (full_year >= 0 && full_year <= 69) full_year += 2000;
  if (*day < 1 || *day > 31 || full_year < 1601 || *hour > 23 || *minute > 59 || *second > 59) {
    return std::nullopt;
  }
  using namespace std::chrono;
  const year_month_day date{std::chrono::year{full_year}, std::chrono::month{static_cast<unsigned>(*month)},
                            std::chrono::day{static_cast<unsigned>(*day)}};
  if (!date.ok()) return std::nullopt;
  return static_cast<std::int64_t>(sys_days{date}.time_since_epoch() / std::chrono::seconds(1)) +
         *hour * 3600 + *minute * 60 + *second;
}

void CookieJar::Receive(const Origin& origin, const std::string& set_cookie, std::int64_t now) {
  const auto semicolon = set_cookie.find(';');
  const std::string pair = set_cookie.substr(0, semicolon);
  const auto equals = pair.find('=');
  if (equals == std::string::npos) return;
  Cookie cookie;
  cookie.name = Trim(pair.substr(0, equals));
  cookie.value = Trim(pair.substr(equals + 1));
  if (cookie.name.empty()) return;

  const std::string host = Lower(origin.host);
  std::optional<std::int64_t> max_age_expiry;
  std::optional<std::int64_t> expires;
  std::string domain;
  std::string path;
  std::size_t at = semicolon;
  while (at != std::string::npos) {
    const auto next = set_cookie.find(';', at + 1);
    const std::string attribute = set_cookie.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
    at = next;
    const auto attribute_equals = attribute.find('=');
    const std::string name = Lower(Trim(attribute.substr(0, attribute_equals)));
    const std::string value = attribute_equals == std::string::npos ? "" : Trim(attribute.substr(attribute_equals + 1));
    if (name == "domain" && !value.empty()) {
      domain = Lower(value[0] == '.' ? value.substr(1) : value);
    } else if (name == "path") {
      path = value;
    } else if (name == "secure") {
      cookie.secure = true;
    } else if (name == "max-age" && !value.empty() &&
               std::all_of(value.begin() + (value[0] == '-' ? 1 : 0), value.end(), IsDigit) &&
               value != "-") {
      // Any number of digits: a value past any date means no expiry.
      const bool negative = value[0] == '-';
      const std::string digits = value.substr(negative ? 1 : 0);
      constexpr std::int64_t kLast = std::numeric_limits<std::int64_t>::max();
      const std::int64_t seconds = digits.size() > 18 ? kLast : std::stoll(digits);
      max_age_expiry = negative || seconds == 0 ? std::numeric_limits<std::int64_t>::min()
                                                : (seconds > kLast - now ? kLast : now + seconds);
    } else if (name == "expires") {
      if (const auto date = CookieDate(value)) expires = date;
    }
  }
  if (!domain.empty()) {
    if (!DomainMatches(host, domain)) return;
    cookie.domain = domain;
    cookie.host_only = false;
  } else {
    cookie.domain = host;
  }
  cookie.path = !path.empty() && path[0] == '/' ? path : DefaultPath(origin.path);
  cookie.expires = max_age_expiry ? max_age_expiry : expires;

  const auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& c) {
    return c.name == cookie.name && c.domain == cookie.domain && c.path == cookie.path;
  });
  if (same != cookies_.end()) {
    cookie.created = same->created;
    cookies_.erase(same);
  } else {
    cookie.created = ++received_;
  }
  if (cookie.expires && *cookie.expires <= now) return;  // a removal
  cookies_.push_back(std::move(cookie));
}

std::string CookieJar::HeaderFor(const Origin& origin, std::int64_t now) const {
  const std::string host = Lower(origin.host);
  const std::string path = RequestPath(origin.path);
  std::vector<const Cookie*> going;
  for (const Cookie& cookie : cookies_) {
    if (cookie.expires && *cookie.expires <= now) continue;
    if (cookie.host_only ? host != cookie.domain : !DomainMatches(host, cookie.domain)) continue;
    if (!PathMatches(path, cookie.path)) continue;
    if (cookie.secure && Lower(origin.scheme) != "https") continue;
    going.push_back(&cookie);
  }
  // Longer paths first, then the older cookie first.
  std::stable_sort(going.begin(), going.end(), [](const Cookie* a, const Cookie* b) {
    return a->path.size() != b->path.size() ? a->path.size() > b->path.size() : a->created < b->created;
  });
  std::string header;
  for (const Cookie* cookie : going) {
    if (!header.empty()) header += "; ";
    header += cookie->name + "=" + cookie->value;
  }
  return header;
}

}  // namespace lumivane::platform
