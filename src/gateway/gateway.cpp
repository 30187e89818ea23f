#include "gateway/gateway.h"
#include "text/display.h"

#include <pugixml.hpp>

#include "text/encoding.h"
#include "http/endpoints.h"
#include "http/url.h"
#include "report/messages.h"
#include "report/secrets.h"
#include "xml/document.h"

namespace lumivane::gateway {

std::string BuildTokenRequestUrl(const std::string& gateway_base, const TokenRequest& request) {
  using text::PercentEncode;
  std::string url = gateway_base + http::kGatewayTokenPath;
  url += "?email=" + PercentEncode(request.Identifiant);
  url += "&mdp=" + PercentEncode(request.MotDePasse);
  url += "&passerelle=" + PercentEncode(request.Configurateur);
  if (!request.JetonPasserelle.empty()) url += "&jeton=" + PercentEncode(request.JetonPasserelle);
  return url;
}

int GetJetonEtUrls(http::HttpClient& http, const std::string& gateway_base,
                   const TokenRequest& request, GatewayFields& fields) {
  fields.UrlConnexion.clear();
  fields.UrlRecuperation.clear();
  fields.Erreurs.clear();

  const std::string url = BuildTokenRequestUrl(gateway_base, request);
  // Past this, HTTP libraries and servers refuse the request with some
  // unrelated reason; the only cause is an overlong configuration value.
  if (url.size() > kMaxRequestUrlBytes) {
    throw ConfigurationValueTooLong(
        "Une valeur du fichier de configuration est trop longue (identifiant, mot de passe, "
        "configurateur ou jeton) : la demande à la passerelle ferait " +
        std::to_string(url.size()) + " octets, " + std::to_string(kMaxRequestUrlBytes) +
        " au plus sont admis.");
  }
  const std::string body = http.Get(url);
  try {
    return LireReponsePasserelle(body, http.ContentType(), fields);
  } catch (const GatewayAnswerError& error) {
    // The server that sent it, for whoever supports the user.
    throw GatewayAnswerError(std::string(error.what()) + " (serveur " + http::ServerOf(url) + ")");
  }
}

int LireReponsePasserelle(const std::string& body, const std::string& content_type,
                          GatewayFields& fields) {
  fields.UrlConnexion.clear();
  fields.UrlRecuperation.clear();
  fields.Erreurs.clear();

  constexpr const char* kIllisible = "Réponse illisible de la passerelle";
  pugi::xml_document document;
  try {
    xml::ParseText(document, xml::DecodeDocument(body, content_type, kIllisible), xml::kReadOptions,
                   kIllisible);
  } catch (const xml::XmlError& error) {
    throw GatewayAnswerError(error.what());
  }

  const pugi::xml_node configurateur = document.child("Configurateur");
  if (!configurateur) {
    fields.Erreurs.emplace_back("La passerelle n'a pas renvoyé d'élément Configurateur.");
    const std::string said = xml::TextOf(document.document_element());
    if (!said.empty()) {
      fields.Erreurs.push_back("La passerelle a répondu : " + text::ValueForMessage(said));
    }
    return 0;
  }

  fields.Jeton = xml::TextOf(configurateur.child("Jeton"));
  report::AddSecret(fields.Jeton);
  fields.UrlConnexion = xml::TextOf(configurateur.child("UrlConnexion"));
  fields.UrlRecuperation = xml::TextOf(configurateur.child("UrlRecuperation"));

  if (fields.UrlConnexion.empty()) {
    fields.Erreurs.emplace_back("La passerelle n'a pas renvoyé d'URL de connexion (UrlConnexion).");
  }
  if (fields.UrlRecuperation.empty()) {
    fields.Erreurs.emplace_back(
        "La passerelle n'a pas renvoyé d'URL de récupération (UrlRecuperation).");
  }
  return fields.Erreurs.empty() ? 1 : 0;
}

std::string GetJetonEtUrlsErreurs(const std::string& configurateur,
                                  const std::vector<std::string>& erreurs) {
  std::string report =
      "Configurateur " + text::ValueForMessage(configurateur) + " : GetJetonEtUrlsErreurs \n";
  for (const std::string& line : erreurs) report += line + "\n";
  return report;
}

}  // namespace lumivane::gateway
