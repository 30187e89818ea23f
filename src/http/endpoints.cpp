#include "http/endpoints.h"

#include <cstdlib>

#include "http/url.h"
#include "text/compare.h"

namespace lumivane::http {
namespace {

// Checks a base address (scheme, host, optional port, optional final "/")
// and returns it without the final "/". `origin` names where it came from.
std::string CheckBase(const std::string& value, const std::string& origin) {
  const std::string expected =
      origin +
      " doit être une adresse http ou https réduite au serveur, par exemple "
      "https://serveur.exemple.fr ou http://127.0.0.1:8080";
  const std::string scheme = text::SchemeOf(value);
  if (scheme.empty()) throw EndpointError(expected + " (adresse illisible).");
  if (scheme != "http" && scheme != "https") {
    throw EndpointError(expected + " (protocole « " + scheme + " » non admis).");
  }
  const auto url = platform::ParseHttpUrl(value);
  if (!url || url->host.empty()) throw EndpointError(expected + " (adresse illisible).");
  const std::size_t authority_end = value.find_first_of("/?#", scheme.size() + 3);
  if (!url->user.empty() || !url->password.empty() || value.find('@') < authority_end) {
    throw EndpointError(expected + " (identifiants non admis dans l'adresse).");
  }
  if (!url->path.empty() && url->path != "/")
    throw EndpointError(expected + " (chemin non admis).");
  if (value.find_first_of("?#") != std::string::npos) {
    throw EndpointError(expected + " (paramètres ou fragment non admis).");
  }
  std::string base = value;
  if (base.ends_with('/')) base.pop_back();
  return base;
}

std::string Resolve(const char* variable, const char* built_in) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] != '\0') {
    return CheckBase(value, std::string("La variable d'environnement ") + variable);
  }
  return CheckBase(built_in, std::string("L'adresse fixée à la compilation (") + variable + ")");
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
