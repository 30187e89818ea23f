#include "oracle.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace lumivane::fuzz {

namespace {

// Length of the well-formed sequence starting at `pos`, 0 when there is none,
// with its code point in `code`.
std::size_t SequenceAt(std::string_view bytes, std::size_t pos, char32_t& code) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[pos + i]); };
  const unsigned char lead = at(0);
  std::size_t length = 0;
  unsigned char low = 0x80;  // allowed range of the second byte
  unsigned char high = 0xBF;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (bytes.size() - pos < length) return 0;
  if (at(1) < low || at(1) > high) return 0;
  code = (code << 6) | (at(1) & 0x3F);
  for (std::size_t i = 2; i < length; ++i) {
    if ((at(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (at(i) & 0x3F);
  }
  return length;
}

struct ThreadWork {
  const std::function<void()>* body;
  std::exception_ptr error;
};

void* RunThreadWork(void* argument) {
  auto* work = static_cast<ThreadWork*>(argument);
  try {
    (*work->body)();
  } catch (...) {
    work->error = std::current_exception();
  }
  return nullptr;
}

}  // namespace

bool IsUtf8(std::string_view bytes) {
  char32_t code = 0;
  for (std::size_t pos = 0; pos < bytes.size();) {
    const std::size_t length = SequenceAt(bytes, pos, code);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

std::u32string DecodeUtf8Lenient(std::string_view bytes) {
  std::u32string text;
  text.reserve(bytes.size());
  char32_t code = 0;
  for (std::size_t pos = 0; pos < bytes.size();) {
    const std::size_t length = SequenceAt(bytes, pos, code);
    text += length == 0 ? U'\uFFFD' : code;
    pos += length == 0 ? 1 : length;
  }
  return text;
}

std::string EncodeUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char32_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::u32string text;
  for (const char c : bytes) text += static_cast<char32_t>(static_cast<unsigned char>(c));
  return EncodeUtf8(text);
}

bool IsXmlChar(char32_t c) {
  // Char ::= #x9 | #xA | #xD | [#x20-#xD7FF] | [#xE000-#xFFFD] | [#x10000-#x10FFFF]
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

std::string XmlTextOf(std::string_view bytes) {
  std::u32string kept;
  for (const char32_t c : DecodeUtf8Lenient(bytes)) {
    if (IsXmlChar(c)) kept += c;
  }
  return EncodeUtf8(kept);
}

std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "\n*** oracle failed: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

void RunWithStack(std::size_t bytes, const std::function<void()>& body) {
  pthread_attr_t attributes;
  Check(pthread_attr_init(&attributes) == 0, "pthread_attr_init");
  Check(pthread_attr_setstacksize(&attributes, bytes) == 0, "pthread_attr_setstacksize");
  ThreadWork work{&body, nullptr};
  pthread_t thread;
  const int created = pthread_create(&thread, &attributes, &RunThreadWork, &work);
  pthread_attr_destroy(&attributes);
  Check(created == 0, std::string("pthread_create: ") + std::strerror(created));
  Check(pthread_join(thread, nullptr) == 0, "pthread_join");
  if (work.error) std::rethrow_exception(work.error);
}

}  // namespace lumivane::fuzz
