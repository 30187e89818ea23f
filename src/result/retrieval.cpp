#include "result/retrieval.h"

#include "result/result.h"

#include <stdexcept>

namespace lumivane::result {

namespace {

RetrievalOutcome Fermer(std::string message, const std::string& devis_id) {
  RetrievalOutcome outcome;
  outcome.kind = RetrievalOutcome::Kind::ClosedWithMessage;
  outcome.message = std::move(message);
  outcome.devis_id = devis_id;
  return outcome;
}

}  // namespace

RetrievalOutcome RecupererDevis(const RetrievalInputs& inputs, platform::HttpClient& http1,
                                platform::HttpClient& http2, quote::PictureDownloader& pictures,
                                std::string& devis_id_out) {
  // The gateway failed at start (its error was shown): say so plainly rather
  // than report a request to an empty address.
  if (inputs.url_recuperation.empty()) {
    throw std::runtime_error(
        "Aucune adresse de récupération du devis : la passerelle n'a pas répondu à "
        "l'ouverture du module. Fermez le module et relancez-le depuis votre logiciel de devis.");
  }
  // The document's text is kept: the result is built from a second parse.
  const std::string document = http2.Get(inputs.url_recuperation);
  const std::string content_type = http2.ContentType();
  const std::string devis_id = quote::LireDevisId(document, content_type);
  devis_id_out = devis_id;

  const quote::ReponseDevis reponse =
      quote::DemanderDevis(http1, inputs.quote_service_base, devis_id);
  if (reponse.status != 200) {
    return Fermer("Erreur lumivane : le service des devis a répondu avec le code " +
                      std::to_string(reponse.status) + ", rien n'a été écrit.",
                  devis_id);
  }
  if (reponse.body == "null") {
    return Fermer(
        "Erreur lumivane : le service des devis n'a renvoyé aucun devis (réponse null), "
        "rien n'a été écrit.",
        devis_id);
  }

  quote::Devis devis;
  if (!quote::LireDevis(quote::ExtraireTexteDevis(reponse.body), devis)) {
    return Fermer(
        "Erreur lumivane : le devis reçu est vide ou incomplet (en-tête ou lignes absents), "
        "rien n'a été écrit.",
        devis_id);
  }

  bool written = false;
  try {
    written = EcrireResultat(
        document, devis, inputs.jeton, inputs.fichier_temp,
        [&](const std::string& url) { return pictures.TelechargerImage(url, devis.Numero); },
        content_type);
  } catch (...) {
    pictures.SupprimerImagesEnregistrees();
    throw;
  }
  if (!written) {
    return Fermer(
        "Erreur lumivane : le document de récupération n'a pas d'élément Configurateur, "
        "rien n'a été écrit.",
        devis_id);
  }

  RetrievalOutcome outcome;
  outcome.kind = RetrievalOutcome::Kind::Written;
  outcome.devis_id = devis_id;
  return outcome;
}

}  // namespace lumivane::result
