// What both systems' HTTP clients share.
#include "platform/http_client.h"
#include "platform/url_text.h"

namespace lumivane::platform {

HttpSettings WindowClientSettings() {
  HttpSettings settings;
  settings.accept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
  settings.user_agent = "Mozilla/3.0 (compatible; Indy Library)";
  settings.max_body_bytes = kMaxDocumentBytes;
  return settings;
}

std::string WithoutQueryAndCredentials(const std::string& url) {
  std::string shown = url.substr(0, url.find_first_of("?#"));
  const std::size_t authority = shown.find("://");
  if (authority != std::string::npos) {
    const std::size_t start = authority + 3;
    const std::size_t end = shown.find('/', start);
    const std::size_t at = shown.rfind('@', end == std::string::npos ? std::string::npos : end);
    if (at != std::string::npos && at >= start) shown.erase(start, at + 1 - start);
  }
  return shown;
}

}  // namespace lumivane::platform
