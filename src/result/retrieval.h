#pragma once

#include <functional>
#include <string>

#include "http/transport.h"
#include "quote/pictures.h"
#include "quote/quote.h"

namespace lumivane::result {

struct RetrievalInputs {
  std::string url_recuperation;
  std::string quote_service_base;
  std::string jeton;
  std::string fichier_temp;
  // Set by "Annuler" and the close box: the retrieval stops, and the exchange
  // file is left as it was unless it is already in place. Not owned.
  const base::CancellationToken* annulation = nullptr;
};

struct RetrievalOutcome {
  enum class Kind {
    Written,           // exchange file replaced; close
    ClosedWithMessage  // nothing written; show `message`, then close
  };
  Kind kind = Kind::Written;
  std::string message;
  std::string devis_id;  // for the window's FDevisId
};

// What the user sees of a retrieval under way: "Récupération du devis…",
// then "Images : 12 / 50".
using Avancement = std::function<void(const std::string& texte)>;

// The network half of a retrieval, fit for a worker thread: the retrieval
// document, the quote, and every picture downloaded into the pictures folder
// (not yet named). Ready when `kind` is Written.
struct Preparation {
  RetrievalOutcome::Kind kind = RetrievalOutcome::Kind::Written;
  std::string message;
  std::string devis_id;
  std::string document;
  std::string content_type;
  quote::Devis devis;
};

// Retrieval document with `document_client`, quote request with `quote_client`, quote
// content, pictures. Errors that leave the window open (HTTP, XML, files)
// are thrown, OperationCancelled when the clients' token is set;
// `devis_id_out` is set as soon as the id is known.
Preparation PreparerRecuperation(const RetrievalInputs& inputs, http::HttpClient& quote_client,
                                 http::HttpClient& document_client,
                                 quote::PictureDownloader& pictures, std::string& devis_id_out,
                                 const Avancement& avancement = {});

// The local half, beside the window like the first: each line's picture
// named in line order (its failure message given to the pictures' message
// port then), the names made durable, then the exchange file replaced. A
// failure, or the token set before the exchange file is in place, removes
// this retrieval's pictures.
RetrievalOutcome TerminerRecuperation(const Preparation& preparation, const RetrievalInputs& inputs,
                                      quote::PictureDownloader& pictures);

// The whole retrieval of one press of "Récupérer le devis", both halves.
RetrievalOutcome RecupererDevis(const RetrievalInputs& inputs, http::HttpClient& quote_client,
                                http::HttpClient& document_client,
                                quote::PictureDownloader& pictures, std::string& devis_id_out);

}  // namespace lumivane::result
