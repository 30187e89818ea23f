#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

#include "base/limits.h"
#include "text/encoding.h"

namespace lumivane::text {
namespace {

constexpr std::string_view kMask = "***";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes an HTML character reference at the start of `text` stands for,
// and its length; nothing when it is none of &amp; &lt; &gt; &quot; &apos;
// &#N; &#xH;.
std::optional<std::pair<std::string, std::size_t>> Reference(std::string_view text) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  for (const auto& [name, character] : kNamed) {
    if (text.starts_with(name)) return std::pair{std::string(1, character), name.size()};
  }
  if (!text.starts_with("&#")) return std::nullopt;
  const bool hex = text.size() > 2 && (text[2] == 'x' || text[2] == 'X');
  char32_t code = 0;
  std::size_t i = hex ? 3 : 2;
  const std::size_t first = i;
  for (; i < text.size() && i < first + 8; ++i) {
    const int digit =
        hex ? HexValue(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0) break;
    code = code * (hex ? 16 : 10) + static_cast<char32_t>(digit);
  }
  if (i == first || i >= text.size() || text[i] != ';' || code > 0x10FFFF) return std::nullopt;
  std::string bytes;
  AppendUtf8(bytes, code);
  return std::pair{bytes, i + 1};
}

// How many bytes of `text` from its start read as `secret`, each of its bytes
// written as itself, as %XX, as a character reference, or a blank as "+";
// 0 when they do not.
std::size_t EncodedLength(std::string_view text, std::string_view secret) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (j < secret.size()) {
    if (i >= text.size()) return 0;
    const char wanted = secret[j];
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0 &&
        static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])) == wanted) {
      i += 3;
      ++j;
    } else if (text[i] == '+' && wanted == ' ') {
      ++i;
      ++j;
    } else if (const auto reference = text[i] == '&' ? Reference(text.substr(i)) : std::nullopt;
               reference && secret.substr(j).starts_with(reference->first)) {
      i += reference->second;
      j += reference->first.size();
    } else if (text[i] == wanted) {
      ++i;
      ++j;
    } else {
      return 0;
    }
  }
  return i;
}

}  // namespace

std::string MaskSecrets(std::string_view text, const std::vector<std::string>& secrets) {
  std::string masked;
  masked.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t longest = 0;
    for (const std::string& secret : secrets) {
      if (secret.size() < base::kMinMaskedSecretBytes) continue;
      const std::string_view rest = text.substr(i);
      const std::size_t length =
          rest.starts_with(secret) ? secret.size() : EncodedLength(rest, secret);
      longest = std::max(longest, length);
    }
    if (longest > 0) {
      masked += kMask;
      i += longest;
    } else {
      masked += text[i++];
    }
  }
  return masked;
}

}  // namespace lumivane::text
