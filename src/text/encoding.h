#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivane::text {

bool IsValidUtf8(std::string_view bytes);
std::string Windows1252ToUtf8(std::string_view bytes);
std::string Latin1ToUtf8(std::string_view bytes);
// ISO-8859-15: ISO-8859-1 with the euro sign, Š, š, Ž, ž, Œ, œ and Ÿ.
std::string Latin9ToUtf8(std::string_view bytes);

// A path as text: the same when it is UTF-8; otherwise each byte read as the
// ISO-8859-1 character of that value, so that a file name from a system not
// in UTF-8 is written back in the exchange file's code page byte for byte.
std::string PathAsText(std::string_view path);

// Decodes the UTF-8 character at `pos` and moves past it; an invalid
// sequence gives U+FFFD and moves past its first byte.
char32_t NextCharacter(std::string_view utf8, std::size_t& pos);
void AppendUtf8(std::string& out, char32_t code);

// The longest start of `text` of at most `max_bytes` bytes that does not
// end inside a UTF-8 character.
std::string_view Utf8Prefix(std::string_view text, std::size_t max_bytes);

// The Unicode byte-order mark that starts `bytes`, if any, and its length.
enum class ByteOrderMark { kNone, kUtf8, kUtf16LittleEndian, kUtf16BigEndian };
ByteOrderMark ByteOrderMarkOf(std::string_view bytes);
std::size_t ByteOrderMarkSize(ByteOrderMark mark);

// UTF-16 bytes (without byte-order mark) as UTF-8. A surrogate without its
// pair, and a last byte left over from an odd count, become U+FFFD; `whole`,
// when given, tells whether none did.
std::string Utf16ToUtf8(std::string_view bytes, bool big_endian, bool* whole = nullptr);

// Percent-encoding of a query value (UTF-8 bytes, RFC 3986 unreserved kept).
std::string PercentEncode(std::string_view value);

// An address as it is handed to the browser: every byte an address may not
// hold raw (controls, blanks, DEL, and " < > \ ^ ` { | }) percent-encoded,
// so that the browser gets one address, whole; everything else, "%" and
// letters beyond ASCII included, stays as it was.
std::string AddressForBrowser(std::string_view url);

// `text` with each of `secrets` replaced by "***", wherever it is written
// plainly, percent-encoded (in either case, "+" for a blank) or with HTML
// character references (&amp; &#233; &#xE9;), or in a mix of these. Secrets
// shorter than base::kMinMaskedSecretBytes are left alone.
std::string MaskSecrets(std::string_view text, const std::vector<std::string>& secrets);

}  // namespace lumivane::text
