#include "platform/endpoints.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <new>

#include "platform/curl_url.h"

namespace lumivane::platform {
namespace {

// Checks a base address (scheme, host, optional port, optional final "/")
// and returns it without the final "/". `origin` names where it came from.
std::string CheckBase(const std::string& value, const std::string& origin) {
  const std::string expected =
      origin +
      " doit être une adresse http ou https réduite au serveur, par exemple "
      "https://serveur.exemple.fr ou http://127.0.0.1:8080";
  const CurlUrl url = ParseUrl(value);
  if (!url) throw EndpointError(expected + " (adresse illisible).");
  const std::string scheme = UrlPart(url.get(), CURLUPART_SCHEME);
  if (scheme != "http" && scheme != "https") {
    throw EndpointError(expected + " (protocole « " + scheme + " » non admis).");
  }
  if (UrlPart(url.get(), CURLUPART_HOST).empty())
    throw EndpointError(expected + " (serveur manquant).");
  if (!UrlPart(url.get(), CURLUPART_USER).empty() ||
      !UrlPart(url.get(), CURLUPART_PASSWORD).empty()) {
    throw EndpointError(expected + " (identifiants non admis dans l'adresse).");
  }
  const std::string path = UrlPart(url.get(), CURLUPART_PATH);
  if (!path.empty() && path != "/") throw EndpointError(expected + " (chemin non admis).");
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

}  // namespace lumivane::platform
