#pragma once

#include <functional>
#include <string>

#include "http/transport.h"
#include "quote/pictures.h"

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

// How one retrieval ended, the one thing the window is told of it.
struct RetrievalOutcome {
  enum class Kind {
    Written,    // exchange file replaced; the window closes
    Cancelled,  // "Annuler" or the close box stopped it; nothing written, nothing to show
    Failed      // nothing written; the window shows `message`
  };
  Kind kind = Kind::Written;
  // Failed: what the user reads (a thrown error's text, or
  // text::UserText::kUnexpectedError for what has none).
  std::string message;
  // Failed: the window closes after the message (the quote service gave no
  // quote, the document is not the configurator's); otherwise it stays open
  // for another try (network, XML, files).
  bool closes_window = false;
  std::string devis_id;  // for the window's FDevisId; empty until the document was read
};

// What the user sees of a retrieval under way: "Récupération du devis…",
// then "Images : 12 / 50".
using Avancement = std::function<void(const std::string& texte)>;

// The whole retrieval of one press of "Récupérer le devis", fit for a worker
// thread: the retrieval document with `document_client` (read once), the
// quote with `quote_client`, every picture downloaded into the pictures
// folder; then each line's picture named in line order (its failure message
// given to the pictures' message port then), the names made durable, and the
// exchange file replaced. What fails on the way, and the token set before
// the exchange file is in place, becomes the outcome rather than an error:
// noted in the journal ("fichier d'échange inchangé : …"), it removes this
// retrieval's pictures.
RetrievalOutcome RecupererDevis(const RetrievalInputs& inputs, http::HttpClient& quote_client,
                                http::HttpClient& document_client,
                                quote::PictureDownloader& pictures,
                                const Avancement& avancement = {});

}  // namespace lumivane::result
