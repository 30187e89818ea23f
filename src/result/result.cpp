#include "result/result.h"

#include <pugixml.hpp>

#include "platform/encoding.h"
#include "platform/files.h"
#include "quote/xml_text.h"

namespace lumivane::result {

namespace {

constexpr const char* kEncodage = "ISO-8859-1";

// True when the UTF-8 text holds a character beyond U+00FF: every such
// character starts with a byte of 0xC4 or more.
bool HorsLatin1(const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (static_cast<unsigned char>(*p) >= 0xC4) {
      return true;
    }
  }
  return false;
}

// A CDATA section cannot carry a character reference: the ones whose text
// the exchange file's code page cannot hold become plain text, escaped.
void CdataEnTexte(pugi::xml_node node) {
  for (pugi::xml_node child = node.first_child(); child;) {
    const pugi::xml_node next = child.next_sibling();
    if (child.type() == pugi::node_cdata && HorsLatin1(child.value())) {
      node.insert_child_before(pugi::node_pcdata, child).set_value(child.value());
      node.remove_child(child);
    } else if (child.type() == pugi::node_element) {
      CdataEnTexte(child);
    }
    child = next;
  }
}

void DeclarerEncodage(pugi::xml_document& doc) {
  for (pugi::xml_node node : doc.children()) {
    if (node.type() != pugi::node_declaration) {
      continue;
    }
    if (pugi::xml_attribute encoding = node.attribute("encoding")) {
      encoding.set_value(kEncodage);
    } else if (pugi::xml_attribute version = node.attribute("version")) {
      node.insert_attribute_after("encoding", version).set_value(kEncodage);
    } else {
      node.prepend_attribute("encoding").set_value(kEncodage);
    }
    return;
  }
  pugi::xml_node declaration = doc.prepend_child(pugi::node_declaration);
  declaration.append_attribute("version").set_value("1.0");
  declaration.append_attribute("encoding").set_value(kEncodage);
}

void AjouterEnfant(pugi::xml_node parent, const char* name, const std::string& text) {
  // Always a text child, even an empty one: the element is written with its
  // start and end tags.
  parent.append_child(name).text().set(text.c_str());
}

struct StringWriter : pugi::xml_writer {
  std::string text;
  void write(const void* data, std::size_t size) override {
    text.append(static_cast<const char*>(data), size);
  }
};

}  // namespace

std::optional<std::string> ConstruireResultat(const std::string& retrieval_document,
                                              const quote::Devis& devis, const std::string& jeton,
                                              const Telecharger& telecharger) {
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed =
      quote::ChargerXml(doc, retrieval_document, pugi::parse_full | pugi::parse_ws_pcdata);
  if (!parsed) {
    throw quote::XmlError(std::string("Document de récupération illisible : ") +
                          parsed.description());
  }
  pugi::xml_node configurateur = doc.child("Configurateur");
  if (!configurateur) {
    return std::nullopt;
  }
  DeclarerEncodage(doc);
  CdataEnTexte(doc);

  for (const quote::LigneDevis& ligne : devis.Lignes) {
    std::string image;
    if (!ligne.Picture_Path.empty() && telecharger) {
      image = telecharger(ligne.Picture_Path).value_or(std::string());
    }
    pugi::xml_node menuiserie = configurateur.append_child("Menuiserie");
    menuiserie.append_attribute("id").set_value(ligne.Numero);
    AjouterEnfant(menuiserie, "Jeton", jeton);
    AjouterEnfant(menuiserie, "Project", devis.Numero);
    AjouterEnfant(menuiserie, "Libelle", ligne.Description);
    AjouterEnfant(menuiserie, "Designation", ligne.Designation);
    AjouterEnfant(menuiserie, "PrixUnitaire", ligne.Unit_Price);
    AjouterEnfant(menuiserie, "Quantite", ligne.Quantity);
    AjouterEnfant(menuiserie, "Image", image);
  }

  StringWriter writer;
  doc.save(writer, "", pugi::format_raw, pugi::encoding_utf8);
  return std::move(writer.text);
}

std::string OctetsFichierEchange(const std::string& document_utf8) {
  return platform::Utf8ToLatin1WithReferences(document_utf8) + "\r\n";
}

bool EcrireResultat(const std::string& retrieval_document, const quote::Devis& devis,
                    const std::string& jeton, const std::string& fichier_temp,
                    const Telecharger& telecharger) {
  const std::optional<std::string> document =
      ConstruireResultat(retrieval_document, devis, jeton, telecharger);
  if (!document) {
    return false;
  }
  platform::ReplaceFileContents(fichier_temp, OctetsFichierEchange(*document));
  return true;
}

}  // namespace lumivane::result
