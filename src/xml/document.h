#pragma once

#include <pugixml.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

#include "text/user_texts.h"

namespace lumivane::xml {

// A document that cannot be read: not well-formed, or in an encoding the
// module does not read. The text says which document and why, in French.
class XmlError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A received document's bytes as UTF-8 text. The encoding is, in this order:
// the byte-order mark or the encoding the XML declaration names; else the
// charset of the HTTP Content-Type; else UTF-8 when the bytes are valid UTF-8;
// else Windows-1252. UTF-8, UTF-16 (with a byte-order mark), US-ASCII,
// ISO-8859-1, ISO-8859-15 and Windows-1252 are read; any other encoding, or
// bytes that do not fit the one named, throw XmlError with the text `what`,
// the reason as its value.
std::string DecodeDocument(std::string_view bytes, std::string_view content_type,
                           text::UserText what);

// The encoding named by the declaration at the start of `bytes` (as written,
// without quotes); empty when there is none.
std::string DeclaredEncoding(std::string_view bytes);

// The charset parameter of a Content-Type header value; empty when absent.
std::string ContentTypeCharset(std::string_view content_type);

// Parses UTF-8 text (its declaration is not consulted). Throws XmlError
// with the text `what`, pugixml's description in French as its value, when it
// is not well-formed.
void ParseText(pugi::xml_document& doc, const std::string& utf8, unsigned options,
               text::UserText what);

// Options for reading values: every text piece kept, blanks included, so that
// an element's text is exactly what was sent.
inline constexpr unsigned kReadOptions = pugi::parse_default | pugi::parse_ws_pcdata;

// The node after `node` in document order, below `root` (depth first,
// without recursion: a document may nest as deep as it likes); an empty
// handle after the last one.
pugi::xml_node NextNode(pugi::xml_node node, const pugi::xml_node& root);

// An element's text: all of its direct text and CDATA pieces joined, in order;
// comments and processing instructions between them are skipped. Empty for an
// absent element.
std::string TextOf(const pugi::xml_node& element);

}  // namespace lumivane::xml
