#include "http/failure.h"

#include "base/limits.h"
#include "http/url.h"
#include "platform/system_error.h"
#include "text/compare.h"
#include "text/display.h"
#include "text/encoding.h"

namespace lumivane::http {
namespace {

// The proxy as "host:port", never with a user name and password.
std::string ProxyName(std::string_view proxy) {
  if (const std::size_t at = proxy.rfind('@'); at != std::string_view::npos) {
    proxy.remove_prefix(at + 1);
  }
  return proxy.empty() ? std::string("du réseau") : text::ValueForMessage(proxy);
}

// A web page where a picture was expected: "<!DOCTYPE html" or "<html",
// after an optional byte-order mark and blanks, in any letter case. Nothing
// else is judged: pictures come in formats the module need not know.
bool IsWebPage(std::string_view head) {
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
  while (!head.empty() && (head.front() == ' ' || head.front() == '\t' || head.front() == '\r' ||
                           head.front() == '\n' || head.front() == '\f')) {
    head.remove_prefix(1);
  }
  return text::StartsWithIgnoringCase(head, "<!doctype html") ||
         text::StartsWithIgnoringCase(head, "<html");
}

std::string Text(const FailureDetail& failure, const HttpSettings& settings,
                 const std::string& shown) {
  switch (failure.kind) {
    case Failure::kSchemeRefused:
      return "Adresse refusée, seuls http et https sont admis : " + shown;
    case Failure::kRedirectSchemeRefused:
      return "Redirection refusée, seuls http et https sont admis : " + shown + " vers " +
             ShownUrl(failure.target);
    case Failure::kRedirectDowngrade:
      return "Redirection refusée d'une adresse sécurisée (https) vers une adresse non "
             "sécurisée (http) : " +
             shown + " vers " + ShownUrl(failure.target);
    case Failure::kTooManyRedirects:
      return "Trop de redirections (plus de " + std::to_string(settings.max_redirects) +
             ") : " + shown;
    case Failure::kMalformedUrl:
      return "Adresse mal formée : " + shown;
    case Failure::kHostNotFound:
      return "Nom du serveur introuvable : " + shown;
    case Failure::kProxyNotFound:
      return "Nom du proxy introuvable pour : " + shown;
    case Failure::kProxyAuthentication:
      return "Le proxy " + ProxyName(failure.target) +
             " demande une identification (407) pour : " + shown;
    case Failure::kProxyRefused:
      return "Le proxy " + ProxyName(failure.target) + " a refusé la connexion (" +
             std::to_string(failure.code) + ") vers : " + shown;
    case Failure::kProxyUnreachable:
      return "Proxy " + ProxyName(failure.target) + " injoignable pour : " + shown;
    case Failure::kLocalResource:
      return "Ce poste refuse d'ouvrir la connexion, " +
             platform::SystemErrorText(static_cast<int>(failure.code)) + " : " + shown;
    case Failure::kUnreachable:
      return "Serveur injoignable : " + shown;
    case Failure::kConnectTimeout:
      return "Délai de connexion dépassé (" + std::to_string(settings.connect_timeout_seconds) +
             " s) : " + shown;
    case Failure::kStalled:
      return "Délai dépassé, le serveur n'envoie plus rien depuis " +
             std::to_string(settings.stall_timeout_seconds) + " s : " + shown;
    case Failure::kCertificateRefused:
      return "Certificat du serveur refusé : " + shown;
    case Failure::kSecureChannel:
      return "Échec de la connexion sécurisée : " + shown;
    case Failure::kInterrupted:
      return "Connexion interrompue par le serveur : " + shown;
    case Failure::kNotHttp:
      return "Réponse du serveur illisible (pas une réponse HTTP) : " + shown;
    case Failure::kHeadersTooLarge:
      return "En-têtes de la réponse trop volumineux : " + shown;
    case Failure::kBodyTooLarge:
      return "Réponse trop volumineuse (plus de " + std::to_string(settings.max_body_bytes) +
             " octets) : " + shown;
    case Failure::kRequestBodyTooLarge:
      return "Corps de requête trop volumineux : " + shown;
    case Failure::kOutOfMemory:
      return "Mémoire insuffisante pour la requête : " + shown;
    case Failure::kClientSetup:
      return "Impossible de créer le client HTTP.";
    case Failure::kNone:
    case Failure::kStatus:
    case Failure::kOther:
      break;
  }
  return "Échec de la requête HTTP (erreur " + std::string(platform::kHttpClientName) + " " +
         std::to_string(failure.code) + ") : " + shown;
}

}  // namespace

std::string FailureText(const FailureDetail& failure, const HttpSettings& settings,
                        const std::string& url) {
  return Text(failure, settings, ShownUrl(url));
}

std::string StatusText(long status, std::string_view reason, const std::string& url,
                       const std::string& proxy) {
  if (status == 407) return FailureText({Failure::kProxyAuthentication, 0, proxy}, {}, url);
  std::string cleaned;
  for (const char c : text::Utf8Prefix(reason, 100)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) cleaned += c;
  }
  return "Le serveur a répondu " + std::to_string(status) + (cleaned.empty() ? "" : " " + cleaned) +
         " : " + ShownUrl(url);
}

HttpError StatusError(long status, std::string_view reason, const std::string& url,
                      const std::string& proxy) {
  return HttpError(StatusText(status, reason, url, proxy), status);
}

std::string PictureAnswerText(long status, std::string_view reason, std::string_view head,
                              std::size_t size, const std::string& url) {
  if (status != 200) return StatusText(status, reason, url);
  if (size == 0) return "Le serveur a répondu sans image (réponse vide) : " + ShownUrl(url);
  if (IsWebPage(head)) {
    return "Le serveur a répondu par une page web au lieu d'une image : " + ShownUrl(url);
  }
  return {};
}

bool ExceedsBodyLimit(const HttpSettings& settings, std::size_t received, std::size_t more) {
  const std::size_t limit = settings.max_body_bytes;
  return limit != 0 && (received > limit || more > limit - received);
}

HttpError MakeError(const FailureDetail& failure, const HttpSettings& settings,
                    const std::string& url) {
  return HttpError(FailureText(failure, settings, url), 0, failure.kind);
}

HttpError ClientSetupError() {
  return HttpError(Text({Failure::kClientSetup}, HttpSettings{}, {}), 0, Failure::kClientSetup);
}

std::string FileWriteText(const std::string& path, int system_code) {
  return text::CannotWriteFile(path, platform::SystemErrorText(system_code));
}

bool IsTransient(Failure kind, long status) {
  switch (kind) {
    case Failure::kNone:
    case Failure::kStatus:
      return status == 502 || status == 503 || status == 504;
    case Failure::kInterrupted:
    case Failure::kConnectTimeout:
    case Failure::kStalled:
      return true;
    default:
      return false;
  }
}

bool ShouldRetry(int attempts, Failure kind, long status) {
  return attempts < base::kMaxAttempts && IsTransient(kind, status);
}

}  // namespace lumivane::http
