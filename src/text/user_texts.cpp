#include "text/user_texts.h"

#include <array>

namespace lumivane::text {
namespace {

struct Entry {
  UserText name;
  std::string_view text;
};

// In the order of the names: the checks below hold it to it.
constexpr std::array<Entry, kUserTextCount> kTexts = {{
    // Start-up and configuration.
    {UserText::kWrongArguments,
     "Configurateur Tessivo - Verifiez vos paramètres !\n1. Fichier temp.\n2. Fichier config."},
    {UserText::kConfigurationMissing,
     "Le configurateur Lumivane n'est pas configuré. Le fichier : {1} n'existe pas."},
    {UserText::kConfigurationUnreadable, "Le fichier de configuration {1} n'a pas pu être lu."},
    {UserText::kWrongVersion,
     "Votre Configurateur {1} est en Version {2} et devrait être en Version {3}."},
    {UserText::kEnvironmentAddress,
     "La variable d'environnement {1} doit être une adresse http ou https réduite au serveur, "
     "par exemple https://serveur.exemple.fr ou http://127.0.0.1:8080 ({2})."},
    {UserText::kBuiltInAddress,
     "L'adresse fixée à la compilation ({1}) doit être une adresse http ou https réduite au "
     "serveur, par exemple https://serveur.exemple.fr ou http://127.0.0.1:8080 ({2})."},

    // The gateway and the browser.
    {UserText::kGatewayErrors, "Configurateur {1} : GetJetonEtUrlsErreurs \n"},
    {UserText::kGatewayNoConfigurateur, "La passerelle n'a pas renvoyé d'élément Configurateur."},
    {UserText::kGatewaySaid, "La passerelle a répondu : {1}"},
    {UserText::kGatewayNoConnectionUrl,
     "La passerelle n'a pas renvoyé d'URL de connexion (UrlConnexion)."},
    {UserText::kGatewayNoRetrievalUrl,
     "La passerelle n'a pas renvoyé d'URL de récupération (UrlRecuperation)."},
    {UserText::kGatewayAnswerUnreadable, "Réponse illisible de la passerelle : {1}"},
    {UserText::kConfigurationValueTooLong,
     "Une valeur du fichier de configuration est trop longue (identifiant, mot de passe, "
     "configurateur ou jeton) : la demande à la passerelle ferait {1} octets, {2} au plus sont "
     "admis."},
    {UserText::kBrowserAddressRefused,
     "L'adresse du configurateur a été refusée : seules les adresses http et https sont "
     "ouvertes."},
    {UserText::kBrowserNotStarted,
     "Le navigateur n'a pas pu être lancé. Ouvrez cette adresse dans votre navigateur :\n{1}"},

    // A request that failed.
    {UserText::kSchemeRefused, "Adresse refusée, seuls http et https sont admis : {1}"},
    {UserText::kRedirectSchemeRefused,
     "Redirection refusée, seuls http et https sont admis : {1} vers {2}"},
    {UserText::kRedirectDowngrade,
     "Redirection refusée d'une adresse sécurisée (https) vers une adresse non sécurisée "
     "(http) : {1} vers {2}"},
    {UserText::kTooManyRedirects, "Trop de redirections (plus de {1}) : {2}"},
    {UserText::kMalformedUrl, "Adresse mal formée : {1}"},
    {UserText::kHostNotFound, "Nom du serveur introuvable : {1}"},
    {UserText::kProxyNotFound, "Nom du proxy introuvable pour : {1}"},
    {UserText::kProxyAuthentication, "Le proxy {1} demande une identification (407) pour : {2}"},
    {UserText::kProxyRefused, "Le proxy {1} a refusé la connexion ({2}) vers : {3}"},
    {UserText::kProxyUnreachable, "Proxy {1} injoignable pour : {2}"},
    {UserText::kLocalResource, "Ce poste refuse d'ouvrir la connexion, {1} : {2}"},
    {UserText::kUnreachable, "Serveur injoignable : {1}"},
    {UserText::kConnectTimeout, "Délai de connexion dépassé ({1} s) : {2}"},
    {UserText::kStalled, "Délai dépassé, le serveur n'envoie plus rien depuis {1} s : {2}"},
    {UserText::kCertificateRefused, "Certificat du serveur refusé : {1}"},
    {UserText::kSecureChannel, "Échec de la connexion sécurisée : {1}"},
    {UserText::kInterrupted, "Connexion interrompue par le serveur : {1}"},
    {UserText::kNotHttp, "Réponse du serveur illisible (pas une réponse HTTP) : {1}"},
    {UserText::kHeadersTooLarge, "En-têtes de la réponse trop volumineux : {1}"},
    {UserText::kBodyTooLarge, "Réponse trop volumineuse (plus de {1} octets) : {2}"},
    {UserText::kRequestBodyTooLarge, "Corps de requête trop volumineux : {1}"},
    {UserText::kOutOfMemory, "Mémoire insuffisante pour la requête : {1}"},
    {UserText::kOtherFailure, "Échec de la requête HTTP (erreur {1} {2}) : {3}"},
    {UserText::kStatus, "Le serveur a répondu {1} : {2}"},
    {UserText::kPictureEmpty, "Le serveur a répondu sans image (réponse vide) : {1}"},
    {UserText::kPictureIsWebPage,
     "Le serveur a répondu par une page web au lieu d'une image : {1}"},
    {UserText::kClientSetup, "Impossible de créer le client HTTP."},
    {UserText::kNetworkLibraryInit, "Impossible d'initialiser la bibliothèque réseau."},
    {UserText::kNetworkLibrarySetting, "Réglage du client HTTP refusé par libcurl."},
    {UserText::kCommandLineUnreadable, "Ligne de commande illisible : {1}"},
    {UserText::kUtf8ToUtf16, "Texte illisible : conversion de UTF-8 en UTF-16 impossible."},
    {UserText::kUtf16ToUtf8, "Texte illisible : conversion de UTF-16 en UTF-8 impossible."},

    // The retrieval.
    {UserText::kNoRetrievalAddress,
     "Aucune adresse de récupération du devis : la passerelle n'a pas répondu à l'ouverture du "
     "module. Fermez le module et relancez-le depuis votre logiciel de devis."},
    {UserText::kRetrievalDocumentUnreadable, "Document de récupération illisible : {1}"},
    {UserText::kQuoteUnreadable, "Devis illisible : {1}"},
    {UserText::kRetrievalDocumentUnusable,
     "Document de récupération inutilisable : {1} Rien n'a été écrit dans le fichier d'échange."},
    {UserText::kQuoteServiceStatus,
     "Erreur lumivane : le service des devis a répondu avec le code {1}, rien n'a été écrit."},
    {UserText::kQuoteNull,
     "Erreur lumivane : le service des devis n'a renvoyé aucun devis (réponse null), rien n'a "
     "été écrit."},
    {UserText::kQuoteIncomplete,
     "Erreur lumivane : le devis reçu est vide ou incomplet (en-tête ou lignes absents), rien "
     "n'a été écrit."},
    {UserText::kNoConfigurateurElement,
     "Erreur lumivane : le document de récupération n'a pas d'élément Configurateur, rien n'a "
     "été écrit."},
    {UserText::kPictureFailed, "Une erreur est survenue lors du téléchargement de l'image"},
    {UserText::kMorePicturesFailed,
     "Une erreur est survenue lors du téléchargement de {1} autres images : leurs lignes sont "
     "écrites sans image."},
    {UserText::kPicturesTooLarge,
     "Les images du devis dépassent {1} Mo au total : la récupération est arrêtée, rien n'a été "
     "écrit dans le fichier d'échange."},

    // Files.
    {UserText::kCannotCreatePicturesFolder, "Impossible de créer le dossier des images {1} : {2}"},
    {UserText::kNorFolder, "{1}, ni le dossier {2} : {3}"},
    {UserText::kModuleFolderUnknown,
     "Le dossier du module est introuvable : les images du devis ne peuvent pas être "
     "enregistrées dans son dossier images."},
    {UserText::kCannotWriteFile, "Impossible d'écrire le fichier {1} : {2}"},
    {UserText::kCannotReadFile, "Impossible de lire le fichier {1} : {2}"},
    {UserText::kCannotWriteInFolder, "Impossible d'écrire dans le dossier {1} : {2}"},

    // Anything else.
    {UserText::kUnexpectedError, "Une erreur inattendue est survenue."},

    // Windows: the system refused what the window needs.
    {UserText::kWindowNotCreated, "La fenêtre n'a pas pu être créée."},
    {UserText::kWindowFontMissing, "La police de la fenêtre est introuvable."},
    {UserText::kWindowPictureNotPrepared,
     "L'image du configurateur n'a pas pu être préparée ({1})."},
}};

constexpr bool EachUnderItsName() {
  for (std::size_t i = 0; i < kTexts.size(); ++i) {
    if (kTexts[i].name != static_cast<UserText>(i) || kTexts[i].text.empty()) return false;
  }
  return true;
}
static_assert(EachUnderItsName(), "every name has its text, in the order of the names");

}  // namespace

std::string_view UserTextTemplate(UserText text) {
  const auto index = static_cast<std::size_t>(text);
  return index < kTexts.size() ? kTexts[index].text : std::string_view();
}

std::string UserMessage(UserText text, std::initializer_list<std::string_view> values) {
  const std::string_view form = UserTextTemplate(text);
  std::string out;
  std::size_t pos = 0;
  while (pos < form.size()) {
    const std::size_t open = form.find('{', pos);
    out += form.substr(pos, open - pos);
    if (open == std::string_view::npos) break;
    const bool placeholder = open + 2 < form.size() && form[open + 1] >= '1' &&
                             form[open + 1] <= '9' && form[open + 2] == '}';
    const std::size_t n = placeholder ? static_cast<std::size_t>(form[open + 1] - '0') : 0;
    if (n != 0 && n <= values.size()) {
      out += values.begin()[n - 1];
      pos = open + 3;
    } else {
      out += '{';
      pos = open + 1;
    }
  }
  return out;
}

}  // namespace lumivane::text
