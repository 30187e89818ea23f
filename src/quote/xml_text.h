#pragma once

#include <pugixml.hpp>
#include <string>

namespace lumivane::quote {

// Parses a document received from a server. pugixml reads UTF-8, UTF-16/32
// and ISO-8859-1 from the byte-order mark or the declaration, but not
// windows-1252, the code page Windows servers in France declare most: such a
// document is decoded here first, so that its accented letters survive.
pugi::xml_parse_result ChargerXml(pugi::xml_document& doc, const std::string& text,
                                  unsigned options);

// True when the XML declaration at the start of `text` names windows-1252.
bool DeclareWindows1252(const std::string& text);

}  // namespace lumivane::quote
