#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <string>

#include "quote/quote.h"

namespace lumivane::result {

using Telecharger = std::function<std::optional<std::string>(const std::string& url)>;

// A retrieval document checked and made ready to become the exchange file:
// declared "ISO-8859-1", what XML 1.0 cannot carry left out. Made by
// VerifierResultat only, used once by ConstruireResultat.
class ResultDocument {
 public:
  ResultDocument(ResultDocument&&) noexcept = default;
  ResultDocument& operator=(ResultDocument&&) noexcept = default;

 private:
  explicit ResultDocument(std::unique_ptr<pugi::xml_document> tree) : tree_(std::move(tree)) {}
  std::unique_ptr<pugi::xml_document> tree_;

  friend std::optional<ResultDocument> VerifierResultat(quote::RetrievalDocument document);
  friend std::string ConstruireResultat(ResultDocument document, const quote::Devis& devis,
                                        const std::string& jeton, const Telecharger& telecharger);
};

// Whether the retrieval document can become the exchange file: nothing
// without a top-level Configurateur. Throws quote::XmlError when it cannot be
// read whole (its `unreadable_whole`), or cannot be written back as a
// well-formed exchange file (a name ISO-8859-1 cannot hold, a DOCTYPE, two
// roots...).
std::optional<ResultDocument> VerifierResultat(quote::RetrievalDocument document);

// The result document text (UTF-8, as pugixml serialises it): one Menuiserie
// per line appended under Configurateur. `telecharger` is called for each
// line with a picture URL, in line order, before that line's element is added.
std::string ConstruireResultat(ResultDocument document, const quote::Devis& devis,
                               const std::string& jeton, const Telecharger& telecharger);

// The exchange file's bytes: ISO-8859-1, characters beyond as references, a
// CR as a reference, characters XML 1.0 cannot carry left out, then CR LF.
std::string OctetsFichierEchange(const std::string& document_utf8);

}  // namespace lumivane::result
