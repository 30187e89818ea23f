#include "platform/url.h"

#include <curl/curl.h>

#include <memory>
#include <new>

#include "text/compare.h"

namespace lumivane::platform {

const char* const kHttpClientName = "libcurl";

namespace {

struct CurlUrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

// One part of a parsed URL, or an empty text when it is absent.
std::string UrlPart(CURLU* url, CURLUPart part) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, 0) != CURLUE_OK || text == nullptr) return {};
  std::string result(text);
  curl_free(text);
  return result;
}

}  // namespace

std::optional<UrlParts> ParseHttpUrl(const std::string& url) {
  if (!text::HasHttpScheme(url)) return std::nullopt;
  CurlUrl parsed(curl_url());
  if (!parsed) throw std::bad_alloc();
  if (curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return std::nullopt;
  UrlParts parts;
  parts.scheme = UrlPart(parsed.get(), CURLUPART_SCHEME);
  parts.user = UrlPart(parsed.get(), CURLUPART_USER);
  parts.password = UrlPart(parsed.get(), CURLUPART_PASSWORD);
  parts.host = UrlPart(parsed.get(), CURLUPART_HOST);
  parts.port = UrlPart(parsed.get(), CURLUPART_PORT);
  parts.path = UrlPart(parsed.get(), CURLUPART_PATH);
  const std::string query = UrlPart(parsed.get(), CURLUPART_QUERY);
  const std::string fragment = UrlPart(parsed.get(), CURLUPART_FRAGMENT);
  if (!query.empty()) parts.extra += "?" + query;
  if (!fragment.empty()) parts.extra += "#" + fragment;
  if (parts.host.empty()) return std::nullopt;
  return parts;
}

}  // namespace lumivane::platform
