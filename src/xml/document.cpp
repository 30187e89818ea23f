#include "xml/document.h"

#include <algorithm>
#include <optional>

#include "text/compare.h"
#include "text/display.h"
#include "text/encoding.h"

namespace lumivane::xml {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

enum class Encoding { Utf8, Utf16, Ascii, Latin1, Latin9, Windows1252, Unknown };

// Names and usual aliases, letter case ignored.
Encoding Recognise(std::string_view name) {
  const std::string n = text::LowerAscii(name);
  if (n == "utf-8" || n == "utf8") return Encoding::Utf8;
  if (n == "utf-16" || n == "utf16" || n == "utf-16le" || n == "utf-16be" || n == "ucs-2")
    return Encoding::Utf16;
  if (n == "us-ascii" || n == "ascii" || n == "ansi_x3.4-1968" || n == "iso646-us" || n == "us" ||
      n == "iso-ir-6" || n == "cp367" || n == "ibm367")
    return Encoding::Ascii;
  if (n == "iso-8859-1" || n == "iso8859-1" || n == "iso_8859-1" || n == "iso_8859-1:1987" ||
      n == "latin1" || n == "latin-1" || n == "l1" || n == "cp819" || n == "ibm819" ||
      n == "iso-ir-100" || n == "csisolatin1" || n == "8859-1")
    return Encoding::Latin1;
  if (n == "iso-8859-15" || n == "iso8859-15" || n == "iso_8859-15" || n == "latin9" ||
      n == "latin-9" || n == "l9" || n == "csisolatin9" || n == "8859-15")
    return Encoding::Latin9;
  if (n == "windows-1252" || n == "cp1252" || n == "x-cp1252" || n == "cp-1252" ||
      n == "win-1252" || n == "ms-ansi")
    return Encoding::Windows1252;
  return Encoding::Unknown;
}

// The quoted value of a pseudo-attribute `key` between `begin` and `end`.
std::optional<std::string> PseudoAttribute(std::string_view text, std::string_view key) {
  std::size_t at = 0;
  while ((at = text.find(key, at)) != std::string_view::npos) {
    std::size_t p = at + key.size();
    // A whole word only: "encoding" not inside another name.
    const bool word_start = at == 0 || IsBlank(text[at - 1]) || text[at - 1] == ';';
    while (p < text.size() && IsBlank(text[p])) ++p;
    if (!word_start || p >= text.size() || text[p] != '=') {
      at += key.size();
      continue;
    }
    ++p;
    while (p < text.size() && IsBlank(text[p])) ++p;
    if (p >= text.size()) return std::nullopt;
    const char quote = text[p];
    if (quote != '"' && quote != '\'') {
      // Content-Type parameters may be unquoted tokens.
      std::size_t end = p;
      while (end < text.size() && !IsBlank(text[end]) && text[end] != ';') ++end;
      return std::string(text.substr(p, end - p));
    }
    const std::size_t close = text.find(quote, p + 1);
    if (close == std::string_view::npos) return std::nullopt;
    return std::string(text.substr(p + 1, close - p - 1));
  }
  return std::nullopt;
}

[[noreturn]] void Refuse(text::UserText what, const std::string& detail) {
  throw XmlError(text::UserMessage(what, {detail}));
}

std::string Decode(std::string_view bytes, Encoding encoding, const std::string& name,
                   text::UserText what) {
  switch (encoding) {
    case Encoding::Utf8:
      if (!text::IsValidUtf8(bytes)) {
        Refuse(what, "le texte annoncé en " + name +
                         " n'est pas de l'UTF-8 valide ; il n'a pas été lu pour ne pas altérer "
                         "ses caractères.");
      }
      return std::string(bytes);
    case Encoding::Ascii:
      if (std::any_of(bytes.begin(), bytes.end(),
                      [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        Refuse(what, "le texte annoncé en " + name +
                         " contient des caractères hors ASCII ; il n'a pas été lu pour ne pas "
                         "altérer ses caractères.");
      }
      return std::string(bytes);
    case Encoding::Latin1:
      return text::Latin1ToUtf8(bytes);
    case Encoding::Latin9:
      return text::Latin9ToUtf8(bytes);
    case Encoding::Windows1252:
      return text::Windows1252ToUtf8(bytes);
    case Encoding::Utf16:
      Refuse(what, "l'encodage " + name + " est annoncé sans marque d'ordre des octets.");
    case Encoding::Unknown:
      break;
  }
  Refuse(what, "l'encodage « " + name +
                   " » n'est pas pris en charge (UTF-8, UTF-16, US-ASCII, ISO-8859-1, "
                   "ISO-8859-15 et Windows-1252 sont lus).");
}

}  // namespace

std::string DeclaredEncoding(std::string_view bytes) {
  if (text::ByteOrderMarkOf(bytes) == text::ByteOrderMark::kUtf8) {
    bytes.remove_prefix(text::ByteOrderMarkSize(text::ByteOrderMark::kUtf8));
  }
  if (!bytes.starts_with("<?xml") || bytes.size() < 6 || !IsBlank(bytes[5])) return {};
  const std::size_t end = bytes.find("?>");
  if (end == std::string_view::npos) return {};
  return PseudoAttribute(bytes.substr(5, end - 5), "encoding").value_or(std::string());
}

std::string ContentTypeCharset(std::string_view content_type) {
  const std::string lower = text::LowerAscii(content_type);
  const std::size_t params = lower.find(';');
  if (params == std::string::npos) return {};
  // Positions are the same in the lowered copy: the value keeps its case.
  const std::optional<std::string> value =
      PseudoAttribute(std::string_view(lower).substr(params), "charset");
  if (!value) return {};
  const std::size_t at = lower.find(*value, params);
  return std::string(content_type.substr(at, value->size()));
}

std::string DecodeDocument(std::string_view bytes, std::string_view content_type,
                           text::UserText what) {
  // A byte-order mark says all.
  const text::ByteOrderMark mark = text::ByteOrderMarkOf(bytes);
  if (mark == text::ByteOrderMark::kUtf16LittleEndian ||
      mark == text::ByteOrderMark::kUtf16BigEndian) {
    const bool big_endian = mark == text::ByteOrderMark::kUtf16BigEndian;
    bool whole = false;
    std::string text =
        text::Utf16ToUtf8(bytes.substr(text::ByteOrderMarkSize(mark)), big_endian, &whole);
    if (!whole) {
      Refuse(what,
             "le texte annoncé en UTF-16 n'est pas de l'UTF-16 valide ; il n'a pas été lu "
             "pour ne pas altérer ses caractères.");
    }
    return text;
  }
  if (mark == text::ByteOrderMark::kUtf8) {
    return Decode(bytes.substr(text::ByteOrderMarkSize(mark)), Encoding::Utf8, "UTF-8", what);
  }
  if (const std::string declared = DeclaredEncoding(bytes); !declared.empty()) {
    return Decode(bytes, Recognise(declared), text::ServerWords(declared), what);
  }
  if (const std::string charset = ContentTypeCharset(content_type); !charset.empty()) {
    return Decode(bytes, Recognise(charset), text::ServerWords(charset), what);
  }
  if (text::IsValidUtf8(bytes)) return std::string(bytes);
  return text::Windows1252ToUtf8(bytes);
}

namespace {

// "&#0;", "&#x00;"...: a reference to no character at all. The parser would
// end the text there, cutting it without a word.
bool HasReferenceToNul(std::string_view text) {
  std::size_t at = 0;
  while ((at = text.find("&#", at)) != std::string_view::npos) {
    std::size_t p = at + 2;
    const bool hex = p < text.size() && (text[p] == 'x' || text[p] == 'X');
    if (hex) ++p;
    const std::size_t digits = p;
    while (p < text.size() && text[p] == '0') ++p;
    if (p > digits && p < text.size() && text[p] == ';') return true;
    at += 2;
  }
  return false;
}

// References to what is no character (a surrogate, beyond U+10FFFF) leave
// bytes that are not UTF-8 in the values: a strict reader refuses such a
// document, and so does the module rather than pass them on.
bool ValuesAreUtf8(const pugi::xml_document& doc) {
  for (pugi::xml_node node = doc.first_child(); node; node = NextNode(node, doc)) {
    if (!text::IsValidUtf8(node.value())) return false;
    for (const pugi::xml_attribute& attribute : node.attributes()) {
      if (!text::IsValidUtf8(attribute.value())) return false;
    }
  }
  return true;
}

// What the XML parser refused, in the user's words.
const char* ParseFailure(pugi::xml_parse_status status) {
  switch (status) {
    case pugi::status_out_of_memory:
      return "mémoire insuffisante pour lire le document";
    case pugi::status_unrecognized_tag:
      return "balise illisible";
    case pugi::status_bad_pi:
      return "instruction de traitement (<?…?>) mal formée";
    case pugi::status_bad_comment:
      return "commentaire mal formé";
    case pugi::status_bad_cdata:
      return "section CDATA mal formée";
    case pugi::status_bad_doctype:
      return "déclaration de type de document mal formée";
    case pugi::status_bad_pcdata:
      return "texte mal formé";
    case pugi::status_bad_start_element:
      return "balise ouvrante mal formée";
    case pugi::status_bad_attribute:
      return "attribut mal formé";
    case pugi::status_bad_end_element:
      return "balise fermante mal formée";
    case pugi::status_end_element_mismatch:
      return "balise fermante qui ne correspond pas à la balise ouverte";
    case pugi::status_no_document_element:
      return "aucun élément racine";
    default:
      return "document XML mal formé";
  }
}

}  // namespace

void ParseText(pugi::xml_document& doc, const std::string& utf8, unsigned options,
               text::UserText what) {
  const pugi::xml_parse_result parsed =
      doc.load_buffer(utf8.data(), utf8.size(), options, pugi::encoding_utf8);
  if (!parsed) {
    Refuse(what, std::string(ParseFailure(parsed.status)) + " (octet " +
                     std::to_string(parsed.offset) + ")");
  }
  if (HasReferenceToNul(utf8) || !ValuesAreUtf8(doc)) {
    Refuse(what, "une référence de caractère (&#…;) ne désigne aucun caractère.");
  }
}

pugi::xml_node NextNode(pugi::xml_node node, const pugi::xml_node& root) {
  if (node.first_child()) return node.first_child();
  while (node && node != root && !node.next_sibling()) node = node.parent();
  return node && node != root ? node.next_sibling() : pugi::xml_node();
}

std::string TextOf(const pugi::xml_node& element) {
  std::string text;
  for (const pugi::xml_node& child : element.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      text += child.value();
    }
  }
  return text;
}

}  // namespace lumivane::xml
