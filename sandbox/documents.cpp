#include "documents.hpp"

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

namespace lumivane::sandbox {
namespace {

struct StringWriter : pugi::xml_writer {
  std::string text;
  void write(const void* data, size_t size) override {
    text.append(static_cast<const char*>(data), size);
  }
};

// Without indentation, like the services the module talks to.
std::string serialise(const pugi::xml_document& document) {
  StringWriter writer;
  document.save(writer, "", pugi::format_raw | pugi::format_no_declaration);
  return writer.text;
}

void add_declaration(pugi::xml_document& document, const char* encoding) {
  auto declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = encoding;
}

// Adds <name>value</name>, or the attribute name="value" when `as_attribute`.
void add_value(pugi::xml_node parent, const char* name, const std::string& value,
               bool as_attribute) {
  if (as_attribute) {
    parent.append_attribute(name) = value.c_str();
  } else {
    parent.append_child(name).text() = value.c_str();
  }
}

std::string odd_url(const std::string& url) {
  return url + (url.find('?') == std::string::npos ? "?" : "&") +
         "note=" + std::string(odd_characters);
}

}  // namespace

std::string odd_value(std::string_view value) {
  return std::string(value) + " " + std::string(odd_characters);
}

std::string utf8_to_latin1(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (length == 1 || i + length > text.size()) {
      out += text[i++];
      continue;
    }
    char32_t code = lead & (0xFF >> (length + 1));
    for (size_t k = 1; k < length; ++k) {
      code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    if (code <= 0xFF) {
      out += static_cast<char>(code);
    } else {
      out += "&#" + std::to_string(static_cast<unsigned long>(code)) + ";";
    }
    i += length;
  }
  return out;
}

std::string truncated(std::string_view text) {
  const auto last_tag = text.rfind('<');
  return std::string(
      text.substr(0, last_tag == std::string_view::npos ? text.size() / 2 : last_tag));
}

std::string gateway_answer(const std::string& token, const std::string& base,
                           std::string_view kind) {
  const bool odd = kind == "odd";
  const bool as_attributes = kind == "attributes";
  std::string connection = base + "/configurateur?jeton=" + token;
  std::string retrieval = base + "/recuperation?jeton=" + token;
  if (odd) {
    connection = odd_url(connection);
    retrieval = odd_url(retrieval);
  }
  pugi::xml_document document;
  auto root = document.append_child(kind == "missing" ? "Reponse" : "Configurateur");
  add_value(root, "Jeton", odd ? odd_value(token) : token, as_attributes);
  add_value(root, "UrlConnexion", connection, as_attributes);
  add_value(root, "UrlRecuperation", retrieval, as_attributes);
  const auto text = serialise(document);
  return kind == "malformed" ? truncated(text) : text;
}

std::string gateway_refusal() { return "<Erreur>Identifiant ou mot de passe incorrect</Erreur>"; }

std::string retrieval_document(const std::string& quote_id, std::string_view kind) {
  const bool odd = kind == "odd";
  const bool as_attributes = kind == "attributes";
  pugi::xml_document document;
  add_declaration(document, "ISO-8859-1");
  auto root = document.append_child(kind == "missing" ? "Recuperation" : "Configurateur");
  add_value(root, "Project", odd ? odd_value(quote_id) : quote_id, as_attributes);
  add_value(root, "Passerelle", odd ? odd_value("lumivane") : "lumivane", as_attributes);
  const auto text = utf8_to_latin1(serialise(document));
  return kind == "malformed" ? truncated(text) : text;
}

std::string quote_xml(const Quote& quote, std::string_view kind) {
  const bool odd = kind == "odd";
  const bool as_attributes = kind == "attributes";
  const auto value = [odd](const std::string& text) { return odd ? odd_value(text) : text; };

  pugi::xml_document document;
  auto header = document.append_child(kind == "no-header" ? "Sales_Document" : "Sales_Header");
  add_value(header, "No", value(quote.number), as_attributes);
  auto lines = header.append_child(kind == "no-lines" ? "Sales_Lines" : "GeneralData_Sales_Lines");
  for (const auto& line : quote.lines) {
    auto element = lines.append_child("Line");
    auto general = element.append_child("GeneralData");
    add_value(general, "Unit_Price", value(line.unit_price), as_attributes);
    add_value(general, "Quantity", value(line.quantity), as_attributes);
    add_value(general, "Picture_Path",
              odd && !line.picture_path.empty() ? odd_url(line.picture_path) : line.picture_path,
              as_attributes);
    add_value(general, "Designation", value(line.designation), as_attributes);
    auto information = element.append_child("Informations_supp").append_child("Information_supp");
    add_value(information, "Description", value(line.description), as_attributes);
  }
  const auto text = serialise(document);
  return kind == "malformed-xml" ? truncated(text) : text;
}

std::string quote_answer(const std::string& xml, std::string_view kind) {
  using nlohmann::json;
  if (kind == "missing") return json{{"Result", xml}}.dump();
  if (kind == "not-object") return json::array({xml}).dump();
  if (kind == "not-string") return json{{"GetDataQuoteResult", nullptr}}.dump();
  const auto text = json{{"GetDataQuoteResult", xml}}.dump();
  // Lost halfway through the string: no closing quote, no closing brace.
  return kind == "malformed" ? text.substr(0, text.size() / 2) : text;
}

}  // namespace lumivane::sandbox
