#include "http/endpoints.h"

#include <cstdlib>

#include "http/url.h"
#include "text/compare.h"
#include "text/user_texts.h"

namespace lumivane::http {
namespace {

[[noreturn]] void Refuse(text::UserText message, const char* variable, const std::string& why) {
  throw EndpointError(text::UserMessage(message, {variable, why}));
}

// Checks a base address (scheme, host, optional port, optional final "/")
// and returns it without the final "/". A refused one is told with `message`,
// naming `variable`.
std::string CheckBase(const std::string& value, text::UserText message, const char* variable) {
  const std::string scheme = text::SchemeOf(value);
  if (scheme.empty()) Refuse(message, variable, "adresse illisible");
  if (scheme != "http" && scheme != "https")
    Refuse(message, variable, "protocole « " + scheme + " » non admis");
  const auto url = platform::ParseHttpUrl(value);
  if (!url || url->host.empty()) Refuse(message, variable, "adresse illisible");
  const std::size_t authority_end = value.find_first_of("/?#", scheme.size() + 3);
  if (!url->user.empty() || !url->password.empty() || value.find('@') < authority_end) {
    Refuse(message, variable, "identifiants non admis dans l'adresse");
  }
  if (!url->path.empty() && url->path != "/") Refuse(message, variable, "chemin non admis");
  if (value.find_first_of("?#") != std::string::npos)
    Refuse(message, variable, "paramètres ou fragment non admis");
  std::string base = value;
  if (base.ends_with('/')) base.pop_back();
  return base;
}

std::string Resolve(const char* variable, const char* built_in) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] != '\0') {
    return CheckBase(value, text::UserText::kEnvironmentAddress, variable);
  }
  return CheckBase(built_in, text::UserText::kBuiltInAddress, variable);
}

}  // namespace

Endpoints LoadEndpoints() {
  Endpoints endpoints;
  endpoints.gateway_base = Resolve("LUMIVANE_GATEWAY_URL", LUMIVANE_DEFAULT_GATEWAY_URL);
  endpoints.quote_service_base =
      Resolve("LUMIVANE_QUOTE_SERVICE_URL", LUMIVANE_DEFAULT_QUOTE_SERVICE_URL);
  return endpoints;
}

}  // namespace lumivane::http
