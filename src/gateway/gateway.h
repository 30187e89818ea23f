#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "http/transport.h"
#include "base/limits.h"

namespace lumivane::gateway {

// The gateway's answer is not well-formed XML.
class GatewayAnswerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A configuration value so long that the token request would pass
// kMaxRequestUrlBytes: nothing is sent.
class ConfigurationValueTooLong : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TokenRequest {
  std::string Identifiant;
  std::string MotDePasse;
  std::string Configurateur;
  std::string JetonPasserelle;
};

// What the gateway step leaves in the window's fields.
struct GatewayFields {
  std::string Jeton;
  std::string UrlConnexion;
  std::string UrlRecuperation;
  std::vector<std::string> Erreurs;  // one French line per problem
};

// gateway_base + "/index.php/Services/jeton?email=..&mdp=..&passerelle=..[&jeton=..]",
// each value percent-encoded.
std::string BuildTokenRequestUrl(const std::string& gateway_base, const TokenRequest& request);

// Asks the gateway with `http` (the window's first client). Returns 1 on
// success, 0 when the answer lacks what the module needs (lines in Erreurs).
// HTTP errors (HttpError), an unreadable answer (GatewayAnswerError) and a
// request too long to send (ConfigurationValueTooLong) are thrown; the URLs
// are empty then and Jeton keeps its value.
int GetJetonEtUrls(http::HttpClient& http, const std::string& gateway_base,
                   const TokenRequest& request, GatewayFields& fields);

// The gateway's answer as the module reads it: the body decoded (its
// declaration, else the Content-Type's charset, else UTF-8 or Windows-1252),
// then Configurateur's Jeton, UrlConnexion and UrlRecuperation, each text
// whole. 1 on success, 0 with lines in Erreurs; an unreadable answer throws
// GatewayAnswerError.
int LireReponsePasserelle(const std::string& body, const std::string& content_type,
                          GatewayFields& fields);

// The longest token request sent (base/limits.h); a longer one means a
// configuration value is far too long, and is refused with a message saying
// so.
using base::kMaxRequestUrlBytes;

// "Configurateur " + configurateur + " : GetJetonEtUrlsErreurs \n" + each line + "\n".
std::string GetJetonEtUrlsErreurs(const std::string& configurateur,
                                  const std::vector<std::string>& erreurs);

}  // namespace lumivane::gateway
