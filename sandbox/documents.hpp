// The documents the sandbox answers with, in their normal form and in the
// damaged shapes that a fault `kind` asks for.
#pragma once

#include <string>
#include <string_view>

#include "catalogue.hpp"

namespace lumivane::sandbox {

// Appended to every value by the "odd" kind: accents, the euro sign, the XML
// special characters, both quotes and a CJK character.
inline constexpr std::string_view odd_characters = "é à ç € & < > \" ' 漢";
std::string odd_value(std::string_view value);

// UTF-8 text to ISO-8859-1 bytes; characters beyond U+00FF become character
// references, which keeps a serialised XML document well-formed.
std::string utf8_to_latin1(std::string_view text);

// Cuts a document before its last tag, as a connection lost mid-answer would.
std::string truncated(std::string_view text);

// Token service answer. Kinds: "", "missing", "attributes", "odd", "malformed".
std::string gateway_answer(const std::string& token, const std::string& base,
                           std::string_view kind);
std::string gateway_refusal();

// Retrieval document, in ISO-8859-1. Kinds: "", "missing", "attributes", "odd", "malformed".
std::string retrieval_document(const std::string& quote_id, std::string_view kind);

// Quote XML. Kinds: "", "no-header", "no-lines", "attributes", "odd", "malformed-xml".
std::string quote_xml(const Quote& quote, std::string_view kind);
// JSON answer of the quote service around `xml`.
// Kinds: "", "missing", "not-object", "not-string", "malformed".
std::string quote_answer(const std::string& xml, std::string_view kind);

}  // namespace lumivane::sandbox
