#include "quote/quote.h"

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "http/endpoints.h"
#include "report/secrets.h"
#include "text/user_texts.h"
#include "xml/document.h"

namespace lumivane::quote {

namespace {

using xml::TextOf;

constexpr auto kIllisible = text::UserText::kRetrievalDocumentUnreadable;

// The first child element named `name`: a processing instruction of that
// name does not count.
pugi::xml_node ChildElement(const pugi::xml_node& parent, const char* name) {
  for (const pugi::xml_node& child : parent.children()) {
    if (child.type() == pugi::node_element && std::string_view(child.name()) == name) return child;
  }
  return {};
}

}  // namespace

RetrievalDocument ReadRetrievalDocument(std::string_view bytes, std::string_view content_type) {
  const std::string text = xml::DecodeDocument(bytes, content_type, kIllisible);
  RetrievalDocument document;
  document.tree = std::make_unique<pugi::xml_document>();
  try {
    xml::ParseText(*document.tree, text, pugi::parse_full | pugi::parse_ws_pcdata, kIllisible);
  } catch (const XmlError& whole) {
    // The parser is stricter with declarations and processing instructions
    // it keeps than with those it skips: read without them, the document
    // may still give its id, and only its copy into the exchange file fails.
    document.tree = std::make_unique<pugi::xml_document>();
    xml::ParseText(*document.tree, text, xml::kReadOptions, kIllisible);
    document.unreadable_whole = whole.what();
  }
  return document;
}

std::string LireDevisId(const RetrievalDocument& document) {
  return TextOf(ChildElement(ChildElement(*document.tree, "Configurateur"), "Project"));
}

std::string CorpsRequeteDevis(const std::string& devis_id) {
  report::AddSecret(kServiceKey);
  // UTF-8 stays as is; bytes that are not UTF-8 become U+FFFD rather than
  // failing the request.
  const std::string id =
      nlohmann::json(devis_id).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return std::string("{\"QUOTE_ID\" : ") + id + ",\"key\" : \"" + kServiceKey + "\"}";
}

ReponseDevis DemanderDevis(http::HttpClient& http, const std::string& quote_service_base,
                           const std::string& devis_id) {
  http.SetBasicAuthentication(true);
  ReponseDevis reponse;
  reponse.body = http.Post(quote_service_base + http::kQuoteServicePath,
                           CorpsRequeteDevis(devis_id), "application/json", "utf-8");
  reponse.status = http.ResponseCode();
  return reponse;
}

std::string ExtraireTexteDevis(const std::string& answer_body) {
  const nlohmann::json answer = nlohmann::json::parse(answer_body, nullptr, false);
  if (!answer.is_object()) {
    return {};
  }
  const auto member = answer.find("GetDataQuoteResult");
  if (member == answer.end() || !member->is_string()) {
    return {};
  }
  return member->get<std::string>();
}

bool LireDevis(const std::string& quote_text, Devis& devis) {
  devis = Devis{};
  if (quote_text.empty()) {
    return false;
  }
  // The quote text is already decoded: whatever its declaration names, its
  // characters are UTF-8.
  pugi::xml_document doc;
  xml::ParseText(doc, quote_text, xml::kReadOptions, text::UserText::kQuoteUnreadable);

  const pugi::xml_node header = doc.child("Sales_Header");
  if (!header) {
    return false;
  }
  const pugi::xml_node container = header.child("GeneralData_Sales_Lines");
  if (!container) {
    return false;
  }
  devis.Numero = TextOf(header.child("No"));

  int numero = 0;
  for (const pugi::xml_node& line : container.children()) {
    if (line.type() != pugi::node_element) {
      continue;
    }
    LigneDevis ligne;
    ligne.Numero = ++numero;
    if (const pugi::xml_node data = line.child("GeneralData")) {
      ligne.Unit_Price = TextOf(data.child("Unit_Price"));
      ligne.Quantity = TextOf(data.child("Quantity"));
      ligne.Picture_Path = TextOf(data.child("Picture_Path"));
      ligne.Designation = TextOf(data.child("Designation"));
    }
    ligne.Description =
        TextOf(line.child("Informations_supp").child("Information_supp").child("Description"));
    devis.Lignes.push_back(std::move(ligne));
  }
  return true;
}

}  // namespace lumivane::quote
