#include "http/redirect.h"

#include "http/failure.h"
#include "text/compare.h"

namespace lumivane::http {

bool IsRedirectStatus(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool IsBodyKept(long status, bool has_location) {
  return status < 400 && !(IsRedirectStatus(status) && has_location);
}

platform::UrlParts CheckedRequestUrl(const std::string& url, const HttpSettings& settings) {
  if (auto parts = platform::ParseHttpUrl(url)) return std::move(*parts);
  // The parser refused it; the scheme only chooses the words.
  throw MakeError({text::HasHttpScheme(url) ? Failure::kMalformedUrl : Failure::kSchemeRefused},
                  settings, url);
}

RedirectChain::RedirectChain(std::string method, const std::string& url,
                             const HttpSettings& settings)
    : settings_(&settings),
      method_(std::move(method)),
      url_(url),
      parts_(CheckedRequestUrl(url, settings)) {}

bool RedirectChain::Follow(long status, const std::string& location) {
  if (!IsRedirectStatus(status) || location.empty()) return false;
  const auto to = platform::ParseHttpUrl(location);
  if (!to && text::HasHttpScheme(location)) {
    throw MakeError({Failure::kMalformedUrl}, *settings_, location);
  }
  if (!to) throw MakeError({Failure::kRedirectSchemeRefused, 0, location}, *settings_, url_);
  if (parts_.scheme == "https" && to->scheme == "http") {
    throw MakeError({Failure::kRedirectDowngrade, 0, location}, *settings_, url_);
  }
  if (hops_ >= settings_->max_redirects) {
    throw MakeError({Failure::kTooManyRedirects, 0, {}}, *settings_, url_);
  }
  ++hops_;
  if ((status == 303 && method_ != "GET" && method_ != "HEAD") ||
      ((status == 301 || status == 302) && method_ == "POST")) {
    method_ = "GET";
    body_dropped_ = true;
  }
  url_ = location;
  parts_ = *to;
  return true;
}

void RunRequest(RedirectChain& chain,
                const std::function<ExchangeAnswer(const RedirectChain&)>& exchange) {
  for (;;) {
    const ExchangeAnswer answer = exchange(chain);
    if (chain.Follow(answer.status, answer.location)) continue;
    if (answer.status >= 400) {
      throw StatusError(answer.status, answer.reason, chain.url(), answer.peer);
    }
    return;
  }
}

}  // namespace lumivane::http
