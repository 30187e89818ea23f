#pragma once

#include <memory>
#include <pugixml.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "http/transport.h"
#include "xml/document.h"

namespace lumivane::quote {

inline constexpr const char* kServiceKey = "5A3D19E0-7C42-4B8E-9F16-2D0B7E4C8A51";

// A document that is not well-formed XML, or not in an encoding the module
// reads.
using XmlError = xml::XmlError;

struct LigneDevis {
  int Numero = 0;  // 1-based position among the quote's lines
  std::string Unit_Price;
  std::string Quantity;
  std::string Picture_Path;
  std::string Designation;
  std::string Description;
};

struct Devis {
  std::string Numero;  // Sales_Header/No
  std::vector<LigneDevis> Lignes;
};

// The retrieval document, read once: its bytes as received, decoded by their
// declaration, else `content_type`'s charset, then parsed with every node
// kept (declarations, comments, processing instructions, document type), as
// the exchange file copies it.
struct RetrievalDocument {
  std::unique_ptr<pugi::xml_document> tree;
  // Not empty when the parser takes the document only without its
  // declarations and processing instructions (a declaration inside an
  // element, one whose pseudo-attributes are malformed...): `tree` then holds
  // that reading, which gives the quote id, and this is the XmlError's text
  // the document gives when it is to become the exchange file.
  std::string unreadable_whole;
};

// Throws XmlError("Document de récupération illisible : …") when the bytes
// are not in an encoding the module reads, or are not XML even without the
// declarations and processing instructions.
RetrievalDocument ReadRetrievalDocument(std::string_view bytes, std::string_view content_type = {});

// Text of Configurateur/Project of the retrieval document, the first
// elements of these names; empty when absent.
std::string LireDevisId(const RetrievalDocument& document);

// {"QUOTE_ID" : "<id>","key" : "<key>"} with the id escaped as a JSON string.
std::string CorpsRequeteDevis(const std::string& devis_id);

struct ReponseDevis {
  long status = 0;
  std::string body;
};

// POSTs the request for `devis_id` with `http` (basic authentication with
// empty credentials, application/json in utf-8).
ReponseDevis DemanderDevis(http::HttpClient& http, const std::string& quote_service_base,
                           const std::string& devis_id);

// The string content of "GetDataQuoteResult"; empty when the body is not a
// JSON object or the member is absent or not a string.
std::string ExtraireTexteDevis(const std::string& answer_body);

// Reads the quote number and the lines. False when there is no top-level
// Sales_Header or it has no GeneralData_Sales_Lines child.
bool LireDevis(const std::string& quote_text, Devis& devis);

}  // namespace lumivane::quote
