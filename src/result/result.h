#pragma once

#include <functional>
#include <optional>
#include <string>

#include "quote/quote.h"

namespace lumivane::result {

using Telecharger = std::function<std::optional<std::string>(const std::string& url)>;

// Builds the result document text (UTF-8, as pugixml serialises it) from the
// retrieval document: declared "ISO-8859-1", one Menuiserie per line appended
// under Configurateur. `telecharger` is called for each line with a picture
// URL, in line order, before that line's element is added. Returns nothing
// when the document has no top-level Configurateur (no download is made then).
// Throws quote::XmlError when the text is not well-formed.
std::optional<std::string> ConstruireResultat(const std::string& retrieval_document,
                                              const quote::Devis& devis,
                                              const std::string& jeton,
                                              const Telecharger& telecharger);

// The exchange file's bytes: ISO-8859-1, characters beyond as references,
// then CR LF.
std::string OctetsFichierEchange(const std::string& document_utf8);

// Builds the result and replaces the exchange file with it. False (nothing
// written) when the retrieval document has no Configurateur.
bool EcrireResultat(const std::string& retrieval_document, const quote::Devis& devis,
                    const std::string& jeton, const std::string& fichier_temp,
                    const Telecharger& telecharger);

}  // namespace lumivane::result
