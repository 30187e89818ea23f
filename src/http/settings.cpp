#include "http/http.h"

namespace lumivane::http {

HttpSettings WindowClientSettings() {
  HttpSettings settings;
  settings.accept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
  settings.user_agent = "Mozilla/3.0 (compatible; Indy Library)";
  settings.max_body_bytes = base::kMaxDocumentBytes;
  return settings;
}

}  // namespace lumivane::http
