#include "text/encoding.h"

#include <string_view>

namespace lumivane::text {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendEncoded(std::string& out, unsigned char byte) {
  out += '%';
  out += kHex[byte >> 4];
  out += kHex[byte & 0x0F];
}

}  // namespace

// The same on every system (Windows has no encoder that keeps exactly the
// RFC 3986 unreserved characters): letters, digits and "-._~" stay, every
// other byte becomes %XX in upper case.
std::string PercentEncode(std::string_view value) {
  std::string encoded;
  encoded.reserve(value.size() * 3);
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                            byte == '_' || byte == '~';
    if (unreserved) {
      encoded += c;
    } else {
      AppendEncoded(encoded, byte);
    }
  }
  return encoded;
}

std::string AddressForBrowser(std::string_view url) {
  static constexpr std::string_view kNeverRaw = "\"<>\\^`{|}";
  std::string address;
  address.reserve(url.size());
  for (const char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || kNeverRaw.find(c) != std::string_view::npos) {
      AppendEncoded(address, byte);
    } else {
      address += c;
    }
  }
  return address;
}

}  // namespace lumivane::text
