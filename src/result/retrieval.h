#pragma once

#include <string>

#include "platform/http_client.h"
#include "quote/pictures.h"

namespace lumivane::result {

struct RetrievalInputs {
  std::string url_recuperation;
  std::string quote_service_base;
  std::string jeton;
  std::string fichier_temp;
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

// The whole retrieval of one press of "Récupérer le devis": retrieval document
// with `http2`, quote request with `http1`, quote content, pictures, exchange
// file. Errors that leave the window open (HTTP, XML, files) are thrown;
// `devis_id_out` is set as soon as the id is known.
RetrievalOutcome RecupererDevis(const RetrievalInputs& inputs, platform::HttpClient& http1,
                                platform::HttpClient& http2, quote::PictureDownloader& pictures,
                                std::string& devis_id_out);

}  // namespace lumivane::result
