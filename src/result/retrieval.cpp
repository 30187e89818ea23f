#include "result/retrieval.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "http/url.h"
#include "platform/files.h"
#include "quote/quote.h"
#include "report/journal.h"
#include "text/user_texts.h"
#include "result/result.h"
#include "xml/document.h"

namespace lumivane::result {

namespace {

// A retrieval that ends with its message, then the window closes: the quote
// service gave no quote, or the document is not the configurator's.
class Fermeture : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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

void Commencer(const RetrievalInputs& inputs, const Avancement& avancement) {
  // The gateway failed at start (its error was shown): say so plainly rather
  // than report a request to an empty address.
  if (inputs.url_recuperation.empty()) {
    throw std::runtime_error(text::UserMessage(text::UserText::kNoRetrievalAddress));
  }
  if (avancement) avancement("Récupération du devis\u2026");
  report::journal::Note("récupération du devis demandée");
  // What a run that died left beside the exchange file goes (the pictures
  // folder is cleaned when it is chosen).
  const std::size_t separator = inputs.fichier_temp.find_last_of(platform::kPathSeparators);
  if (separator != std::string::npos) {
    quote::RemoveLeftovers(inputs.fichier_temp.substr(0, separator + 1), false);
  }
}

quote::RetrievalDocument LireDocument(const std::string& url_recuperation,
                                      http::HttpClient& document_client) {
  const std::string bytes = document_client.Get(url_recuperation);
  return AvecServeur(url_recuperation, [&] {
    return quote::ReadRetrievalDocument(bytes, document_client.ContentType());
  });
}

quote::Devis DemanderLeDevis(http::HttpClient& quote_client, const std::string& quote_service_base,
                             const std::string& devis_id) {
  const quote::ReponseDevis reponse =
      quote::DemanderDevis(quote_client, quote_service_base, devis_id);
  if (reponse.status != 200) {
    throw Fermeture(
        text::UserMessage(text::UserText::kQuoteServiceStatus, {std::to_string(reponse.status)}));
  }
  if (reponse.body == "null") {
    throw Fermeture(text::UserMessage(text::UserText::kQuoteNull));
  }
  quote::Devis devis;
  const bool lu = AvecServeur(quote_service_base, [&] {
    return quote::LireDevis(quote::ExtraireTexteDevis(reponse.body), devis);
  });
  if (!lu) {
    throw Fermeture(text::UserMessage(text::UserText::kQuoteIncomplete));
  }
  return devis;
}

// Every picture of the quote, into the pictures folder's private folder of
// this run, with their progress shown meanwhile.
void TelechargerImages(const quote::Devis& devis, quote::PictureDownloader& pictures,
                       const Avancement& avancement) {
  std::vector<std::string> urls;
  for (const quote::LigneDevis& ligne : devis.Lignes) {
    if (!ligne.Picture_Path.empty()) urls.push_back(ligne.Picture_Path);
  }
  struct Progression {
    quote::PictureDownloader& pictures;
    ~Progression() { pictures.SetProgress({}); }
  } progression{pictures};
  if (avancement) {
    pictures.SetProgress([&avancement](std::size_t done, std::size_t total) {
      avancement("Images : " + std::to_string(done) + " / " + std::to_string(total));
    });
  }
  report::journal::Note("images : à télécharger pour " + std::to_string(urls.size()) +
                        " ligne(s) sur " + std::to_string(devis.Lignes.size()) + ", " +
                        std::to_string(quote::kPictureTransfersAtOnce) + " à la fois par serveur");
  pictures.Prefetch(urls);
  if (!urls.empty()) report::journal::Note("images : dossier " + pictures.folder());
}

// The pictures named, made durable, then the exchange file replaced.
void EcrireFichierEchange(ResultDocument document, const quote::Devis& devis,
                          const RetrievalInputs& inputs, quote::PictureDownloader& pictures) {
  const std::string text = ConstruireResultat(
      std::move(document), devis, inputs.jeton,
      [&](const std::string& url) { return pictures.TelechargerImage(url, devis.Numero); });
  pictures.ReportRemainingFailures();
  // The host reads the pictures once the exchange file is there.
  pictures.Sync();
  const std::string bytes = OctetsFichierEchange(text);
  platform::ReplaceFileContents(inputs.fichier_temp, bytes, inputs.annulation);
  pictures.HandOver();
  report::journal::Note("fichier d'échange écrit : " + inputs.fichier_temp + ", " +
                        std::to_string(bytes.size()) + " octets");
}

// The retrieval's road; any failure is thrown, and the quote id is kept in
// `devis_id` as soon as it is known.
void Recuperer(const RetrievalInputs& inputs, http::HttpClient& quote_client,
               http::HttpClient& document_client, quote::PictureDownloader& pictures,
               const Avancement& avancement, std::string& devis_id) {
  Commencer(inputs, avancement);
  quote::RetrievalDocument document = LireDocument(inputs.url_recuperation, document_client);
  devis_id = quote::LireDevisId(document);
  const quote::Devis devis = DemanderLeDevis(quote_client, inputs.quote_service_base, devis_id);
  // Before any picture is downloaded: a document that cannot become the
  // exchange file is known now.
  std::optional<ResultDocument> resultat = VerifierResultat(std::move(document));
  if (!resultat) {
    throw Fermeture(text::UserMessage(text::UserText::kNoConfigurateurElement));
  }
  TelechargerImages(devis, pictures, avancement);
  EcrireFichierEchange(std::move(*resultat), devis, inputs, pictures);
}

}  // namespace

RetrievalOutcome RecupererDevis(const RetrievalInputs& inputs, http::HttpClient& quote_client,
                                http::HttpClient& document_client,
                                quote::PictureDownloader& pictures, const Avancement& avancement) {
  RetrievalOutcome outcome;
  std::string pourquoi;
  try {
    Recuperer(inputs, quote_client, document_client, pictures, avancement, outcome.devis_id);
    return outcome;
  } catch (const base::OperationCancelled& annulation) {
    outcome.kind = RetrievalOutcome::Kind::Cancelled;
    pourquoi = annulation.what();
  } catch (const Fermeture& fermeture) {
    outcome.kind = RetrievalOutcome::Kind::Failed;
    outcome.message = fermeture.what();
    outcome.closes_window = true;
  } catch (const std::exception& erreur) {
    outcome.kind = RetrievalOutcome::Kind::Failed;
    outcome.message = erreur.what();
  } catch (...) {
    outcome.kind = RetrievalOutcome::Kind::Failed;
    outcome.message = text::UserMessage(text::UserText::kUnexpectedError);
  }
  report::journal::Note("fichier d'échange inchangé : " +
                        (pourquoi.empty() ? outcome.message : pourquoi));
  pictures.RemoveStoredPictures();
  return outcome;
}

}  // namespace lumivane::result
