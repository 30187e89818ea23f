#include "result/result.h"

#include <pugixml.hpp>

#include <algorithm>
#include <string_view>
#include <vector>

#include "text/compare.h"
#include "text/display.h"
#include "text/encoding.h"
#include "text/user_texts.h"
#include "xml/document.h"

namespace lumivane::result {

namespace {

constexpr const char* kEncodage = "ISO-8859-1";
constexpr const char* kDeclarationAilleurs =
    "une déclaration XML se trouve ailleurs qu'au début du document.";

// Characters XML 1.0 cannot carry, written or escaped: the C0 controls but
// TAB, LF and CR, and the two non-characters U+FFFE and U+FFFF.
bool HorsXml(char32_t c) {
  return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF;
}

// The text without the characters XML 1.0 cannot carry (pugixml would write
// them as references, which XML 1.0 forbids just as much).
std::string SansHorsXml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = pos;
    const char32_t c = text::NextCharacter(text, pos);
    if (HorsXml(c)) continue;
    // A byte that is no UTF-8 stays a replacement character of its own: the
    // bytes around a removed control must not join into another letter.
    if (c == 0xFFFD) {
      text::AppendUtf8(out, c);
    } else {
      out.append(text, start, pos - start);
    }
  }
  return out;
}

template <typename Node>
void NettoyerValeur(Node node) {
  const std::string_view value = node.value();
  const bool clean = std::none_of(value.begin(), value.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0xEF;  // a C0 control, or maybe U+FFFE / U+FFFF
  });
  if (!clean) node.set_value(SansHorsXml(value).c_str());
}

// Letters of XML names that ISO-8859-1 holds (the exchange file's code page).
bool DebutDeNom(char32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' ||
         (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0xFF);
}

bool SuiteDeNom(char32_t c) {
  return DebutDeNom(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7;
}

[[noreturn]] void Refuser(const std::string& detail) {
  throw xml::XmlError(text::UserMessage(text::UserText::kRetrievalDocumentUnusable, {detail}));
}

// A name is written as it stands in the exchange file: it must be a name
// there too, in characters ISO-8859-1 holds.
void VerifierNom(const char* name, const char* kind) {
  const std::string_view text(name);
  std::size_t pos = 0;
  bool first = true;
  while (pos < text.size()) {
    const char32_t c = text::NextCharacter(text, pos);
    if (c > 0xFF && c != 0xFFFD) {
      Refuser(std::string("le nom ") + kind + " « " + text::ServerWords(text) +
              " » contient un caractère que le fichier d'échange (ISO-8859-1) ne peut pas "
              "écrire.");
    }
    if (c > 0xFF || !(first ? DebutDeNom(c) : SuiteDeNom(c))) {
      Refuser(std::string("le nom ") + kind + " « " + text::ServerWords(text) +
              " » n'est pas un nom XML valide.");
    }
    first = false;
  }
  if (first) Refuser(std::string("un nom ") + kind + " est vide.");
}

bool ContientCaracterePour(const char* text, bool (*test)(char32_t)) {
  const std::string_view view(text);
  std::size_t pos = 0;
  while (pos < view.size()) {
    if (test(text::NextCharacter(view, pos))) return true;
  }
  return false;
}

// A CDATA section cannot carry a character reference: one holding characters
// the code page lacks, or a CR (which a reader would turn into LF), becomes
// plain text, escaped.
bool CdataAConvertir(char32_t c) { return c > 0xFF || c == '\r'; }

void VerifierElement(pugi::xml_node element) {
  VerifierNom(element.name(), "d'élément");
  std::vector<std::string_view> names;
  for (pugi::xml_attribute attribute : element.attributes()) {
    VerifierNom(attribute.name(), "d'attribut");
    NettoyerValeur(attribute);
    names.emplace_back(attribute.name());
  }
  std::sort(names.begin(), names.end());
  if (const auto twice = std::adjacent_find(names.begin(), names.end()); twice != names.end()) {
    Refuser("l'élément « " + text::ServerWords(element.name()) +
            " » porte deux fois l'attribut « " + text::ServerWords(*twice) + " ».");
  }
}

void VerifierInstruction(pugi::xml_node pi) {
  VerifierNom(pi.name(), "d'instruction de traitement");
  // A declaration parsed as an instruction: it is not at the start.
  if (text::EqualsIgnoringCase(pi.name(), "xml")) Refuser(kDeclarationAilleurs);
}

// The declaration names the exchange file's code page; version and
// standalone are kept when they are the usual ones.
void DeclarerEncodage(pugi::xml_document& doc) {
  pugi::xml_node declaration = doc.first_child();
  std::string version = "1.0";
  std::string standalone;
  if (declaration.type() == pugi::node_declaration) {
    for (const pugi::xml_attribute& attribute : declaration.attributes()) {
      const std::string_view name = attribute.name();
      const std::string_view value = attribute.value();
      if (name == "version") {
        const bool valid = value.size() > 2 && value.starts_with("1.") &&
                           value.find_first_not_of("0123456789", 2) == std::string_view::npos;
        if (!valid) {
          Refuser("la version XML « " + text::ServerWords(value) + " » n'est pas prise en charge.");
        }
        version = value;
      } else if (name == "standalone" && (value == "yes" || value == "no")) {
        standalone = value;
      } else if (name != "version" && name != "encoding") {
        Refuser("la déclaration XML porte une indication inconnue « " + text::ServerWords(name) +
                " ».");
      }
    }
    while (declaration.first_attribute())
      declaration.remove_attribute(declaration.first_attribute());
    // The parser takes "<?XML" or "<?Xml" for the declaration too; only
    // "<?xml" is one.
    declaration.set_name("xml");
  } else {
    declaration = doc.prepend_child(pugi::node_declaration);
  }
  declaration.append_attribute("version").set_value(version.c_str());
  declaration.append_attribute("encoding").set_value(kEncodage);
  if (!standalone.empty()) declaration.append_attribute("standalone").set_value(standalone.c_str());
}

// The XML declaration stands at the very start of the document only; a
// DOCTYPE is refused: its entities would not be expanded and its content not
// checked.
void VerifierDeclaration(pugi::xml_node node, const pugi::xml_document& doc) {
  if (node.type() == pugi::node_doctype) {
    Refuser(
        "le document contient une déclaration de type de document (DOCTYPE), que le "
        "module ne recopie pas.");
  }
  if (node != doc.first_child()) {
    Refuser(kDeclarationAilleurs);
  }
}

// Checks that the parsed document can be written back as a well-formed
// exchange file, and prepares what needs it. Iterative: a document may nest
// as deep as it likes.
void PreparerDocument(pugi::xml_document& doc) {
  int elements = 0;
  for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling()) {
    switch (node.type()) {
      case pugi::node_element:
        ++elements;
        break;
      case pugi::node_declaration:
      case pugi::node_doctype:
        VerifierDeclaration(node, doc);
        break;
      case pugi::node_pcdata:
      case pugi::node_cdata:
        Refuser("du texte se trouve hors de l'élément racine.");
      default:
        break;
    }
  }
  if (elements != 1) Refuser("le document doit avoir un seul élément racine.");

  std::vector<pugi::xml_node> cdata_sections;
  pugi::xml_node node = doc.first_child();
  while (node) {
    switch (node.type()) {
      case pugi::node_element:
        VerifierElement(node);
        break;
      case pugi::node_pi:
        VerifierInstruction(node);
        NettoyerValeur(node);
        break;
      case pugi::node_pcdata:
      case pugi::node_comment:
        NettoyerValeur(node);
        break;
      case pugi::node_declaration:
      case pugi::node_doctype:
        VerifierDeclaration(node, doc);
        break;
      case pugi::node_cdata:
        NettoyerValeur(node);
        if (ContientCaracterePour(node.value(), &CdataAConvertir)) cdata_sections.push_back(node);
        break;
      default:
        break;
    }
    node = xml::NextNode(node, doc);
  }

  for (pugi::xml_node cdata : cdata_sections) {
    pugi::xml_node parent = cdata.parent();
    parent.insert_child_before(pugi::node_pcdata, cdata).set_value(cdata.value());
    parent.remove_child(cdata);
  }
}

void AjouterEnfant(pugi::xml_node parent, const char* name, const std::string& text) {
  // Always a text child, even an empty one: the element is written with its
  // start and end tags.
  parent.append_child(name).text().set(SansHorsXml(text).c_str());
}

// The top-level element Configurateur; a processing instruction of that name
// is not it.
pugi::xml_node ElementConfigurateur(const pugi::xml_document& doc) {
  for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling()) {
    if (node.type() == pugi::node_element && std::string_view(node.name()) == "Configurateur") {
      return node;
    }
  }
  return {};
}

struct StringWriter : pugi::xml_writer {
  std::string text;
  void write(const void* data, std::size_t size) override {
    text.append(static_cast<const char*>(data), size);
  }
};

}  // namespace

std::optional<ResultDocument> VerifierResultat(quote::RetrievalDocument document) {
  if (!document.unreadable_whole.empty()) throw xml::XmlError(document.unreadable_whole);
  pugi::xml_document& doc = *document.tree;
  if (!ElementConfigurateur(doc)) return std::nullopt;
  // Before any picture is downloaded: a document that cannot be written
  // stores nothing.
  PreparerDocument(doc);
  DeclarerEncodage(doc);
  return ResultDocument(std::move(document.tree));
}

std::string ConstruireResultat(ResultDocument document, const quote::Devis& devis,
                               const std::string& jeton, const Telecharger& telecharger) {
  pugi::xml_document& doc = *document.tree_;
  pugi::xml_node configurateur = ElementConfigurateur(doc);
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
    AjouterEnfant(menuiserie, "Image", text::PathAsText(image));
  }

  StringWriter writer;
  doc.save(writer, "", pugi::format_raw, pugi::encoding_utf8);
  return std::move(writer.text);
}

std::string OctetsFichierEchange(const std::string& document_utf8) {
  // Every character ISO-8859-1 holds is one byte; any other becomes a
  // character reference. Characters XML 1.0 cannot carry are left out, and a
  // CR is written as a reference so that readers do not turn it into LF; so
  // are the C1 controls, which XML 1.1 documents may only hold that way.
  // Names were checked before: only texts, attribute values, comments and
  // processing instructions can hold what is changed here.
  std::string out;
  out.reserve(document_utf8.size() + 2);
  std::size_t pos = 0;
  while (pos < document_utf8.size()) {
    const char32_t c = text::NextCharacter(document_utf8, pos);
    if (HorsXml(c)) continue;
    if (c <= 0xFF && c != '\r' && !(c >= 0x7F && c <= 0x9F)) {
      out += static_cast<char>(c);
    } else {
      out += "&#" + std::to_string(static_cast<std::uint32_t>(c)) + ';';
    }
  }
  return out + "\r\n";
}

}  // namespace lumivane::result
