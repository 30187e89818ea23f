#include "gateway/gateway.h"
#include "text/display.h"

#include <pugixml.hpp>

#include "text/encoding.h"
#include "http/endpoints.h"
#include "http/url.h"
#include "report/secrets.h"
#include "text/user_texts.h"
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
        text::UserMessage(text::UserText::kConfigurationValueTooLong,
                          {std::to_string(url.size()), std::to_string(kMaxRequestUrlBytes)}));
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

  constexpr auto kIllisible = text::UserText::kGatewayAnswerUnreadable;
  pugi::xml_document document;
  try {
    xml::ParseText(document, xml::DecodeDocument(body, content_type, kIllisible), xml::kReadOptions,
                   kIllisible);
  } catch (const xml::XmlError& error) {
    throw GatewayAnswerError(error.what());
  }

  const pugi::xml_node configurateur = document.child("Configurateur");
  if (!configurateur) {
    fields.Erreurs.push_back(text::UserMessage(text::UserText::kGatewayNoConfigurateur));
    const std::string said = xml::TextOf(document.document_element());
    if (!said.empty()) {
      fields.Erreurs.push_back(
          text::UserMessage(text::UserText::kGatewaySaid, {text::ServerWords(said)}));
    }
    return 0;
  }

  fields.Jeton = xml::TextOf(configurateur.child("Jeton"));
  report::AddSecret(fields.Jeton);
  fields.UrlConnexion = xml::TextOf(configurateur.child("UrlConnexion"));
  fields.UrlRecuperation = xml::TextOf(configurateur.child("UrlRecuperation"));

  if (fields.UrlConnexion.empty()) {
    fields.Erreurs.push_back(text::UserMessage(text::UserText::kGatewayNoConnectionUrl));
  }
  if (fields.UrlRecuperation.empty()) {
    fields.Erreurs.push_back(text::UserMessage(text::UserText::kGatewayNoRetrievalUrl));
  }
  return fields.Erreurs.empty() ? 1 : 0;
}

std::string GetJetonEtUrlsErreurs(const std::string& configurateur,
                                  const std::vector<std::string>& erreurs) {
  std::string report =
      text::UserMessage(text::UserText::kGatewayErrors, {text::ValueForMessage(configurateur)});
  for (const std::string& line : erreurs) report += line + "\n";
  return report;
}

}  // namespace lumivane::gateway
