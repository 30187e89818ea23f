#pragma once

// What a redirect may do, the same whatever system client follows it.

#include <string>

#include "http/http.h"

namespace lumivane::http {

// 301, 302, 303, 307 and 308: the answers that are followed when they name a
// Location.
bool IsRedirectStatus(long status);

// The request that follows a redirect.
struct RedirectStep {
  std::string url;
  // As browsers do: 301, 302 and 303 turn a POST into a GET without body
  // (303 any method but GET and HEAD); 307 and 308 repeat the request as it
  // was.
  bool becomes_get = false;
};

// The next request after an answer `status` to `method` on `from` that leads
// to `to` (already resolved against `from`), `hops` redirects having been
// followed before. Throws HttpError when it is not followed: a target that is
// not http or https, a step from https down to http (the query or the body
// would travel in clear), or more than settings.max_redirects hops.
RedirectStep FollowRedirect(const std::string& from, const std::string& to, long status,
                            const std::string& method, long hops, const HttpSettings& settings);

}  // namespace lumivane::http
