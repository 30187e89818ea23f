#include "http/redirect.h"

#include "http/failure.h"
#include "http/url.h"
#include "text/compare.h"

namespace lumivane::http {

bool IsRedirectStatus(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

RedirectStep FollowRedirect(const std::string& from, const std::string& to, long status,
                            const std::string& method, long hops, const HttpSettings& settings) {
  if (!text::HasHttpScheme(to)) {
    throw MakeError({Failure::kRedirectSchemeRefused, 0, to}, settings, from);
  }
  if (text::SchemeOf(from) == "https" && text::SchemeOf(to) == "http") {
    throw MakeError({Failure::kRedirectDowngrade, 0, to}, settings, from);
  }
  if (hops >= settings.max_redirects) {
    throw MakeError({Failure::kTooManyRedirects, 0, {}}, settings, from);
  }
  RedirectStep step;
  step.url = to;
  step.becomes_get = (status == 303 && method != "GET" && method != "HEAD") ||
                     ((status == 301 || status == 302) && method == "POST");
  return step;
}

}  // namespace lumivane::http
