#include "gateway/gateway.h"

#include <pugixml.hpp>

#include "platform/encoding.h"
#include "platform/endpoints.h"

namespace lumivane::gateway {

std::string BuildTokenRequestUrl(const std::string& gateway_base, const TokenRequest& request) {
  using platform::PercentEncode;
  std::string url = gateway_base + platform::kGatewayTokenPath;
  url += "?email=" + PercentEncode(request.Identifiant);
  url += "&mdp=" + PercentEncode(request.MotDePasse);
  url += "&passerelle=" + PercentEncode(request.Configurateur);
  if (!request.JetonPasserelle.empty()) url += "&jeton=" + PercentEncode(request.JetonPasserelle);
  return url;
}

int GetJetonEtUrls(platform::HttpClient& http, const std::string& gateway_base,
                   const TokenRequest& request, GatewayFields& fields) {
  fields.UrlConnexion.clear();
  fields.UrlRecuperation.clear();
  fields.Erreurs.clear();

  const std::string body = http.Get(BuildTokenRequestUrl(gateway_base, request));

  pugi::xml_document document;
  // A value made only of blanks is kept as it stands.
  const pugi::xml_parse_result parsed =
      document.load_buffer(body.data(), body.size(), pugi::parse_default | pugi::parse_ws_pcdata_single,
                           pugi::encoding_auto);
  if (!parsed) {
    throw GatewayAnswerError(std::string("Réponse illisible de la passerelle : ") + parsed.description());
  }

  const pugi::xml_node configurateur = document.child("Configurateur");
  if (!configurateur) {
    fields.Erreurs.emplace_back("La passerelle n'a pas renvoyé d'élément Configurateur.");
    const pugi::xml_node other = document.document_element();
    const std::string said = other.text().get();
    if (!said.empty()) fields.Erreurs.push_back("La passerelle a répondu : " + said);
    return 0;
  }

  fields.Jeton = configurateur.child("Jeton").text().get();
  fields.UrlConnexion = configurateur.child("UrlConnexion").text().get();
  fields.UrlRecuperation = configurateur.child("UrlRecuperation").text().get();

  if (fields.UrlConnexion.empty()) {
    fields.Erreurs.emplace_back("La passerelle n'a pas renvoyé d'URL de connexion (UrlConnexion).");
  }
  if (fields.UrlRecuperation.empty()) {
    fields.Erreurs.emplace_back("La passerelle n'a pas renvoyé d'URL de récupération (UrlRecuperation).");
  }
  return fields.Erreurs.empty() ? 1 : 0;
}

std::string GetJetonEtUrlsErreurs(const std::string& configurateur,
                                  const std::vector<std::string>& erreurs) {
  std::string report = "Configurateur " + configurateur + " : GetJetonEtUrlsErreurs \n";
  for (const std::string& line : erreurs) report += line + "\n";
  return report;
}

}  // namespace lumivane::gateway
