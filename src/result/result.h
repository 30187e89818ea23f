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
// The document's bytes are decoded as received (its declaration, else
// `content_type`'s charset). Throws quote::XmlError when the text cannot be
// read, or cannot be written back as a well-formed exchange file (a name
// ISO-8859-1 cannot hold, a DOCTYPE, two roots...): nothing is downloaded then.
std::optional<std::string> ConstruireResultat(const std::string& retrieval_document,
                                              const quote::Devis& devis, const std::string& jeton,
                                              const Telecharger& telecharger,
                                              const std::string& content_type = {});

// Whether the retrieval document can become the exchange file: false without
// a top-level Configurateur; throws as ConstruireResultat does when it cannot
// be read or written back.
bool VerifierResultat(const std::string& retrieval_document, const std::string& content_type = {});

// The exchange file's bytes: ISO-8859-1, characters beyond as references, a
// CR as a reference, characters XML 1.0 cannot carry left out, then CR LF.
std::string OctetsFichierEchange(const std::string& document_utf8);

}  // namespace lumivane::result
