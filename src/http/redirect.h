#pragma once

// One request's way through its redirects, the same for both systems'
// clients and for the downloads: each transport does one exchange on the
// wire at a time, and the chain says where the next one goes.

#include <functional>
#include <string>

#include "http/http.h"
#include "platform/url.h"

namespace lumivane::http {

// 301, 302, 303, 307 and 308: the answers that are followed when they name a
// Location.
bool IsRedirectStatus(long status);

// Whether an answer's body is the request's: not that of an error (the
// status is reported) nor that of a redirect that names where to go.
bool IsBodyKept(long status, bool has_location);

// The URL a request may be sent to, taken apart by the system's parser.
// Throws HttpError: Failure::kSchemeRefused for a URL that is not http or
// https, Failure::kMalformedUrl for one the parser refuses.
platform::UrlParts CheckedRequestUrl(const std::string& url, const HttpSettings& settings);

// The request to send: its URL and method, after the redirects followed so
// far.
class RedirectChain {
 public:
  // Throws as CheckedRequestUrl does.
  RedirectChain(std::string method, const std::string& url, const HttpSettings& settings);

  const std::string& url() const { return url_; }
  const platform::UrlParts& parts() const { return parts_; }
  const std::string& method() const { return method_; }
  // True once a redirect turned the request into a GET without a body (and
  // without the body's type).
  bool body_dropped() const { return body_dropped_; }

  // The answer `status` to the request, with its Location resolved against
  // url() (empty when it has none). True when it is a redirect to follow:
  // the chain then stands at the next request. False when the answer is the
  // request's own. Throws HttpError when a redirect may not be followed: a
  // target that is not http or https, a step from https down to http (the
  // query or the body would travel in clear), or more than
  // settings.max_redirects hops. As browsers do, 301, 302 and 303 turn a
  // POST into a GET without body (303 any method but GET and HEAD); 307 and
  // 308 repeat the request as it was.
  bool Follow(long status, const std::string& location);

 private:
  const HttpSettings* settings_;
  std::string method_;
  std::string url_;
  platform::UrlParts parts_;
  long hops_ = 0;
  bool body_dropped_ = false;
};

// What one exchange on the wire tells the request loop.
struct ExchangeAnswer {
  long status = 0;
  std::string location;  // resolved against the request's URL; empty for none
  std::string reason;    // the reason phrase, for an error's message
  std::string peer;      // the proxy or address that answered, for an error's message
};

// The request loop of both systems' clients: `exchange` sends the chain's
// request once and keeps the body when IsBodyKept says so. Redirects are
// followed as RedirectChain says; an answer of 400 or more throws
// StatusError.
void RunRequest(RedirectChain& chain,
                const std::function<ExchangeAnswer(const RedirectChain&)>& exchange);

}  // namespace lumivane::http
