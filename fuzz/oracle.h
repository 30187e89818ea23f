#pragma once

// What the fuzz targets check the module's answers against. Written apart
// from the module's own text handling, so that a fault there cannot hide
// itself here.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace lumivane::fuzz {

// Well-formed UTF-8: no overlong form, no surrogate, nothing beyond U+10FFFF.
bool IsUtf8(std::string_view bytes);

// Reads bytes as UTF-8; every byte that does not start a well-formed
// sequence stands for one U+FFFD and reading goes on at the next byte.
std::u32string DecodeUtf8Lenient(std::string_view bytes);

std::string EncodeUtf8(std::u32string_view text);

// Each byte as the ISO-8859-1 character of that value, in UTF-8.
std::string Latin1ToUtf8(std::string_view bytes);

// True for the characters an XML 1.0 document can carry.
bool IsXmlChar(char32_t c);

// What an XML 1.0 document can hold of `bytes`: invalid UTF-8 read as
// U+FFFD, then every character XML 1.0 cannot carry left out. In UTF-8.
std::string XmlTextOf(std::string_view bytes);

// `text` with controls and bytes beyond ASCII shown as \xNN, for reports.
std::string Printable(std::string_view text);

// Prints the failed property and aborts: libFuzzer keeps the input.
[[noreturn]] void Fail(const std::string& what);

inline void Check(bool condition, const std::string& what) {
  if (!condition) Fail(what);
}

// Runs `body` on a thread whose stack is `bytes` long. The module must read
// and build documents of any depth within such a budget: work that recurses
// over the depth overflows it on deep documents, which ASan reports.
void RunWithStack(std::size_t bytes, const std::function<void()>& body);

// The budget every target uses: twice what the flat work takes under ASan
// (the seeds run in 64 KiB), while a recursion over the 2000 levels of the
// deep seeds overflows it as soon as a frame is over 64 bytes (ASan's are
// several hundred).
inline constexpr std::size_t kStackBudget = 128 * 1024;

}  // namespace lumivane::fuzz
