#pragma once

#include <string>
#include <string_view>

namespace lumivane::platform {

bool IsValidUtf8(std::string_view bytes);
std::string Windows1252ToUtf8(std::string_view bytes);

// UTF-16 bytes (without byte-order mark) as UTF-8. A surrogate without its
// pair, and a last byte left over from an odd count, become U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool big_endian);

// UTF-8 text as ISO-8859-1 bytes; a character beyond U+00FF becomes the
// numeric character reference &#N; so that nothing is lost in XML text.
std::string Utf8ToLatin1WithReferences(std::string_view utf8);

// Percent-encoding of a query value (UTF-8 bytes, RFC 3986 unreserved kept).
std::string PercentEncode(std::string_view value);

}  // namespace lumivane::platform
