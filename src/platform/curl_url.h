#pragma once

// libcurl's URL parser behind a small RAII handle (internal to the platform).

#include <curl/curl.h>

#include <memory>
#include <new>
#include <string>

namespace lumivane::platform {

struct CurlUrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

// The parsed URL (any scheme), or an empty handle when it cannot be parsed.
inline CurlUrl ParseUrl(const std::string& url) {
  CurlUrl parsed(curl_url());
  if (!parsed) throw std::bad_alloc();
  if (curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
      CURLUE_OK) {
    return nullptr;
  }
  return parsed;
}

// One part of a parsed URL, or an empty text when it is absent.
inline std::string UrlPart(CURLU* url, CURLUPart part) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, 0) != CURLUE_OK || text == nullptr) return {};
  std::string result(text);
  curl_free(text);
  return result;
}

}  // namespace lumivane::platform
