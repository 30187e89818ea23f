#include "quote/xml_text.h"

#include <algorithm>
#include <cctype>

#include "platform/encoding.h"

namespace lumivane::quote {

bool DeclareWindows1252(const std::string& text) {
  if (!text.starts_with("<?xml")) {
    return false;  // no declaration, or a byte-order mark: not an 8-bit code page
  }
  const std::size_t end = text.find("?>");
  if (end == std::string::npos) {
    return false;
  }
  std::string declaration = text.substr(0, end);
  std::transform(declaration.begin(), declaration.end(), declaration.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::size_t key = declaration.find("encoding");
  if (key == std::string::npos) {
    return false;
  }
  const std::size_t quote = declaration.find_first_of("\"'", key);
  if (quote == std::string::npos) {
    return false;
  }
  const std::size_t close = declaration.find(declaration[quote], quote + 1);
  const std::string name = declaration.substr(quote + 1, close - quote - 1);
  return name == "windows-1252" || name == "cp1252" || name == "x-cp1252";
}

pugi::xml_parse_result ChargerXml(pugi::xml_document& doc, const std::string& text,
                                  unsigned options) {
  if (DeclareWindows1252(text)) {
    const std::string utf8 = platform::Windows1252ToUtf8(text);
    return doc.load_buffer(utf8.data(), utf8.size(), options, pugi::encoding_utf8);
  }
  return doc.load_buffer(text.data(), text.size(), options);
}

}  // namespace lumivane::quote
