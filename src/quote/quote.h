#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/http_transport.h"
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

// Text of Configurateur/Project of the retrieval document (its bytes as
// received, decoded by their declaration, else `content_type`'s charset);
// empty when absent.
std::string LireDevisId(const std::string& retrieval_document,
                        const std::string& content_type = {});

// {"QUOTE_ID" : "<id>","key" : "<key>"} with the id escaped as a JSON string.
std::string CorpsRequeteDevis(const std::string& devis_id);

struct ReponseDevis {
  long status = 0;
  std::string body;
};

// POSTs the request for `devis_id` with `http` (basic authentication with
// empty credentials, application/json in utf-8).
ReponseDevis DemanderDevis(platform::HttpClient& http, const std::string& quote_service_base,
                           const std::string& devis_id);

// The string content of "GetDataQuoteResult"; empty when the body is not a
// JSON object or the member is absent or not a string.
std::string ExtraireTexteDevis(const std::string& answer_body);

// Reads the quote number and the lines. False when there is no top-level
// Sales_Header or it has no GeneralData_Sales_Lines child.
bool LireDevis(const std::string& quote_text, Devis& devis);

}  // namespace lumivane::quote
