#include "text/encoding.h"

#include <array>
#include <cstdint>
#include <optional>

namespace lumivane::text {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes one UTF-8 sequence at `pos` and moves `pos` past it. Strict:
// overlong forms, surrogates and values beyond U+10FFFF are refused. On a
// refused sequence `pos` moves past its first byte only.
std::optional<char32_t> DecodeUtf8(std::string_view bytes, std::size_t& pos) {
  const auto byte_at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte_at(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  std::size_t length = 0;
  char32_t code = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    minimum = 0x10000;
  } else {
    ++pos;
    return std::nullopt;
  }
  if (bytes.size() - pos < length) {
    ++pos;
    return std::nullopt;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = byte_at(pos + i);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return std::nullopt;
    }
    code = (code << 6) | (next & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    ++pos;
    return std::nullopt;
  }
  pos += length;
  return code;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

namespace {

// Windows-1252 bytes 0x80 to 0x9F. The five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same
// value, as Windows' own conversion does.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    if (!DecodeUtf8(bytes, pos)) return false;
  }
  return true;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 && byte <= 0x9F) {
      AppendUtf8(out, kWindows1252High[byte - 0x80]);
    } else {
      AppendUtf8(out, byte);
    }
  }
  return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const char c : bytes) AppendUtf8(out, static_cast<unsigned char>(c));
  return out;
}

std::string Latin9ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const char c : bytes) {
    char32_t code = static_cast<unsigned char>(c);
    switch (code) {
      case 0xA4:
        code = 0x20AC;
        break;
      case 0xA6:
        code = 0x0160;
        break;
      case 0xA8:
        code = 0x0161;
        break;
      case 0xB4:
        code = 0x017D;
        break;
      case 0xB8:
        code = 0x017E;
        break;
      case 0xBC:
        code = 0x0152;
        break;
      case 0xBD:
        code = 0x0153;
        break;
      case 0xBE:
        code = 0x0178;
        break;
      default:
        break;
    }
    AppendUtf8(out, code);
  }
  return out;
}

std::string PathAsText(std::string_view path) {
  return IsValidUtf8(path) ? std::string(path) : Latin1ToUtf8(path);
}

char32_t NextCharacter(std::string_view utf8, std::size_t& pos) {
  return DecodeUtf8(utf8, pos).value_or(kReplacementCharacter);
}

std::string Utf16ToUtf8(std::string_view bytes, bool big_endian, bool* whole) {
  if (whole != nullptr) *whole = true;
  const auto unit_at = [&](std::size_t i) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<char16_t>(big_endian ? (first << 8) | second : (second << 8) | first);
  };
  const std::size_t units = bytes.size() / 2;
  std::string out;
  out.reserve(units + units / 2);
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t unit = unit_at(2 * i);
    if (unit < 0xD800 || unit > 0xDFFF) {
      AppendUtf8(out, unit);
      continue;
    }
    const char16_t next = i + 1 < units ? unit_at(2 * (i + 1)) : char16_t{0};
    if (unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (next - 0xDC00));
      ++i;
    } else {
      AppendUtf8(out, kReplacementCharacter);
      if (whole != nullptr) *whole = false;
    }
  }
  if (bytes.size() % 2 != 0) {
    AppendUtf8(out, kReplacementCharacter);
    if (whole != nullptr) *whole = false;
  }
  return out;
}

std::string_view Utf8Prefix(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  std::size_t end = max_bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

ByteOrderMark ByteOrderMarkOf(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return ByteOrderMark::kUtf8;
  if (bytes.starts_with("\xFF\xFE")) return ByteOrderMark::kUtf16LittleEndian;
  if (bytes.starts_with("\xFE\xFF")) return ByteOrderMark::kUtf16BigEndian;
  return ByteOrderMark::kNone;
}

std::size_t ByteOrderMarkSize(ByteOrderMark mark) {
  switch (mark) {
    case ByteOrderMark::kUtf8:
      return 3;
    case ByteOrderMark::kUtf16LittleEndian:
    case ByteOrderMark::kUtf16BigEndian:
      return 2;
    case ByteOrderMark::kNone:
      break;
  }
  return 0;
}

}  // namespace lumivane::text
