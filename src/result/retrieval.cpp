#include "result/retrieval.h"

#include <stdexcept>

#include "http/url.h"
#include "platform/files.h"
#include "report/journal.h"
#include "result/result.h"
#include "xml/document.h"

namespace lumivane::result {

namespace {

Preparation Fermer(std::string message, const std::string& devis_id) {
  report::journal::Note("fichier d'échange inchangé : " + message);
  Preparation preparation;
  preparation.kind = RetrievalOutcome::Kind::ClosedWithMessage;
  preparation.message = std::move(message);
  preparation.devis_id = devis_id;
  return preparation;
}

// A document the parser refuses is named with the server that sent it, for
// whoever supports the user.
template <typename Lire>
auto AvecServeur(const std::string& url, Lire&& lire) {
  try {
    return lire();
  } catch (const xml::XmlError& error) {
    throw xml::XmlError(std::string(error.what()) + " (serveur " + http::ServerOf(url) + ")");
  }
}

}  // namespace

Preparation PreparerRecuperation(const RetrievalInputs& inputs, http::HttpClient& quote_client,
                                 http::HttpClient& document_client,
                                 quote::PictureDownloader& pictures, std::string& devis_id_out,
                                 const Avancement& avancement) {
  // The gateway failed at start (its error was shown): say so plainly rather
  // than report a request to an empty address.
  if (inputs.url_recuperation.empty()) {
    throw std::runtime_error(
        "Aucune adresse de récupération du devis : la passerelle n'a pas répondu à "
        "l'ouverture du module. Fermez le module et relancez-le depuis votre logiciel de devis.");
  }
  if (avancement) avancement("Récupération du devis\u2026");
  report::journal::Note("récupération du devis demandée");
  // What a run that died left beside the exchange file goes (the pictures
  // folder is cleaned when it is chosen).
  const std::size_t separator = inputs.fichier_temp.find_last_of(platform::kPathSeparators);
  if (separator != std::string::npos) {
    quote::RemoveLeftovers(inputs.fichier_temp.substr(0, separator + 1), false);
  }
  Preparation preparation;
  // The document's text is kept: the result is built from a second parse.
  preparation.document = document_client.Get(inputs.url_recuperation);
  preparation.content_type = document_client.ContentType();
  preparation.devis_id = AvecServeur(inputs.url_recuperation, [&] {
    return quote::LireDevisId(preparation.document, preparation.content_type);
  });
  devis_id_out = preparation.devis_id;
  const std::string& devis_id = preparation.devis_id;

  const quote::ReponseDevis reponse =
      quote::DemanderDevis(quote_client, inputs.quote_service_base, devis_id);
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
  const bool lu = AvecServeur(inputs.quote_service_base, [&] {
    return quote::LireDevis(quote::ExtraireTexteDevis(reponse.body), preparation.devis);
  });
  if (!lu) {
    return Fermer(
        "Erreur lumivane : le devis reçu est vide ou incomplet (en-tête ou lignes absents), "
        "rien n'a été écrit.",
        devis_id);
  }
  // Before any picture is downloaded: a document that cannot become the
  // exchange file is known now.
  if (!VerifierResultat(preparation.document, preparation.content_type)) {
    return Fermer(
        "Erreur lumivane : le document de récupération n'a pas d'élément Configurateur, "
        "rien n'a été écrit.",
        devis_id);
  }

  std::vector<std::string> urls;
  for (const quote::LigneDevis& ligne : preparation.devis.Lignes) {
    if (!ligne.Picture_Path.empty()) urls.push_back(ligne.Picture_Path);
  }
  if (avancement) {
    pictures.SetProgress([&avancement](std::size_t done, std::size_t total) {
      avancement("Images : " + std::to_string(done) + " / " + std::to_string(total));
    });
  }
  report::journal::Note("images : à télécharger pour " + std::to_string(urls.size()) +
                        " ligne(s) sur " + std::to_string(preparation.devis.Lignes.size()) + ", " +
                        std::to_string(quote::kPictureTransfersAtOnce) + " à la fois par serveur");
  try {
    pictures.Prefetch(urls);
  } catch (...) {
    pictures.RemoveStoredPictures();
    pictures.SetProgress({});
    throw;
  }
  pictures.SetProgress({});
  if (!urls.empty()) report::journal::Note("images : dossier " + pictures.folder());
  return preparation;
}

RetrievalOutcome TerminerRecuperation(const Preparation& preparation, const RetrievalInputs& inputs,
                                      quote::PictureDownloader& pictures) {
  RetrievalOutcome outcome;
  outcome.kind = preparation.kind;
  outcome.message = preparation.message;
  outcome.devis_id = preparation.devis_id;
  if (preparation.kind != RetrievalOutcome::Kind::Written) return outcome;

  const quote::Devis& devis = preparation.devis;
  try {
    const std::optional<std::string> document = ConstruireResultat(
        preparation.document, devis, inputs.jeton,
        [&](const std::string& url) { return pictures.TelechargerImage(url, devis.Numero); },
        preparation.content_type);
    if (!document) {
      report::journal::Note("fichier d'échange inchangé : pas d'élément Configurateur");
      outcome.kind = RetrievalOutcome::Kind::ClosedWithMessage;
      outcome.message =
          "Erreur lumivane : le document de récupération n'a pas d'élément Configurateur, "
          "rien n'a été écrit.";
      return outcome;
    }
    pictures.ReportRemainingFailures();
    // The host reads the pictures once the exchange file is there.
    pictures.Sync();
    const std::string bytes = OctetsFichierEchange(*document);
    platform::ReplaceFileContents(inputs.fichier_temp, bytes, inputs.annulation);
    pictures.HandOver();
    report::journal::Note("fichier d'échange écrit : " + inputs.fichier_temp + ", " +
                          std::to_string(bytes.size()) + " octets");
  } catch (const std::exception& error) {
    report::journal::Note(std::string("fichier d'échange inchangé : ") + error.what());
    pictures.RemoveStoredPictures();
    throw;
  } catch (...) {
    pictures.RemoveStoredPictures();
    throw;
  }
  return outcome;
}

RetrievalOutcome RecupererDevis(const RetrievalInputs& inputs, http::HttpClient& quote_client,
                                http::HttpClient& document_client,
                                quote::PictureDownloader& pictures, std::string& devis_id_out) {
  const Preparation preparation =
      PreparerRecuperation(inputs, quote_client, document_client, pictures, devis_id_out);
  return TerminerRecuperation(preparation, inputs, pictures);
}

}  // namespace lumivane::result
