#include "platform/encoding.h"

#include <curl/curl.h>

#include <limits>
#include <memory>
#include <new>
#include <stdexcept>

namespace lumivane::platform {

std::string PercentEncode(std::string_view value) {
  if (value.empty()) return {};
  if (value.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw std::length_error("PercentEncode: value too long");
  }
  // libcurl keeps exactly the RFC 3986 unreserved characters and writes
  // every other byte as %XX in upper case.
  const std::unique_ptr<char, decltype(&curl_free)> encoded(
      curl_easy_escape(nullptr, value.data(), static_cast<int>(value.size())), &curl_free);
  if (!encoded) throw std::bad_alloc();
  return encoded.get();
}

}  // namespace lumivane::platform
